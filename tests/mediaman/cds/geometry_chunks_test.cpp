#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kdbase/cfile.h"
#include "kdbase/mem_collector.h"
#include "kdbase/pointer.h"
#include "mediaman/cds/cds.h"
#include "mediaman/cds/geometry_chunks.h"
#include "primitives/material.h"
#include "primitives/model.h"
#include "tests/common/log_fixture.h"
#include "tests/primitives/geometry_helpers.h"

using namespace vantrel;
using geometry_test::make_mesh;

namespace {

std::string le32(int32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = (char)((uint32_t)v >> (8 * i));
    return s;
}

std::string f32(float f)
{
    int32_t v;
    memcpy(&v, &f, 4);
    return le32(v);
}

std::string floats(std::initializer_list<float> l)
{
    std::string s;
    for (float f : l)
        s += f32(f);
    return s;
}

std::string hdr(const char* type, size_t size, const std::string& id)
{
    return std::string(type, 4) + le32((int32_t)size) + id + std::string(1, '\0');
}

std::string chunk(const char* type, const std::string& id, const std::string& payload)
{
    return hdr(type, payload.size(), id) + payload;
}

// The triangle (0,0,0) (1,0,0) (0,1,0), normals +z, texture = (x, y),
// material 5, matrix elements 1..16.
mesh_t* new_triangle(const char* name)
{
    mesh_t* m = KD_NEW mesh_t;
    make_mesh(*m, {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}});
    m->set_name(name);
    m->polys[0].mat = 5;
    for (int i = 0; i < 16; ++i)
        m->matrix[i] = (float)(i + 1);
    return m;
}

// Its MESH payload as the format lays it out.
std::string triangle_payload()
{
    std::string s;
    for (int i = 0; i < 16; ++i)
        s += f32((float)(i + 1));
    s += le32(3) + le32(3);
    s += floats({0, 0, 0, 0, 0, 1, 0, 0}) + floats({1, 0, 0, 0, 0, 1, 1, 0}) + floats({0, 1, 0, 0, 0, 1, 0, 1});
    s += le32(1) + le32(5) + floats({0, 0, 1}) + le32(3) + le32(0) + le32(1) + le32(2);
    return s;
}

const float tex_m[16] = {2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 1, 0, 0.5f, 0.25f, 0, 1};

// Material m (flags 1): a colour shader and a texture shader.
material_t* new_material(const char* tex_path)
{
    material_t* mat = KD_NEW material_t;
    mat->set_name("m");
    mat->flags = MAT_BLENDED;
    color_shader_t* c = KD_NEW color_shader_t;
    c->blend_src = 0x302;
    c->blend_dst = 0x303;
    for (int i = 0; i < 4; ++i) {
        c->color[i] = 0.25f * (float)i;
        c->ambient[i] = 1 + (float)i;
        c->diffuse[i] = 5 + (float)i;
        c->specular[i] = 9 + (float)i;
        c->emission[i] = 13 + (float)i;
    }
    c->shininess = 64;
    tex_shader_t* t = KD_NEW tex_shader_t;
    t->texture.set_name(tex_path);
    t->tex_param = 7;
    t->wrap_u = 0x2901;
    t->wrap_v = 0x812F;
    memcpy(t->tex_matrix, tex_m, sizeof tex_m);
    mat->shaders.insert(c);
    mat->shaders.insert(t);
    return mat;
}

std::string material_chunk(const std::string& path)
{
    std::string colour = le32(0x302) + le32(0x303) + le32(1) + floats({0, 0.25f, 0.5f, 0.75f}) +
                         floats({1, 2, 3, 4}) + floats({5, 6, 7, 8}) + floats({9, 10, 11, 12}) + f32(64) +
                         floats({13, 14, 15, 16});
    std::string tex = le32(1) + le32(0) + le32(2) + path + std::string(1, '\0') + le32(7) + le32(0x2901) +
                      le32(0x812F);
    for (float f : tex_m)
        tex += f32(f);
    return chunk("MATL", "m", le32(1) + le32(2) + chunk("SHAD", "", colour) + chunk("SHAD", "", tex));
}

class geometry_chunks_test : public vantrel_test::log_test {
protected:
    void TearDown() override
    {
        mc_fail_after(-1);
        log_test::TearDown();
    }

    static chunk_io* io(cds& c, const char* type) { return get_chunk_io(c.types, type); }

    // Writes a container holding objects added by fill, owned by it.
    template <class F>
    int write(const char* name, F fill)
    {
        cds c;
        EXPECT_EQ(c.init(), 0);
        c.delete_type_objects();
        fill(c);
        return c.create(path(name).c_str());
    }

    int load(cds& c, const char* name)
    {
        EXPECT_EQ(c.init(), 0);
        int r = c.load(path(name).c_str());
        c.delete_type_objects();
        return r;
    }

    int count(cds& c, const char* type) { return io(c, type)->objects.count; }
};

TEST_F(geometry_chunks_test, golden_bytes_of_a_triangle_mesh_and_a_material)
{
    const std::string path40 = "textures/brick.tga";
    ASSERT_EQ(write("g.cds",
                    [&](cds& c) {
                        io(c, "MATL")->objects.insert(new_material(path40.c_str()));
                        io(c, "MESH")->objects.insert(new_triangle("tri"));
                    }),
              0);
    std::string mesh = triangle_payload();
    ASSERT_EQ(mesh.size(), 204u);
    EXPECT_EQ(read_file("g.cds"), chunk("MESH", "tri", mesh) + material_chunk(path40));
}

TEST_F(geometry_chunks_test, meshes_models_materials_and_texts_round_trip)
{
    ASSERT_EQ(write("r.cds",
                    [&](cds& c) {
                        cds_group_t* g = c.add_group("level");
                        mesh_t* box = KD_NEW mesh_t;
                        make_mesh(*box, geometry_test::cube_faces());
                        box->set_name("box");
                        box->parent = g;
                        io(c, "MESH")->objects.insert(box);

                        model_t* model = KD_NEW model_t;
                        model->set_name("ship");
                        model->alloc_meshes(3);
                        model->meshes[0] = new_triangle("hull");
                        model->meshes[2] = new_triangle("wing");
                        model->nchildren = 1;
                        model->children = KD_NEW model_t*[1];
                        model->children[0] = KD_NEW model_t;
                        model->matrix[13] = 4;
                        io(c, "MODL")->objects.insert(model);
                        model_t* empty = KD_NEW model_t;
                        empty->set_name("empty");
                        empty->alloc_meshes(0);
                        io(c, "MODL")->objects.insert(empty);

                        io(c, "MATL")->objects.insert(new_material("a.tga"));
                        buffer_t* b = alloc_buffer(3);
                        memcpy(b->data(), "lib", 3);
                        b->set_name("skins");
                        b->parent = g;
                        io(c, "TEXT")->objects.insert(b);
                        buffer_t* e = alloc_buffer(0);
                        e->set_name("none");
                        io(c, "TEXT")->objects.insert(e);
                    }),
              0);
    cds c;
    ASSERT_EQ(load(c, "r.cds"), 0);

    mesh_t box;
    make_mesh(box, geometry_test::cube_faces());
    box.set_name("box");
    group_t level;
    level.set_name("level");
    box.parent = &level;
    ASSERT_EQ(count(c, "MESH"), 1);
    mesh_t* m = static_cast<mesh_t*>(io(c, "MESH")->objects.first->object);
    EXPECT_TRUE(are_equal_meshes(m, &box));
    EXPECT_EQ(m->nverts, 24);
    EXPECT_EQ(m->polys[5].vi, m->vi + 20);

    ASSERT_EQ(count(c, "MODL"), 2);
    model_t* ship = static_cast<model_t*>(io(c, "MODL")->objects.first->object);
    EXPECT_STREQ(ship->name, "ship");
    EXPECT_EQ(ship->matrix[13], 4);
    EXPECT_EQ(ship->matrix[0], 1);
    EXPECT_EQ(ship->nchildren, 0);
    EXPECT_EQ(ship->children, nullptr);
    ASSERT_EQ(ship->nmeshes, 2);
    for (int i = 0; i < 2; ++i) {
        pointer_t<mesh_t> want;
        want.p = new_triangle(i ? "wing" : "hull");
        mesh_t* got = ship->meshes[i];
        EXPECT_STREQ(got->name, want->name);
        EXPECT_EQ(got->parent, ship);
        EXPECT_TRUE(are_equal_va(got, want) && are_equal_polys(got, want));
        EXPECT_EQ(memcmp(got->matrix, want->matrix, sizeof got->matrix), 0);
    }
    model_t* empty = static_cast<model_t*>(io(c, "MODL")->objects.last->object);
    EXPECT_TRUE(VALID_MODEL(empty));
    EXPECT_EQ(empty->nmeshes, 0);

    ASSERT_EQ(count(c, "MATL"), 1);
    material_t* mat = static_cast<material_t*>(io(c, "MATL")->objects.first->object);
    EXPECT_EQ(mat->name, nullptr);
    EXPECT_EQ(mat->parent, nullptr);
    EXPECT_EQ(mat->flags, (uint32_t)MAT_BLENDED);
    ASSERT_EQ(mat->shaders.count, 2);
    color_shader_t* cs = dynamic_cast<color_shader_t*>(mat->shaders.first->object);
    tex_shader_t* ts = dynamic_cast<tex_shader_t*>(mat->shaders.last->object);
    ASSERT_TRUE(cs && ts);
    EXPECT_EQ(cs->blend_dst, 0x303);
    EXPECT_EQ(cs->emission[3], 16);
    EXPECT_EQ(cs->shininess, 64);
    EXPECT_STREQ(ts->texture.name, "a.tga");
    EXPECT_EQ(ts->wrap_v, 0x812F);
    EXPECT_EQ(memcmp(ts->tex_matrix, tex_m, sizeof tex_m), 0);
    EXPECT_EQ(count(c, "SHAD"), 0);

    ASSERT_EQ(count(c, "TEXT"), 2);
    buffer_t* skins = static_cast<buffer_t*>(io(c, "TEXT")->objects.first->object);
    buffer_t* none = static_cast<buffer_t*>(io(c, "TEXT")->objects.last->object);
    EXPECT_EQ(std::string((char*)skins->data(), skins->size), "lib");
    EXPECT_STREQ(skins->parent->name, "level");
    EXPECT_STREQ(none->name, "none");
    EXPECT_EQ(none->size, 0);
}

// A container of one chunk after the replacement of its bytes [at, at + n).
std::string patched(std::string bytes, size_t at, const std::string& with)
{
    return bytes.replace(at, with.size(), with);
}

TEST_F(geometry_chunks_test, bad_counts_indices_and_sub_chunks_are_refused)
{
    const std::string mesh = chunk("MESH", "tri", triangle_payload());
    const size_t m = 12;  // payload start of the mesh
    const std::string mat = material_chunk("a.tga");
    const size_t first_shad = 10 + 8, second_shad = first_shad + 9 + 96;  // in the MATL chunk
    const struct {
        const char* what;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"no vertices", patched(mesh, m + 68, le32(0)), "invalid mesh counts (nverts=3 vasize=0)"},
        {"negative index count", patched(mesh, m + 64, le32(-1)), "invalid mesh counts"},
        {"indices beyond the chunk", patched(mesh, m + 64, le32(1 << 28)), "vertex array does not fit"},
        {"vertices beyond the chunk", patched(mesh, m + 68, le32(4)), "vertex array does not fit"},
        {"negative polygon count", patched(mesh, m + 168, le32(-1)), "invalid polygon count -1"},
        {"polygons beyond the chunk", patched(mesh, m + 168, le32(2)), "polygon array does not fit"},
        {"more corners than indices", patched(mesh, m + 188, le32(4)), "has 4 corners, more than the mesh's 3"},
        {"index out of range", patched(mesh, m + 200, le32(3)), "polygon 0 indexes vertex 3 of 3"},
        {"negative index", patched(mesh, m + 192, le32(-1)), "indexes vertex 4294967295 of 3"},
        {"second sub-chunk not SHAD", patched(mat, second_shad, "MESH"), "found in invalid sub-chunk in MATL chunk"},
        {"sub-chunk past its MATL", patched(mat, second_shad + 4, le32(1000)), "runs past the end of its chunk"},
        {"shader kind 3", patched(mat, first_shad + 9 + 8, le32(3)), "unsupported shader type: 3"},
        {"MESH inside a MODL not a MESH",
         chunk("MODL", "s", std::string(64, '\0') + le32(1) + chunk("TEXT", "x", "")),
         "found an invalid sub-chunk in chunk s"},
        {"MODL mesh count beyond the chunk", chunk("MODL", "s", std::string(64, '\0') + le32(1)),
         "mesh array does not fit"},
        {"texture path without its end", chunk("SHAD", "", le32(1) + le32(0) + le32(2) + "abc"),
         "texture path without its end"},
    };
    for (auto& k : cases) {
        write_file("b.cds", chunk("TEXT", "ok", "x") + k.bytes);
        clear_log();
        cds c;
        EXPECT_EQ(load(c, "b.cds"), -1) << k.what;
        EXPECT_TRUE(log_has(k.message)) << k.what;
        EXPECT_EQ(count(c, "TEXT"), 1) << k.what;
        for (const char* t : {"MESH", "MODL", "MATL", "SHAD"})
            EXPECT_EQ(count(c, t), 0) << k.what << " " << t;
    }
}

TEST_F(geometry_chunks_test, objects_that_cannot_be_stored_are_refused_by_the_writers)
{
    const struct {
        const char* what;
        const char* type;
        groupable_t* (*make)();
        const char* message;
    } cases[] = {
        {"mesh without polygons", "MESH", [] { return (groupable_t*)KD_NEW mesh_t; }, "invalid mesh type"},
        {"mesh without vertices", "MESH",
         [] {
             mesh_t* m = KD_NEW mesh_t;
             m->_alloc_polys(1);
             return (groupable_t*)m;
         },
         "mesh without vertices"},
        {"index out of range", "MESH",
         [] {
             mesh_t* m = new_triangle("t");
             m->vi[2] = 3;
             return (groupable_t*)m;
         },
         "polygon 0 does not index the mesh's vertex array"},
        {"texture path of 260 characters", "MATL",
         [] { return (groupable_t*)new_material(std::string(260, 'p').c_str()); },
         "texture path longer than 259 characters"},
        {"unnamed texture", "MATL", [] { return (groupable_t*)new_material(nullptr); },
         "invalid pointer: _tex_shad->tex.name=0"},
        {"plain shader", "SHAD", [] { return (groupable_t*)KD_NEW shader_t; }, "invalid shader type"},
        {"model without a mesh array", "MODL", [] { return (groupable_t*)KD_NEW model_t; }, "invalid parameters"},
    };
    for (auto& k : cases) {
        clear_log();
        EXPECT_EQ(write("w.cds", [&](cds& c) { io(c, k.type)->objects.insert(k.make()); }), -1) << k.what;
        EXPECT_TRUE(log_has(k.message)) << k.what;
    }
}

// A small container: a TEXT, the triangle MESH (in a group when asked), a
// MODL of one mesh and the material.
std::string small_container(bool grouped)
{
    std::string mesh = chunk("MESH", "tri", triangle_payload());
    return chunk("TEXT", "t", "abc") + (grouped ? chunk("GROU", "g", mesh) : mesh) +
           chunk("MODL", "s", std::string(64, '\0') + le32(1) + mesh) + material_chunk("a.tga");
}

TEST_F(geometry_chunks_test, a_cut_keeps_the_complete_chunks_and_no_partial_object)
{
    const std::string full = small_container(true);
    // Where each top-level chunk ends.
    const size_t text_end = 10 + 3;
    const size_t mesh_end = text_end + 10 + 12 + 204;
    const size_t modl_end = mesh_end + 10 + 68 + 12 + 204;
    ASSERT_EQ(modl_end + material_chunk("a.tga").size(), full.size());
    for (size_t len = 0; len < full.size(); ++len) {
        write_file("t.cds", full.substr(0, len));
        cds c;
        load(c, "t.cds");
        int want[] = {len >= text_end, len >= mesh_end, len >= modl_end, 0};
        const char* types[] = {"TEXT", "MESH", "MODL", "MATL"};
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(count(c, types[i]), want[i]) << "length " << len << " " << types[i];
    }
}

// The readers on their own, given a payload cut short: either the size in
// the header still claims the whole payload (a short read throws out of the
// reader) or it matches what is there (the counts no longer fit). Either way
// the reader returns -1 or throws, lists nothing and leaks nothing.
TEST_F(geometry_chunks_test, every_truncation_of_a_payload_fails_cleanly_in_the_reader)
{
    const struct {
        const char* type;
        std::string payload;
    } cases[] = {
        {"MESH", triangle_payload()},
        {"MODL", std::string(64, '\0') + le32(1) + chunk("MESH", "tri", triangle_payload())},
        {"MATL", material_chunk("a.tga").substr(10)},
        {"SHAD", material_chunk("a.tga").substr(10 + 8 + 9 + 96 + 9)},
    };
    for (auto& k : cases) {
        for (size_t len = 0; len < k.payload.size(); ++len) {
            for (bool claims_all : {true, false}) {
                write_file("p.bin", k.payload.substr(0, len));
                cds c;
                ASSERT_EQ(c.init(), 0);
                ASSERT_EQ(c.open(path("p.bin").c_str()), 0);
                chunk_header h = {};
                memcpy(h.type, k.type, 4);
                h.size = (long)(claims_all ? k.payload.size() : len);
                chunk_io* r = io(c, k.type);
                int result = 0;
                try {
                    result = r->read(c, h);
                } catch (int e) {
                    result = e;
                }
                EXPECT_EQ(result, -1) << k.type << " length " << len;
                EXPECT_EQ(r->objects.count, 0) << k.type << " length " << len;
            }
        }
    }
}

TEST_F(geometry_chunks_test, every_failed_allocation_of_the_loaders_fails_cleanly)
{
    write_file("a.cds", small_container(false));
    int failures = 0;
    for (int n = 0;; ++n) {
        cds c;
        ASSERT_EQ(c.init(), 0);
        ASSERT_EQ(c.open(path("a.cds").c_str()), 0);
        c.delete_type_objects();
        clear_log();
        mc_fail_after(n);
        int r = c.read_all();
        mc_fail_after(-1);
        bool failed = log_has("allocation failed");
        if (!failed) {
            ASSERT_EQ(r, 0);
            EXPECT_EQ(count(c, "TEXT") + count(c, "MESH") + count(c, "MODL") + count(c, "MATL"), 4);
            break;
        }
        ++failures;
        EXPECT_EQ(r, -1) << "allocation " << n;
    }
    EXPECT_GT(failures, 20);
}

}  // namespace
