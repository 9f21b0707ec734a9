#include "kdbase/args.h"

#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/s_token.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

static void reset_arg(arg_t* a)
{
    delete[] a->name;
    a->name = nullptr;
    for (char*& v : a->values) {
        delete[] v;
        v = nullptr;
    }
    a->nvalues = -1;
}

args_t::args_t() : count(0), next_token(nullptr)
{
    for (arg_t& a : args) {
        a.name = nullptr;
        for (char*& v : a.values)
            v = nullptr;
        a.nvalues = -1;
    }
}

args_t::~args_t()
{
    clear();
}

void args_t::clear()
{
    for (arg_t& a : args)
        reset_arg(&a);
    count = 0;
}

// A new copy of len characters of s; null (logged by the allocator) on failure.
static char* copy_text(const char* s, size_t len)
{
    char* out = KD_NEW char[len + 1];
    if (out) {
        memcpy(out, s, len);
        out[len] = 0;
    }
    return out;
}

int args_t::_parse_arg(const char* _argstr, arg_t* a)
{
    const char* p = _argstr;
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p == '=' || *p == ',') {
        ELOG(EL_MINOR, "invalid syntax near: %s", p);
        return -1;
    }
    if (*p != '-') {
        // A single argument: one word, no values.
        size_t len = strcspn(p, " \t=,");
        if (p[len] == '=' || p[len] == ',') {
            ELOG(EL_MINOR, "invalid syntax near: %s", p + len);
            return -1;
        }
        if (p[len + strspn(p + len, " \t")])
            ELOG(EL_MINOR, "single argument not alone: %s", _argstr);
        if (!(a->name = copy_text(p, len)))
            return -1;
        a->nvalues = 0;
        return 0;
    }
    ++p;
    if (*p == '-')
        ++p;
    size_t len = strcspn(p, " \t=-");
    if (!(a->name = copy_text(p, len)))
        return -1;
    a->nvalues = 0;
    p += len;
    if (*p == '-') {
        ELOG(EL_MINOR, "more than one argument found in _argstr: %s", _argstr);
        return 0;
    }
    if (!*p)
        return 0;
    ++p;  // the blank or "=" after the name
    if (!*p)
        return 0;
    while (a->nvalues < ARGS_MAX_VALUES - 1) {
        size_t vlen = strcspn(p, ",");
        if (!(a->values[a->nvalues] = copy_text(p, vlen)))
            return -1;
        ++a->nvalues;
        if (!p[vlen])
            break;
        p += vlen + 1;
    }
    return 0;
}

int args_t::parse(int argc, char** _argv)
{
    CHECK_PTR(_argv, -1);
    clear();
    int n = argc;
    if (n > ARGS_MAX) {
        ELOG(EL_MINOR, "args_t::parse(): more than %d words, the rest is ignored", ARGS_MAX);
        n = ARGS_MAX;
    }
    for (int i = 0; i < n; ++i) {
        const char* word = _argv[i];
        if (!word)
            continue;
        char* joined = nullptr;
        const char* next = i + 1 < n ? _argv[i + 1] : nullptr;
        if (word[0] == '-' && next && next[0] != '-') {
            size_t wl = strlen(word), nl = strlen(next);
            if (!(joined = KD_NEW char[wl + nl + 2]))
                return -1;
            memcpy(joined, word, wl);
            joined[wl] = ' ';
            memcpy(joined + wl + 1, next, nl + 1);
            ++i;
        }
        int r = _parse_arg(joined ? joined : word, &args[count]);
        delete[] joined;
        if (r == -1) {
            reset_arg(&args[count]);
            return -1;
        }
        ++count;
    }
    return count;
}

int args_t::parse(const char* _line)
{
    CHECK_PTR(_line, -1);
    char* text = alloc_str(_line, -1);
    if (!text)
        return -1;
    char* words[ARGS_MAX + 1];
    int n = 0;
    for (char* w = _get_next_token(text); w; w = _get_next_token(nullptr)) {
        // One word past the limit is enough for parse to report the rest.
        if (n <= ARGS_MAX)
            words[n++] = w;
    }
    int r = parse(n, words);
    delete[] text;
    return r;
}

int args_t::get_arg(const char* _argname, char** values) const
{
    CHECK_PTR(_argname, -1);
    for (int i = 0; i < count; ++i) {
        const arg_t& a = args[i];
        if (a.name && strncmp(a.name, _argname, ARGS_MAX_NAME) == 0) {
            if (values)
                memcpy(values, a.values, sizeof(char*) * (size_t)(a.nvalues + 1));
            return a.nvalues;
        }
    }
    return -1;
}

char* args_t::get_value(const char* name, int i) const
{
    char* values[ARGS_MAX_VALUES];
    int n = get_arg(name, values);
    return i >= 0 && i < n ? values[i] : nullptr;
}

void args_t::dump_args(FILE* f, const char* tabs) const
{
    if (!f)
        return;  // printers write nothing to a missing stream, silently
    if (!tabs)
        tabs = "";
    fprintf(f, "%s***%d argument(s) parsed\n", tabs, count);
    for (int i = 0; i < count; ++i) {
        const arg_t& a = args[i];
        fprintf(f, "%s..[%d] %s=(", tabs, i, a.name ? a.name : "");
        for (int v = 0; v < a.nvalues; ++v)
            fprintf(f, v ? ",%s" : "%s", a.values[v]);
        fprintf(f, ") %d value(s)\n", a.nvalues);
    }
}

char* args_t::_get_next_token(char* s)
{
    char* p = s ? s : next_token;
    if (!p)
        return nullptr;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
        ++p;
    if (!*p) {
        next_token = nullptr;
        return nullptr;
    }
    char* word = p;
    char* out = p;
    bool quoted = false;
    for (; *p; ++p) {
        if (*p == '"') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n'))
            break;
        *out++ = *p;
    }
    next_token = *p ? p + 1 : nullptr;
    *out = 0;
    return word;
}

}  // namespace vantrel
