// The level compiler as a user runs it: summary, point query, plan, and the
// exit codes and reasons on bad input.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/common/log_fixture.h"

namespace {

class bspc_tool_test : public vantrel_test::log_test {
protected:
    void SetUp() override
    {
        log_test::SetUp();
        // The tests run in the build directory, where the tools are built.
        if (!vantrel_test::program_built("tools/vantrel-bspc"))
            GTEST_SKIP() << "vantrel-bspc is not built";
    }

    // Runs the compiler, with --log into the test directory unless quiet;
    // stdout and stderr go to files there.
    int run(const std::string& args, bool quiet = false)
    {
        std::string log = quiet ? "" : " --log \"" + path("bspc.log") + "\"";
        return vantrel_test::run_program(
            "tools/vantrel-bspc", args + log + " 2>\"" + path("err.txt") + "\" >\"" + path("out.txt") + "\"", nullptr);
    }

    // The size of a file in the current directory, -1 when absent.
    static long size_here(const char* name) { return (long)std::ifstream(name, std::ios::ate).tellg(); }

    std::string level(const std::string& name) { return vantrel_test::source_dir() + "/data/levels/" + name; }
};

TEST_F(bspc_tool_test, compiles_samples_and_exits_non_zero_with_the_reason_on_bad_input)
{
    ASSERT_EQ(run(level("corridor.txt") + " --leaf 4 1 4 --svg \"" + path("plan.svg") + "\""), 0);
    EXPECT_NE(read_file("out.txt").find("point (4, 1, 4): leaf "), std::string::npos);
    // Progress notes from the build reach the terminal.
    EXPECT_NE(read_file("err.txt").find("] portals="), std::string::npos);
    std::string svg = read_file("plan.svg");
    EXPECT_EQ(svg.rfind("<svg ", 0), 0u);
    EXPECT_NE(svg.find("stroke:#2060e0"), std::string::npos);  // portals drawn
    EXPECT_NE(svg.find("fill:#f4b860"), std::string::npos);    // the chosen leaf

    ASSERT_EQ(run(level("two_rooms.txt") + " --leaf -5 1 4"), 0);
    EXPECT_NE(read_file("out.txt").find("solid space"), std::string::npos);
    // Bad input exits non-zero with the reason.
    write_file("empty.txt", "");
    EXPECT_EQ(run("\"" + path("empty.txt") + "\""), 1);
    EXPECT_NE(read_file("err.txt").find("all polygons have been used as splitters"), std::string::npos);

    EXPECT_EQ(run("\"" + path("missing.txt") + "\""), 1);
    EXPECT_NE(read_file("err.txt").find("compilation failed"), std::string::npos);

    EXPECT_EQ(run(""), 2);
    EXPECT_EQ(run(level("two_rooms.txt") + " --leaf 1 x 2"), 2);
    EXPECT_EQ(run(level("two_rooms.txt") + " --bogus"), 2);
}

// The plan draws the portals the tree has: as many as the summary counts, in
// either mode (the two modes find different numbers on this level).
TEST_F(bspc_tool_test, the_plan_draws_the_portals_of_the_chosen_mode)
{
    int drawn[2], counted[2];
    for (int literal = 0; literal < 2; ++literal) {
        ASSERT_EQ(run(level("two_rooms.txt") + (literal ? " --literal" : "") + " --svg \"" + path("plan.svg") + "\""),
                  0);
        std::string svg = read_file("plan.svg"), out = read_file("out.txt");
        drawn[literal] = 0;
        for (size_t at = svg.find("stroke:#2060e0"); at != std::string::npos; at = svg.find("stroke:#2060e0", at + 1))
            ++drawn[literal];
        size_t at = out.find("portals: ");
        ASSERT_NE(at, std::string::npos) << out;
        counted[literal] = atoi(out.c_str() + at + 9);
        EXPECT_EQ(drawn[literal], counted[literal]) << (literal ? "literal" : "sound");
    }
    EXPECT_NE(counted[0], counted[1]);
}

TEST_F(bspc_tool_test, check_vis_reports_misses_and_the_log_goes_only_where_asked)
{
    ASSERT_EQ(run(level("arena.txt") + " --check-vis 300"), 0);
    std::string out = read_file("out.txt");
    EXPECT_NE(out.find("check-vis: 300 clear sightlines"), std::string::npos) << out;
    EXPECT_NE(out.find(", 0 missed"), std::string::npos);
    EXPECT_NE(out.find("sealed pockets: 1"), std::string::npos);
    EXPECT_NE(read_file("bspc.log").find("portals="), std::string::npos);

    EXPECT_EQ(run(level("two_rooms.txt") + " --literal --check-vis 300"), 3);
    EXPECT_NE(read_file("out.txt").find("  missed: ("), std::string::npos);

    // Without --log nothing is written beside the caller, and a failure
    // still says why.
    long before[2] = {size_here("errorlog"), size_here("vantrel-bspc.log")};
    EXPECT_EQ(run("\"" + path("missing.txt") + "\"", true), 1);
    std::string err = read_file("err.txt");
    EXPECT_NE(err.find("compilation failed:"), std::string::npos);
    EXPECT_NE(err.find("unable to open"), std::string::npos) << err;
    EXPECT_EQ(run(level("corridor.txt") + " --threads 1", true), 0);
    EXPECT_EQ(size_here("errorlog"), before[0]);
    EXPECT_EQ(size_here("vantrel-bspc.log"), before[1]);
    EXPECT_EQ(run(level("two_rooms.txt") + " --check-vis x"), 2);
}

}  // namespace
