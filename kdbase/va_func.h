/// @file
/// A call of a plain C function with a counted list of argument words, as the
/// script language makes it: the words are typed by the variables they were
/// evaluated into, so floats arrive as floats and pointers whole.
/// @ingroup kdbase
#pragma once
/// @addtogroup kdbase
/// @{

#include <cstdint>

#include "kdbase/r_struct.h"
#include "kdbase/unknown.h"

namespace vantrel {

/// 0: the platform's C convention; 1: the callee-cleans convention of system
/// functions. Both are the one default convention on x86-64.
typedef int va_callmethod_t;
enum { VA_CDECL = 0, VA_STDCALL = 1 };
enum { VA_MAX_ARGS = 32 };

/// Functions are stored under one type and called through their real
/// signature. A function returning bool is registered through a wrapper that
/// returns int (only the low byte of a bool result is defined).
typedef int (*va_function_t)();

/// A call of a C function whose arguments are known only at run time, made through libffi.
class VANTREL_API va_func : public unknown {
public:
    int nargs;                       ///< argument words to pass
    intptr_t args[VA_MAX_ARGS];      ///< args[0] is the first parameter
    va_function_t func;  ///< the function called
    va_callmethod_t method;  ///< its calling convention
    /// The C type of each argument, by the type of the variable the word came
    /// from: r_float -> float (its 32 bits in the low half of the word), r_int
    /// and the integer family -> int32_t, texts and pointer types -> pointer,
    /// r_undefined -> a pointer-sized integer. Whoever fills args[k] sets it.
    r_type arg_types[VA_MAX_ARGS];
    /// The result: 0 a pointer-sized integer, 'v' none (call gives 0), 'i' int,
    /// 'f' float (kept in f_result; call gives 0), any other letter a pointer.
    char result;
    /// -1 for a fixed parameter list; otherwise the function is variadic with
    /// this many fixed parameters, and float extras are passed as double.
    int fixed_args;
    float f_result;  ///< the result of a function whose result is 'f'

    /// A call with calling convention m and no function yet.
    explicit va_func(va_callmethod_t m = VA_CDECL);

    /// Calls func with the nargs words. Returns the function's integer or
    /// pointer result; 0 without calling for an unknown method; -1 (logged)
    /// for a null func or a count outside 0..32.
    intptr_t call();
};

}  // namespace vantrel
/// @}
