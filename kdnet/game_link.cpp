// Game links: sending with sequence numbers, reliable datagrams with
// acknowledgement and retransmission, and checked receiving.
#include "kdnet/game_link.h"

#include <cinttypes>
#include <cstring>

#include "kdbase/cfile.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdnet/dispatcher.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

const char* header_fields[] = {"id", "flags", "seq_num", "data_size", "user_id"};

bool has_header(user_datagram* d)
{
    d_node* n = d->list.first;
    for (const char* field : header_fields) {
        if (!n || strcmp(static_cast<r_var*>(n->object)->name, field) != 0)
            return false;
        n = n->next;
    }
    return true;
}

}  // namespace

// ---- datagrams -----------------------------------------------------------------

user_datagram::user_datagram() : r_struct(true)
{
    add(header_fields[0], (unsigned char)0);
    add(header_fields[1], (unsigned char)0);
    add(header_fields[2], (unsigned short)0);
    add(header_fields[3], (unsigned short)0);
    add(header_fields[4], (unsigned short)0);
}

void user_datagram::reset()
{
    for (d_node* n = list.first; n; n = n->next) {
        r_var* v = static_cast<r_var*>(n->object);
        for (int i = 0; i < (int)v->count; ++i) {
            switch (v->type) {
            case r_char: v->set(i, (char)0); break;
            case r_uchar8: v->set(i, (unsigned char)0); break;
            case r_ushort16: v->set(i, (unsigned short)0); break;
            case r_int: v->set(i, 0); break;
            case r_uint32: v->set(i, 0u); break;
            case r_float: v->set(i, 0.0f); break;
            case r_char_p:
            case r_string: v->set(i, (const char*)nullptr); break;
            case r_void_p: v->set(i, (void*)nullptr); break;
            case r_struct_p: v->set(i, (r_struct*)nullptr); break;
            case r_uchar8_p: v->set(i, (unsigned char*)nullptr); break;
            case r_ushort16_p: v->set(i, (unsigned short*)nullptr); break;
            case r_int_p: v->set(i, (int*)nullptr); break;
            case r_uint32_p: v->set(i, (unsigned int*)nullptr); break;
            case r_float_p: v->set(i, (float*)nullptr); break;
            case r_var_p: v->set(i, (r_var*)nullptr); break;
            case r_undefined: break;
            }
        }
    }
}

unsigned int user_datagram::get(const char* field)
{
    r_var* v = get_var(field);
    return v ? (unsigned int)v->value() : 0;
}

int user_datagram::set(const char* field, unsigned int value)
{
    r_var* v = get_var(field);
    if (!v)
        return -1;
    switch (v->type) {
    case r_uchar8: return v->set((unsigned char)value);
    case r_ushort16: return v->set((unsigned short)value);
    case r_uint32: return v->set(value);
    default: return v->set((int)value);
    }
}

int get_dgram_header(const char* buf, int length, dgram_header* out)
{
    if (!buf || !out || length < DGRAM_HEADER_SIZE)
        return -1;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(buf);
    out->id = p[0];
    out->flags = p[1];
    out->seq_num = get_be16(p + 2);
    out->data_size = get_be16(p + 4);
    out->user_id = get_be16(p + 6);
    return 0;
}

// ---- retransmission state ---------------------------------------------------------

reliable_tx_state::reliable_tx_state()
    : srtt(5000), measured_rtt(0), rttvar(0), max_tx_attempts(3), n_tx_attempts(0), pending_dgram(nullptr),
      destination(nullptr)
{
}

void reliable_tx_state::update_rto()
{
    // The classic estimator on signed 32-bit values (>> is arithmetic here).
    int32_t err = (int32_t)(measured_rtt - srtt);
    srtt = (uint32_t)((int32_t)srtt + (err >> 3));
    int32_t abs_err = err < 0 ? -err : err;
    rttvar = (uint32_t)((int32_t)rttvar + ((abs_err - (int32_t)rttvar) >> 2));
    // A loopback round trip of 0 ms must not make every pass retransmit; a
    // wild sample must not stall the link for weeks.
    int64_t rto = (int64_t)(int32_t)srtt + 4 * (int64_t)(int32_t)rttvar;
    if (rto < IGL_RTO_MIN)
        rto = IGL_RTO_MIN;
    if (rto > IGL_RTO_MAX)
        rto = IGL_RTO_MAX;
    timer.start((unsigned int)rto);
}

// ---- links ----------------------------------------------------------------------

inet_game_link::inet_game_link() : sock(-1)
{
    _reset_members();
}

inet_game_link::~inet_game_link()
{
    close();
    delete tx_state.pending_dgram;
}

void inet_game_link::_reset_members()
{
    memset(&peer, 0, sizeof peer);
    if (sock >= 0)
        platform_close_socket(sock);
    sock = -1;
    last_out_seq_num = 0;
    last_in_seq_num = 0;
    flags = IGL_SEQUENCING;
    type = -1;
    sock_connected = false;
    seq_candidate_set = false;
    seq_candidate = 0;
}

void inet_game_link::close()
{
    _reset_members();
}

int inet_game_link::create(int _type)
{
    if (sock >= 0)
        platform_close_socket(sock);
    sock = -1;
    sock_connected = false;
    int s = platform_socket(_type);
    if (s < 0) {
        ELOG(EL_MINDEBUG, "inet_game_link::create(): unable to create a socket of type %d: %s", _type,
             platform_socket_error());
        return -1;
    }
    if (p_set_nonblocking_socket(s) < 0) {
        platform_close_socket(s);
        return -1;
    }
    sock = s;
    type = _type;
    return 0;
}

int inet_game_link::connect(const char* host, unsigned short port)
{
    if (sock < 0) {
        ELOG(EL_MINDEBUG, "inet_game_link::connect(): the link has no socket");
        return -1;
    }
    if (get_host_addr(host, &peer) < 0)
        return -1;
    peer.sin_port = htons(port);
    if (platform_connect(sock, &peer) < 0) {
        char where[32];
        ELOG(EL_MINDEBUG, "inet_game_link::connect(): unable to connect to %s: %s", strsockaddr_in(where, &peer),
             platform_socket_error());
        return -1;
    }
    sock_connected = true;
    flags |= IGL_CONNECTED;
    return 0;
}

int inet_game_link::bind(unsigned short port)
{
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(port);
    if (platform_bind(sock, &a) < 0) {
        ELOG(EL_MINDEBUG, "inet_game_link::bind(): unable to bind port %u: %s", port, platform_socket_error());
        return -1;
    }
    return 0;
}

unsigned short inet_game_link::local_port()
{
    return sock >= 0 ? platform_local_port(sock) : 0;
}

int inet_game_link::listen(int backlog)
{
    if (platform_listen(sock, backlog) < 0) {
        ELOG(EL_MINDEBUG, "inet_game_link::listen(): %s", platform_socket_error());
        return -1;
    }
    return 0;
}

int inet_game_link::accept(sockaddr_in* from)
{
    int s = platform_accept(sock, from);
    if (s < 0)
        ELOG(EL_MINDEBUG, "inet_game_link::accept(): %s", platform_socket_error());
    return s;
}

// Packs d and sends it whole; 0 / -1.
int inet_game_link::transmit(user_datagram* d, sockaddr_in* to)
{
    if (!to && !sock_connected) {
        ELOG(EL_MINDEBUG, "inet_game_link: no destination for a datagram on unconnected socket %d", sock);
        return -1;
    }
    char buf[DGRAM_MAX_SIZE];
    int size = d->size();
    // Checked before packing: a datagram is never sent half-packed, and one
    // over 1024 bytes would be cut short by the receivers' buffers.
    if (size < DGRAM_HEADER_SIZE || size > DGRAM_MAX_SIZE || d->pack(buf, DGRAM_MAX_SIZE) != size) {
        ELOG(EL_MINDEBUG, "inet_game_link: datagram of %d bytes not sent (over %d bytes or unpackable)", size,
             DGRAM_MAX_SIZE);
        return -1;
    }
    if (platform_sendto(sock, buf, size, to) != size) {
        ELOG(EL_MINDEBUG, "inet_game_link: send on socket %d failed: %s", sock, platform_socket_error());
        flags &= ~(uint32_t)IGL_CONNECTED;
        return -1;
    }
    return 0;
}

int inet_game_link::send_data(user_datagram* d, sockaddr_in* to)
{
    if (!d) {
        ELOG(EL_MINDEBUG, "using a NULL datagram with connection 0x%08" PRIxPTR, (uintptr_t)this);
        return -1;
    }
    if (!has_header(d)) {
        ELOG(EL_MINDEBUG, "inet_game_link::send_data(): the datagram has no header");
        return -1;
    }
    int size = d->size();
    d->set("data_size", (unsigned int)(size > DGRAM_HEADER_SIZE ? size - DGRAM_HEADER_SIZE : 0));
    unsigned short seq = 0;
    if (flags & IGL_SEQUENCING)
        seq = ++last_out_seq_num;
    d->set("seq_num", seq);
    return transmit(d, to) < 0 ? -1 : seq;
}

user_datagram* inet_game_link::_add_pending_dgram(user_datagram* d)
{
    if (!d) {
        ELOG(EL_MINDEBUG, "inet_game_link::add_pending_dgram(): invalid parameters");
        return nullptr;
    }
    // The copy is the datagram in wire form: the header fields and the
    // payload as bytes, which pack back into the same datagram.
    char buf[DGRAM_MAX_SIZE];
    int size = d->size();
    user_datagram* copy = nullptr;
    r_var* payload = nullptr;
    bool ok = size >= DGRAM_HEADER_SIZE && size <= DGRAM_MAX_SIZE && d->pack(buf, DGRAM_MAX_SIZE) == size &&
              (copy = KD_NEW user_datagram) != nullptr && has_header(copy);
    if (ok && size > DGRAM_HEADER_SIZE) {
        payload = create_r_var("payload", size - DGRAM_HEADER_SIZE);
        if (payload)
            payload->type = r_uchar8;
        ok = payload && copy->add(payload) == 0;
        if (!ok)
            delete payload;
    }
    if (!ok || copy->unpack(buf, size) != size) {
        ELOG(EL_MINDEBUG, "inet_game_link::add_pending_dgram(): unable to create new dgram");
        delete copy;
        return nullptr;
    }
    delete tx_state.pending_dgram;
    tx_state.pending_dgram = copy;
    return copy;
}

int inet_game_link::start_reliable_tx(user_datagram* d, sockaddr_in* to)
{
    if (tx_state.pending_dgram)
        return -2;
    if (!d) {
        ELOG(EL_MINDEBUG, "inet_game_link::start_reliable_tx(): using a NULL datagram with socket %d", sock);
        return -1;
    }
    d->set("flags", d->get("flags") | DGRAM_RELIABLE);
    if (to) {
        peer = *to;
        tx_state.destination = &peer;
    } else {
        tx_state.destination = nullptr;
    }
    if (send_data(d, tx_state.destination) < 0)
        return -1;
    user_datagram* kept = _add_pending_dgram(d);
    if (!kept)
        return -1;
    tx_state.n_tx_attempts = 1;
    tx_state.update_rto();
    tx_state.rtt_timer.start(0);
    flags &= ~(uint32_t)IGL_TIMED_OUT;
    return (int)kept->get("seq_num");
}

int inet_game_link::resend_reliable_dgram()
{
    if (!tx_state.pending_dgram) {
        ELOG(EL_MINDEBUG, "inet_game_link::resend_reliable_dgram(): there is no pending_dgram");
        return -1;
    }
    if (tx_state.n_tx_attempts >= tx_state.max_tx_attempts) {
        char where[32];
        ELOG(EL_MAJOR, "WARNING! (inet_game_link): reliable datagram transmission timed-out for %s",
             strsockaddr_in(where, &peer));
        flags |= IGL_TIMED_OUT;
        return -1;
    }
    if (transmit(tx_state.pending_dgram, tx_state.destination) < 0)
        return -1;
    tx_state.n_tx_attempts += 1;
    tx_state.update_rto();
    return 0;
}

int inet_game_link::cancel_reliable_tx()
{
    delete tx_state.pending_dgram;
    tx_state.pending_dgram = nullptr;
    tx_state.n_tx_attempts = 0;
    flags &= ~(uint32_t)IGL_TIMED_OUT;
    return 0;
}

int inet_game_link::send_reliable_data(user_datagram* d, sockaddr_in* to)
{
    if (!d) {
        ELOG(EL_MINDEBUG, "inet_game_link::send_reliable_data: invalid parameters");
        return -1;
    }
    igl_user user;
    dispatcher serve;
    user.game_link = this;
    user.user_id = (uint16_t)d->get("user_id");
    if (serve.register_user(&user) < 0)
        return -1;
    int r = start_reliable_tx(d, to);
    if (r < 0)
        return r;
    bool was_connected = (flags & IGL_CONNECTED) != 0;
    flags |= IGL_CONNECTED;
    int result = 0;
    while (tx_state.pending_dgram) {
        // Sleep until something arrives or the time-out is due, then serve the
        // link for one pass without waiting.
        int due = (int)(tx_state.timer.deadline - get_milli_uptime());
        bool readable;
        if (platform_poll_read(&sock, 1, due > 0 ? due : 0, &readable) < 0) {
            ELOG(EL_MINDEBUG, "inet_game_link::send_reliable_data: unable to wait: %s", platform_socket_error());
            result = -1;
            break;
        }
        timeval no_wait = {0, 0};
        if (serve.process_async_rx_datagrams(&no_wait) < 0) {
            ELOG(EL_MINDEBUG, "inet_game_link::send_reliable_data: unable to process datagram");
            result = -1;
            break;
        }
        if ((flags & IGL_TIMED_OUT) || !(flags & IGL_CONNECTED)) {
            result = -1;
            break;
        }
    }
    if (!was_connected)
        flags &= ~(uint32_t)IGL_CONNECTED;
    return result;
}

int inet_game_link::_acknowledge_dgram(unsigned short seq, sockaddr_in* to)
{
    unsigned char ack[DGRAM_HEADER_SIZE] = {GD_ACK, 0, 0, 0, 0, 0, 0, 0};
    put_be16(ack + 2, seq);
    // A connected socket answers its peer (and may not name another address).
    sockaddr_in* dest = sock_connected ? nullptr : to;
    if ((!dest && !sock_connected) || platform_sendto(sock, ack, DGRAM_HEADER_SIZE, dest) != DGRAM_HEADER_SIZE) {
        ELOG(EL_MINDEBUG, "inet_game_link::_acknowledge_dgram(): unable to send GD_ACK datagram");
        return -1;
    }
    return 0;
}

void inet_game_link::_remove_pending_dgram(unsigned short seq)
{
    user_datagram* d = tx_state.pending_dgram;
    if (!d || d->get("seq_num") != seq) {
        ELOG(EL_MINOR, "WARNING! (inet_game_link): received acknowledgement for the wrong datagram");
        return;
    }
    // Only a datagram sent once gives a clean sample: after a retransmission
    // the acknowledgement may answer any of the copies.
    if (tx_state.n_tx_attempts == 1)
        tx_state.measured_rtt = get_milli_uptime() - tx_state.rtt_timer.last;
    delete d;
    tx_state.pending_dgram = nullptr;
    tx_state.n_tx_attempts = 0;
    flags &= ~(uint32_t)IGL_TIMED_OUT;
}

int inet_game_link::_validate_seq_num(unsigned short seq)
{
    if (!(flags & IGL_SEQUENCING))
        return 0;
    uint16_t ahead = (uint16_t)(seq - last_in_seq_num);
    if (ahead == 0 || ahead >= 0x8000)
        return -3;
    bool confirmed = seq_candidate_set && (uint16_t)(seq - seq_candidate) >= 1 &&
                     (uint16_t)(seq - seq_candidate) <= IGL_SEQ_WINDOW;
    if (ahead > IGL_SEQ_WINDOW && !confirmed) {
        seq_candidate = seq;
        seq_candidate_set = true;
        return -3;
    }
    last_in_seq_num = seq;
    seq_candidate_set = false;
    return 0;
}

int inet_game_link::receive_data(char* buf, int size, sockaddr_in* from)
{
    if (!buf) {
        ELOG(EL_MINDEBUG, "using a NULL _rcvbuf with connection 0x%08" PRIxPTR, (uintptr_t)this);
        return -1;
    }
    sockaddr_in sender;
    memset(&sender, 0, sizeof sender);
    int n = platform_recvfrom(sock, buf, size, &sender);
    if (n == PLATFORM_WOULD_BLOCK)
        return 0;
    if (n < 0 || (n == 0 && type == PLATFORM_SOCK_STREAM)) {
        flags &= ~(uint32_t)IGL_CONNECTED;
        return -1;
    }
    if (from)
        *from = sender;
    char where[32];
    dgram_header h;
    if (n > size || n > DGRAM_MAX_SIZE) {
        ELOG(EL_MINDEBUG, "inet_game_link: dropped a datagram of %d bytes from %s (over %d)", n,
             strsockaddr_in(where, &sender), size < DGRAM_MAX_SIZE ? size : DGRAM_MAX_SIZE);
        return 0;
    }
    if (get_dgram_header(buf, n, &h) < 0 || n != DGRAM_HEADER_SIZE + h.data_size) {
        ELOG(EL_MINDEBUG, "inet_game_link: dropped a malformed datagram of %d bytes from %s (data_size=%d)", n,
             strsockaddr_in(where, &sender), n < DGRAM_HEADER_SIZE ? -1 : (int)h.data_size);
        return 0;
    }
    // Acknowledged before any other check, so a duplicate is acknowledged again.
    if (h.flags & DGRAM_RELIABLE)
        _acknowledge_dgram(h.seq_num, &sender);
    if (h.id == GD_ACK) {
        _remove_pending_dgram(h.seq_num);
        return 0;
    }
    if (_validate_seq_num(h.seq_num) < 0)
        return -3;
    return n;
}

void inet_game_link::dump(FILE* _f, const char* prefix)
{
    CHECK_PTR_V(_f);
    if (!prefix)
        prefix = "";
    char where[32];
    fprintf(_f, "%sinet_game_link:\n", prefix);
    fprintf(_f, "%stype=%d sock=%u peer=%s last_out_seq_num=%u last_in_seq_num=%u\n", prefix, type,
            (unsigned)sock, strsockaddr_in(where, &peer), last_out_seq_num, last_in_seq_num);
    fprintf(_f,
            "%stx_state: rto=%u srtt=%u measured_rtt=%u rttvar=%u max_tx_attempts=%u n_tx_attempts=%u "
            "pending_dgram=%s t=%d\n",
            prefix, tx_state.timer.period, tx_state.srtt, tx_state.measured_rtt, tx_state.rttvar,
            tx_state.max_tx_attempts, tx_state.n_tx_attempts, tx_state.pending_dgram ? "yes" : "no",
            (int)tx_state.rtt_timer.period);
}

// ---- socket helpers -------------------------------------------------------------

int inet_aton(const char* text, unsigned int* addr)
{
    unsigned int a;
    if (!platform_parse_ipv4(text, &a))
        return 0;
    if (addr)
        *addr = a;
    return 1;
}

int get_host_addr(const char* host, sockaddr_in* out)
{
    if (!host || !out) {
        ELOG(EL_MINDEBUG, "get_host_addr(): invalid parameters");
        return -1;
    }
    memset(out, 0, sizeof *out);
    out->sin_family = AF_INET;
    unsigned int a;
    if (!inet_aton(host, &a) && platform_resolve_host(host, &a) < 0) {
        ELOG(EL_MINDEBUG, "no address returned by gethostbyname() for %s", host);
        return -1;
    }
    out->sin_addr.s_addr = a;
    return 0;
}

char* strsockaddr_in(char* out, const sockaddr_in* a)
{
    if (!out)
        return out;
    char text[16];
    platform_ipv4_text(a ? a->sin_addr.s_addr : 0, text);
    snprintf(out, 22, "%s:%d", text, a ? ntohs(a->sin_port) : 0);
    return out;
}

void print_user_datagram(user_datagram* d)
{
    if (!d) {
        printf("datagram is NULL\n");
        return;
    }
    printf("+++datagram (size=%d)\n", d->size());
    print_r_struct(d, stdout);
    printf("---end datagram\n");
}

void dump_inet_game_link_l(FILE* _f, d_list* _list, const char* prefix)
{
    CHECK_PTR_V(_f);
    CHECK_PTR_V(_list);
    for (d_node* n = _list->first; n; n = n->next)
        if (n->object)
            static_cast<inet_game_link*>(n->object)->dump(_f, prefix);
}

}  // namespace vantrel

extern "C" {

int init_socket_api()
{
    return 0;
}

int p_set_nonblocking_socket(int sock)
{
    if (vantrel::platform_set_nonblocking(sock) < 0) {
        ELOG(EL_MINDEBUG, "p_set_nonblocking_socket(): %s", vantrel::platform_socket_error());
        return -1;
    }
    return 0;
}

}  // extern "C"
