// Game links and the dispatcher over real sockets on 127.0.0.1: a raw peer
// socket driven by the test, a fault-injecting relay, hostile datagrams.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <new>
#include <random>
#include <thread>
#include <vector>

#include "kdbase/cfile.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdnet/dispatcher.h"
#include "tests/common/log_fixture.h"

using namespace vantrel;

// Live blocks of the whole process, for the flood test: every form of the
// operators comes here, so the sanitizers see matching pairs.
static long live_blocks;
[[gnu::noinline]] static void* counted(size_t n)
{
    ++live_blocks;
    return malloc(n ? n : 1);
}
[[gnu::noinline]] static void uncounted(void* p)
{
    live_blocks -= p != nullptr;
    free(p);
}
void* operator new(size_t n)
{
    if (void* p = counted(n))
        return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return counted(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return counted(n); }
void operator delete(void* p) noexcept { uncounted(p); }
void operator delete[](void* p) noexcept { uncounted(p); }
void operator delete(void* p, size_t) noexcept { uncounted(p); }
void operator delete[](void* p, size_t) noexcept { uncounted(p); }

namespace {

unsigned int now_ms;

sockaddr_in loopback(unsigned short port)
{
    sockaddr_in a;
    get_host_addr("127.0.0.1", &a);
    a.sin_port = htons(port);
    return a;
}

// A socket the test reads and writes byte by byte.
struct raw_peer {
    int sock = platform_socket(PLATFORM_SOCK_DGRAM);
    sockaddr_in addr, last_from;
    raw_peer()
    {
        addr = loopback(0);
        platform_bind(sock, &addr);
        platform_set_nonblocking(sock);
        addr.sin_port = htons(platform_local_port(sock));
    }
    ~raw_peer() { platform_close_socket(sock); }
    std::vector<unsigned char> recv()
    {
        unsigned char b[2048];
        int n = platform_recvfrom(sock, b, sizeof b, &last_from);
        return n < 0 ? std::vector<unsigned char>() : std::vector<unsigned char>(b, b + n);
    }
    void send(const std::vector<unsigned char>& b, const sockaddr_in& to)
    {
        platform_sendto(sock, b.data(), (int)b.size(), &to);
    }
    int drain()
    {
        int n = 0;
        while (!recv().empty())
            ++n;
        return n;
    }
};

std::vector<unsigned char> header(int id, int flags, int seq, int size, int user)
{
    std::vector<unsigned char> b(8 + (size_t)(size < 1016 ? size : 0));
    b[0] = (unsigned char)id;
    b[1] = (unsigned char)flags;
    put_be16(&b[2], (uint16_t)seq);
    put_be16(&b[4], (uint16_t)size);
    put_be16(&b[6], (uint16_t)user);
    return b;
}

// Counts what reaches it and keeps the last payload word.
struct counting_user : igl_user {
    std::vector<int> seen;
    counting_user(inet_game_link* l, int id)
    {
        game_link = l;
        user_id = (unsigned short)id;
    }
    void process_datagram(char* buf, sockaddr_in*) override
    {
        seen.push_back((int)get_be32(reinterpret_cast<unsigned char*>(buf) + 8));
    }
};

class net_test : public vantrel_test::log_test {
protected:
    inet_game_link link;
    raw_peer peer;
    sockaddr_in to = peer.addr;
    user_datagram* d = new user_datagram;  // a state datagram of user 3
    timeval zero{0, 0};
    void SetUp() override
    {
        log_test::SetUp();
        d->set("id", GD_STATE);
        d->set("user_id", 3u);
        d->add("state", 1);
        now_ms = 1000;
        set_milli_clock([](void*) { return now_ms; }, nullptr);
        ASSERT_EQ(link.create(PLATFORM_SOCK_DGRAM), 0);
        ASSERT_EQ(link.bind(0), 0);
    }
    void TearDown() override
    {
        delete d;
        set_milli_clock(nullptr, nullptr);
        log_test::TearDown();
    }
    sockaddr_in link_addr() { return loopback(link.local_port()); }
    int receive(char* buf) { return link.receive_data(buf, DGRAM_MAX_SIZE, nullptr); }
};

TEST_F(net_test, state_datagram_is_twelve_bytes_and_reliable_one_is_resent_until_acknowledged)
{
    d->set("user_id", 7u);
    d->set("state", 0x01020304u);
    ASSERT_EQ(link.start_reliable_tx(d, &to), 1);
    EXPECT_EQ(link.tx_state.timer.period, 9375u);  // fresh link: 4375 + 4 * 1250
    const std::vector<unsigned char> wire = {18, 1, 0, 1, 0, 4, 0, 7, 1, 2, 3, 4};
    EXPECT_EQ(peer.recv(), wire);
    EXPECT_EQ(link.start_reliable_tx(d, &to), -2);

    // The first copy is "lost": the dispatcher resends when the time-out passes.
    dispatcher disp;
    counting_user u(&link, 7);
    ASSERT_EQ(disp.register_user(&u), 0);
    now_ms += 9374;
    disp.process_async_rx_datagrams(&zero);
    EXPECT_EQ(peer.drain(), 0);
    now_ms += 1;
    disp.process_async_rx_datagrams(&zero);
    EXPECT_EQ(peer.recv(), wire);  // the same datagram, number and all
    EXPECT_EQ(link.tx_state.n_tx_attempts, 2u);
    EXPECT_EQ(link.tx_state.timer.period, 11952u);  // srtt 3828, rttvar 2031

    // A wrong acknowledgement changes nothing; the right one clears the datagram
    // but gives no round-trip sample (it may answer either copy).
    peer.send(header(GD_ACK, 0, 9, 0, 0), link_addr());
    disp.process_async_rx_datagrams(&zero);
    EXPECT_TRUE(log_has("received acknowledgement for the wrong datagram"));
    ASSERT_NE(link.tx_state.pending_dgram, nullptr);
    now_ms += 40;
    peer.send(header(GD_ACK, 0, 1, 0, 0), link_addr());
    disp.process_async_rx_datagrams(&zero);
    EXPECT_EQ(link.tx_state.pending_dgram, nullptr);
    EXPECT_EQ(link.tx_state.n_tx_attempts, 0u);
    EXPECT_EQ(link.tx_state.measured_rtt, 0u);

    // A clean exchange measures the round trip from the first transmission.
    ASSERT_EQ(link.start_reliable_tx(d, &to), 2);
    now_ms += 25;
    peer.send(header(GD_ACK, 0, 2, 0, 0), link_addr());
    disp.process_async_rx_datagrams(&zero);
    EXPECT_EQ(link.tx_state.measured_rtt, 25u);
}

TEST_F(net_test, silent_peer_gets_three_copies_then_the_link_times_out_until_cancelled)
{
    ASSERT_EQ(link.start_reliable_tx(d, &to), 1);
    EXPECT_EQ(link.resend_reliable_dgram(), 0);
    EXPECT_EQ(link.resend_reliable_dgram(), 0);
    EXPECT_EQ(link.resend_reliable_dgram(), -1);
    EXPECT_EQ(peer.drain(), 3);
    EXPECT_TRUE(link.flags & IGL_TIMED_OUT);
    EXPECT_TRUE(log_has("reliable datagram transmission timed-out for 127.0.0.1:"));
    EXPECT_EQ(link.start_reliable_tx(d, &to), -2);
    dispatcher disp;  // a timed-out link is no longer due: the loop does not spin on it
    disp.game_links.insert(&link);
    EXPECT_EQ(disp.get_ready_link(), nullptr);
    link.cancel_reliable_tx();
    EXPECT_FALSE(link.flags & IGL_TIMED_OUT);
    EXPECT_EQ(link.start_reliable_tx(d, &to), 2);
}

TEST_F(net_test, allocation_failures_leave_nothing_pending_and_the_time_out_stays_in_its_bounds)
{
    for (int k = 0;; ++k) {
        mc_fail_after(k);
        int r = link.start_reliable_tx(d, &to);
        mc_fail_after(-1);
        ASSERT_EQ(r < 0, link.tx_state.pending_dgram == nullptr) << k;
        if (r >= 0)
            break;
        EXPECT_TRUE(log_has("unable to create new dgram")) << k;
    }
    EXPECT_EQ(link.resend_reliable_dgram(), 0);
    EXPECT_EQ(peer.drain(), link.last_out_seq_num + 1);  // every attempt went out once, the kept one twice

    // The time-out stays between its floor and ceiling.
    link.cancel_reliable_tx();
    for (int i = 0; i < 60; ++i) {  // loopback answers in 0 ms
        ASSERT_GT(link.start_reliable_tx(d, &to), 0);
        link._remove_pending_dgram(link.last_out_seq_num);
    }
    EXPECT_EQ(link.tx_state.timer.period, (unsigned)IGL_RTO_MIN);
    link.start_reliable_tx(d, &to);
    now_ms += 200000;
    link._remove_pending_dgram(link.last_out_seq_num);
    EXPECT_EQ(link.tx_state.measured_rtt, 200000u);
    link.start_reliable_tx(d, &to);
    EXPECT_EQ(link.tx_state.timer.period, (unsigned)IGL_RTO_MAX);
}

TEST_F(net_test, sequence_numbers_are_checked_wrap_aware_and_hostile_datagrams_dropped_without_growing_memory)
{
    // last received, incoming, accepted
    const struct { int last, seq; bool ok; } cases[] = {
        {0, 5, true},      {5, 6, true},     {6, 4, false},          {10, 10, false},
        {10, 10 + 32768, false}, {10, 10 + 32767, false}, {10, 266, true}, {65530, 3, true},
        {3, 65530, false}, {65535, 0, true},
    };
    for (const auto& c : cases) {
        link.last_in_seq_num = (uint16_t)c.last;
        link.seq_candidate_set = false;
        EXPECT_EQ(link._validate_seq_num((unsigned short)c.seq), c.ok ? 0 : -3) << c.last << " " << c.seq;
    }
    // A lone far-ahead number is dropped; one that follows it confirms the jump.
    link.last_in_seq_num = 10;
    EXPECT_EQ(link._validate_seq_num(20000), -3);
    EXPECT_EQ(link._validate_seq_num(11), 0);
    EXPECT_EQ(link._validate_seq_num(20000), -3);
    EXPECT_EQ(link._validate_seq_num(20001), 0);
    EXPECT_EQ(link.last_in_seq_num, 20001);

    // Over the wire: a reliable duplicate is acknowledged again but delivered once.
    char buf[DGRAM_MAX_SIZE];
    link.last_in_seq_num = 4;
    auto dup = header(GD_STATE, DGRAM_RELIABLE, 5, 4, 1);
    for (int result : {12, -3}) {
        peer.send(dup, link_addr());
        EXPECT_EQ(receive(buf), result);
        EXPECT_EQ(peer.recv(), header(GD_ACK, 0, 5, 0, 0));
    }
    // Hostile datagrams are logged and do not grow memory.
    dispatcher disp;
    counting_user u(&link, 1);
    disp.register_user(&u);
    link.flags &= ~(uint32_t)IGL_SEQUENCING;  // every well-formed copy reaches the dispatcher
    std::mt19937 rng(5);
    std::vector<std::vector<unsigned char>> bad = {
        {},
        {18, 0, 0, 1},
        header(GD_STATE, 0, 2, 4, 1),          // data_size 4, no payload
        header(GD_STATE, DGRAM_RELIABLE, 3, 60000, 1),
        header(GD_POSITION, 0, 4, 1017, 1),
        std::vector<unsigned char>(1500, 0),  // over 1024 bytes
        header(GD_STATE, 0, 40000, 0, 99),    // a user nobody registered
    };
    bad[2].resize(8);
    bad[4].resize(8 + 1017);
    put_be16(&bad[5][4], 1492);
    long before = 0;
    for (int round = 0; round < 300; ++round) {
        if (round == 100)
            before = live_blocks;
        for (auto& b : bad)
            peer.send(b, link_addr());
        std::vector<unsigned char> noise(rng() % 40);
        for (auto& c : noise)
            c = (unsigned char)rng();
        peer.send(noise, link_addr());
        for (int i = 0; i < 10; ++i)
            disp.process_async_rx_datagrams(&zero);
        peer.drain();
    }
    EXPECT_EQ(live_blocks, before);
    EXPECT_TRUE(u.seen.empty());
    EXPECT_TRUE(log_has("dropped a malformed datagram of 8 bytes"));
    EXPECT_TRUE(log_has("(over 1024)"));  // the 1500-byte one
    EXPECT_TRUE(log_has("dropped a datagram for unknown user 99"));
}

// Registration, and the receive loop against the real clock.
TEST_F(net_test, dispatcher_tracks_links_and_keeps_to_its_budget_and_sending_waits_for_the_acknowledgement)
{
    set_milli_clock(nullptr, nullptr);
    inet_game_link other;
    counting_user a(&link, 1), b(&link, 2), c(&other, 1);
    dispatcher disp;
    EXPECT_EQ(disp.register_user(&a), 0);
    EXPECT_EQ(disp.register_user(&b), 0);
    EXPECT_EQ(disp.register_user(&c), 0);  // taken id: logged, its link still watched
    EXPECT_TRUE(log_has("user 1 is already registered"));
    EXPECT_EQ(disp.users.count, 2);
    EXPECT_EQ(disp.game_links.count, 2);
    EXPECT_EQ(disp.unregister_user(&c), -1);
    EXPECT_EQ(disp.unregister_user(&a), 0);
    EXPECT_EQ(disp.game_links.count, 2);  // b still receives on link
    EXPECT_EQ(disp.unregister_user(&b), 0);
    EXPECT_EQ(disp.game_links.count, 1);
    EXPECT_EQ(disp.get_user(2), nullptr);

    // 1.5 s with a silent peer: one retransmission after 100 ms, then nothing.
    disp.register_user(&a);
    link.start_reliable_tx(d, &to);
    link.tx_state.timer.start(100);
    timeval budget = {1, 500000};
    unsigned int start = get_milli_uptime();
    EXPECT_EQ(disp.process_async_rx_datagrams(&budget), 0);
    unsigned int took = get_milli_uptime() - start;
    EXPECT_GE(took, 1500u);
    EXPECT_LE(took, 1600u);
    EXPECT_EQ(peer.drain(), 2);

    // send_reliable_data waits for the acknowledgement.
    link.cancel_reliable_tx();
    std::thread acker([this] {
        for (int tries = 0; tries < 2000; ++tries) {
            auto got = peer.recv();
            if (got.size() >= 8) {
                peer.send(header(GD_ACK, 0, get_be16(&got[2]), 0, 0), peer.last_from);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    EXPECT_EQ(link.send_reliable_data(d, &to), 0);
    acker.join();
    EXPECT_EQ(link.tx_state.pending_dgram, nullptr);
    EXPECT_FALSE(link.flags & IGL_CONNECTED);  // a bound link does not stay "connected"
}

// Forwards between two sockets, dropping, duplicating and delaying datagrams.
struct relay {
    raw_peer to_sender, to_receiver;
    sockaddr_in sender, receiver;
    std::mt19937 rng{11};
    struct held { unsigned int at; bool forward; std::vector<unsigned char> bytes; };
    std::deque<held> queue;
    int pct() { return (int)(rng() % 100); }
    // Returns the datagrams sent on.
    int pump()
    {
        int sent = 0;
        for (auto* side : {&to_sender, &to_receiver})
            for (auto b = side->recv(); !b.empty(); b = side->recv()) {
                if (pct() < 30)
                    continue;
                int copies = pct() < 5 ? 2 : 1;
                for (int i = 0; i < copies; ++i)
                    queue.push_back({now_ms + (unsigned)(rng() % 4), side == &to_sender, b});
            }
        for (size_t i = 0; i < queue.size();) {
            if ((int)(queue[i].at - now_ms) > 0) {
                ++i;
                continue;
            }
            (queue[i].forward ? to_receiver : to_sender).send(queue[i].bytes, queue[i].forward ? receiver : sender);
            queue.erase(queue.begin() + (long)i);
            ++sent;
        }
        return sent;
    }
};

TEST_F(net_test, lossy_relay_delivers_each_reliable_datagram_at_most_once_in_order)
{
    set_log_priority(2);  // thousands of expected warnings
    inet_game_link rx;
    ASSERT_EQ(rx.create(PLATFORM_SOCK_DGRAM), 0);
    ASSERT_EQ(rx.bind(0), 0);
    relay r;
    r.sender = link_addr();
    r.receiver = loopback(rx.local_port());
    counting_user tx_user(&link, 1), rx_user(&rx, 1);
    dispatcher tx_disp, rx_disp;
    tx_disp.register_user(&tx_user);
    rx_disp.register_user(&rx_user);
    link.last_out_seq_num = rx.last_in_seq_num = 65535 - 3000;  // wraps on the way

    const int total = 10000;
    std::vector<bool> timed_out(total);
    d->set("user_id", 1u);
    for (int i = 0; i < total; ++i) {
        d->set("state", (unsigned)i);
        ASSERT_GE(link.start_reliable_tx(d, &r.to_sender.addr), 0);
        for (int quiet = 0; link.tx_state.pending_dgram;) {
            uint32_t tries = link.tx_state.n_tx_attempts;
            int sent = r.pump();
            rx_disp.process_async_rx_datagrams(&zero);
            tx_disp.process_async_rx_datagrams(&zero);
            if (link.flags & IGL_TIMED_OUT) {
                timed_out[i] = true;
                link.cancel_reliable_tx();
            }
            // Nothing on the wire for three passes: on to the retransmission.
            quiet = sent == 0 && r.queue.empty() && tries == link.tx_state.n_tx_attempts ? quiet + 1 : 0;
            int due = (int)(link.tx_state.timer.deadline - now_ms);
            now_ms += quiet >= 3 && due > 1 ? (unsigned)due : 1u;
        }
    }
    for (int i = 0; i < 20; ++i, ++now_ms) {  // late copies still in flight
        r.pump();
        rx_disp.process_async_rx_datagrams(&zero);
    }
    std::vector<bool> got(total);  // in order, so each at most once
    for (size_t k = 0; k < rx_user.seen.size(); ++k) {
        ASSERT_TRUE(k == 0 || rx_user.seen[k] > rx_user.seen[k - 1]);
        got[rx_user.seen[k]] = true;
    }
    int lost = 0;
    for (int i = 0; i < total; ++i) {
        ASSERT_TRUE(got[i] || timed_out[i]) << i;
        lost += timed_out[i];
    }
    EXPECT_GT(lost, 0);
    EXPECT_LT(lost, total / 4);
    EXPECT_LT(link.last_out_seq_num, 10000);
}

}  // namespace
