// The part of the platform layer that is the same on every system: paths,
// line reading, the number scanners, the key table and the clock switch.
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/platform.h"
#include "platform/platform_local.h"

namespace vantrel {

void platform_time_text(char* out, size_t n)
{
    if (!out || n == 0)
        return;
    static const char days[] = "SunMonTueWedThuFriSat", months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    struct tm t;
    if (!system_local_time(&t) || t.tm_wday < 0 || t.tm_wday > 6 || t.tm_mon < 0 || t.tm_mon > 11) {
        out[0] = 0;
        return;
    }
    // The text of ctime, without its newline.
    snprintf(out, n, "%.3s %.3s%3d %.2d:%.2d:%.2d %d", days + 3 * t.tm_wday, months + 3 * t.tm_mon, t.tm_mday,
             t.tm_hour, t.tm_min, t.tm_sec, 1900 + t.tm_year);
}

static void copy_part(char* out, size_t cap, const char* from, size_t len)
{
    if (!out)
        return;
    if (len > cap - 1)
        len = cap - 1;
    memcpy(out, from, len);
    out[len] = 0;
}

void path_parts(const char* path, const char** dir, const char** fname, const char** ext)
{
    if (!path)
        path = "";
    const char* p = path;
    if (((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':')
        p += 2;
    const char* name = p;
    for (const char* c = p; *c; ++c)
        if (*c == '/' || *c == '\\')
            name = c + 1;
    const char* dot = strrchr(name, '.');
    if (dir)
        *dir = p;
    if (fname)
        *fname = name;
    if (ext)
        *ext = dot ? dot : name + strlen(name);
}

void split_path(const char* path, char* drive, char* dir, char* fname, char* ext)
{
    if (!path)
        path = "";
    const char *d, *name, *dot;
    path_parts(path, &d, &name, &dot);
    copy_part(drive, PATH_MAX_DRIVE, path, (size_t)(d - path));
    copy_part(dir, PATH_MAX_DIR, d, (size_t)(name - d));
    copy_part(fname, PATH_MAX_FNAME, name, (size_t)(dot - name));
    copy_part(ext, PATH_MAX_EXT, dot, strlen(dot));
}

void make_path(char* out, const char* drive, const char* dir, const char* fname, const char* ext)
{
    if (!out)
        return;
    out[0] = 0;
    size_t used = 0;
    auto put = [&](const char* s) {
        for (; s && *s && used < PATH_MAX_PATH - 1; ++s)
            out[used++] = *s;
        out[used] = 0;
    };
    put(drive);
    if (dir && *dir) {
        put(dir);
        if (out[used - 1] != '/' && out[used - 1] != '\\')
            put("/");
    }
    put(fname);
    if (ext && *ext) {
        if (*ext != '.')
            put(".");
        put(ext);
    }
}

char* read_line(char* buf, int n, FILE* f)
{
    // A one-byte buffer holds no character: fgets would "succeed" for ever,
    // even at the end of the file.
    if (!buf || n < 2 || !f)
        return nullptr;
    if (!fgets(buf, n, f))
        return nullptr;
    size_t len = strlen(buf);
    if (len >= 2 && buf[len - 2] == '\r' && buf[len - 1] == '\n') {
        buf[len - 2] = '\n';
        buf[len - 1] = 0;
    } else if (len >= 1 && buf[len - 1] == '\r') {
        // The buffer filled up right at the CR: take the LF that follows with it.
        int c = fgetc(f);
        if (c == '\n')
            buf[len - 1] = '\n';
        else if (c != EOF)
            ungetc(c, f);
    }
    return buf;
}

// The length of the decimal number at s by the scanner's grammar (0 for
// none); *digits is where the number after its sign begins.
static size_t decimal_span(const char* s, const char** digits)
{
    const char* p = s;
    if (*p == '+' || *p == '-')
        ++p;
    *digits = p;
    size_t whole = 0, frac = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        ++whole;
    if (*p == '.') {
        const char* q = p + 1;
        for (; *q >= '0' && *q <= '9'; ++q)
            ++frac;
        if (whole + frac > 0)
            p = q;
    }
    if (whole + frac == 0)
        return 0;
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        if (*q == '+' || *q == '-')
            ++q;
        if (*q >= '0' && *q <= '9') {
            while (*q >= '0' && *q <= '9')
                ++q;
            p = q;
        }
    }
    return (size_t)(p - s);
}

// Roughly the power of ten of a nonzero number in [digits, end): enough to
// tell a number too large from one too small.
static long decimal_magnitude(const char* digits, const char* end)
{
    const char* p = digits;
    long mag = 0;
    bool seen = false;
    for (; p < end && *p >= '0' && *p <= '9'; ++p)
        if (seen || *p != '0') {
            seen = true;
            ++mag;
        }
    if (p < end && *p == '.')
        for (++p; p < end && *p >= '0' && *p <= '9'; ++p) {
            if (*p != '0')
                seen = true;
            else if (!seen)
                --mag;
        }
    long e = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        bool neg = *++p == '-';
        if (*p == '+' || *p == '-')
            ++p;
        for (; p < end; ++p)
            if (e < 100000000)
                e = e * 10 + (*p - '0');
        e = neg ? -e : e;
    }
    return mag + e;
}

// Converts the accepted span, correctly rounded (from_chars is locale-free
// and reads any number of digits). Out of range gives infinity or zero as
// strtod does; from_chars leaves the value alone then.
template <class T>
static size_t scan_decimal_as(const char* s, T* value)
{
    if (value)
        *value = 0;
    if (!s)
        return 0;
    const char* digits;
    size_t used = decimal_span(s, &digits);
    if (!used || !value)
        return used;
    T v = 0;
    std::from_chars_result r = std::from_chars(digits, s + used, v, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range)
        v = decimal_magnitude(digits, s + used) > 0 ? std::numeric_limits<T>::infinity() : (T)0;
    *value = *s == '-' ? -v : v;
    return used;
}

size_t scan_decimal(const char* s, double* value)
{
    return scan_decimal_as(s, value);
}

size_t scan_decimal_float(const char* s, float* value)
{
    return scan_decimal_as(s, value);
}

size_t scan_integer(const char* s, long long* value)
{
    if (value)
        *value = 0;
    if (!s)
        return 0;
    const char* p = s;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (!(*p >= '0' && *p <= '9'))
        return 0;
    unsigned long long v = 0;
    const unsigned long long limit = negative ? (unsigned long long)LLONG_MAX + 1 : (unsigned long long)LLONG_MAX;
    for (; *p >= '0' && *p <= '9'; ++p) {
        unsigned d = (unsigned)(*p - '0');
        v = (v > (limit - d) / 10) ? limit : v * 10 + d;
    }
    if (value)
        *value = negative ? (long long)(0 - v) : (long long)v;
    return (size_t)(p - s);
}

// ---- clock -----------------------------------------------------------------
static milli_clock_func test_clock;
static void* test_clock_context;

void set_milli_clock(milli_clock_func clock, void* context)
{
    test_clock = clock;
    test_clock_context = context;
}

// ---- key state -------------------------------------------------------------
static bool key_down[256];

short platform_key_state(int vkey)
{
    if (vkey < 0 || vkey > 255)
        return 0;
    return key_down[vkey] ? (short)0x8000 : 0;
}

void platform_set_key_state(int vkey, bool down)
{
    if (vkey >= 0 && vkey <= 255)
        key_down[vkey] = down;
}

}  // namespace vantrel

unsigned int get_milli_uptime()
{
    if (vantrel::test_clock)
        return vantrel::test_clock(vantrel::test_clock_context);
    return vantrel::system_milli_uptime();
}
