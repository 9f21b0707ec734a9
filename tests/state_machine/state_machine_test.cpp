// The state machine driven pass by pass: each row does something to the
// machine, runs execute() and checks where it stands.
#include <functional>
#include <vector>

#include "state_machine/state_machine.h"
#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

struct counted_state : generic_state {
    int starts = 0, ends = 0, runs = 0;
    int result = -1;
    int action() override
    {
        ++runs;
        return result;
    }
    void start_state() override { ++starts; }
    void end_state() override { ++ends; }
};

enum { A = 1, B = 2, C = 3, S1 = 0x8001, S2 = 0x8002, S3 = 0x8003 };

struct machine_fixture : vantrel_test::log_test {
    int from_a[2] = {A, 0};
    int from_ab[3] = {A, B, 0};
    int from_b[2] = {B, 0};
    counted_state a, b, c, s1, s2, s3;
    generic_state* list[7] = {&a, &b, &c, &s1, &s2, &s3, nullptr};
    state_machine m{list};

    void SetUp() override
    {
        log_test::SetUp();
        a.set(A, nullptr, B, 3);
        b.set(B, from_a, C, -1);
        c.set(C, from_ab, 0, -1);
        s1.set(S1, from_b, S2, 1);
        s2.set(S2, from_b, 0, -1);
        s3.set(S3, from_b, 0, 2);
    }
    bool listed(int id)
    {
        for (d_node* n = m.sub_states.first; n; n = n->next)
            if (static_cast<generic_state*>(n->object)->id == id)
                return true;
        return false;
    }
};

struct pass_row {
    std::function<void(machine_fixture&)> before;
    int current;       // id of current after the pass
    int loop_counter;  // of current
};

}  // namespace

TEST_F(machine_fixture, passes_follow_the_table)
{
    const std::vector<pass_row> rows = {
        {[](machine_fixture& f) { EXPECT_EQ(f.m.branch_to(A), 0); }, A, 1},
        {nullptr, A, 2},
        {nullptr, A, 3},  // third completed pass requests B ...
        {nullptr, B, 0},  // ... which replaces A at the start of the fourth
        // Two main requests in one pass: the last one wins.
        {[](machine_fixture& f) {
             EXPECT_EQ(f.m.request_state_transition(A), -1);  // A has no allowed list
             f.m.request_state_transition(C);
             f.b.flags &= ~STATE_ACTIVE;  // let B be asked for again
             EXPECT_EQ(f.m.request_state_transition(B), -1);  // B only follows A
             f.b.flags |= STATE_ACTIVE;
         },
         C, 0},
        {nullptr, C, 0},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        if (rows[i].before)
            rows[i].before(*this);
        m.execute();
        ASSERT_TRUE(m.current);
        EXPECT_EQ(m.current->id, rows[i].current);
        EXPECT_EQ(m.current->loop_counter, rows[i].loop_counter);
    }
    EXPECT_EQ(a.starts, 1);
    EXPECT_EQ(a.ends, 1);
    EXPECT_EQ(b.ends, 1);
}

TEST_F(machine_fixture, sub_states_start_their_successor_once_and_pause_without_counting)
{
    ASSERT_EQ(m.branch_state(B), 0);  // a main id changes current
    ASSERT_EQ(m.branch_state(S1), 0);  // a sub-state id starts a sub-state
    EXPECT_EQ(m.add_sub_state(B), -1);
    m.execute();  // S1 completes: asks for S2 and its own end
    m.execute();  // S1 ends, S2 starts (the second request of it is refused)
    EXPECT_FALSE(listed(S1));
    EXPECT_EQ(s1.ends, 1);
    EXPECT_TRUE(listed(S2));
    EXPECT_EQ(s2.starts, 1);

    ASSERT_EQ(m.add_sub_state(S3), 0);
    s3.result = 0;
    m.execute();
    m.disable_state(S3);
    s3.result = -1;
    m.execute();
    m.execute();
    EXPECT_EQ(s3.runs, 1);
    EXPECT_EQ(s3.loop_counter, 0);
    m.enable_state(S3);
    m.execute();
    EXPECT_EQ(s3.loop_counter, 1);
    // A disabled sub-state can be entered again, but is listed once.
    m.disable_state(S3);
    ASSERT_EQ(m.add_sub_state(S3), 0);
    EXPECT_EQ(m.sub_states.count, 2);
    m.execute();
    EXPECT_EQ(s3.runs, 3);

    // Terminating an inactive state does nothing.
    m.request_state_termination(S1);
    EXPECT_EQ(m.terminated_states[0], 0);
}

TEST_F(machine_fixture, limits_of_the_request_lists_and_loops)
{
    // The seventeenth request of one pass is dropped.
    ASSERT_EQ(m.branch_to(B), 0);
    for (int i = 0; i < 17; ++i)
        EXPECT_EQ(m.request_state_transition(i < 16 ? S2 : S1), 0);
    EXPECT_EQ(m.requested_states[15], S2);
    EXPECT_EQ(m.requested_states[16], 0);
    m.execute();
    EXPECT_FALSE(listed(S1));

    // max_loops 0 completes on the first pass; a refused successor is asked
    // for again on every later pass and taken once it becomes possible.
    c.set(C, from_ab, A, 0);
    ASSERT_EQ(m.branch_to(C), 0);
    m.execute();
    m.execute();
    EXPECT_EQ(m.current, &c);
    int from_c[2] = {C, 0};
    a.allowed = from_c;
    m.execute();
    m.execute();
    EXPECT_EQ(m.current, &a);

    // Without states, lookups are refused and logged.
    state_machine empty(nullptr);
    EXPECT_EQ(empty.branch_to(A), -1);
    EXPECT_TRUE(log_has("does not have any states"));
}
