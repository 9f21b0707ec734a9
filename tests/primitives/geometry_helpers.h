// Builders and checks shared by the geometry tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "primitives/mesh.h"
#include "primitives/n_poly.h"
#include "tests/common/log_fixture.h"

namespace geometry_test {

struct pt {
    float x, y, z;
};

// Fills poly with its own vertices at the given positions (normal (0, 0, 1),
// texture (u, v) = (x, y)) and computes its normal from their order.
inline void make_poly(vantrel::n_poly& poly, const std::vector<pt>& pts)
{
    ASSERT_EQ(poly._alloc_verts((int)pts.size()), 0);
    int k = 0;
    for (const pt& p : pts) {
        vantrel::mrv_vertex& v = poly.va[k++];
        v.v[0] = p.x;
        v.v[1] = p.y;
        v.v[2] = p.z;
        v.n[0] = v.n[1] = 0;
        v.n[2] = 1;
        v.t[0] = p.x;
        v.t[1] = p.y;
    }
    if (pts.size() >= 2)
        poly.calculate_normal(nullptr);
}

// A plane through point p with unit normal n (a one-vertex polygon).
inline void make_plane(vantrel::n_poly& plane, pt p, pt n)
{
    ASSERT_EQ(plane._alloc_verts(1), 0);
    plane.va[0].v[0] = p.x;
    plane.va[0].v[1] = p.y;
    plane.va[0].v[2] = p.z;
    double len = std::sqrt((double)n.x * n.x + (double)n.y * n.y + (double)n.z * n.z);
    plane.normal[0] = (float)(n.x / len);
    plane.normal[1] = (float)(n.y / len);
    plane.normal[2] = (float)(n.z / len);
    plane.normal[3] = 0;
}

inline const float* pos(vantrel::base_primitive& p, int k)
{
    return p.va[p.vi[k]].v;
}

inline void expect_pos(vantrel::base_primitive& p, int k, pt want)
{
    const float* v = pos(p, k);
    EXPECT_NEAR(v[0], want.x, 1e-5) << "vertex " << k;
    EXPECT_NEAR(v[1], want.y, 1e-5) << "vertex " << k;
    EXPECT_NEAR(v[2], want.z, 1e-5) << "vertex " << k;
}

using vantrel_test::capture;

// The area of a polygon (Newell's vector area), in double.
inline double area(vantrel::base_primitive& p)
{
    double a[3] = {0, 0, 0};
    for (int k = 0; k < p.nverts; ++k) {
        const float *u = pos(p, k), *w = pos(p, (k + 1) % p.nverts);
        a[0] += (double)u[1] * w[2] - (double)u[2] * w[1];
        a[1] += (double)u[2] * w[0] - (double)u[0] * w[2];
        a[2] += (double)u[0] * w[1] - (double)u[1] * w[0];
    }
    return 0.5 * std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
}

typedef std::vector<std::vector<pt>> face_list;

// A mesh of the given faces, each polygon built by make_poly, then unified.
inline void make_mesh(vantrel::mesh_t& mesh, const face_list& faces)
{
    ASSERT_EQ(mesh._alloc_polys((int)faces.size()), 0);
    for (size_t i = 0; i < faces.size(); ++i)
        make_poly(mesh.polys[i], faces[i]);
    ASSERT_EQ(mesh.unify_vertices(), 0);
}

// The unit cube [0, 1]^3, faces counter-clockwise seen from outside.
inline face_list cube_faces()
{
    return {
        {{0, 0, 0}, {0, 0, 1}, {0, 1, 1}, {0, 1, 0}},  // -x
        {{1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 0, 1}},  // +x
        {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}},  // -y
        {{0, 1, 0}, {0, 1, 1}, {1, 1, 1}, {1, 1, 0}},  // +y
        {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}},  // -z
        {{0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}},  // +z
    };
}

}  // namespace geometry_test
