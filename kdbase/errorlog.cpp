#include "kdbase/errorlog.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace {
const char* log_file = "errorlog";
FILE* log_stream;
int log_priority = 10;
el_display_func display_message;
el_display_func display_status;
el_listener_func log_listener;
}  // namespace

extern "C" {

void errorlog(const char* file, int line, int priority, const char* format, ...)
{
    if (priority > log_priority)
        return;

    char message[256];
    message[0] = 0;
    if (format) {
        va_list args;
        va_start(args, format);
        vsnprintf(message, sizeof message, format, args);
        va_end(args);
    }

    if (log_listener)
        log_listener(priority, message);
    if (FILE* f = log_stream ? log_stream : (log_file[0] ? fopen(log_file, "a+") : nullptr)) {
        char stamp[vantrel::PATH_MAX_FNAME + vantrel::PATH_MAX_EXT + 64];
        vantrel::platform_time_text(stamp, 32);
        if (priority > 9) {
            char fname[vantrel::PATH_MAX_FNAME], ext[vantrel::PATH_MAX_EXT];
            vantrel::split_path(file ? file : "", nullptr, nullptr, fname, ext);
            size_t len = strlen(stamp);
            snprintf(stamp + len, sizeof stamp - len, ": %s%s(%d)", fname, ext, line);
        }
        fprintf(f, "[%s] %s\n", stamp, message);
        if (f == log_stream)
            fflush(f);
        else
            fclose(f);
    }

    if (priority > 4 && display_status) {
        char status[257];
        snprintf(status, sizeof status, "%s\n", message);
        display_status(status);
    }
    if (priority == EL_CRITICAL) {
        if (display_message)
            display_message(message);
        exit(1);
    }
    if (priority == EL_SHOWUSER && display_message)
        display_message(message);
}

void set_log_listener(el_listener_func f)
{
    log_listener = f;
}

void set_log_stream(FILE* f)
{
    log_stream = f;
}

void set_logfile(const char* name)
{
    log_file = name ? name : "errorlog";
}

void set_log_priority(int p)
{
    log_priority = p;
}

void set_display_message_func(el_display_func f)
{
    display_message = f;
}

void set_display_status_func(el_display_func f)
{
    display_status = f;
}

}  // extern "C"
