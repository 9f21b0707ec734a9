// POSIX implementation of the platform layer.
#include "platform/platform.h"
#include "platform/platform_local.h"

#include <dlfcn.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vantrel {

static_assert(PLATFORM_PATH_MAX == PATH_MAX, "the path limit is the system's");

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

size_t platform_block_size(void* p)
{
    // The C++ heap is the C heap here (also under the sanitizers).
    return p ? malloc_usable_size(p) : 0;
}

// ---- files -----------------------------------------------------------------

int platform_truncate_file(FILE* f, long length)
{
    if (!f || length < 0 || fflush(f) != 0)
        return -1;
    return ftruncate(fileno(f), (off_t)length) == 0 ? 0 : -1;
}

// ---- programs ----------------------------------------------------------------
int platform_run_command(const char* command)
{
    if (!command)
        return -1;
    int status = system(command);
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---- clock -----------------------------------------------------------------
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

unsigned int system_milli_uptime()
{
    return (unsigned int)(monotonic_ms() - clock_origin());
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

int platform_start_thread(thread_func f, void* arg, void** handle)
{
    if (!handle)
        return EINVAL;
    *handle = nullptr;
    if (!f)
        return EINVAL;
    void* mem = ::operator new(sizeof(thread_start), std::nothrow);
    pthread_t* id = static_cast<pthread_t*>(::operator new(sizeof(pthread_t), std::nothrow));
    if (!mem || !id) {
        ::operator delete(mem);
        ::operator delete(id);
        return ENOMEM;
    }
    thread_start* start = new (mem) thread_start{f, arg};
    int rc = pthread_create(id, nullptr, thread_trampoline, start);
    if (rc != 0) {
        ::operator delete(mem);
        ::operator delete(id);
        return rc;
    }
    *handle = id;
    return 0;
}

int platform_join_thread(void* handle)
{
    if (!handle)
        return EINVAL;
    pthread_t* id = static_cast<pthread_t*>(handle);
    int rc = pthread_join(*id, nullptr);
    ::operator delete(id);
    return rc;
}

int platform_processor_count()
{
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1 : (n > 1024 ? 1024 : (int)n);
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
