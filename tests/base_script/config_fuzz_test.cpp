// Malformed script files: every one must end with a result and never crash,
// hang, leak or read out of bounds (run under the sanitizer build).
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "base_script/script_sets.h"
#include "config_helpers.h"
#include "kdbase/errorlog.h"

using namespace vantrel;
using vantrel_test::thing_t;

namespace {

int add2(int p, int q)
{
    return p + q;
}

script_func add2_f("add2", add2, "i=ii");

class config_fuzz_test : public vantrel_test::config_test_base {
protected:
    thing_t thing{"thing"};
    std::mt19937 rng{20261206};
    void SetUp() override
    {
        config_test_base::SetUp();
        scope.add(&thing);
        share("a", r_int, 4);
        share("v", r_float, 4);
        scope.add(&add2_f);
        ASSERT_EQ(errorlog_add_funcs(scope), 0);
        ASSERT_EQ(support_add_funcs(scope), 0);
        set_log_priority(0);  // thousands of expected failures
    }
    // Runs text as a whole script file; the result is only required to exist.
    void survive(const std::string& text)
    {
        int r = script.process(write_file("fuzz.ds", text).c_str());
        EXPECT_GE(r, -1);
        EXPECT_EQ(script.depth(), 0);
        EXPECT_STREQ(script.charset, "^ \t\n");
    }
    std::string repeat(const std::string& s, int n)
    {
        std::string out;
        for (int k = 0; k < n; ++k)
            out += s;
        return out;
    }
};

TEST_F(config_fuzz_test, random_token_soup)
{
    static const char* vocab[] = {"a", "v", "thing", ".", "->", "[", "]", "(", ")", ",", "=", "%", "&",
                                  "\"txt\"", "\"%s\"", "\"%n%p\"", "1", "2.5", "-3", "#", "dc_add", "dc_set",
                                  "include", "set_v", "slog", "add2", "len_v", "i", "s", "r_float", "\n",
                                  "\n", "\n", "0", "99999999999", "1.5.3", "\""};
    const int nvocab = sizeof vocab / sizeof vocab[0];
    for (int file = 0; file < 300; ++file) {
        std::string body;
        int n = (int)(rng() % 60);
        for (int k = 0; k < n; ++k) {
            body += vocab[rng() % nvocab];
            body += rng() % 3 ? " " : "";
        }
        survive(". config\n" + body + "\n./config\n");
    }
}

TEST_F(config_fuzz_test, deep_nesting_is_refused)
{
    survive(". config\na = " + repeat("a = ", 5000) + "1\n./config\n");
    survive(". config\n" + repeat("add2(", 3000) + "1, 2" + repeat(")", 3000) + "\n./config\n");
    survive(". config\na[" + repeat("a[", 3000) + "0" + repeat("]", 3001) + " = 1\n./config\n");
    survive(". config\n" + repeat("thing.", 3000) + "i = 1\n./config\n");
    survive(". config\nset_v(" + repeat("&", 3000) + "v, 1.0, 2.0, 3.0, 4.0)\n./config\n");
    std::string self = path("self.ds");
    write_file("self.ds", ". config\ninclude \"" + self + "\"\n./config\n");
    EXPECT_EQ(script.process(self.c_str()), 2);
}

TEST_F(config_fuzz_test, huge_lines_and_garbage)
{
    survive(". config\n" + std::string(100000, 'k') + " = 1\n./config\n");
    survive(". config\na = \"" + std::string(5000, 'q') + "\"\n./config\n");
    survive(std::string(5000, '.') + "\n");
    survive(". config\n" + repeat("\"", 2001) + "\n./config\n");
    for (int file = 0; file < 100; ++file) {
        std::string bytes;
        int n = (int)(rng() % 400);
        for (int k = 0; k < n; ++k)
            bytes += (char)(rng() % 256);
        survive(file % 2 ? bytes : ". config\n" + bytes + "\n./config\n");
    }
}

TEST_F(config_fuzz_test, broken_structure)
{
    survive(". config\na = 1\n");
    survive(". config\n. config\n./config\n./config\n");
    survive("./config\n");
    survive(". \n");
    survive(".\n");
    survive(". config a b c\n./config\n");
    survive(". config\nslog(3, \"%s %s %s %s\", 1)\nslog(3, \"%n\", 1)\nslog(3, \"%*d\", 1, 2)\n./config\n");
    survive(". config\ndc_add\ndc_add a\ndc_set\ninclude\n[\n]\n(\n)\n->\n&\n%\n./config\n");
}

}  // namespace
