// Malformed script files: every one must end with a result and never crash,
// hang, leak or read out of bounds (run under the sanitizer build).
#include <gtest/gtest.h>

#include <string>

#include "base_script/script_sets.h"
#include "config_helpers.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

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
    void SetUp() override
    {
        config_test_base::SetUp();
        // "thing[k].member" steps by the stride through an array of objects;
        // this one stands alone, and says so.
        thing.stride = 0;
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

TEST_F(config_fuzz_test, deep_nesting_and_failed_allocations_end_cleanly)
{
    survive(". config\na = " + repeat("a = ", 5000) + "1\n./config\n");
    survive(". config\n" + repeat("add2(", 3000) + "1, 2" + repeat(")", 3000) + "\n./config\n");
    survive(". config\na[" + repeat("a[", 3000) + "0" + repeat("]", 3001) + " = 1\n./config\n");
    survive(". config\n" + repeat("thing.", 3000) + "i = 1\n./config\n");
    survive(". config\nset_v(" + repeat("&", 3000) + "v, 1.0, 2.0, 3.0, 4.0)\n./config\n");
    std::string self = path("self.ds");
    write_file("self.ds", ". config\ninclude \"" + self + "\"\n./config\n");
    EXPECT_EQ(script.process(self.c_str()), 2);
    // Allocation failures at every step leave nothing behind (the sanitizer
    // build checks the leaks).
    std::string file = write_file("alloc.ds", ". config\n"
                                              "dc_add name \"text\"\n"
                                              "thing.s = \"hello\"\n"
                                              "slog(3, \"%s %d\", \"x\", 1)\n"
                                              "set_v(&v, 1.0, 2.0, 3.0, 4.0)\n"
                                              "a[1] = add2(1, 2)\n"
                                              "./config\n");
    int last = 0;
    for (int fail = 0; fail < 400; ++fail) {
        dot_config local;
        dot_script s;
        s.add_plugin(&local);
        r_struct shared(false);
        s.globals = &shared;
        shared.add(&thing);
        shared.add(scope.get_var("a"));
        shared.add(scope.get_var("v"));
        shared.add(&add2_f);
        errorlog_add_funcs(shared);
        support_add_funcs(shared);
        mc_fail_after(fail);
        last = s.process(file.c_str());
        mc_fail_after(-1);
        shared.empty();
        if (last == 0)
            break;
    }
    EXPECT_EQ(last, 0);
}

}  // namespace
