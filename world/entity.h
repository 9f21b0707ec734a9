/// @file
/// Entities: game objects that are at once a state machine whose states play
/// animations, a network user that shares its position and state changes with
/// its multicast group and follows those of its peers, and a physical body
/// that moves through the level with collisions.
///
/// The host runs an entity each cycle: the dispatcher's receive loop (which
/// may set a glide target or queue a transition), then execute() of the
/// entity's state machine (queued transitions, a started state sending its
/// id, the current state's motion and animation), then send_pos() when it
/// wants to share the position.
///
/// Refused or malformed datagrams are logged as warnings and dropped; the
/// entity keeps its state. Send failures show only in the results.
/// @ingroup world
#pragma once
/// @addtogroup world
/// @{

#include <cstdint>
#include <cstdio>

#include "engine/passive_timer.h"
#include "kdnet/dispatcher.h"
#include "primitives/model.h"
#include "state_machine/state_machine.h"
#include "world/animation.h"
#include "world/level.h"
#include "world/position_handler.h"

namespace vantrel {

/// Bit of entity_t::flags: send position and state changes.
enum { ENTITY_NETWORKED = 1 };

/// A game object: its states play animations on its model, it moves through
/// its level as a body and, when networked, shares position and state with
/// its multicast group. It owns its model, not its states or its level.
class VANTREL_API entity_t : public state_machine, public igl_user, public physical_body {
public:
    model_t model;     ///< the entity's model; its matrix is the entity's transform
    level_t* level;    ///< where it moves (not owned); null: no collisions
    uint32_t flags;    ///< ENTITY_NETWORKED

    /// No states (the host supplies them), an empty model, not networked;
    /// the body's position is the model's translation.
    entity_t();
    /// Unregister the entity from its dispatcher and take it out of its
    /// level's ents first: neither owns it, and both keep its address.
    ~entity_t() override;

    /// Does nothing: state changes are sent by the states themselves.
    void on_state_activation(generic_state* s) override;
    /// The user, the body, the state machine, then "%sflags=%08x\\n". Null f: logged.
    void dump(FILE* f, const char* prefix) override;
    ///@{
    /// Collides the move with the level (which may shorten delta and adds the
    /// level's forces). Nothing without a level.
    void before_move(float* delta) override;
    void after_move() override;
    ///@}
    /// GD_POSITION: glide to the position at the next motion step; GD_STATE:
    /// queue the transition. A payload that does not match its type, or a
    /// state the machine refuses, is logged at priority 4 and dropped. Other
    /// types are ignored.
    void process_datagram(char* buf, sockaddr_in* from) override;

    /// Sends GD_POSITION with the current position to the multicast group
    /// when networked. 0 (also when not networked); -1 when a send failed.
    int send_pos();
    /// Sends GD_STATE with state when networked. 0 (also when not networked);
    /// -1 for state 0 (logged) or when a send failed.
    int send_state(int state);
    /// radius_v = half the extent of the model's bounding box (w = 1).
    /// Nothing changes when the model has no box.
    void adjust_radius();
};

/// A state of an entity that plays an animation: each pass moves the entity
/// one motion step and advances the animation; when the animation runs past
/// its end it restarts at anim_reloop_time and the pass counts as a completed
/// loop. A sub-state (id with SUB_STATE_BIT) does no motion and no animation
/// and completes every pass. Owned by whoever created it, never by the entity.
class VANTREL_API entity_state_t : public generic_state, public CSAnimation {
public:
    uint32_t anim_reloop_time;  ///< where the animation restarts when it wraps, ms
    entity_t* entity;           ///< the owner (not owned); null: the state does nothing
    passive_timer cycle_timer;  ///< measures the ms between passes

    entity_state_t();

    /// One motion step and animation step (see above). -1 on a completed
    /// loop, else the result of on_action().
    int action() override;
    /// Restarts the timer and the animation, sends the state's id when the
    /// entity is networked, then on_start_state().
    void start_state() override;
    /// on_end_state().
    void end_state() override;
    /// The state, the animation, then "%sanim_reloop_time=%d cycle_delta=%u\\n".
    void dump(FILE* f, const char* prefix) override;

    ///@{
    /// Hooks for derived states. on_action returns -1 to end a loop early;
    /// here it returns 0 (keep going).
    virtual void on_start_state();
    virtual void on_end_state();
    virtual int on_action();
    ///@}
};

}  // namespace vantrel
/// @}
