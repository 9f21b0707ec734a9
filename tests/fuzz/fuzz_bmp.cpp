// The BMP reader, and a write of whatever it accepted.
#include "fuzz_util.h"
#include "image/bmp/bmp.h"
#include "image/image.h"
#include "kdbase/cfile.h"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static vantrel_fuzz::quiet_log quiet;
    FILE* f = vantrel_fuzz::as_stream(data, size);
    if (!f)
        return 0;
    image_t img;
    CFileE in;
    in.SetFILE(f);
    int r = -1;
    try {
        r = bmp_read(&img, in);
    } catch (int) {
    }
    in.Close();
    if (r == 0 && static_cast<long long>(img.width) * img.height <= (1 << 20)) {
        CFileE out;
        out.SetFILE(tmpfile());
        try {
            bmp_write(&img, out, nullptr);
        } catch (int) {
        }
        out.Close();
    }
    return 0;
}
