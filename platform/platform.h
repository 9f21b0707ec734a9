/// @file
/// The platform layer: every call into the operating system goes through here.
/// One source per platform implements it (platform_posix.cpp on Linux).
/// @ingroup platform
#pragma once
/// @addtogroup platform
/// @{

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/export.h"

/// The millisecond clock keeps C linkage so hosts and module libraries find it
/// under its plain name: milliseconds since the process started, on the
/// monotonic clock (so it does not wrap with the machine's uptime). Declared
/// in namespace vantrel too (below).
extern "C" VANTREL_API unsigned int get_milli_uptime();

namespace vantrel {

// ---- time text -----------------------------------------------------------
/// Writes the local time as ctime gives it, without the trailing newline
/// ("Sun Dec  6 11:01:03 2026"), into out (at least 26 bytes). Always terminated.
VANTREL_API void platform_time_text(char* out, size_t n);

// ---- paths -----------------------------------------------------------------
/// Buffer sizes for split_path, as the Windows runtime defines them.
enum { PATH_MAX_DRIVE = 3, PATH_MAX_DIR = 256, PATH_MAX_FNAME = 256, PATH_MAX_EXT = 256, PATH_MAX_PATH = 260 };

// The longest path this system opens, in bytes with the terminating zero:
// MAX_PATH of the Windows calls taking narrow texts, PATH_MAX elsewhere. The
// library never cuts a path to fit a buffer: a longer one is refused where
// it is given.
#if defined(_WIN32)
enum { PLATFORM_PATH_MAX = 260 };
#else
enum { PLATFORM_PATH_MAX = 4096 };
#endif

/// Where the parts of path begin, without copying or cutting anything: *dir
/// just after a drive letter ("C:"), *fname after the last '/' or '\\\\', *ext at
/// the last dot of the file name (or its end). Any output may be null; a null
/// path is taken as "".
VANTREL_API void path_parts(const char* path, const char** dir, const char** fname, const char** ext);

/// Splits a path into drive, directory, file name and extension. Both '/' and
/// '\\\\' separate directories; a leading drive letter ("C:") goes to drive (on
/// this platform it is only split off, never used). The directory keeps its
/// trailing separator, the extension its dot. Any output may be null; each is
/// cut to its PATH_MAX_* size and always terminated.
VANTREL_API void split_path(const char* path, char* drive, char* dir, char* fname, char* ext);

/// Joins the parts (any may be null or empty) into out (PATH_MAX_PATH bytes): a
/// separator is added after a directory without one and a dot before an
/// extension without one. Cut to PATH_MAX_PATH - 1 characters.
VANTREL_API void make_path(char* out, const char* drive, const char* dir, const char* fname, const char* ext);

// ---- heap ------------------------------------------------------------------
/// Usable bytes of a block from the global operator new (at least what was asked for),
/// so a block can be resized without knowing its original size; 0 for null.
VANTREL_API size_t platform_block_size(void* p);

// ---- text input ------------------------------------------------------------
/// Reads a line like fgets (at most n - 1 characters, keeps the '\\n'), and turns
/// a "\\r\\n" ending into "\\n" as text mode on Windows does. A lone '\\r' inside a
/// line stays. Returns buf, or null at end of file / on error with nothing read
/// (always for n < 2, where nothing fits).
VANTREL_API char* read_line(char* buf, int n, FILE* f);

/// The one decimal number scanner of the library, independent of the locale:
/// [+|-] digits [. digits] [(e|E) [+|-] digits], with at least one digit before
/// or after the dot, no leading white space, no "inf", "nan" or hexadecimal.
/// Returns the number of characters used (0 when s does not start with a
/// number; *value is then 0). value may be null. The value is the number
/// correctly rounded, whatever the count of digits; beyond the range it is
/// infinity or zero (with the sign), as strtod gives.
VANTREL_API size_t scan_decimal(const char* s, double* value);
/// The same, rounded once, straight to float (as strtof; never through double).
VANTREL_API size_t scan_decimal_float(const char* s, float* value);

/// The integer form: [+|-] digits. Returns characters used, 0 when none. Values
/// beyond the range of long long saturate.
VANTREL_API size_t scan_integer(const char* s, long long* value);

// ---- files -----------------------------------------------------------------
/// Flushes the stream and cuts its file to length bytes (a rewrite that came
/// out shorter than the old contents). 0, or -1 when the file cannot be cut.
VANTREL_API int platform_truncate_file(FILE* f, long length);
/// Reads bytes of f into out up to and including the first one equal to stop,
/// at most max, taking the stream's lock once rather than once a byte (a
/// field that ends in a terminator, read where the stream may be shared).
/// Returns the bytes stored: fewer than max and without stop at the end of
/// the file or on an error; 0 for a null stream or buffer or max < 1.
VANTREL_API int platform_read_until(FILE* f, char* out, int max, int stop);

// ---- programs ----------------------------------------------------------------
/// Runs a command line through the system's shell (redirections allowed;
/// quote paths with double quotes). Returns the program's exit code, or -1
/// when it could not be run or did not exit normally.
VANTREL_API int platform_run_command(const char* command);

// ---- clock -----------------------------------------------------------------
using ::get_milli_uptime;

///@{
/// Replaces the clock (for tests and replays): while set, get_milli_uptime
/// returns clock(context). Null restores the real clock.
typedef unsigned int (*milli_clock_func)(void* context);
VANTREL_API void set_milli_clock(milli_clock_func clock, void* context);
///@}

/// Processor time used by the process so far, in seconds: the cost of work
/// on a machine shared with other processes.
VANTREL_API double platform_cpu_seconds();

// ---- memory ------------------------------------------------------------------
/// The largest resident size of the process so far, in bytes (0 when unknown).
VANTREL_API unsigned long long platform_peak_memory();
/// Gives freed heap memory back to the system and lowers that mark to the
/// present resident size, so that the peak of one piece of work can be taken
/// in a process that did others before. 0, or -1 where the system cannot
/// (the mark then keeps the lifetime maximum).
VANTREL_API int platform_reset_peak_memory();

// ---- threads ---------------------------------------------------------------
///@{
/// Starts a detached thread running f(arg). Returns 0, or the system's error code.
typedef unsigned int (*thread_func)(void* arg);
VANTREL_API int platform_create_thread(thread_func f, void* arg);
///@}
/// Starts a thread running f(arg) that must be joined: *handle receives it.
/// Returns 0, or the system's error code (*handle is then null).
VANTREL_API int platform_start_thread(thread_func f, void* arg, void** handle);
/// Waits for a thread from platform_start_thread to end and releases its
/// handle. 0, or the system's error code.
VANTREL_API int platform_join_thread(void* handle);
/// The number of processors the process may run on (at least 1).
VANTREL_API int platform_processor_count();

// ---- key state -------------------------------------------------------------
///@{
/// The keyboard as a table of 256 virtual keys that the host (or a test) fills;
/// all keys are up until set. Returns nonzero while the key is down.
VANTREL_API short platform_key_state(int vkey);
VANTREL_API void platform_set_key_state(int vkey, bool down);
///@}

// ---- dynamic libraries -----------------------------------------------------
///@{
/// Loads a shared library (symbols resolved at once, kept local). Returns the
/// handle, or null; platform_library_error() then says why (also for a path of
/// PLATFORM_PATH_MAX characters or more, refused as it is).
VANTREL_API void* platform_load_library(const char* path);
VANTREL_API void* platform_library_symbol(void* library, const char* name);
VANTREL_API void platform_free_library(void* library);
///@}
///@{
/// True when the library at path is loaded in the process now (does not load it).
VANTREL_API bool platform_library_loaded(const char* path);
VANTREL_API const char* platform_library_error();
///@}

// ---- sockets -----------------------------------------------------------------
// IPv4 sockets for the game links. The system's sockaddr_in, timeval and
// htons/ntohs come with platform/platform_net.h, which only the network layer
// includes. Sockets are plain ints, -1 when there is none. Calls that fail
// return -1; platform_socket_error() then says why.
}  // namespace vantrel
struct sockaddr_in;
namespace vantrel {

enum { PLATFORM_SOCK_STREAM = 1, PLATFORM_SOCK_DGRAM = 2 };
/// recvfrom found nothing waiting on a non-blocking socket (not a failure).
enum { PLATFORM_WOULD_BLOCK = -2 };

///@{
/// A new IPv4 socket of the given kind (PLATFORM_SOCK_*), closed on exec.
VANTREL_API int platform_socket(int type);
VANTREL_API int platform_close_socket(int sock);
///@}
///@{
/// Sends and receives return at once from now on. 0 / -1.
VANTREL_API int platform_set_nonblocking(int sock);
VANTREL_API int platform_bind(int sock, const sockaddr_in* addr);
VANTREL_API int platform_connect(int sock, const sockaddr_in* addr);
VANTREL_API int platform_listen(int sock, int backlog);
///@}
/// The local port of a bound socket (host order), or 0.
VANTREL_API unsigned short platform_local_port(int sock);
/// The accepted socket, or -1; from (may be null) gets the peer's address.
VANTREL_API int platform_accept(int sock, sockaddr_in* from);
/// Sends len bytes to to, or to the connected peer when to is null (only on a
/// socket that was connected). Never raises SIGPIPE. Bytes sent, or -1.
VANTREL_API int platform_sendto(int sock, const void* buf, int len, const sockaddr_in* to);
/// Receives one datagram (or stream bytes) into buf, at most len bytes; from
/// (may be null) gets the sender. Returns the datagram's full length, which is
/// more than len when it did not fit (the rest is lost), 0 for a closed stream
/// or an empty datagram, PLATFORM_WOULD_BLOCK when nothing waits, or -1.
VANTREL_API int platform_recvfrom(int sock, void* buf, int len, sockaddr_in* from);
/// Waits until one of the n sockets can be read or wait_ms passes (negative:
/// no limit; with n == 0 it just sleeps). ready[i] tells which. Returns the
/// number of readable sockets, 0 when none (also when a signal cut the wait
/// short), or -1.
VANTREL_API int platform_poll_read(const int* socks, int n, int wait_ms, bool* ready);
/// The address of a dotted-quad text (network order) as inet_addr reads it;
/// false for a text it rejects or for the broadcast address.
VANTREL_API bool platform_parse_ipv4(const char* text, unsigned int* addr);
/// The first IPv4 address of a host name (network order). 0 / -1.
VANTREL_API int platform_resolve_host(const char* host, unsigned int* addr);
/// The dotted-quad text of an address (network order) into out (16 bytes).
VANTREL_API void platform_ipv4_text(unsigned int addr, char* out);
/// The text of the last socket failure.
VANTREL_API const char* platform_socket_error();

}  // namespace vantrel
/// @}
