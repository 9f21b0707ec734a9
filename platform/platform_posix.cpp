// POSIX implementation of the platform layer.
#include "platform/platform.h"
#include "platform/platform_local.h"
#include "platform/platform_net.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vantrel {

static_assert(PLATFORM_PATH_MAX == PATH_MAX, "the path limit is the system's");

bool system_local_time(struct tm* out)
{
    time_t now = time(nullptr);
    return localtime_r(&now, out) != nullptr;
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

int platform_read_until(FILE* f, char* out, int max, int stop)
{
    if (!f || !out || max < 1)
        return 0;
    int n = 0;
    flockfile(f);
    for (int c; n < max && (c = getc_unlocked(f)) != EOF;) {
        out[n++] = (char)c;
        if (c == (unsigned char)stop)
            break;
    }
    funlockfile(f);
    return n;
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
    // The high-water mark that platform_reset_peak_memory lowers, where the
    // system keeps one.
    if (FILE* f = fopen("/proc/self/status", "r")) {
        char line[256];
        long long kb = -1;
        while (kb < 0 && fgets(line, sizeof line, f))
            if (!strncmp(line, "VmHWM:", 6)) {
                const char* at = line + 6;
                while (*at == ' ' || *at == '\t')
                    ++at;
                if (!scan_integer(at, &kb))
                    kb = -1;
            }
        fclose(f);
        if (kb >= 0)
            return (unsigned long long)kb * 1024ULL;
    }
    struct rusage ru;
    if (getrusage(RUSAGE_SELF, &ru) != 0)
        return 0;
    return (unsigned long long)ru.ru_maxrss * 1024ULL;  // kilobytes on Linux
}

int platform_reset_peak_memory()
{
    // Freed heap memory goes back to the system first, or the mark would
    // start at what the heap keeps from earlier work.
    malloc_trim(0);
    int fd = open("/proc/self/clear_refs", O_WRONLY);
    if (fd < 0)
        return -1;
    ssize_t n = write(fd, "5", 1);
    close(fd);
    return n == 1 ? 0 : -1;
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

int platform_create_thread(thread_func f, void* arg)
{
    void* handle = nullptr;
    int rc = platform_start_thread(f, arg, &handle);
    if (rc == 0) {
        pthread_t* id = static_cast<pthread_t*>(handle);
        pthread_detach(*id);  // nobody waits for it
        ::operator delete(id);
    }
    return rc;
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

// ---- sockets -----------------------------------------------------------------
int platform_socket(int type)
{
    int kind = type == PLATFORM_SOCK_STREAM ? SOCK_STREAM : type == PLATFORM_SOCK_DGRAM ? SOCK_DGRAM : -1;
    if (kind < 0) {
        errno = EINVAL;
        return -1;
    }
    return socket(AF_INET, kind | SOCK_CLOEXEC, 0);
}

int platform_close_socket(int sock)
{
    return sock >= 0 ? close(sock) : -1;
}

int platform_set_nonblocking(int sock)
{
    int flags = fcntl(sock, F_GETFL, 0);
    if (flags < 0)
        return -1;
    return fcntl(sock, F_SETFL, flags | O_NONBLOCK) == 0 ? 0 : -1;
}

int platform_bind(int sock, const sockaddr_in* addr)
{
    if (!addr) {
        errno = EINVAL;
        return -1;
    }
    // A restarted game takes its port back at once.
    int on = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    return bind(sock, reinterpret_cast<const sockaddr*>(addr), sizeof *addr) == 0 ? 0 : -1;
}

int platform_connect(int sock, const sockaddr_in* addr)
{
    if (!addr) {
        errno = EINVAL;
        return -1;
    }
    return connect(sock, reinterpret_cast<const sockaddr*>(addr), sizeof *addr) == 0 ? 0 : -1;
}

int platform_listen(int sock, int backlog)
{
    return listen(sock, backlog) == 0 ? 0 : -1;
}

unsigned short platform_local_port(int sock)
{
    sockaddr_in a;
    socklen_t len = sizeof a;
    if (getsockname(sock, reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET)
        return 0;
    return ntohs(a.sin_port);
}

int platform_accept(int sock, sockaddr_in* from)
{
    sockaddr_in a;
    socklen_t len = sizeof a;
    int s = accept4(sock, reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC);
    if (s >= 0 && from)
        *from = a;
    return s;
}

int platform_sendto(int sock, const void* buf, int len, const sockaddr_in* to)
{
    if (!buf || len < 0) {
        errno = EINVAL;
        return -1;
    }
    ssize_t n;
    do {
        n = to ? sendto(sock, buf, (size_t)len, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(to), sizeof *to)
               : send(sock, buf, (size_t)len, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : (int)n;
}

int platform_recvfrom(int sock, void* buf, int len, sockaddr_in* from)
{
    if (!buf || len < 0) {
        errno = EINVAL;
        return -1;
    }
    sockaddr_in a;
    socklen_t alen = sizeof a;
    memset(&a, 0, sizeof a);
    ssize_t n;
    // MSG_TRUNC makes a datagram socket report the datagram's full length.
    do {
        n = recvfrom(sock, buf, (size_t)len, MSG_TRUNC, reinterpret_cast<sockaddr*>(&a), &alen);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? PLATFORM_WOULD_BLOCK : -1;
    if (from)
        *from = a;
    return n > INT_MAX ? INT_MAX : (int)n;
}

int platform_poll_read(const int* socks, int n, int wait_ms, bool* ready)
{
    enum { max_socks = 64 };
    if (n < 0 || n > max_socks || (n > 0 && (!socks || !ready))) {
        errno = EINVAL;
        return -1;
    }
    pollfd fds[max_socks];
    for (int i = 0; i < n; ++i) {
        fds[i].fd = socks[i];
        fds[i].events = POLLIN;
        fds[i].revents = 0;
    }
    int r = poll(fds, (nfds_t)n, wait_ms < 0 ? -1 : wait_ms);
    if (r < 0)
        return errno == EINTR ? 0 : -1;
    int count = 0;
    for (int i = 0; i < n; ++i) {
        // An error or hang-up is reported as readable: the read then says what happened.
        ready[i] = (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
        count += ready[i];
    }
    return count;
}

bool platform_parse_ipv4(const char* text, unsigned int* addr)
{
    if (!text)
        return false;
    in_addr_t a = inet_addr(text);
    if (a == INADDR_NONE)
        return false;
    if (addr)
        *addr = (unsigned int)a;
    return true;
}

int platform_resolve_host(const char* host, unsigned int* addr)
{
    if (!host || !addr)
        return -1;
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    addrinfo* list = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &list) != 0 || !list) {
        errno = EHOSTUNREACH;
        return -1;
    }
    *addr = (unsigned int)reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(list);
    return 0;
}

void platform_ipv4_text(unsigned int addr, char* out)
{
    if (!out)
        return;
    in_addr a;
    a.s_addr = addr;
    if (!inet_ntop(AF_INET, &a, out, 16))
        out[0] = 0;
}

const char* platform_socket_error()
{
    return strerror(errno);
}

}  // namespace vantrel
