// The media loader over real containers and files in the test directory.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "image/image.h"
#include "kdbase/mem_collector.h"
#include "mediaman/cds/cds.h"
#include "mediaman/mediaman.h"
#include "primitives/material.h"
#include "primitives/model.h"
#include "tests/common/log_fixture.h"
#include "tests/mediaman/cds/chunk_bytes.h"
#include "tests/primitives/geometry_helpers.h"
#include "world/animation.h"
#include "world/level.h"

using namespace vantrel;

namespace {

using chunk_bytes::chunk;
using chunk_bytes::writer;

// A material of one texture shader, or of one colour shader for "".
material_t* new_material(const std::string& texture)
{
    material_t* m = KD_NEW material_t;
    tex_shader_t* t = texture.empty() ? nullptr : KD_NEW tex_shader_t;
    if (t)
        t->texture.set_name(texture.c_str());
    m->shaders.insert(t ? (shader_t*)t : KD_NEW color_shader_t);
    return m;
}

mesh_t* new_triangle()
{
    mesh_t* m = KD_NEW mesh_t;
    geometry_test::make_mesh(*m, {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}});
    return m;
}

model_t* new_model()
{
    model_t* m = KD_NEW model_t;
    m->set_name("ship");
    m->alloc_meshes(1);
    m->meshes[0] = new_triangle();
    return m;
}

void free_skin(material_t**& skin)
{
    delete_skin_mats(&skin);
    delete[] skin;
    skin = nullptr;
}

class mediaman_test : public vantrel_test::log_test {
protected:
    mediaman_t mm;
    cds mounted[2];

    // A texture, a skin using it, and a model naming the skin in a TEXT chunk.
    void SetUp() override
    {
        log_test::SetUp();
        image_t img;
        ASSERT_EQ(img.alloc_bits(2, 2, 0xFF0000, 0xFF00, 0xFF, 0), 0);
        ASSERT_EQ(image_write(&img, path("t.tga").c_str(), nullptr, nullptr), 0);
        writer().add("MATL", new_material(path("t.tga"))).create(path("skin.cds").c_str());
        writer().add("MODL", new_model()).text("skin.cds").create(path("ship.model").c_str());
    }
    void mount(int i, const std::string& name)
    {
        ASSERT_EQ(mounted[i].init(), 0);
        ASSERT_EQ(mounted[i].load(path(name).c_str()), 0);
        mounted[i].delete_type_objects();
        ASSERT_EQ(mm.mount(&mounted[i]), 0);
    }
};

TEST_F(mediaman_test, names_are_found_in_the_first_container_holding_them_then_on_disk)
{
    write_file("a.cds", chunk("FILE", "x.txt", "one"));
    write_file("b.cds", chunk("FILE", "x.txt", "two") + chunk("GROU", "tex", chunk("FILE", "x.txt", "three")));
    mount(0, "a.cds");
    mount(1, "b.cds");
    for (auto& k : {std::make_pair(std::string("/x.txt"), "one"), {"/tex/x.txt", "three"}, {path("a.cds"), "FILE"}}) {
        CFile f;
        ASSERT_EQ(mm.open_file(f, k.first.c_str()), 0) << k.first;
        char got[6] = {};
        f.Read(got, (int)strlen(k.second));
        EXPECT_STREQ(got, k.second);
    }
    CFile f;
    EXPECT_EQ(mm.open_file(f, "x.txt"), -1);
    EXPECT_TRUE(log_has("unable to find x.txt"));
}

TEST_F(mediaman_test, a_model_takes_its_skin_from_its_materials_or_a_named_file_and_a_failed_read_changes_nothing)
{
    model_t m;
    ASSERT_EQ(mm.read_model(path("ship.model").c_str(), &m, 0), 0);
    EXPECT_STREQ(m.name, "ship");
    ASSERT_EQ(m.nmeshes, 1);
    ASSERT_TRUE(m.skin && m.skin[0] && !m.skin[1]);
    EXPECT_EQ(static_cast<tex_shader_t*>(m.skin[0]->shaders.first->object)->texture.width, 2);
    EXPECT_EQ(mm.textures.count, 1);
    free_skin(m.skin);

    writer().add("MODL", new_model()).add("MATL", new_material("")).text("skin.cds").create(path("b.model").c_str());
    ASSERT_EQ(mm.read_model(path("b.model").c_str(), &m, MM_NO_SKIN | 8), 0);
    EXPECT_EQ(m.skin, nullptr);
    ASSERT_EQ(mm.read_model(path("b.model").c_str(), &m, 0), 0);
    EXPECT_TRUE(log_has("two skins specified. using first one."));
    EXPECT_EQ(m.skin[0]->shaders.count, 1);
    free_skin(m.skin);

    for (const char* name : {"ship.MODEL", "ship.cob", "ship"}) {
        EXPECT_EQ(mm.read_model(path(name).c_str(), &m, 0), -1);
        EXPECT_TRUE(log_has(name + std::string(": unsupported model format"))) << name;
    }

    // A failed read leaves the caller's objects and texture list as they were.
    writer().add("MATL", new_material(path("t.tga"))).add("MATL", new_material(path("missing.tga")))
        .create(path("skin.cds").c_str());
    const int listed = mm.textures.count;
    model_t mine;
    mine.set_name("mine");
    EXPECT_EQ(mm.read_model(path("ship.model").c_str(), &mine, 0), -1);
    EXPECT_STREQ(mine.name, "mine");
    EXPECT_EQ(mine.meshes, nullptr);
    EXPECT_EQ(mm.textures.count, listed);
    ASSERT_EQ(mm.read_model(path("ship.model").c_str(), &mine, MM_IGNORE_TEX_ERRORS), 0);
    EXPECT_EQ(mm.textures.count, listed + 1);
    free_skin(mine.skin);

    d_list anims(1);
    writer().add("ANIM", KD_NEW CSAnimation).add("ANIM", KD_NEW CSAnimation).create(path("walk.anim").c_str());
    ASSERT_EQ(mm.read_anim(path("walk.anim").c_str(), &anims, 0), 0);
    EXPECT_EQ(mm.read_anim(path("ship.model").c_str(), &anims, 0), -1);
    writer().text("x").create(path("none.anim").c_str());
    EXPECT_EQ(mm.read_anim(path("none.anim").c_str(), &anims, 0), -1);
    EXPECT_TRUE(log_has("no animations found"));
    EXPECT_EQ(anims.count, 2);
}

TEST_F(mediaman_test, truespace_scenes_load_from_disk_and_from_containers)
{
    if (vantrel_test::testdata_dir().empty())
        GTEST_SKIP() << "../shared/testdata is absent";
    std::filesystem::copy_file(vantrel_test::testdata_dir() + "/trueSpace/molecule.cob", path("m.scn"));
    write_file("m.cds", chunk("FILE", "m.scn", read_file("m.scn")));
    mount(0, "m.cds");
    for (const std::string& name : {path("m.scn"), std::string("/m.scn")}) {
        model_t m;
        ASSERT_EQ(mm.read_model(name.c_str(), &m, MM_NO_SKIN), 0) << name;
        EXPECT_GT(m.nmeshes + m.nchildren, 0) << name;
        EXPECT_EQ(m.skin, nullptr);
        d_list anims(1);
        ASSERT_EQ(mm.read_anim(name.c_str(), &anims, 0), 0) << name;
        EXPECT_EQ(anims.count, 1);
    }
    EXPECT_EQ(mm.textures.count, 0);
}

class level_test : public mediaman_test {
protected:
    solid_bsp_t built;
    level_t lv;
    void SetUp() override
    {
        mediaman_test::SetUp();
        ASSERT_EQ(built.build((char*)(vantrel_test::source_dir() + "/data/levels/two_rooms.txt").c_str()), 0);
        writer().add("MATL", new_material(path("t.tga"))).create(path("lib.cds").c_str());
        ASSERT_EQ(write_level(path("level.cds").c_str(), &built, "lib.cds"), 0);
    }
};

TEST_F(level_test, a_compiled_level_loads_an_incomplete_one_is_refused_and_failed_allocations_fail_cleanly)
{
    std::string out;
    if (vantrel_test::program_built("tools/vantrel-bspc")) {
        ASSERT_EQ(vantrel_test::run_program("tools/vantrel-bspc", "\"" + vantrel_test::source_dir() +
                                                "/data/levels/two_rooms.txt\" --cds \"" + path("level.cds") +
                                                "\" --matlib lib.cds", &out), 0) << out;
    }
    ASSERT_EQ(mm.read_level(path("level.cds").c_str(), &lv, 0), 0);
    ASSERT_EQ(lv.stats.nmeshes, built.stats.nmeshes);
    EXPECT_EQ(lv.meshes[lv.stats.nmeshes - 1]->npolys, built.meshes[built.stats.nmeshes - 1]->npolys);
    ASSERT_TRUE(lv.skin && lv.skin[0] && !lv.skin[1]);
    EXPECT_EQ(lv.stats.ni_nodes, built.stats.ni_nodes);  // the tree reads back whole in the chunk tests
    free_skin(lv.skin);

    // An incomplete level is refused and the level kept.
    level_t kept;
    writer w;  // the tree and its first mesh only: they stay the tree's
    get_chunk_io(w.types, "BSPT")->objects.delete_elements = 0;
    get_chunk_io(w.types, "MESH")->objects.delete_elements = 0;
    w.add("BSPT", &built).add("MESH", built.meshes[0]).text("lib.cds").create(path("short.cds").c_str());
    writer().add("MESH", new_triangle()).text("lib.cds").create(path("flat.cds").c_str());
    ASSERT_EQ(write_level(path("nolib.cds").c_str(), &built, "none.cds"), 0);
    for (auto& k : {std::make_pair("short.cds", "mesh number 1 of node"), {"flat.cds", "unable to find level"},
                    {"nolib.cds", "unable to find"}, {"ship.model", "unable to find level"}}) {
        EXPECT_EQ(mm.read_level(path(k.first).c_str(), &kept, 0), -1) << k.first;
        EXPECT_TRUE(log_has(k.second)) << k.second;
        EXPECT_EQ(kept.stats.ni_nodes + kept.stats.nmeshes, 0);
    }

    // Every failed allocation of the level and model loaders fails cleanly.
    for (int what = 0; what < 2; ++what) {
        for (int n = 0;; ++n) {
            level_t l;
            model_t m;
            int listed = mm.textures.count;
            clear_log();
            mc_fail_after(n);
            int r = what ? mm.read_model(path("ship.model").c_str(), &m, 0)
                         : mm.read_level(path("level.cds").c_str(), &l, 0);
            mc_fail_after(-1);
            free_skin(what ? m.skin : l.skin);
            if (!log_has("allocation failed")) {
                EXPECT_EQ(r, 0);
                EXPECT_GT(n, 20);
                break;
            }
            // A name that cannot be copied is not a failed load.
            if (r == 0)
                continue;
            EXPECT_EQ(l.stats.ni_nodes + m.nmeshes, 0) << "allocation " << n;
            EXPECT_EQ(mm.textures.count, listed) << "allocation " << n;
        }
    }
}

}  // namespace
