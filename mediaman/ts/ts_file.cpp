#include "mediaman/ts/ts_file.h"

#include <algorithm>
#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "kdbase/str_util.h"
#include "mediaman/ts/ts_local.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

int ts_loadallchunks = 0;

// Deeper chunk trees are refused: the conversions and dumps recurse along them.
enum { TS_MAX_DEPTH = 256 };

int ts_register_options(r_struct& opts)
{
    r_var* v = KD_NEW r_var("ts_loadallchunks", r_int);
    if (v) {
        v->set_storage(&ts_loadallchunks, sizeof ts_loadallchunks);
        if (opts.add(v) == 0)
            return 0;
        delete v;
    }
    ELOG(EL_MINDEBUG, "unable to add all truespace options");
    return -1;
}

// ---- axis conversion ---------------------------------------------------------

static const float axis_c[16] = {-1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1};

const float* ts_axis_conversion()
{
    return axis_c;
}

void convert_ts_to_mrv_m(const float* _ts_m, float* _mrv_m)
{
    CHECK_PTR_V(_mrv_m);
    CHECK_PTR_V(_ts_m);
    float t[16];
    transpose_mr(t, _ts_m);
    multmatrix_mr(_mrv_m, axis_c, t);
}

void convert_mrv_to_ts_m(const float* _mrv_m, float* _ts_m)
{
    CHECK_PTR_V(_mrv_m);
    CHECK_PTR_V(_ts_m);
    float t[16];
    multmatrix_mr(t, axis_c, _mrv_m);
    transpose_mr(_ts_m, t);
}

void convert_ts_v_to_mrv_v(const float* _ts_v, float* _mrv_v)
{
    CHECK_PTR_V(_ts_v);
    CHECK_PTR_V(_mrv_v);
    float x = _ts_v[0], y = _ts_v[1], z = _ts_v[2];
    _mrv_v[0] = -x;
    _mrv_v[1] = z;
    _mrv_v[2] = y;
}

// ---- common records ------------------------------------------------------------

int ts_read_string(ts_cursor& c, TS_STRING& s)
{
    uint16_t n = c.u16();
    if (!c.ok)
        return -1;
    if (n > TS_STRING_MAX) {
        ELOG(EL_MINDEBUG, "CTrueSpaceFile ::ReadString -> error while reading, or string is to big");
        return -1;
    }
    if (!c.need(n))
        return -1;
    char* t = KD_NEW char[n + 1];
    if (!t)
        return -1;
    c.bytes(t, n);
    t[n] = 0;
    delete[] s.text;
    s.text = t;
    s.length = n;
    return 0;
}

int ts_read_name(ts_cursor& c, TS_NAME& n)
{
    n.dupecount = c.u16();
    return c.ok ? ts_read_string(c, n.string) : -1;
}

void ts_read_laxes(ts_cursor& c, TS_LAXES& a)
{
    c.floats(a.raw, 12);
    makeIdentityMatrix(a.m);
    for (int axis = 0; axis < 3; ++axis)
        memcpy(a.m + 4 * axis, a.raw + 3 + 3 * axis, 3 * sizeof(float));
    memcpy(a.m + 12, a.raw, 3 * sizeof(float));
}

void ts_read_position(ts_cursor& c, TS_POSITION& p)
{
    c.floats(p.m, 12);
    p.m[12] = p.m[13] = p.m[14] = 0;
    p.m[15] = 1;
}

void ts_delete_objects(d_list& l)
{
    for (d_node* n = l.first; n; n = n->next)
        delete n->object;
    l.delete_nodes();
}

void ts_unlink(d_list* l, unknown* o)
{
    int owning = l->delete_elements;
    l->delete_elements = 0;
    l->remove(o);
    l->delete_elements = owning;
}

const uint16_t ts_joint_dof_bits[TS_JOINT_NLIMITS] = {1, 2, 4, 16, 32, 64};

// ---- the reader table -----------------------------------------------------------

struct ts_readers {
    struct entry {
        const char* type;
        uint16_t major, minor;
        ts_kind kind;
        int (CTrueSpaceFile::*read)(long, ts_cursor&);
    };
    static const entry table[];
    static const entry* find(const TS_HEADER& h)
    {
        for (const entry* e = table + 1; e->type; ++e)
            if (memcmp(e->type, h.type, 4) == 0 && e->major == h.major && e->minor == h.minor)
                return e;
        return nullptr;
    }
};

// Row 0 is the catch-all for chunks kept only because of ts_loadallchunks.
const ts_readers::entry ts_readers::table[] = {
    {"*", 0, 1, TS_KIND_RAW, &CTrueSpaceFile::ReadRawChunk},
    {"Grou", 0, 1, TS_KIND_GROUP, &CTrueSpaceFile::ReadGroup_00_01},
    {"PolH", 0, 6, TS_KIND_POLYGONAL, &CTrueSpaceFile::ReadPolygon_00_06},
    {"PolH", 0, 8, TS_KIND_POLYGONAL, &CTrueSpaceFile::ReadPolygon_00_06},
    {"Unit", 0, 1, TS_KIND_UNIT, &CTrueSpaceFile::ReadUnit_00_01},
    {"Mat1", 0, 6, TS_KIND_MATERIAL, &CTrueSpaceFile::ReadMaterial_00_06},
    {"ShBx", 0, 0, TS_KIND_SHADERS, &CTrueSpaceFile::ReadShaders_00_00},
    {"ShBx", 0, 3, TS_KIND_SHADERS, &CTrueSpaceFile::ReadShaders_00_00},
    {"Chan", 0, 8, TS_KIND_CHANNEL, &CTrueSpaceFile::ReadChannel_00_08},
    {"Chan", 0, 9, TS_KIND_CHANNEL, &CTrueSpaceFile::ReadChannel_00_08},
    {"Chan", 0, 11, TS_KIND_CHANNEL, &CTrueSpaceFile::ReadChannel_00_08},
    {"Bone", 0, 5, TS_KIND_BONE, &CTrueSpaceFile::ReadBone_00_05},
    {"Join", 0, 5, TS_KIND_JOINT, &CTrueSpaceFile::ReadJoint_00_05},
    {"Axes", 0, 1, TS_KIND_AXES, &CTrueSpaceFile::ReadAxes_00_01},
    {nullptr, 0, 0, TS_KIND_RAW, nullptr},
};

// ---- readers of groups, bones, units, axes and raw chunks -------------------------

static int read_group_record(long chunk, ts_cursor& c, ts_table<TS_GROUP>& t)
{
    TS_GROUP* g = KD_NEW TS_GROUP();
    if (!g)
        return -1;
    g->chunk = chunk;
    if (ts_read_name(c, g->name) < 0) {
        delete g;
        return -1;
    }
    ts_read_laxes(c, g->axes);
    ts_read_position(c, g->position);
    if (!c.ok) {
        delete g;
        return -1;
    }
    return keep(t, g);
}

int CTrueSpaceFile::ReadGroup_00_01(long chunk, ts_cursor& c)
{
    const TS_HEADER& h = chunks[chunk]->header;
    if (h.major != 0 || h.minor != 1)
        return -1;
    return read_group_record(chunk, c, groups);
}

int CTrueSpaceFile::ReadBone_00_05(long chunk, ts_cursor& c)
{
    return read_group_record(chunk, c, bones);
}

int CTrueSpaceFile::ReadUnit_00_01(long chunk, ts_cursor& c)
{
    const TS_HEADER& h = chunks[chunk]->header;
    if (h.major != 0 || h.minor != 1)
        return -1;
    TS_UNIT* u = KD_NEW TS_UNIT();
    if (!u)
        return -1;
    u->chunk = chunk;
    u->unit = c.u16();
    if (!c.ok) {
        delete u;
        return -1;
    }
    return keep(units, u);
}

int CTrueSpaceFile::ReadAxes_00_01(long chunk, ts_cursor& c)
{
    TS_AXES* a = KD_NEW TS_AXES();
    if (!a)
        return -1;
    a->chunk = chunk;
    ts_read_position(c, a->position);
    if (!c.ok) {
        delete a;
        return -1;
    }
    return keep(axes, a);
}

int CTrueSpaceFile::ReadRawChunk(long chunk, ts_cursor& c)
{
    TS_RAW_CHUNK* r = KD_NEW TS_RAW_CHUNK();
    if (!r)
        return -1;
    r->chunk = chunk;
    r->size = chunks[chunk]->header.size;
    if (r->size > 0) {
        r->data = KD_NEW unsigned char[r->size];
        if (!r->data || !c.bytes(r->data, r->size)) {
            delete r;
            return -1;
        }
    }
    return keep(raw_chunks, r);
}

// ---- life cycle ----------------------------------------------------------------

CTrueSpaceFile::CTrueSpaceFile() : skipped(0), valid(false), file_header{}, header_count(0), chunk_count(0) {}

CTrueSpaceFile::~CTrueSpaceFile()
{
    Close();
    CFile::Close();
}

void CTrueSpaceFile::Close()
{
    chunks.clear();
    roots.clear();
    polygonals.clear();
    groups.clear();
    units.clear();
    materials.clear();
    shaders.clear();
    textures.clear();
    raw_chunks.clear();
    channels.clear();
    bones.clear();
    joints.clear();
    axes.clear();
    memset(file_header, 0, sizeof file_header);
    header_count = 0;
    chunk_count = 0;
    skipped = 0;
}

int CTrueSpaceFile::open(const char* filename)
{
    CHECK_PTR(filename, -1);
    Close();
    // Opened for update as the container files are; a file that may not be
    // changed is still read (the reader never writes).
    OPERATION_MODE m = OM_RBPLUS;
    if (FILE* probe = fopen(filename, "rb+"))
        fclose(probe);
    else if (FILE* readable = fopen(filename, "rb")) {
        fclose(readable);
        m = OM_RB;
    }
    if (!Open(filename, m))
        return -1;
    return read_all() ? 0 : -1;
}

bool CTrueSpaceFile::header_ok()
{
    if (memcmp(file_header, "Caligari ", 9) != 0 || memcmp(file_header + 9, "V00.01", 6) != 0)
        return false;
    if (file_header[15] != 'B') {
        ELOG(EL_MINDEBUG, "CTrueSpaceFile ::IsValidHeader ( ) -> Cannot read file in ASCII format");
        return false;
    }
    if (file_header[16] != 'L' || file_header[17] != 'H') {
        ELOG(EL_MINDEBUG, "CTrueSpaceFile ::IsValidHeader ( ) -> file in big endian, DNE");
        return false;
    }
    return true;
}

static void parse_header(const unsigned char* b, TS_HEADER& h)
{
    memcpy(h.type, b, 4);
    h.type[4] = 0;
    h.major = get_le16(b + 4);
    h.minor = get_le16(b + 6);
    h.id = (int32_t)get_le32(b + 8);
    h.parent_id = (int32_t)get_le32(b + 12);
    h.size = (int32_t)get_le32(b + 16);
}

bool CTrueSpaceFile::scan_headers(long fsize)
{
    long pos = 32;
    while (pos < fsize) {
        unsigned char b[20];
        if (fsize - pos < 20 || !SetPos(pos) || Read(b, 20) != 20) {
            ELOG(EL_MINDEBUG, "%s: the file ends inside the chunk header at %ld", Name(), pos);
            return false;
        }
        TS_HEADER h;
        parse_header(b, h);
        ++header_count;
        long left = fsize - pos - 20;
        if (h.size < 0 || h.size > left) {
            ELOG(EL_MINDEBUG, "%s: chunk %s at %ld declares %d bytes, %ld are left", Name(), h.type, pos, h.size,
                 left);
            return false;
        }
        if (ts_readers::find(h) || ts_loadallchunks) {
            TS_FILE_CHUNK* fc = KD_NEW TS_FILE_CHUNK();
            if (!fc)
                return false;
            fc->header = h;
            fc->kind = TS_KIND_RAW;
            fc->data_index = -1;
            fc->file_pos = pos;
            if (keep(chunks, fc) < 0)
                return false;
        } else {
            ++skipped;
        }
        pos += 20 + h.size;
        if (memcmp(h.type, "END ", 4) == 0)
            break;
    }
    return true;
}

bool CTrueSpaceFile::read_chunks()
{
    for (long i = 0; i < chunks.count; ++i) {
        TS_FILE_CHUNK* fc = chunks[i];
        const ts_readers::entry* e = ts_readers::find(fc->header);
        if (!e)
            e = ts_readers::table;
        long size = fc->header.size;
        unsigned char* data = nullptr;
        if (size > 0) {
            data = KD_NEW unsigned char[size];
            if (!data)
                return false;
            if (!SetPos(fc->file_pos + 20) || Read(data, (int)size) != size) {
                ELOG(EL_MINOR, "ReadRawChunk(): error reading file");
                delete[] data;
                return false;
            }
        }
        ts_cursor c(data, size, fc->header.type, fc->file_pos + 20);
        int r = (this->*(e->read))(i, c);
#ifndef NDEBUG
        if (r >= 0 && c.left() != 0)
            ELOG(EL_MINDEBUG, "%s chunk at %ld: the reader used %ld of %ld bytes", fc->header.type, fc->file_pos,
                 c.consumed(), size);
#endif
        delete[] data;
        if (r < 0)
            return false;
        fc->kind = e->kind;
        fc->data_index = r;
    }
    return true;
}

// Links every chunk to the first other chunk (not "END ") whose id is its
// parent id. Cycles and trees deeper than TS_MAX_DEPTH are refused: every walk
// over the tree can then recurse safely.
bool CTrueSpaceFile::link_chunks()
{
    long n = chunks.count;
    if (n == 0)
        return true;
    struct by_id {
        int32_t id;
        long index;
    };
    by_id* ids = KD_NEW by_id[n];
    long* parent = KD_NEW long[n];
    int* depth = KD_NEW int[n];
    long* path = KD_NEW long[n];
    bool ok = ids && parent && depth && path;
    long nids = 0;
    for (long i = 0; ok && i < n; ++i)
        if (memcmp(chunks[i]->header.type, "END ", 4) != 0)
            ids[nids++] = {chunks[i]->header.id, i};
    if (ok)
        std::sort(ids, ids + nids, [](const by_id& a, const by_id& b) {
            return a.id != b.id ? a.id < b.id : a.index < b.index;
        });
    for (long i = 0; ok && i < n; ++i) {
        const TS_HEADER& h = chunks[i]->header;
        parent[i] = -1;
        depth[i] = -1;
        if (h.parent_id == h.id)
            continue;
        by_id key = {h.parent_id, -1};
        by_id* p = std::lower_bound(ids, ids + nids, key, [](const by_id& a, const by_id& b) {
            return a.id != b.id ? a.id < b.id : a.index < b.index;
        });
        if (p != ids + nids && p->id == h.parent_id)
            parent[i] = p->index;
    }
    // Depths by walking up to the first chunk of known depth; a walk that
    // comes back to a chunk of its own path is a cycle.
    for (long i = 0; ok && i < n; ++i) {
        long len = 0;
        long c = i;
        while (c >= 0 && depth[c] == -1) {
            depth[c] = -2;  // on the path
            path[len++] = c;
            c = parent[c];
        }
        if (c >= 0 && depth[c] == -2) {
            ELOG(EL_MINDEBUG, "%s: chunk %s at %ld is its own ancestor", Name(), chunks[c]->header.type,
                 chunks[c]->file_pos);
            ok = false;
            break;
        }
        int d = c >= 0 ? depth[c] + 1 : 0;
        for (long k = len - 1; k >= 0; --k)
            depth[path[k]] = d++;
        if (d - 1 > TS_MAX_DEPTH) {
            ELOG(EL_MINDEBUG, "%s: chunks nested deeper than %d levels", Name(), TS_MAX_DEPTH);
            ok = false;
        }
    }
    for (long i = 0; ok && i < n; ++i)
        ok = (parent[i] < 0 ? roots.add(i) : chunks[parent[i]]->children.add(i)) >= 0;
    delete[] ids;
    delete[] parent;
    delete[] depth;
    delete[] path;
    return ok;
}

bool CTrueSpaceFile::read_all()
{
    if (!IsOpen()) {
        ELOG(EL_MINDEBUG, "file is not open");
        return false;
    }
    Close();
    valid = false;
    long fsize = GetSize();
    if (!SetPos(0) || fsize < 32 || Read(file_header, 32) != 32 || !header_ok())
        return false;
    valid = true;
    if (!scan_headers(fsize) || !read_chunks() || !link_chunks()) {
        valid = false;
        return false;
    }
    chunk_count = chunks.count;
    return true;
}

// ---- statistics ------------------------------------------------------------------

int CTrueSpaceFile::get_stat(int which)
{
    long n = 0;
    switch (which) {
    case TS_STAT_CHUNKS:
        return (int)chunk_count;
    case TS_STAT_MESHES:
        return (int)polygonals.count;
    case TS_STAT_GROUPS:
        return (int)groups.count;
    case TS_STAT_LIGHTS:
    case TS_STAT_CAMERAS:
    case TS_STAT_EFFECTS:
        return 0;
    case TS_STAT_RAW:
        return (int)raw_chunks.count;
    case TS_STAT_MATERIALS:
        return (int)materials.count;
    case TS_STAT_TEXTURES:
        return (int)textures.count;
    case TS_STAT_UNITS:
        return (int)units.count;
    case TS_STAT_VERTICES:
        for (long i = 0; i < polygonals.count; ++i)
            n += polygonals[i]->vertices.count;
        return (int)n;
    case TS_STAT_FACES:
        for (long i = 0; i < polygonals.count; ++i)
            n += polygonals[i]->nfaces;
        return (int)n;
    case TS_STAT_UV_VERTICES:
        for (long i = 0; i < polygonals.count; ++i)
            n += polygonals[i]->uv_vertices.count;
        return (int)n;
    case TS_STAT_SHADERS:
        return (int)shaders.count;
    case TS_STAT_CHANNELS:
        return (int)channels.count;
    case TS_STAT_BONES:
        return (int)bones.count;
    case TS_STAT_JOINTS:
        return (int)joints.count;
    case TS_STAT_AXES:
        return (int)axes.count;
    default:
        ELOG(EL_MINDEBUG, "get_stat(): CTrueSpaceFile does not keep statistic %d", which);
        return -1;
    }
}

void CTrueSpaceFile::dump_stats(FILE* out, const char* prefix)
{
    if (!out || !prefix)
        return;
    static const struct {
        const char* label;
        int which;
    } lines[] = {{"objects", 1},   {"meshes", 2},     {"models", 3},    {"lights", 4},    {"cameras", 5},
                 {"effects", 6},   {"unknown", 256},  {"materials", 257}, {"shaders", 263}, {"textures", 258},
                 {"units", 259},   {"channels", 264}, {"bones", 265},   {"joints", 266},  {"axes", 267}};
    fprintf(out, "%sfile: %s (%ldbytes)\n", prefix, Name(), IsOpen() ? GetSize() : -1L);
    for (const auto& l : lines)
        fprintf(out, "%s..%s: %d\n", prefix, l.label, get_stat(l.which));
}

// ---- queries -----------------------------------------------------------------------

TS_POLYGONAL_DATA* CTrueSpaceFile::polygonal_of(long c)
{
    if (!valid || !chunks.has(c) || chunks[c]->kind != TS_KIND_POLYGONAL)
        return nullptr;
    return polygonals[chunks[c]->data_index];
}

TS_GROUP* CTrueSpaceFile::group_of(long c)
{
    if (!valid || !chunks.has(c) || chunks[c]->kind != TS_KIND_GROUP)
        return nullptr;
    return groups[chunks[c]->data_index];
}

long CTrueSpaceFile::get_object_chunk(unsigned int id)
{
    for (long i = 0; i < chunks.count; ++i)
        if ((unsigned int)chunks[i]->header.id == id)
            return i;
    ELOG(EL_MINDEBUG, "unable to find the chunk for object %d", (int)id);
    return -1;
}

long CTrueSpaceFile::GetBaseObjectCount()
{
    return valid ? roots.count : 0;
}

long CTrueSpaceFile::GetBaseObjectID(long i)
{
    return valid && roots.has(i) ? roots[i] : -1;
}

long CTrueSpaceFile::GetChildCount(long id)
{
    return valid && chunks.has(id) ? chunks[id]->children.count : -1;
}

long CTrueSpaceFile::GetChildID(long id, long k)
{
    if (!valid || !chunks.has(id) || !chunks[id]->children.has(k))
        return -1;
    return chunks[id]->children[k];
}

long CTrueSpaceFile::IsGroup(long id)
{
    if (!valid || !chunks.has(id))
        return -1;
    for (long i = 0; i < chunks.count; ++i)
        for (long k = 0; k < chunks[i]->children.count; ++k)
            if (chunks[i]->children[k] == id)
                return i;
    return -1;
}

bool CTrueSpaceFile::GetObjectType(long id, TSObject3D& t)
{
    static const struct {
        const char* type;
        TSObject3D t;
    } types[] = {{"Grou", TS_GROUP_OBJECT}, {"PolH", TS_POLYGONAL}, {"Unit", TS_UNIT_OBJECT},
                 {"Mat1", TS_MATERIAL_OBJECT}, {"Lght", TS_LIGHT}, {"Came", TS_CAMERA},
                 {"Chan", TS_ANIMATION}};
    if (!valid || !chunks.has(id)) {
        t = TS_DOES_NOT_EXIST;
        return false;
    }
    for (const auto& e : types) {
        if (memcmp(chunks[id]->header.type, e.type, 4) == 0) {
            t = e.t;
            return true;
        }
    }
    t = TS_UNKNOWN;
    return false;
}

bool CTrueSpaceFile::GetObjectName(long id, std::string& s)
{
    const TS_NAME* n = nullptr;
    if (TS_GROUP* g = group_of(id))
        n = &g->name;
    else if (TS_POLYGONAL_DATA* p = polygonal_of(id))
        n = &p->name;
    if (n) {
        s = n->string.str();
        return true;
    }
    TSObject3D t;
    GetObjectType(id, t);
    switch (t) {
    case TS_DOES_NOT_EXIST:
        s = "Does Not Exist";
        break;
    case TS_UNKNOWN:
        s = "Type( TSUnknown )";
        break;
    case TS_UNIT_OBJECT:
        s = "Type( Unit )";
        break;
    case TS_MATERIAL_OBJECT:
        s = "Type( Material )";
        break;
    case TS_LIGHT:
        s = "Light";
        break;
    case TS_CAMERA:
        s = "Camera";
        break;
    case TS_ANIMATION:
        s = "Animation";
        break;
    default:
        s = "Error";
    }
    return false;
}

bool CTrueSpaceFile::GetObjectLocalAxes(long id, float* axes12)
{
    const TS_LAXES* a = nullptr;
    if (TS_GROUP* g = group_of(id))
        a = &g->axes;
    else if (TS_POLYGONAL_DATA* p = polygonal_of(id))
        a = &p->axes;
    if (!a || !axes12)
        return false;
    memcpy(axes12, a->raw, sizeof a->raw);
    return true;
}

bool CTrueSpaceFile::GetObjectPosition(long id, float* pos16)
{
    const TS_POSITION* p = nullptr;
    if (TS_GROUP* g = group_of(id))
        p = &g->position;
    else if (TS_POLYGONAL_DATA* poly = polygonal_of(id))
        p = &poly->position;
    if (!p || !pos16)
        return false;
    memcpy(pos16, p->m, sizeof p->m);
    return true;
}

bool CTrueSpaceFile::GetObjectUnit(long id, long& u)
{
    if (!valid || !chunks.has(id) || chunks[id]->kind != TS_KIND_UNIT)
        return false;
    u = units[chunks[id]->data_index]->unit;
    return true;
}

std::string CTrueSpaceFile::convert_name_to_str(const TS_NAME& n)
{
    std::string s = n.string.str();
    if (n.dupecount)
        s += "," + std::to_string(n.dupecount);
    return s;
}

int CTrueSpaceFile::read_light_t(unsigned int, light_t*)
{
    return 0;
}

int CTrueSpaceFile::read_light_t_l(const char*, d_list*)
{
    return 0;
}

// ---- dumps -------------------------------------------------------------------------

static void print_name(FILE* out, const char* pre, const TS_NAME& n)
{
    fprintf(out, "%sString: %s\n", pre, n.string.str());
    fprintf(out, "%sDupeCount: %d\n", pre, n.dupecount);
}

static void print_laxes(FILE* out, const char* pre, const TS_LAXES& a)
{
    static const char* const rows[] = {"  Center: ", "  XDir  : ", "  YDir  : ", "  ZDir  : "};
    fprintf(out, "%sLocal Axes:\n", pre);
    for (int r = 0; r < 4; ++r)
        fprintf(out, "%s%s%011.6f, %011.6f, %011.6f\n", pre, rows[r], a.raw[3 * r], a.raw[3 * r + 1],
                a.raw[3 * r + 2]);
}

static void print_pos(FILE* out, const char* pre, const TS_POSITION& p)
{
    fprintf(out, "%sPosition:\n", pre);
    for (int r = 0; r < 4; ++r)
        fprintf(out, "%s%011.6f %011.6f %011.6f %011.6f\n", pre, p.m[4 * r], p.m[4 * r + 1], p.m[4 * r + 2],
                p.m[4 * r + 3]);
}

void CTrueSpaceFile::print_chunk(FILE* out, long c, int depth, bool verbose)
{
    char pre[2 * TS_MAX_DEPTH + 3];
    int n = 0;
    for (int d = 0; d < depth && n < (int)sizeof pre - 3; ++d) {
        pre[n++] = '.';
        pre[n++] = '.';
    }
    pre[n] = 0;
    const TS_FILE_CHUNK* fc = chunks[c];
    const TS_HEADER& h = fc->header;
    fprintf(out, "%s[%ld] id=%d (nchild=%ld)\n", pre, c, h.id, fc->children.count);
    fprintf(out, "%sType: %4s %sVersion: %02d.%02d %sID: %d %sParentID: %d %sSize: %d\n", pre, h.type, pre, h.major,
            h.minor, pre, h.id, pre, h.parent_id, pre, h.size);
    if (verbose) {
        switch (fc->kind) {
        case TS_KIND_RAW:
            dump_hex(out, raw_chunks[fc->data_index]->data, raw_chunks[fc->data_index]->size, 79, pre);
            break;
        case TS_KIND_GROUP:
        case TS_KIND_BONE: {
            TS_GROUP* g = fc->kind == TS_KIND_GROUP ? groups[fc->data_index] : bones[fc->data_index];
            print_name(out, pre, g->name);
            print_laxes(out, pre, g->axes);
            print_pos(out, pre, g->position);
            break;
        }
        case TS_KIND_UNIT:
            fprintf(out, "%sUnit: 0x%08x\n", pre, units[fc->data_index]->unit);
            break;
        case TS_KIND_AXES:
            print_pos(out, pre, axes[fc->data_index]->position);
            break;
        case TS_KIND_POLYGONAL: {
            TS_POLYGONAL_DATA* p = polygonals[fc->data_index];
            print_name(out, pre, p->name);
            print_laxes(out, pre, p->axes);
            print_pos(out, pre, p->position);
            fprintf(out, "%sVertices: %d TextureVertices: %d Faces: %d\n", pre, p->vertices.count,
                    p->uv_vertices.count, p->nfaces);
            fprintf(out, "%sDrawFlags: 0x%08x\n", pre, (unsigned)p->draw_flags);
            break;
        }
        case TS_KIND_MATERIAL:
            ts_print_material(out, pre, *materials[fc->data_index]);
            break;
        case TS_KIND_SHADERS:
            ts_print_shaders(out, pre, *shaders[fc->data_index]);
            break;
        case TS_KIND_CHANNEL:
            ts_print_channel(out, pre, *channels[fc->data_index]);
            break;
        case TS_KIND_JOINT:
            ts_print_joint(out, pre, *joints[fc->data_index]);
            break;
        }
    }
    for (long k = 0; k < fc->children.count; ++k)
        print_chunk(out, fc->children[k], depth + 1, verbose);
}

void CTrueSpaceFile::PrintHierarchy(FILE* out, bool verbose)
{
    if (!out || !valid)
        return;
    for (long i = 0; i < roots.count; ++i)
        print_chunk(out, roots[i], 0, verbose);
}

void CTrueSpaceFile::PrintInfo(FILE* out, bool verbose)
{
    if (!out)
        return;
    dump_stats(out, "");
    PrintHierarchy(out, verbose);
}

}  // namespace vantrel
