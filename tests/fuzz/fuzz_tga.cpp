// The TGA codec.
#include "fuzz_codec.h"
#include "image/tga/tga.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return vantrel_fuzz::fuzz_codec(data, size, vantrel::tga_read, vantrel::tga_write);
}
