#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kdbase/mem_collector.h"
#include "mediaman/cds/cds.h"
#include "primitives/material.h"
#include "primitives/model.h"
#include "tests/common/log_fixture.h"
#include "tests/mediaman/cds/chunk_bytes.h"
#include "tests/primitives/geometry_helpers.h"

using namespace vantrel;

namespace {

using namespace chunk_bytes;

// n floats counting from first.
std::string counting(int first, int n)
{
    return n ? floats({(float)first}) + counting(first + 1, n - 1) : "";
}

// The triangle (0,0,0) (1,0,0) (0,1,0), normals +z, texture = (x, y),
// material 5, matrix elements 1..16, and its payload as the format lays it out.
mesh_t* new_triangle()
{
    mesh_t* m = KD_NEW mesh_t;
    geometry_test::make_mesh(*m, {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}});
    m->set_name("tri");
    m->polys[0].mat = 5;
    for (int i = 0; i < 16; ++i)
        m->matrix[i] = (float)(i + 1);
    return m;
}

std::string triangle_payload()
{
    return counting(1, 16) + le32(3) + le32(3) + floats({0, 0, 0, 0, 0, 1, 0, 0}) +
           floats({1, 0, 0, 0, 0, 1, 1, 0}) + floats({0, 1, 0, 0, 0, 1, 0, 1}) + le32(1) + le32(5) +
           floats({0, 0, 1}) + le32(3) + le32(0) + le32(1) + le32(2);
}

// Material m (flags 1): a colour shader whose 21 floats count from 1 in file
// order, and a texture shader.
material_t* new_material(const char* tex_path)
{
    material_t* mat = KD_NEW material_t;
    mat->set_name("m");
    mat->flags = MAT_BLENDED;
    color_shader_t* c = KD_NEW color_shader_t;
    c->blend_src = 0x302;
    c->blend_dst = 0x303;
    float* fields[] = {c->color, c->ambient, c->diffuse, c->specular, &c->shininess, c->emission};
    for (int f = 0, v = 1; f < 6; ++f)
        for (int i = 0; i < (f == 4 ? 1 : 4); ++i)
            fields[f][i] = (float)v++;
    tex_shader_t* t = KD_NEW tex_shader_t;
    t->texture.set_name(tex_path);
    t->tex_param = 7;
    t->wrap_u = 0x2901;
    t->wrap_v = 0x812F;
    for (int i = 0; i < 16; ++i)
        t->tex_matrix[i] = (float)(30 + i);
    mat->shaders.insert(c);
    mat->shaders.insert(t);
    return mat;
}

std::string material_chunk(const std::string& id)
{
    std::string colour = le32(0x302) + le32(0x303) + le32(1) + counting(1, 21);
    std::string tex = le32(1) + le32(0) + le32(2) + "a.tga" + '\0' + le32(7) + le32(0x2901) + le32(0x812F) +
                      counting(30, 16);
    return chunk("MATL", id, le32(1) + le32(2) + chunk("SHAD", "", colour) + chunk("SHAD", "", tex));
}

// The container of the tests in writing order: group g holding the triangle
// mesh, a TEXT, a MODL holding the triangle, the material.
std::string container(const std::string& material_id = "m")
{
    std::string mesh = chunk("MESH", "tri", triangle_payload());
    return chunk("GROU", "g", mesh) + chunk("TEXT", "t", "abc") +
           chunk("MODL", "s", counting(1, 16) + le32(1) + mesh) + material_chunk(material_id);
}

std::string patched(std::string bytes, size_t at, const std::string& with)
{
    return bytes.replace(at, with.size(), with);
}

using geometry_chunks_test = chunk_types_test;

TEST_F(geometry_chunks_test, bad_objects_are_refused_and_good_ones_write_as_the_format_lays_them_out_and_read_back)
{
    // Bad counts, indices and sub-chunks are refused.
    const std::string mesh = chunk("MESH", "tri", triangle_payload()), mat = material_chunk("m");
    const size_t m = 12, shad1 = 10 + 8, shad2 = shad1 + 9 + 96;  // payload offsets
    const struct { std::string bytes; const char* message; } cases[] = {
        {patched(mesh, m + 68, le32(0)), "invalid mesh counts (nverts=3 vasize=0)"},
        {patched(mesh, m + 64, le32(1 << 28)), "vertex array does not fit"},
        {patched(mesh, m + 168, le32(-1)), "invalid polygon count -1"},
        {patched(mesh, m + 168, le32(2)), "polygon array does not fit"},
        {patched(mesh, m + 188, le32(4)), "has 4 corners, more than the mesh's 3"},
        {patched(mesh, m + 200, le32(3)), "polygon 0 indexes vertex 3 of 3"},
        {patched(mesh, m + 192, le32(-1)), "indexes vertex 4294967295 of 3"},
        {patched(mat, shad2, "MESH"), "found in invalid sub-chunk in MATL chunk"},
        {patched(mat, shad2 + 4, le32(1000)), "runs past the end of its chunk"},
        {patched(mat, shad1 + 9 + 8, le32(3)), "unsupported shader type: 3"},
        {chunk("MODL", "s", counting(1, 16) + le32(1) + chunk("TEXT", "x", "")),
         "found an invalid sub-chunk in chunk s"},
        {chunk("MODL", "s", counting(1, 16) + le32(1)), "mesh array does not fit"},
        {chunk("SHAD", "", le32(1) + le32(0) + le32(2) + "abc"), "texture path without its end"},
    };
    for (auto& k : cases) {
        clear_log();
        cds c;
        open(c, "b.cds", chunk("TEXT", "ok", "") + k.bytes);
        EXPECT_EQ(c.read_all(), -1) << k.message;
        EXPECT_TRUE(log_has(k.message)) << k.message;
        EXPECT_EQ(count(c, "TEXT"), 1);
        EXPECT_EQ(count(c, "MESH") + count(c, "MODL") + count(c, "MATL") + count(c, "SHAD"), 0) << k.message;
    }
    // Objects that cannot be stored are refused by the writers.
    mesh_t* bad_index = new_triangle();
    bad_index->vi[2] = 3;
    const struct { const char* type; groupable_t* object; const char* message; } refused[] = {
        {"MESH", KD_NEW mesh_t, "invalid mesh type"},
        {"MESH", bad_index, "polygon 0 does not index the mesh's vertex array"},
        {"MATL", new_material(std::string(260, 'p').c_str()), "texture path longer than 259 characters"},
        {"MATL", new_material(nullptr), "invalid pointer: _tex_shad->tex.name=0"},
        {"SHAD", KD_NEW shader_t, "invalid shader type"},
    };
    for (auto& k : refused) {
        clear_log();
        EXPECT_EQ(writer().add(k.type, k.object).create(path("w.cds").c_str()), -1) << k.message;
        EXPECT_TRUE(log_has(k.message)) << k.message;
    }

    {
        writer c;
        mesh_t* grouped = new_triangle();
        grouped->parent = c.add_group("g");
        c.add("MESH", grouped).text("abc", "t");
        model_t* s = KD_NEW model_t;  // with a child, which is not stored
        s->set_name("s");
        s->alloc_meshes(2);
        s->meshes[1] = new_triangle();
        s->children = KD_NEW model_t*[1]{KD_NEW model_t};
        s->nchildren = 1;
        for (int i = 0; i < 16; ++i)
            s->matrix[i] = (float)(i + 1);
        c.add("MODL", s).add("MATL", new_material("a.tga"));
        ASSERT_EQ(c.create(path("w.cds").c_str()), 0);
    }
    ASSERT_EQ(triangle_payload().size(), 204u);
    ASSERT_EQ(read_file("w.cds"), container());

    cds c;
    open(c, "w.cds");
    ASSERT_EQ(c.read_all(), 0);
    model_t* s = static_cast<model_t*>(io(c, "MODL")->objects.first->object);
    EXPECT_EQ(s->nchildren, 0);
    EXPECT_EQ(s->meshes[0]->parent, s);
    // What was read writes back byte for byte, the material now unnamed: the
    // mesh in its group, neither the model's mesh nor the material's shaders
    // listed on their own.
    ASSERT_EQ(c.create(path("again.cds").c_str()), 0);
    EXPECT_EQ(read_file("again.cds"), container(""));
}

TEST_F(geometry_chunks_test, every_cut_and_failed_allocation_fails_cleanly_in_the_container_and_the_readers)
{
    const std::string full = container();
    const size_t mesh_end = 10 + 12 + 204, text_end = mesh_end + 13, modl_end = text_end + 10 + 68 + 216;
    write_file("t.cds", full);
    CFileE whole(path("t.cds").c_str(), OM_RB);
    for (size_t len = 0; len < full.size(); ++len) {
        cds c;
        open_cut(c, whole, len);
        EXPECT_EQ(c.read_all(), 0) << len;
        EXPECT_EQ(count(c, "MESH"), len >= mesh_end) << len;
        EXPECT_EQ(count(c, "TEXT"), len >= text_end) << len;
        EXPECT_EQ(count(c, "MODL"), len >= modl_end) << len;
        EXPECT_EQ(count(c, "MATL"), 0) << len;
    }
    // Without the group: what a failed allocation does to a group is the container's.
    write_file("a.cds", full.substr(10));
    every_failed_allocation_fails("a.cds", 4, 20, [](cds& c) {
        return count(c, "MESH") + count(c, "TEXT") + count(c, "MODL") + count(c, "MATL");
    });

    // The readers on their own, given a payload cut short: the header either
    // still claims the whole payload (a short read throws out of the reader) or
    // matches what is left (the counts no longer fit). Either way nothing is
    // listed, and the sanitizer build sees nothing leak.
    const std::string mat = material_chunk("m").substr(10);
    const std::pair<const char*, std::string> cases[] = {
        {"MESH", triangle_payload()},
        {"MODL", counting(1, 16) + le32(1) + chunk("MESH", "tri", triangle_payload())},
        {"MATL", mat},
        {"SHAD", mat.substr(8 + 9 + 96 + 9)},
    };
    for (auto& k : cases) {
        write_file("p.bin", k.second);
        CFileE payload(path("p.bin").c_str(), OM_RB);
        for (size_t len = 0; len < k.second.size(); ++len) {
            for (size_t claimed : {k.second.size(), len}) {
                cds c;
                open_cut(c, payload, len);
                chunk_header h = {};
                memcpy(h.type, k.first, 4);
                h.size = (long)claimed;
                int r = 0;
                try {
                    r = io(c, k.first)->read(c, h);
                } catch (int e) {
                    r = e;
                }
                EXPECT_EQ(r, -1) << k.first << " " << len;
                EXPECT_EQ(count(c, k.first), 0) << k.first << " " << len;
            }
        }
    }
}

}  // namespace
