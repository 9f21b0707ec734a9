/// @file
/// The receive side of the network layer: a dispatcher waits on its game
/// links' sockets, drives the retransmission of their pending reliable
/// datagrams, and hands each received datagram to the user (network endpoint,
/// typically an entity) with the datagram's user_id. The host calls the
/// receive loop once per cycle; nothing here starts a thread or keeps a
/// datagram (memory does not grow with traffic).
/// @ingroup kdnet
#pragma once
/// @addtogroup kdnet
/// @{

#include <cstdint>
#include <cstdio>

#include "kdbase/d_list.h"
#include "kdbase/unknown.h"
#include "kdnet/game_link.h"
#include "platform/export.h"

namespace vantrel {

/// Links watched by one pass of the receive loop; the rest are not served.
enum { DISPATCHER_MAX_LINKS = 64 };

/// A network endpoint: receives the datagrams addressed to its user_id on its
/// link, and sends to the links of its multicast group. Derived classes (an
/// entity, a game's player) override process_datagram.
class VANTREL_API igl_user : public unknown {
public:
    inet_game_link* game_link;  ///< the link the user receives on (not owned)
    d_list mcast_group;         ///< of inet_game_link (not owned): where it sends
    uint16_t user_id;           ///< 65535 until set

    /// No link, an empty group, user_id 65535.
    igl_user();

    /// Called with a received datagram for this user: header and payload in
    /// buf (valid only during the call; data_size already checked against the
    /// bytes received). The base ignores it.
    virtual void process_datagram(char* buf, sockaddr_in* from);

    /// 0 / -1 (null or a failed insert).
    int add_to_mcast_group(inet_game_link* l);
    /// 0; -1 (logged) when l is not in the group.
    int remove_from_mcast_group(inet_game_link* l);
    /// send_data(d, null) on every link of the group, each numbering d itself.
    /// 0, or minus the number of failed sends; -1 (logged) for a null d.
    int mcast_data(user_datagram* d);
    /// Prints the user's id, its link and the links of its group, each line
    /// after prefix (null: none); a null stream logs and prints nothing.
    void dump(FILE* _f, const char* prefix);
};

/// Routes received datagrams to users by user_id. It owns neither its links
/// nor its users: unregister a user before deleting it.
class VANTREL_API dispatcher {
public:
    d_list game_links;  ///< of inet_game_link (not owned), each once
    d_list users;       ///< of igl_user (not owned), unique by user_id

    ///@{
    /// No links and no users; the destructor leaves links and users alone.
    dispatcher();
    virtual ~dispatcher();
    ///@}

    /// A datagram for a user_id nobody registered: the base logs it (once per
    /// datagram) and drops it.
    virtual void process_rogue_datagram(char* buf, inet_game_link* link);

    /// Registers u and watches its link. 0; -1 (logged) when u or its link is
    /// null or the lists cannot grow. A second user with a registered id is
    /// logged and not added, but its link is still watched (result 0).
    int register_user(igl_user* u);
    ///@{
    /// 0 (also for null u); -1 when no user has u's id, or another object is
    /// registered under it (logged). The link stops being watched with its
    /// last user.
    int unregister_user(igl_user* u);
    igl_user* get_user(int id);
    ///@}
    /// The link whose pending reliable datagram is due first (most overdue
    /// first), or null. Links whose datagram already timed out are left out:
    /// they wait for a late acknowledgement or cancel_reliable_tx.
    inet_game_link* get_ready_link();
    /// The receive loop: waits on the links (at most DISPATCHER_MAX_LINKS),
    /// retransmits what is due, handles acknowledgements on the way, and
    /// returns once a datagram other than an acknowledgement was handled, the
    /// budget is spent (a null budget: no limit), or a retransmission failed.
    /// Never waits longer than the budget. 0; -1 when the wait failed.
    int process_async_rx_datagrams(timeval* budget);
};

}  // namespace vantrel
/// @}
