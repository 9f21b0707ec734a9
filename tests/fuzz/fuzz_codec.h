// One image codec under the fuzzer: a read, and a write of whatever it accepted.
#pragma once

#include "fuzz_util.h"
#include "image/image.h"
#include "kdbase/cfile.h"

namespace vantrel_fuzz {

inline int fuzz_codec(const uint8_t* data, size_t size, vantrel::image_read_func read,
                      vantrel::image_write_func write)
{
    static quiet_log quiet;
    FILE* f = as_stream(data, size);
    if (!f)
        return 0;
    vantrel::image_t img;
    vantrel::CFileE in;
    in.SetFILE(f);
    int r = -1;
    try {
        r = read(&img, in);
    } catch (int) {
    }
    in.Close();
    if (r == 0 && static_cast<long long>(img.width) * img.height <= (1 << 20)) {
        vantrel::CFileE out;
        out.SetFILE(tmpfile());
        try {
            write(&img, out, nullptr);
        } catch (int) {
        }
        out.Close();
    }
    return 0;
}

}  // namespace vantrel_fuzz
