// The demo's game scene drawn through the recording render library: the level
// read from a container as "vantrel-bspc --cds" writes it, and walkers read
// from the media the demo writes, moving and animated frame after frame.
#include <cmath>
#include <set>

#include "morvane/camera.h"
#include "tests/morvane/rlib_fixture.h"
#include "tools/demo_actors.h"
#include "tools/demo_scene.h"

using namespace vantrel;

namespace {

unsigned int g_now;

typedef vantrel_test::rlib_test demo_scene_test;

TEST_F(demo_scene_test, walkers_walk_turn_at_walls_and_are_drawn_every_frame)
{
    g_now = 1000;
    set_milli_clock([](void*) { return g_now; }, nullptr);
    ASSERT_EQ(load_rlib(vantrel_test::rlib_path("rlib_record").c_str(), &r_imports, &info), 0);
    rlib_record_t* r = record_of(info.handle);
    {
        level_t built;
        std::string path = vantrel_test::source_dir() + "/data/levels/arena.txt";
        ASSERT_EQ(built.build((char*)path.c_str()), 0);
        ASSERT_EQ(write_level("arena.cds", &built, "materials.cds"), 0);
    }
    ASSERT_EQ(vantrel_demo::write_media("."), 0);
    vantrel_demo::level_skin skin;
    level_t level;
    ASSERT_EQ(vantrel_demo::load_level(&level, "arena.cds"), 0);
    ASSERT_EQ(vantrel_demo::dress_level(&level, &skin), 0);
    vantrel_demo::actors actors;
    // Hall A, walking +z towards its wall at z = -2560; the second point is
    // outside the level and gets no walker.
    ASSERT_EQ(actors.start(&level, ".", {{2280, 34, -2720, 180}, {0, 34, 0, 0}}), 0);
    ASSERT_EQ(actors.walkers.size(), 1u);
    entity_t& e = actors.walkers[0]->ent;
    std::set<const void*> polys;
    for (int m = 0; m < e.model.nmeshes; ++m)
        for (int p = 0; p < e.model.meshes[m]->npolys; ++p)
            polys.insert(&e.model.meshes[m]->polys[p]);
    ASSERT_EQ(polys.size(), 11u);  // box and pyramid

    cam3d_t cam;
    cam.world = &level;
    cam.aspect = 1.333f;
    cam.wpos.invert = 1;
    cam.view_m.stack.push(&cam.wpos);
    cam.view_m.stack.push(&cam.orient);
    set_v(cam.wpos.trans_v, 2060, 60, -2720, 1);
    vantrel_demo::view_rotation(cam.orient.trans_m, -90);
    bool turned = false, walked_after_turn = false, bobbed = false;
    float max_z = -1e9f;
    for (int frame = 0; frame < 40; ++frame) {
        g_now += 80;
        actors.step(80);
        turned |= e.current->id == vantrel_demo::STATE_TURN;
        walked_after_turn |= turned && e.current->id == vantrel_demo::STATE_WALK;
        bobbed |= std::fabs(e.model.meshes[0]->matrix[13]) > 1;
        max_z = std::max(max_z, e.pos_v[2]);
        ASSERT_NE(level.get_leaf_at_pos(e.pos_v), nullptr) << "frame " << frame;
        r->count = 0;
        cam.setup_frame();
        cam.render_frame();
        int drawn = 0;
        for (int i = 0; i < r->count; ++i)
            drawn += !strcmp(r->calls[i].op, "render_poly") && polys.count(r->calls[i].ptr);
        EXPECT_EQ(drawn, 11) << "frame " << frame;
    }
    EXPECT_TRUE(turned);
    EXPECT_TRUE(walked_after_turn);
    EXPECT_TRUE(bobbed);
    EXPECT_GT(max_z, -2600.0f);                             // it reached the wall...
    EXPECT_LE(max_z, -2560.0f - vantrel_demo::WALKER_HALF);  // ...and stopped at it
    level.skin = nullptr;
    set_milli_clock(nullptr, nullptr);
}

}  // namespace
