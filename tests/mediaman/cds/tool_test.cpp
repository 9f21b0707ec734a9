#include <gtest/gtest.h>

#include <string>

#include "tests/common/log_fixture.h"
#include "tests/mediaman/cds/chunk_bytes.h"

namespace {

// The vantrel-cds tool as built next to the tests (ctest runs them from the
// build directory).
const char* tool = "tools/vantrel-cds";

using namespace chunk_bytes;

class cds_tool_test : public vantrel_test::log_test {
protected:
    void SetUp() override
    {
        log_test::SetUp();
        if (!vantrel_test::program_built(tool))
            GTEST_SKIP() << tool << " is not built";
    }
};

TEST_F(cds_tool_test, lists_and_extracts)
{
    std::string file = hdr("FILE", 3, "x.tga") + "abc";
    std::string c = hdr("GROU", 10, "a") + hdr("GROU", 0, "b") + hdr("GROU", (int)file.size(), "tex") + file;
    std::string p = write_file("c.cds", c), cut = write_file("cut.cds", c.substr(0, c.size() - 1)),
                tail = write_file("tail.cds", c + "GR");
    // The arguments, the exit status and a line of what the tool printed (both streams).
    const struct { std::string args; int status; const char* said; } runs[] = {
        {"list " + p, 0, "4 chunk(s)"},
        {"list " + p, 0, "/a/b/ (start=20 size=0)"},
        {"list " + p, 0, "../tex/x.tga (pos=46 size=3)"},
        {"extract " + p + " /tex/x.tga " + path("x.tga"), 0, ""},
        {"extract " + p + " /x.tga " + path("y.tga"), 1, "holds no embedded file /x.tga"},
        {"list " + cut, 1, "chunk FILE x.tga at byte 32 runs past the end of the file"},
        {"list " + tail, 0, "2 trailing byte(s)"},
        {"", 2, "usage: vantrel-cds list <container>"},
    };
    for (const auto& r : runs) {
        std::string out;
        EXPECT_EQ(vantrel_test::run_program(tool, r.args, &out), r.status) << r.args << "\n" << out;
        EXPECT_NE(out.find(r.said), std::string::npos) << r.args << "\n" << out;
    }
    EXPECT_EQ(read_file("x.tga"), "abc");
}

}  // namespace
