// The dispatcher's receive loop and the users it serves.
#include "kdnet/dispatcher.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

// ---- users ------------------------------------------------------------------------

igl_user::igl_user() : game_link(nullptr), mcast_group(0), user_id(0xffff) {}

void igl_user::process_datagram(char*, sockaddr_in*) {}

int igl_user::add_to_mcast_group(inet_game_link* l)
{
    if (!l || mcast_group.insert(l) < 0) {
        ELOG(EL_MINDEBUG, "::add_to_mcast_group(): unable to add to mcast group");
        return -1;
    }
    return 0;
}

int igl_user::remove_from_mcast_group(inet_game_link* l)
{
    d_node* n = mcast_group.get_node(l);
    if (!n) {
        ELOG(EL_MINDEBUG, "::remove_from_mcast_group(): unable to remove from mcast group");
        return -1;
    }
    mcast_group.remove(n);
    return 0;
}

int igl_user::mcast_data(user_datagram* d)
{
    if (!d) {
        ELOG(EL_MINDEBUG, "::mcast_data(): invalid parameters");
        return -1;
    }
    int failed = 0;
    for (d_node* n = mcast_group.first; n; n = n->next)
        if (!n->object || static_cast<inet_game_link*>(n->object)->send_data(d, nullptr) < 0)
            ++failed;
    return -failed;
}

void igl_user::dump(FILE* _f, const char* prefix)
{
    CHECK_PTR_V(_f);
    if (!prefix)
        prefix = "";
    fprintf(_f, "%sigl_user: id=%d\n", prefix, user_id);
    if (game_link)
        game_link->dump(_f, prefix);
    else
        fprintf(_f, "%s(no game_link)\n", prefix);
    fprintf(_f, "%smcast_group:\n", prefix);
    dump_inet_game_link_l(_f, &mcast_group, prefix);
}

// ---- dispatcher -------------------------------------------------------------------

namespace {

inet_game_link* link_of(d_node* n)
{
    return static_cast<inet_game_link*>(n->object);
}

igl_user* user_of(d_node* n)
{
    return static_cast<igl_user*>(n->object);
}

// Milliseconds until the link's time-out (negative: overdue). Reading does
// not restart the timer.
int time_left(inet_game_link* l)
{
    return (int)(l->tx_state.timer.deadline - get_milli_uptime());
}

}  // namespace

dispatcher::dispatcher() : game_links(0), users(0) {}

dispatcher::~dispatcher() = default;

void dispatcher::process_rogue_datagram(char* buf, inet_game_link*)
{
    dgram_header h;
    if (get_dgram_header(buf, DGRAM_HEADER_SIZE, &h) == 0)
        ELOG(EL_MINDEBUG, "dispatcher: dropped a datagram for unknown user %d (id=%d seq_num=%d)", h.user_id, h.id,
             h.seq_num);
}

int dispatcher::register_user(igl_user* u)
{
    if (!u || !u->game_link) {
        ELOG(EL_MINDEBUG, "register_user(): _user or _user->game_link is NULL");
        return -1;
    }
    bool added = false;
    if (get_user(u->user_id)) {
        ELOG(EL_MINDEBUG, "user %d is already registered", u->user_id);
    } else if (users.insert(u) < 0) {
        ELOG(EL_MINDEBUG, "unable to register user %d", u->user_id);
        return -1;
    } else {
        added = true;
    }
    if (!game_links.get_node(u->game_link) && game_links.insert(u->game_link) < 0) {
        ELOG(EL_MINDEBUG, "unable to register user %d", u->user_id);
        if (added)
            users.remove(u);
        return -1;
    }
    return 0;
}

int dispatcher::unregister_user(igl_user* u)
{
    if (!u)
        return 0;
    igl_user* registered = get_user(u->user_id);
    if (!registered) {
        ELOG(EL_MINDEBUG, "::unregister_user(): user %d is not registered", u->user_id);
        return -1;
    }
    if (registered != u) {
        ELOG(EL_MINDEBUG, "::unregister_user(): registered user object is not the same as the one supplied");
        return -1;
    }
    users.remove(u);
    for (d_node* n = users.first; n; n = n->next)
        if (user_of(n)->game_link == u->game_link)
            return 0;
    game_links.remove(u->game_link);
    return 0;
}

igl_user* dispatcher::get_user(int id)
{
    for (d_node* n = users.first; n; n = n->next)
        if (n->object && user_of(n)->user_id == id)
            return user_of(n);
    return nullptr;
}

inet_game_link* dispatcher::get_ready_link()
{
    inet_game_link* best = nullptr;
    int best_left = INT_MAX;
    for (d_node* n = game_links.first; n; n = n->next) {
        inet_game_link* l = link_of(n);
        if (!l || !l->tx_state.pending_dgram || (l->flags & IGL_TIMED_OUT))
            continue;
        int left = time_left(l);
        if (!best || left < best_left) {
            best = l;
            best_left = left;
        }
    }
    return best;
}

int dispatcher::process_async_rx_datagrams(timeval* budget)
{
    bool limited = budget != nullptr;
    long long left = 0;
    if (limited) {
        left = (long long)budget->tv_sec * 1000 + budget->tv_usec / 1000;
        if (left < 0)
            left = 0;
    } else if (!game_links.first) {
        ELOG(EL_MINDEBUG, "dispatcher: nothing to wait on and no time limit");
        return -1;
    }
    char buf[DGRAM_MAX_SIZE];
    for (;;) {
        // The wait: the budget left, or less when a retransmission falls due first.
        int wait = limited ? (int)(left < INT_MAX ? left : INT_MAX) : -1;
        inet_game_link* due_link = get_ready_link();
        int due = 0;
        if (due_link) {
            due = time_left(due_link);
            if (due < 0)
                due = 0;
            if (wait < 0 || due < wait)
                wait = due;
        }

        // The read set, rebuilt every pass: each socket once, the first link holding it.
        int socks[DISPATCHER_MAX_LINKS];
        inet_game_link* links[DISPATCHER_MAX_LINKS];
        bool ready[DISPATCHER_MAX_LINKS];
        int n = 0;
        for (d_node* node = game_links.first; node && n < DISPATCHER_MAX_LINKS; node = node->next) {
            inet_game_link* l = link_of(node);
            if (!l) {
                ELOG(EL_MINDEBUG, "NULL link found in game_links list");
                continue;
            }
            if (l->sock < 0 || std::find(socks, socks + n, l->sock) != socks + n)
                continue;
            socks[n] = l->sock;
            links[n++] = l;
        }

        unsigned int start = get_milli_uptime();
        int nready = platform_poll_read(socks, n, wait, ready);
        int spent = (int)(get_milli_uptime() - start);
        if (nready < 0) {
            ELOG(EL_MINDEBUG, "dispatcher: waiting on %d links failed: %s", n, platform_socket_error());
            return -1;
        }
        if (limited)
            left = left > spent ? left - spent : 0;

        bool end = false;
        if (due_link && due <= spent && due_link->resend_reliable_dgram() < 0)
            end = true;

        for (int i = 0; i < n; ++i) {
            if (!ready[i])
                continue;
            inet_game_link* l = links[i];
            memset(buf, 0, sizeof buf);
            sockaddr_in from;
            memset(&from, 0, sizeof from);
            int r = l->receive_data(buf, (int)sizeof buf, &from);
            if (r == 0)
                continue;
            end = true;
            if (r == -1)
                continue;
            dgram_header h;
            get_dgram_header(buf, (int)sizeof buf, &h);
            if (r == -3) {
                ELOG(EL_MINDEBUG, "received datagram out of sequence: id=%d seq_num=%d data_size=%d user_id=%d",
                     h.id, h.seq_num, h.data_size, h.user_id);
                continue;
            }
            igl_user* u = get_user(h.user_id);
            if (!u) {
                process_rogue_datagram(buf, l);
            } else if (u->game_link == l) {
                u->process_datagram(buf, &from);
            } else {
                char where[32];
                ELOG(EL_MINOR, "WARNING (dispatcher): igl_user %d not connected to %s", h.user_id,
                     strsockaddr_in(where, &from));
            }
        }
        // A stream of acknowledgements or garbage must not hold the loop past its budget.
        if (end || (limited && left == 0))
            return 0;
    }
}

}  // namespace vantrel
