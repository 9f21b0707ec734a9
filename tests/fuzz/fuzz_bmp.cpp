// The BMP codec.
#include "fuzz_codec.h"
#include "image/bmp/bmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return vantrel_fuzz::fuzz_codec(data, size, vantrel::bmp_read, vantrel::bmp_write);
}
