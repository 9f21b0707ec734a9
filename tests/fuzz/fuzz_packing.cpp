// Unpacking a structure of every packable type from a hostile buffer and
// from a hostile file.
#include <cstring>
#include <memory>

#include "fuzz_util.h"
#include "kdbase/cfile.h"
#include "kdbase/r_struct.h"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static vantrel_fuzz::quiet_log quiet;
    char text[2049] = {0};
    r_struct s(true);
    s.add(new r_var("c", r_char));
    s.add(new r_var("u", r_ushort16));
    std::unique_ptr<r_var> ints(create_r_var("i", 3));
    ints->type = r_int;
    s.add(ints.release());
    s.add(new r_var("f", r_float));
    s.add(new r_var("s", r_string));
    r_var* p = new r_var("p", r_char_p);
    p->set(0, text);
    s.add(p);
    std::unique_ptr<char[]> copy(new char[size]);
    memcpy(copy.get(), data, size);
    s.unpack(copy.get(), static_cast<int>(size));
    if (FILE* f = vantrel_fuzz::as_stream(data, size)) {
        CFileE file;
        file.SetFILE(f);
        try {
            s.unpack(&file);
        } catch (int) {
        }
        file.Close();
    }
    return 0;
}
