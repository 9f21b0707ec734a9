/// @file
/// The process-wide table of named integer constants through which subsystems
/// publish symbolic values to scripts and configuration files.
/// @ingroup kdbase
#pragma once
/// @addtogroup kdbase
/// @{

#include "platform/export.h"

namespace vantrel {

/// One constant. Arrays of them end with an entry whose name is "" (value -1).
struct VANTREL_API str_const_t {
    const char* name;  ///< not owned; "" ends an array
    int value;  ///< the constant
};

/// Capacity of the table: the first entry is "STRC_MAXCONSTANTS" = 1024, the
/// last one always holds the terminator, so at most 1022 constants can be added.
enum { STRC_MAXCONSTANTS = 1024 };

/// The value of the constant with exactly that name. A missing name logs
/// "did not find the constant named %s" (EL_MAJOR) and gives -1; a null name
/// logs the invalid-pointer message naming _name and gives -1.
VANTREL_API int get_const(const char* _name);

/// Adds every constant of a, in order, up to its terminating entry. The table
/// keeps the name pointers, so the names must live as long as the process
/// (static arrays). A name already present logs "constant %s already exists"
/// and is skipped (the old value stays). When the table is full it logs
/// "constant array has overflowed at constant %s" and adds nothing further.
VANTREL_API void add_const_a(const str_const_t* a);

}  // namespace vantrel
/// @}
