#include "kdbase/va_func.h"

#include <ffi.h>

#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

static ffi_type* word_type()
{
    return sizeof(intptr_t) == 8 ? &ffi_type_sint64 : &ffi_type_sint32;
}

va_func::va_func(va_callmethod_t m)
    : nargs(0), func(nullptr), method(m), result(0), fixed_args(-1), f_result(0)
{
    memset(args, 0, sizeof args);
    for (r_type& t : arg_types)
        t = r_undefined;
}

namespace {
union arg_value {
    int32_t i;
    float f;
    double d;
    void* p;
    intptr_t w;
};

union result_value {
    ffi_arg a;
    float f;
    void* p;
};
}  // namespace

intptr_t va_func::call()
{
    if (method != VA_CDECL && method != VA_STDCALL)
        return 0;
    CHECK_PTR(func, -1);
    if (nargs < 0 || nargs > VA_MAX_ARGS) {
        ELOG(EL_MINDEBUG, "va_func::call(): %d arguments (at most %d)", nargs, (int)VA_MAX_ARGS);
        return -1;
    }
    bool variadic = fixed_args >= 0 && fixed_args <= nargs;

    ffi_type* types[VA_MAX_ARGS];
    void* values[VA_MAX_ARGS];
    arg_value vals[VA_MAX_ARGS];
    for (int k = 0; k < nargs; ++k) {
        bool extra = variadic && k >= fixed_args;
        switch (arg_types[k]) {
        case r_float: {
            uint32_t bits = (uint32_t)(uintptr_t)args[k];
            float f;
            memcpy(&f, &bits, sizeof f);
            if (extra) {
                vals[k].d = f;  // the default promotion of a variadic float
                types[k] = &ffi_type_double;
            } else {
                vals[k].f = f;
                types[k] = &ffi_type_float;
            }
            break;
        }
        case r_char:
        case r_uchar8:
        case r_ushort16:
        case r_int:
        case r_uint32:
            vals[k].i = (int32_t)(uint32_t)(uintptr_t)args[k];
            types[k] = &ffi_type_sint32;
            break;
        case r_undefined:
            vals[k].w = args[k];
            types[k] = word_type();
            break;
        default:
            vals[k].p = reinterpret_cast<void*>(args[k]);
            types[k] = &ffi_type_pointer;
            break;
        }
        values[k] = &vals[k];
    }

    ffi_type* rtype;
    switch (result) {
    case 0: rtype = word_type(); break;
    case 'v': rtype = &ffi_type_void; break;
    case 'i': rtype = &ffi_type_sint32; break;
    case 'f': rtype = &ffi_type_float; break;
    default: rtype = &ffi_type_pointer; break;
    }

    ffi_cif cif;
    ffi_status st = variadic ? ffi_prep_cif_var(&cif, FFI_DEFAULT_ABI, (unsigned)fixed_args, (unsigned)nargs, rtype, types)
                             : ffi_prep_cif(&cif, FFI_DEFAULT_ABI, (unsigned)nargs, rtype, types);
    if (st != FFI_OK) {
        ELOG(EL_MINDEBUG, "va_func::call(): unable to prepare a call of %d arguments", nargs);
        return -1;
    }
    result_value rv;
    memset(&rv, 0, sizeof rv);
    ffi_call(&cif, reinterpret_cast<void (*)()>(func), &rv, values);
    switch (result) {
    case 0: return (intptr_t)rv.a;
    case 'v': return 0;
    case 'i': return (intptr_t)(int32_t)rv.a;
    case 'f': f_result = rv.f; return 0;
    default: return reinterpret_cast<intptr_t>(rv.p);
    }
}

}  // namespace vantrel
