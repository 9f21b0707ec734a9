#include "base_script/script_func.h"

#include <cstring>

#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

static r_type letter_type(char letter)
{
    switch (letter) {
    case 'F': return r_float_p;
    case 'I': return r_int_p;
    case 'S': return r_struct_p;
    case 'V': return r_var_p;
    case 'f': return r_float;
    case 'i': return r_int;
    case 'p': return r_void_p;
    case 's': return r_string;
    default: return r_undefined;
    }
}

script_func::script_func() : signature(nullptr), shapes(nullptr) {}

script_func::script_func(const char* _name, va_function_t f, const char* _signature, const char* _shapes)
    : r_var(_name, r_void_p), signature(_signature), shapes(_shapes)
{
    r_var::set(0, reinterpret_cast<void*>(f));
    func = f;
    const char* letters = _signature ? strchr(_signature, '=') : nullptr;
    if (!letters)
        return;
    result = _signature[0];
    int k = 0;
    for (const char* c = letters + 1; *c && k < VA_MAX_ARGS; ++c) {
        if (*c == '*') {
            fixed_args = k;
            break;
        }
        arg_types[k++] = letter_type(*c);
    }
}

int script_func::floats_needed(int k) const
{
    for (int i = 0; shapes && shapes[i]; ++i)
        if (i == k)
            return shapes[i] == 'm' ? 16 : 4;
    return 4;
}

void set_r_var_type(r_var* v, char letter)
{
    if (v)
        v->type = letter_type(letter);
}

int get_nargs(const char* signature)
{
    const char* letters = signature ? strchr(signature, '=') : nullptr;
    if (!letters)
        return 0;
    int n = 0;
    // A character directly followed by "*" is not counted; the "*" itself is.
    for (const char* c = letters + 1; *c; ++c)
        if (c[1] != '*')
            ++n;
    return n;
}

}  // namespace vantrel
