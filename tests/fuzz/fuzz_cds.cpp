// The CDS container: a whole read with the media chunk types, then searches
// by id, number and path.
#include "fuzz_util.h"
#include "mediaman/cds/cds.h"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static vantrel_fuzz::quiet_log quiet;
    std::string path = vantrel_fuzz::as_file(data, size, ".cds");
    {
        cds c;
        c.init();
        c.load(path.c_str());
        c.delete_type_objects();
    }
    cds c;
    if (c.open(path.c_str()) == 0) {
        c.read_chunk("x.tga", CDS_IN_GROUP, "/a/b", 0);
        c.read_chunk(3u, CDS_IN_FILE, nullptr, 0);
    }
    c.delete_type_objects();
    return 0;
}
