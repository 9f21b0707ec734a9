// The nested-chunk reader with a little-endian id/size header.
#include "fuzz_util.h"
#include "kdbase/cfile.h"
#include "mediaman/chunk_reader.h"

using namespace vantrel;

namespace {

struct tree_sink : data_container {
    tree_sink()
    {
        header.add("id", static_cast<unsigned short>(0));
        header.add("size", 0u);
    }
    int process_tree(chunk_node*) override { return 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static vantrel_fuzz::quiet_log quiet;
    FILE* f = vantrel_fuzz::as_stream(data, size);
    if (!f)
        return 0;
    static vantrel::default_proc keep;
    tree_sink sink;
    sink.default_proc = &keep;
    CFileE file;
    file.SetFILE(f);
    read_chunk_file(file, &sink);
    file.Close();
    return 0;
}
