// The log functions of scripts.
#include <cstdarg>
#include <cstring>
#include <initializer_list>

#include "base_script/script_func.h"
#include "base_script/script_sets.h"
#include "platform/platform.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/str_const.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

// Longest format used; a script's quoted text is at most 1024 characters.
enum { FORMAT_MAX = 1024 };

void slog(int priority, const char* format, ...);
void script_set_logfile(const char* name);
void script_set_log_priority(int p);

script_func slog_f("slog", slog, "v=is*");
script_func set_logfile_f("set_logfile", script_set_logfile, "v=s");
script_func set_log_priority_f("set_log_priority", script_set_log_priority, "v=i");

const str_const_t el_constants[] = {
    {"EL_CRITICAL", EL_CRITICAL}, {"EL_SHOWUSER", EL_SHOWUSER}, {"EL_MAJOR", EL_MAJOR},
    {"EL_MINOR", EL_MINOR},       {"EL_STATUS", EL_STATUS},     {"EL_MINDEBUG", EL_MINDEBUG},
    {"", -1},
};

bool is_integer_type(r_type t)
{
    return t == r_char || t == r_uchar8 || t == r_ushort16 || t == r_int || t == r_uint32;
}

// Whether every conversion of fmt has an argument of a fitting kind among the
// extras the script passed (the binding leaves their types in slog_f), so a
// mistyped format in a script cannot read what was never passed.
bool format_fits(const char* fmt)
{
    int k = 2;  // the extras follow the priority and the format
    for (const char* p = fmt; *p; ++p) {
        if (*p != '%')
            continue;
        ++p;
        if (*p == '%')
            continue;
        if (!*p)
            return true;  // a trailing "%" stays text
        p += strspn(p, "-+ #0");
        p += strspn(p, "0123456789");
        if (*p == '.') {
            ++p;
            p += strspn(p, "0123456789");
        }
        if (!*p || k >= slog_f.nargs)
            return false;
        r_type t = slog_f.arg_types[k++];
        bool fits = false;
        if (strchr("diouxXc", *p))
            fits = is_integer_type(t);
        else if (strchr("eEfFgGaA", *p))
            fits = t == r_float;
        else if (*p == 's')
            fits = t == r_string || t == r_char_p;
        else if (*p == 'p')
            fits = t >= r_char_p && t <= r_var_p;
        if (!fits)
            return false;
    }
    return true;
}

void slog(int priority, const char* format, ...)
{
    if (!format)
        format = "";
    // A lone "%" at the end is text: doubled, the C library prints it as such.
    char fmt[FORMAT_MAX + 2];
    size_t len = strnlen(format, FORMAT_MAX);
    memcpy(fmt, format, len);
    size_t run = 0;
    while (run < len && fmt[len - 1 - run] == '%')
        ++run;
    if (run % 2)
        fmt[len++] = '%';
    fmt[len] = 0;
    if (!format_fits(fmt)) {
        ELOG(EL_MINOR, "slog: the arguments do not fit the format %s", format);
        return;
    }
    char text[256];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    errorlog("*script*", -1, priority, "%s", text);
}

// The log keeps the pointer it is given; the script's text lives only for the call.
char logfile_name[PATH_MAX_PATH];

void script_set_logfile(const char* name)
{
    if (!name)
        return;
    strncpy(logfile_name, name, sizeof logfile_name - 1);
    logfile_name[sizeof logfile_name - 1] = 0;
    set_logfile(logfile_name);
}

void script_set_log_priority(int p)
{
    set_log_priority(p);
}

}  // namespace

int errorlog_add_funcs(r_struct& rs)
{
    for (script_func* f : {&slog_f, &set_logfile_f, &set_log_priority_f}) {
        if (rs.add(f) != 0) {
            ELOG(EL_MAJOR, "errorlog_add_funcs(): unable to export all functions");
            return -1;
        }
    }
    add_const_a(el_constants);
    return 0;
}

}  // namespace vantrel
