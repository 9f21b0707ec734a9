// Evaluation of configuration expressions: values, variable paths, indexes
// and calls of script functions, consuming the statement's tokens.
#include <climits>
#include <cstring>

#include "base_script/dot_config.h"
#include "base_script/script_func.h"
#include "base_script/script_var.h"
#include "platform/platform.h"
#include "kdbase/d_list.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/str_util.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

// Counts nested evaluations of one configuration object.
class nesting_guard {
public:
    explicit nesting_guard(dot_config* _cfg) : cfg(_cfg) { ++cfg->nesting; }
    ~nesting_guard() { --cfg->nesting; }
    bool too_deep() const
    {
        if (cfg->nesting <= DC_MAX_NESTING)
            return false;
        ELOG(EL_MAJOR, "%s: statement nested deeper than %d", cfg->name.name, DC_MAX_NESTING);
        return true;
    }

private:
    dot_config* cfg;
};

static s_token* front(d_list* l)
{
    return l->first ? static_cast<s_token*>(l->first->object) : nullptr;
}

static void drop_front(d_list* l)
{
    delete_token_node(l, l->first);
}

static bool is(const char* text, const char* keyword)
{
    return strcmp(text, keyword) == 0;
}

// A number literal begins with a digit, a sign or a dot and holds a digit;
// any other token is a name, even one that is_int accepts ("x").
static bool number_like(const char* t)
{
    return ((t[0] >= '0' && t[0] <= '9') || t[0] == '-' || t[0] == '+' || t[0] == '.') && strpbrk(t, "0123456789");
}

static int clamp_int(long long n)
{
    return n > INT_MAX ? INT_MAX : n < INT_MIN ? INT_MIN : (int)n;
}

// The range message of variables, for indexes used with "[", "&", "." and "->".
static bool index_ok(r_var* v, int i)
{
    if (i >= 0 && (unsigned int)i < v->count)
        return true;
    ELOG(EL_MINOR, "tried to read element %d: %s only has %d elements", i, v->name, (int)v->count);
    return false;
}

// An element of an array of script objects: the object's class must have
// set its stride to step by.
static bool object_index_ok(script_var* sv, int i)
{
    if (i == 0 || (i > 0 && sv->stride > 0))
        return true;
    ELOG(EL_MINOR, "tried to read element %d: %s is not an array of objects", i, sv->r_var::name);
    return false;
}

// scratch = the address of element i of v, typed as a pointer to v's type.
// An owned text word is handed out untyped, so nothing frees it twice.
static int set_address(r_var* scratch, r_var* v, int i)
{
    r_type t = get_value_pointer_type(v);
    void* p = (*v)[i];
    switch (t) {
    case r_char_p:
        scratch->type = r_char_p;
        return scratch->set(0, static_cast<const char*>(p));
    case r_uchar8_p: return scratch->set(0, static_cast<unsigned char*>(p));
    case r_ushort16_p: return scratch->set(0, static_cast<unsigned short*>(p));
    case r_int_p: return scratch->set(0, static_cast<int*>(p));
    case r_uint32_p: return scratch->set(0, static_cast<unsigned int*>(p));
    case r_float_p: return scratch->set(0, static_cast<float*>(p));
    case r_struct_p: return scratch->set(0, static_cast<r_struct*>(p));
    case r_var_p: return scratch->set(0, static_cast<r_var*>(p));
    case r_undefined: return 0;
    default: return scratch->set(0, p);
    }
}

// Where a pointer stored by a script points: the holder's element, the
// pointer stored there and the bytes it may reach.
struct pointer_room {
    const r_var* holder;
    int element;
    uintptr_t pointer;
    long room;
};

static bool is_scratch(const r_var* v)
{
    return strcmp(v->name, "__noname") == 0 || strcmp(v->name, "__func_arg__") == 0;
}

static d_node* room_node(d_list& rooms, const r_var* holder, int element)
{
    for (d_node* n = rooms.first; n; n = n->next) {
        pointer_room* r = static_cast<pointer_room*>(n->data);
        if (r->holder == holder && r->element == element)
            return n;
    }
    return nullptr;
}

void dot_config::note_room(r_var* holder, int element, long room)
{
    if (is_scratch(holder))
        return;
    d_node* n = room_node(pointer_rooms, holder, element);
    pointer_room* r = n ? static_cast<pointer_room*>(n->data) : nullptr;
    uintptr_t pointer = holder->word(element);
    if (room < 0 || !pointer) {
        if (n) {
            pointer_rooms.remove(n);
            delete r;
        }
        return;
    }
    if (!r) {
        // Without a record the pointer's room stays unknown, and it is refused.
        r = KD_NEW pointer_room;
        if (!r || pointer_rooms.insert(static_cast<void*>(r)) != 0) {
            delete r;
            return;
        }
    }
    *r = {holder, element, pointer, room};
}

long dot_config::room_of(r_var* holder, int element)
{
    d_node* n = room_node(pointer_rooms, holder, element);
    pointer_room* r = n ? static_cast<pointer_room*>(n->data) : nullptr;
    // Changed since by other code: the record no longer says where it points.
    return r && r->pointer == holder->word(element) ? r->room : -1;
}

void dot_config::forget_rooms()
{
    for (d_node* n = pointer_rooms.first; n; n = n->next)
        delete static_cast<pointer_room*>(n->data);
    pointer_rooms.delete_nodes();
}

bool dot_config::is_quoted(const char* text) const
{
    const char* q = quote.name ? quote.name : "";
    size_t qlen = strlen(q);
    return qlen && strncmp(text, q, qlen) == 0 && strlen(text) >= 2 * qlen;
}

int dot_config::evaluate_expression(d_list* _expr, r_var* _lval, int* _index)
{
    CHECK_PTR(_expr, -1);
    CHECK_PTR(_lval, -1);
    CHECK_PTR(_index, -1);
    s_token* t = front(_expr);
    if (!t)
        return 0;
    nesting_guard guard(this);
    if (guard.too_deep())
        return -1;
    char* text = t->name;
    r_var scratch("__noname");
    r_var* value = &scratch;
    long room = -1;
    switch (text[0]) {
    case '=': {
        drop_front(_expr);
        r_var second("__noname");
        int second_index = 0;
        if (evaluate_expression(_expr, &second, &second_index) == -1)
            return -1;
        if (_lval->assign(*_index, &second, 0) == -1)
            return -1;
        note_room(_lval, *_index, address_room);
        return 0;
    }
    case ',':
        drop_front(_expr);
        return 0;
    case ')':
    case '\n':
        return 0;
    case '%': {
        drop_front(_expr);
        r_var* v = get_rightmost_var(_expr, _index, nullptr);
        if (!v)
            return -1;
        scratch.set(0, v);
        *_index = 0;
        break;
    }
    case '&': {
        drop_front(_expr);
        r_var* v = get_rightmost_var(_expr, _index, nullptr);
        if (!v || !index_ok(v, *_index))
            return -1;
        // The address of a structure or variable pointer is typed like the
        // pointer itself, so "->" would follow it as one: it may only go to a
        // function, never into a variable.
        r_type pt = get_value_pointer_type(v);
        if ((pt == r_struct_p || pt == r_var_p) && strcmp(_lval->name, "__func_arg__") != 0) {
            ELOG(EL_MAJOR, "the address of %s can only be passed to a function", v->name);
            return -1;
        }
        if (set_address(&scratch, v, *_index) == -1)
            return -1;
        room = (long)(v->count - (unsigned int)*_index) * (long)r_type_width(v->type);
        *_index = 0;
        break;
    }
    default:
        if (number_like(text) && is_int(text)) {
            long long n = 0;
            scan_integer(text, &n);
            scratch.set(0, clamp_int(n));
            *_index = 0;
            drop_front(_expr);
        } else if (number_like(text) && is_float(text)) {
            float f = 0;
            scan_decimal_float(text, &f);
            scratch.set(0, f);
            *_index = 0;
            drop_front(_expr);
        } else if (is_quoted(text)) {
            size_t qlen = strlen(quote.name);
            text[strlen(text) - qlen] = 0;
            if (scratch.set(0, text + qlen) == -1)
                return -1;
            *_index = 0;
            drop_front(_expr);
        } else {
            value = get_rightmost_var(_expr, _index, nullptr);
            if (!value)
                return -1;
        }
    }
    if (_expr->first) {
        // "&a = ..." points the address elsewhere: its room is then unknown.
        if (is(front(_expr)->name, "="))
            room = -1;
        if (evaluate_expression(_expr, value, _index) == -1)
            return -1;
    }
    // A pointer read from a variable has the room it was stored with.
    if (value != &scratch)
        room = room_of(value, *_index);
    // Set last, so a call nested in this value does not leave its own.
    address_room = room;
    return _lval->assign(0, value, *_index) == -1 ? -1 : 0;
}

r_var* dot_config::get_rightmost_var(d_list* tokens, int* index, script_var* within)
{
    return resolve_path(tokens, index, within);
}

r_var* dot_config::resolve_path(d_list* tokens, int* index, r_struct* within)
{
    for (;;) {
        if (!tokens || !tokens->first || !index) {
            ELOG(EL_MINDEBUG, "get_rightmost_var(): invalid parameters");
            return nullptr;
        }
        *index = 0;
        const char* text = front(tokens)->name;
        r_var* v = within ? within->get_var(text) : scope ? scope->get_var(text) : nullptr;
        if (!v) {
            ELOG(EL_MAJOR, "%s was not found", text);
            return nullptr;
        }
        drop_front(tokens);
        if (!tokens->first)
            return v;
        const char* next = front(tokens)->name;
        // "obj[i].member" steps through an array of script objects by the
        // object's stride, whatever the variable's own count.
        bool object_step = false;
        if (is(next, "[")) {
            drop_front(tokens);
            if (kw_index_start.process(tokens, this, index) == -1)
                return nullptr;
            object_step = tokens->first && is(front(tokens)->name, ".") && v->type == r_struct_p &&
                          dynamic_cast<script_var*>(v);
            if (!object_step && !index_ok(v, *index))
                return nullptr;
        } else if (is(next, "(")) {
            drop_front(tokens);
            script_func* f = dynamic_cast<script_func*>(v);
            if (!f) {
                ELOG(EL_MAJOR, "%s is not a function", v->name);
                return nullptr;
            }
            if (_do_function_call(f, tokens) == -1)
                return nullptr;
        }
        if (!tokens->first)
            return v;
        next = front(tokens)->name;
        r_struct* s = nullptr;
        if (is(next, ".")) {
            // Only a script object has members; a declared r_struct_p holder is
            // a plain variable and has none.
            script_var* sv = v->type == r_struct_p ? dynamic_cast<script_var*>(v) : nullptr;
            if (!sv) {
                ELOG(EL_MAJOR, "%s is not a structure", v->name);
                return nullptr;
            }
            if (object_step ? !object_index_ok(sv, *index) : !index_ok(v, *index))
                return nullptr;
            s = sv->get_array_element((unsigned int)*index);
        } else if (is(next, "->")) {
            if (v->type == r_struct_p) {
                if (!index_ok(v, *index))
                    return nullptr;
                s = v->rsp_value(*index);
            } else if (v->type == r_var_p) {
                if (!index_ok(v, *index))
                    return nullptr;
                r_var* target = v->rvp_value(*index);
                script_var* sv = target ? dynamic_cast<script_var*>(target) : nullptr;
                if (target && !sv) {
                    ELOG(EL_MAJOR, "%s is not a structure", v->name);
                    return nullptr;
                }
                s = sv;
            } else {
                ELOG(EL_MAJOR, "%s is not a structure", v->name);
                return nullptr;
            }
        } else {
            return v;
        }
        drop_front(tokens);
        if (!s) {
            ELOG(EL_MAJOR, "%s has a NULL structure", v->name);
            return nullptr;
        }
        within = s;
    }
}

int config_index_start::process(d_list* tokens, dot_config* cfg, void* extra)
{
    if (!tokens || !cfg || !extra || !tokens->first) {
        ELOG(EL_MINDEBUG, "config_index_start: invalid parameters");
        return -1;
    }
    int* index = static_cast<int*>(extra);
    *index = 0;
    char kept[BS_MAX_IDENT + 1];
    strncpy(kept, front(tokens)->name, BS_MAX_IDENT);
    kept[BS_MAX_IDENT] = 0;
    if (kept[0] >= '0' && kept[0] <= '9') {
        long long n = 0;
        scan_integer(kept, &n);
        *index = clamp_int(n);
    } else {
        nesting_guard guard(cfg);
        if (guard.too_deep())
            return -1;
        int element = 0;
        r_var* v = cfg->get_rightmost_var(tokens, &element, nullptr);
        if (!v)
            return -1;
        *index = v->value(element);
    }
    if (remove_delimitted_tokens(tokens, nullptr, &cfg->kw_index_end, true) != 0) {
        ELOG(EL_MAJOR, "%s was not found after %s", cfg->kw_index_end.name, kept);
        return -1;
    }
    return 0;
}

// The texts of a call's "s" arguments, freed when the call is over.
class call_strings {
public:
    d_list list;
    ~call_strings()
    {
        for (d_node* n = list.first; n; n = n->next)
            delete[] static_cast<char*>(n->data);
    }
};

bool dot_config::pointer_fits(script_func* _f, int i, char letter, uintptr_t pointer)
{
    if (letter != 'F' && letter != 'I' && letter != 'V')
        return true;
    if (!pointer) {
        ELOG(EL_MAJOR, "%s: argument %d is a null pointer", _f->name, i + 1);
        return false;
    }
    if (letter == 'V')
        return true;  // "%" names a whole variable
    // Floats and ints are both 4 bytes: room is counted in elements.
    int needed = letter == 'F' ? _f->floats_needed(i) : 1;
    if (address_room < 0) {
        ELOG(EL_MAJOR, "%s: argument %d points at memory of unknown size", _f->name, i + 1);
        return false;
    }
    if (address_room < needed * 4) {
        ELOG(EL_MAJOR, "%s: argument %d points at %ld element(s), a %s needs %d", _f->name, i + 1,
             address_room / 4, needed == 16 ? "matrix" : needed == 4 ? "vector" : "value", needed);
        return false;
    }
    return true;
}

// The argument words of one call, bound before the call is made: a call in
// the argument list of another (even of the same function) binds its own.
struct call_frame {
    int nargs = 0;
    intptr_t args[VA_MAX_ARGS] = {};
    r_type arg_types[VA_MAX_ARGS] = {};

    void load_into(script_func* f) const
    {
        f->nargs = nargs;
        memcpy(f->args, args, sizeof args);
        memcpy(f->arg_types, arg_types, sizeof arg_types);
    }
};

int dot_config::_set_args(script_func* _f, d_list* _args, d_list& strings)
{
    call_frame frame;
    if (bind_args(_f, _args, strings, frame) != 0)
        return -1;
    frame.load_into(_f);
    return 0;
}

int dot_config::bind_args(script_func* _f, d_list* _args, d_list& strings, call_frame& frame)
{
    CHECK_PTR(_f, -1);
    if (!_args || !_args->first) {
        ELOG(EL_MINDEBUG, "_set_args(): invalid parameters");
        return -1;
    }
    const char* sig = _f->signature ? _f->signature : "";
    const char* letter = strchr(sig, '=');
    letter = letter ? letter + 1 : sig + strlen(sig);
    int expected = get_nargs(sig);
    int i = 0;
    while (!is(front(_args)->name, ")")) {
        if (i >= VA_MAX_ARGS) {
            ELOG(EL_MAJOR, "%s does not take %d arguments", _f->name, i + 1);
            return -1;
        }
        r_var scratch("__func_arg__");
        set_r_var_type(&scratch, *letter);
        int index = 0;
        int before = _args->count;
        address_room = -1;
        if (evaluate_expression(_args, &scratch, &index) == -1)
            return -1;
        if (!pointer_fits(_f, i, *letter, scratch.word(0)))
            return -1;
        frame.args[i] = (intptr_t)scratch.word(0);
        frame.arg_types[i] = scratch.type;
        if (scratch.type == r_string && scratch.word(0)) {
            if (strings.insert(reinterpret_cast<void*>(scratch.word(0))) != 0)
                return -1;
        }
        // The word now belongs to the call (or to the strings list).
        memset(scratch[0], 0, r_type_width(scratch.type));
        ++i;
        // An argument that used no token can only stand before something the
        // list cannot go on from.
        if (!_args->first || _args->count == before) {
            ELOG(EL_MAJOR, "missing %s in argument list of %s", kw_paren_end.name, _f->name);
            return -1;
        }
        if (*letter && *letter != '*')
            ++letter;
    }
    drop_front(_args);
    frame.nargs = i;
    bool ok = *letter == '*' ? i >= expected : i == expected;
    if (!ok) {
        ELOG(EL_MAJOR, "%s does not take %d arguments", _f->name, i);
        return -1;
    }
    set_r_var_type(_f, sig[0]);
    return 0;
}

int dot_config::_do_function_call(script_func* _f, d_list* _args)
{
    CHECK_PTR(_f, -1);
    CHECK_PTR(_args, -1);
    call_strings strings;
    call_frame frame;
    if (bind_args(_f, _args, strings.list, frame) != 0)
        return -1;
    // Nested calls of _f are over: its words are this call's until it returns.
    frame.load_into(_f);
    intptr_t result = _f->call();
    int status = 0;
    switch (_f->signature ? _f->signature[0] : 0) {
    case 'f': _f->set(0, _f->f_result); break;
    // A vector function answers with a vector (its first argument).
    case 'F':
        _f->set(0, reinterpret_cast<float*>(result));
        note_room(_f, 0, 4 * 4);
        break;
    case 'I':
        _f->set(0, reinterpret_cast<int*>(result));
        note_room(_f, 0, 4);
        break;
    case 'S': _f->set(0, reinterpret_cast<r_struct*>(result)); break;
    case 'V': _f->set(0, reinterpret_cast<r_var*>(result)); break;
    case 'p': _f->set(0, reinterpret_cast<void*>(result)); break;
    case 's': _f->set(0, reinterpret_cast<const char*>(result)); break;
    default:
        status = (int)result;
        _f->set(0, status);
    }
    if (status == -1)
        ELOG(EL_MAJOR, "%s failed", _f->name);
    return status;
}

}  // namespace vantrel
