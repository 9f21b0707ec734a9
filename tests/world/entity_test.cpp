// Entities over real sockets on 127.0.0.1: two entities with the same id on
// two links, each the other's remote copy.
#include <gtest/gtest.h>

#include <vector>

#include "kdbase/cfile.h"
#include "tests/common/log_fixture.h"
#include "world/entity.h"

using namespace vantrel;

namespace {

// One side: an entity on its own link, sending to the other side's link.
struct side {
    inet_game_link link;
    entity_t ent;
    dispatcher disp;
    int run_allowed[2] = {1, 0};  // "run" (2) may only follow "stand" (1)
    entity_state_t stand, run;
    generic_state* states[3] = {&stand, &run, nullptr};

    side()
    {
        link.create(PLATFORM_SOCK_DGRAM);
        link.bind(0);
        stand.set(1, nullptr, 0, -1);
        run.set(2, run_allowed, 0, -1);
        stand.entity = run.entity = &ent;
        ent.states = states;
        ent.game_link = &link;
        ent.user_id = 5;
        ent.add_to_mcast_group(&link);
        disp.register_user(&ent);
    }
    void serve()
    {
        timeval budget = {0, 20000};
        disp.process_async_rx_datagrams(&budget);
    }
};

class entity_test : public vantrel_test::log_test {
protected:
    side a, b;
    void SetUp() override
    {
        log_test::SetUp();
        ASSERT_EQ(a.link.connect("127.0.0.1", b.link.local_port()), 0);
        ASSERT_EQ(b.link.connect("127.0.0.1", a.link.local_port()), 0);
    }
    // Sends raw bytes from a's socket to b's.
    void send_raw(const std::vector<unsigned char>& bytes)
    {
        platform_sendto(a.link.sock, bytes.data(), (int)bytes.size(), nullptr);
    }
};

TEST_F(entity_test, position_and_state_reach_the_remote_copy_and_echo_back)
{
    b.ent.branch_to(1);
    a.ent.flags = b.ent.flags = ENTITY_NETWORKED;
    float p[3] = {1.5f, -2.0f, 7.25f};
    for (int i = 0; i < 3; ++i)
        a.ent.pos_v[i] = p[i];
    ASSERT_EQ(a.ent.send_pos(), 0);
    b.serve();
    b.ent.execute();  // the state's motion step lands on the position
    for (int i = 0; i < 3; ++i)
        EXPECT_FLOAT_EQ(b.ent.model.matrix[12 + i], p[i]);

    // An allowed state is carried out at the next execute, and the state that
    // starts sends itself on: the sender's copy follows.
    ASSERT_EQ(a.ent.send_state(2), 0);
    b.serve();
    b.ent.execute();
    EXPECT_EQ(b.ent.current, &b.run);
    a.serve();
    a.ent.execute();
    EXPECT_EQ(a.ent.current, &a.run);
    // A state that may not follow the current one is logged and dropped.
    ASSERT_EQ(a.ent.send_state(1), 0);
    b.serve();  // the echo of a's own start first
    b.serve();
    EXPECT_TRUE(log_has("entity 5 received an unallowed state (current=2 requested=1)"));
    b.ent.execute();
    EXPECT_EQ(b.ent.current, &b.run);
}

TEST_F(entity_test, animation_wraps_to_its_reloop_time_and_sub_states_stand_still)
{
    unsigned int now = 5000;
    set_milli_clock([](void* c) { return *static_cast<unsigned int*>(c); }, &now);
    entity_state_t walk, wave;
    walk.set(1, nullptr, 0, 3);
    wave.set(SUB_STATE_BIT | 1, nullptr, 0, -1);
    walk.entity = wave.entity = &a.ent;
    generic_state* states[3] = {&walk, &wave, nullptr};
    a.ent.states = states;
    a.ent.model.alloc_meshes(1);
    a.ent.model.meshes[0] = new mesh_t;
    ASSERT_EQ(LoadAnimation(write_file("walk.txt", "[stack]\n[channel]\nkf 1000\n[end stack]\n").c_str(), &walk), 0);
    walk.bind(&a.ent.model);
    walk.anim_reloop_time = 200;
    ASSERT_EQ(a.ent.branch_to(1), 0);
    now += 1030;
    a.ent.execute();
    EXPECT_EQ(walk.m_unAccumulatedTime, 230u);
    EXPECT_EQ(walk.loop_counter, 1);

    float target[4] = {9, 9, 9, 1};
    a.ent.set_target_pos(target, 1.0f);
    now += 500;
    EXPECT_EQ(wave.action(), -1);
    EXPECT_EQ(a.ent.model.matrix[12], 0.0f);
    EXPECT_EQ(walk.m_unAccumulatedTime, 230u);
    set_milli_clock(nullptr, nullptr);
}

TEST_F(entity_test, payloads_that_do_not_match_their_type_are_refused)
{
    // id, data_size, payload bytes, the warning
    const struct { int id, data_size, bytes; const char* warning; } cases[] = {
        {GD_POSITION, 8, 8, "received an invalid GD_POSITION datagram"},
        {GD_POSITION, 16, 16, "received an invalid GD_POSITION datagram"},
        {GD_STATE, 0, 0, "received an invalid GD_STATE datagram"},
        {GD_STATE, 8, 8, "received an invalid GD_STATE datagram"},
    };
    for (const auto& c : cases) {
        clear_log();
        std::vector<unsigned char> d(8 + (size_t)c.bytes, 0);
        d[0] = (unsigned char)c.id;
        put_be16(&d[2], (uint16_t)(a.link.last_out_seq_num += 1));
        put_be16(&d[4], (uint16_t)c.data_size);
        put_be16(&d[6], 5);
        send_raw(d);
        b.serve();
        EXPECT_TRUE(log_has(c.warning)) << c.id << " " << c.data_size;
        EXPECT_FALSE(b.ent.motion_flags & MOTION_GLIDE);
        EXPECT_EQ(b.ent.current, nullptr);
    }
    // Only networked entities send, and never state 0.
    int sent = a.link.last_out_seq_num;
    a.ent.flags = ENTITY_NETWORKED;
    EXPECT_EQ(a.ent.send_state(0), -1);
    EXPECT_TRUE(log_has("entity 5 tried to send a NIL_STATE"));
    a.ent.flags = 0;
    EXPECT_EQ(a.ent.send_pos(), 0);
    EXPECT_EQ(a.ent.send_state(2), 0);
    EXPECT_EQ(a.link.last_out_seq_num, sent);
}

}  // namespace
