#include "base_script/dot_script.h"

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "kdbase/d_list.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/pointer.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

dot_keyword::dot_keyword(const char* _name) : s_token(_name) {}

kw_newline::kw_newline() : dot_keyword("\n") {}

int kw_newline::process(FILE*, d_list*, dot_script*)
{
    return 0;
}

kw_plugin_start::kw_plugin_start() : dot_keyword("."), end_prefix("./") {}

namespace {

// The script's tokenizer settings, switched to a plug-in's while its block is
// read and put back on every way out.
class settings_guard {
public:
    explicit settings_guard(base_script* _s) : s(_s), charset(_s->charset), keywords(_s->keywords)
    {
        quote.p = alloc_str(_s->quote.name ? _s->quote.name : "", -1);
    }
    ~settings_guard()
    {
        s->charset = charset;
        s->keywords = keywords;
        if (quote.p)
            s->quote.set_name(quote.p);
    }
    bool ok() const { return quote.p != nullptr; }

private:
    base_script* s;
    const char* charset;
    s_token** keywords;
    pointer_t<char> quote;
};

}  // namespace

int kw_plugin_start::process(FILE* f, d_list* tokens, dot_script* script)
{
    if (!f || !tokens || !script || !tokens->first) {
        ELOG(EL_MINDEBUG, "kw_plugin_start: invalid parameters");
        return -1;
    }
    s_token* plugin_name = static_cast<s_token*>(tokens->first->object);
    dot_plugin* plugin = script->get_plugin(plugin_name);
    if (!plugin) {
        ELOG(EL_MINOR, "plugin %s not found", plugin_name->name ? plugin_name->name : "");
        return -1;
    }
    d_list block(1);
    {
        settings_guard saved(script);
        if (!saved.ok())
            return -1;
        script->keywords = plugin->keywords;
        script->charset = plugin->charset;
        script->quote.set_name(plugin->quote.name);
        char closing[2 * BS_MAX_IDENT + 3];
        snprintf(closing, sizeof closing, "%s%s", end_prefix.name, plugin->name.name);
        s_token end(closing);
        if (script->tokenize_upto(f, &end, &block) != 0)
            return -1;
    }
    delete_token_node(tokens, tokens->first);
    plugin->scope = script->globals;
    plugin->script = script;
    int r = plugin->process(tokens, &block);
    if (r == -1)
        ELOG(EL_MINDEBUG, "plugin %s returned an error", plugin->name.name);
    return r;
}

dot_plugin::dot_plugin(const char* _name) : name(_name), scope(nullptr), script(nullptr) {}

dot_script::dot_script() : keyword_table(), plugins(), globals(nullptr), contexts(), ndepth(0)
{
    keyword_table[0] = &plugin_start;
    keyword_table[1] = &newline;
    charset = "^ \t\n";
    keywords = keyword_table;
}

dot_script::~dot_script() = default;

int dot_script::add_plugin(dot_plugin* p)
{
    CHECK_PTR(p, -1);
    for (int i = 0; i < DS_MAX_PLUGINS; ++i) {
        if (!plugins[i]) {
            plugins[i] = p;
            if (i + 1 < DS_MAX_PLUGINS)
                plugins[i + 1] = nullptr;
            return 0;
        }
    }
    ELOG(EL_MINOR, "dot_script::add_plugin(): no room for plugin %s", p->name.name ? p->name.name : "");
    return -1;
}

dot_keyword* dot_script::get_keyword(s_token* t)
{
    if (!t || !t->name)
        return nullptr;
    return static_cast<dot_keyword*>(get_token(t->name, keywords));
}

dot_plugin* dot_script::get_plugin(s_token* t)
{
    if (!t || !t->name)
        return nullptr;
    for (int i = 0; i < DS_MAX_PLUGINS && plugins[i]; ++i)
        if (plugins[i]->name.name && plugins[i]->name == *t)
            return plugins[i];
    return nullptr;
}

int dot_script::tokenize_upto(FILE* f, s_token* end, d_list* out)
{
    if (!f || !end || !end->name || !out) {
        ELOG(EL_MINDEBUG, "::tokenize_upto(): invalid parameters");
        return -1;
    }
    size_t end_len = strlen(end->name);
    char line[BS_MAX_LINE];
    for (;;) {
        if (!read_line(line, sizeof line, f))
            return -1;
        if (ndepth > 0)
            ++contexts[ndepth - 1].consumed;
        const char* p = line;
        while (*p == ' ' || *p == '\t')
            ++p;
        if (strncmp(p, end->name, end_len) == 0)
            return 0;
        if (tokenize_line(line, out) != 0)
            return -1;
    }
}

int dot_script::process_line_tokens(FILE* f, d_list* tokens)
{
    if (!f || !tokens || !tokens->first) {
        ELOG(EL_MINDEBUG, "::process_line_tokens(): invalid parameters");
        return -1;
    }
    s_token* first = static_cast<s_token*>(tokens->first->object);
    dot_keyword* kw = get_keyword(first);
    if (!kw) {
        ELOG(EL_MINOR, "invalid keyword %s found", first->name ? first->name : "");
        return -1;
    }
    delete_token_node(tokens, tokens->first);
    return kw->process(f, tokens, this);
}

int dot_script::process(const char* path)
{
    if (!path) {
        ELOG(EL_MINDEBUG, "::process(): invalid parameters");
        return -1;
    }
    if (ndepth >= DS_MAX_NESTING) {
        ELOG(EL_MINOR, "unable to run %s: scripts nested deeper than %d", path, DS_MAX_NESTING);
        return -1;
    }
    FILE* f = fopen(path, "r");
    if (!f) {
        ELOG(EL_MINOR, "unable to open file %s: %s", path, strerror(errno));
        return -1;
    }
    script_context& ctx = contexts[ndepth++];
    ctx = script_context{path, 0, charset, keywords};
    d_list tokens(1);
    char line[BS_MAX_LINE];
    int number = 1;
    int r = 0;
    for (;;) {
        if (!read_line(line, sizeof line, f)) {
            if (ferror(f)) {
                ELOG(EL_MINOR, "error while reading %s", path);
                r = -1;
            }
            break;
        }
        if (tokenize_line(line, &tokens) != 0) {
            r = -1;
            break;
        }
        // A last line of blanks without its newline holds no token: nothing to run.
        if (!tokens.first)
            continue;
        ctx.consumed = 0;
        r = process_line_tokens(f, &tokens);
        tokens.delete_nodes();
        if (r == 0) {
            number += 1 + ctx.consumed;
            continue;
        }
        if (r != -1)
            r += number;
        ELOG(EL_MAJOR, "%s (%d): error running script", path, r);
        break;
    }
    fclose(f);
    charset = ctx.charset;
    keywords = ctx.keywords;
    --ndepth;
    return r;
}

}  // namespace vantrel
