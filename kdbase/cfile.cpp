#include "kdbase/cfile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "kdbase/d_list.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/str_util.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

// ---- byte order --------------------------------------------------------------

sys_info_t::sys_info_t()
{
    const uint16_t probe = 0x0102;
    unsigned char bytes[2];
    memcpy(bytes, &probe, 2);
    if (bytes[0] == 2 && bytes[1] == 1)
        byteorder = BYTEORDER_LITTLE_ENDIAN;
    else if (bytes[0] == 1 && bytes[1] == 2)
        byteorder = BYTEORDER_BIG_ENDIAN;
    else
        byteorder = BYTEORDER_UNKNOWN;
}

uint16_t(sys_info_t::htons)(uint16_t v) const
{
    return byteorder == BYTEORDER_LITTLE_ENDIAN ? (uint16_t)inverse_order((int16_t)v) : v;
}

uint32_t(sys_info_t::htonl)(uint32_t v) const
{
    return byteorder == BYTEORDER_LITTLE_ENDIAN ? (uint32_t)inverse_order((int32_t)v) : v;
}

uint16_t(sys_info_t::ntohs)(uint16_t v) const
{
    return (htons)(v);
}

uint32_t(sys_info_t::ntohl)(uint32_t v) const
{
    return (htonl)(v);
}

const sys_info_t& sys_info()
{
    static const sys_info_t info;
    return info;
}

int32_t inverse_order(int32_t v)
{
    uint32_t u = (uint32_t)v;
    return (int32_t)((u >> 24) | ((u >> 8) & 0xFF00u) | ((u << 8) & 0xFF0000u) | (u << 24));
}

int16_t inverse_order(int16_t v)
{
    uint16_t u = (uint16_t)v;
    return (int16_t)(uint16_t)((u >> 8) | (u << 8));
}

int32_t btol(int32_t v)
{
    return inverse_order(v);
}

int32_t ltob(int32_t v)
{
    return inverse_order(v);
}

int16_t btol(int16_t v)
{
    return inverse_order(v);
}

int16_t ltob(int16_t v)
{
    return inverse_order(v);
}

// ---- bit fields ----------------------------------------------------------------

namespace {
int trailing_zeros(unsigned int mask)
{
    return mask ? __builtin_ctz(mask) : 32;
}
}  // namespace

int mask32_nbits(unsigned int mask)
{
    if (!mask)
        return 0;
    unsigned int run = mask >> trailing_zeros(mask);
    return run == 0xFFFFFFFFu ? 32 : trailing_zeros(~run);
}

unsigned int bits32_LSB_align(unsigned int v, unsigned int mask)
{
    return mask ? (v & mask) >> trailing_zeros(mask) : 0;
}

unsigned int bits32_mask_align(unsigned int v, unsigned int mask)
{
    return mask ? v << trailing_zeros(mask) : 0;
}

int bits32_conv(unsigned int* _dest, unsigned int _dest_mask, const unsigned int* _src, unsigned int _src_mask)
{
    CHECK_PTR(_dest, -1);
    CHECK_PTR(_src, -1);
    unsigned int field = bits32_LSB_align(*_src, _src_mask);
    int shift = mask32_nbits(_dest_mask) - mask32_nbits(_src_mask);
    if (shift >= 32 || shift <= -32)
        field = 0;
    else if (shift > 0)
        field <<= shift;
    else
        field >>= -shift;
    *_dest = (*_dest & ~_dest_mask) | (bits32_mask_align(field, _dest_mask) & _dest_mask);
    return 0;
}

// ---- CFile ---------------------------------------------------------------------

const char* CFile::m_aszOperationMode[OM_COUNT];

void CFile::InitOperationModeArray()
{
    static const char* const modes[OM_COUNT] = {"r",  "w",  "a",  "r+",  "w+",  "a+",
                                                "rb", "wb", "ab", "rb+", "wb+", "ab+"};
    for (int i = 0; i < OM_COUNT; ++i)
        m_aszOperationMode[i] = modes[i];
}

CFile::CFile()
    : fp(nullptr), voffset(0), vpos(0), vsize(0), is_virtual(0), reserved(0), mode(OM_R),
      byteorder(BYTEORDER_LITTLE_ENDIAN)
{
    vname[0] = 0;
    name[0] = 0;
    InitOperationModeArray();
}

CFile::CFile(const char* path, OPERATION_MODE m) : CFile()
{
    Open(path, m);
}

CFile::~CFile()
{
    Close();
}

int CFile::Open(const char* path, OPERATION_MODE m)
{
    Close();
    if (!path) {
        ELOG(EL_MINOR, "unable to open %s: %s", "(null)", strerror(EINVAL));
        return 0;
    }
    if (m < 0 || m >= OM_COUNT || strlen(path) >= CFILE_MAX_PATH) {
        ELOG(EL_MINOR, "unable to open %s: %s", path, strerror(m < 0 || m >= OM_COUNT ? EINVAL : ENAMETOOLONG));
        return 0;
    }
    FILE* f = fopen(path, m_aszOperationMode[m]);
    if (!f) {
        ELOG(EL_MINOR, "unable to open %s: %s", path, strerror(errno));
        return 0;
    }
    fp = f;
    mode = m;
    strcpy(name, path);
    reserved = 0;
    return 1;
}

void CFile::Close()
{
    if (fp)
        fclose(fp);
    fp = nullptr;
    name[0] = 0;
    vname[0] = 0;
    mode = OM_R;
    is_virtual = 0;
    voffset = vpos = vsize = 0;
}

void CFile::SetFILE(FILE* f)
{
    Close();
    fp = f;
}

bool CFile::writable() const
{
    return mode != OM_R && mode != OM_RB;
}

int CFile::OpenVFile(CFile* _vfile, const char* _fname, long offset, long length)
{
    CHECK_PTR(_vfile, 0);
    CHECK_PTR(_fname, 0);
    if (!fp) {
        ELOG(EL_MINOR, "unable to duplicate stream of %s for virtual file %s", name, _fname);
        return 0;
    }
    long size = GetSize();
    if (offset < 0 || length < 0 || offset > size || length > size - offset) {
        ELOG(EL_MINOR, "virtual file %s goes beyond %s", _fname, name);
        return 0;
    }
    if (writable())
        fflush(fp);
    // _vfile may be this file: take what is needed before it is closed.
    char path[CFILE_MAX_PATH], view_name[CFILE_MAX_PATH];
    strcpy(path, name);
    snprintf(view_name, sizeof view_name, "%s", _fname);
    long start = (is_virtual ? voffset : 0) + offset;
    sys_byteorder_t order = byteorder;

    FILE* f = fopen(path, "rb");
    if (!f || fseek(f, start, SEEK_SET) != 0) {
        if (f)
            fclose(f);
        ELOG(EL_MINOR, "unable to duplicate stream of %s for virtual file %s", path, view_name);
        return 0;
    }
    _vfile->SetFILE(f);
    strcpy(_vfile->name, path);
    strcpy(_vfile->vname, view_name);
    _vfile->mode = OM_RB;
    _vfile->is_virtual = 1;
    _vfile->voffset = start;
    _vfile->vpos = 0;
    _vfile->vsize = length;
    _vfile->reserved = 0;
    _vfile->byteorder = order;
    return 1;
}

int CFile::Read(void* buf, int n)
{
    if (!fp || !buf || n < 0)
        return 0;
    if (is_virtual) {
        // Never touch bytes outside the view; vpos records the attempt.
        bool inside = vpos >= 0 && vpos <= vsize && n <= vsize - vpos;
        vpos += n;
        if (!inside)
            return 0;
    }
    return fread(buf, 1, (size_t)n, fp) == (size_t)n ? n : 0;
}

int CFile::Write(const void* buf, int n)
{
    if (!fp || !buf || n < 0 || is_virtual)
        return 0;
    return fwrite(buf, 1, (size_t)n, fp) == (size_t)n ? n : 0;
}

bool CFile::swapped() const
{
    return byteorder != sys_info().byteorder;
}

namespace {
void reverse_bytes(unsigned char* bytes, int n)
{
    for (int i = 0; i < n / 2; ++i) {
        unsigned char t = bytes[i];
        bytes[i] = bytes[n - 1 - i];
        bytes[n - 1 - i] = t;
    }
}
}  // namespace

bool CFile::read_ordered(void* out, int n)
{
    unsigned char bytes[4] = {};
    bool ok = Read(bytes, n) == n;
    if (swapped())
        reverse_bytes(bytes, n);
    memcpy(out, bytes, (size_t)n);
    return ok;
}

template <typename T> T CFile::read_value(const char* what)
{
    T v = 0;
    if (!fp)
        ELOG(EL_MINDEBUG, "::%s(): file %s is not opened", what, name);
    read_ordered(&v, (int)sizeof(T));  // still through Read, so CFileE throws
    return v;
}

template <typename T> int CFile::write_value(T v)
{
    unsigned char bytes[sizeof(T)];
    memcpy(bytes, &v, sizeof(T));
    if (swapped())
        reverse_bytes(bytes, (int)sizeof(T));
    return Write(bytes, (int)sizeof(T));
}

char CFile::ReadChar()
{
    char c = 0;
    Read(&c, 1);
    return c;
}

int16_t CFile::ReadShort()
{
    return read_value<int16_t>("ReadShort");
}

int32_t CFile::ReadInt()
{
    return read_value<int32_t>("ReadInt");
}

int32_t CFile::ReadLong()
{
    return read_value<int32_t>("ReadLong");
}

float CFile::ReadFloat()
{
    return read_value<float>("ReadFloat");
}

int CFile::ReadString(char* _buf, int max)
{
    if (!_buf || max < 1) {
        ELOG(EL_MINDEBUG, "::ReadString(): invalid parameters");
        return -1;
    }
    for (int i = 0; i < max; ++i) {
        char c;
        if (Read(&c, 1) != 1) {
            _buf[i] = 0;
            return -1;
        }
        _buf[i] = c;
        if (c == 0)
            return i + 1;
    }
    return max;
}

int CFile::read_floats(float* v, int n)
{
    for (int i = 0; i < n; ++i)
        if (!read_ordered(&v[i], 4))
            return 0;
    return 4 * n;
}

int CFile::ReadVector3(float* _v3)
{
    CHECK_PTR(_v3, 0);
    return read_floats(_v3, 3);
}

int CFile::ReadVector4(float* _v4)
{
    CHECK_PTR(_v4, 0);
    return read_floats(_v4, 4);
}

int CFile::ReadMatrix(float* _m)
{
    CHECK_PTR(_m, 0);
    return read_floats(_m, 16);
}

int CFile::WriteChar(char v)
{
    return Write(&v, 1);
}

int CFile::WriteShort(int16_t v)
{
    return write_value(v);
}

int CFile::WriteInt(int32_t v)
{
    return write_value(v);
}

int CFile::WriteLong(int32_t v)
{
    return write_value(v);
}

int CFile::WriteFloat(float v)
{
    return write_value(v);
}

int CFile::write_floats(const float* v, int n)
{
    for (int i = 0; i < n; ++i)
        if (WriteFloat(v[i]) != 4)
            return 0;
    return 4 * n;
}

int CFile::WriteVector3(const float* _v3)
{
    CHECK_PTR(_v3, 0);
    return write_floats(_v3, 3);
}

int CFile::WriteVector4(const float* _v4)
{
    CHECK_PTR(_v4, 0);
    return write_floats(_v4, 4);
}

int CFile::WriteMatrix(const float* _m)
{
    CHECK_PTR(_m, 0);
    return write_floats(_m, 16);
}

int CFile::WriteString(const char* s, int max)
{
    if (!fp || !s) {
        ELOG(EL_MINDEBUG, "::WriteString(): file is not opened or invalid parameters");
        return 0;
    }
    int n = 0;
    while (n < max - 1 && s[n])
        ++n;
    if (n > 0 && Write(s, n) != n)
        return 0;
    const char zero = 0;
    return Write(&zero, 1) == 1 ? n + 1 : 0;
}

long CFile::GetSize()
{
    if (!fp)
        return -1;
    if (is_virtual)
        return vsize;
    long here = ftell(fp);
    if (here < 0 || fseek(fp, 0, SEEK_END) != 0)
        return -1;
    long size = ftell(fp);
    fseek(fp, here, SEEK_SET);
    return size;
}

long CFile::GetPos()
{
    if (!fp)
        return -1;
    return is_virtual ? vpos : ftell(fp);
}

bool CFile::seek_view(long p)
{
    if (p < 0 || fseek(fp, voffset + p, SEEK_SET) != 0)
        return false;
    vpos = p;
    return true;
}

bool CFile::SetPos(long p)
{
    if (!fp)
        return false;
    if (is_virtual)
        return p <= vsize && seek_view(p);
    return fseek(fp, p, SEEK_SET) == 0;
}

bool CFile::GoToEnd()
{
    if (!fp)
        return false;
    if (is_virtual)
        return seek_view(vsize);
    return fseek(fp, 0, SEEK_END) == 0;
}

bool CFile::Forward(long n)
{
    if (!fp)
        return false;
    n = labs(n);
    if (is_virtual)
        return seek_view(vpos + n);
    return fseek(fp, n, SEEK_CUR) == 0;
}

bool CFile::Rewind(long n)
{
    if (!fp)
        return true;
    n = labs(n);
    if (is_virtual)
        return seek_view(vpos - n);
    return fseek(fp, -n, SEEK_CUR) == 0;
}

bool CFile::Eof()
{
    if (!fp)
        return true;
    if (is_virtual)
        return vpos >= vsize;
    return feof(fp) != 0;
}

bool CFile::Error()
{
    return fp && ferror(fp) != 0;
}

bool CFile::IsOpen() const
{
    return fp != nullptr;
}

const char* CFile::Name() const
{
    return name;
}

void CFile::SetByteOrder(sys_byteorder_t order)
{
    byteorder = order;
}

int CFile::Append(CFile& other)
{
    if (!other.IsOpen() || !fp)
        return 0;
    long remaining = other.GetSize() - other.GetPos();
    char piece[4096];
    while (remaining > 0) {
        int n = remaining < (long)sizeof piece ? (int)remaining : (int)sizeof piece;
        if (other.CFile::Read(piece, n) != n || CFile::Write(piece, n) != n)
            return 0;
        remaining -= n;
    }
    return 1;
}

// ---- CFileE ----------------------------------------------------------------------

int CFileE::Read(void* buf, int n)
{
    int got = CFile::Read(buf, n);
    if (got != n)
        throw -1;
    return got;
}

int CFileE::Write(const void* buf, int n)
{
    int put = CFile::Write(buf, n);
    if (put != n)
        throw -1;
    return put;
}

// ---- buffer_t --------------------------------------------------------------------

void buffer_t::operator delete(void* p) noexcept
{
    delete[] static_cast<char*>(p);
}

buffer_t* alloc_buffer(int n)
{
    if (n < 0)
        return nullptr;
    size_t total = sizeof(buffer_t) + (size_t)n + 3;
    char* block = KD_NEW char[total];
    if (!block)
        return nullptr;
    memset(block, 0, total);
    buffer_t* b = ::new (block) buffer_t;
    b->size = n;
    return b;
}

int buffer_t::compare(buffer_t* b)
{
    if (!b) {
        ELOG(EL_MINDEBUG, "invalid parameters");
        return -1;
    }
    if (groupable_t::compare(b) != 0)
        return -1;
    if (size != b->size) {
        ELOG(EL_MINDEBUG, "unequal sizes");
        return -1;
    }
    if (memcmp(data(), b->data(), (size_t)size) != 0) {
        ELOG(EL_MINDEBUG, "unequal memory");
        return -1;
    }
    return 0;
}

void buffer_t::dump(FILE* f, const char* tabs)
{
    if (!f)
        return;
    if (!tabs) {
        fprintf(f, "(invalid buffer)\n");
        return;
    }
    groupable_t::dump(f, tabs);
    fprintf(f, "%ssize=%d\n", tabs, size);
    dump_hex(f, data(), size, 79, tabs);
}

void dump_buffer_l(FILE* f, d_list* l, const char* tabs)
{
    if (!f)
        return;
    if (!l || !tabs) {
        fprintf(f, "(invalid buffer_l)\n");
        return;
    }
    for (d_node* n = l->first; n; n = n->next)
        if (buffer_t* b = dynamic_cast<buffer_t*>(n->object))
            b->dump(f, tabs);
}

}  // namespace vantrel
