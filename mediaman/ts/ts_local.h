// Private to the trueSpace reader: the bounded cursor every chunk reader
// decodes its data with, and the common records' readers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "kdbase/cfile.h"
#include "kdbase/d_list.h"
#include "kdbase/errorlog.h"
#include "mediaman/ts/ts_records.h"

namespace vantrel {

// Longest text a TS_STRING may hold.
enum { TS_STRING_MAX = 1024 };

// Little-endian fields out of one chunk's data. Reading past the data's end
// logs once (with the chunk's type and file position) and turns `ok` false;
// the value read is then 0. Readers check ok before they trust a value that
// sizes anything, and counts against left() before they allocate.
struct ts_cursor {
    const unsigned char* p;
    long remaining;
    bool ok;
    const char* type;  // for messages
    long file_pos;     // of the chunk's data

    ts_cursor(const unsigned char* data, long size, const char* _type, long pos)
        : p(data), remaining(size), ok(true), type(_type), file_pos(pos), size0(size) {}

    long left() const { return remaining; }
    long consumed() const { return size0 - remaining; }

    // True when n more bytes are there; otherwise the overrun is logged.
    bool need(long n)
    {
        if (ok && n >= 0 && n <= remaining)
            return true;
        if (ok)
            ELOG(EL_MINDEBUG, "%s chunk at %ld: data ends at byte %ld, inside a record", type, file_pos, size0);
        ok = false;
        return false;
    }
    bool bytes(void* out, long n)
    {
        if (!need(n)) {
            memset(out, 0, (size_t)(n > 0 ? n : 0));
            return false;
        }
        memcpy(out, p, (size_t)n);
        p += n;
        remaining -= n;
        return true;
    }
    bool skip(long n)
    {
        if (!need(n))
            return false;
        p += n;
        remaining -= n;
        return true;
    }
    uint8_t u8()
    {
        uint8_t v = 0;
        bytes(&v, 1);
        return v;
    }
    uint16_t u16()
    {
        unsigned char b[2];
        return bytes(b, 2) ? get_le16(b) : 0;
    }
    int32_t i32()
    {
        unsigned char b[4];
        return bytes(b, 4) ? (int32_t)get_le32(b) : 0;
    }
    float f32()
    {
        unsigned char b[4];
        if (!bytes(b, 4))
            return 0;
        uint32_t u = get_le32(b);
        float f;
        memcpy(&f, &u, 4);
        return f;
    }
    void floats(float* out, int n)
    {
        for (int i = 0; i < n; ++i)
            out[i] = f32();
    }

private:
    long size0;
};

// TS_STRING: u16 length (at most 1024), the bytes. 0 / -1.
int ts_read_string(ts_cursor& c, TS_STRING& s);
// TS_NAME: u16 dupecount, TS_STRING.
int ts_read_name(ts_cursor& c, TS_NAME& n);
// 12 floats, also laid out as the axes matrix.
void ts_read_laxes(ts_cursor& c, TS_LAXES& a);
// 12 floats, then 0, 0, 0, 1.
void ts_read_position(ts_cursor& c, TS_POSITION& p);

// Appends r to t, giving the index; deletes r and gives -1 when t cannot grow.
template <class T>
int keep(ts_table<T>& t, T* r)
{
    long i = t.add(r);
    if (i < 0)
        delete r;
    return (int)i;
}

// Record dumps, each line behind pre.
void ts_print_material(FILE* out, const char* pre, const TS_MATERIAL& m);
void ts_print_shaders(FILE* out, const char* pre, const TS_SHADERS& s);
void ts_print_channel(FILE* out, const char* pre, const TS_CHANNEL& ch);
void ts_print_joint(FILE* out, const char* pre, const TS_JOINT& j);

// Takes o out of l without deleting it, whether or not l owns its elements.
void ts_unlink(d_list* l, unknown* o);

// Deletes every object of the list (which must not own them) and empties it.
void ts_delete_objects(d_list& l);

}  // namespace vantrel
