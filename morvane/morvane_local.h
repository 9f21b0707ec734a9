// Helpers the renderer's sources share; not part of the public interface.
#pragma once

#include <cinttypes>

#include "base_script/script_var.h"
#include "kdbase/errorlog.h"

// The invalid-pointer message with a name of the caller's choosing (an index
// or a path the expression itself would not print).
#define CHECK_PTR_NAMED(expr, text, retval)                                                  \
    do {                                                                                     \
        if (!(expr)) {                                                                       \
            ELOG(EL_MINDEBUG, "invalid pointer: %s=%" PRIxPTR, (text), (uintptr_t)(expr)); \
            return retval;                                                                   \
        }                                                                                    \
    } while (0)

namespace vantrel {

// Publishes count elements of type t stored at field under _name through the
// publisher v. 0 or -1 (script_var::add).
template <class T>
int publish(script_var* s, r_var& v, const char* _name, T* field, r_type t, int count)
{
    v.set_storage(field, sizeof(T) * (size_t)count);
    return s->add(&v, _name, t, count);
}

}  // namespace vantrel
