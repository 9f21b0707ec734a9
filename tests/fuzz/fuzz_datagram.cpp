// A hostile datagram on a game link: the input is sent over loopback to a
// link whose dispatcher serves an entity, with a reliable datagram pending so
// acknowledgements are matched too.
#include <cstring>

#include "fuzz_util.h"
#include "world/entity.h"

using namespace vantrel;

namespace {

struct target {
    inet_game_link link;
    entity_t user;
    generic_state stand;
    generic_state* states[2] = {&stand, nullptr};
    dispatcher disp;
    int sender = platform_socket(PLATFORM_SOCK_DGRAM);
    sockaddr_in to;
    user_datagram pending;

    target()
    {
        link.create(PLATFORM_SOCK_DGRAM);
        link.bind(0);
        get_host_addr("127.0.0.1", &to);
        to.sin_port = htons(link.local_port());
        user.game_link = &link;
        user.user_id = 1;
        stand.set(3, nullptr, 0, -1);
        user.states = states;
        disp.register_user(&user);
        pending.set("id", GD_STATE);
        pending.add("state", 5);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static vantrel_fuzz::quiet_log quiet;
    static target t;
    if (!t.link.tx_state.pending_dgram) {
        sockaddr_in self = t.to;
        t.link.start_reliable_tx(&t.pending, &self);
    }
    platform_sendto(t.sender, data, (int)size, &t.to);
    timeval zero = {0, 0};
    t.disp.process_async_rx_datagrams(&zero);
    return 0;
}
