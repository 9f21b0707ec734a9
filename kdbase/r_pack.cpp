// Packing of structures into byte buffers (network order) and files: values
// only, in the order of the structure's variables; the structure is the layout.
#include <cinttypes>
#include <cstring>

#include "kdbase/cfile.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/r_struct.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

// Longest text a packed structure carries; one more byte holds its zero.
constexpr int max_text = 2048;

// Outcomes of measuring a region in an input buffer besides its length.
constexpr int region_incomplete = -1;  // reaches beyond the bytes left
constexpr int region_failed = -2;      // null structure or text, undefined variable (logged)

r_var* var_of(d_node* n)
{
    return static_cast<r_var*>(n->object);
}

bool is_text(r_type t)
{
    return t == r_char_p || t == r_string;
}

const char* text_of(r_var* v, unsigned int i)
{
    return reinterpret_cast<const char*>(v->word((int)i));
}

r_struct* struct_of(r_var* v, unsigned int i)
{
    return reinterpret_cast<r_struct*>(v->word((int)i));
}

// Bytes per element of the fixed-width types; 0 for texts, structures and undefined.
int fixed_width(r_type t)
{
    switch (t) {
    case r_char:
    case r_uchar8:
        return 1;
    case r_ushort16:
        return 2;
    case r_undefined:
    case r_char_p:
    case r_string:
    case r_struct_p:
        return 0;
    default:
        return 4;  // r_int, r_uint32, r_float and the reserved pointer slots
    }
}

// Cuts the variable's texts to max_text characters, in their own storage.
void cut_texts(r_var* v)
{
    if (!is_text(v->type))
        return;
    for (unsigned int i = 0; i < v->count; ++i) {
        char* s = const_cast<char*>(text_of(v, i));
        if (s && strnlen(s, max_text + 1) > (size_t)max_text)
            s[max_text] = 0;
    }
}

// Length of the text at buf within left bytes: its characters up to the zero
// byte, max_text for a longer text (cut there), or -1 when the zero byte is
// missing within the bytes left.
int text_length(const char* buf, int left)
{
    int limit = left < max_text + 1 ? left : max_text + 1;
    const void* zero = memchr(buf, 0, (size_t)(limit > 0 ? limit : 0));
    if (zero)
        return (int)(static_cast<const char*>(zero) - buf);
    return left >= max_text + 1 ? max_text : -1;
}

int measure_struct(r_struct* s, const char* buf, int left);

// The length of v's region at buf from the buffer's own contents, without
// storing anything.
int measure_var(r_var* v, const char* buf, int left)
{
    if (v->type == r_undefined) {
        v->size();  // logs the undefined variable
        return region_failed;
    }
    if (int width = fixed_width(v->type)) {
        long long need = (long long)v->count * width;
        return need > left ? region_incomplete : (int)need;
    }
    int at = 0;
    for (unsigned int i = 0; i < v->count; ++i) {
        if (v->type == r_struct_p) {
            r_struct* s = struct_of(v, i);
            if (!s) {
                ELOG(EL_MINOR, "unpack(): %s has a NULL r_struct", v->name);
                return region_failed;
            }
            int r = measure_struct(s, buf + at, left - at);
            if (r < 0)
                return r;
            at += r;
        } else {
            if (v->type == r_char_p && !text_of(v, i)) {
                ELOG(EL_MINOR, "unpack(): %s has a NULL string", v->name);
                return region_failed;
            }
            int len = text_length(buf + at, left - at);
            if (len < 0)
                return region_incomplete;
            at += len + 1;
        }
    }
    return at;
}

int measure_struct(r_struct* s, const char* buf, int left)
{
    int at = 0;
    for (d_node* n = s->list.first; n; n = n->next) {
        int r = measure_var(var_of(n), buf + at, left - at);
        if (r < 0)
            return r;
        at += r;
    }
    return at;
}

// Stores v's elements from its complete region at buf (region bytes long).
// False when a typed write fails (logged by it).
bool store_var(r_var* v, char* buf, int region)
{
    const unsigned char* in = reinterpret_cast<const unsigned char*>(buf);
    int at = 0, width = fixed_width(v->type);
    for (unsigned int i = 0; i < v->count; ++i) {
        int ok = 0, idx = (int)i;
        switch (v->type) {
        case r_char:
            ok = v->set(idx, (char)in[at]);
            break;
        case r_uchar8:
            ok = v->set(idx, (unsigned char)in[at]);
            break;
        case r_ushort16:
            ok = v->set(idx, (unsigned short)get_be16(in + at));
            break;
        case r_int:
            ok = v->set(idx, (int)get_be32(in + at));
            break;
        case r_uint32:
            ok = v->set(idx, (unsigned int)get_be32(in + at));
            break;
        case r_float: {
            uint32_t bits = get_be32(in + at);
            float f;
            memcpy(&f, &bits, sizeof f);
            ok = v->set(idx, f);
            break;
        }
        case r_char_p:
        case r_string: {
            int len = text_length(buf + at, region - at);
            if (buf[at + len] != 0)
                buf[at + len] = 0;  // cuts a longer text in the input
            if (v->type == r_string)
                ok = v->set(idx, (const char*)(buf + at));
            else if (v->keeps_text(idx))  // a copy of its own length: replaced
                ok = v->keep(idx, (const char*)(buf + at));
            else
                memcpy(const_cast<char*>(text_of(v, i)), buf + at, (size_t)len + 1);
            at += len + 1;
            break;
        }
        case r_struct_p: {
            r_struct* s = struct_of(v, i);
            int want = measure_struct(s, buf + at, region - at);
            if (s->unpack(buf + at, region - at) != want)
                return false;
            at += want;
            break;
        }
        default:
            break;  // reserved pointer slot
        }
        if (ok != 0)
            return false;
        at += width;
    }
    return true;
}

// Where packing writes: a byte buffer in network order, or a file.
class buffer_sink {
public:
    buffer_sink(char* buffer, int capacity)
        : base(buffer), out(reinterpret_cast<unsigned char*>(buffer)), cap(capacity), left(capacity), at(0)
    {
    }

    // Claims the next variable's region; false (logged) when it does not fit.
    bool claim(int size)
    {
        left -= size;
        if (left >= 0)
            return true;
        ELOG(EL_MINOR, "pack(): _tobuf (size=%d 0x%08" PRIxPTR ") is too small", left, (uintptr_t)base);
        return false;
    }
    void byte(uint32_t w) { out[at++] = (unsigned char)w; }
    void word16(uint32_t w)
    {
        put_be16(out + at, (uint16_t)w);
        at += 2;
    }
    void word32(uint32_t w)
    {
        put_be32(out + at, w);
        at += 4;
    }
    void float32(uint32_t w) { word32(w); }
    void text(const char* s, int len)
    {
        memcpy(out + at, s, (size_t)len);
        at += len;
    }
    void reserved() { at += 4; }  // left as it is
    // A nested structure gets the room from its start to the buffer's end.
    int nested(r_struct* s)
    {
        int got = s->pack(base + at, cap - at);
        at += got;
        return got;
    }

private:
    char* base;
    unsigned char* out;
    int cap, left, at;
};

class file_sink {
public:
    explicit file_sink(CFileE* file) : f(file) {}

    bool claim(int) { return true; }
    void byte(uint32_t w) { f->WriteChar((char)w); }
    void word16(uint32_t w) { f->WriteShort((int16_t)w); }
    void word32(uint32_t w) { f->WriteInt((int32_t)w); }
    void float32(uint32_t w)
    {
        float x;
        memcpy(&x, &w, sizeof x);
        f->WriteFloat(x);
    }
    void text(const char* s, int len) { f->Write(s, len); }
    void reserved() {}  // pointers have no file form
    int nested(r_struct* s) { return s->pack(f); }

private:
    CFileE* f;
};

// The packing walk shared by both forms: the bytes of the variables done.
template <class Sink> int pack_walk(r_struct* rs, Sink& sink)
{
    int total = 0;
    for (d_node* n = rs->list.first; n; n = n->next) {
        r_var* v = var_of(n);
        cut_texts(v);
        int size = v->size();
        if (size < 0 || !sink.claim(size))
            return total;  // undefined (logged by size()) or too small
        for (unsigned int i = 0; i < v->count; ++i) {
            uint32_t w = (uint32_t)v->word((int)i);
            switch (v->type) {
            case r_char:
            case r_uchar8:
                sink.byte(w);
                break;
            case r_ushort16:
                sink.word16(w);
                break;
            case r_int:
            case r_uint32:
                sink.word32(w);
                break;
            case r_float:
                sink.float32(w);
                break;
            case r_char_p:
            case r_string: {
                const char* s = text_of(v, i);
                if (!s) {
                    ELOG(EL_MINOR, "pack(): %s has a NULL string", v->name);
                    return total;
                }
                sink.text(s, (int)strlen(s) + 1);
                break;
            }
            case r_struct_p: {
                r_struct* s = struct_of(v, i);
                if (!s) {
                    ELOG(EL_MINOR, "pack(): %s has a NULL r_struct", v->name);
                    return total;
                }
                int want = s->size();
                int got = sink.nested(s);
                if (got != want)
                    return total + got;
                break;
            }
            default:
                sink.reserved();
                break;
            }
        }
        total += size;
    }
    return total;
}

}  // namespace
int r_struct::pack(char* buffer, int capacity)
{
    if (!buffer) {
        ELOG(EL_MINDEBUG, "pack(): supplied _tobuf is NULL");
        return 0;
    }
    buffer_sink sink(buffer, capacity);
    return pack_walk(this, sink);
}

int r_struct::unpack(char* buffer, int length)
{
    if (!buffer) {
        ELOG(EL_MINDEBUG, "unpack(): invalid parameters");
        return 0;
    }
    if (length < 0)
        length = 0;
    int total = 0;
    for (d_node* n = list.first; n; n = n->next) {
        r_var* v = var_of(n);
        int region = measure_var(v, buffer + total, length - total);
        if (region == region_failed)
            return total;
        if (region == region_incomplete) {
            total += v->size();
            ELOG(EL_MINOR, "unpack(): read %d bytes from buffer of size %d", total, length);
            return total;
        }
        if (!store_var(v, buffer + total, region))
            return total;
        total += region;
    }
    return total;
}

int r_struct::pack(CFileE* f)
{
    if (!f) {
        ELOG(EL_MINDEBUG, "pack(CFileE): invalid parameters");
        return 0;
    }
    file_sink sink(f);
    return pack_walk(this, sink);
}

int r_struct::unpack(CFileE* f)
{
    if (!f) {
        ELOG(EL_MINDEBUG, "unpack(CFileE): invalid parameters");
        return 0;
    }
    int total = 0;
    for (d_node* n = list.first; n; n = n->next) {
        r_var* v = var_of(n);
        if (v->type == r_undefined) {
            v->size();  // logs the undefined variable
            return total;
        }
        for (unsigned int i = 0; i < v->count; ++i) {
            int ok = 0, idx = (int)i;
            switch (v->type) {
            case r_char:
                ok = v->set(idx, f->ReadChar());
                break;
            case r_uchar8:
                ok = v->set(idx, (unsigned char)f->ReadChar());
                break;
            case r_ushort16:
                ok = v->set(idx, (unsigned short)f->ReadShort());
                break;
            case r_int:
                ok = v->set(idx, (int)f->ReadInt());
                break;
            case r_uint32:
                ok = v->set(idx, (unsigned int)f->ReadInt());
                break;
            case r_float:
                ok = v->set(idx, f->ReadFloat());
                break;
            case r_char_p:
            case r_string: {
                char text[max_text + 1];
                if (f->ReadString(text, max_text + 1) < 0)
                    return total;
                text[max_text] = 0;
                if (v->type == r_string) {
                    ok = v->set(idx, (const char*)text);
                } else if (v->keeps_text(idx)) {
                    ok = v->keep(idx, (const char*)text);
                } else if (char* dst = const_cast<char*>(text_of(v, i))) {
                    memcpy(dst, text, strlen(text) + 1);
                } else {
                    ELOG(EL_MINOR, "unpack(CFileE): %s has a NULL string", v->name);
                    return total;
                }
                break;
            }
            case r_struct_p: {
                r_struct* s = struct_of(v, i);
                if (!s) {
                    ELOG(EL_MINOR, "unpack(CFileE): %s has a NULL r_struct", v->name);
                    return total;
                }
                int got = s->unpack(f);
                if (got != s->size())
                    return total + got;
                break;
            }
            default:
                break;  // pointers have no file form
            }
            if (ok != 0)
                return total;
        }
        total += v->size();
    }
    return total;
}

}  // namespace vantrel
