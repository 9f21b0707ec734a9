#include "base_script/dot_config.h"

#include <climits>
#include <cstring>

#include "kdbase/d_list.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/pointer.h"
#include "kdbase/str_const.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

kw_config::kw_config(const char* _name, int _min_args, int _max_args)
    : s_token(_name), min_args(_min_args), max_args(_max_args)
{
}

int kw_config::process(d_list*, dot_config*, void*)
{
    return 0;
}

config_dc_add::config_dc_add() : kw_config("dc_add", 1, 3) {}
config_dc_set::config_dc_set() : kw_config("dc_set", 2, 2) {}
config_newline::config_newline() : kw_config("\n", 0, 0) {}
config_comment::config_comment() : kw_config("#", 0, 0) {}
config_index_start::config_index_start() : kw_config("[", 1, INT_MAX) {}
config_index_end::config_index_end() : kw_config("]", 0, 0) {}
config_dot::config_dot() : kw_config(".", 0, 0) {}
config_arrow::config_arrow() : kw_config("->", 0, 0) {}
config_equal::config_equal() : kw_config("=", 0, 0) {}
config_paren_start::config_paren_start() : kw_config("(", 0, 0) {}
config_paren_end::config_paren_end() : kw_config(")", 0, 0) {}
config_comma::config_comma() : kw_config(",", 0, 0) {}
config_percent::config_percent() : kw_config("%", 0, 0) {}
config_ampersand::config_ampersand() : kw_config("&", 0, 0) {}
config_include::config_include() : kw_config("include", 1, 1) {}

static const char* token_text(d_node* n)
{
    return static_cast<s_token*>(n->object)->name;
}

// The plug-in's name for messages.
static const char* plugin_name(dot_config* cfg)
{
    return cfg->name.name ? cfg->name.name : "";
}

// A text declared by "dc_add" is replaced by a type from the constants
// without conversion. Numbers keep their bits; a text or pointer type never
// takes a word it cannot own or follow, and a text given up is released.
static void retype(r_var* v, int t)
{
    bool to_pointer = t >= r_char_p && t <= r_var_p;
    if (v->type != t && (v->type == r_string || to_pointer)) {
        if (v->type == r_string)
            v->set(0, (const char*)nullptr);
        memset((*v)[0], 0, r_type_width(v->type));
    }
    v->type = (r_type)t;
}

int config_dc_add::process(d_list* args, dot_config* cfg, void*)
{
    if (!args || !cfg || !args->first) {
        ELOG(EL_MINDEBUG, "config_dc_add: invalid parameters");
        return -1;
    }
    const char* var_name = token_text(args->first);
    if (cfg->scope && cfg->scope->get_var(var_name)) {
        ELOG(EL_MINOR, "%s: variable %s is already shared", name, var_name);
        return -1;
    }
    r_var* v = alloc_r_var(var_name);
    if (!v) {
        ELOG(EL_MINOR, "%s: unable to allocate variable %s", name, var_name);
        return -1;
    }
    if (cfg->store.add(v) != 0) {
        ELOG(EL_MINOR, "%s: unable to add variable %s", name, var_name);
        delete_r_var(v, true);
        return -1;
    }
    d_node* value = args->first->next;
    if (value && set_r_var_value(v, token_text(value)) != 0)
        return -1;
    if (value && value->next)
        retype(v, get_const(token_text(value->next)));
    if (cfg->scope && cfg->scope->add(v) != 0) {
        ELOG(EL_MINOR, "%s: unable to share variable %s", name, var_name);
        return -1;
    }
    return 0;
}

int config_dc_set::process(d_list* args, dot_config* cfg, void*)
{
    if (!args || !cfg || !cfg->scope || args->count < 2) {
        ELOG(EL_MINDEBUG, "config_dc_set: invalid parameters");
        return -1;
    }
    const char* var_name = token_text(args->first);
    r_var* v = cfg->scope->get_var(var_name);
    if (!v) {
        ELOG(EL_MINOR, "%s: variable %s is not shared", name, var_name);
        return -1;
    }
    // A value the variable refuses is logged by the variable; the statement
    // still counts as done.
    set_r_var_value(v, token_text(args->first->next));
    return 0;
}

int config_include::process(d_list* args, dot_config* cfg, void*)
{
    if (!args || !args->first || !cfg || !cfg->script) {
        ELOG(EL_MINDEBUG, "config_include: invalid parameters");
        return -1;
    }
    const char* text = token_text(args->first);
    const char* q = cfg->quote.name ? cfg->quote.name : "";
    size_t qlen = strlen(q), len = strlen(text);
    if (len < 2 * qlen || strncmp(text, q, qlen) != 0) {
        ELOG(EL_MINOR, "%s: %s is not a quoted file name", name, text);
        return -1;
    }
    char path[BS_MAX_QUOTED + 1];
    size_t n = len - 2 * qlen;
    if (n > BS_MAX_QUOTED)
        n = BS_MAX_QUOTED;
    memcpy(path, text + qlen, n);
    path[n] = 0;
    return cfg->script->process(path) == 0 ? 0 : -1;
}

dot_config::dot_config() : dot_plugin("config"), kw_table(), store(false), nesting(0), address_room(-1)
{
    kw_config* order[] = {&kw_dc_add, &kw_dc_set, &kw_newline, &kw_comment, &kw_index_start,
                          &kw_index_end, &kw_dot, &kw_arrow, &kw_equal, &kw_paren_start,
                          &kw_paren_end, &kw_comma, &kw_percent, &kw_ampersand, &kw_include};
    int i = 0;
    for (kw_config* k : order)
        kw_table[i++] = k;
    charset = "_a-zA-Z0-9";
    keywords = kw_table;
}

dot_config::~dot_config()
{
    delete_r_var_l(&store.list, true);
    forget_rooms();
}

kw_config* dot_config::get_keyword(s_token* t)
{
    if (!t || !t->name)
        return nullptr;
    return static_cast<kw_config*>(get_token(t->name, keywords));
}

// s_token equality, with the first characters compared before the texts.
static bool same_text(d_node* n, s_token& t)
{
    s_token* a = static_cast<s_token*>(n->object);
    return a->name && t.name && a->name[0] == t.name[0] && *a == t;
}

// Moves the first node of from to the end of to, without allocating.
static void move_front(d_list* from, d_list* to)
{
    d_node* n = from->first;
    from->first = n->next;
    if (from->first)
        from->first->prev = nullptr;
    else
        from->last = nullptr;
    --from->count;
    n->next = nullptr;
    n->prev = to->last;
    (to->last ? to->last->next : to->first) = n;
    to->last = n;
    ++to->count;
}

int dot_config::glob_statement(d_list* _tokens, d_list* _linetoks)
{
    CHECK_PTR(_tokens, -1);
    CHECK_PTR(_linetoks, -1);
    while (_tokens->first) {
        if (same_text(_tokens->first, kw_newline)) {
            delete_token_node(_tokens, _tokens->first);
            return 0;
        }
        move_front(_tokens, _linetoks);
    }
    ELOG(EL_MINDEBUG, "_tokens has no __newline");
    return -1;
}

int dot_config::process_line_tokens(d_list* _linetoks)
{
    CHECK_PTR(_linetoks, -1);
    if (!_linetoks->first)
        return 0;
    kw_config* kw = get_keyword(static_cast<s_token*>(_linetoks->first->object));
    if (kw) {
        delete_token_node(_linetoks, _linetoks->first);
        int n = _linetoks->count;
        if (n < kw->min_args || n > kw->max_args) {
            ELOG(EL_MINOR, "%s: %s does not take %d arguments", plugin_name(this), kw->name, n);
            return -1;
        }
        return kw->process(_linetoks, this, nullptr) == -1 ? -1 : 0;
    }
    r_var scratch("__noname");
    int index = 0;
    return evaluate_expression(_linetoks, &scratch, &index);
}

int dot_config::process(d_list* _args, d_list* _tokens)
{
    CHECK_PTR(_args, -1);
    CHECK_PTR(_tokens, -1);
    d_list statement(1);
    for (int number = 1; _tokens->first; ++number) {
        if (glob_statement(_tokens, &statement) != 0)
            return -1;
        // The statement has lost its newline, so the comment run is never
        // closed: everything from "#" on goes.
        remove_delimitted_tokens(&statement, &kw_comment, &kw_newline, true);
        int r = statement.first ? process_line_tokens(&statement) : 0;
        statement.delete_nodes();
        if (r != 0)
            return number;
    }
    return 0;
}

int remove_delimitted_tokens(d_list* _tokens, s_token* start, s_token* _end, bool inclusive)
{
    CHECK_PTR(_tokens, -1);
    CHECK_PTR(_end, -1);
    d_node* n = _tokens->first;
    if (start) {
        while (n && !same_text(n, *start))
            n = n->next;
        if (!n)
            return 0;
        d_node* next = n->next;
        if (inclusive)
            _tokens->remove(n);
        n = next;
    }
    while (n) {
        d_node* next = n->next;
        bool closes = same_text(n, *_end);
        if (!closes || inclusive)
            _tokens->remove(n);
        if (closes)
            return 0;
        n = next;
    }
    return -1;
}

}  // namespace vantrel
