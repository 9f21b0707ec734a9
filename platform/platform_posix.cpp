// POSIX implementation of the platform layer.
#include "platform/platform.h"

#include <dlfcn.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <limits>
#include <cmath>
#include <climits>
#include <cstring>
#include <new>

namespace vantrel {

void platform_time_text(char* out, size_t n)
{
    if (!out || n == 0)
        return;
    char buf[64];
    time_t now = time(nullptr);
    struct tm local;
    if (!localtime_r(&now, &local) || !asctime_r(&local, buf)) {
        buf[0] = 0;
    }
    size_t len = strlen(buf);
    if (len && buf[len - 1] == '\n')
        buf[--len] = 0;
    snprintf(out, n, "%s", buf);
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

static_assert(PLATFORM_PATH_MAX == PATH_MAX, "the path limit is the system's");

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

size_t platform_block_size(void* p)
{
    // The C++ heap is the C heap here (also under the sanitizers).
    return p ? malloc_usable_size(p) : 0;
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

// ---- files -----------------------------------------------------------------

int platform_truncate_file(FILE* f, long length)
{
    if (!f || length < 0 || fflush(f) != 0)
        return -1;
    return ftruncate(fileno(f), (off_t)length) == 0 ? 0 : -1;
}

// ---- clock -----------------------------------------------------------------
static milli_clock_func test_clock;
static void* test_clock_context;

static unsigned long long monotonic_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (unsigned long long)ts.tv_sec * 1000ULL + (unsigned long long)ts.tv_nsec / 1000000ULL;
}

// Taken by the first reader, at load at the latest: a static constructor of
// another source may read the clock before this file's statics exist.
static unsigned long long clock_origin()
{
    static const unsigned long long origin = monotonic_ms();
    return origin;
}
[[maybe_unused]] static const unsigned long long origin_at_load = clock_origin();

static unsigned int milli_uptime()
{
    if (test_clock)
        return test_clock(test_clock_context);
    return (unsigned int)(monotonic_ms() - clock_origin());
}

void set_milli_clock(milli_clock_func clock, void* context)
{
    test_clock = clock;
    test_clock_context = context;
}

double platform_cpu_seconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

// ---- memory ------------------------------------------------------------------
unsigned long long platform_peak_memory()
{
    struct rusage ru;
    if (getrusage(RUSAGE_SELF, &ru) != 0)
        return 0;
    return (unsigned long long)ru.ru_maxrss * 1024ULL;  // kilobytes on Linux
}

// ---- threads ---------------------------------------------------------------
namespace {
struct thread_start {
    thread_func f;
    void* arg;
};
}  // namespace

static void* thread_trampoline(void* p)
{
    thread_start start = *static_cast<thread_start*>(p);
    ::operator delete(p);
    start.f(start.arg);
    return nullptr;
}

int platform_create_thread(thread_func f, void* arg)
{
    if (!f)
        return EINVAL;
    void* mem = ::operator new(sizeof(thread_start), std::nothrow);
    if (!mem)
        return ENOMEM;
    thread_start* start = new (mem) thread_start{f, arg};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t id;
    int rc = pthread_create(&id, &attr, thread_trampoline, start);
    pthread_attr_destroy(&attr);
    if (rc != 0)
        ::operator delete(mem);
    return rc;
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

// ---- dynamic libraries -----------------------------------------------------
static char library_error[512];

void* platform_load_library(const char* path)
{
    if (!path)
        return nullptr;
    size_t len = strlen(path);
    if (len >= PLATFORM_PATH_MAX) {
        snprintf(library_error, sizeof library_error, "path of %zu characters is longer than the limit of %d", len,
                 PLATFORM_PATH_MAX - 1);
        return nullptr;
    }
    void* h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* e = dlerror();
        snprintf(library_error, sizeof library_error, "%s", e ? e : "unknown error");
    }
    return h;
}

void* platform_library_symbol(void* library, const char* name)
{
    if (!library || !name)
        return nullptr;
    return dlsym(library, name);
}

void platform_free_library(void* library)
{
    if (library)
        dlclose(library);
}

bool platform_library_loaded(const char* path)
{
    if (!path)
        return false;
    void* h = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (!h)
        return false;
    dlclose(h);
    return true;
}

const char* platform_library_error()
{
    return library_error;
}

}  // namespace vantrel

unsigned int get_milli_uptime()
{
    return vantrel::milli_uptime();
}
