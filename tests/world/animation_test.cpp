// Channels, stacks and model animations played on real meshes, and the text
// animation format read from files.
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "tests/common/log_fixture.h"
#include "world/animation.h"

using namespace vantrel;

namespace {

using animation_test = vantrel_test::log_test;

kf_mesh_mtrans_t* move_kf(uint32_t ms, float x, float y, float z)
{
    auto* kf = new kf_mesh_mtrans_t;
    kf->duration = ms;
    set_v(kf->delta_v, x, y, z, 0);
    return kf;
}

// The channel: 500 ms by (1,0,0), then 250 ms by (0,2,0).
channel* two_step_channel()
{
    auto* c = new channel;
    c->add_keyframe(move_kf(500, 1, 0, 0));
    c->add_keyframe(move_kf(250, 0, 2, 0));
    return c;
}

// A model of one mesh whose one stack holds the two-step channel.
struct rig {
    model_t model;
    CSAnimation anim;
    rig()
    {
        model.alloc_meshes(1);
        model.meshes[0] = new mesh_t;
        auto* s = new channel_stack;
        s->push(two_step_channel());
        anim.add_stack(s);
        anim.bind(&model);
        anim.SetEndTime(anim.GetTotalDuration());
    }
    float* pos() { return model.meshes[0]->matrix + 12; }
};

}  // namespace

TEST_F(animation_test, channels_play_moves_by_the_table_and_turn_axes_keeping_lengths)
{
    // Each row: a fresh channel (or not), the time, the result, where the
    // mesh ends and which keyframe is current.
    struct row {
        bool fresh;
        unsigned int time;
        int result;
        float x, y;
        int kf;
    } rows[] = {
        {true, 0, 0, 0, 0, 0},
        {false, 800, 50, 0, 2, 1},  // keyframe 0 completes at (1,0,0) first
        {false, 250, 0, 0.5f, 1, 0},  // time went back: restart from the current pose
        {true, 500, 0, 1, 0, 0},      // the boundary belongs to the earlier keyframe
        {false, 501, 0, 1 - 1 / 250.0f, 2 / 250.0f, 1}, {false, 750, 0, 0, 2, 1},
        {false, 4294967295u, INT_MAX, 0, 2, 1},
    };
    mesh_t mesh;
    channel* c = nullptr;
    for (const row& r : rows) {
        SCOPED_TRACE(r.time);
        if (r.fresh) {
            delete c;
            makeIdentityMatrix(mesh.matrix);
            c = two_step_channel();
            ASSERT_EQ(c->bind(&mesh), 0);
        }
        EXPECT_EQ(c->animate(&mesh, r.time), r.result);
        EXPECT_FLOAT_EQ(mesh.matrix[12], r.x);
        EXPECT_FLOAT_EQ(mesh.matrix[13], r.y);
        EXPECT_EQ(c->currkf, r.kf);
    }
    delete c;

    // A keyframe of 0 ms is at its end at once; an empty stack never ends.
    channel z;
    z.add_keyframe(move_kf(0, 3, 0, 0));
    makeIdentityMatrix(mesh.matrix);
    z.bind(&mesh);
    EXPECT_EQ(z.animate(&mesh, 0), 0);
    EXPECT_EQ(mesh.matrix[12], 3.0f);
    channel_stack empty;
    EXPECT_EQ(empty.animate(&mesh, 10), INT_MAX);
    channel none;
    EXPECT_EQ(none.animate(&mesh, 10), -1);
    EXPECT_TRUE(log_has("_set_current_keyframe(): no keyframes found"));
    // Rotation keyframes turn the axes and keep their lengths.
    makeIdentityMatrix(mesh.matrix);
    mesh.matrix[0] = 2;  // the x axis twice as long
    set_v(mesh.matrix + 12, 5, 6, 7, 1);
    channel turn;
    auto* kf = new kf_mesh_quat_t;
    kf->duration = 100;
    const float h = std::sqrt(0.5f);
    set_v(kf->rel_q, 0, 0, h, h);  // 90 degrees about z
    turn.add_keyframe(kf);
    ASSERT_EQ(turn.bind(&mesh), 0);
    turn.animate(&mesh, 100);
    float expect[16];
    convert_q2m(expect, kf->rel_q);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(mesh.matrix[i], 2 * expect[i], 1e-5);
        EXPECT_NEAR(mesh.matrix[4 + i], expect[4 + i], 1e-5);
        EXPECT_NEAR(mesh.matrix[8 + i], expect[8 + i], 1e-5);
    }
    EXPECT_EQ(mesh.matrix[12], 5.0f);
    EXPECT_EQ(mesh.matrix[14], 7.0f);
}

TEST_F(animation_test, model_animation_ranges_and_wraps)
{
    rig r;
    ASSERT_EQ(r.anim.GetTotalDuration(), 750u);
    EXPECT_EQ(r.anim.UpdateFrame(730), 0);
    EXPECT_EQ(r.anim.UpdateFrame(100), 80);  // 20 ms before the end
    EXPECT_EQ(r.anim.m_unAccumulatedTime, 750u);
    EXPECT_EQ(r.pos()[1], 2.0f);
    // An entity's wrap: restart at 200 with the 80 ms overshoot.
    r.anim.SetStartTime(200);
    ASSERT_EQ(r.anim.SetTime(80), 0);
    EXPECT_EQ(r.anim.m_unAccumulatedTime, 280u);
    EXPECT_EQ(r.anim.SetTime(600), 0);  // 600 mod 550
    EXPECT_EQ(r.anim.m_unAccumulatedTime, 250u);
    // A start raised above the current time plays nothing to its end.
    r.anim.SetStartTime(700);
    set_v(r.pos(), 9, 9, 9, 1);
    EXPECT_EQ(r.anim.SetTime(0), 0);
    EXPECT_EQ(r.pos()[0], 9.0f);
    EXPECT_EQ(r.anim.m_unAccumulatedTime, 700u);
    r.anim.SetEndTime(700);  // an empty range: always its start
    EXPECT_EQ(r.anim.SetTime(123), 0);
    EXPECT_EQ(r.anim.m_unAccumulatedTime, 700u);

    // More stacks than meshes: the extra stack is skipped and logged.
    rig two;
    auto* s = new channel_stack;
    s->push(two_step_channel());
    two.anim.add_stack(s);
    EXPECT_EQ(two.anim.UpdateFrame(10), 0);
    EXPECT_TRUE(log_has("_AnimateUpto(): model does not have the same number of meshes as the animation"));

    // replace moves everything; the source is left empty.
    CSAnimation moved;
    moved.replace(&two.anim);
    EXPECT_EQ(moved.m_nStacks, 2);
    EXPECT_EQ(two.anim.m_ppStacks, nullptr);
}

TEST_F(animation_test, text_format_loads_and_fails_cleanly)
{
    struct row {
        const char* text;
        int result;
        int stacks;         // stacks added
        unsigned int total;
    } rows[] = {
        {"[stack]\n[channel]\nkf 500\nkf 250\n[end stack]\n", 0, 1, 750},
        {"[stack]\r\n[channel]\r\nkf\t500\r\n# note\r\nkf 250\r\n[end stack]", 0, 1, 750},
        {"[stack]\n[channel]\nkf 100\n[stack]\n[channel]\nkf 300\n", 0, 2, 300},  // an open stack stays
        {"kf 100\n[channel]\nkf 5\n[stack] \n", 0, 0, 0},  // no channel or stack open: ignored
        {"[stack]\n[channel]\nkf 4294967295\n", 0, 1, 4294967295u},
        {"[stack]\n[channel]\nkf 1\n[stack]\n[channel]\nkf -1\n", -1, 0, 0},
        {"[stack]\n[channel]\nkf 4294967296\n", -1, 0, 0}, {"[stack]\n[channel]\nkf 12x\n", -1, 0, 0},
        {"[stack]\n[channel]\nkf\n", -1, 0, 0}, {"[stack]\n[channel]\nkf 1.5\n", -1, 0, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        clear_log();
        CSAnimation anim;
        anim.add_stack(new channel_stack);  // what the file adds comes after
        std::string p = write_file("anim.txt", r.text);
        EXPECT_EQ(LoadAnimation(p.c_str(), &anim), r.result);
        EXPECT_EQ(anim.m_nStacks, 1 + r.stacks);
        EXPECT_EQ(anim.m_ppStacks[anim.m_nStacks], nullptr);
        if (r.result == 0)
            EXPECT_EQ(anim.GetTotalDuration(), r.total);
        else
            EXPECT_TRUE(log_has("LoadAnimation(): bad keyframe duration in line"));
    }

    // Every truncation and every allocation failure ends in 0 or a clean -1.
    const std::string text = "[stack]\n[channel]\nkf 500\nkf 250\n[channel]\nkf 40\n[end stack]\n[stack]\n"
                             "[channel]\nkf 7\n";
    for (size_t n = 0; n <= text.size(); ++n) {
        CSAnimation anim;
        std::string p = write_file("cut.txt", text.substr(0, n));
        int rc = LoadAnimation(p.c_str(), &anim);
        EXPECT_TRUE(rc == 0 || (rc == -1 && anim.m_nStacks == 0)) << n;
    }
    std::string p = write_file("full.txt", text);
    int fail = 0;
    for (;; ++fail) {
        CSAnimation anim;
        mc_fail_after(fail);
        int rc = LoadAnimation(p.c_str(), &anim);
        mc_fail_after(-1);
        if (rc == 0)
            break;
        EXPECT_EQ(anim.m_nStacks, 0);
        ASSERT_LT(fail, 100);
    }
    EXPECT_GT(fail, 5);
    CSAnimation anim;
    EXPECT_EQ(LoadAnimation(path("missing.txt").c_str(), &anim), -1);
    EXPECT_TRUE(log_has("unable to open"));
}

TEST_F(animation_test, dumps_show_every_stack_channel_and_keyframe)
{
    rig r;
    r.model.meshes[0]->set_name("arm");
    r.anim.UpdateFrame(600);
    // A channel of zero length draws without dividing by zero.
    channel zero;
    zero.add_keyframe(move_kf(0, 1, 0, 0));
    std::string s = vantrel_test::capture([&](FILE* f) {
        r.anim.dump(f, "> ");
        dump_channel(f, &zero, "", -1);
    });
    EXPECT_NE(s.find("> mesh: arm\n"), std::string::npos) << s;
    EXPECT_NE(s.find("|0<"), std::string::npos) << s;
    // Shares of the 78 - prefix columns follow the durations; here they fill
    // them, so "<" and ")" come after.
    size_t at = s.find("> +++ 001(000750ms): |500");
    ASSERT_NE(at, std::string::npos) << s;
    std::string line = s.substr(at, s.find('\n', at) - at);
    EXPECT_EQ(line.size(), 80u) << line;
    EXPECT_EQ(line.find("|250"), line.find("|500") + 38) << line;  // 500 * 57 / 750 = 38
}
