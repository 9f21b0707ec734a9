#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "kdbase/d_list.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "primitives/n_poly.h"
#include "tests/common/log_fixture.h"
#include "tests/primitives/geometry_helpers.h"

using namespace vantrel;
using geometry_test::area;
using geometry_test::capture;
using geometry_test::expect_pos;
using geometry_test::make_plane;
using geometry_test::make_poly;
using geometry_test::pos;

namespace {

class polygon_test : public vantrel_test::log_test {
protected:
    void TearDown() override
    {
        mc_fail_after(-1);
        log_test::TearDown();
    }
};

mrv_vertex vert(float x, float y, float z, float nx = 0, float ny = 0, float nz = 1, float u = 0, float v = 0)
{
    mrv_vertex m;
    m.v[0] = x;
    m.v[1] = y;
    m.v[2] = z;
    m.n[0] = nx;
    m.n[1] = ny;
    m.n[2] = nz;
    m.t[0] = u;
    m.t[1] = v;
    return m;
}

TEST_F(polygon_test, vertex_equality_is_exact_and_the_normal_follows_their_order)
{
    mrv_vertex a = vert(1, 2, 3, 0, 0, 1, 0.5f, 0.25f), b = a, c = a, d = vert(1, 2, 3, 0, 0, 1, 0.5f, 0.25001f);
    EXPECT_TRUE(are_equal_verts(&a, &b));
    b.v[0] = std::nextafter(1.0f, 2.0f);
    c.n[1] = 1e-30f;
    for (mrv_vertex* x : {&b, &c, &d})
        EXPECT_FALSE(are_equal_verts(&a, x));
    // Signed zeros are equal, a NaN equals nothing, not even itself.
    mrv_vertex z1 = vert(0, 0, 0, 0, 0, 0, 0, 0), z2 = vert(-0.0f, 0, -0.0f, -0.0f, 0, 0, -0.0f, 0), n = vert(NAN, 0, 0);
    EXPECT_TRUE(are_equal_verts(&z1, &z2));
    EXPECT_FALSE(are_equal_verts(&n, &n));
    // The normal follows the vertex order.
    n_poly ccw, cw;
    make_poly(ccw, {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}});
    make_poly(cw, {{0, 0, 0}, {0, 2, 0}, {2, 2, 0}, {2, 0, 0}});
    EXPECT_FLOAT_EQ(ccw.normal[2], 1);
    EXPECT_FLOAT_EQ(cw.normal[2], -1);
    EXPECT_FLOAT_EQ(ccw.normal[0], 0);

    // A rotation about x by 90 degrees turns +z into -y (row vectors: p * M).
    float m[16];
    make_rotatex_m(m, 90);
    ASSERT_EQ(ccw.calculate_normal(m), 0);
    EXPECT_NEAR(ccw.normal[1], -1, 1e-6);
    EXPECT_NEAR(ccw.normal[2], 0, 1e-6);

    n_poly one, none;
    make_poly(one, {{1, 1, 1}});
    EXPECT_EQ(one.calculate_normal(nullptr), -1);
    EXPECT_TRUE(log_has("n_poly::calculate_normal(): need at least 2 vertices (1 vertices)"));
    EXPECT_EQ(none.calculate_normal(nullptr), -1);
    EXPECT_TRUE(log_has("n_poly::calculate_normal(): no vertices defined"));
}

TEST_F(polygon_test, arrays_are_allocated_shared_and_duplicated)
{
    n_poly p;
    ASSERT_EQ(p._alloc_verts(4), 0);
    EXPECT_EQ(p.vasize, 4);
    EXPECT_EQ(p.nverts, 4);
    EXPECT_EQ(p.flags & PRIM_OWNS_ARRAYS, 1u);
    EXPECT_EQ(p.vi[3], 3u);

    // Zero vertices fail and keep what was there.
    mrv_vertex* old = p.va;
    EXPECT_EQ(p._alloc_verts(0), -1);
    EXPECT_TRUE(log_has("n_poly::_alloc_verts(): unable to allocate 0 vertices"));
    EXPECT_EQ(p.va, old);
    EXPECT_EQ(p.vasize, 4);

    // More indices than vertices: the identity stops at the vertex count.
    ASSERT_EQ(p._alloc_verts(2, 5), 0);
    EXPECT_EQ(p.vi[1], 1u);
    EXPECT_EQ(p.vi[2], 0u);
    EXPECT_EQ(p.nverts, 5);

    // Either allocation failing leaves the primitive empty.
    for (int fail = 0; fail < 2; ++fail) {
        ASSERT_EQ(p._alloc_verts(3), 0);
        p.mat = 7;
        clear_log();
        mc_fail_after(fail);
        EXPECT_EQ(p._alloc_verts(6), -1);
        EXPECT_EQ(p.va, nullptr);
        EXPECT_EQ(p.vi, nullptr);
        EXPECT_EQ(p.nverts, 0);
        EXPECT_EQ(p.vasize, 0);
        EXPECT_EQ(p.mat, 7);
        EXPECT_TRUE(log_has(fail == 0 ? "_alloc_verts(): unable to create vertice array(6 vertices)"
                                      : "_alloc_verts(): unable to create indice array (6 vertices)"));
    }
    // A copy shares the arrays, a duplicate owns its own.
    n_poly src;
    make_poly(src, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    src.mat = 3;
    src.type = 9;
    src.normal[3] = 0.5f;
    {
        n_poly shallow;
        ASSERT_EQ(shallow.copy(&src), 0);
        EXPECT_EQ(shallow.va, src.va);
        EXPECT_EQ(shallow.vi, src.vi);
        EXPECT_EQ(shallow.flags & PRIM_OWNS_ARRAYS, 0u);
        EXPECT_TRUE(shallow.mat == 3 && shallow.type == 9 && shallow.normal[3] == 0.5f);
    }  // destroying the copy must leave src's arrays alone (ASan checks)
    expect_pos(src, 2, {0, 1, 0});

    n_poly deep;
    ASSERT_EQ(deep.duplicate(&src), 0);
    EXPECT_NE(deep.va, src.va);
    EXPECT_EQ(deep.flags & PRIM_OWNS_ARRAYS, 1u);
    EXPECT_TRUE(are_equal_polys(&deep, &src));

    n_poly empty;
    EXPECT_EQ(deep.duplicate(&empty), -1);
    EXPECT_TRUE(log_has("duplicate(): invalid parameters"));
    EXPECT_EQ(deep._copy_verts(&empty), -1);
    EXPECT_TRUE(log_has("n_poly::_copy_verts(): _poly is invalid"));
}

TEST_F(polygon_test, points_and_polygons_against_a_thick_plane)
{
    n_poly plane;
    make_plane(plane, {0, 0, 5}, {0, 0, 1});
    float p[3] = {3, -4, 5};
    const std::pair<float, int> heights[] = {
        {5.00005f, PL_ONPLANE}, {5.0002f, PL_FRONT}, {4.9998f, PL_BACK}, {5, PL_ONPLANE}};
    for (auto [z, side] : heights)
        EXPECT_EQ((p[2] = z, p_location_v(p, &plane)), side) << z;

    n_poly empty, ground;
    EXPECT_EQ(p_location_v(p, &empty), PL_INVALID);
    make_plane(ground, {0, 0, 0}, {0, 0, 1});
    // Polygons against a plane.
    n_poly in_plane, touching, behind, spanning, near;
    make_poly(in_plane, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    make_poly(touching, {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}});
    make_poly(behind, {{0, 0, -1}, {1, 0, -1}, {0, 1, 0}});
    make_poly(spanning, {{0, 0, -1}, {1, 0, 1}, {0, 1, 0}});
    make_poly(near, {{0, 0, 0.00009f}, {1, 0, -0.00009f}, {0, 1, 0}});
    EXPECT_EQ(p_location_poly(&in_plane, &ground), PL_ONPLANE);
    EXPECT_EQ(p_location_poly(&touching, &ground), PL_FRONT);
    EXPECT_EQ(p_location_poly(&behind, &ground), PL_BACK);
    EXPECT_EQ(p_location_poly(&spanning, &ground), PL_SPANNING);
    EXPECT_EQ(p_location_poly(&near, &ground), PL_ONPLANE);

    // A polygon is a plane too: the one through its first vertex.
    EXPECT_EQ(p_location_poly(&spanning, &touching), PL_SPANNING);

    EXPECT_EQ(p_location_poly(&empty, &ground), PL_INVALID);
    EXPECT_TRUE(log_has("p_location_poly(): _poly has no vertices"));
    EXPECT_EQ(p_location_poly(&in_plane, &empty), PL_INVALID);
    EXPECT_TRUE(log_has("p_location_poly(): _plane has no vertices"));
}

TEST_F(polygon_test, split_through_a_vertex_or_a_whole_polygon_on_the_plane)
{
    // A in front, B behind, C exactly on the plane z = 0.
    n_poly tri, plane, front, back;
    make_poly(tri, {{0, 0, 1}, {1, 0, -1}, {0, 1, 0}});
    make_plane(plane, {0, 0, 0}, {0, 0, 1});
    tri.mat = 5;
    tri.flags = 0x10 | PRIM_OWNS_ARRAYS;
    ASSERT_EQ(split_poly(&tri, &plane, &front, &back), 0);

    // front: C', A, X, C; back: C', X, B, C
    ASSERT_EQ(front.nverts, 4);
    ASSERT_EQ(back.nverts, 4);
    const geometry_test::pt want[2][4] = {{{0, 1, 0}, {0, 0, 1}, {0.5f, 0, 0}, {0, 1, 0}},
                                          {{0, 1, 0}, {0.5f, 0, 0}, {1, 0, -1}, {0, 1, 0}}};
    for (int k = 0; k < 4; ++k) {
        expect_pos(front, k, want[0][k]);
        expect_pos(back, k, want[1][k]);
    }

    // New vertices: zero normal, interpolated texture; old ones copied whole.
    mrv_vertex& c_new = front.va[0];
    mrv_vertex& x = front.va[2];
    EXPECT_EQ(c_new.n[2], 0);
    EXPECT_EQ(x.n[2], 0);
    EXPECT_FLOAT_EQ(c_new.t[1], 1);
    EXPECT_FLOAT_EQ(x.t[0], 0.5f);
    EXPECT_FLOAT_EQ(x.t[1], 0);
    EXPECT_EQ(front.va[1].n[2], 1);
    EXPECT_EQ(front.va[3].n[2], 1);

    // Halves: poly's normal, material and flags, owning their arrays.
    for (n_poly* h : {&front, &back}) {
        EXPECT_EQ(h->mat, 5);
        EXPECT_EQ(h->flags, 0x11u);
        EXPECT_TRUE(are_equal(h->normal, tri.normal, 0));
        EXPECT_EQ(h->vasize, 4);
    }
    EXPECT_EQ(p_location_poly(&front, &plane), PL_FRONT);
    EXPECT_EQ(p_location_poly(&back, &plane), PL_BACK);
    // A polygon lying in the plane.
    n_poly sq, f2, b2;
    make_poly(sq, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    ASSERT_EQ(split_poly(&sq, &plane, &f2, &b2), 0);
    // Every edge meets the plane at its start, so each corner is preceded by a
    // copy of the corner before it: V3', V0, V0', V1, V1', V2, V2', V3.
    ASSERT_EQ(f2.nverts, 8);
    ASSERT_EQ(b2.nverts, 8);
    for (int k = 0; k < 8; ++k) {
        int corner = k % 2 ? k / 2 : (k / 2 + 3) % 4;
        EXPECT_TRUE(are_equal(pos(f2, k), pos(b2, k), 0));
        EXPECT_TRUE(are_equal(pos(f2, k), pos(sq, corner), 0)) << k;
        EXPECT_EQ(f2.va[k].n[2], k % 2 ? 1 : 0) << k;
    }
}

TEST_F(polygon_test, split_failures_leave_the_halves_alone)
{
    n_poly tri, plane, front, back;
    make_poly(tri, {{0, 0, 1}, {1, 0, 1}, {0, 1, 1}});
    make_plane(plane, {0, 0, 0}, {0, 0, 1});
    make_poly(front, {{7, 7, 7}});
    make_poly(back, {{8, 8, 8}});

    // Entirely in front: the back half would be empty.
    EXPECT_EQ(split_poly(&tri, &plane, &front, &back), -1);
    EXPECT_TRUE(log_has("unable to allocate 0 vertices"));
    expect_pos(front, 0, {7, 7, 7});
    expect_pos(back, 0, {8, 8, 8});

    n_poly span, empty;
    make_poly(span, {{0, 0, 1}, {1, 0, -1}, {0, 1, 1}});
    EXPECT_EQ(split_poly(&span, &plane, nullptr, &back), -1);
    EXPECT_EQ(split_poly(&span, &plane, &back, &back), -1);
    EXPECT_TRUE(log_has("split_polygon(): invalid parameters"));
    EXPECT_EQ(split_poly(&empty, &plane, &front, &back), -1);
    EXPECT_TRUE(log_has("split_polygon(): _poly has no vertices"));
    EXPECT_EQ(split_poly(&span, &empty, &front, &back), -1);
    EXPECT_TRUE(log_has("split_polygon(): _plane has no vertices"));

    // Allocation failures at each of the four arrays.
    for (int fail = 0; fail < 4; ++fail) {
        mc_fail_after(fail);
        EXPECT_EQ(split_poly(&span, &plane, &front, &back), -1) << fail;
        mc_fail_after(-1);
        expect_pos(front, 0, {7, 7, 7});
        expect_pos(back, 0, {8, 8, 8});
    }
}

// A regular polygon of n corners around the origin in the plane z = 0.
void make_ngon(n_poly& p, int n)
{
    ASSERT_EQ(p._alloc_verts(n), 0);
    for (int k = 0; k < n; ++k) {
        double a = 2 * M_PI * (k + 0.5) / n;
        p.va[k] = vert((float)std::cos(a), (float)std::sin(a), 0);
    }
    p.calculate_normal(nullptr);
}

TEST_F(polygon_test, split_holds_at_most_64_vertices_a_side)
{
    n_poly plane;
    make_plane(plane, {0, 0, 0}, {1, 0, 0});
    // 124 corners: 62 a side plus the two crossings fill a half exactly.
    n_poly ok, front, back;
    make_ngon(ok, 124);
    ASSERT_EQ(split_poly(&ok, &plane, &front, &back), 0);
    EXPECT_EQ(front.nverts, 64);
    EXPECT_EQ(back.nverts, 64);

    n_poly big;
    make_ngon(big, 126);
    EXPECT_EQ(split_poly(&big, &plane, &front, &back), -1);
    EXPECT_TRUE(log_has("split_polygon(): more than 64 vertices on one side"));
    EXPECT_EQ(front.nverts, 64);
}

TEST_F(polygon_test, random_splits_keep_area_and_sides)
{
    std::mt19937 rng(20261206);
    std::uniform_real_distribution<double> uni(-1, 1);
    auto unit = [&](double* v) {
        double len;
        do
            len = std::hypot(v[0] = uni(rng), v[1] = uni(rng), v[2] = uni(rng));
        while (len < 0.1 || len > 1);
        for (int i = 0; i < 3; ++i)
            v[i] /= len;
    };
    int spanning = 0;
    for (int iter = 0; iter < 2000; ++iter) {
        // Corners on a circle in a random plane, at sorted random angles.
        double u[3], w[3], c[3], a[3];
        unit(u);
        unit(a);
        w[0] = u[1] * a[2] - u[2] * a[1];
        w[1] = u[2] * a[0] - u[0] * a[2];
        w[2] = u[0] * a[1] - u[1] * a[0];
        double wl = std::hypot(w[0], w[1], w[2]);
        if (wl < 0.1)
            continue;
        for (int i = 0; i < 3; ++i) {
            w[i] /= wl;
            c[i] = 5 * uni(rng);
        }
        int n = 3 + (int)(rng() % 14);
        std::vector<double> ang(n);
        for (double& x : ang)
            x = M_PI * (uni(rng) + 1);
        std::sort(ang.begin(), ang.end());
        double r = 0.5 + 3 * (uni(rng) + 1);
        n_poly poly;
        ASSERT_EQ(poly._alloc_verts(n), 0);
        for (int k = 0; k < n; ++k) {
            float p[3];
            for (int i = 0; i < 3; ++i)
                p[i] = (float)(c[i] + r * (std::cos(ang[k]) * u[i] + std::sin(ang[k]) * w[i]));
            poly.va[k] = vert(p[0], p[1], p[2], 0, 0, 1, (float)ang[k], 0);
        }
        poly.calculate_normal(nullptr);

        double pn[3], pp[3];
        unit(pn);
        for (int i = 0; i < 3; ++i)
            pp[i] = c[i] + r * 0.8 * uni(rng);
        n_poly plane;
        make_plane(plane, {(float)pp[0], (float)pp[1], (float)pp[2]}, {(float)pn[0], (float)pn[1], (float)pn[2]});
        if (p_location_poly(&poly, &plane) != PL_SPANNING)
            continue;
        ++spanning;
        n_poly front, back;
        ASSERT_EQ(split_poly(&poly, &plane, &front, &back), 0) << iter;
        double total = area(poly);
        EXPECT_NEAR(area(front) + area(back), total, 1e-4 * (1 + total)) << iter;
        EXPECT_EQ(p_location_poly(&front, &plane), PL_FRONT) << iter;
        EXPECT_EQ(p_location_poly(&back, &plane), PL_BACK) << iter;
    }
    EXPECT_GT(spanning, 500);
}

TEST_F(polygon_test, inside_bounds_and_closest_point)
{
    n_poly sq;
    make_poly(sq, {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}});
    // Clockwise order does not matter: only angles are summed.
    n_poly cw;
    make_poly(cw, {{0, 0, 0}, {0, 2, 0}, {2, 2, 0}, {2, 0, 0}});
    float in[3] = {0.5f, 1.5f, 0}, edge[3] = {1, 0, 0}, out[3] = {2.5f, 1, 0};
    for (n_poly* p : {&sq, &cw}) {
        EXPECT_TRUE(p->is_inside_poly(in));
        EXPECT_TRUE(p->is_inside_poly(edge));
        EXPECT_FALSE(p->is_inside_poly(out));
    }

    // An extra vertex in the middle of an edge: the normal comes from the
    // first two and the last vertex, and points at and beside the extra
    // vertex are classified like any other.
    n_poly five;
    make_poly(five, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}});
    EXPECT_FLOAT_EQ(five.normal[2], 1);
    float at[3] = {1, 0, 0}, below[3] = {1, -0.01f, 0};
    EXPECT_TRUE(five.is_inside_poly(in));
    EXPECT_TRUE(five.is_inside_poly(at));
    EXPECT_FALSE(five.is_inside_poly(below));
    float min[3], max[3];
    ASSERT_EQ(five.get_bounds(min, max), 0);
    EXPECT_EQ(max[0], 2);
    EXPECT_EQ(min[1], 0);

    n_poly empty;
    EXPECT_FALSE(empty.is_inside_poly(in));
    EXPECT_TRUE(log_has("::is_inside_poly(): invalid parameters"));
    // Bounds and the closest point.
    n_poly tri, small;
    make_poly(tri, {{-1, -2, -3}, {4, 0, -1}, {0, 5, -2}});
    float want_min[3] = {-1, -2, -3}, want_max[3] = {4, 5, -1};
    ASSERT_EQ(tri.get_bounds(min, max), 0);
    EXPECT_EQ(memcmp(min, want_min, sizeof min), 0);
    EXPECT_EQ(memcmp(max, want_max, sizeof max), 0);

    make_poly(small, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    EXPECT_EQ(small.compare_bounds(&tri), -1);
    EXPECT_EQ(tri.compare_bounds(&small), 1);
    EXPECT_EQ(tri.compare_bounds(&tri), 0);
    EXPECT_EQ(tri.compare_bounds(&empty), 1);
    EXPECT_TRUE(log_has("n_poly::compare_bounds(): invalid _poly"));

    float p[3] = {0.2f, -3, 0}, closest[3] = {9, 9, 9};
    ASSERT_EQ(small.get_closest_vector(p, closest), 0);
    EXPECT_FLOAT_EQ(closest[0], 0.2f);
    EXPECT_FLOAT_EQ(closest[1], 0);
    // Nothing within 10000: out is left alone.
    float far[3] = {20000, 0, 0}, keep[3] = {9, 9, 9};
    ASSERT_EQ(small.get_closest_vector(far, keep), 0);
    EXPECT_EQ(keep[0], 9);
}

}  // namespace
