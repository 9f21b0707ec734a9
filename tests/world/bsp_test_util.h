// Helpers of the BSP tests: levels from text, tree walks and polygon areas.
#pragma once

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "kdbase/d_list.h"
#include "kdbase/kdbase_math.h"
#include "primitives/mesh.h"
#include "primitives/poly_list.h"
#include "tests/common/log_fixture.h"
#include "world/bsp_portal.h"
#include "world/bsp_local.h"
#include "world/solid_bsp.h"

namespace bsp_test {

using namespace vantrel;

inline mesh_t* mesh_at(d_node* n)
{
    return static_cast<mesh_t*>(n->object);
}

inline int leaf_of(d_node* n)
{
    return (int)(intptr_t)n->data;
}

inline bool is_empty_leaf(bsp_index_t* b)
{
    return FLAG_ISSET(b->flags, BN_ISLEAF) && !FLAG_ISSET(b->flags, BN_ISSOLID);
}

inline double poly_area(n_poly* p)
{
    double sum[3] = {0, 0, 0};
    const float* a = p->va[p->vi[0]].v;
    for (int k = 1; k + 1 < p->nverts; ++k) {
        const float* b = p->va[p->vi[k]].v;
        const float* c = p->va[p->vi[k + 1]].v;
        double u[3] = {(double)b[0] - a[0], (double)b[1] - a[1], (double)b[2] - a[2]};
        double v[3] = {(double)c[0] - a[0], (double)c[1] - a[1], (double)c[2] - a[2]};
        sum[0] += u[1] * v[2] - u[2] * v[1];
        sum[1] += u[2] * v[0] - u[0] * v[2];
        sum[2] += u[0] * v[1] - u[1] * v[0];
    }
    return std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]) / 2;
}

inline double mesh_list_area(d_list* meshes)
{
    double a = 0;
    for (d_node* n = meshes->first; n; n = n->next)
        for (int p = 0; p < mesh_at(n)->npolys; ++p)
            a += poly_area(&mesh_at(n)->polys[p]);
    return a;
}

// A box room [x0,x1] x [y0,y1] x [z0,z1] facing inwards, as polygon list text.
inline std::string box_room(float x0, float x1, float y0, float y1, float z0, float z1)
{
    char b[4096];
    snprintf(b, sizeof b,
             "[mesh]\n"
             "[poly]\nv %g %g %g\nv %g %g %g\nv %g %g %g\nv %g %g %g\n[end poly]\n"  // floor, +y
             "[poly]\nv %g %g %g\nv %g %g %g\nv %g %g %g\nv %g %g %g\n[end poly]\n"  // ceiling, -y
             "[poly]\nv %g %g %g\nv %g %g %g\nv %g %g %g\nv %g %g %g\n[end poly]\n"  // x0, +x
             "[poly]\nv %g %g %g\nv %g %g %g\nv %g %g %g\nv %g %g %g\n[end poly]\n"  // x1, -x
             "[poly]\nv %g %g %g\nv %g %g %g\nv %g %g %g\nv %g %g %g\n[end poly]\n"  // z0, +z
             "[poly]\nv %g %g %g\nv %g %g %g\nv %g %g %g\nv %g %g %g\n[end poly]\n"  // z1, -z
             "[end mesh]\n",
             x0, y0, z0, x0, y0, z1, x1, y0, z1, x1, y0, z0,  //
             x0, y1, z0, x1, y1, z0, x1, y1, z1, x0, y1, z1,  //
             x0, y0, z0, x0, y1, z0, x0, y1, z1, x0, y0, z1,  //
             x1, y0, z0, x1, y0, z1, x1, y1, z1, x1, y1, z0,  //
             x0, y0, z0, x1, y0, z0, x1, y1, z0, x0, y1, z0,  //
             x0, y0, z1, x0, y1, z1, x1, y1, z1, x1, y0, z1);
    return b;
}

// Visits every node with the planes (node number, side: true = front) above it.
inline void walk_tree(solid_bsp_t& t, int node, std::vector<std::pair<int, bool>>& path,
                      const std::function<void(int, const std::vector<std::pair<int, bool>>&)>& visit)
{
    visit(node, path);
    bsp_index_t* b = t.i_nodes[node];
    if (FLAG_ISSET(b->flags, BN_ISLEAF))
        return;
    path.push_back({node, true});
    walk_tree(t, b->front, path, visit);
    path.back().second = false;
    walk_tree(t, b->back, path, visit);
    path.pop_back();
}

inline int leaf_number(solid_bsp_t& t, bsp_index_t* leaf)
{
    for (int k = 0; k < t.stats.ni_nodes; ++k)
        if (t.i_nodes[k] == leaf)
            return k;
    return -1;
}

inline bool sees(bsp_index_t* from, int leaf)
{
    for (d_node* n = from->visible_leafs.first; n; n = n->next)
        if (leaf_of(n) == leaf)
            return true;
    return false;
}

}  // namespace bsp_test
