#include "kdbase/s_token.h"

#include <cstring>

#include "kdbase/d_list.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/pointer.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

// The name a token falls back to when its copy cannot be allocated; never freed.
static char out_of_memory_name[] = "out of memory";

s_token::s_token(const char* _name) : name(nullptr)
{
    set_name(_name);
}

s_token::~s_token()
{
    set_name(nullptr);
}

bool s_token::owns_name() const
{
    return name && name != out_of_memory_name && name != short_name;
}

void s_token::set_name(const char* _name)
{
    // Copy first: _name may be (part of) this token's own name.
    char* old = owns_name() ? name : nullptr;
    size_t len = _name ? strlen(_name) : 0;
    if (_name && len < sizeof short_name) {
        memmove(short_name, _name, len + 1);
        name = short_name;
    } else {
        char* copy = _name ? alloc_str(_name, -1) : nullptr;
        name = _name ? (copy ? copy : out_of_memory_name) : nullptr;
    }
    delete[] old;
}

s_token& s_token::operator=(const char* _name)
{
    set_name(_name);
    return *this;
}

bool s_token::operator==(s_token& t)
{
    if (!name || !t.name) {
        ELOG(EL_MINDEBUG, "s_token::==(): token names not set");
        return false;
    }
    return strncmp(name, t.name, 255) == 0;
}

bool s_token::operator!=(s_token& t)
{
    return !(*this == t);
}

void s_token::copy(s_token* _tok)
{
    CHECK_PTR_V(_tok);
    set_name(_tok->name);
}

char* alloc_str(const char* s, int max)
{
    if (!s) {
        ELOG(EL_MINDEBUG, "invalid parameters");
        return nullptr;
    }
    size_t len = strlen(s);
    if (max != -1 && max > 0 && len >= (size_t)max)
        len = (size_t)max - 1;
    else if (max != -1 && max <= 0)
        len = 0;
    char* out = KD_NEW char[len + 1];
    if (!out)
        return nullptr;
    memcpy(out, s, len);
    out[len] = 0;
    return out;
}

s_token* alloc_token(int len)
{
    pointer_t<s_token> token;
    token.p = KD_NEW s_token;
    if (!token.p) {
        ELOG(EL_MINDEBUG, "alloc_token(): unable to allocate token");
        return nullptr;
    }
    pointer_t<char> text;
    text.p = KD_NEW char[len < 0 ? 1 : (size_t)len + 1];
    if (!text.p) {
        ELOG(EL_MINDEBUG, "alloc_token(): unable to allocate token string");
        return nullptr;
    }
    text.p[0] = 0;
    token.p->name = text.p;
    text.dont_delete();
    token.dont_delete();
    return token.p;
}

s_token* get_token(const char* text, s_token** tokens)
{
    if (!text || !tokens) {
        ELOG(EL_MINDEBUG, "get_token(): invalid parameters");
        return nullptr;
    }
    for (; *tokens; ++tokens) {
        const char* n = (*tokens)->name;
        if (n && strncmp(n, text, strlen(n)) == 0)
            return *tokens;
    }
    return nullptr;
}

s_token* get_token(const char* name, d_list* tokens)
{
    if (!name || !tokens) {
        ELOG(EL_MINDEBUG, "invalid parameters");
        return nullptr;
    }
    for (d_node* n = tokens->first; n; n = n->next) {
        s_token* t = dynamic_cast<s_token*>(n->object);
        if (t && t->name && strncmp(t->name, name, 255) == 0)
            return t;
    }
    return nullptr;
}

void dump_token_l(FILE* f, d_list* l)
{
    if (!f || !l)
        return;
    int i = 0;
    for (d_node* n = l->first; n; n = n->next, ++i) {
        s_token* t = dynamic_cast<s_token*>(n->object);
        fprintf(f, "[%d] %s\n", i, t && t->name ? t->name : "");
    }
    fprintf(f, "\n%d token(s)\n", l->count);
}

}  // namespace vantrel
