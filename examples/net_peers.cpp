// Two game peers in one process, each with its own link and dispatcher, talk
// over loopback through a relay the way entities do: every cycle each sends
// its position and every tenth cycle a state change to its multicast group,
// and prints what it sees of the other. With -loss N the relay drops N % of
// the datagrams each way.
//   net_peers [-loss 30] [-cycles 60]
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "kdbase/errorlog.h"
#include "kdnet/dispatcher.h"

using namespace vantrel;

namespace {

sockaddr_in loopback(unsigned short port)
{
    sockaddr_in a;
    get_host_addr("127.0.0.1", &a);
    a.sin_port = htons(port);
    return a;
}

// Prints every position and state it is given.
struct viewer : igl_user {
    const char* name = "";
    int positions = 0, states = 0;
    void process_datagram(char* buf, sockaddr_in*) override
    {
        dgram_header h;
        get_dgram_header(buf, DGRAM_MAX_SIZE, &h);
        user_datagram d;
        if (h.id == GD_POSITION) {
            d.add("x", 0.0f);
            d.add("y", 0.0f);
            d.add("z", 0.0f);
            d.unpack(buf, DGRAM_HEADER_SIZE + h.data_size);
            printf("%s sees position #%u (%.2f, %.2f, %.2f)\n", name, h.seq_num, d["x"]->f_value(), d["y"]->f_value(),
                   d["z"]->f_value());
            ++positions;
        } else if (h.id == GD_STATE) {
            d.add("state", 0);
            d.unpack(buf, DGRAM_HEADER_SIZE + h.data_size);
            printf("%s sees state %d\n", name, d["state"]->i_value());
            ++states;
        }
    }
};

// Forwards datagrams between A and B, dropping loss % of them.
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

// One side: a link bound to its own port and connected to the relay, the
// user that receives on it (and sends through it), and its dispatcher.
struct peer {
    const char* name;
    inet_game_link link;
    viewer user;
    dispatcher disp;
    int state = 1;

    explicit peer(const char* _name) : name(_name) {}
    bool open()
    {
        return link.create(PLATFORM_SOCK_DGRAM) == 0 && link.bind(0) == 0;
    }
    bool join(unsigned short relay_port, unsigned short id)
    {
        user.game_link = &link;
        user.user_id = id;
        user.name = name;
        return link.connect("127.0.0.1", relay_port) == 0 && user.add_to_mcast_group(&link) == 0 &&
               disp.register_user(&user) == 0;
    }
    // What an entity sends: its position every cycle, its state when it changes.
    void send(int cycle, unsigned short id, float phase)
    {
        user_datagram pos;
        pos.set("id", GD_POSITION);
        pos.set("user_id", id);
        pos.add("x", (float)std::cos(cycle * 0.1 + phase));
        pos.add("y", (float)std::sin(cycle * 0.1 + phase));
        pos.add("z", 0.0f);
        user.mcast_data(&pos);
        if (cycle % 10 == 0) {
            user_datagram change;
            change.set("id", GD_STATE);
            change.set("user_id", id);
            change.add("state", state);
            if (user.mcast_data(&change) == 0)
                printf("%s sends state %d\n", name, state);
            ++state;
        }
    }
};

}  // namespace

int main(int argc, char** argv)
{
    set_logfile("net_peers.log");
    int loss = option(argc, argv, "-loss", 0);
    int cycles = option(argc, argv, "-cycles", 60);
    init_socket_api();

    // Both peers use the same user id: each is the other's remote copy.
    const unsigned short id = 7;
    peer a("A"), b("B");
    if (!a.open() || !b.open()) {
        fprintf(stderr, "net_peers: no sockets (see net_peers.log)\n");
        return 1;
    }
    relay wire(loss, a.link.local_port(), b.link.local_port());
    if (!a.join(platform_local_port(wire.toward_a), id) || !b.join(platform_local_port(wire.toward_b), id)) {
        fprintf(stderr, "net_peers: unable to connect through the relay (see net_peers.log)\n");
        return 1;
    }

    for (int cycle = 0; cycle < cycles; ++cycle) {
        a.send(cycle, id, 0.0f);
        b.send(cycle, id, 3.14159f);
        wire.pump();
        // Each peer serves its link: a pass ends with each datagram handed over.
        for (peer* p : {&a, &b})
            for (int pass = 0; pass < 3; ++pass) {
                timeval budget = {0, 1000};
                p->disp.process_async_rx_datagrams(&budget);
            }
    }
    printf("each sent %d positions and %d states; A saw %d positions and %d states of B, B saw %d and %d of A; "
           "the relay dropped %d datagrams\n",
           cycles, a.state - 1, a.user.positions, a.user.states, b.user.positions, b.user.states, wire.dropped);
    return 0;
}
