// Two game peers in one process, each with its own link and dispatcher, talk
// over loopback through a relay. Each runs its own entity (moving along a
// circle, changing state every tenth cycle: stand, walk, run, stand ...) and
// a remote copy of the other's entity, which follows the positions and state
// changes that arrive. Every fifth cycle each peer prints where it sees the
// other. With -loss N the relay drops N % of the datagrams each way: the copy
// misses positions, and refuses a state that may not follow the one it shows
// (logged in net_peers.log) until the next one fits.
//   net_peers [-loss 30] [-cycles 60]
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "kdbase/errorlog.h"
#include "world/entity.h"

using namespace vantrel;

namespace {

sockaddr_in loopback(unsigned short port)
{
    sockaddr_in a;
    get_host_addr("127.0.0.1", &a);
    a.sin_port = htons(port);
    return a;
}

// Forwards datagrams between the peers, dropping loss % of them.
struct relay {
    int toward_a = platform_socket(PLATFORM_SOCK_DGRAM), toward_b = platform_socket(PLATFORM_SOCK_DGRAM);
    sockaddr_in a, b;
    int loss;
    std::mt19937 rng{1};
    int dropped = 0;
    relay(int _loss, unsigned short port_a, unsigned short port_b)
        : a(loopback(port_a)), b(loopback(port_b)), loss(_loss)
    {
        for (int s : {toward_a, toward_b}) {
            sockaddr_in any = loopback(0);
            platform_bind(s, &any);
            platform_set_nonblocking(s);
        }
    }
    ~relay()
    {
        platform_close_socket(toward_a);
        platform_close_socket(toward_b);
    }
    void pump()
    {
        char buf[DGRAM_MAX_SIZE];
        for (int from : {toward_a, toward_b}) {
            int n;
            while ((n = platform_recvfrom(from, buf, sizeof buf, nullptr)) >= 0) {
                if ((int)(rng() % 100) < loss) {
                    ++dropped;
                    continue;
                }
                if (from == toward_a)
                    platform_sendto(toward_b, buf, n, &b);
                else
                    platform_sendto(toward_a, buf, n, &a);
            }
        }
    }
};

int option(int argc, char** argv, const char* name, int fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        int v;
        const char* text = argv[i + 1];
        if (strcmp(argv[i], name) == 0 && std::from_chars(text, text + strlen(text), v).ec == std::errc())
            return v;
    }
    return fallback;
}

// An entity with the three states; each state may only follow the one before.
struct actor {
    entity_t ent;
    int after_run[2] = {3, 0}, after_stand[2] = {1, 0}, after_walk[2] = {2, 0};
    entity_state_t stand, walk, run;
    generic_state* states[4] = {&stand, &walk, &run, nullptr};

    explicit actor(unsigned short id)
    {
        stand.set(1, after_run, 0, -1);
        walk.set(2, after_stand, 0, -1);
        run.set(3, after_walk, 0, -1);
        stand.entity = walk.entity = run.entity = &ent;
        ent.states = states;
        ent.user_id = id;
    }
    int state() { return ent.current ? ent.current->id : 0; }
};

// One side: a link bound to its own port and connected to the relay, its
// dispatcher, its own entity (sending) and the copy of the other's (receiving).
struct peer {
    const char* name;
    inet_game_link link;
    dispatcher disp;
    actor own, copy;

    peer(const char* _name, unsigned short own_id, unsigned short other_id)
        : name(_name), own(own_id), copy(other_id)
    {
    }
    bool open() { return link.create(PLATFORM_SOCK_DGRAM) == 0 && link.bind(0) == 0; }
    bool join(unsigned short relay_port)
    {
        own.ent.game_link = copy.ent.game_link = &link;
        own.ent.flags = ENTITY_NETWORKED;
        return link.connect("127.0.0.1", relay_port) == 0 && own.ent.add_to_mcast_group(&link) == 0 &&
               disp.register_user(&own.ent) == 0 && disp.register_user(&copy.ent) == 0;
    }
    // The host's part of a cycle for its own entity: move it, change its
    // state now and then (the state that starts sends itself), run it.
    void play(int cycle, float phase)
    {
        if (cycle == 0)
            own.ent.branch_to(1);
        else if (cycle % 10 == 0)
            own.ent.request_state_transition(own.state() % 3 + 1);
        own.ent.pos_v[0] = (float)std::cos(cycle * 0.1 + phase);
        own.ent.pos_v[1] = (float)std::sin(cycle * 0.1 + phase);
        own.ent.execute();
        own.ent.send_pos();
    }
    // Serves the link (a pass ends with each datagram handed over), then
    // runs the copy once it has a state: it takes the state that arrived and
    // lands on the last position.
    void follow()
    {
        for (int pass = 0; pass < 3; ++pass) {
            timeval budget = {0, 1000};
            disp.process_async_rx_datagrams(&budget);
        }
        if (copy.ent.current || copy.ent.requested_states[0])
            copy.ent.execute();
    }
};

}  // namespace

int main(int argc, char** argv)
{
    set_logfile("net_peers.log");
    int loss = option(argc, argv, "-loss", 0);
    int cycles = option(argc, argv, "-cycles", 60);
    init_socket_api();

    peer a("A", 1, 2), b("B", 2, 1);
    if (!a.open() || !b.open()) {
        fprintf(stderr, "net_peers: no sockets (see net_peers.log)\n");
        return 1;
    }
    relay wire(loss, a.link.local_port(), b.link.local_port());
    if (!a.join(platform_local_port(wire.toward_a)) || !b.join(platform_local_port(wire.toward_b))) {
        fprintf(stderr, "net_peers: unable to connect through the relay (see net_peers.log)\n");
        return 1;
    }

    int agree = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        a.play(cycle, 0.0f);
        b.play(cycle, 3.14159f);
        wire.pump();
        a.follow();
        b.follow();
        for (peer* p : {&a, &b}) {
            peer* other = p == &a ? &b : &a;
            agree += p->copy.state() == other->own.state();
            if (cycle % 5 == 4) {
                const float* at = p->copy.ent.pos_v;
                printf("cycle %2d: %s sees %s at (%5.2f, %5.2f) in state %d (really state %d)\n", cycle, p->name,
                       other->name, at[0], at[1], p->copy.state(), other->own.state());
            }
        }
    }
    printf("the copies showed the right state in %d of %d looks; the relay dropped %d datagrams\n", agree,
           2 * cycles, wire.dropped);
    return 0;
}
