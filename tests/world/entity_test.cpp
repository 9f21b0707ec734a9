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
    generic_state stand, run, jump;
    generic_state* states[4] = {&stand, &run, &jump, nullptr};

    side()
    {
        link.create(PLATFORM_SOCK_DGRAM);
        link.bind(0);
        stand.set(1, nullptr, 0, -1);
        run.set(2, run_allowed, 0, -1);
        jump.set(3, run_allowed, 0, -1);
        ent.states = states;
        ent.game_link = &link;
        ent.user_id = 5;
        ent.flags = ENTITY_NETWORKED;
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

TEST_F(entity_test, position_and_state_reach_the_remote_copy)
{
    float p[3] = {1.5f, -2.0f, 7.25f};
    for (int i = 0; i < 3; ++i)
        a.ent.pos_v[i] = p[i];
    ASSERT_EQ(a.ent.send_pos(), 0);
    b.serve();
    EXPECT_TRUE(b.ent.motion_flags & MOTION_GLIDE);
    b.ent.interpolate();  // the next motion step lands on the position
    for (int i = 0; i < 3; ++i)
        EXPECT_FLOAT_EQ(b.ent.model.matrix[12 + i], p[i]);

    // States: allowed ones are queued and carried out by execute, others logged.
    b.ent.branch_to(1);
    ASSERT_EQ(a.ent.send_state(2), 0);
    b.serve();
    b.ent.execute();
    EXPECT_EQ(b.ent.current, &b.run);
    ASSERT_EQ(a.ent.send_state(1), 0);
    b.serve();
    EXPECT_TRUE(log_has("entity 5 received an unallowed state (current=2 requested=1)"));
    EXPECT_EQ(b.ent.current, &b.run);
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
}

TEST_F(entity_test, only_networked_entities_send_and_never_state_zero)
{
    EXPECT_EQ(a.ent.send_state(0), -1);
    EXPECT_TRUE(log_has("entity 5 tried to send a NIL_STATE"));
    a.ent.flags = 0;
    EXPECT_EQ(a.ent.send_pos(), 0);
    EXPECT_EQ(a.ent.send_state(2), 0);
    EXPECT_EQ(a.link.last_out_seq_num, 0);

    level_t level;
    level.ents.insert(&a.ent);
    EXPECT_EQ(level.get_ent(5), &a.ent);
    EXPECT_EQ(level.get_ent(6), nullptr);
}

}  // namespace
