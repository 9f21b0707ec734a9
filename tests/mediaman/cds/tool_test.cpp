#include <gtest/gtest.h>

#include <cstdio>
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

    // Runs the tool; returns its exit status and what it printed (both streams).
    int run(const std::string& args, std::string* out)
    {
        return vantrel_test::run_program(tool, args, out);
    }
};

TEST_F(cds_tool_test, lists_and_extracts)
{
    std::string file = hdr("FILE", 3, "x.tga") + "abc";
    std::string c = hdr("GROU", 10, "a") + hdr("GROU", 0, "b") + hdr("GROU", (int)file.size(), "tex") + file;
    std::string p = write_file("c.cds", c);

    std::string out;
    ASSERT_EQ(run("list " + p, &out), 0) << out;
    EXPECT_NE(out.find("4 chunk(s)"), std::string::npos) << out;
    EXPECT_NE(out.find("/a/b/ (start=20 size=0)"), std::string::npos) << out;
    EXPECT_NE(out.find("../tex/x.tga (pos=46 size=3)"), std::string::npos) << out;

    out.clear();
    ASSERT_EQ(run("extract " + p + " /tex/x.tga " + path("x.tga"), &out), 0) << out;
    EXPECT_EQ(read_file("x.tga"), "abc");

    out.clear();
    EXPECT_EQ(run("extract " + p + " /x.tga " + path("y.tga"), &out), 1);
    EXPECT_NE(out.find("holds no embedded file /x.tga"), std::string::npos) << out;

    out.clear();
    write_file("cut.cds", c.substr(0, c.size() - 1));
    EXPECT_EQ(run("list " + path("cut.cds"), &out), 1);
    EXPECT_NE(out.find("chunk FILE x.tga at byte 32 runs past the end of the file"), std::string::npos) << out;

    out.clear();
    write_file("tail.cds", c + "GR");
    EXPECT_EQ(run("list " + path("tail.cds"), &out), 0) << out;
    EXPECT_NE(out.find("2 trailing byte(s)"), std::string::npos) << out;

    out.clear();
    EXPECT_EQ(run("", &out), 2);
    EXPECT_NE(out.find("usage: vantrel-cds list <container>"), std::string::npos);
}

}  // namespace
