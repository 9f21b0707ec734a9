#include "base_script/base_script.h"

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "kdbase/d_list.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/str_util.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

base_script::base_script() : charset(nullptr), keywords(nullptr), quote("\""), ident(), compiled(), compiled_from(nullptr)
{
}

// Builds the character table the way scanf reads a "[...]" class: a leading
// "^" negates, a "]" right after the opening (or the "^") is a member, and
// "a-z" is a range unless the "-" stands first or last.
void base_script::compile_charset()
{
    const unsigned char* c = reinterpret_cast<const unsigned char*>(charset);
    bool negate = *c == '^';
    if (negate)
        ++c;
    bool set[256] = {};
    const unsigned char* first = c;
    for (; *c; ++c) {
        if (*c == ']' && c != first)
            break;
        if (c[1] == '-' && c[2] && c[2] != ']' && c[2] >= c[0]) {
            for (int x = c[0]; x <= c[2]; ++x)
                set[x] = true;
            c += 2;
        } else {
            set[*c] = true;
        }
    }
    for (int x = 0; x < 256; ++x)
        ident[x] = set[x] != negate;
    ident[0] = false;
    strncpy(compiled, charset, sizeof compiled - 1);
    compiled[sizeof compiled - 1] = 0;
    compiled_from = charset;
}

size_t base_script::ident_run(const char* text)
{
    if (charset != compiled_from)
        compile_charset();
    size_t n = 0;
    while (n < BS_MAX_IDENT && ident[(unsigned char)text[n]])
        ++n;
    return n;
}

// The charset may have been rewritten in place: compared in full once per
// line rather than once per token.
void base_script::refresh_charset()
{
    if (charset && (charset != compiled_from || strncmp(charset, compiled, sizeof compiled - 1) != 0))
        compile_charset();
}

// get_token's rule (the first keyword, in table order, whose whole name is a
// prefix of text), comparing only keywords that begin with text's character.
static s_token* match_keyword(const char* text, s_token** keywords)
{
    for (s_token** k = keywords; *k; ++k) {
        const char* n = (*k)->name;
        if (!n || n[0] != text[0])
            continue;
        size_t i = 1;
        while (n[i] && n[i] == text[i])
            ++i;
        if (!n[i])
            return *k;
    }
    return nullptr;
}

s_token* base_script::get_next_valid_token(const char* text)
{
    refresh_charset();
    return next_token(text);
}

s_token* base_script::next_token(const char* text)
{
    if (!charset || !keywords || !text) {
        ELOG(EL_MINDEBUG, "::get_next_valid_token(): invalid parameters");
        return nullptr;
    }
    const char* from = text;  // where the token's text is copied from
    size_t len = 0;
    const char* q = quote.name ? quote.name : "";
    size_t qlen = q[0] ? (q[1] ? strlen(q) : 1) : 0;
    s_token* kw = text[0] ? match_keyword(text, keywords) : nullptr;
    if (kw) {
        from = kw->name;
        len = strnlen(kw->name, BS_MAX_IDENT);
    } else if (qlen && text[0] == q[0] && strncmp(text, q, qlen) == 0) {
        const char* body = text + qlen;
        const char* close = body;
        while (*close && *close != q[0] && close - body < BS_MAX_QUOTED)
            ++close;
        size_t body_len = (size_t)(close - body);
        s_token* t = alloc_token((int)(qlen + body_len + qlen));
        if (!t) {
            ELOG(EL_MINDEBUG, "::get_next_valid_token(): unable to allocate token for %s match", text);
            return nullptr;
        }
        memcpy(t->name, q, qlen);
        memcpy(t->name + qlen, body, body_len);
        memcpy(t->name + qlen + body_len, q, qlen);
        t->name[qlen + body_len + qlen] = 0;
        return t;
    } else if (size_t used = scan_decimal(text, nullptr)) {
        // The token runs to the first occurrence of the character the number
        // stopped at, so "1.5.3" gives "1" and leaves ".", "5.3".
        const char* stop = text[used] ? strchr(text, text[used]) : nullptr;
        len = stop && stop > text ? (size_t)(stop - text) : used;
    } else {
        len = ident_run(text);
        if (len == 0)
            len = 1;
    }
    s_token* t = alloc_token((int)len);
    if (!t) {
        ELOG(EL_MINDEBUG, "::get_next_valid_token(): unable to allocate token for %s match", text);
        return nullptr;
    }
    memcpy(t->name, from, len);
    t->name[len] = 0;
    return t;
}

int base_script::tokenize_line(const char* line, d_list* out)
{
    if (!line || !out) {
        ELOG(EL_MINDEBUG, "::tokenize_line(): invalid parameters");
        return -1;
    }
    refresh_charset();
    size_t end = strlen(line);
    size_t pos = 0;
    while (pos < end) {
        while (line[pos] == ' ' || line[pos] == '\t')
            ++pos;
        if (pos >= end)
            break;
        s_token* t = next_token(line + pos);
        if (!t)
            return -1;
        size_t len = strlen(t->name);
        if (out->insert(t) != 0) {
            delete t;
            ELOG(EL_MINDEBUG, "::tokenize_line(): unable to add token");
            return -1;
        }
        // Only an unterminated quoted string, whose token gained a closing
        // quote, carries the position past the end.
        pos += len;
        if (pos > end) {
            ELOG(EL_MINDEBUG, "tokenize_line(): read beyond the end of string: %s", line);
            return -1;
        }
    }
    return 0;
}

int base_script::tokenize(FILE* f, d_list* out)
{
    if (!f || !out) {
        ELOG(EL_MINDEBUG, "::tokenize(): invalid parameters");
        return -1;
    }
    char line[BS_MAX_LINE];
    for (;;) {
        if (!read_line(line, sizeof line, f)) {
            if (ferror(f)) {
                ELOG(EL_MINOR, "unable to read file: %s", strerror(errno));
                return -1;
            }
            return 0;
        }
        if (tokenize_line(line, out) != 0)
            return -1;
    }
}

void delete_token_node(d_list* l, d_node* n)
{
    if (!l || !n)
        return;
    unknown* o = n->object;
    if (l->remove(n))
        delete o;
}

}  // namespace vantrel
