/// @file
/// The built-in sets of script functions. Each registration function adds its
/// set's static script_func objects to a structure (normally the shared
/// scope, which must not own them) and installs the set's named constants.
/// Adding a set twice to one structure fails on its first name.
/// @ingroup base_script
#pragma once
/// @addtogroup base_script
/// @{

#include "platform/export.h"

namespace vantrel {

class r_struct;

/// "slog" (v=is*: priority, format, arguments; logged with the source name
/// "*script*"), "set_logfile" (v=s), "set_log_priority" (v=i), then the EL_*
/// priorities as constants. 0, or -1 with "errorlog_add_funcs(): unable to
/// export all functions" (the functions added so far stay).
VANTREL_API int errorlog_add_funcs(r_struct& rs);

/// The 45 vector and matrix functions ("set_v" .. "interpolate_v", and
/// "get_const"), then the type names r_undefined .. r_var_p as constants.
/// Vectors are 4 floats, matrices 16: an "F" argument must point at that many.
/// 0, or -1 with "support_script_funcs: unable to export all functions".
VANTREL_API int support_add_funcs(r_struct& rs);

}  // namespace vantrel
/// @}
