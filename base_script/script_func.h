/// @file
/// Script-callable functions: a named variable wrapping a plain C function and
/// its type signature, called through va_func.
///
/// A signature is the result letter, "=", then one letter per argument:
///   F r_float_p  I r_int_p  S r_struct_p  V r_var_p
///   f r_float    i r_int    p r_void_p    s r_string
/// any other letter (the result "v", "*") is r_undefined. A trailing "*" lets
/// any number of further arguments follow the fixed ones; the function is then
/// called as a C variadic function.
/// @ingroup base_script
#pragma once
/// @addtogroup base_script
/// @{

#include "kdbase/r_struct.h"
#include "kdbase/va_func.h"

namespace vantrel {

/// A C function that scripts call: a variable named after it, called through libffi with its arguments checked against its signature.
class VANTREL_API script_func : public r_var, public va_func {
public:
    const char* signature;  ///< not owned
    /// What each "F" argument points at, one letter per argument position: "m"
    /// a 4x4 matrix (16 floats), any other letter or past the end a vector (4
    /// floats). Null: vectors only. Not owned. The binding refuses an address
    /// with less room.
    const char* shapes;

    /// Name "__noname", no function, method 0.
    script_func();
    /// The variable part is an r_void_p holding f. The argument types and the
    /// result kind of the va_func part are preset from the signature; the
    /// binding overwrites arg_types for each call with the types it evaluated.
    script_func(const char* _name, va_function_t f, const char* _signature, const char* _shapes = nullptr);
    template <class R, class... A>
    /// As the constructor above, for a function of fixed parameters.
    script_func(const char* _name, R (*f)(A...), const char* _signature, const char* _shapes = nullptr)
        : script_func(_name, reinterpret_cast<va_function_t>(reinterpret_cast<void (*)()>(f)), _signature,
                      _shapes)
    {
    }
    template <class R, class... A>
    /// As the constructor above, for a function with a variadic tail.
    script_func(const char* _name, R (*f)(A..., ...), const char* _signature, const char* _shapes = nullptr)
        : script_func(_name, reinterpret_cast<va_function_t>(reinterpret_cast<void (*)()>(f)), _signature,
                      _shapes)
    {
    }

    /// Floats the "F" argument at position k must point at: 16 or 4.
    int floats_needed(int k) const;

    /// Both bases are objects: lists hold a function through its variable part.
    unknown* as_unknown() { return static_cast<r_var*>(this); }
};

/// Sets v's type from a signature letter (table above). Null v does nothing.
VANTREL_API void set_r_var_type(r_var* v, char letter);
/// The number of fixed arguments: the characters after "=" except those
/// directly followed by "*" ("v=is*" 2, "i=SiS" 3, "v=" 0, "v=*" 1); 0 without
/// "=" or for null.
VANTREL_API int get_nargs(const char* signature);

}  // namespace vantrel
/// @}
