// The solid BSP tree: splitter choice, the recursive build, statistics,
// point location, ownership and deep printing.
#include <gtest/gtest.h>

#include <random>

#include "tests/world/bsp_test_util.h"
#include "tools/level_gen.h"
#include "world/bsp_plane.h"
#include "world/bsp_local.h"

using namespace vantrel;
using namespace bsp_test;

namespace {

using solid_bsp_test = bsp_fixture;

// The splitter search as written down, one p_location_poly call per test,
// to hold the flattened search in select_splitter to the same choices.
n_poly* reference_splitter(d_list* meshes)
{
    int best = 2147483647;
    n_poly* choice = nullptr;
    for (d_node* cm = meshes->first; cm; cm = cm->next) {
        for (int ci = 0; ci < mesh_at(cm)->npolys; ++ci) {
            n_poly* c = &mesh_at(cm)->polys[ci];
            if (c->flags & BSP_USED_AS_SPLITTER)
                continue;
            int front = 0, back = 0, split = 0;
            for (d_node* m = meshes->first; m; m = m->next) {
                int behind = 0;
                for (int pi = 0; pi < mesh_at(m)->npolys; ++pi) {
                    n_poly* p = &mesh_at(m)->polys[pi];
                    if (p == c)
                        continue;
                    int r = p_location_poly(c, p);
                    if (r == PL_BACK || (r == PL_ONPLANE && dotproduct_v(c->normal, p->normal) < 0))
                        ++behind;
                    r = p_location_poly(p, c);
                    if (r == PL_BACK)
                        ++back;
                    else if (r == PL_FRONT)
                        ++front;
                    else if (r == PL_ONPLANE)
                        (dotproduct_v(p->normal, c->normal) >= 0 ? front : back) += 1;
                    else if (r == PL_SPANNING)
                        ++split;
                }
                if (behind == mesh_at(m)->npolys) {
                    c->flags |= BSP_USED_AS_SPLITTER;
                    break;
                }
                int score = _splitter_score(front, back, split);
                if (score < best) {
                    best = score;
                    choice = c;
                }
            }
        }
    }
    if (choice)
        choice->flags |= BSP_USED_AS_SPLITTER;
    return choice;
}

// Position of a polygon in a mesh list, as (mesh, polygon).
std::pair<int, int> where(d_list* meshes, n_poly* p)
{
    int m = 0;
    for (d_node* n = meshes->first; n; n = n->next, ++m)
        for (int k = 0; k < mesh_at(n)->npolys; ++k)
            if (&mesh_at(n)->polys[k] == p)
                return {m, k};
    return {-1, -1};
}

TEST_F(solid_bsp_test, plane_tests_and_splitter_choice_match_the_plain_searches)
{
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> coord(-8, 8);
    n_poly plane;
    ASSERT_EQ(plane._alloc_verts(3), 0);
    for (int round = 0; round < 2000; ++round) {
        for (int k = 0; k < 3; ++k)
            for (int a = 0; a < 3; ++a)
                plane.va[k].v[a] = coord(rng) * 0.25f;
        plane.calculate_normal(nullptr);
        bsp_plane fast;
        fast.set(&plane);
        // Points on, near and off the plane.
        float x[3];
        for (int a = 0; a < 3; ++a)
            x[a] = plane.va[0].v[a] + plane.normal[a] * (coord(rng) * 0.00003f) + (round % 3 == 0 ? coord(rng) : 0);
        ASSERT_EQ(fast.side(x), p_location_v(x, &plane)) << round;
    }
    // The flattened splitter search makes the choices of the plain one.
    rng.seed(5);
    coord = std::uniform_int_distribution<int>(-4, 4);
    for (int round = 0; round < 20; ++round) {
        std::string text;
        for (int m = 0; m < 4; ++m) {
            text += "[mesh]\n";
            for (int p = 0; p < 5; ++p) {
                text += "[poly]\n";
                for (int k = 0; k < 3; ++k)
                    text += "v " + std::to_string(coord(rng)) + " " + std::to_string(coord(rng)) + " " +
                            std::to_string(coord(rng)) + "\n";
                text += "[end poly]\n";
            }
            text += "[end mesh]\n";
        }
        d_list a(1), b(1);
        load(text, &a);
        load(text, &b);
        for (;;) {
            n_poly* x = select_splitter(&a);
            n_poly* y = reference_splitter(&b);
            ASSERT_EQ(where(&a, x), where(&b, y)) << "round " << round;
            if (!x)
                break;
        }
    }
    // With the default weights: 3 front, 1 back, 1 split scores 2 + 8; all
    // behind is punished hard.
    EXPECT_EQ(_splitter_score(3, 1, 1), 10);
    EXPECT_EQ(_splitter_score(0, 2, 0), 2502);
    EXPECT_EQ(BSP_BALANCE_W(3), 3);
    EXPECT_EQ(_splitter_score(3, 1, 1), 3 * 2 + 8);
    BSP_BALANCE_W(1);
}

TEST_F(solid_bsp_test, convex_room_is_a_front_chain_and_bad_files_fail_with_a_reason)
{
    d_list meshes(1);
    load(box_room(0, 10, 0, 4, 0, 8), &meshes);
    solid_bsp_t t;
    ASSERT_EQ(build_tree(t, &meshes), 0);
    EXPECT_EQ(t.stats.empty, 1);
    EXPECT_EQ(t.stats.ni_nodes, 13);
    // Every internal node's back child is solid, its front child the next node.
    int n = 0;
    for (; !FLAG_ISSET(t.i_nodes[n]->flags, BN_ISLEAF); n = t.i_nodes[n]->front)
        EXPECT_TRUE(FLAG_ISSET(t.i_nodes[t.i_nodes[n]->back]->flags, BN_ISSOLID));
    bsp_index_t* leaf = t.i_nodes[n];
    ASSERT_NE(leaf->meshes, nullptr);
    EXPECT_EQ(leaf->meshes[0], 0);
    EXPECT_EQ(leaf->meshes[1], -1);
    EXPECT_FLOAT_EQ(leaf->bbox.max[0], 10);
    float inside[4] = {5, 2, 4, 0}, outside[4] = {-1, 2, 4, 0}, on_wall[4] = {0, 2, 4, 0};
    EXPECT_EQ(t.get_leaf_at_pos(inside), leaf);
    EXPECT_EQ(t.get_leaf_at_pos(outside), nullptr);
    // On a node's plane the walk goes to the front.
    EXPECT_EQ(t.get_leaf_at_pos(on_wall), leaf);
    // Built whole, it fails for want of portals.
    solid_bsp_t whole;
    whole.options.mode = BSP_MODE_LITERAL;
    EXPECT_EQ(build_text(whole, box_room(0, 10, 0, 4, 0, 8)), -1);
    EXPECT_TRUE(log_has("nmeshes=1 balance=5 nodes=13 empty=1 solid=6"));
    EXPECT_TRUE(log_has("portals=0"));
    EXPECT_TRUE(log_has("_build_pvs(): leaf"));
    // Empty and broken files fail with a reason.
    solid_bsp_t a, b, c;
    EXPECT_EQ(build_text(a, ""), -1);
    EXPECT_TRUE(log_has("_build_solid_bsp(): all polygons have been used as splitters"));
    EXPECT_EQ(b.build((char*)path("missing.txt").c_str()), -1);
    EXPECT_EQ(build_text(c, "v 1 2\n[poly]\nv x y z\n\x01\x02[end mesh]\nt\n"), -1);
}

TEST_F(solid_bsp_test, grid_tree_invariants)
{
    d_list input(1), meshes(1);
    std::string text = vantrel_levels::grid_level(3, 3, 7);
    load(text, &input);
    load(text, &meshes);
    solid_bsp_t t;
    ASSERT_EQ(build_tree(t, &meshes), 0);
    const solid_bsp_stats_t& s = t.stats;
    EXPECT_EQ(s.ni_nodes, s.nnodes + s.empty + s.solid);
    EXPECT_EQ(s.balance, s.nfront - s.nback);
    EXPECT_EQ(s.nfront + s.nback + 1, s.nnodes);

    // The leaves hold exactly the input surface, each polygon on the side of
    // every plane above it that its path took.
    double leaf_area = 0;
    int leaf_polys = 0, empty = 0;
    std::vector<std::pair<int, bool>> path;
    walk_tree(t, 0, path, [&](int node, const std::vector<std::pair<int, bool>>& above) {
        bsp_index_t* b = t.i_nodes[node];
        if (!is_empty_leaf(b))
            return;
        ++empty;
        for (int m = 0; b->meshes[m] != -1; ++m) {
            mesh_t* mesh = t.meshes[b->meshes[m]];
            for (int p = 0; p < mesh->npolys; ++p) {
                n_poly* poly = &mesh->polys[p];
                leaf_area += area(*poly);
                ++leaf_polys;
                for (auto& [plane, front] : above) {
                    bsp_index_t* pl = t.i_nodes[plane];
                    int r = p_location_poly(poly, pl);
                    if (r == PL_ONPLANE)
                        r = dotproduct_v(poly->normal, pl->normal) >= 0 ? PL_FRONT : PL_BACK;
                    ASSERT_EQ(r, front ? PL_FRONT : PL_BACK) << "leaf " << node << " plane " << plane;
                }
            }
        }
    });
    EXPECT_EQ(empty, s.empty);
    EXPECT_EQ(leaf_polys, s.npolys);
    EXPECT_NEAR(leaf_area, mesh_list_area(&input), 1e-3 * leaf_area);

    // Room centres are open space, the ground between rooms is solid.
    vantrel_levels::level_dims d;
    double pitch = d.room + d.tunnel;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            float centre[4] = {(float)(j * pitch + d.room / 2), 1, (float)(i * pitch + d.room / 2), 0};
            EXPECT_NE(t.get_leaf_at_pos(centre), nullptr) << i << "," << j;
            float wall[4] = {(float)(j * pitch + d.room + d.tunnel / 2), 1, (float)(i * pitch + 0.5), 0};
            EXPECT_EQ(t.get_leaf_at_pos(wall), nullptr) << i << "," << j;
        }
    }
}

TEST_F(solid_bsp_test, replace_moves_ownership_and_copy_shares)
{
    d_list meshes(1);
    load(box_room(0, 4, 0, 4, 0, 4), &meshes);
    solid_bsp_t* src = new solid_bsp_t;
    ASSERT_EQ(build_tree(*src, &meshes), 0);
    solid_bsp_t dst;
    dst.replace(src);
    EXPECT_EQ(src->i_nodes, nullptr);
    EXPECT_EQ(src->meshes, nullptr);
    delete src;  // must not free what dst now owns
    EXPECT_EQ(dst.i_nodes[0], &dst.root);
    EXPECT_EQ(dst.stats.ni_nodes, 13);
    float inside[4] = {2, 2, 2, 0};
    EXPECT_NE(dst.get_leaf_at_pos(inside), nullptr);
    {
        solid_bsp_t view;
        view.copy(&dst);
        EXPECT_NE(view.get_leaf_at_pos(inside), nullptr);
    }
    // The shared tables survive the copy's destruction.
    dst.i_nodes[0] = &dst.root;
    EXPECT_NE(dst.get_leaf_at_pos(inside), nullptr);
}

TEST_F(solid_bsp_test, deep_trees_print_without_overflowing_the_prefix)
{
    // A chain of 80 nodes: the prefix stops growing at its buffer's size.
    std::vector<bsp_index_t> nodes(81);
    std::vector<bsp_index_t*> table;
    for (int k = 0; k < 81; ++k) {
        table.push_back(&nodes[k]);
        if (k < 80) {
            nodes[k].flags = BN_ISLEAF | BN_ISSOLID;  // printed as leaves, followed anyway
            nodes[k].front = k + 1;
        }
    }
    std::string s = vantrel_test::capture([&](FILE* f) { dump_tree_indexes(f, table.data(), 0, ""); });
    EXPECT_NE(s.find(std::string(94, '*') + "index=80"), std::string::npos);
}

}  // namespace
