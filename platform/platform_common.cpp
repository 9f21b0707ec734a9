// The part of the platform layer that is the same on every system: paths,
// line reading, the number scanners, the key table and the clock switch.
#include <climits>
#include <cmath>
#include <cstring>

#include "platform/platform.h"
#include "platform/platform_local.h"

namespace vantrel {

static void copy_part(char* out, size_t cap, const char* from, size_t len)
{
    if (!out)
        return;
    if (len > cap - 1)
        len = cap - 1;
    memcpy(out, from, len);
    out[len] = 0;
}

void split_path(const char* path, char* drive, char* dir, char* fname, char* ext)
{
    if (!path)
        path = "";
    const char* p = path;
    size_t drive_len = 0;
    if (((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':')
        drive_len = 2;
    copy_part(drive, PATH_MAX_DRIVE, p, drive_len);
    p += drive_len;

    const char* last_sep = nullptr;
    for (const char* c = p; *c; ++c)
        if (*c == '/' || *c == '\\')
            last_sep = c;
    const char* name = last_sep ? last_sep + 1 : p;
    copy_part(dir, PATH_MAX_DIR, p, (size_t)(name - p));

    const char* dot = strrchr(name, '.');
    size_t name_len = dot ? (size_t)(dot - name) : strlen(name);
    copy_part(fname, PATH_MAX_FNAME, name, name_len);
    copy_part(ext, PATH_MAX_EXT, dot ? dot : "", dot ? strlen(dot) : 0);
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

size_t scan_decimal(const char* s, double* value)
{
    if (value)
        *value = 0;
    if (!s)
        return 0;
    const char* p = s;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    // Digits are gathered as an integer mantissa with a decimal exponent and
    // converted once, so the result does not depend on the locale.
    unsigned long long mantissa = 0;
    int exponent = 0, digits = 0;
    for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
        if (mantissa < 100000000000000000ULL)
            mantissa = mantissa * 10 + (unsigned)(*p - '0');
        else
            ++exponent;
    }
    if (*p == '.') {
        const char* q = p + 1;
        int frac = 0;
        for (; *q >= '0' && *q <= '9'; ++q, ++frac) {
            if (mantissa < 100000000000000000ULL) {
                mantissa = mantissa * 10 + (unsigned)(*q - '0');
                --exponent;
            }
        }
        if (digits + frac > 0) {
            digits += frac;
            p = q;
        }
    }
    if (digits == 0)
        return 0;
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        bool eneg = false;
        if (*q == '+' || *q == '-')
            eneg = *q++ == '-';
        if (*q >= '0' && *q <= '9') {
            int e = 0;
            for (; *q >= '0' && *q <= '9'; ++q)
                if (e < 100000)
                    e = e * 10 + (*q - '0');
            exponent += eneg ? -e : e;
            p = q;
        }
    }
    // Exact powers of ten up to 1e22 keep the common cases correctly rounded.
    static const double pow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    double v = (double)mantissa;
    if (mantissa != 0) {
        while (exponent > 22 && v < 1e300) {
            v *= 1e22;
            exponent -= 22;
        }
        while (exponent < -22 && v > 1e-300) {
            v /= 1e22;
            exponent += 22;
        }
        if (exponent > 22)
            v = HUGE_VAL;
        else if (exponent < -22)
            v = 0;
        else if (exponent >= 0)
            v *= pow10[exponent];
        else
            v /= pow10[-exponent];
    }
    if (value)
        *value = negative ? -v : v;
    return (size_t)(p - s);
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
