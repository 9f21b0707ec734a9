#include "kdbase/str_const.h"

#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

// Constant-initialised, so the table is complete before any other file's
// statics publish into it.
static str_const_t __str_const[STRC_MAXCONSTANTS] = {
    {"STRC_MAXCONSTANTS", STRC_MAXCONSTANTS},
    {"", -1},
};
static str_const_t* __nextadded = &__str_const[1];
static str_const_t* const __lastentry = &__str_const[STRC_MAXCONSTANTS - 2];

static str_const_t* find_const(const char* name)
{
    for (str_const_t* c = __str_const; c->name[0]; ++c)
        if (strcmp(c->name, name) == 0)
            return c;
    return nullptr;
}

int get_const(const char* _name)
{
    CHECK_PTR(_name, -1);
    const str_const_t* c = find_const(_name);
    if (!c) {
        ELOG(EL_MAJOR, "did not find the constant named %s", _name);
        return -1;
    }
    return c->value;
}

void add_const_a(const str_const_t* a)
{
    CHECK_PTR_V(a);
    for (; a->name && a->name[0]; ++a) {
        if (find_const(a->name)) {
            ELOG(EL_MINDEBUG, "constant %s already exists", a->name);
            continue;
        }
        if (__nextadded > __lastentry) {
            ELOG(EL_MINDEBUG, "constant array has overflowed at constant %s", a->name);
            return;
        }
        *__nextadded++ = *a;
        *__nextadded = str_const_t{"", -1};
    }
}

}  // namespace vantrel
