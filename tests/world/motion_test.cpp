




















// Motion and collision: glides and force steps on a bare handler with an
// injected clock, wall and body responses checked against the analytic
// contact of an ellipsoid, and bodies moving through compiled levels.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "kdbase/kdbase_math.h"
#include "platform/platform.h"
#include "primitives/poly_list.h"
#include "tests/world/bsp_test_util.h"
#include "tools/level_gen.h"
#include "world/level.h"

using namespace vantrel;

namespace {

unsigned int fake_now;
unsigned int fake_clock(void*)
{
    return fake_now;
}

// A body of a level, as entities are: it checks collisions before each move.
struct test_body : unknown, physical_body {
    float pos[4] = {0, 0, 0, 1};
    level_t* level = nullptr;
    test_body(float x, float y, float z, float rx = 1, float ry = 1, float rz = 1)
    {
        set_v(pos, x, y, z, 1);
        pos_v = pos;
        set_v(radius_v, rx, ry, rz, 1);
    }
    void before_move(float* delta) override
    {
        if (level)
            level->do_collision_check(this, delta);
    }
};

class motion_test : public bsp_test::bsp_fixture {
protected:
    void SetUp() override
    {
        bsp_fixture::SetUp();
        fake_now = 1000;
        set_milli_clock(fake_clock, nullptr);
    }
    void TearDown() override
    {
        set_milli_clock(nullptr, nullptr);
        bsp_fixture::TearDown();
    }
    // The tree of a polygon list text (no portals are needed to collide).
    void load_tree(level_t& l, const std::string& text)
    {
        d_list meshes(1);
        load(text, &meshes);
        ASSERT_EQ(build_tree(l, &meshes), 0);
    }
};

// One quad as polygon list text, its vertices counter-clockwise seen from the front.
std::string quad(const float (&v)[4][3])
{
    char b[512];
    snprintf(b, sizeof b, "[poly]\nv %g %g %g\nv %g %g %g\nv %g %g %g\nv %g %g %g\n[end poly]\n", v[0][0], v[0][1],
             v[0][2], v[1][0], v[1][1], v[1][2], v[2][0], v[2][1], v[2][2], v[3][0], v[3][1], v[3][2]);
    return b;
}

}  // namespace

TEST_F(motion_test, glides_and_force_steps_on_a_bare_handler)
{
    float pos[4] = {0, 0, 0, 1}, target[4] = {10, 0, 0, 1};
    position_handler h;
    h.pos_v = pos;
    h.set_target_pos(target, 0.0f);
    EXPECT_EQ(h.motion_flags, 0u);

    h.set_target_pos(target, 2.0f);
    EXPECT_FLOAT_EQ(h.step_v[0], 0.005f);
    fake_now += 100;
    h.interpolate();
    EXPECT_FLOAT_EQ(pos[0], 0.5f);
    fake_now += 2000;  // past the glide time: the rest of the way at once
    h.interpolate();
    EXPECT_EQ(pos[0], 10.0f);
    EXPECT_TRUE(h.motion_flags & MOTION_GLIDE);
    h.interpolate();
    EXPECT_EQ(h.motion_flags, 0u);
    EXPECT_EQ(pos[0], 10.0f);

    // A constant force along the motion keeps velocity = force / mass per ms.
    float push[4] = {2000, 0, 0, 0}, brake[4] = {-1000, 0, 0, 0};
    h.mass = 2;
    for (int i = 0; i < 3; ++i) {
        h.add_force(push);
        fake_now += 10;
        h.interpolate();
        EXPECT_FLOAT_EQ(h.velocity_v[0], 1.0f);
    }
    EXPECT_FLOAT_EQ(pos[0], 40.0f);
    h.add_force(brake);  // against the motion: reduces it
    fake_now += 10;
    h.interpolate();
    EXPECT_FLOAT_EQ(h.velocity_v[0], 0.5f);
    h.add_resistance(1.5f);
    EXPECT_TRUE(log_has("::add_resistance(): _res_factor is invalid"));
    h.mass = 1;
    h.add_resistance(1.0f);  // cancels the velocity: the motion dies
    h.interpolate();
    EXPECT_EQ(h.velocity_v[0], 0.0f);
    EXPECT_FALSE(h.motion_flags & MOTION_FORCES);
}

TEST_F(motion_test, wall_responses_match_the_analytic_contact)
{
    // A floor at y = 0 (facing +y) and walls; radius, start, move, and the
    // expected outcome. Slanted walls pin the normal of the scaled plane:
    // the ellipsoid stops where its support distance sqrt(sum (n_i r_i)^2)
    // equals the height of its centre.
    const float floor_q[4][3] = {{-50, 0, -50}, {-50, 0, 50}, {50, 0, 50}, {50, 0, -50}};
    const float wall_x10[4][3] = {{10, -50, -50}, {10, -50, 50}, {10, 50, 50}, {10, 50, -50}};  // faces -x
    const float slant[4][3] = {{0, -50, -50}, {0, -50, 50}, {50, 50, 50}, {50, 50, -50}};      // x = y/2 + 25, faces -x +y
    struct row {
        const float (*wall)[4][3];
        float r[3], start[3], move[3];
        bool hit;
    } rows[] = {
        {&floor_q, {1, 1, 1}, {0, 3, 0}, {0, -5, 0}, true},
        {&floor_q, {1, 1, 1}, {0, 3, 0}, {0, -1.5f, 0}, false},
        {&floor_q, {1, 1, 1}, {0, 3, 0}, {5, 0, 0}, false},  // parallel
        {&wall_x10, {2, 1, 1}, {0, 0, 0}, {10, 0, 0}, true},
        {&wall_x10, {2, 1, 1}, {0, 0, 0}, {7, 0, 0}, false},
        {&slant, {2, 1, 1}, {-10, 0, 0}, {40, 0, 0}, true},
        {&slant, {1, 3, 0.5f}, {-10, 5, 0}, {45, -18, 3}, true},
    };
    for (const row& c : rows) {
        SCOPED_TRACE(&c - rows);
        d_list polys(1);
        std::string p = write_file("wall.txt", quad(*c.wall));
        ASSERT_EQ(load_poly_list(p.c_str(), &polys, nullptr), 0);
        n_poly* wall = static_cast<n_poly*>(polys.first->object);
        test_body b(c.start[0], c.start[1], c.start[2], c.r[0], c.r[1], c.r[2]);
        float delta[4] = {c.move[0], c.move[1], c.move[2], 0}, move[4];
        copy_v(move, delta);
        EXPECT_EQ(b.collided_with_poly(wall, delta), c.hit);
        if (!c.hit) {
            EXPECT_EQ(memcmp(delta, move, sizeof delta), 0);
            continue;
        }
        // The cut move keeps its direction and ends in contact.
        EXPECT_NEAR(dotproduct_v(delta, move) / len_v(move), len_v(delta), 1e-4);
        add_v(b.pos, delta);
        const float* n = wall->normal;
        double support = 0, height = 0;
        for (int i = 0; i < 3; ++i) {
            support += (double)n[i] * c.r[i] * n[i] * c.r[i];
            height += (double)n[i] * (b.pos[i] - wall->va[wall->vi[0]].v[i]);
        }
        EXPECT_NEAR(height, std::sqrt(support), 1e-4);
        // A body already in contact moves no further into the wall.
        copy_v(delta, move);
        EXPECT_TRUE(b.collided_with_poly(wall, delta));
        EXPECT_NEAR(len_v(delta), 0, 1e-4);
    }
}

TEST_F(motion_test, bodies_in_a_level_stop_at_walls_and_each_other)
{
    level_t l;
    load_tree(l, vantrel_levels::two_rooms_level());
    // Walls at x = 0 and x = 8 in room A ([0,8] x [0,4] x [0,8]).
    test_body a(4, 2, 2, 2, 1, 1), b(6, 2, 6), far(30, 2, 30);
    a.level = b.level = &l;
    float d[4] = {10, 0, 0, 0};
    float dist = 0;
    EXPECT_EQ(l._get_closest_wall(&far, d, &dist), nullptr);
    EXPECT_TRUE(log_has("entity's pos_v is stuck in wall"));
    ASSERT_NE(l._get_closest_wall(&a, d, &dist), nullptr);
    EXPECT_NEAR(dist, 2.0f, 1e-4);  // world units: x from 6 (surface) to 8
    a.move_pos_v(d);
    EXPECT_NEAR(a.pos[0], 6.0f, 1e-4);  // the (2,1,1) ellipsoid stops 2 from the wall

    // Another body in the way is nearer than the wall: the move stops at its surface.
    l.ents.insert(static_cast<unknown*>(&a));
    l.ents.insert(static_cast<unknown*>(&b));
    float down[4] = {0, 0, -10, 0};
    EXPECT_EQ(l._get_closest_ent(&b, down, &dist), &a);
    EXPECT_NEAR(dist, 2.0f, 1e-4);
    b.move_pos_v(down);
    EXPECT_NEAR(b.pos[2], 4.0f, 1e-4);

    // Checks read the level but never change it.
    auto vertices = [&l] {
        std::vector<float> v;
        for (int m = 0; m < l.stats.nmeshes; ++m)
            for (int k = 0; k < l.meshes[m]->vasize; ++k)
                v.insert(v.end(), l.meshes[m]->va[k].v, l.meshes[m]->va[k].v + 3);
        return v;
    };
    const std::vector<float> before = vertices();
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-3, 3);
    for (int i = 0; i < 1000; ++i) {
        float mv[4] = {u(rng), u(rng), u(rng), 0};
        l.do_collision_check(&a, mv);
    }
    EXPECT_EQ(memcmp(vertices().data(), before.data(), before.size() * sizeof(float)), 0);
}

TEST_F(motion_test, steps_up_to_the_smallest_radius_never_pass_a_wall)
{
    level_t l;
    load_tree(l, vantrel_levels::two_rooms_level());
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-1, 1);
    const float radii[][3] = {{0.5f, 0.5f, 0.5f}, {0.6f, 0.4f, 0.9f}, {0.3f, 0.8f, 0.3f}};
    for (const auto& r : radii) {
        test_body b(4, 2, 4, r[0], r[1], r[2]);
        b.level = &l;
        float limit = std::min(r[0], std::min(r[1], r[2]));
        for (int i = 0; i < 4000; ++i) {
            // Mostly towards the doorway of room B, so the walk crosses leaves.
            float d[4] = {u(rng) + 0.6f, u(rng) * 0.5f, u(rng), 0};
            normalize_v(d);
            multscalar_v(d, limit);
            b.move_pos_v(d);
            ASSERT_NE(l.get_leaf_at_pos(b.pos), nullptr) << "step " << i;
        }
    }
    // Inside one convex room no step is too long.
    level_t room;
    load_tree(room, vantrel_levels::grid_level(1, 1));
    test_body b(4, 2, 4);
    b.level = &room;
    float fast[4] = {1000, -700, 300, 0};
    b.move_pos_v(fast);
    EXPECT_NE(room.get_leaf_at_pos(b.pos), nullptr);
}
