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

// Whether conversion letter c prints an argument of type t.
bool conversion_fits(char c, r_type t)
{
    if (strchr("diouxXc", c))
        return is_integer_type(t);
    if (strchr("eEfFgGaA", c))
        return t == r_float;
    if (c == 's')
        return t == r_string || t == r_char_p;
    if (c == 'p')
        return t >= r_char_p && t <= r_var_p;
    return false;
}

// The log line being built, cut at 255 characters.
struct line_t {
    char text[256];
    size_t used = 0;
    line_t() { text[0] = 0; }
    void put(const char* s, size_t n)
    {
        n = n < sizeof text - 1 - used ? n : sizeof text - 1 - used;
        memcpy(text + used, s, n);
        used += n;
        text[used] = 0;
    }
};

// A conversion's width or precision: at most three digits, so no conversion
// writes more than the line holds.
const char* skip_digits(const char* p, bool* ok)
{
    size_t n = strspn(p, "0123456789");
    if (n > 3)
        *ok = false;
    return p + n;
}

// Formats like printf, pairing the k-th conversion with the k-th extra
// argument. The binding leaves the extras' types in slog_f, so each argument
// is read as what was passed; a conversion that does not fit its argument (or
// has none) is copied into the text as it stands, and the line is logged with
// a complaint after it.
void slog(int priority, const char* format, ...)
{
    if (!format)
        format = "";
    line_t line;
    bool all_fit = true;
    int k = 2;  // the extras follow the priority and the format
    va_list ap;
    va_start(ap, format);
    for (const char* p = format; *p;) {
        if (*p != '%') {
            size_t n = strcspn(p, "%");
            line.put(p, n);
            p += n;
            continue;
        }
        const char* spec = p++;
        if (*p == '%' || !*p) {  // "%%", or a lone "%" at the end: text
            line.put("%", 1);
            p += *p == '%';
            continue;
        }
        bool ok = true;
        p += strspn(p, "-+ #0");
        p = skip_digits(p, &ok);
        if (*p == '.')
            p = skip_digits(p + 1, &ok);
        char c = *p;
        if (c)
            ++p;
        bool has = k < slog_f.nargs;
        r_type t = has ? slog_f.arg_types[k++] : r_undefined;
        union {
            int i;
            double d;
            const void* ptr;
            intptr_t w;
        } arg = {};
        if (has && is_integer_type(t))
            arg.i = va_arg(ap, int);
        else if (has && t == r_float)
            arg.d = va_arg(ap, double);
        else if (has && t == r_undefined)
            arg.w = va_arg(ap, intptr_t);
        else if (has)
            arg.ptr = va_arg(ap, const void*);
        char conv[16], piece[256];
        if (!ok || !has || !conversion_fits(c, t) || (size_t)(p - spec) >= sizeof conv) {
            line.put(spec, (size_t)(p - spec));
            all_fit = false;
            continue;
        }
        snprintf(conv, sizeof conv, "%.*s", (int)(p - spec), spec);
        if (is_integer_type(t))
            snprintf(piece, sizeof piece, conv, arg.i);
        else if (t == r_float)
            snprintf(piece, sizeof piece, conv, arg.d);
        else if (c == 's')
            snprintf(piece, sizeof piece, conv, arg.ptr ? static_cast<const char*>(arg.ptr) : "(null)");
        else
            snprintf(piece, sizeof piece, conv, arg.ptr);
        line.put(piece, strlen(piece));
    }
    va_end(ap);
    errorlog("*script*", -1, priority, "%s", line.text);
    if (!all_fit)
        ELOG(EL_MINOR, "slog: the arguments do not fit the format %s", format);
}

// The log keeps the pointer it is given; the script's text lives only for the call.
char logfile_name[PLATFORM_PATH_MAX];

void script_set_logfile(const char* name)
{
    if (!name)
        return;
    if (strlen(name) >= sizeof logfile_name) {
        ELOG(EL_MINOR, "set_logfile: a path of %d characters or more is too long: %s", PLATFORM_PATH_MAX, name);
        return;
    }
    strcpy(logfile_name, name);
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
