#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "primitives/mesh.h"
#include "tests/common/log_fixture.h"
#include "tests/primitives/geometry_helpers.h"

using namespace vantrel;
using geometry_test::capture;
using geometry_test::cube_faces;
using geometry_test::expect_pos;
using geometry_test::face_list;
using geometry_test::make_mesh;
using geometry_test::make_plane;
using geometry_test::make_poly;

namespace {

class mesh_test : public vantrel_test::log_test {
protected:
    void TearDown() override
    {
        mc_fail_after(-1);
        log_test::TearDown();
    }
};

// The layout every unified mesh must have.
void expect_unified(mesh_t& m)
{
    EXPECT_EQ(m.flags & PRIM_OWNS_ARRAYS, 1u);
    EXPECT_EQ(m.nverts, m._count_poly_verts());
    int offset = 0;
    for (int i = 0; i < m.npolys; ++i) {
        n_poly& p = m.polys[i];
        EXPECT_EQ(p.va, m.va) << i;
        EXPECT_EQ(p.vasize, m.vasize) << i;
        EXPECT_EQ(p.vi, m.vi + offset) << i;
        EXPECT_EQ(p.flags & PRIM_OWNS_ARRAYS, 0u) << i;
        offset += p.nverts;
    }
    for (int k = 0; k < m.nverts; ++k)
        EXPECT_LT(m.vi[k], (uint32_t)m.vasize);
}

// The result of the plain search: first appearance order, exact equality
// (signed zeros equal, a NaN equal to nothing).
void reference_unify(mesh_t& m, std::vector<mrv_vertex>& distinct, std::vector<int>& index)
{
    for (int i = 0; i < m.npolys; ++i) {
        n_poly& p = m.polys[i];
        for (int k = 0; k < p.nverts; ++k) {
            mrv_vertex* v = &p.va[p.vi[k]];
            int found = distinct.empty() ? -1 : is_vert_in_array(distinct.data(), (int)distinct.size(), v);
            if (found < 0) {
                distinct.emplace_back();
                copy_vert(&distinct.back(), v);
                found = (int)distinct.size() - 1;
            }
            index.push_back(found);
        }
    }
}

TEST_F(mesh_test, unify_matches_the_plain_search_and_a_cube_keeps_eight_corners)
{
    mesh_t cube;
    make_mesh(cube, cube_faces());
    EXPECT_EQ(cube.vasize, 8);
    EXPECT_EQ(cube.nverts, 24);
    expect_unified(cube);
    // First appearance order: the -x face gives numbers 0-3.
    expect_pos(cube, 3, {0, 1, 0});
    EXPECT_EQ(cube.vi[3], 3u);
    EXPECT_EQ(cube.vi[4], 4u);  // (1, 0, 0) is new on the +x face

    // Unifying again changes nothing.
    std::vector<uint32_t> before(cube.vi, cube.vi + cube.nverts);
    ASSERT_EQ(cube.unify_vertices(), 0);
    EXPECT_EQ(cube.vasize, 8);
    EXPECT_EQ(std::vector<uint32_t>(cube.vi, cube.vi + cube.nverts), before);
    expect_unified(cube);
    // Any mesh unifies as the plain search does.
    std::mt19937 rng(7);
    // Few distinct values so that many vertices repeat, some as -0 or NaN.
    const float values[] = {0.0f, -0.0f, 1.0f, 0.5f, -2.0f, NAN};
    auto pick = [&]() { return values[rng() % 6]; };
    for (int round = 0; round < 20; ++round) {
        mesh_t m;
        int np = 1 + (int)(rng() % 60);
        ASSERT_EQ(m._alloc_polys(np), 0);
        for (int i = 0; i < np; ++i) {
            n_poly& p = m.polys[i];
            int n = 1 + (int)(rng() % 6);
            // Extra unused vertices and a shuffled index array.
            ASSERT_EQ(p._alloc_verts(n + 2, n), 0);
            for (int k = 0; k < n + 2; ++k) {
                mrv_vertex& v = p.va[k];
                v.v[0] = pick();
                v.v[1] = (float)(rng() % 3);
                v.v[2] = rng() % 8 ? 0.0f : pick();
                v.n[0] = v.n[1] = 0;
                v.n[2] = rng() % 2 ? 1.0f : pick();
                v.t[0] = rng() % 4 ? 0.0f : pick();
                v.t[1] = 0;
            }
            for (int k = 0; k < n; ++k)
                p.vi[k] = (uint32_t)(rng() % (n + 2));
        }
        std::vector<mrv_vertex> distinct;
        std::vector<int> index;
        reference_unify(m, distinct, index);
        ASSERT_EQ(m.unify_vertices(), 0);
        ASSERT_EQ(m.vasize, (int)distinct.size()) << round;
        ASSERT_EQ(m.nverts, (int)index.size());
        for (size_t k = 0; k < index.size(); ++k)
            ASSERT_EQ(m.vi[k], (uint32_t)index[k]) << round << " " << k;
        for (size_t i = 0; i < distinct.size(); ++i) {
            // Bitwise the same vertex (NaN vertices included).
            EXPECT_EQ(memcmp(m.va[i].v, distinct[i].v, sizeof distinct[i].v), 0);
            EXPECT_EQ(memcmp(m.va[i].n, distinct[i].n, sizeof distinct[i].n), 0);
            EXPECT_EQ(memcmp(m.va[i].t, distinct[i].t, sizeof distinct[i].t), 0);
        }
        expect_unified(m);
    }
}

TEST_F(mesh_test, unify_failures_leave_the_mesh_as_it_was)
{
    // Enough vertices to grow the arrays several times.
    face_list faces;
    for (int i = 0; i < 40; ++i)
        faces.push_back({{(float)i, 0, 0}, {(float)i, 1, 0}, {(float)i + 1, 1, 0}});
    for (int fail = 0;; ++fail) {
        mesh_t m;
        ASSERT_EQ(m._alloc_polys((int)faces.size()), 0);
        for (size_t i = 0; i < faces.size(); ++i)
            make_poly(m.polys[i], {faces[i][0], faces[i][1], faces[i][2]});
        mc_fail_after(fail);
        int r = m.unify_vertices();
        mc_fail_after(-1);
        if (r == 0) {
            EXPECT_EQ(m.vasize, 81);
            expect_unified(m);
            EXPECT_GT(fail, 3);
            break;
        }
        EXPECT_EQ(m.va, nullptr);
        for (int i = 0; i < m.npolys; ++i) {
            EXPECT_EQ(m.polys[i].flags & PRIM_OWNS_ARRAYS, 1u);
            EXPECT_EQ(m.polys[i].vasize, 3);
        }
        ASSERT_LT(fail, 50);
    }

    mesh_t none;
    EXPECT_EQ(none.unify_vertices(), -1);
    EXPECT_TRUE(log_has("unify_vertices(): invalid mesh"));

    mesh_t bad;
    ASSERT_EQ(bad._alloc_polys(1), 0);
    make_poly(bad.polys[0], {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    bad.polys[0].vi[2] = 3;
    EXPECT_EQ(bad.unify_vertices(), -1);
    EXPECT_TRUE(log_has("unify_vertices(): polygon 0 has an invalid vertex array"));
}

TEST_F(mesh_test, copy_and_duplicate_ownership)
{
    mesh_t* src = new mesh_t;
    make_mesh(*src, cube_faces());
    src->set_name("cube");
    src->type = 3;
    src->mat = 2;
    make_translate_m(src->matrix, 1, 2, 3);

    mesh_t deep;
    ASSERT_EQ(deep.duplicate(src), 0);
    EXPECT_NE(deep.va, src->va);
    EXPECT_NE(deep.polys, src->polys);
    EXPECT_TRUE(deep.vasize == 8 && deep.type == 3 && deep.mat == 2 && are_equal_m(deep.matrix, src->matrix, 0));
    expect_unified(deep);

    {
        mesh_t shallow;
        ASSERT_EQ(shallow.copy(src), 0);
        EXPECT_EQ(shallow.polys, src->polys);
        EXPECT_EQ(shallow.va, src->va);
        EXPECT_EQ(shallow.flags & PRIM_OWNS_ARRAYS, 0u);
        shallow.polys = nullptr;  // detach before it goes
        shallow.npolys = 0;
    }
    delete src;  // the duplicate must not depend on it
    expect_pos(deep, 23, {0, 1, 1});

    EXPECT_EQ(deep.copy(nullptr), -1);
    EXPECT_TRUE(log_has("invalid pointer: _mesh=0"));
    EXPECT_EQ(deep.duplicate(nullptr), -1);
    EXPECT_TRUE(log_has("invalid pointer: _m=0"));

    // Every failing allocation of a duplicate is cleaned up.
    mesh_t cube;
    make_mesh(cube, cube_faces());
    for (int fail = 0; fail < 40; ++fail) {
        mesh_t d;
        mc_fail_after(fail);
        int r = d.duplicate(&cube);
        mc_fail_after(-1);
        if (r == 0) {
            EXPECT_TRUE(are_equal_va(&d, &cube));
            break;
        }
    }
}

TEST_F(mesh_test, transform_to_world_uses_row_vectors_and_meshes_meet_planes)
{
    mesh_t m;
    make_mesh(m, {{{1, 2, 3}, {2, 2, 3}, {1, 3, 3}}});
    // Non-uniform scale (2, 3, 4) then translation (10, 20, 30) in elements 12-14.
    makeIdentityMatrix(m.matrix);
    m.matrix[0] = 2;
    m.matrix[5] = 3;
    m.matrix[10] = 4;
    m.matrix[12] = 10;
    m.matrix[13] = 20;
    m.matrix[14] = 30;
    ASSERT_EQ(m.transform_coords_to_world(), 0);
    expect_pos(m, 1, {14, 26, 42});
    expect_pos(m, 2, {12, 29, 42});
    // Vertex normals go through the same affine transform.
    EXPECT_FLOAT_EQ(m.va[0].n[2], 34);
    EXPECT_FLOAT_EQ(m.polys[0].normal[2], 1);
    float id[16];
    makeIdentityMatrix(id);
    EXPECT_TRUE(are_equal_m(m.matrix, id, 0));

    mesh_t empty;
    EXPECT_EQ(empty.transform_coords_to_world(), -1);
    EXPECT_TRUE(log_has("invalid pointer: VALID_PRIMITIVE(this)=0"));

    d_list l;
    l.insert(&m);
    EXPECT_EQ(transform_mesh_l_coords_to_world(&l), 0);
    EXPECT_EQ(transform_mesh_l_coords_to_world(nullptr), -1);
    EXPECT_TRUE(log_has("invalid pointer: _meshes=0"));
    // Meshes against planes.
    n_poly plane;
    make_plane(plane, {0, 0, 0}, {0, 0, 1});
    mesh_t up, down, mixed, cube;
    make_mesh(up, {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}});
    make_mesh(down, {{{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}});
    make_mesh(mixed, {{{0, 0, 1}, {1, 0, 1}, {0, 1, 1}}, {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}});
    make_mesh(cube, cube_faces());
    EXPECT_EQ(p_location_mesh(&up, &plane), PL_FRONT);
    EXPECT_EQ(p_location_mesh(&down, &plane), PL_BACK);
    EXPECT_EQ(p_location_mesh(&mixed, &plane), PL_SPANNING);
    // The cube sits on the plane: its bottom face looks down.
    EXPECT_EQ(p_location_mesh(&cube, &plane), PL_SPANNING);
    n_poly above;
    make_plane(above, {0, 0, -1}, {0, 0, 1});
    EXPECT_EQ(p_location_mesh(&cube, &above), PL_FRONT);

    n_poly no_plane;
    EXPECT_EQ(p_location_mesh(&empty, &plane), PL_INVALID);
    EXPECT_TRUE(log_has("p_location_mesh(): invalid mesh"));
    EXPECT_EQ(p_location_mesh(&up, &no_plane), PL_INVALID);
    EXPECT_TRUE(log_has("p_location_mesh(): _plane has no vertices"));
}

TEST_F(mesh_test, split_cube_in_half_and_failures)
{
    mesh_t cube, front, back;
    make_mesh(cube, cube_faces());
    cube.set_name("box");
    cube.mat = 4;
    make_translate_m(cube.matrix, 5, 0, 0);
    n_poly plane;
    make_plane(plane, {0.5f, 0, 0}, {1, 0, 0});
    ASSERT_EQ(split_mesh(&cube, &plane, &front, &back), 0);
    for (mesh_t* h : {&front, &back}) {
        EXPECT_EQ(h->npolys, 5);
        EXPECT_EQ(h->vasize, 8);
        EXPECT_STREQ(h->name, "box");
        EXPECT_EQ(h->mat, 4);
        EXPECT_TRUE(are_equal_m(h->matrix, cube.matrix, 0));
        expect_unified(*h);
    }
    EXPECT_EQ(p_location_mesh(&front, &plane), PL_FRONT);
    EXPECT_EQ(p_location_mesh(&back, &plane), PL_BACK);
    // Polygons keep their order: the -x face leads the back, the +x face the front.
    EXPECT_EQ(back.polys[0].nverts, 4);
    EXPECT_TRUE(are_equal(back.polys[0].normal, cube.polys[0].normal, 0));
    EXPECT_TRUE(are_equal(front.polys[0].normal, cube.polys[1].normal, 0));
    // The source is untouched.
    EXPECT_EQ(cube.npolys, 6);
    expect_unified(cube);

    mesh_t none;
    n_poly diagonal, empty;
    make_plane(diagonal, {0.5f, 0.5f, 0.5f}, {1, 1, 0});
    EXPECT_EQ(split_mesh(&cube, &diagonal, nullptr, &back), -1);
    EXPECT_EQ(split_mesh(&cube, &diagonal, &cube, &back), -1);
    EXPECT_TRUE(log_has("split_mesh(): invalid parameters"));
    EXPECT_EQ(split_mesh(&none, &diagonal, &front, &back), -1);
    EXPECT_TRUE(log_has("split_mesh(): invalid mesh"));
    EXPECT_EQ(split_mesh(&cube, &empty, &front, &back), -1);
    EXPECT_TRUE(log_has("split_mesh(): _plane has no vertices"));

    // Every allocation failure is reported and leaks nothing.
    int fail = 0;
    for (;; ++fail) {
        mesh_t f, b;
        mc_fail_after(fail);
        int r = split_mesh(&cube, &diagonal, &f, &b);
        mc_fail_after(-1);
        if (r == 0) {
            EXPECT_EQ(f.npolys + b.npolys, 8);  // the two z faces split
            break;
        }
        ASSERT_LT(fail, 200);
    }
    EXPECT_GT(fail, 10);
}

}  // namespace
