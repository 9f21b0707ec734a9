// The demo's creatures: the shipped trueSpace models converted by
// vantrel-ts2cds, dressed by the demo step, read back through the media loader.
#include <gtest/gtest.h>

#include <string>

#include "kdbase/mem_collector.h"
#include "tests/common/log_fixture.h"
#include "tools/demo_actors.h"

using namespace vantrel;

namespace {

std::string name_of(mesh_t* m)
{
    return m->name ? m->name : "";
}

class demo_media_test : public vantrel_test::log_test {
protected:
    // Converts the kind's shipped file into dir/<name>.model; its mesh names
    // in container order into names.
    void convert(const vantrel_demo::kind_t& k, std::vector<std::string>* names)
    {
        const std::string in = vantrel_test::source_dir() + "/data/models/" + k.source, out = path(k.name) + ".model";
        std::string said;
        ASSERT_EQ(vantrel_test::run_program("tools/vantrel-ts2cds", "\"" + in + "\" \"" + out + "\"", &said), 0) << said;
        cds c;
        ASSERT_EQ(c.init(), 0);
        ASSERT_EQ(c.load(out.c_str()), 0);
        c.delete_type_objects();
        for (d_node* d = get_chunk_io(c.types, "MODL")->objects.first; d; d = d->next)
            for (int i = 0; i < static_cast<model_t*>(d->object)->nmeshes; ++i)
                names->push_back(name_of(static_cast<model_t*>(d->object)->meshes[i]));
    }
};

TEST_F(demo_media_test, shipped_models_load_with_a_stack_per_mesh_and_a_material_per_number)
{
    if (!vantrel_test::program_built("tools/vantrel-ts2cds"))
        GTEST_SKIP() << "vantrel-ts2cds is not built";
    for (const vantrel_demo::kind_t* k : {&vantrel_demo::spider, &vantrel_demo::molecule}) {
        std::vector<std::string> names;
        convert(*k, &names);
        // Dressing its own output again changes nothing that matters.
        for (int pass = 0; pass < 2; ++pass)
            ASSERT_EQ(vantrel_demo::dress_model(dir, *k, 10), 0) << k->name;
        mediaman_t mm;
        model_t m;
        d_list anims(1);
        ASSERT_EQ(mm.read_model((path(k->name) + ".model").c_str(), &m, 0), 0);
        ASSERT_EQ(mm.read_anim((path(k->name) + ".anim").c_str(), &anims, 0), 0);
        ASSERT_EQ(m.nmeshes, (int)names.size());
        int nmats = 0, used = 0;
        while (m.skin && m.skin[nmats])
            ++nmats;
        for (int i = 0; i < m.nmeshes; ++i) {
            EXPECT_EQ(names[i], name_of(m.meshes[i])) << k->name;
            for (int p = 0; p < m.meshes[i]->npolys; ++p)
                used = std::max(used, m.meshes[i]->polys[p].mat + 1);
        }
        EXPECT_EQ(nmats, used) << k->name;
        float lo[4], hi[4];
        ASSERT_EQ(m.get_bbox(lo, hi), 0);
        EXPECT_NEAR(std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]}), k->size * 10, 1e-3);
        EXPECT_NEAR(hi[1] + lo[1], 0, 1e-3);
        ASSERT_EQ(anims.count, 2);
        const char* want[] = {"walk", "turn"};
        int a = 0;
        for (d_node* d = anims.first; d; d = d->next, ++a) {
            CSAnimation* anim = static_cast<CSAnimation*>(d->object);
            EXPECT_STREQ(anim->name, want[a]);
            EXPECT_EQ(anim->m_nStacks, m.nmeshes);
            EXPECT_EQ(anim->GetTotalDuration(), 600u);
        }
        // "turn" lifts the first mesh half way through and puts it back.
        CSAnimation* turn = static_cast<CSAnimation*>(anims.last->object);
        const float y = m.meshes[0]->matrix[13];
        ASSERT_EQ(turn->bind(&m), 0);
        EXPECT_EQ(turn->UpdateFrame(300), 0);
        EXPECT_GT(m.meshes[0]->matrix[13], y + 0.5f);
        EXPECT_EQ(turn->UpdateFrame(300), 0);
        EXPECT_NEAR(m.meshes[0]->matrix[13], y, 1e-3);
        delete_model_skins(&m);
    }
}

TEST_F(demo_media_test, a_missing_or_empty_container_or_no_memory_fails_cleanly)
{
    EXPECT_EQ(vantrel_demo::dress_model(dir, vantrel_demo::spider, 10), -1);
    EXPECT_TRUE(log_has("unable to open"));
    ASSERT_EQ(vantrel_demo::media_writer().add("MATL", vantrel_demo::colour_material(1, 1, 1)).write(path("spider.model")), 0);
    EXPECT_EQ(vantrel_demo::dress_model(dir, vantrel_demo::spider, 10), -1);
    EXPECT_TRUE(log_has("no mesh found"));
    if (!vantrel_test::program_built("tools/vantrel-ts2cds"))
        GTEST_SKIP() << "vantrel-ts2cds is not built";
    std::vector<std::string> names;
    convert(vantrel_demo::molecule, &names);
    const std::string converted = read_file("molecule.model");
    // Every 97th allocation fails in turn, each on the converted container:
    // a failure nothing needs (a stream buffer) still gives files that load.
    for (int n = 0;; n += 97) {
        write_file("molecule.model", converted);
        clear_log();
        mc_fail_after(n);
        const int rc = vantrel_demo::dress_model(dir, vantrel_demo::molecule, 10);
        mc_fail_after(-1);
        model_t m;
        EXPECT_TRUE(rc != 0 || mediaman_t().read_model(path("molecule.model").c_str(), &m, 0) == 0) << n;
        delete_model_skins(&m);
        if (!log_has("allocation failed")) {
            EXPECT_EQ(rc, 0);
            break;
        }
    }
}

}  // namespace
