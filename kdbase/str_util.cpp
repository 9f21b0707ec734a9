#include "kdbase/str_util.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

char* skip_leadingspaces(char* s)
{
    if (!s) {
        ELOG(EL_MINDEBUG, "skip_leadingspaces(): invalid parameters");
        return nullptr;
    }
    while (*s == ' ' || *s == '\t')
        ++s;
    return s;
}

int get_chr_count(const char* s, char c)
{
    if (!s) {
        ELOG(EL_MINDEBUG, "get_chr_count(): invalid parameter");
        return 0;
    }
    int count = 0;
    for (; *s; ++s)
        if (*s == c)
            ++count;
    return count;
}

bool is_float(const char* s)
{
    if (!s) {
        ELOG(EL_MINDEBUG, "is_float(): invalid parameter");
        return false;
    }
    int dots = 0;
    for (; *s; ++s) {
        if (!strchr("0123456789-+eE.", *s))
            return false;
        if (*s == '.')
            ++dots;
    }
    return dots == 1;
}

bool is_int(const char* s)
{
    if (!s) {
        ELOG(EL_MINDEBUG, "is_int(): invalid parameter");
        return false;
    }
    for (; *s; ++s)
        if (!strchr("0123456789-+x", *s))
            return false;
    return true;
}

char* strverify(char* _str, int max)
{
    CHECK_PTR(_str, nullptr);
    size_t keep = max < 1 ? 0 : (size_t)max - 1;
    if (strnlen(_str, keep + 1) > keep)
        _str[keep] = 0;
    return _str;
}

char* get_enclosed_str(const char* s, const char* delims, char* out)
{
    if (!s || !delims || !out || !delims[0] || !delims[1]) {
        ELOG(EL_MINDEBUG, "get_enclosed_str(): invalid parameters");
        return nullptr;
    }
    *out = 0;
    const char* p = strchr(s, delims[0]);
    if (!p)
        return out;
    int depth = 1;
    for (++p; *p; ++p) {
        // The closing delimiter is tested first so equal delimiters ("\"\"") pair up.
        if (*p == delims[1] && --depth == 0)
            break;
        if (*p == delims[0])
            ++depth;
        *out++ = *p;
    }
    *out = 0;
    return out;
}

char* copy_upto(const char* _src, char* _dst, char c)
{
    CHECK_PTR(_src, nullptr);
    CHECK_PTR(_dst, nullptr);
    char* d = _dst;
    while (*_src && *_src != c)
        *d++ = *_src++;
    *d = 0;
    return _dst;
}

// Rejoins the parts of a path: directory and name, or name and extension.
static char* rejoin(const char* path, char* out, bool dir_and_name)
{
    char dir[PATH_MAX_DIR], fname[PATH_MAX_FNAME], ext[PATH_MAX_EXT];
    split_path(path, nullptr, dir, fname, ext);
    make_path(out, nullptr, dir_and_name ? dir : nullptr, fname, dir_and_name ? nullptr : ext);
    return out;
}

char* strip_ext(const char* _src, char* _out)
{
    CHECK_PTR(_src, nullptr);
    CHECK_PTR(_out, nullptr);
    return rejoin(_src, _out, true);
}

char* strip_path(const char* _src, char* _out)
{
    CHECK_PTR(_src, nullptr);
    CHECK_PTR(_out, nullptr);
    return rejoin(_src, _out, false);
}

char* trunc_path(char* _path, const char* _basepath)
{
    CHECK_PTR(_path, nullptr);
    CHECK_PTR(_basepath, nullptr);
    size_t n = strlen(_basepath);
    if (n && strncmp(_path, _basepath, n) == 0)
        memmove(_path, _path + n, strlen(_path + n) + 1);
    return _path;
}

int get_index(void* p, void** a, int n)
{
    if (!p || !a || n < 0)
        return -1;
    for (int i = 0; i < n; ++i)
        if (a[i] == p)
            return i;
    return n;
}

int add_to_int_a(int* a, int n, int terminator, int value)
{
    CHECK_PTR(a, -1);
    for (int i = 0; i < n - 1; ++i) {
        if (a[i] == terminator) {
            a[i] = value;
            a[i + 1] = terminator;
            return i;
        }
    }
    return -1;
}

void SortArray(unsigned long* a, unsigned long n)
{
    CHECK_PTR_V(a);
    std::sort(a, a + n);
}

static bool is_alnum(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int dump_hex_line(FILE* f, const void* buf, int n, int width, const char* prefix)
{
    if (!f)
        return 0;  // printers write nothing to a missing stream, silently
    CHECK_PTR(buf, 0);
    CHECK_PTR(prefix, 0);
    if (n <= 0)
        return 0;
    int l = width - (int)strnlen(prefix, 4096);
    int k = (l - l / 3) / 3 + 1;
    // A prefix wider than the line still shows one byte per line, so a dump
    // always advances.
    k = std::max(1, std::min(k, n));
    const unsigned char* b = static_cast<const unsigned char*>(buf);
    fprintf(f, "%s ", prefix);
    for (int i = 0; i < k; ++i)
        fprintf(f, "%02X ", b[i]);
    for (int i = 0; i < k; ++i)
        fputc(is_alnum(b[i]) ? b[i] : '.', f);
    fputc('\n', f);
    return k;
}

void dump_hex(FILE* f, const void* buf, int n, int width, const char* tabs)
{
    if (!f)
        return;
    CHECK_PTR_V(buf);
    CHECK_PTR_V(tabs);
    const unsigned char* b = static_cast<const unsigned char*>(buf);
    char prefix[300];
    for (int off = 0; off < n;) {
        snprintf(prefix, sizeof prefix, "%s0x%08X ", tabs, (unsigned)off);
        off += dump_hex_line(f, b + off, n - off, width, prefix);
    }
    fputc('\n', f);
}

char* dump_hex_line(char* _line, char* _buf, int n, char* _tabs)
{
    CHECK_PTR(_line, nullptr);
    CHECK_PTR(_buf, nullptr);
    CHECK_PTR(_tabs, nullptr);
    char* out = _line;
    for (int i = 0; i < n; ++i)
        out += sprintf(out, "%02X ", (unsigned char)_buf[i]);
    memcpy(out, _buf, n > 0 ? (size_t)n : 0);
    out[n > 0 ? n : 0] = 0;
    return _line;
}

}  // namespace vantrel
