/// @file
/// For render libraries only: declares the 41 operations of morvane/rlib.h as
/// the exported C functions a render library defines, so the compiler checks
/// every definition against the interface. Build the library with hidden
/// visibility and link it with -Bsymbolic; only these names (and whatever the
/// library marks VANTREL_EXPORT itself) are exported.
/// @ingroup morvane
#pragma once
/// @addtogroup morvane
/// @{

#include "morvane/rlib.h"
#include "platform/export.h"

extern "C" {
/// Declares one operation as an exported C function (defined for this list only).
#define VANTREL_RLIB_DECLARE(result, name, params) VANTREL_EXPORT result name params;
VANTREL_RLIB_OPS(VANTREL_RLIB_DECLARE)
#undef VANTREL_RLIB_DECLARE
}
/// @}
