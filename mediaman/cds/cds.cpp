#include "mediaman/cds/cds.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/platform.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

static const char grou_type[] = "GROU";
static const char file_type[] = "FILE";
static const char cdsi_type[] = "CDSI";

// Names are compared over the length of a chunk id; unnamed objects match nothing.
static bool same_name(const char* a, const char* b)
{
    return a && b && strncmp(a, b, CDS_ID_MAX) == 0;
}

static bool is_group_header(const chunk_header& h)
{
    return memcmp(h.type, grou_type, 4) == 0;
}

// ---- groups and entries --------------------------------------------------------

cds_group_t::cds_group_t() : start(0), size(0) {}

chunk_entry_t::chunk_entry_t() : pos(0), size(0) {}

cds_group_t* create_cds_group(const char* _name)
{
    CHECK_PTR(_name, nullptr);
    cds_group_t* g = KD_NEW cds_group_t;
    if (!g)
        return nullptr;
    char name[CDS_ID_MAX];
    strncpy(name, _name, sizeof name - 1);
    name[sizeof name - 1] = 0;
    g->set_name(name);
    return g;
}

void dump_cds_group_t(FILE* out, cds_group_t* g, const char* tabs)
{
    if (!out)
        return;
    if (!g) {
        fprintf(out, "invalid cds_group_t\n");
        return;
    }
    g->dump(out, tabs);
    fprintf(out, "%sstart: %ld\n", tabs ? tabs : "", g->start);
    fprintf(out, "%ssize: %ld\n", tabs ? tabs : "", g->size);
}

void dump_cds_group_t_l(FILE* out, d_list* l, const char* tabs)
{
    if (!out || !l)
        return;
    for (d_node* n = l->first; n; n = n->next)
        dump_cds_group_t(out, dynamic_cast<cds_group_t*>(n->object), tabs);
}

// ---- GROU --------------------------------------------------------------------

chunk_grou::chunk_grou() : chunk_io(grou_type) {}

chunk_io* create_grou()
{
    return KD_NEW chunk_grou;
}

// True when g is c or one of c's ancestors. The walk is bounded so that a
// parent loop made by hand cannot hang it.
static bool encloses(group_t* g, cds_group_t* c, int bound)
{
    for (group_t* p = c; p && bound-- >= 0; p = p->parent)
        if (p == g)
            return true;
    return false;
}

int chunk_grou::read(cds& c, chunk_header& h)
{
    cds_group_t* g = c.add_group(h.id);
    if (!g) {
        ELOG(EL_MINDEBUG, "%s: unable to create group", h.id);
        return -1;
    }
    // One registered group per name: a group nested in a group of its own
    // name would become its own ancestor.
    if (encloses(g, c.curr_group, objects.count)) {
        ELOG(EL_MINDEBUG, "%s: unable to create group inside a group of the same name", h.id);
        return -1;
    }
    g->size = h.size;
    g->start = c.GetPos();
    g->parent = c.curr_group;
    c.curr_group = g;
    return 0;
}

int chunk_grou::write(cds& c, groupable_t* g)
{
    CHECK_PTR(g, -1);
    cds_group_t* cg = dynamic_cast<cds_group_t*>(g);
    return c.write_header(grou_type, cg ? (int)cg->size : 0, g->name) < 0 ? -1 : 0;
}

// ---- FILE --------------------------------------------------------------------

chunk_file::chunk_file() : chunk_io(file_type) {}

chunk_io* create_file()
{
    return KD_NEW chunk_file;
}

// Longest entry name, its NUL included.
enum { ENTRY_NAME_MAX = 260 };

int chunk_file::read(cds& c, chunk_header& h)
{
    char path[ENTRY_NAME_MAX] = "";
    chunk_entry_t* e = nullptr;
    if (cds::get_group_path(c.curr_group, path, sizeof path) &&
        strlen(path) + strlen(h.id) < sizeof path)
        e = KD_NEW chunk_entry_t;
    if (!e) {
        ELOG(EL_MINDEBUG, "unable to add entry for %s", h.id);
        return -1;
    }
    strcat(path, h.id);
    e->set_name(path);
    e->pos = c.GetPos();
    e->size = h.size;
    c.set_group(e);
    if (objects.insert(e) < 0) {
        delete e;
        ELOG(EL_MINDEBUG, "unable to add entry for %s", h.id);
        return -1;
    }
    c.skip(h.size);
    return 0;
}

int chunk_file::write(cds& c, groupable_t* o)
{
    chunk_entry_t* ce = dynamic_cast<chunk_entry_t*>(o);
    CHECK_PTR(ce, -1);
    CHECK_PTR(ce->name, -1);
    CFile src;
    if (!src.Open(ce->name, OM_RB))
        return -1;
    if (src.GetSize() > INT32_MAX) {
        ELOG(EL_MINDEBUG, "%s: too large to embed", ce->name);
        return -1;
    }
    long size_pos = c.write_header(file_type, 0, ce->name);
    long start = c.GetPos();
    if (!c.Append(src)) {
        ELOG(EL_MINOR, "error writing to %s at offset %ld", c.Name(), c.GetPos());
        return -1;
    }
    return c.write_size_at_pos(size_pos, start);
}

// ---- the container -----------------------------------------------------------

// The names of the groups being written, innermost first: a group whose name
// is already on the chain would be written inside itself forever.
struct name_chain {
    const char* name;
    name_chain* outer;
};

// A size field of a chunk written, to be filled in once everything is written.
struct size_patch {
    long pos;
    int32_t size;
};

cds::cds()
    : chunk_io(cdsi_type), curr_group(nullptr), patches(nullptr), patch_count(0), patch_room(0),
      defer_patches(false), stream_buffer(nullptr)
{
    types[0] = &chunk_grou;
    types[1] = this;
    types[2] = &chunk_file;
    types[3] = nullptr;
}

cds::~cds()
{
    delete_chunk_io_types(types);
    delete[] patches;
    Close();  // the stream goes before the buffer it uses
    delete[] stream_buffer;
}

// Chunks are small and many: a stream buffer of the default size (a page or
// so) costs a system call every few chunks. A larger one, made once and used
// by every stream the container opens; without it the stream keeps its own.
void cds::_buffer_stream()
{
    if (!stream_buffer)
        stream_buffer = KD_NEW char[CDS_STREAM_BUFFER];
    if (stream_buffer && fp)
        setvbuf(fp, stream_buffer, _IOFBF, CDS_STREAM_BUFFER);
}

int cds::init()
{
    return create_chunk_io_types(types);
}

int cds::read(cds&, chunk_header&)
{
    return 0;
}

int cds::write(cds& c, groupable_t*)
{
    return c.write_header(cdsi_type, 0, "") < 0 ? -1 : 0;
}

void cds::_reset()
{
    curr_group = nullptr;
    // The objects of an earlier read may live on elsewhere: forget them
    // without deleting them. What is read next is owned only after
    // delete_type_objects().
    for (int i = 0; types[i]; ++i) {
        types[i]->objects.delete_elements = 0;
        types[i]->objects.delete_nodes();
    }
}

int cds::open(const char* _filename)
{
    CHECK_PTR(_filename, -1);
    // Media often sit where they may not be changed: such a file is opened
    // for reading only (writing it back then fails), rather than refused.
    OPERATION_MODE m = OM_RBPLUS;
    if (FILE* probe = fopen(_filename, "rb+"))
        fclose(probe);
    else if (FILE* readable = fopen(_filename, "rb")) {
        fclose(readable);
        m = OM_RB;
    }
    if (!Open(_filename, m)) {
        ELOG(EL_MINOR, "unable to open %s", _filename);
        return -1;
    }
    _buffer_stream();
    _reset();
    return 0;
}

int cds::load(const char* _filename)
{
    if (open(_filename) < 0)
        return -1;
    return read_all();
}

int cds::create(const char* _filename)
{
    CHECK_PTR(_filename, -1);
    if (!Open(_filename, OM_WBPLUS)) {
        ELOG(EL_MINOR, "unable to create %s", _filename);
        return -1;
    }
    _buffer_stream();
    return write_all();
}

void cds::_read_error(long pos, const char* what)
{
    ELOG(EL_MINOR, "read error on %s at byte %ld", Name(), pos);
    ELOG(EL_MINOR, "%s", what);
}

int cds::_read_header(chunk_header& h, long limit)
{
    long payload = 0;
    return _read_header(h, limit, GetPos(), payload);
}

// The header is read straight from the stream (one block read, and one read
// of the id up to its end under a single lock of the stream) and its
// position worked out rather than asked for: this runs once per chunk.
int cds::_read_header(chunk_header& h, long limit, long pos, long& payload)
{
    // A container opened as a view of another file reads through the view.
    auto read_id = [this, &h]() -> int {
        if (!is_virtual)
            return platform_read_until(fp, h.id, CDS_ID_MAX, 0);
        int n = 0;
        for (unsigned char c; n < CDS_ID_MAX && CFile::Read(&c, 1) == 1;) {
            h.id[n++] = (char)c;
            if (c == 0)
                break;
        }
        return n;
    };
    unsigned char fixed[8];
    bool whole = false;
    int n = 0;
    if (fp && (is_virtual ? CFile::Read(fixed, (int)sizeof fixed) == (int)sizeof fixed
                          : fread(fixed, 1, sizeof fixed, fp) == sizeof fixed)) {
        memcpy(h.type, fixed, 4);
        h.size = (int32_t)get_le32(fixed + 4);
        n = read_id();
        whole = n == CDS_ID_MAX || (n > 0 && h.id[n - 1] == 0);
    }
    if (!whole) {
        if (!fp || Error()) {
            _read_error(pos, "cannot read chunk header");
            return -1;
        }
        // A short read is the end of the file.
        if (pos < limit)
            ELOG(EL_MINOR, "%s: the file ends inside the chunk header at byte %ld", Name(), pos);
        return 1;
    }
    if (h.id[n - 1] != 0) {
        h.id[CDS_ID_MAX] = 0;
        _read_error(pos, "chunk id without its end");
        return -1;
    }
    if (h.size < 0) {
        _read_error(pos, "negative chunk size");
        return -1;
    }
    payload = pos + (long)sizeof fixed + n;
    // A group cut short by the end of the file keeps the contents it has;
    // every other chunk must lie whole within the file and its group.
    if (h.size > limit - payload && is_group_header(h)) {
        ELOG(EL_MINOR, "%s: group %s at byte %ld runs past the end of the file, cut to %ld bytes", Name(), h.id,
             pos, limit - payload);
        h.size = limit - payload;
    }
    if (h.size > limit - payload) {
        ELOG(EL_MINOR, "%s: chunk %.4s %s at byte %ld runs past the end of the file, dropped", Name(), h.type,
             h.id, pos);
        return 2;
    }
    long end = curr_group ? curr_group->start + curr_group->size : limit;
    if (payload > end || h.size > end - payload) {
        ELOG(EL_MINOR, "%s: chunk %.4s %s at byte %ld runs past the end of its group %s, dropped", Name(), h.type,
             h.id, pos, curr_group->name ? curr_group->name : "");
        return 2;
    }
    return 0;
}

void cds::_close_groups()
{
    _close_groups(GetPos());
}

void cds::_close_groups(long pos)
{
    int bound = chunk_grou.objects.count;
    while (curr_group && curr_group->start + curr_group->size <= pos && bound-- >= 0)
        curr_group = dynamic_cast<cds_group_t*>(curr_group->parent);
}

// Runs the reader of the chunk whose payload starts at pos and leaves the
// file at the payload's end: the new position, or -1.
long cds::_read_payload(chunk_io* io, chunk_header& h, long pos)
{
    long end = pos + h.size;
    if (io->read(*this, h) < 0)
        return -1;
    long now = GetPos();
    if (now > end) {
        _read_error(pos, "chunk reader read past the chunk's end");
        return -1;
    }
    skip(end - now);
    return end;
}

bool cds::skip(long n)
{
    if (n > CDS_SKIP_BY_READING)
        return Forward(n);
    char dropped[CDS_SKIP_BY_READING];
    return n <= 0 || CFile::Read(dropped, (int)n) == (int)n;
}

int cds::read_all()
{
    if (!IsOpen()) {
        ELOG(EL_MINDEBUG, "read_all(): trying to read an unopened file");
        return -1;
    }
    long limit = GetSize();
    curr_group = nullptr;
    SetPos(0);
    long pos = 0;
    // Chunks of one type mostly come in runs: the last reader found is tried
    // before the table.
    chunk_io* last = nullptr;
    try {
        while (pos < limit) {
            chunk_header h;
            long payload = 0;
            int r = _read_header(h, limit, pos, payload);
            if (r != 0)
                return r < 0 ? -1 : 0;  // a chunk the file does not hold ends it
            chunk_io* io = last && memcmp(last->type, h.type, 4) == 0 ? last : get_chunk_io(types, h.type);
            last = io ? io : last;
            if (io == &chunk_grou) {
                if (chunk_grou.read(*this, h) < 0)
                    return -1;
                pos = payload;
            } else if (io) {
                if ((pos = _read_payload(io, h, payload)) < 0)
                    return -1;
            } else {
                skip(h.size);
                pos = payload + h.size;
            }
            _close_groups(pos);
        }
    } catch (int) {
        // Every payload lies within the file: only a reader that reads past
        // its chunk, or a failing stream, gets here.
        _read_error(pos, Error() ? "cannot read chunk" : "chunk reader read past the end of the file");
        return -1;
    }
    return 0;
}

// Scans headers from the current position while it is not beyond end (the
// last byte of the range). Group headers are registered on the way (an empty
// one closes right behind its header); the payloads of other chunks are
// skipped. Stops behind the first header named id, or (for a null id) the
// n-th header. 0 found, 1 not found, -1 on a read error or when the chunk
// found is cut short (logged).
int cds::_scan(chunk_header& h, long end, const char* id, long n, long limit)
{
    for (long count = 0;; ++count) {
        _close_groups();
        long pos = GetPos();
        if (pos > end || pos >= limit)
            return 1;
        int r = _read_header(h, limit);
        bool found = (r == 0 || r == 2) && (id ? same_name(h.id, id) : count == n);
        if (r == 2)
            return found ? -1 : 1;
        if (r != 0)
            return r;
        bool group = is_group_header(h);
        if (group && chunk_grou.read(*this, h) < 0)
            return -1;
        if (found)
            return 0;
        if (!group)
            skip(h.size);
    }
}

// Follows a path of ids from the file's start; each component is searched
// within the group the previous one named. Leaves curr_group at the last
// group passed. A path that does not start with "/" locates nothing.
int cds::_locate(const char* path, long limit)
{
    if (path[0] != '/')
        return 0;
    curr_group = nullptr;
    SetPos(0);
    long end = limit - 1;
    bool in_group = true;
    for (const char* p = path; *p;) {
        while (*p == '/')
            ++p;
        size_t len = strcspn(p, "/");
        if (len == 0)
            break;
        if (!in_group || len >= CDS_ID_MAX)
            return -1;
        char component[CDS_ID_MAX];
        memcpy(component, p, len);
        component[len] = 0;
        p += len;
        chunk_header h;
        if (_scan(h, end, component, -1, limit) != 0)
            return -1;
        in_group = is_group_header(h);
        if (in_group)
            end = curr_group->start + curr_group->size - 1;
    }
    return 0;
}

int cds::_read_chunk(const char* id, long n, cds_location where, const char* path, int flags)
{
    if (!IsOpen()) {
        ELOG(EL_MINDEBUG, "read_chunk(): trying to read an unopened file");
        return -1;
    }
    long limit = GetSize();
    try {
        long start = 0;
        long end = limit - 1;
        if (where == CDS_IN_GROUP) {
            if (path && _locate(path, limit) < 0) {
                ELOG(EL_MINDEBUG, "%s not found", path);
                return -1;
            }
            if (curr_group) {
                start = curr_group->start;
                if (flags & CDS_GROUP_ONLY)
                    end = curr_group->start + curr_group->size - 1;
            }
        } else {
            curr_group = nullptr;
        }
        SetPos(start);
        chunk_header h;
        int r = _scan(h, end, id, n, limit);
        if (r > 0) {
            if (id)
                ELOG(EL_MINDEBUG, "%s: not found", id);
            else
                ELOG(EL_MINDEBUG, "chunk %ld not found", n);
        }
        if (r != 0)
            return -1;
        if (is_group_header(h))
            return 0;
        chunk_io* io = get_chunk_io(types, h.type);
        if (!io)
            return -1;
        return _read_payload(io, h, GetPos()) < 0 ? -1 : 0;
    } catch (int) {
        _read_error(GetPos(), Error() ? "cannot read chunk" : "chunk reader read past the end of the file");
        return -1;
    }
}

int cds::read_chunk(const char* _idstr, cds_location where, const char* _path, int _flags)
{
    CHECK_PTR(_idstr, -1);
    return _read_chunk(_idstr, -1, where, _path, _flags);
}

int cds::read_chunk(unsigned int n, cds_location where, const char* _path, int _flags)
{
    if (n > INT_MAX) {
        ELOG(EL_MINDEBUG, "chunk %d not found", (int)n);
        return -1;
    }
    return _read_chunk(nullptr, (long)n, where, _path, _flags);
}

long cds::write_header(const char* _type, int size, const char* id)
{
    CHECK_PTR(_type, -1);
    char type4[4] = {0, 0, 0, 0};
    memcpy(type4, _type, strnlen(_type, 4));
    char idbuf[CDS_ID_MAX];
    strncpy(idbuf, id ? id : "", sizeof idbuf - 1);
    idbuf[sizeof idbuf - 1] = 0;
    Write(type4, 4);
    long size_pos = GetPos();
    WriteInt(size);
    Write(idbuf, (int)strlen(idbuf) + 1);
    return size_pos;
}

int cds::write_size_at_pos(long pos, long start)
{
    long now = GetPos();
    long size = now - start;
    if (size < 0 || size > INT32_MAX) {
        ELOG(EL_MINDEBUG, "write_size_at_pos(): chunk of %ld bytes does not fit its size field", size);
        return -1;
    }
    if (_defer_patch(pos, (int32_t)size))
        return 0;
    SetPos(pos);
    WriteInt((int)size);
    SetPos(now);
    return 0;
}

// Seeking back to a size field flushes the stream's buffer, which for small
// chunks costs a write per chunk: write_all collects the fields instead.
// False when they are not collected (then the caller writes at once).
bool cds::_defer_patch(long pos, int32_t size)
{
    if (!defer_patches)
        return false;
    if (patch_count == patch_room) {
        int room = patch_room ? 2 * patch_room : 256;
        size_patch* more = room > patch_room ? KD_NEW size_patch[room] : nullptr;
        if (!more)
            return false;
        if (patch_count)
            memcpy(more, patches, patch_count * sizeof *patches);
        delete[] patches;
        patches = more;
        patch_room = room;
    }
    patches[patch_count++] = {pos, size};
    return true;
}

// Fills in the collected size fields in file order, rewriting each stretch of
// the file that holds some, and ends at end. A short read or write throws.
void cds::_apply_patches(long end)
{
    std::sort(patches, patches + patch_count,
              [](const size_patch& a, const size_patch& b) { return a.pos < b.pos; });
    bool swap = byteorder != sys_info().byteorder;
    // Stretches as long as the stream's buffer, which each read fills whole
    // (a small stack block when that memory cannot be had).
    char small[4096];
    char* big = KD_NEW char[CDS_STREAM_BUFFER];
    char* block = big ? big : small;
    long room = big ? (long)CDS_STREAM_BUFFER : (long)sizeof small;
    std::unique_ptr<char[]> owned(big);
    for (int i = 0; i < patch_count;) {
        long from = patches[i].pos;
        int n = (int)std::min(room, end - from);
        SetPos(from);
        Read(block, n);
        for (; i < patch_count && patches[i].pos + 4 <= from + n; ++i) {
            int32_t v = swap ? inverse_order(patches[i].size) : patches[i].size;
            memcpy(block + (patches[i].pos - from), &v, 4);
        }
        SetPos(from);
        Write(block, n);
    }
    SetPos(end);
}

void cds::_drop_patches()
{
    delete[] patches;
    patches = nullptr;
    patch_count = patch_room = 0;
    defer_patches = false;
}

// Writes the objects of every type from FILE on whose parent is named like g
// (g null: the objects without a parent).
// The objects of the types that belong to a group, ordered by their group's
// name and, within one name, as the types and their lists hold them: what
// the plain search gives for each group, without a pass over every object.
struct member_index {
    struct entry {
        groupable_t* o;
        int type;
    };
    entry* e = nullptr;
    int n = 0;
    ~member_index() { delete[] e; }

    // False when the memory for it is missing (the plain search is used).
    bool build(chunk_io** types)
    {
        int count = 0;
        for (int i = 2; types[i]; ++i)
            count += types[i]->objects.count;
        e = KD_NEW entry[(size_t)count + 1];
        if (!e)
            return false;
        for (int i = 2; types[i]; ++i)
            for (d_node* nd = types[i]->objects.first; nd; nd = nd->next) {
                groupable_t* o = dynamic_cast<groupable_t*>(nd->object);
                if (o && o->parent && o->parent->name)
                    e[n++] = {o, i};
            }
        std::stable_sort(e, e + n, [](const entry& a, const entry& b) {
            return strncmp(a.o->parent->name, b.o->parent->name, CDS_ID_MAX) < 0;
        });
        return true;
    }
};

int cds::_write_members(groupable_t* g, const member_index& index)
{
    if (!g->name)
        return 0;
    const member_index::entry* e = std::lower_bound(
        index.e, index.e + index.n, g->name, [](const member_index::entry& a, const char* name) {
            return strncmp(a.o->parent->name, name, CDS_ID_MAX) < 0;
        });
    for (; e < index.e + index.n && same_name(e->o->parent->name, g->name); ++e)
        if (types[e->type]->write(*this, e->o) < 0)
            return -1;
    return 0;
}

int cds::_write_members(groupable_t* g)
{
    for (int i = 2; types[i]; ++i) {
        for (d_node* n = types[i]->objects.first; n; n = n->next) {
            groupable_t* o = dynamic_cast<groupable_t*>(n->object);
            if (!o)
                continue;
            bool member = g ? o->parent && same_name(o->parent->name, g->name) : !o->parent;
            if (member && types[i]->write(*this, o) < 0)
                return -1;
        }
    }
    return 0;
}

// index: the members by group (null: the plain search finds them).
long cds::_write_group(groupable_t* g, name_chain* chain, const member_index* index)
{
    for (name_chain* c = chain; c; c = c->outer) {
        if (same_name(c->name, g->name)) {
            ELOG(EL_MINDEBUG, "write_all(): group %s is nested inside itself", g->name);
            return -1;
        }
    }
    name_chain link = {g->name, chain};
    cds_group_t* cg = dynamic_cast<cds_group_t*>(g);
    cds_group_t* outer = curr_group;
    curr_group = cg;
    if (cg)
        cg->size = 0;
    long header = GetPos();
    long size_pos = write_header(grou_type, 0, g->name);
    long start = GetPos();
    if (cg)
        cg->start = start;
    for (d_node* n = chunk_grou.objects.first; n; n = n->next) {
        groupable_t* sub = dynamic_cast<groupable_t*>(n->object);
        if (sub && sub->parent && same_name(sub->parent->name, g->name) && _write_group(sub, &link, index) < 0)
            return -1;
    }
    if ((index ? _write_members(g, *index) : _write_members(g)) < 0 || write_size_at_pos(size_pos, start) < 0)
        return -1;
    if (cg)
        cg->size = GetPos() - start;
    curr_group = outer;
    return GetPos() - header;
}

int cds::write_all()
{
    if (!IsOpen()) {
        ELOG(EL_MINDEBUG, "write_all(): trying to write an unopened file");
        return -1;
    }
    int r = 0;
    // Collected size fields are read back and rewritten: only a file open for
    // update can do that.
    defer_patches = mode == OM_WBPLUS || mode == OM_RBPLUS;
    try {
        SetPos(0);
        curr_group = nullptr;
        if (objects.count > 0) {
            if (objects.count > 1)
                ELOG(EL_MINDEBUG, "found more then one cds info object, using first one");
            if (write(*this, dynamic_cast<groupable_t*>(objects.first->object)) < 0)
                r = -1;
        }
        member_index index;
        bool indexed = index.build(types);
        for (d_node* n = chunk_grou.objects.first; n && r == 0; n = n->next) {
            groupable_t* g = dynamic_cast<groupable_t*>(n->object);
            if (g && !g->parent && _write_group(g, nullptr, indexed ? &index : nullptr) < 0)
                r = -1;
        }
        if (r == 0)
            r = _write_members(nullptr);
        long end = GetPos();
        if (r == 0)
            _apply_patches(end);
        // Rewriting a file that held more leaves no stale tail behind.
        if (r == 0 && GetSize() > end && platform_truncate_file(fp, end) < 0)
            throw -1;
        if (fp)
            fflush(fp);
    } catch (int) {
        ELOG(EL_MINOR, "error writing to %s at offset %ld", Name(), GetPos());
        r = -1;
    }
    _drop_patches();
    curr_group = nullptr;
    return r;
}

cds_group_t* cds::add_group(const char* _name)
{
    CHECK_PTR(_name, nullptr);
    for (d_node* n = chunk_grou.objects.first; n; n = n->next) {
        cds_group_t* g = dynamic_cast<cds_group_t*>(n->object);
        if (g && same_name(g->name, _name))
            return g;
    }
    cds_group_t* g = create_cds_group(_name);
    if (!g)
        return nullptr;
    if (chunk_grou.objects.insert(g) < 0) {
        delete g;
        ELOG(EL_MINDEBUG, "unable to add group %s", _name);
        return nullptr;
    }
    return g;
}

void cds::set_group(groupable_t* _child)
{
    CHECK_PTR_V(_child);
    _child->parent = curr_group;
}

char* cds::get_group_path(group_t* _g, char* _path, int _max)
{
    CHECK_PTR(_path, nullptr);
    if (_max <= 0)
        return nullptr;
    if (!_g) {
        if (_max < 2)
            return nullptr;
        strcpy(_path, "/");
        return _path;
    }
    // Measure first so that nothing changes when the result does not fit; a
    // parent loop ends there too, since every level adds at least one byte.
    size_t tail = strlen(_path);
    size_t total = 1 + tail;
    for (group_t* g = _g; g; g = g->parent) {
        total += (g->name ? strlen(g->name) : 0) + 1;
        if (total >= (size_t)_max)
            return nullptr;
    }
    if (total >= (size_t)_max)
        return nullptr;
    size_t at = total - tail;
    memmove(_path + at, _path, tail + 1);
    for (group_t* g = _g; g; g = g->parent) {
        size_t n = g->name ? strlen(g->name) : 0;
        _path[--at] = '/';
        at -= n;
        if (n)
            memcpy(_path + at, g->name, n);
    }
    _path[0] = '/';
    return _path;
}

chunk_entry_t* cds::_get_file_entry(const char* _fname)
{
    CHECK_PTR(_fname, nullptr);
    for (d_node* n = chunk_file.objects.first; n; n = n->next) {
        chunk_entry_t* e = dynamic_cast<chunk_entry_t*>(n->object);
        if (e && same_name(e->name, _fname))
            return e;
    }
    return nullptr;
}

int cds::open_file(CFile& f, const char* _fname)
{
    CHECK_PTR(_fname, -1);
    chunk_entry_t* e = _get_file_entry(_fname);
    if (!e) {
        ELOG(EL_MINOR, "unable to find %s", _fname);
        return -1;
    }
    return OpenVFile(&f, _fname, e->pos, e->size) ? 0 : -1;
}

void cds::delete_type_objects()
{
    for (int i = 0; types[i]; ++i)
        types[i]->objects.delete_elements = 1;
}

void cds::keep_type_objects()
{
    for (int i = 0; types[i]; ++i)
        types[i]->objects.delete_elements = 0;
}

void cds::list_files(FILE* out, const char* tabs)
{
    if (!out)
        return;
    const char* t = tabs ? tabs : "";
    fprintf(out, "%s%s: %d file(s)\n", t, Name(), chunk_file.objects.count);
    for (d_node* n = chunk_file.objects.first; n; n = n->next) {
        chunk_entry_t* e = dynamic_cast<chunk_entry_t*>(n->object);
        if (e)
            fprintf(out, "%s..%s (pos=%ld size=%ld)\n", t, e->name ? e->name : "", e->pos, e->size);
    }
}

}  // namespace vantrel
