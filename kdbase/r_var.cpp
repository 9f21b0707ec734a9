#include <cstring>

#include "platform/platform.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/r_struct.h"
#include "kdbase/s_token.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

static const char noname[] = "__noname";

static const str_const_t type_names[] = {
    {"r_undefined", r_undefined}, {"r_char", r_char},         {"r_uchar8", r_uchar8},
    {"r_ushort16", r_ushort16},   {"r_int", r_int},           {"r_uint32", r_uint32},
    {"r_float", r_float},         {"r_char_p", r_char_p},     {"r_string", r_string},
    {"r_void_p", r_void_p},       {"r_struct_p", r_struct_p}, {"r_uchar8_p", r_uchar8_p},
    {"r_ushort16_p", r_ushort16_p}, {"r_int_p", r_int_p},     {"r_uint32_p", r_uint32_p},
    {"r_float_p", r_float_p},     {"r_var_p", r_var_p},       {"", -1},
};

static const char* type_name(r_type t)
{
    return t >= r_undefined && t <= r_var_p ? type_names[t].name : "not a type";
}

static bool is_integer_family(r_type t)
{
    return t == r_char || t == r_uchar8 || t == r_ushort16 || t == r_uint32;
}

static bool is_text(r_type t)
{
    return t == r_char_p || t == r_string;
}

size_t r_type_width(r_type t)
{
    return t >= r_char_p && t <= r_var_p ? sizeof(uintptr_t) : sizeof(uint32_t);
}

static uintptr_t float_word(float v)
{
    uint32_t w;
    memcpy(&w, &v, sizeof w);
    return w;
}

template <class P>
static uintptr_t ptr_word(P* p)
{
    return reinterpret_cast<uintptr_t>(p);
}

// ---- construction ----------------------------------------------------------

r_var::r_var()
    : name(noname), type(r_undefined), count(1), owns_name(false), storage(&slot), storage_bytes(sizeof slot),
      owns_storage(false), slot(0), kept(nullptr), kept_count(0)
{
    r_var::init();
}

r_var::r_var(const char* _name) : r_var()
{
    if (_name)
        name = _name;
}

r_var::r_var(const char* _name, r_type t) : r_var(_name)
{
    type = t;
}

#define R_VAR_VALUE_CTOR(X) \
    r_var::r_var(const char* _name, X v) : r_var(_name) { set(0, v); }
R_VAR_VALUE_CTOR(char)
R_VAR_VALUE_CTOR(unsigned char)
R_VAR_VALUE_CTOR(unsigned short)
R_VAR_VALUE_CTOR(int)
R_VAR_VALUE_CTOR(unsigned int)
R_VAR_VALUE_CTOR(float)
R_VAR_VALUE_CTOR(const char*)
R_VAR_VALUE_CTOR(void*)
R_VAR_VALUE_CTOR(r_struct*)
R_VAR_VALUE_CTOR(unsigned char*)
R_VAR_VALUE_CTOR(unsigned short*)
R_VAR_VALUE_CTOR(int*)
R_VAR_VALUE_CTOR(unsigned int*)
R_VAR_VALUE_CTOR(float*)
R_VAR_VALUE_CTOR(r_var*)
#undef R_VAR_VALUE_CTOR

r_var::~r_var()
{
    release_strings();
    release_kept();
    if (owns_name)
        delete[] const_cast<char*>(name);
    if (owns_storage)
        delete[] static_cast<uintptr_t*>(storage);
}

int r_var::init()
{
    release_strings();
    release_kept();
    if (owns_name)
        delete[] const_cast<char*>(name);
    owns_name = false;
    name = noname;
    type = r_undefined;
    count = 1;
    memset(storage, 0, r_type_width(r_var_p) <= storage_bytes ? r_type_width(r_var_p) : storage_bytes);
    return 0;
}

void r_var::set_storage(void* p, size_t bytes)
{
    release_strings();
    release_kept();
    if (owns_storage)
        delete[] static_cast<uintptr_t*>(storage);
    owns_storage = false;
    if (p) {
        storage = p;
        storage_bytes = bytes;
    } else {
        slot = 0;
        storage = &slot;
        storage_bytes = sizeof slot;
    }
}

// Frees the texts an r_string owns and clears their words.
void r_var::release_strings()
{
    if (type != r_string)
        return;
    for (unsigned int i = 0; i < count; ++i) {
        delete[] reinterpret_cast<char*>(word((int)i));
        put_word((int)i, 0);
    }
}

// Frees the texts keep() made; the words that pointed at them are left to
// whoever replaces them.
void r_var::release_kept()
{
    if (!kept)
        return;
    for (unsigned int i = 0; i < kept_count; ++i)
        delete[] kept[i];
    delete[] kept;
    kept = nullptr;
    kept_count = 0;
}

// Frees the kept text of element i unless the element goes on pointing at it.
void r_var::drop_kept(int i, uintptr_t unless)
{
    if (!kept || i < 0 || (unsigned int)i >= kept_count || !kept[i] || ptr_word(kept[i]) == unless)
        return;
    delete[] kept[i];
    kept[i] = nullptr;
}

bool r_var::keeps_text(int i) const
{
    return type == r_char_p && kept && i >= 0 && (unsigned int)i < kept_count && kept[i] &&
           ptr_word(kept[i]) == word(i);
}

int r_var::keep(int i, const char* s)
{
    if (!range_ok(i, "set"))
        return -1;
    if (type != r_char_p) {
        ELOG(EL_MINOR, "tried to set r_var %s(%s) to type %s", name, type_name(type), type_name(r_char_p));
        return -1;
    }
    if (kept_count < count) {
        char** more = KD_NEW char*[count]();
        if (!more) {
            ELOG(EL_MINDEBUG, "r_var::keep(): unable to keep the texts of %s", name);
            return -1;
        }
        for (unsigned int k = 0; k < kept_count; ++k)
            more[k] = kept[k];
        delete[] kept;
        kept = more;
        kept_count = count;
    }
    char* copy = nullptr;
    if (s && !(copy = alloc_str(s, -1))) {
        ELOG(EL_MINDEBUG, "r_var::keep(): unable to copy the text of %s", name);
        return -1;
    }
    delete[] kept[i];  // after the copy: s may be this very text
    kept[i] = copy;
    put_word(i, ptr_word(copy));
    return 0;
}

// ---- element words -----------------------------------------------------------

uintptr_t r_var::word(int i) const
{
    if (i < 0 || (unsigned int)i >= count)
        return 0;
    size_t width = r_type_width(type);
    const unsigned char* at = static_cast<const unsigned char*>(storage) + (size_t)i * width;
    if (width == sizeof(uint32_t)) {
        uint32_t w;
        memcpy(&w, at, sizeof w);
        return w;
    }
    uintptr_t w;
    memcpy(&w, at, sizeof w);
    return w;
}

void r_var::put_word(int i, uintptr_t w)
{
    size_t width = r_type_width(type);
    unsigned char* at = static_cast<unsigned char*>(storage) + (size_t)i * width;
    if (width == sizeof(uint32_t)) {
        uint32_t w32 = (uint32_t)w;
        memcpy(at, &w32, sizeof w32);
    } else {
        memcpy(at, &w, sizeof w);
    }
}

void* r_var::operator[](int i)
{
    return static_cast<unsigned char*>(storage) + (size_t)i * r_type_width(type);
}

bool r_var::range_ok(int i, const char* what)
{
    if (i >= 0 && (unsigned int)i < count)
        return true;
    ELOG(EL_MINOR, "tried to %s element %d: %s only has %d elements", what, i, name, (int)count);
    return false;
}

// The typed write of every type but text.
int r_var::write_word(int i, r_type t, uintptr_t w)
{
    if (!range_ok(i, "set"))
        return -1;
    if (type == r_undefined) {
        if (r_type_width(t) * count > storage_bytes) {
            ELOG(EL_MINOR, "r_var %s has no room for %d elements of type %s", name, (int)count, type_name(t));
            return -1;
        }
        type = t;
    }
    if (type != t && !(t == r_int && is_integer_family(type))) {
        ELOG(EL_MINOR, "tried to set r_var %s(%s) to type %s", name, type_name(type), type_name(t));
        return -1;
    }
    put_word(i, w);
    return 0;
}

bool r_var::read_word(int i, r_type t, uintptr_t* w)
{
    *w = 0;
    if (!range_ok(i, "read"))
        return false;
    bool ok = type == t || (t == r_int && is_integer_family(type)) ||
              (t == r_char_p && type == r_string);
    if (!ok) {
        ELOG(EL_MINOR, "%s used with invalid type", name);
        return false;
    }
    *w = word(i);
    return true;
}

int r_var::set(int i, char v)
{
    return write_word(i, r_char, (uint32_t)(int32_t)(signed char)v);
}

int r_var::set(int i, unsigned char v)
{
    return write_word(i, r_uchar8, v);
}

int r_var::set(int i, unsigned short v)
{
    return write_word(i, r_ushort16, v);
}

int r_var::set(int i, int v)
{
    return write_word(i, r_int, (uint32_t)v);
}

int r_var::set(int i, unsigned int v)
{
    return write_word(i, r_uint32, v);
}

int r_var::set(int i, float v)
{
    return write_word(i, r_float, float_word(v));
}

int r_var::set(int i, void* v) { return write_word(i, r_void_p, ptr_word(v)); }
int r_var::set(int i, r_struct* v) { return write_word(i, r_struct_p, ptr_word(v)); }
int r_var::set(int i, unsigned char* v) { return write_word(i, r_uchar8_p, ptr_word(v)); }
int r_var::set(int i, unsigned short* v) { return write_word(i, r_ushort16_p, ptr_word(v)); }
int r_var::set(int i, int* v) { return write_word(i, r_int_p, ptr_word(v)); }
int r_var::set(int i, unsigned int* v) { return write_word(i, r_uint32_p, ptr_word(v)); }
int r_var::set(int i, float* v) { return write_word(i, r_float_p, ptr_word(v)); }
int r_var::set(int i, r_var* v) { return write_word(i, r_var_p, ptr_word(v)); }

int r_var::set(int i, const char* s)
{
    if (!range_ok(i, "set"))
        return -1;
    if (type == r_char_p) {
        drop_kept(i, ptr_word(s));
        put_word(i, ptr_word(s));
        return 0;
    }
    if (type != r_string && type != r_undefined) {
        ELOG(EL_MINOR, "tried to set r_var %s to type r_string", name);
        return -1;
    }
    if (type == r_undefined && r_type_width(r_string) * count > storage_bytes) {
        ELOG(EL_MINOR, "r_var %s has no room for %d elements of type %s", name, (int)count, type_name(r_string));
        return -1;
    }
    // Copy before freeing: s may be this element's own text.
    char* copy = nullptr;
    if (s && !(copy = alloc_str(s, -1))) {
        ELOG(EL_MINDEBUG, "r_var::set(): unable to copy the text of %s", name);
        return -1;
    }
    char* old = type == r_string ? reinterpret_cast<char*>(word(i)) : nullptr;
    type = r_string;
    put_word(i, ptr_word(copy));
    delete[] old;
    return 0;
}

// ---- typed reads ---------------------------------------------------------------

#define R_VAR_READ(fn, R, T, convert)   \
    R r_var::fn(int i)                  \
    {                                   \
        uintptr_t w;                    \
        if (!read_word(i, T, &w))       \
            return 0;                   \
        return convert;                 \
    }
R_VAR_READ(c_value, char, r_char, (char)(signed char)(w & 0xff))
R_VAR_READ(uc_value, unsigned char, r_uchar8, (unsigned char)(w & 0xff))
R_VAR_READ(us_value, unsigned short, r_ushort16, (unsigned short)(w & 0xffff))
R_VAR_READ(i_value, int, r_int, (int)(uint32_t)w)
R_VAR_READ(value, int, r_int, (int)(uint32_t)w)
R_VAR_READ(ui_value, unsigned int, r_uint32, (unsigned int)w)
R_VAR_READ(vp_value, void*, r_void_p, reinterpret_cast<void*>(w))
R_VAR_READ(rsp_value, r_struct*, r_struct_p, reinterpret_cast<r_struct*>(w))
R_VAR_READ(ucp_value, unsigned char*, r_uchar8_p, reinterpret_cast<unsigned char*>(w))
R_VAR_READ(usp_value, unsigned short*, r_ushort16_p, reinterpret_cast<unsigned short*>(w))
R_VAR_READ(ip_value, int*, r_int_p, reinterpret_cast<int*>(w))
R_VAR_READ(uip_value, unsigned int*, r_uint32_p, reinterpret_cast<unsigned int*>(w))
R_VAR_READ(fp_value, float*, r_float_p, reinterpret_cast<float*>(w))
R_VAR_READ(rvp_value, r_var*, r_var_p, reinterpret_cast<r_var*>(w))
R_VAR_READ(str_value, char*, r_char_p, reinterpret_cast<char*>(w))
#undef R_VAR_READ

float r_var::f_value(int i)
{
    uintptr_t w;
    if (!read_word(i, r_float, &w))
        return 0;
    uint32_t w32 = (uint32_t)w;
    float f;
    memcpy(&f, &w32, sizeof f);
    return f;
}

// ---- size, copy, assign, compare -----------------------------------------------

int r_var::size()
{
    int total = 0;
    switch (type) {
    case r_undefined:
        ELOG(EL_MINOR, "size(): %s is undefined", name);
        return -1;
    case r_char:
    case r_uchar8:
        return (int)count;
    case r_ushort16:
        return 2 * (int)count;
    case r_char_p:
    case r_string:
        for (unsigned int i = 0; i < count; ++i)
            if (const char* s = reinterpret_cast<const char*>(word((int)i)))
                total += (int)strlen(s) + 1;
        return total;
    case r_struct_p:
        for (unsigned int i = 0; i < count; ++i)
            if (r_struct* s = reinterpret_cast<r_struct*>(word((int)i)))
                total += s->size();
        return total;
    default:
        return 4 * (int)count;
    }
}

int r_var::copy(r_var* src)
{
    if (!src || src == this)
        return 0;
    if (src->count != count) {
        ELOG(EL_MINOR, "r_var::copy(): trying to copy two r_var arrays of different sizes");
        return -1;
    }
    if (r_type_width(src->type) * count > storage_bytes) {
        ELOG(EL_MINOR, "r_var %s has no room for %d elements of type %s", name, (int)count, type_name(src->type));
        return -1;
    }
    if (owns_name && name != src->name)
        delete[] const_cast<char*>(name);
    owns_name = false;
    name = src->name;

    if (type == r_string && src->type == r_string) {
        // Same layout: replace text by text (set copies before it frees).
        for (unsigned int i = 0; i < count; ++i)
            if (set((int)i, reinterpret_cast<const char*>(src->word((int)i))) != 0)
                return -1;
        return 0;
    }
    release_strings();
    release_kept();
    type = src->type;
    if (type == r_char_p) {
        // Shared, except what src keeps itself: that may go before this does.
        for (unsigned int i = 0; i < count; ++i)
            put_word((int)i, src->word((int)i));
        for (unsigned int i = 0; i < count; ++i)
            if (src->keeps_text((int)i) && keep((int)i, reinterpret_cast<const char*>(src->word((int)i))) != 0)
                return -1;
        return 0;
    }
    if (type == r_string) {
        for (unsigned int i = 0; i < count; ++i)
            put_word((int)i, 0);
        for (unsigned int i = 0; i < count; ++i)
            if (set((int)i, reinterpret_cast<const char*>(src->word((int)i))) != 0)
                return -1;
        return 0;
    }
    for (unsigned int i = 0; i < count; ++i)
        put_word((int)i, src->word((int)i));
    return 0;
}

int r_var::assign(int i, r_var* src, int j)
{
    if (!src) {
        ELOG(EL_MINDEBUG, "assign: invalid parameters");
        return -1;
    }
    if (src->type == r_undefined) {
        ELOG(EL_MINOR, "assign(%s): %s is undefined", name, src->name);
        return -1;
    }
    uintptr_t w;
    if (!src->read_word(j, src->type, &w))
        return -1;
    bool owned = src->type == r_string || src->keeps_text(j);
    if (owned && type == r_char_p)
        return keep(i, reinterpret_cast<const char*>(w));
    if (owned)
        return set(i, reinterpret_cast<const char*>(w));
    if (src->type == r_char_p) {
        if (!range_ok(i, "set"))
            return -1;
        if (type != r_char_p) {
            if (r_type_width(r_char_p) * count > storage_bytes) {
                ELOG(EL_MINOR, "r_var %s has no room for %d elements of type %s", name, (int)count,
                     type_name(r_char_p));
                return -1;
            }
            // A variable owns all of its texts or none: an r_string gives its up.
            release_strings();
            type = r_char_p;
            // Words of the old type are no text pointers (and have another width).
            for (unsigned int k = 0; k < count; ++k)
                put_word((int)k, 0);
        }
        drop_kept(i, w);
        put_word(i, w);
        return 0;
    }
    return write_word(i, src->type, w);
}

bool r_var::operator==(r_var& v)
{
    if (name != v.name && (!name || !v.name || strncmp(name, v.name, 1024) != 0))
        return false;
    if (type != v.type || count != v.count)
        return false;
    if (type == r_undefined)
        return true;
    for (unsigned int i = 0; i < count; ++i) {
        uintptr_t a = word((int)i), b = v.word((int)i);
        if (is_text(type) && a && b) {
            if (strncmp(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b), 2048) != 0)
                return false;
        } else if (a != b) {
            return false;
        }
    }
    return true;
}

// ---- free functions ------------------------------------------------------------

const str_const_t* r_struct_get_const()
{
    return type_names;
}

r_type get_value_pointer_type(r_var* v)
{
    if (!v) {
        ELOG(EL_MINDEBUG, "get_value_pointer_type(): invalid parameters");
        return r_undefined;
    }
    switch (v->type) {
    case r_char: return r_char_p;
    case r_uchar8: return r_uchar8_p;
    case r_ushort16: return r_ushort16_p;
    case r_int: return r_int_p;
    case r_uint32: return r_uint32_p;
    case r_float: return r_float_p;
    default: return v->type;
    }
}

r_var* create_r_var(const char* name, int n)
{
    if (n < 1 || !name) {
        ELOG(EL_MINDEBUG, "create_r_var(): invalid arguments()");
        return nullptr;
    }
    // Pointer-sized words: the block holds count elements of any type.
    uintptr_t* block = KD_NEW uintptr_t[(size_t)n];
    if (!block) {
        ELOG(EL_MINDEBUG, "create_r_var(): unable to create var buffer");
        return nullptr;
    }
    memset(block, 0, (size_t)n * sizeof *block);
    r_var* v = KD_NEW r_var(name);
    if (!v) {
        delete[] block;
        ELOG(EL_MINDEBUG, "create_r_var(): unable to create var buffer");
        return nullptr;
    }
    v->storage = block;
    v->storage_bytes = (size_t)n * sizeof *block;
    v->owns_storage = true;
    v->count = (unsigned int)n;
    return v;
}

r_var* alloc_r_var(const char* name)
{
    if (!name) {
        ELOG(EL_MINDEBUG, "alloc_r_var(): invalid parameters");
        return nullptr;
    }
    r_var* v = KD_NEW r_var;
    if (!v) {
        ELOG(EL_MINDEBUG, "alloc_r_var(): unable to allocate r_var %s", name);
        return nullptr;
    }
    char* copy = alloc_str(name, -1);
    if (!copy) {
        delete v;
        ELOG(EL_MINDEBUG, "alloc_r_var(): unable to allocate r_var name");
        return nullptr;
    }
    v->name = copy;
    v->owns_name = true;
    return v;
}

void delete_r_var(r_var* v, bool free_name)
{
    if (!v)
        return;
    if (!free_name)
        v->owns_name = false;
    delete v;
}

void delete_r_var_l(d_list* l, bool free_names)
{
    if (!l) {
        ELOG(EL_MINDEBUG, "delete_r_var_l(): invalid parameters");
        return;
    }
    int owning = l->delete_elements;
    l->delete_elements = 0;
    for (d_node* n = l->first; n; n = n->next)
        delete_r_var(static_cast<r_var*>(n->object), free_names);
    l->delete_nodes();
    l->delete_elements = owning;
}

r_var* get_var_from_array(r_var** a, const char* name)
{
    if (!a || !name) {
        ELOG(EL_MINDEBUG, "get_var_from_array(): invalid parameters");
        return nullptr;
    }
    for (; *a; ++a)
        if ((*a)->name && strncmp((*a)->name, name, 1024) == 0)
            return *a;
    return nullptr;
}

static bool only_of(const char* text, const char* allowed)
{
    return text[strspn(text, allowed)] == 0;
}

r_type get_valstr_type(const char* text)
{
    if (!text) {
        ELOG(EL_MINDEBUG, "get_valstr_type(): invalid parameters");
        return r_undefined;
    }
    const char* dot = strchr(text, '.');
    if (dot && !strchr(dot + 1, '.') && only_of(text, "0123456789-+eE."))
        return r_float;
    if (only_of(text, "0123456789-+x"))
        return r_int;
    return r_string;
}

int set_r_var_value(r_var* v, const char* text)
{
    if (!v || !text) {
        ELOG(EL_MINDEBUG, "set_r_var_value(): invalid parameters");
        return -1;
    }
    switch (get_valstr_type(text)) {
    case r_int: {
        long long n = 0;
        scan_integer(text, &n);
        if (n > INT32_MAX)
            n = INT32_MAX;
        if (n < INT32_MIN)
            n = INT32_MIN;
        return v->set(0, (int)n);
    }
    case r_float: {
        float f = 0;
        scan_decimal_float(text, &f);
        return v->set(0, f);
    }
    default:
        // The text lives only as long as the statement that gives it.
        return v->type == r_char_p ? v->keep(0, text) : v->set(0, text);
    }
}

char* get_typestr(char* buf, r_type t)
{
    if (!buf)
        return nullptr;
    strcpy(buf, type_name(t));
    return buf;
}

void print_r_var(r_var* _v, FILE* f)
{
    if (!_v) {
        printf("print_r_var(): _v is NULL\n");
        return;
    }
    if (!f)
        return;
    const char* tn = type_name(_v->type);
    if (_v->type == r_undefined) {
        fprintf(f, "(%s) %s=na (0x%08" PRIxPTR ")\n", tn, _v->name, _v->word(0));
        return;
    }
    if (_v->type > r_struct_p)
        return;
    int size = _v->size();
    for (unsigned int i = 0; i < _v->count; ++i) {
        uintptr_t w = _v->word((int)i);
        fprintf(f, "(%s) %s=", tn, _v->name);
        switch (_v->type) {
        case r_char:
        case r_uchar8:
            fprintf(f, "%c", (char)(w & 0xff));
            break;
        case r_ushort16:
        case r_uint32:
            fprintf(f, "%u", (unsigned int)w);
            break;
        case r_int:
            fprintf(f, "%d", (int)(uint32_t)w);
            break;
        case r_float:
            fprintf(f, "%.6f", (double)_v->f_value((int)i));
            break;
        case r_char_p:
        case r_string:
            fprintf(f, "%s", w ? reinterpret_cast<const char*>(w) : "(null)");
            break;
        default:
            fprintf(f, "0x%08" PRIxPTR, w);
            break;
        }
        intptr_t again = r_type_width(_v->type) == sizeof(uint32_t) ? (intptr_t)(int32_t)(uint32_t)w : (intptr_t)w;
        fprintf(f, " (size=%d, %" PRIdPTR ", 0x%08" PRIxPTR ")\n", size, again, w);
    }
    if (_v->type == r_struct_p)
        print_r_struct(_v->rsp_value(0), f);
}

}  // namespace vantrel
