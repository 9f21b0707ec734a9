#include "kdbase/kdbase_math.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

class math_test : public vantrel_test::log_test {};

void expect_v3(const float* v, float x, float y, float z, float eps = 1e-5f)
{
    EXPECT_NEAR(v[0], x, eps);
    EXPECT_NEAR(v[1], y, eps);
    EXPECT_NEAR(v[2], z, eps);
}

void expect_q(const float* q, float x, float y, float z, float w, float eps = 1e-5f)
{
    expect_v3(q, x, y, z, eps);
    EXPECT_NEAR(q[3], w, eps);
}

TEST_F(math_test, vector_arithmetic_touches_xyz_and_degenerate_input_stays)
{
    float a[4] = {1, 2, 3, 9}, b[4] = {4, 5, 6, 7}, out[4] = {0, 0, 0, 42};
    add_vr(out, a, b);
    expect_v3(out, 5, 7, 9);
    EXPECT_EQ(out[3], 42);
    sub_v(out, b);
    expect_v3(out, 1, 2, 3);
    EXPECT_FLOAT_EQ(dotproduct_v(a, b), 32);
    crossproduct_vr(out, a, b);
    expect_v3(out, -3, 6, -3);
    EXPECT_EQ(out[3], 42);
    // out aliasing an input still gives the mathematical result.
    float c[4] = {1, 0, 0, 0}, d[4] = {0, 1, 0, 0};
    crossproduct_vr(d, c, d);
    expect_v3(d, 0, 0, 1);
    add_vr(a, b, a);
    expect_v3(a, 5, 7, 9);
    EXPECT_EQ(a[3], 9);
    // Degenerate input is left alone.
    float zero[4] = {0, 0, 0, 5};
    normalize_v(zero);
    expect_v3(zero, 0, 0, 0);
    float v[4] = {3, 0, 4, 1};
    normalize_vr(out, v);
    expect_v3(out, 0.6f, 0, 0.8f);
    EXPECT_FLOAT_EQ(len_v(v), 5);
    divscalar_v(v, 0);
    expect_v3(v, 3, 0, 4);
    float q[4] = {1, 2, 3, 4};
    divscalar_q(q, 0);
    expect_q(q, 1, 2, 3, 4);
    EXPECT_TRUE(log_lines().empty());
    // A zero component is logged.
    float n[4] = {2, 4, 6, 0}, z[4] = {1, 0, 2, 0}, m[4] = {2, 2, 4, 0};
    div_v(n, z);
    expect_v3(n, 2, 4, 6);
    EXPECT_TRUE(log_has("div_v(): attempted to divide by zero"));
    div_vr(out, n, m);
    expect_v3(out, 1, 2, 1.5f);
}

TEST_F(math_test, eps_comparisons_rounding_and_truncation)
{
    float a[4] = {1, 2, 3, 4}, b[4] = {1, 2, 3, 5}, c[4] = {1.5f, 2, 3, 4};
    EXPECT_TRUE(are_equal(a, b, 0));
    EXPECT_FALSE(are_equal4(a, b, 0));
    EXPECT_TRUE(are_equal4(a, b, 1));
    EXPECT_FALSE(are_equal(a, c, 0.25f));
    EXPECT_TRUE(are_equal(a, c, 0.5f));
    float m[16], n[16];
    makeIdentityMatrix(m);
    makeIdentityMatrix(n);
    EXPECT_TRUE(are_equal_m(m, n, 0));
    n[15] = 1.5f;
    EXPECT_FALSE(are_equal_m(m, n, 0.1f));
    // Rounding and truncation follow the sign of the fraction.
    const std::pair<float, int> rounds[] = {{2.5f, 3},   {2.4f, 2},   {-2.5f, -3}, {-2.2f, -3},
                                            {-0.2f, -1}, {-3.0f, -3}, {0.0f, 0}};
    for (auto [x, r] : rounds)
        EXPECT_EQ(vantrel::round(x), r) << x;
    const float truncs[][3] = {{7.3f, 2, 6}, {-7.3f, 2, -6}, {0.74f, 0.25f, 0.5f}, {3.0f, 0, 3}};
    for (auto& t : truncs)
        EXPECT_FLOAT_EQ(trunc_fraction(t[0], t[1]), t[2]) << t[0];
    float v[4] = {1.7f, -1.7f, 2.2f, 9.9f};
    trunc_v(v, 1);
    expect_q(v, 1, -1, 2, 9.9f);
    trunc_q(v, 1);
    EXPECT_FLOAT_EQ(v[3], 9);
}

TEST_F(math_test, translations_rotations_and_products_follow_row_vectors)
{
    float t[16], r[16], m[16], v[4] = {1, 2, 3, 7};
    make_translate_m(t, 10, 0, 0);
    multmatrix_v3(v, t);
    expect_v3(v, 11, 2, 3);
    EXPECT_EQ(v[3], 7);  // w untouched

    // out = b * a: rotate by 90 degrees about z (b) first, then translate (a).
    make_rotatez_m(r, 90);
    multmatrix_mr(m, t, r);
    float p[4] = {1, 0, 0, 1}, out[4];
    multmatrix_v3r(out, m, p);
    expect_v3(out, 10, 1, 0);
    // In place: a = b * a.
    multmatrix_m(t, r);
    EXPECT_TRUE(are_equal_m(t, m, 1e-6f));
    // The other order translates first.
    make_translate_m(t, 10, 0, 0);
    multmatrix_mr(m, r, t);
    multmatrix_v3r(out, m, p);
    expect_v3(out, 0, 11, 0);
    // Rotations follow the row-vector convention.
    const struct {
        void (*make)(float*, float);
        float from[4], to[3];
    } turns[] = {{make_rotatex_m, {0, 1, 0, 1}, {0, 0, 1}},   // y -> z
                 {make_rotatey_m, {0, 0, 1, 1}, {1, 0, 0}},   // z -> x
                 {make_rotatez_m, {1, 0, 0, 1}, {0, 1, 0}}};  // x -> y
    for (auto& turn : turns) {
        turn.make(m, 90);
        expect_v3(multmatrix_v3r(out, m, turn.from), turn.to[0], turn.to[1], turn.to[2]);
    }
    // make_rotate_m rotates about x, then y, then z.
    float rx[16], ry[16], rz[16], comb[16];
    make_rotatex_m(rx, 30);
    make_rotatey_m(ry, 45);
    make_rotatez_m(rz, 60);
    multmatrix_mr(comb, ry, rx);
    multmatrix_m(rz, comb);
    make_rotate_m(m, 30, 45, 60);
    EXPECT_TRUE(are_equal_m(m, rz, 1e-6f));
}

TEST_F(math_test, axes_are_orthonormal)
{
    float m[16], fwd[4] = {0, 0, 5, 0}, up[4] = {0, 3, 0, 0};
    makeIdentityMatrix(m);
    set_axes(m, fwd, up);
    // x = up x forward = y x z = x
    expect_v3(m, 1, 0, 0);
    expect_v3(m + 4, 0, 1, 0);
    expect_v3(m + 8, 0, 0, 1);
    _set_axes(m, fwd, up);
    expect_v3(m + 8, 0, 0, 5);  // forward copied as given
    expect_v3(m, 1, 0, 0);      // row 0 normalised
    expect_v3(m + 4, 0, 5, 0);

    float axis[4] = {1, 0, 0, 0};
    makeIdentityMatrix(m);
    orient_axes(m, axis);
    expect_v3(m + 8, 1, 0, 0);
    expect_v3(m, 0, 0, -1);  // y x x
    expect_v3(m + 4, 0, 1, 0);
    orient_axes(nullptr, axis);  // silently nothing
    EXPECT_TRUE(log_lines().empty());
}

TEST_F(math_test, segments_rays_planes_and_spheres)
{
    // The closest point of a segment is clamped to its ends.
    float a[4] = {0, 0, 0, 0}, b[4] = {10, 0, 0, 0}, p[4] = {4, 3, 0, 0}, out[4];
    for (float x : {4.0f, -5.0f, 15.0f}) {
        p[0] = x;
        get_closest_vector_on_line(a, b, p, out);
        expect_v3(out, std::min(std::max(x, 0.0f), 10.0f), 0, 0);
    }
    // Directed distances.
    float pz[4] = {0, 0, 5, 0}, n[4] = {0, 0, 1, 0}, top[4] = {0, 0, 10, 0}, step[4] = {0, 0, 2, 0};
    EXPECT_FLOAT_EQ(seg_directed_distance(pz, n, a, top), 0.5f);
    EXPECT_FLOAT_EQ(ray_directed_distance(pz, n, a, step), 2.5f);
    float flat[4] = {1, 0, 0, 0};  // parallel: denominator becomes +0.0001
    EXPECT_NEAR(seg_directed_distance(pz, n, a, flat), 5 / 0.0001, 1);
    EXPECT_FLOAT_EQ(ray_sphere_directed_distance(a, n, top, 2), 8);
    EXPECT_FLOAT_EQ(ray_sphere_directed_distance(a, flat, top, 2), -1);

    // intersect includes the start of the segment and excludes its end.
    float ny[4] = {0, 1, 0, 0}, p0[4] = {1, -1, 0, 0}, p1[4] = {1, 3, 0, 0};
    float on[4] = {2, 0, 0, 0}, above[4] = {2, 4, 0, 0}, along[4] = {5, 0, 0, 0};
    EXPECT_EQ(intersect(p0, p1, a, ny, out), 1);
    expect_v3(out, 1, 0, 0);
    EXPECT_EQ(intersect(on, above, a, ny, out), 1);  // t = 0
    expect_v3(out, 2, 0, 0);
    EXPECT_EQ(intersect(above, on, a, ny, out), 0);  // t = 1
    EXPECT_EQ(intersect(on, along, a, ny, out), 0);
}

TEST_F(math_test, quaternion_products_inverses_and_matrices)
{
    const double h = std::sqrt(0.5);
    float qz[4] = {0, 0, (float)h, (float)h};  // 90 degrees about z
    float q[4], inv[4], id[4];
    mult_qr(q, qz, qz);
    expect_q(q, 0, 0, 1, 0);  // 180 degrees
    inverse_qr(inv, qz);
    mult_qr(id, qz, inv);
    expect_q(id, 0, 0, 0, 1);
    float two[4] = {0, 0, 0, 2};
    inverse_q(two);
    expect_q(two, 0, 0, 0, 0.5f);
    EXPECT_FLOAT_EQ(norm_q(qz), 1);
    float a[4] = {1, 2, 3, 4}, b[4] = {5, 6, 7, 8};
    mult_qr(q, a, b);
    // Hamilton product with the scalar last.
    expect_q(q, 24, 48, 48, -6);
    mult_q(a, b);
    expect_q(a, 24, 48, 48, -6);
    float z[4] = {0, 0, 0, 0};
    inverse_q(z);
    expect_q(z, 0, 0, 0, 0);
    // Quaternions round-trip through matrices in every branch.
    struct {
        float q[4];
    } cases[] = {
        {{0, 0, 0, 1}},
        {{(float)h, 0, 0, (float)h}},
        {{0.1825742f, 0.3651484f, 0.5477226f, 0.7302967f}},
        {{1, 0, 0, 0}},  // 180 degrees about x: second branch
        {{0, 1, 0, 0}},  // about y: fourth branch
        {{0, 0, 1, 0}},  // about z: third branch
    };
    for (auto& c : cases) {
        float m[16], back[4];
        convert_q2m(m, c.q);
        convert_m2q(back, m);
        expect_q(back, c.q[0], c.q[1], c.q[2], c.q[3]);
    }
    // The matrix of a quaternion rotates like the matching rotation matrix.
    float m[16], r[16];
    convert_q2m(m, qz);
    make_rotatez_m(r, -90);
    EXPECT_TRUE(are_equal_m(m, r, 1e-6f));
}

TEST_F(math_test, slerp_takes_the_short_arc)
{
    const float h = (float)std::sqrt(0.5);
    const struct {
        float a[4], b[4], t, want[4];
    } cases[] = {
        {{0, 0, 0, 1}, {0, 0, 1, 0}, 0, {0, 0, 0, 1}}, {{0, 0, 0, 1}, {0, 0, 1, 0}, 0.5f, {0, 0, h, h}},
        {{0, 0, 0, 1}, {0, 0, 1, 0}, 1, {0, 0, 1, 0}},
        {{0, 0, 0, 1}, {0, 0, -1, 0}, 0.5f, {0, 0, -h, h}},  // a negative dot product flips b
        // The opposite quaternion is the same rotation: stay at a.
        {{.5f, .5f, .5f, .5f}, {-.5f, -.5f, -.5f, -.5f}, 0.3f, {.5f, .5f, .5f, .5f}},
        {{.5f, .5f, .5f, .5f}, {-.5f, -.5f, -.5f, -.5f}, 1, {.5f, .5f, .5f, .5f}},
    };
    float out[4];
    for (auto& c : cases) {
        slerp_qr(out, c.a, c.b, c.t);
        expect_q(out, c.want[0], c.want[1], c.want[2], c.want[3]);
    }
    // out may be an input.
    float q1[4] = {0, 0, 0, 1}, q2[4] = {0, 0, 1, 0};
    slerp_qr(q1, q1, q2, 0.5f);
    expect_q(q1, 0, 0, h, h);
    float a[4] = {1, 0, 0, 0}, b[4] = {0, 1, 0, 2};
    slerp_vr(out, a, b, 0.5f);
    expect_q(out, h, h, 0, 2 * h);
    float c[4] = {-1, 0, 0, 0};  // opposite vectors stay finite
    slerp_vr(out, a, c, 0.5f);
    EXPECT_FALSE(std::isnan(out[0]));
}

}  // namespace
