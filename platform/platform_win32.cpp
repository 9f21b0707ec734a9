// Windows implementation of the platform layer's system calls.
#include <io.h>
#include <winsock2.h>  // before windows.h, which would bring the old winsock.h
#include <ws2tcpip.h>
#include <windows.h>
#include <psapi.h>
#include <process.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "platform/platform.h"
#include "platform/platform_local.h"

namespace vantrel {

static_assert(PLATFORM_PATH_MAX == MAX_PATH, "the path limit is the system's");

bool system_local_time(struct tm* out)
{
    time_t now = time(nullptr);
    return localtime_s(out, &now) == 0;
}

size_t platform_block_size(void* p)
{
    // ::operator new takes its blocks from the C runtime's heap.
    return p ? _msize(p) : 0;
}

// ---- files -----------------------------------------------------------------

int platform_truncate_file(FILE* f, long length)
{
    if (!f || length < 0 || fflush(f) != 0)
        return -1;
    return _chsize_s(_fileno(f), length) == 0 ? 0 : -1;
}

int platform_read_until(FILE* f, char* out, int max, int stop)
{
    if (!f || !out || max < 1)
        return 0;
    int n = 0;
    _lock_file(f);
    for (int c; n < max && (c = _getc_nolock(f)) != EOF;) {
        out[n++] = (char)c;
        if (c == (unsigned char)stop)
            break;
    }
    _unlock_file(f);
    return n;
}

// ---- programs ----------------------------------------------------------------
int platform_run_command(const char* command)
{
    if (!command)
        return -1;
    // cmd /c drops the first and the last quote of its line: one more pair
    // keeps a quoted program path and quoted redirections intact.
    size_t n = strlen(command);
    char* line = static_cast<char*>(::operator new(n + 3, std::nothrow));
    if (!line)
        return -1;
    line[0] = '"';
    memcpy(line + 1, command, n);
    line[n + 1] = '"';
    line[n + 2] = 0;
    int status = system(line);
    ::operator delete(line);
    return status;
}

// ---- clock -----------------------------------------------------------------
static unsigned long long counter_ms()
{
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (unsigned long long)(now.QuadPart / (frequency.QuadPart / 1000));
}

// Taken by the first reader, at load at the latest (see the POSIX source).
static unsigned long long clock_origin()
{
    static const unsigned long long origin = counter_ms();
    return origin;
}
[[maybe_unused]] static const unsigned long long origin_at_load = clock_origin();

unsigned int system_milli_uptime()
{
    return (unsigned int)(counter_ms() - clock_origin());
}

double platform_cpu_seconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    auto seconds = [](const FILETIME& t) {
        return (double)(((unsigned long long)t.dwHighDateTime << 32) | t.dwLowDateTime) * 1e-7;
    };
    return seconds(kernel) + seconds(user);
}

// ---- memory ------------------------------------------------------------------
unsigned long long platform_peak_memory()
{
    PROCESS_MEMORY_COUNTERS pmc;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc))
        return 0;
    return (unsigned long long)pmc.PeakWorkingSetSize;
}

int platform_reset_peak_memory()
{
    return -1;  // the system keeps only the lifetime peak
}

// ---- threads ---------------------------------------------------------------
namespace {
struct thread_start {
    thread_func f;
    void* arg;
};
}  // namespace

static unsigned __stdcall thread_trampoline(void* p)
{
    thread_start start = *static_cast<thread_start*>(p);
    ::operator delete(p);
    return start.f(start.arg);
}

int platform_start_thread(thread_func f, void* arg, void** handle)
{
    if (!handle)
        return EINVAL;
    *handle = nullptr;
    if (!f)
        return EINVAL;
    void* mem = ::operator new(sizeof(thread_start), std::nothrow);
    if (!mem)
        return ENOMEM;
    thread_start* start = new (mem) thread_start{f, arg};
    uintptr_t h = _beginthreadex(nullptr, 0, thread_trampoline, start, 0, nullptr);
    if (h == 0) {
        int rc = errno ? errno : EAGAIN;
        ::operator delete(mem);
        return rc;
    }
    *handle = reinterpret_cast<void*>(h);
    return 0;
}

int platform_create_thread(thread_func f, void* arg)
{
    void* handle = nullptr;
    int rc = platform_start_thread(f, arg, &handle);
    if (rc == 0)
        CloseHandle(static_cast<HANDLE>(handle));  // detached: nobody waits for it
    return rc;
}

int platform_join_thread(void* handle)
{
    if (!handle)
        return EINVAL;
    DWORD rc = WaitForSingleObject(static_cast<HANDLE>(handle), INFINITE);
    CloseHandle(static_cast<HANDLE>(handle));
    return rc == WAIT_OBJECT_0 ? 0 : EINVAL;
}

int platform_processor_count()
{
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return si.dwNumberOfProcessors < 1 ? 1 : (int)si.dwNumberOfProcessors;
}

// ---- dynamic libraries -----------------------------------------------------
static char library_error[512];

static void keep_error(DWORD code)
{
    char text[400] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                   sizeof text, nullptr);
    size_t len = strlen(text);
    while (len && (text[len - 1] == '\n' || text[len - 1] == '\r'))
        text[--len] = 0;
    snprintf(library_error, sizeof library_error, "error %lu: %s", (unsigned long)code, text);
}

// The full path with Windows separators, as the loader compares it; false
// when it does not fit.
static bool native_path(const char* path, char* out, DWORD n)
{
    DWORD len = GetFullPathNameA(path, n, out, nullptr);
    if (len == 0 || len >= n)
        return false;
    for (char* c = out; *c; ++c)
        if (*c == '/')
            *c = '\\';
    return true;
}

void* platform_load_library(const char* path)
{
    char full[MAX_PATH];
    if (!path)
        return nullptr;
    size_t len = strlen(path);
    if (len >= PLATFORM_PATH_MAX || !native_path(path, full, sizeof full)) {
        snprintf(library_error, sizeof library_error, "path of %zu characters is longer than the limit of %d", len,
                 PLATFORM_PATH_MAX - 1);
        return nullptr;
    }
    HMODULE h = LoadLibraryA(full);
    if (!h)
        keep_error(GetLastError());
    return reinterpret_cast<void*>(h);
}

void* platform_library_symbol(void* library, const char* name)
{
    if (!library || !name)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void platform_free_library(void* library)
{
    if (library)
        FreeLibrary(static_cast<HMODULE>(library));
}

bool platform_library_loaded(const char* path)
{
    char full[MAX_PATH];
    HMODULE h = nullptr;
    return path && native_path(path, full, sizeof full) &&
           GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, full, &h) && h;
}

const char* platform_library_error()
{
    return library_error;
}

// ---- sockets -----------------------------------------------------------------
// Winsock 2 behind the same calls. Socket handles are small numbers in
// practice and are kept as ints like POSIX descriptors.
#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

static int socket_error_code;
static char socket_error_text[64];

static int socket_failed()
{
    socket_error_code = WSAGetLastError();
    return -1;
}

// Winsock starts with the first socket and stays up for the process.
static bool winsock_ready()
{
    static int started = -1;
    if (started < 0) {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0 ? 1 : 0;
    }
    return started == 1;
}

int platform_socket(int type)
{
    int kind = type == PLATFORM_SOCK_STREAM ? SOCK_STREAM : type == PLATFORM_SOCK_DGRAM ? SOCK_DGRAM : -1;
    if (kind < 0 || !winsock_ready()) {
        socket_error_code = WSAEINVAL;
        return -1;
    }
    SOCKET s = socket(AF_INET, kind, 0);
    if (s == INVALID_SOCKET)
        return socket_failed();
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    if (kind == SOCK_DGRAM) {
        // A datagram answered by "port unreachable" must not fail the next
        // receive of an unconnected socket, as it does on POSIX systems.
        BOOL off = FALSE;
        DWORD bytes = 0;
        WSAIoctl(s, SIO_UDP_CONNRESET, &off, sizeof off, nullptr, 0, &bytes, nullptr, nullptr);
    }
    return (int)s;
}

int platform_close_socket(int sock)
{
    return sock >= 0 && closesocket((SOCKET)sock) == 0 ? 0 : -1;
}

int platform_set_nonblocking(int sock)
{
    u_long on = 1;
    return ioctlsocket((SOCKET)sock, FIONBIO, &on) == 0 ? 0 : socket_failed();
}

int platform_bind(int sock, const sockaddr_in* addr)
{
    if (!addr)
        return -1;
    return bind((SOCKET)sock, reinterpret_cast<const sockaddr*>(addr), sizeof *addr) == 0 ? 0 : socket_failed();
}

int platform_connect(int sock, const sockaddr_in* addr)
{
    if (!addr)
        return -1;
    return connect((SOCKET)sock, reinterpret_cast<const sockaddr*>(addr), sizeof *addr) == 0 ? 0 : socket_failed();
}

int platform_listen(int sock, int backlog)
{
    return listen((SOCKET)sock, backlog) == 0 ? 0 : socket_failed();
}

unsigned short platform_local_port(int sock)
{
    sockaddr_in a;
    int len = sizeof a;
    if (getsockname((SOCKET)sock, reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET)
        return 0;
    return ntohs(a.sin_port);
}

int platform_accept(int sock, sockaddr_in* from)
{
    sockaddr_in a;
    int len = sizeof a;
    SOCKET s = accept((SOCKET)sock, reinterpret_cast<sockaddr*>(&a), &len);
    if (s == INVALID_SOCKET)
        return socket_failed();
    if (from)
        *from = a;
    return (int)s;
}

int platform_sendto(int sock, const void* buf, int len, const sockaddr_in* to)
{
    if (!buf || len < 0)
        return -1;
    const char* bytes = static_cast<const char*>(buf);
    int n = to ? sendto((SOCKET)sock, bytes, len, 0, reinterpret_cast<const sockaddr*>(to), sizeof *to)
               : send((SOCKET)sock, bytes, len, 0);
    return n == SOCKET_ERROR ? socket_failed() : n;
}

int platform_recvfrom(int sock, void* buf, int len, sockaddr_in* from)
{
    if (!buf || len < 0)
        return -1;
    sockaddr_in a;
    int alen = sizeof a;
    memset(&a, 0, sizeof a);
    int n = recvfrom((SOCKET)sock, static_cast<char*>(buf), len, 0, reinterpret_cast<sockaddr*>(&a), &alen);
    if (n == SOCKET_ERROR) {
        int e = WSAGetLastError();
        if (e == WSAEWOULDBLOCK)
            return PLATFORM_WOULD_BLOCK;
        if (e != WSAEMSGSIZE)
            return socket_failed();
        // A datagram that did not fit: its length is not reported here, only
        // that it was longer than the buffer.
        n = len < INT_MAX ? len + 1 : INT_MAX;
    }
    if (from)
        *from = a;
    return n;
}

int platform_poll_read(const int* socks, int n, int wait_ms, bool* ready)
{
    enum { max_socks = 64 };
    if (n < 0 || n > max_socks || (n > 0 && (!socks || !ready)))
        return -1;
    if (n == 0) {  // WSAPoll refuses an empty set
        Sleep(wait_ms < 0 ? INFINITE : (DWORD)wait_ms);
        return 0;
    }
    WSAPOLLFD fds[max_socks];
    for (int i = 0; i < n; ++i) {
        fds[i].fd = (SOCKET)socks[i];
        fds[i].events = POLLRDNORM;
        fds[i].revents = 0;
    }
    int r = WSAPoll(fds, (ULONG)n, wait_ms < 0 ? -1 : wait_ms);
    if (r == SOCKET_ERROR)
        return socket_failed();
    int count = 0;
    for (int i = 0; i < n; ++i) {
        ready[i] = (fds[i].revents & (POLLRDNORM | POLLERR | POLLHUP)) != 0;
        count += ready[i];
    }
    return count;
}

bool platform_parse_ipv4(const char* text, unsigned int* addr)
{
    if (!text)
        return false;
    unsigned long a = inet_addr(text);
    if (a == INADDR_NONE)
        return false;
    if (addr)
        *addr = (unsigned int)a;
    return true;
}

int platform_resolve_host(const char* host, unsigned int* addr)
{
    if (!host || !addr || !winsock_ready())
        return -1;
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    addrinfo* list = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &list) != 0 || !list)
        return socket_failed();
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
    snprintf(socket_error_text, sizeof socket_error_text, "winsock error %d", socket_error_code);
    return socket_error_text;
}

}  // namespace vantrel
