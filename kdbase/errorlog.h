/// @file
/// The error log: one time-stamped line per failure, warning or progress note,
/// shown to the user through host callbacks by priority.
/// @ingroup kdbase
#pragma once
/// @addtogroup kdbase
/// @{

#include <cinttypes>
#include <cstdio>

#include "platform/export.h"

/// Priorities: smaller is more severe.
enum {
    EL_CRITICAL = 1,   ///< shown through the message callback, then exit(1)
    EL_SHOWUSER = 2,   ///< shown through the message callback
    EL_MAJOR = 3,
    EL_MINOR = 4,
    EL_STATUS = 5,     ///< priorities above 4 reach the status callback
    EL_MINDEBUG = 10,  ///< above 9 the line carries the source file and line
};

/// Shows one message of the log to the user (a status line, a message box).
typedef void (*el_display_func)(char* message);

extern "C" {
/// Logs one message (cut to 255 characters) when priority <= the threshold.
/// file is the caller's source path; only its name and extension are written.
VANTREL_API void errorlog(const char* file, int line, int priority, const char* format, ...)
    VANTREL_PRINTF(4, 5);
/// The pointer is kept, not copied: name must stay valid. Default "errorlog";
/// an empty name writes no file.
VANTREL_API void set_logfile(const char* name);
/// Sends the log to an open stream (stderr, say) instead of the file; the
/// stream stays the caller's. Null goes back to the file.
VANTREL_API void set_log_stream(FILE* f);
///@{
/// Receives every message that passes the priority threshold, with its
/// priority (for tools that show failures themselves); null removes it.
typedef void (*el_listener_func)(int priority, const char* message);
VANTREL_API void set_log_listener(el_listener_func f);
///@}
/// Messages with a priority greater than p are dropped. Default 10.
VANTREL_API void set_log_priority(int p);
/// Callback for EL_CRITICAL and EL_SHOWUSER; null removes it.
VANTREL_API void set_display_message_func(el_display_func f);
/// Callback for priorities above 4 (message with "\\n" appended); null removes it.
VANTREL_API void set_display_status_func(el_display_func f);
}

/// Logs with the caller's source location.
#define ELOG(priority, ...) errorlog(__FILE__, __LINE__, (priority), __VA_ARGS__)

/// The argument check: logs "invalid pointer: \<expr\>=<hex value>" at EL_MINDEBUG
/// and returns retval from the enclosing function when expr is null.
#define CHECK_PTR(expr, retval)                                                               \
    do {                                                                                      \
        if (!(expr)) {                                                                        \
            ELOG(EL_MINDEBUG, "invalid pointer: %s=%" PRIxPTR, #expr, (uintptr_t)(expr)); \
            return retval;                                                                    \
        }                                                                                     \
    } while (0)

/// The same for functions without a result.
#define CHECK_PTR_V(expr) CHECK_PTR(expr, )
/// @}
