// Text to values: every variable type from arbitrary text, argument strings
// and patterns.
#include "fuzz_util.h"
#include "kdbase/args.h"
#include "kdbase/r_struct.h"
#include "kdbase/regex.h"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static vantrel_fuzz::quiet_log quiet;
    std::string text = vantrel_fuzz::as_text(data, size);
    static const r_type types[] = {r_char, r_uchar8, r_ushort16, r_int, r_uint32, r_float, r_string};
    for (r_type t : types) {
        r_var v("v", t);
        v.set(0, text.c_str());
    }
    args_t args;
    args.parse(text.c_str());
    // The pattern is the text up to the first newline, the subject the rest.
    size_t nl = text.find('\n');
    if (nl != std::string::npos)
        for (int flags = 0; flags < 2; ++flags)
            regex_match(text.substr(0, nl).c_str(), text.c_str() + nl + 1, flags);
    return 0;
}
