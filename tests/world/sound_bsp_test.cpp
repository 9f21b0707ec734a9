// The sound build: real and generated levels at any placement compile with
// no missed sightline (the checker users run), sealed pockets, splits of
// many-sided polygons, and the literal mode's misses that the checker finds.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>

#include "world/bsp_local.h"
#include "tests/world/bsp_test_util.h"
#include "tools/level_gen.h"

using namespace vantrel;
using namespace bsp_test;

namespace {

// The level text with every vertex rotated about y by `turn` radians, then
// about x by `tilt`, and moved by `shift`.
std::string moved(const std::string& text, double turn, double tilt, const double* shift)
{
    std::istringstream in(text);
    std::string line, out;
    while (std::getline(in, line)) {
        double x, y, z;
        if (line.size() > 2 && line[0] == 'v' && sscanf(line.c_str() + 1, "%lf %lf %lf", &x, &y, &z) == 3) {
            double x1 = x * cos(turn) + z * sin(turn), z1 = -x * sin(turn) + z * cos(turn);
            double y2 = y * cos(tilt) - z1 * sin(tilt), z2 = y * sin(tilt) + z1 * cos(tilt);
            char b[128];
            snprintf(b, sizeof b, "v %.9g %.9g %.9g", x1 + shift[0], y2 + shift[1], z2 + shift[2]);
            line = b;
        }
        out += line + "\n";
    }
    return out;
}

class sound_bsp_test : public bsp_fixture {
protected:
    // Zero missed sightlines among n sampled, symmetric sets, and every empty
    // leaf with real bounds.
    void expect_sound(solid_bsp_t& t, const std::string& what, int n = 400)
    {
        bsp_vis_check_t vc;
        ASSERT_EQ(bsp_check_vis(&t, n, 7, &vc), 0) << what;
        EXPECT_GT(vc.tested, n / 2) << what;
        EXPECT_EQ(vc.missed, 0) << what << ": e.g. leaf " << vc.example[0].leaf_a << " to " << vc.example[0].leaf_b;
        EXPECT_EQ(vc.through_solid, 0) << what << ": the level is closed";
        std::set<std::pair<int, int>> pairs;
        for (int k = 0; k < t.stats.ni_nodes; ++k) {
            bsp_index_t* b = t.i_nodes[k];
            if (!is_empty_leaf(b))
                continue;
            for (int a = 0; a < 3; ++a)
                EXPECT_LE(b->bbox.min[a], b->bbox.max[a]) << what << " leaf " << k;
            for (d_node* v = b->visible_leafs.first; v; v = v->next)
                pairs.insert({k, leaf_of(v)});
        }
        for (auto& p : pairs)
            EXPECT_TRUE(pairs.count({p.second, p.first})) << what << ": " << p.first << " sees " << p.second;
    }
};

TEST_F(sound_bsp_test, every_level_and_a_many_sided_tower_compile_with_no_missed_sightline)
{
    const double far[3] = {29000, -3000, -29500};
    {
        solid_bsp_t t;
        ASSERT_EQ(build_text(t, moved(vantrel_levels::dog_leg_level(), 1.0, 0.2, far)), 0);
        expect_sound(t, "dog leg turned");
    }
    // Every shipped level, and the small real level (the larger ones are
    // measured by the benchmark).
    std::vector<std::string> files;
    for (auto& e : std::filesystem::directory_iterator(level("")))
        if (e.path().extension() == ".txt")
            files.push_back(e.path().string());
    EXPECT_GE(files.size(), 3u);
    std::string real = vantrel_test::testdata_dir();
    if (real.empty())
        std::cout << "[ note ] ../shared/testdata is missing: the real level is skipped\n";
    else
        files.push_back(real + "/levels/lq_e2m1.polys.txt");
    for (auto& f : files) {
        solid_bsp_t t;
        ASSERT_EQ(t.build((char*)f.c_str()), 0) << f;
        expect_sound(t, f);
    }
    // A round tower of 100 sides: the walls cut the floor and ceiling into
    // halves of more than 64 points.
    std::string floor = "[poly]\n", ceiling = "[poly]\n", walls;
    char b[160];
    for (int k = 0; k < 100; ++k) {
        double a0 = 2 * M_PI * k / 100, a1 = 2 * M_PI * (k + 1) / 100;
        double x0 = 3000 + 20 * cos(a0), z0 = 2000 + 20 * sin(a0), x1 = 3000 + 20 * cos(a1), z1 = 2000 + 20 * sin(a1);
        snprintf(b, sizeof b, "v %.6f 0 %.6f\n", x0, 4000 - z0);  // the floor in the opposite turn, facing up
        floor += b;
        snprintf(b, sizeof b, "v %.6f 6 %.6f\n", x0, z0);
        ceiling += b;
        snprintf(b, sizeof b, "[poly]\nv %.6f 0 %.6f\nv %.6f 0 %.6f\nv %.6f 6 %.6f\nv %.6f 6 %.6f\n[end poly]\n", x0, z0,
                 x1, z1, x1, z1, x0, z0);
        walls += b;
    }
    // A pillar in the middle, facing outwards, makes the tower more than one leaf.
    std::string pillar = box_room(3001, 2999, -1, 7, 1999, 2001);
    pillar = pillar.substr(7, pillar.size() - 7 - 11);
    std::string text = "[mesh]\n" + floor + "[end poly]\n" + ceiling + "[end poly]\n" + walls + pillar + "[end mesh]\n";
    solid_bsp_t t;
    ASSERT_EQ(build_text(t, text), 0);
    EXPECT_GT(t.stats.empty, 1);
    expect_sound(t, "tower");
}

TEST_F(sound_bsp_test, placement_changes_neither_the_tree_nor_the_soundness)
{
    std::string base = vantrel_levels::grid_level(4, 4);
    solid_bsp_t t0;
    ASSERT_EQ(build_text(t0, base), 0);
    const double shifts[][3] = {{30000, 0, 0}, {-29999.5, 17.25, 30000}, {0, -30000, 0}};
    const double turns[][2] = {{0, 0}, {0.3, 0}, {1.9, 0.45}};
    for (auto& s : shifts)
        for (auto& r : turns) {
            solid_bsp_t t;
            ASSERT_EQ(build_text(t, moved(base, r[0], r[1], s)), 0);
            EXPECT_NEAR(t.stats.empty, t0.stats.empty, t0.stats.empty / 100.0) << s[0] << " " << r[0];
            EXPECT_NEAR(t.nportals, t0.nportals, t0.nportals / 100.0) << s[0] << " " << r[0];
            expect_sound(t, "grid at " + std::to_string(s[0]) + " turned " + std::to_string(r[0]), 200);
        }
    // Both search modes with one or two workers stay sound.
    std::string turned = moved(vantrel_levels::grid_level(3, 3), 0.4, 0.1, shifts[0]);
    for (int search : {BSP_SEARCH_BOUNDED, BSP_SEARCH_FULL})
        for (int threads : {1, 2}) {
            solid_bsp_t t;
            t.options.search = search;
            t.options.threads = threads;
            ASSERT_EQ(build_text(t, turned), 0);
            expect_sound(t, "search " + std::to_string(search) + " threads " + std::to_string(threads));
        }
}

TEST_F(sound_bsp_test, sealed_pockets_are_warned_and_literal_misses_found)
{
    std::string text = vantrel_levels::two_rooms_level() + box_room(22, 26, 0, 3, 0, 4);
    solid_bsp_t t;
    ASSERT_EQ(build_text(t, text), 0);
    EXPECT_EQ(t.nsealed, 1);
    EXPECT_TRUE(log_has("a sealed pocket, it sees nothing"));
    float in_pocket[4] = {24, 1, 2, 0}, in_room[4] = {4, 1, 4, 0};
    bsp_index_t* pocket = t.get_leaf_at_pos(in_pocket);
    ASSERT_NE(pocket, nullptr);
    EXPECT_EQ(pocket->visible_leafs.count, 0);
    EXPECT_GT(t.get_leaf_at_pos(in_room)->visible_leafs.count, 0);
    expect_sound(t, "two rooms and a pocket");
    // The checker finds what the literal mode misses.
    solid_bsp_t lit;
    lit.options.mode = BSP_MODE_LITERAL;
    ASSERT_EQ(lit.build((char*)level("two_rooms.txt").c_str()), 0);
    bsp_vis_check_t vc;
    ASSERT_EQ(bsp_check_vis(&lit, 400, 7, &vc), 0);
    EXPECT_GT(vc.missed, 0);
    ASSERT_NE(lit.get_leaf_at_pos(vc.example[0].a), nullptr);
    EXPECT_FALSE(sees(lit.get_leaf_at_pos(vc.example[0].a), vc.example[0].leaf_b));
}

// The flow's shortcuts only ever add: every pair the exhaustive flow finds
// is in the default sets, which stay within 1.3 times its size.
TEST_F(sound_bsp_test, default_sets_hold_the_exhaustive_ones_and_little_more)
{
    std::set<std::pair<int, int>> pairs[2];
    for (int exhaustive = 0; exhaustive < 2; ++exhaustive) {
        solid_bsp_t t;
        t.options.exhaustive_vis = exhaustive;
        ASSERT_EQ(build_text(t, vantrel_levels::arena_level()), 0);
        for (int k = 0; k < t.stats.ni_nodes; ++k)
            if (is_empty_leaf(t.i_nodes[k]))
                for (d_node* v = t.i_nodes[k]->visible_leafs.first; v; v = v->next)
                    pairs[exhaustive].insert({k, leaf_of(v)});
    }
    for (auto& p : pairs[1])
        EXPECT_TRUE(pairs[0].count(p)) << p.first << " sees " << p.second;
    EXPECT_LE(pairs[0].size(), pairs[1].size() * 13 / 10);
}

// The walk starts from a grid over the level's box: points on the cell
// borders and on node planes still land where a walk from the root goes.
TEST_F(sound_bsp_test, point_location_from_the_grid_agrees_with_a_plain_walk)
{
    const double far[3] = {-20000, 500, 12000};
    solid_bsp_t t;
    ASSERT_EQ(build_text(t, moved(vantrel_levels::arena_level(), 0.5, 0, far)), 0);
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(0, 1);
    bbox_t& box = t.root.bbox;
    auto dist = [](bsp_index_t* n, const float* p) {
        const float* q = n->va[n->vi[0]].v;
        double d = 0;
        for (int a = 0; a < 3; ++a)
            d += ((double)p[a] - q[a]) * n->normal[a];
        return d;
    };
    for (int k = 0; k < 20000; ++k) {
        float p[4] = {0, 0, 0, 0};
        for (int a = 0; a < 3; ++a) {
            double f = k % 3 == 0 ? std::floor(u(rng) * 32) / 32 : u(rng);
            p[a] = (float)(box.min[a] + (box.max[a] - box.min[a]) * f);
        }
        if (k % 3 == 1) {
            // Onto the plane of a node.
            bsp_index_t* n = t.i_nodes[std::uniform_int_distribution<int>(0, t.stats.ni_nodes - 1)(rng)];
            if (!FLAG_ISSET(n->flags, BN_ISLEAF)) {
                double d = dist(n, p);
                for (int a = 0; a < 3; ++a)
                    p[a] = (float)(p[a] - d * n->normal[a]);
            }
        }
        bsp_index_t* b = &t.root;
        while (!FLAG_ISSET(b->flags, BN_ISLEAF))
            b = t.i_nodes[dist(b, p) < -PL_EPSILON ? b->back : b->front];
        ASSERT_EQ(t.get_leaf_at_pos(p), FLAG_ISSET(b->flags, BN_ISSOLID) ? nullptr : b) << k;
    }
}

}  // namespace
