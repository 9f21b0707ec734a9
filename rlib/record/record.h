/// @file
/// The recording render library: draws nothing and keeps every call with its
/// arguments, and the model and view matrices in force at the call, for tests.
/// Tests find the log through the one extra export, "rlib_record_log", looked
/// up on the handle in rlib_info_t.
/// @ingroup rlib
#pragma once
/// @addtogroup rlib
/// @{

namespace vantrel {

/// Calls the log keeps, and float arguments kept per call.
enum { RECORD_MAX_CALLS = 4096, RECORD_MAX_FLOATS = 28 };

/// One recorded call.
struct rlib_call_t {
    const char* op;                   ///< the operation's name
    int ints[4];                      ///< int arguments in order (pop_state: the token)
    int nfloats;                      ///< float arguments in order: matrices, points, values
    /// The first nfloats float arguments.
    float floats[RECORD_MAX_FLOATS];
    const void* ptr;                  ///< the pointer argument (polygon, mode, module ...)
    float model[16];                  ///< the matrices after the call
    /// The view matrix after the call.
    float view[16];
};

/// The log of calls since the library was loaded or count was reset.
struct rlib_record_t {
    int count;    ///< calls kept; set it to 0 to start over
    int dropped;  ///< calls beyond RECORD_MAX_CALLS
    /// The first count calls, in order.
    rlib_call_t calls[RECORD_MAX_CALLS];
};

/// The type of the exported accessor "rlib_record_log".
typedef rlib_record_t* (*rlib_record_log_func)();

}  // namespace vantrel
/// @}
