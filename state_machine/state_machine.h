/// @file
/// State machines: numbered states, one main state at a time and any number of
/// sub-states beside it, with transitions requested during a pass and carried
/// out at the start of the next one. The machine carries no game knowledge;
/// entities derive from it and give it states that play animations.
///
/// Refused branches return -1 without a message and full id lists drop further
/// ids silently; missing states and null pointers are logged at EL_MINDEBUG.
/// @ingroup state_machine
#pragma once
/// @addtogroup state_machine
/// @{

#include <cstdio>

#include "kdbase/d_list.h"
#include "kdbase/unknown.h"

namespace vantrel {

/// Bit of a state id that marks a sub-state; id 0 means no state and ends
/// every id list.
enum { SUB_STATE_BIT = 0x8000 };
/// Bit of generic_state::flags: the state is active (entered and not paused).
enum { STATE_ACTIVE = 1 };
/// Capacity of the request and termination lists (one more slot ends them).
enum { STATE_LIST_SIZE = 16 };

/// True when id names a sub-state.
inline bool is_sub_state_id(int id)
{
    return (id & SUB_STATE_BIT) != 0;
}

/// A state: its id, the states it may be entered from, the state that
/// follows it and how many completed passes it runs before that. Derived
/// states do the work in action().
class VANTREL_API generic_state : public unknown {
public:
    /// The state's number (0 means no state); SUB_STATE_BIT set for a sub-state.
    int id;
    int* allowed;  ///< 0-terminated ids this state may be entered from; null: only
                   /// while there is no current main state. Not owned.
    int next;      ///< the state to request once this one has completed
    int loop_counter;  ///< completed passes since activation
    int max_loops;     ///< completed passes after which next is requested; -1: never
    int flags;         ///< STATE_ACTIVE

    /// All fields 0 except max_loops -1: a state that never ends by itself.
    generic_state();

    /// One pass of the state's work: -1 when the pass completed a loop,
    /// anything else to keep going. The base state completes every pass.
    virtual int action();
    ///@{
    /// Called when the state is activated / deactivated; empty here.
    virtual void start_state();
    virtual void end_state();
    ///@}
    /// "***generic_state", the fields and the allowed ids. Null f: logged.
    virtual void dump(FILE* f, const char* tabs);

    /// Stores the four values and clears loop_counter and flags.
    void set(int _id, int* _allowed, int _next, int _max_loops);
    /// 0 when from is in allowed, else -1 (also for a null or empty list).
    int can_branch_from(int from);
};

/// A machine running one main state and any number of sub-states, changing
/// them on requests at the start of the next pass. It owns none of its
/// states.
class VANTREL_API state_machine {
public:
    generic_state** states;  ///< null-terminated, not owned
    generic_state* current;  ///< the active main state, or null
    d_list sub_states;       ///< active sub-states in activation order, not owned
    int requested_states[STATE_LIST_SIZE + 1];   ///< ids to branch to, 0-terminated
    int terminated_states[STATE_LIST_SIZE + 1];  ///< ids asked to end, 0-terminated

    /// A machine over the states (null-terminated, kept by the caller; may be
    /// null), with no current state and empty lists.
    explicit state_machine(generic_state** _states);
    virtual ~state_machine();
    state_machine(const state_machine&) = delete;
    state_machine& operator=(const state_machine&) = delete;

    ///@{
    /// Hooks for derived machines, called after a state's start_state and
    /// before its end_state; empty here.
    virtual void on_state_activation(generic_state* s);
    virtual void on_state_deactivation(generic_state* s);
    ///@}
    /// The states, the current id, the sub-states and both id lists. Null f: logged.
    virtual void dump(FILE* f, const char* tabs);

    /// The first state with that id; null for id 0, an unknown id or a
    /// machine without states (logged).
    generic_state* get_state(int id);
    /// 1 when the state exists, is not active and may follow current (always
    /// when there is no current); else 0.
    int can_branch_to(int id);
    /// Changes the main state now: 0, or -1 for a sub-state id or a refused branch.
    int branch_to(int id);
    /// Starts a sub-state now: 0, or -1 for a main-state id, a refused branch
    /// or a failed append. A state still listed (disabled) is reactivated in
    /// place, never listed twice.
    int add_sub_state(int id);
    /// add_sub_state(id), and branch_to(id) when that fails.
    int branch_state(int id);
    /// Queues a transition for the next execute: 0, or -1 when the branch is
    /// refused now. A main-state id replaces the main id already waiting (the
    /// last request wins); a full list drops the id (still 0).
    int request_state_transition(int id);
    /// Queues the end of an active state for the next execute; anything else
    /// is ignored.
    void request_state_termination(int id);
    ///@{
    /// Pause / resume the current state with that id, else the first listed
    /// sub-state with it. A paused state is not executed and keeps its count.
    void disable_state(int id);
    void enable_state(int id);
    ///@}
    /// One pass of s: 0, or -1 when its completed loops reached max_loops
    /// (its next is then requested). Null or inactive s: 0 (null logged).
    int exec_state(generic_state* s);
    /// One pass of the machine: terminations, then requests, then the
    /// current state, then the sub-states.
    void execute();

    /// loop_counter 0, STATE_ACTIVE set, then s->start_state() and
    /// on_state_activation(s). Null: logged.
    void _activate_state(generic_state* s);
    /// on_state_deactivation(s), s->end_state(), then STATE_ACTIVE cleared. Null: logged.
    void _deactivate_state(generic_state* s);

private:
    void _set_enabled(int id, bool on);
};

/// Every state of the list through its own dump. Null f or list: logged.
VANTREL_API void dump_generic_state_l(FILE* f, d_list* _list, const char* tabs);

}  // namespace vantrel
/// @}
