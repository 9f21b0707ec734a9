// The polygon list text format.
#include "fuzz_util.h"
#include "kdbase/d_list.h"
#include "primitives/poly_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static vantrel_fuzz::quiet_log quiet;
    FILE* f = vantrel_fuzz::as_stream(data, size);
    if (!f)
        return 0;
    {
        vantrel::d_list meshes(1);
        vantrel::load_poly_list(f, nullptr, &meshes);
    }
    rewind(f);
    vantrel::d_list owned(1);
    vantrel::load_poly_list(f, &owned, nullptr);
    fclose(f);
    return 0;
}
