// Reliable datagrams on loopback, next to ENet's reliable packets in the same
// process: per-message latency (send until the receiving side hands the
// message over, and the sender has its acknowledgement), and messages per
// second. Links send one reliable datagram at a time (stop and wait); ENet is
// measured both that way and pipelined (a batch in flight at once). Both sides
// run in this one thread, each serviced without waiting.
#include <benchmark/benchmark.h>
#include <enet/enet.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "kdbase/errorlog.h"
#include "kdnet/dispatcher.h"

using namespace vantrel;

namespace {

using clock_type = std::chrono::steady_clock;

double micros(clock_type::time_point a, clock_type::time_point b)
{
    return std::chrono::duration<double, std::micro>(b - a).count();
}

struct latency_stats {
    std::vector<double> samples;
    double mean() const
    {
        double s = 0;
        for (double v : samples)
            s += v;
        return samples.empty() ? 0 : s / (double)samples.size();
    }
    double percentile(int p)
    {
        if (samples.empty())
            return 0;
        std::sort(samples.begin(), samples.end());
        return samples[(samples.size() * (size_t)p) / 100];
    }
};

// Counts the datagrams handed to it.
struct sink_user : igl_user {
    int received = 0;
    void process_datagram(char*, sockaddr_in*) override { ++received; }
};

// Two links on loopback, each with its dispatcher.
struct vantrel_pair {
    inet_game_link tx, rx;
    sink_user tx_user, rx_user;
    dispatcher tx_disp, rx_disp;
    sockaddr_in to;
    user_datagram d;
    timeval zero = {0, 0};

    vantrel_pair()
    {
        tx.create(PLATFORM_SOCK_DGRAM);
        tx.bind(0);
        rx.create(PLATFORM_SOCK_DGRAM);
        rx.bind(0);
        get_host_addr("127.0.0.1", &to);
        to.sin_port = htons(rx.local_port());
        tx_user.game_link = &tx;
        rx_user.game_link = &rx;
        tx_user.user_id = rx_user.user_id = 1;
        tx_disp.register_user(&tx_user);
        rx_disp.register_user(&rx_user);
        d.set("id", GD_POSITION);
        d.set("user_id", 1);
        d.add("x", 1.0f);
        d.add("y", 2.0f);
        d.add("z", 3.0f);
    }
    // One message: returns false when it could not be sent.
    bool send_one()
    {
        int before = rx_user.received;
        if (tx.start_reliable_tx(&d, &to) < 0)
            return false;
        while (rx_user.received == before || tx.tx_state.pending_dgram) {
            rx_disp.process_async_rx_datagrams(&zero);
            tx_disp.process_async_rx_datagrams(&zero);
            if (tx.flags & IGL_TIMED_OUT)
                return false;
        }
        return true;
    }
};

// An ENet client connected to a server on loopback.
struct enet_pair {
    ENetHost* server = nullptr;
    ENetHost* client = nullptr;
    ENetPeer* peer = nullptr;
    unsigned char payload[12] = {};
    int received = 0;

    enet_pair()
    {
        enet_initialize();
        ENetAddress a;
        enet_address_set_host(&a, "127.0.0.1");
        a.port = 0;
        server = enet_host_create(&a, 1, 1, 0, 0);
        client = enet_host_create(nullptr, 1, 1, 0, 0);
        if (!server || !client)
            return;
        a.port = server->address.port;
        peer = enet_host_connect(client, &a, 1, 0);
        bool up = false;
        for (int i = 0; i < 1000 && !up; ++i) {
            service(server, 1);
            ENetEvent e;
            while (enet_host_service(client, &e, 1) > 0)
                up = up || e.type == ENET_EVENT_TYPE_CONNECT;
        }
        if (!up)
            peer = nullptr;
    }
    ~enet_pair()
    {
        if (client)
            enet_host_destroy(client);
        if (server)
            enet_host_destroy(server);
        enet_deinitialize();
    }
    void service(ENetHost* h, unsigned int wait)
    {
        ENetEvent e;
        while (enet_host_service(h, &e, wait) > 0) {
            if (e.type == ENET_EVENT_TYPE_RECEIVE) {
                ++received;
                enet_packet_destroy(e.packet);
            }
            wait = 0;
        }
    }
    bool acknowledged() { return enet_list_empty(&peer->sentReliableCommands); }
    void queue_one()
    {
        enet_peer_send(peer, 0, enet_packet_create(payload, sizeof payload, ENET_PACKET_FLAG_RELIABLE));
    }
    // Stop and wait: until the server has it and the client its acknowledgement.
    void send_one()
    {
        int before = received;
        queue_one();
        enet_host_flush(client);
        while (received == before || !acknowledged()) {
            service(server, 0);
            service(client, 0);
        }
    }
    void send_batch(int n)
    {
        int before = received;
        for (int i = 0; i < n; ++i)
            queue_one();
        enet_host_flush(client);
        while (received - before < n || !acknowledged()) {
            service(server, 0);
            service(client, 0);
        }
    }
};

// One message of each per iteration, interleaved so both see the same machine.
void BM_reliable_latency(benchmark::State& state)
{
    set_logfile("/dev/null");
    vantrel_pair v;
    enet_pair e;
    if (!e.peer) {
        state.SkipWithError("ENet did not connect on loopback");
        return;
    }
    latency_stats lv, le;
    for (auto _ : state) {
        auto t0 = clock_type::now();
        if (!v.send_one()) {
            state.SkipWithError("reliable datagram timed out");
            return;
        }
        auto t1 = clock_type::now();
        e.send_one();
        auto t2 = clock_type::now();
        lv.samples.push_back(micros(t0, t1));
        le.samples.push_back(micros(t1, t2));
    }
    state.counters["vantrel_mean_us"] = lv.mean();
    state.counters["vantrel_p50_us"] = lv.percentile(50);
    state.counters["vantrel_p99_us"] = lv.percentile(99);
    state.counters["enet_mean_us"] = le.mean();
    state.counters["enet_p50_us"] = le.percentile(50);
    state.counters["enet_p99_us"] = le.percentile(99);
    state.counters["mean_ratio"] = le.mean() > 0 ? lv.mean() / le.mean() : 0;
    state.counters["p50_ratio"] = le.percentile(50) > 0 ? lv.percentile(50) / le.percentile(50) : 0;
}
BENCHMARK(BM_reliable_latency)->Iterations(20000);

// Messages per second: the links' stop and wait, ENet's stop and wait and
// ENet with a batch of 100 in flight, in one process.
void BM_reliable_throughput(benchmark::State& state)
{
    set_logfile("/dev/null");
    const int batch = 100;
    vantrel_pair v;
    enet_pair e;
    if (!e.peer) {
        state.SkipWithError("ENet did not connect on loopback");
        return;
    }
    double tv = 0, te = 0, tp = 0;
    for (auto _ : state) {
        auto t0 = clock_type::now();
        for (int i = 0; i < batch; ++i)
            v.send_one();
        auto t1 = clock_type::now();
        for (int i = 0; i < batch; ++i)
            e.send_one();
        auto t2 = clock_type::now();
        e.send_batch(batch);
        auto t3 = clock_type::now();
        tv += micros(t0, t1), te += micros(t1, t2), tp += micros(t2, t3);
    }
    double n = (double)state.iterations() * batch * 1e-6;
    state.counters["vantrel_msg_per_s"] = n / (tv * 1e-12);
    state.counters["enet_stop_wait_msg_per_s"] = n / (te * 1e-12);
    state.counters["enet_pipelined_msg_per_s"] = n / (tp * 1e-12);
}
BENCHMARK(BM_reliable_throughput)->Iterations(200);

}  // namespace
