#include "state_machine/state_machine.h"

#include <cinttypes>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/str_util.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

generic_state::generic_state() : id(0), allowed(nullptr), next(0), loop_counter(0), max_loops(-1), flags(0)
{
}

int generic_state::action()
{
    return -1;
}

void generic_state::start_state()
{
}

void generic_state::end_state()
{
}

void generic_state::dump(FILE* _f, const char* tabs)
{
    CHECK_PTR_V(_f);
    if (!tabs)
        tabs = "";
    fprintf(_f, "%s***generic_state\n", tabs);
    fprintf(_f, "%sid=%d next=%d loop_counter=%d max_loops=%d flags=%08x\n", tabs, id, next, loop_counter,
            max_loops, (unsigned)flags);
    fprintf(_f, "%sallowed[]: ", tabs);
    if (!allowed)
        fputs("(none)", _f);
    else
        for (int* a = allowed; *a; ++a)
            fprintf(_f, "%d ", *a);
    fputs("\n", _f);
}

void generic_state::set(int _id, int* _allowed, int _next, int _max_loops)
{
    id = _id;
    allowed = _allowed;
    next = _next;
    max_loops = _max_loops;
    loop_counter = 0;
    flags = 0;
}

int generic_state::can_branch_from(int from)
{
    if (allowed)
        for (int* a = allowed; *a; ++a)
            if (*a == from)
                return 0;
    return -1;
}

static bool is_active(const generic_state* s)
{
    return (s->flags & STATE_ACTIVE) != 0;
}

state_machine::state_machine(generic_state** _states) : states(_states), current(nullptr), sub_states(0)
{
    requested_states[0] = 0;
    terminated_states[0] = 0;
}

state_machine::~state_machine() = default;

void state_machine::on_state_activation(generic_state*)
{
}

void state_machine::on_state_deactivation(generic_state*)
{
}

generic_state* state_machine::get_state(int id)
{
    if (id == 0)
        return nullptr;
    if (!states) {
        ELOG(EL_MINDEBUG, "state_machine 0x%08" PRIxPTR " does not have any states", (uintptr_t)this);
        return nullptr;
    }
    for (generic_state** s = states; *s; ++s)
        if ((*s)->id == id)
            return *s;
    return nullptr;
}

int state_machine::can_branch_to(int id)
{
    generic_state* s = get_state(id);
    if (!s || is_active(s))
        return 0;
    if (!current)
        return 1;
    return s->can_branch_from(current->id) == 0 ? 1 : 0;
}

void state_machine::_activate_state(generic_state* s)
{
    if (!s) {
        ELOG(EL_MINDEBUG, "NULL pointer used.");
        return;
    }
    s->loop_counter = 0;
    s->flags |= STATE_ACTIVE;
    s->start_state();
    on_state_activation(s);
}

void state_machine::_deactivate_state(generic_state* s)
{
    if (!s) {
        ELOG(EL_MINDEBUG, "NULL pointer used.");
        return;
    }
    on_state_deactivation(s);
    s->end_state();
    s->flags &= ~STATE_ACTIVE;
}

int state_machine::branch_to(int id)
{
    if (is_sub_state_id(id) || !can_branch_to(id))
        return -1;
    generic_state* s = get_state(id);
    if (current)
        _deactivate_state(current);
    current = s;
    _activate_state(s);
    return 0;
}

int state_machine::add_sub_state(int id)
{
    if (!is_sub_state_id(id) || !can_branch_to(id))
        return -1;
    generic_state* s = get_state(id);
    _activate_state(s);
    // A disabled sub-state is still listed: running it twice a pass would be wrong.
    if (sub_states.get_node(static_cast<unknown*>(s)))
        return 0;
    return sub_states.insert(static_cast<unknown*>(s));
}

int state_machine::branch_state(int id)
{
    if (add_sub_state(id) == 0)
        return 0;
    return branch_to(id);
}

int state_machine::request_state_transition(int id)
{
    if (!can_branch_to(id))
        return -1;
    if (!is_sub_state_id(id)) {
        for (int i = 0; i < STATE_LIST_SIZE && requested_states[i]; ++i) {
            if (!is_sub_state_id(requested_states[i])) {
                requested_states[i] = id;
                return 0;
            }
        }
    }
    add_to_int_a(requested_states, STATE_LIST_SIZE + 1, 0, id);
    return 0;
}

void state_machine::request_state_termination(int id)
{
    generic_state* s = get_state(id);
    if (s && is_active(s))
        add_to_int_a(terminated_states, STATE_LIST_SIZE + 1, 0, id);
}

void state_machine::_set_enabled(int id, bool on)
{
    generic_state* target = nullptr;
    if (!current)
        ELOG(EL_MINDEBUG, "state_machine 0x%08" PRIxPTR " has no current active state", (uintptr_t)this);
    else if (current->id == id)
        target = current;
    for (d_node* n = sub_states.first; n && !target; n = n->next) {
        generic_state* s = static_cast<generic_state*>(n->object);
        if (!s)
            ELOG(EL_MINDEBUG, "state_machine 0x%08" PRIxPTR " has a NULL sub-state active", (uintptr_t)this);
        else if (s->id == id)
            target = s;
    }
    if (target)
        target->flags = on ? (target->flags | STATE_ACTIVE) : (target->flags & ~STATE_ACTIVE);
}

void state_machine::disable_state(int id)
{
    _set_enabled(id, false);
}

void state_machine::enable_state(int id)
{
    _set_enabled(id, true);
}

int state_machine::exec_state(generic_state* s)
{
    if (!s) {
        ELOG(EL_MINDEBUG, "state_machine 0x%08" PRIxPTR " attempted to execute a NULL state", (uintptr_t)this);
        return 0;
    }
    if (!is_active(s))
        return 0;
    if (s->action() != -1 || s->max_loops == -1)
        return 0;
    // Reaching the limit (not only hitting it exactly) ends the state, so a
    // refused transition is asked for again on every later pass.
    if (++s->loop_counter < s->max_loops)
        return 0;
    request_state_transition(s->next);
    return -1;
}

void state_machine::execute()
{
    for (int i = 0; i < STATE_LIST_SIZE && terminated_states[i]; ++i) {
        generic_state* s = get_state(terminated_states[i]);
        if (!s || !is_active(s))
            continue;
        if (is_sub_state_id(s->id)) {
            _deactivate_state(s);
            sub_states.remove(static_cast<unknown*>(s));
        }
        branch_state(s->next);
    }
    terminated_states[0] = 0;
    for (int i = 0; i < STATE_LIST_SIZE && requested_states[i]; ++i)
        branch_state(requested_states[i]);
    requested_states[0] = 0;
    exec_state(current);
    for (d_node* n = sub_states.first; n;) {
        d_node* following = n->next;  // a state's action may add sub-states
        generic_state* s = static_cast<generic_state*>(n->object);
        if (exec_state(s) == -1)
            request_state_termination(s->id);
        n = following;
    }
}

void dump_generic_state_l(FILE* _f, d_list* _list, const char* tabs)
{
    CHECK_PTR_V(_f);
    CHECK_PTR_V(_list);
    for (d_node* n = _list->first; n; n = n->next)
        static_cast<generic_state*>(n->object)->dump(_f, tabs);
}

void state_machine::dump(FILE* _f, const char* tabs)
{
    CHECK_PTR_V(_f);
    if (!tabs)
        tabs = "";
    fprintf(_f, "%sstates:\n", tabs);
    if (!states)
        fprintf(_f, "%s(no states)\n", tabs);
    else
        for (generic_state** s = states; *s; ++s)
            (*s)->dump(_f, tabs);
    fprintf(_f, "%scurrent: ", tabs);
    if (current)
        fprintf(_f, "%d\n", current->id);
    else
        fputs("(none)\n", _f);
    fprintf(_f, "%ssub-states:\n", tabs);
    dump_generic_state_l(_f, &sub_states, tabs);
    fprintf(_f, "%srequested_states[]: ", tabs);
    for (int i = 0; i < STATE_LIST_SIZE && requested_states[i]; ++i)
        fprintf(_f, "%d ", requested_states[i]);
    fputs("\n", _f);
    fprintf(_f, "%sterminated_states[]: ", tabs);
    for (int i = 0; i < STATE_LIST_SIZE && terminated_states[i]; ++i)
        fprintf(_f, "%d ", terminated_states[i]);
    fputs("\n", _f);
}

}  // namespace vantrel
