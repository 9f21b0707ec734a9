// The null render library: the 41 operations, each doing nothing. For servers
// and tests that run the renderer without drawing.
#include "morvane/rlib_exports.h"

#define NULL_RLIB_DEFINE(result, name, params) \
    result name params                          \
    {                                           \
        return result();                        \
    }
VANTREL_RLIB_OPS(NULL_RLIB_DEFINE)
