/// @file
/// Game links: one UDP (or stream) socket of the game's network layer, with
/// per-link sequence numbers and one reliable datagram at a time (acknowledged
/// by the receiver, retransmitted on a time-out from measured round trips).
/// Receiving is driven by the dispatcher (kdnet/dispatcher.h); this file knows
/// nothing of users.
///
/// Sequence numbers belong to the link, not to a peer or a kind of datagram:
/// - unreliable and reliable datagrams share one sequence, so a reliable
///   datagram overtaken by a later datagram of the same link (its first copy
///   lost, the next one sent unreliably) is acknowledged when its retransmission
///   arrives but dropped as out of sequence: send reliable traffic on a link of
///   its own when it may be mixed with unreliable traffic;
/// - a bound link that sends to several peers numbers all of them in one
///   sequence (each peer sees gaps, which is harmless), and a link that hears
///   several senders checks them all against one last number: give each sender
///   its own link, or turn sequencing off (flag IGL_SEQUENCING).
/// Numbers wrap at 65535 and are compared as 16-bit serial numbers: a number
/// 1 .. 32767 ahead of the last one received is newer, anything else is old.
/// A newer number more than IGL_SEQ_WINDOW ahead is taken only when the next
/// datagram follows it within the window; alone it is dropped, so a single
/// forged far-ahead number cannot silence a link, and a real gap costs one
/// datagram.
///
/// Retransmission: the time-out is srtt + 4 rttvar of the classic estimator
/// (9375 ms on a fresh link), kept within IGL_RTO_MIN .. IGL_RTO_MAX so a 0 ms
/// loopback round trip does not retransmit on every pass; only a datagram
/// acknowledged after its first transmission gives a round-trip sample, so
/// loss does not inflate the estimate. When the third transmission goes
/// unanswered the datagram stays pending (start_reliable_tx returns -2) until
/// a late acknowledgement arrives or the sender calls cancel_reliable_tx.
///
/// Failures are logged once where detected (errors at priority 10) and
/// reported as -1 (or null); nothing throws. Sockets are non-blocking.
/// @ingroup kdnet
#pragma once
/// @addtogroup kdnet
/// @{

#include <cstdint>
#include <cstdio>

#include "engine/passive_timer.h"
#include "kdbase/d_list.h"
#include "kdbase/r_struct.h"
#include "kdbase/unknown.h"
#include "platform/export.h"
#include "platform/platform_net.h"

namespace vantrel {

/// Datagram types (the header's id).
enum { GD_POSITION = 17, GD_STATE = 18, GD_ACK = 255 };
/// Wire sizes: the header, a whole datagram, the payload.
enum { DGRAM_HEADER_SIZE = 8, DGRAM_MAX_SIZE = 1024, DGRAM_MAX_DATA = 1016 };
/// The header's flags: the receiver must acknowledge.
enum { DGRAM_RELIABLE = 1 };
/// Link flags.
enum { IGL_CONNECTED = 1, IGL_SEQUENCING = 2, IGL_TIMED_OUT = 4 };
/// Bounds of the retransmission time-out in ms, and the sequence window (above).
enum { IGL_RTO_MIN = 10, IGL_RTO_MAX = 60000, IGL_SEQ_WINDOW = 256 };

/// A datagram: a structure whose first variables are the header (id, flags,
/// seq_num, data_size, user_id; uint8, uint8, then uint16 each), followed by
/// the payload variables the sender adds. Packed in network order.
class VANTREL_API user_datagram : public r_struct {
public:
    user_datagram();
    /// Every variable to zero (texts and pointers to null).
    void reset();
    /// Header fields by name; 0 when a variable is missing.
    unsigned int get(const char* field);
    /// Sets a header (or other integer) field; 0 / -1.
    int set(const char* field, unsigned int value);
};

/// The header of a packed datagram, read field by field.
struct VANTREL_API dgram_header {
    /// Datagram type: GD_POSITION, GD_STATE, GD_ACK or a game's own.
    uint8_t id;
    /// DGRAM_RELIABLE or 0.
    uint8_t flags;
    /// The sending link's number (for GD_ACK: the number acknowledged).
    uint16_t seq_num;
    /// Payload bytes after the header.
    uint16_t data_size;
    /// The user it is for on the receiving side.
    uint16_t user_id;
};

/// Reads the header from the first length bytes of buf. 0; -1 (not logged)
/// when fewer than 8 bytes are given.
VANTREL_API int get_dgram_header(const char* buf, int length, dgram_header* out);

/// Retransmission state of a link.
class VANTREL_API reliable_tx_state {
public:
    passive_timer timer;           ///< period: the current time-out (rto), ms
    uint32_t srtt;                 ///< smoothed round trip, ms; 5000 at first
    uint32_t measured_rtt;         ///< last clean round trip, ms; 0 at first
    uint32_t rttvar;               ///< round-trip variation, ms
    uint32_t max_tx_attempts;      ///< 3
    uint32_t n_tx_attempts;        ///< transmissions of the pending datagram so far
    user_datagram* pending_dgram;  ///< owned copy awaiting its acknowledgement (wire form), or null
    sockaddr_in* destination;      ///< where it goes: the link's peer, or null (connected socket)
    passive_timer rtt_timer;       ///< started with the first transmission

    reliable_tx_state();
    /// Feeds measured_rtt into the estimate and starts the timer with the new
    /// time-out, kept within IGL_RTO_MIN .. IGL_RTO_MAX.
    void update_rto();
};

/// One socket of the network layer with its sequence numbers and its reliable
/// datagram (see the file's description). Owns its socket and its pending
/// datagram; the destructor closes and frees both.
class VANTREL_API inet_game_link : public unknown {
public:
    int32_t type;              ///< PLATFORM_SOCK_*; -1 when closed
    int sock;                  ///< -1 when closed
    sockaddr_in peer;          ///< the connected peer or the last reliable destination
    /// The number given to the last datagram sent; 0 on a fresh link.
    uint16_t last_out_seq_num;
    /// The newest number received; 0 on a fresh link.
    uint16_t last_in_seq_num;
    /// The reliable datagram in flight and the round-trip estimate.
    reliable_tx_state tx_state;
    uint32_t flags;            ///< IGL_*
    /// The socket itself was connect()ed (sends may omit the address). Kept
    /// apart from IGL_CONNECTED, which send_reliable_data sets for its wait.
    bool sock_connected;
    /// A far-ahead number waiting for the datagram that confirms it.
    bool seq_candidate_set;
    /// That number, valid when seq_candidate_set.
    uint16_t seq_candidate;

    inet_game_link();
    /// Closes the socket and deletes the pending datagram.
    ~inet_game_link() override;

    /// Closes the socket and resets peer, numbers, type and flags
    /// (IGL_SEQUENCING); the reliable state and a pending datagram stay.
    void _reset_members();
    /// Closes the socket and resets the link (peer, numbers, flags = IGL_SEQUENCING).
    void close();

    /// A new non-blocking socket of type (PLATFORM_SOCK_DGRAM = 2, _STREAM = 1);
    /// an open one is closed first. 0 / -1.
    int create(int _type);
    /// Resolves host into peer, connects and sets IGL_CONNECTED. 0 / -1.
    int connect(const char* host, unsigned short port);
    /// Binds to all local addresses at port (0: any free port). 0 / -1.
    int bind(unsigned short port);
    /// The port the socket is bound to (host order), or 0.
    unsigned short local_port();
    ///@{
    /// Stream sockets. listen: 0 / -1. accept: the accepted socket (owned by
    /// the caller) or -1; from (may be null) gets the peer.
    int listen(int backlog);
    int accept(sockaddr_in* from);
    ///@}

    /// Numbers d (when sequencing), packs it and sends it to to, or to the
    /// connected peer when to is null. Returns the sequence number, or -1: null
    /// d, a datagram larger than 1024 bytes or one that does not pack, no
    /// destination, or a failed or short send (which clears IGL_CONNECTED).
    /// d stays the caller's.
    int send_data(user_datagram* d, sockaddr_in* to);
    /// Marks d reliable, sends it and keeps a copy until its acknowledgement.
    /// Returns the sequence number; -2 while another reliable datagram is
    /// pending (also after it timed out: see cancel_reliable_tx); -1 on failure
    /// (nothing kept). d stays the caller's.
    int start_reliable_tx(user_datagram* d, sockaddr_in* to);
    /// Sends d reliably and waits for its acknowledgement, serving this link
    /// through a temporary dispatcher: other datagrams arriving meanwhile are
    /// consumed and lost. Waits at most the three time-outs of the
    /// transmissions, each at most IGL_RTO_MAX (180 s in all, 34.6 s on a fresh
    /// link). 0; -2 while another reliable datagram is pending; -1 on failure
    /// or time-out (the datagram then stays pending).
    int send_reliable_data(user_datagram* d, sockaddr_in* to);
    /// Sends the pending datagram again (called by the dispatcher when its
    /// time-out passed). 0; -1 without a pending datagram, on a failed send, or
    /// when the attempts are used up: then IGL_TIMED_OUT is set, the warning
    /// logged, and the datagram stays pending.
    int resend_reliable_dgram();
    /// Drops the pending datagram (after a time-out, or to give up waiting) so
    /// the next start_reliable_tx can go ahead; clears IGL_TIMED_OUT. 0, also
    /// when nothing was pending. A late acknowledgement for it is then logged
    /// as one for the wrong datagram.
    int cancel_reliable_tx();

    /// Receives one datagram into buf (size bytes, at least 1024 to take every
    /// datagram); from (may be null) gets the sender. Returns the bytes of a
    /// datagram for a user; 0 when nothing is for a user (nothing waiting, an
    /// acknowledgement, or a malformed datagram, which is logged and dropped);
    /// -3 for an out-of-sequence datagram (acknowledged if reliable, dropped);
    /// -1 when the socket failed (IGL_CONNECTED cleared) or buf is null.
    int receive_data(char* buf, int size, sockaddr_in* from);

    /// Sends GD_ACK for seq to the connected peer, or to to. 0 / -1.
    int _acknowledge_dgram(unsigned short seq, sockaddr_in* to);
    /// An acknowledgement for seq arrived: drops the matching pending datagram.
    void _remove_pending_dgram(unsigned short seq);
    /// 0 when seq is newer than the last number received (which it becomes),
    /// -3 when not. Always 0 with sequencing off.
    int _validate_seq_num(unsigned short seq);
    /// Keeps a copy of d as the pending datagram, in wire form: the header
    /// fields, then the payload as one r_uchar8 array "payload". The copy
    /// (owned by the link), or null (logged).
    user_datagram* _add_pending_dgram(user_datagram* d);

    /// Prints type, socket, peer, numbers and the reliable state, each
    /// line after prefix (null: none); a null stream logs and prints nothing.
    void dump(FILE* _f, const char* prefix);

private:
    int transmit(user_datagram* d, sockaddr_in* to);
};

/// 1 and the address (network order) for a dotted-quad text; 0 for a text that
/// is not one (or is the broadcast address). A null addr only tests.
VANTREL_API int inet_aton(const char* text, unsigned int* addr);
/// Zeroes out, then fills it (AF_INET) from a dotted quad or by resolving the
/// name. 0 / -1 (logged).
VANTREL_API int get_host_addr(const char* host, sockaddr_in* out);
/// "%s:%d" (dotted address, host-order port) into out (at least 22 bytes); out.
VANTREL_API char* strsockaddr_in(char* out, const sockaddr_in* a);
/// Prints the datagram's structure to standard output.
VANTREL_API void print_user_datagram(user_datagram* d);
/// Dumps every link of the list.
VANTREL_API void dump_inet_game_link_l(FILE* _f, d_list* _list, const char* prefix);

}  // namespace vantrel

extern "C" {
/// 0: the socket calls need no start-up here.
VANTREL_API int init_socket_api();
/// Makes the socket non-blocking. 0 / -1.
VANTREL_API int p_set_nonblocking_socket(int sock);
}
/// @}
