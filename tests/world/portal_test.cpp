// Portals and visible sets: portal invariants on real levels, the cleanup
// rules, the anti-penumbra narrowing, visibility through straight and bent
// corridors, and builds of bad or starved input.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <set>

#include "world/bsp_local.h"
#include "kdbase/mem_collector.h"
#include "tests/world/bsp_test_util.h"
#include "tools/level_gen.h"

using namespace vantrel;
using namespace bsp_test;

namespace {

class portal_test : public bsp_fixture {
protected:
    // A square portal in the plane x = x0 (facing +x), joining the given leaves.
    static bsp_portal_t* square(float x0, float y0, float z0, float size, std::vector<int> leaves)
    {
        bsp_portal_t* p = new bsp_portal_t;
        p->_alloc_verts(4);
        float c[4][3] = {{x0, y0, z0}, {x0, y0 + size, z0}, {x0, y0 + size, z0 + size}, {x0, y0, z0 + size}};
        for (int k = 0; k < 4; ++k) {
            memcpy(p->va[k].v, c[k], sizeof c[k]);
            memset(p->va[k].n, 0, sizeof p->va[k].n);
            memset(p->va[k].t, 0, sizeof p->va[k].t);
        }
        p->calculate_normal(nullptr);
        for (int l : leaves)
            p->leafs.insert((void*)(intptr_t)l);
        return p;
    }
};

std::vector<int> leaves_of(bsp_portal_t* p)
{
    std::vector<int> v;
    for (d_node* n = p->leafs.first; n; n = n->next)
        v.push_back(leaf_of(n));
    return v;
}

// Portals join two distinct empty leaves, no pair twice, and connect every
// empty leaf of a connected level.
void check_portal_graph(solid_bsp_t& t, d_list* portals)
{
    std::set<std::pair<int, int>> pairs;
    std::map<int, std::vector<int>> adj;
    for (d_node* n = portals->first; n; n = n->next) {
        std::vector<int> l = leaves_of(static_cast<bsp_portal_t*>(n->object));
        ASSERT_EQ(l.size(), 2u);
        ASSERT_NE(l[0], l[1]);
        for (int leaf : l)
            ASSERT_TRUE(is_empty_leaf(t.i_nodes[leaf])) << leaf;
        ASSERT_TRUE(pairs.insert({std::min(l[0], l[1]), std::max(l[0], l[1])}).second) << l[0] << "-" << l[1];
        adj[l[0]].push_back(l[1]);
        adj[l[1]].push_back(l[0]);
    }
    std::set<int> seen;
    std::vector<int> todo{adj.begin()->first};
    while (!todo.empty()) {
        int l = todo.back();
        todo.pop_back();
        if (!seen.insert(l).second)
            continue;
        for (int m : adj[l])
            todo.push_back(m);
    }
    EXPECT_EQ((int)seen.size(), t.stats.empty);
}

TEST_F(portal_test, rooms_see_through_doorways_and_not_round_corners)
{
    const float room = 8, pitch = 12;  // the generator's default sizes
    struct row {
        const char* level;
        int mode;
        float a[2], b[2];  // room centres as (x, z), at y = 1
        bool sees;
    } rows[] = {
        {"two_rooms.txt", BSP_MODE_LITERAL, {room / 2, room / 2}, {room / 2 + pitch, room / 2}, true},
        {"corridor.txt", BSP_MODE_SOUND, {room / 2, room / 2}, {room / 2 + 2 * pitch, room / 2}, true},
        {"dog_leg.txt", BSP_MODE_SOUND, {room / 2, room / 2}, {room / 2 + pitch, room / 2 + pitch}, false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.level);
        solid_bsp_t t;
        t.options.mode = r.mode;
        ASSERT_EQ(t.build((char*)level(r.level).c_str()), 0);
        float pa[4] = {r.a[0], 1, r.a[1], 0}, pb[4] = {r.b[0], 1, r.b[1], 0};
        bsp_index_t* la = t.get_leaf_at_pos(pa);
        bsp_index_t* lb = t.get_leaf_at_pos(pb);
        ASSERT_NE(la, nullptr);
        ASSERT_NE(lb, nullptr);
        EXPECT_EQ(sees(la, leaf_number(t, lb)), r.sees);
        EXPECT_EQ(sees(lb, leaf_number(t, la)), r.sees);
        EXPECT_FALSE(sees(la, leaf_number(t, la)));
        d_list portals(1);
        ASSERT_EQ(t._build_portals(0, &portals), 0);
        check_portal_graph(t, &portals);
    }
}

TEST_F(portal_test, indexed_portal_build_equals_the_plain_sweep_after_every_node)
{
    d_list meshes(1);
    load(vantrel_levels::grid_level(2, 3, 5), &meshes);
    solid_bsp_t t;
    ASSERT_EQ(build_tree(t, &meshes), 0);

    d_list fast(1), plain(1);
    ASSERT_EQ(t._build_portals(0, &fast), 0);
    std::function<void(int)> visit = [&](int node) {
        bsp_portal_t* sq = new bsp_portal_t;
        ASSERT_EQ(sq->calculate(t.i_nodes[node]), 0);
        d_list frags(1);
        if (sq->clip(t.i_nodes, node, &frags) != -1) {
            plain.cat(&frags);
            frags.delete_elements = 0;
        }
        delete sq;
        ASSERT_GE(remove_invalid_portals(&plain), 0);
        for (int child : {t.i_nodes[node]->front, t.i_nodes[node]->back})
            if (!FLAG_ISSET(t.i_nodes[child]->flags, BN_ISLEAF))
                visit(child);
    };
    visit(0);
    ASSERT_EQ(fast.count, plain.count);
    ASSERT_GT(fast.count, 0);
    for (d_node *a = fast.first, *b = plain.first; a && b; a = a->next, b = b->next) {
        bsp_portal_t* pa = static_cast<bsp_portal_t*>(a->object);
        bsp_portal_t* pb = static_cast<bsp_portal_t*>(b->object);
        ASSERT_EQ(leaves_of(pa), leaves_of(pb));
        ASSERT_TRUE(are_equal_polys(pa, pb));
    }
    // A portal in solid space (a square parallel to the root's plane of a
    // room, well behind it) leaves no fragment.
    d_list box(1), frags(1);
    load(box_room(0, 4, 0, 4, 0, 4), &box);
    solid_bsp_t room;
    ASSERT_EQ(build_tree(room, &box), 0);
    bsp_portal_t sq;
    ASSERT_EQ(sq.calculate(&room.root), 0);
    for (int k = 0; k < 4; ++k)
        for (int a = 0; a < 3; ++a)
            sq.va[k].v[a] -= 5 * room.root.normal[a];
    EXPECT_EQ(sq.clip(room.i_nodes, 0, &frags), -2);
    EXPECT_EQ(frags.count, 0);
}

TEST_F(portal_test, cleanup_keeps_the_larger_twin_and_drops_equal_ones)
{
    d_list l(1);
    bsp_portal_t* small = square(0, 0, 0, 1, {3, 5});
    bsp_portal_t* large = square(0, 0, 0, 2, {5, 3});
    bsp_portal_t* lone = square(1, 0, 0, 2, {7});
    bsp_portal_t* eq1 = square(2, 0, 0, 1, {8, 9});
    bsp_portal_t* eq2 = square(3, 5, 5, 1, {9, 8});
    for (bsp_portal_t* p : {small, large, lone, eq1, eq2})
        l.insert(p);
    EXPECT_TRUE(found_bigger_portal(&l, small));
    EXPECT_FALSE(found_bigger_portal(&l, large));
    EXPECT_TRUE(found_bigger_portal(&l, eq1));
    EXPECT_TRUE(found_bigger_portal(&l, eq2));
    EXPECT_EQ(remove_invalid_portals(&l), 4);
    ASSERT_EQ(l.count, 1);
    EXPECT_EQ(l.first->object, large);

    // A three-leaf fragment outdoes a smaller portal of two of its leaves and
    // goes itself.
    d_list m(1);
    m.insert(square(0, 0, 0, 1, {1, 2}));
    m.insert(square(0, 0, 0, 3, {2, 4, 1}));
    EXPECT_EQ(remove_invalid_portals(&m), 2);
    EXPECT_EQ(m.count, 0);
    // Visible leaves are listed once, and leaves are placed by their centre.
    bsp_index_t leaf;
    EXPECT_EQ(leaf.add_visible_leaf(4), 0);
    EXPECT_EQ(leaf.add_visible_leaf(4), 0);
    EXPECT_EQ(leaf.visible_leafs.count, 1);
    bsp_portal_t* a = square(0, 0, 0, 1, {1, 2});
    set_v(leaf.bbox.min, 1, 0, 0, 0);
    set_v(leaf.bbox.max, 3, 1, 1, 0);
    EXPECT_EQ(get_leaf_loc(&leaf, a), PL_FRONT);
    set_v(leaf.bbox.min, -3, 0, 0, 0);
    set_v(leaf.bbox.max, -1, 1, 1, 0);
    EXPECT_EQ(get_leaf_loc(&leaf, a), PL_BACK);
    delete a;
}

// The narrowing as written down: all planes made first, then applied in order.
bool reference_clip(bsp_portal_t* gen, bsp_portal_t* src, bsp_portal_t* target, bsp_portal_t* out)
{
    d_list planes(1);
    if (_create_AP_planes(src, target, &planes) != 0 || out->copy(gen) != 0)
        return false;
    for (d_node* n = planes.first; n; n = n->next) {
        n_poly* pl = static_cast<n_poly*>(n->object);
        int lo = p_location_poly(out, pl), ls = p_location_poly(src, pl);
        if (lo == ls || lo == PL_ONPLANE)
            return false;
        if (lo == PL_SPANNING && (ls == PL_FRONT || ls == PL_BACK)) {
            n_poly f, b;
            if (split_poly(out, pl, &f, &b) != 0 || out->_copy_verts(ls == PL_FRONT ? &b : &f) != 0)
                return false;
        }
    }
    return true;
}

TEST_F(portal_test, generator_narrowing_matches_the_plane_list)
{
    std::mt19937 rng(17);
    std::uniform_int_distribution<int> pos(-6, 6), size(1, 6);
    int visible = 0;
    for (int round = 0; round < 300; ++round) {
        bsp_portal_t* src = square(0, (float)pos(rng), (float)pos(rng), (float)size(rng), {1, 2});
        bsp_portal_t* target = square(4, (float)pos(rng), (float)pos(rng), (float)size(rng), {2, 3});
        bsp_portal_t* gen = square((float)(5 + size(rng)), (float)pos(rng), (float)pos(rng), (float)size(rng), {3, 4});
        bsp_portal_t a, b;
        bool fa = clip_gen_portal_to_AP(gen, src, target, &a);
        bool fb = reference_clip(gen, src, target, &b);
        ASSERT_EQ(fa, fb) << round;
        if (fa) {
            ++visible;
            ASSERT_TRUE(are_equal_polys(&a, &b)) << round;
            EXPECT_EQ(leaves_of(&a), leaves_of(gen));
        }
        delete src;
        delete target;
        delete gen;
    }
    // Both outcomes occur.
    EXPECT_GT(visible, 10);
    EXPECT_LT(visible, 290);
}

TEST_F(portal_test, bad_levels_and_failed_allocations_never_crash_a_build)
{
    std::string rooms = vantrel_levels::two_rooms_level();
    // A gap: the first wall polygon of room A goes missing.
    std::string gap = rooms;
    size_t wall = gap.find("[poly]", gap.find("[poly]", gap.find("[poly]") + 1) + 1);
    gap.erase(wall, gap.find("[end poly]\n", wall) + 11 - wall);
    // A degenerate polygon (all points on one line) and a polygon twice.
    std::string degenerate = rooms;
    degenerate.insert(degenerate.find("[end mesh]"), "[poly]\nv 1 0 1\nv 2 0 2\nv 3 0 3\n[end poly]\n");
    std::string twice = rooms;
    size_t p0 = twice.find("[poly]");
    twice.insert(p0, twice.substr(p0, twice.find("[end poly]\n") + 11 - p0));
    // Coordinates beyond float range: infinite vertices, planes without a side.
    std::string huge = rooms;
    huge.insert(huge.find("[end mesh]"), "[poly]\nv 1e39 0 1\nv 2 0 2\nv 3 1 3\n[end poly]\n");
    for (const std::string& text : {gap, degenerate, twice, huge}) {
        solid_bsp_t t;
        clear_log();
        float inside[4] = {4, 1, 4, 0};
        if (build_text(t, text) != 0)
            EXPECT_FALSE(log_lines().empty());
        else
            EXPECT_NE(t.get_leaf_at_pos(inside), nullptr);
    }
    std::string text = vantrel_levels::two_rooms_level();
    set_log_priority(EL_MINOR);
    int n = 0, failures = 0;
    for (;; n += n < 300 ? 1 : 97) {
        solid_bsp_t t;
        mc_fail_after(n);
        int rc = build_text(t, text);
        mc_fail_after(-1);
        if (rc == 0)
            break;
        ++failures;
        ASSERT_LT(n, 2000000);
    }
    EXPECT_GT(failures, 100);
}

}  // namespace
