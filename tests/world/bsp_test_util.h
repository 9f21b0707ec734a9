// Helpers of the BSP tests: levels from text, tree walks and polygon areas.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "kdbase/d_list.h"
#include "kdbase/kdbase_math.h"
#include "primitives/mesh.h"
#include "primitives/poly_list.h"
#include "tests/common/log_fixture.h"
#include "tests/primitives/geometry_helpers.h"
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

using geometry_test::area;

inline double mesh_list_area(d_list* meshes)
{
    double a = 0;
    for (d_node* n = meshes->first; n; n = n->next)
        for (int p = 0; p < mesh_at(n)->npolys; ++p)
            a += area(mesh_at(n)->polys[p]);
    return a;
}

// A box room [x0,x1] x [y0,y1] x [z0,z1] facing inwards, as polygon list text
// (with x0 > x1 the same box faces outwards).
inline std::string box_room(float x0, float x1, float y0, float y1, float z0, float z1)
{
    // Per face, the corners as bits: x1 (4), y1 (2), z1 (1).
    static const int faces[6][4] = {{0, 1, 5, 4}, {2, 6, 7, 3}, {0, 2, 3, 1}, {4, 5, 7, 6}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    std::string s = "[mesh]\n";
    char b[96];
    for (const auto& f : faces) {
        s += "[poly]\n";
        for (int c : f) {
            snprintf(b, sizeof b, "v %g %g %g\n", c & 4 ? x1 : x0, c & 2 ? y1 : y0, c & 1 ? z1 : z0);
            s += b;
        }
        s += "[end poly]\n";
    }
    return s + "[end mesh]\n";
}

// The fixture of the BSP tests: shipped levels, levels from text, bare trees.
class bsp_fixture : public vantrel_test::log_test {
protected:
    static std::string level(const std::string& name) { return vantrel_test::source_dir() + "/data/levels/" + name; }

    int build_text(solid_bsp_t& t, const std::string& text)
    {
        return t.build((char*)write_file("level.txt", text).c_str());
    }

    // Loads polygon list text into an owning mesh list.
    void load(const std::string& text, d_list* meshes)
    {
        ASSERT_EQ(load_poly_list((char*)write_file("level.txt", text).c_str(), nullptr, meshes), 0);
    }

    // The tree alone (no portals), as the first step of build makes it.
    static int build_tree(solid_bsp_t& t, d_list* meshes)
    {
        if (t._add_to_i_nodes(&t.root) != 0)
            return -1;
        return t._build_solid_bsp(&t.root, meshes, &t.stats);
    }
};

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
