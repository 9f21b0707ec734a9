#include "kdbase/regex.h"

#include <climits>
#include <cstring>

#include "platform/platform.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

enum { ATOM_CLASS = 1 };

// One piece of pattern text: a single character (len 1, or 2 with its
// backslash), the inside of a group, or the inside of a class.
struct r_atom {
    const char* start;
    int len;
    int flags;
};

// max 0: no upper bound.
struct r_quantifier {
    int min;
    int max;
};

// The pattern and text being matched, each with its end, so no step reads
// past either whatever the pattern holds.
struct r_state {
    const char* pattern;
    const char* pattern_end;
    const char* text;
    const char* text_end;
    bool icase;
    // A malformed pattern is reported once per call, not at every start position.
    mutable bool stray_reported;
};

char fold(char c, bool icase)
{
    return icase && c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

bool same_char(char a, char b, bool icase)
{
    return fold(a, icase) == fold(b, icase);
}

// The end of a group or class that starts after its opening character at p:
// the closing character, or the pattern's end when it is missing. Escaped
// characters do not close.
const char* find_close(const char* p, const char* end, char close)
{
    while (p < end && *p != close)
        p += (*p == '\\' && p + 1 < end) ? 2 : 1;
    return p < end ? p : end;
}

// Reads the atom at *p into atom and moves *p past it.
bool _get_group(const char** p, const r_state* s, r_atom* atom)
{
    if (!p || !*p || !s || !atom || *p >= s->pattern_end) {
        ELOG(EL_MINDEBUG, "_get_group(): invalid parameters");
        return false;
    }
    const char* c = *p;
    atom->flags = 0;
    if (*c == '(' || *c == '[') {
        const char* close = find_close(c + 1, s->pattern_end, *c == '(' ? ')' : ']');
        atom->start = c + 1;
        atom->len = (int)(close - (c + 1));
        atom->flags = *c == '[' ? ATOM_CLASS : 0;
        *p = close < s->pattern_end ? close + 1 : close;
        return true;
    }
    atom->start = c;
    atom->len = (*c == '\\' && c + 1 < s->pattern_end) ? 2 : 1;
    *p = c + atom->len;
    return true;
}

// A number of a quantifier; none reads as 0, huge values saturate at INT_MAX.
int read_count(const char** p, const char* end)
{
    const char* c = *p;
    while (c < end && *c >= '0' && *c <= '9')
        ++c;
    size_t n = (size_t)(c - *p);
    const char* digits_start = *p;
    *p = c;
    if (n == 0)
        return 0;
    if (n > 10)
        return INT_MAX;
    char digits[11];
    memcpy(digits, digits_start, n);
    digits[n] = 0;
    long long v = 0;
    scan_integer(digits, &v);
    return v > INT_MAX ? INT_MAX : (int)v;
}

// Reads an optional quantifier at *p (none: exactly once) and moves *p past it.
bool _get_quantifier(const char** p, const r_state* s, r_quantifier* q)
{
    if (!p || !*p || !s || !q) {
        ELOG(EL_MINDEBUG, "_get_quantifier(): invalid parameters");
        return false;
    }
    q->min = 1;
    q->max = 1;
    const char* c = *p;
    const char* end = s->pattern_end;
    if (c < end && *c == '*') {
        q->min = 0;
        q->max = 0;
        *p = c + 1;
        return true;
    }
    if (c >= end || *c != '{')
        return true;
    ++c;
    q->min = read_count(&c, end);
    q->max = q->min;
    if (c < end && *c == ',') {
        ++c;
        q->max = read_count(&c, end);
    }
    // Whatever else stands before the closing brace is ignored.
    const char* close = find_close(c, end, '}');
    *p = close < end ? close + 1 : close;
    return true;
}

// Whether the class atom holds c (or, negated, does not).
bool class_has(const r_atom* atom, char c, bool icase)
{
    const char* m = atom->start;
    const char* end = atom->start + atom->len;
    bool negate = m < end && *m == '^';
    if (negate)
        ++m;
    bool found = false;
    while (m < end && !found) {
        if (*m == '\\' && m + 1 < end)
            ++m;
        found = same_char(*m, c, icase);
        ++m;
    }
    return found != negate;
}

// One pattern character (at p, with its backslash) against one text character.
bool char_matches(const char* p, const char* end, char c, bool icase)
{
    if (*p == '\\')
        return same_char(p + 1 < end ? p[1] : '\\', c, icase);
    return *p == '.' || same_char(*p, c, icase);
}

// Matches the atom once at t; the text characters it used, or -1.
int match_atom(const r_atom* atom, const char* t, const r_state* s)
{
    if (atom->flags & ATOM_CLASS)
        return t < s->text_end && class_has(atom, *t, s->icase) ? 1 : -1;
    const char* p = atom->start;
    const char* end = atom->start + atom->len;
    const char* t0 = t;
    while (p < end) {
        if (t >= s->text_end || !char_matches(p, end, *t, s->icase))
            return -1;
        p += (*p == '\\' && p + 1 < end) ? 2 : 1;
        ++t;
    }
    return (int)(t - t0);
}

// Greedy repetition of the atom at *t; moves *t past what matched.
bool _match_quantified_atom(const r_atom* atom, const r_quantifier* q, const char** t, const r_state* s)
{
    if (!atom || !q || !t || !*t || !s) {
        ELOG(EL_MINDEBUG, "_match_quantified_atom(): invalid parameters");
        return false;
    }
    int count = 0;
    while (q->max == 0 || count < q->max) {
        int used = match_atom(atom, *t, s);
        if (used < 0)
            break;
        *t += used;
        ++count;
        // An empty group matches without using text: any count is reached.
        if (used == 0)
            return true;
    }
    return count >= q->min;
}

// Whether the whole pattern matches at text position t.
bool match_here(const r_state* s, const char* t)
{
    const char* p = s->pattern;
    while (p < s->pattern_end) {
        if (*p == '^' || *p == '$') {
            if (t != (*p == '^' ? s->text : s->text_end))
                return false;
            ++p;
            continue;
        }
        if (*p == ')' || *p == ']' || *p == '}') {
            if (!s->stray_reported)
                ELOG(EL_MINOR, "%s: ) or } or ] found without starting brace", s->pattern);
            s->stray_reported = true;
            ++p;
            continue;
        }
        if (t >= s->text_end)
            return false;
        r_atom atom;
        r_quantifier q;
        if (!_get_group(&p, s, &atom) || !_get_quantifier(&p, s, &q) || !_match_quantified_atom(&atom, &q, &t, s))
            return false;
    }
    return true;
}

}  // namespace

int regex_match(const char* pattern, const char* text, int flags)
{
    if (!pattern || !text) {
        ELOG(EL_MINDEBUG, "regex_match(): invalid parameters");
        return 0;
    }
    r_state s{pattern, pattern + strlen(pattern), text, text + strlen(text), (flags & REGEX_ICASE) != 0, false};
    for (const char* t = text; t < s.text_end; ++t)
        if (match_here(&s, t))
            return 1;
    return 0;
}

}  // namespace vantrel
