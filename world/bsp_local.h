// Helper macros of the BSP sources (and their tests); not part of the API.
#pragma once

#include <cinttypes>
#include <cstdint>

#include "world/bsp_local.h"
#include "kdbase/errorlog.h"
#include "primitives/base_primitive.h"

#define FLAG_ISSET(flags, bit) (((flags) & (bit)) != 0)
#define VALID_NODE(n) ((n) >= 0)
#ifndef VALID_POLY
#define VALID_POLY(p) VALID_PRIMITIVE(p)
#endif
// The argument check for conditions whose logged text is not the expression itself.
#define CHECK_NAMED(cond, text, retval)                                                \
    do {                                                                               \
        if (!(cond)) {                                                                 \
            ELOG(EL_MINDEBUG, "invalid pointer: %s=%" PRIxPTR, text, (uintptr_t)0); \
            return retval;                                                             \
        }                                                                              \
    } while (0)
