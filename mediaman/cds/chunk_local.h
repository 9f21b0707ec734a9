// Helpers of the chunk readers that embed chunks or check counts against the
// payload: private to the chunk type sources.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/s_token.h"
#include "mediaman/cds/cds.h"

namespace vantrel {
namespace chunk_local {

// The smallest complete chunk: type, size and an empty id.
const int64_t min_chunk_bytes = 9;

// True when n more bytes lie within the payload that ends at end; logs otherwise.
inline bool fits(cds& c, long end, int64_t n, const char* id, const char* what)
{
    if (n >= 0 && n <= end - c.GetPos())
        return true;
    ELOG(EL_MINDEBUG, "%s: %s does not fit in the chunk (at byte %ld)", id, what, c.GetPos());
    return false;
}

// Names o with a copy of id; -1 when the copy cannot be made.
inline int name_from(s_token* o, const char* id)
{
    char* copy = alloc_str(id, -1);
    if (!copy)
        return -1;
    o->set_name(nullptr);
    o->name = copy;
    return 0;
}

// Reads the header of a chunk embedded in the payload that ends at end and
// checks that the embedded chunk lies wholly within it. 0 or -1 (logged).
inline int read_embedded_header(cds& c, chunk_header& h, long end, const char* outer)
{
    if (!fits(c, end, min_chunk_bytes, outer, "embedded chunk header"))
        return -1;
    c.Read(h.type, 4);
    h.size = c.ReadInt();
    int max = (int)std::min<long>(end - c.GetPos(), CDS_ID_MAX);
    int n = c.ReadString(h.id, max);
    if (n < 1 || h.id[n - 1] != 0) {
        h.id[max] = 0;
        ELOG(EL_MINDEBUG, "%s: embedded chunk id without its end", outer);
        return -1;
    }
    if (h.size < 0 || h.size > end - c.GetPos()) {
        ELOG(EL_MINDEBUG, "%s: embedded chunk %.4s %s runs past the end of its chunk", outer, h.type, h.id);
        return -1;
    }
    return 0;
}

// Reads an embedded chunk's payload with io, skipping what io left unread,
// and takes the object io appended out of its (non-owning) list: the caller
// owns it. Null when io fails.
inline unknown* read_embedded(cds& c, chunk_io& io, chunk_header& h)
{
    long end = c.GetPos() + h.size;
    if (io.read(c, h) < 0)
        return nullptr;
    if (c.GetPos() < end)
        c.SetPos(end);
    unknown* o = io.objects.last->object;
    io.objects.remove(io.objects.last);
    return o;
}

}  // namespace chunk_local
}  // namespace vantrel
