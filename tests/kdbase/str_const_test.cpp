#include "kdbase/str_const.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

class str_const_test : public vantrel_test::log_test {
protected:
    // Fills the table past its end; true when exactly the constants that fit
    // were added and the first one that did not is named in the log.
    bool overflow_table()
    {
        static std::vector<std::string> names;
        std::vector<str_const_t> a;
        for (int i = 0; i < 1030; ++i)
            names.push_back("SCT_FILL_" + std::to_string(i));
        for (int i = 0; i < 1030; ++i)
            a.push_back({names[i].c_str(), i});
        a.push_back({"", -1});
        add_const_a(a.data());
        int fitted = 0;
        while (fitted < 1030 && get_const(names[fitted].c_str()) == fitted)
            ++fitted;
        bool ok = fitted <= 1022 && fitted >= 1022 - 8;
        ok = ok && log_has("constant array has overflowed at constant SCT_FILL_" + std::to_string(fitted));
        for (int i = fitted; i < 1030; ++i)
            ok = ok && get_const(names[i].c_str()) == -1;
        static const str_const_t more[] = {{"SCT_TOO_MANY", 1}, {"", -1}};
        add_const_a(more);
        return ok && get_const("SCT_TOO_MANY") == -1 && get_const("STRC_MAXCONSTANTS") == 1024;
    }
};

TEST_F(str_const_test, added_constants_are_found_by_exact_name_and_the_first_value_stays)
{
    static const str_const_t a[] = {{"SCT_RED", 1}, {"SCT_GREEN", 2}, {"SCT_DUP", 10}, {"", -1}};
    static const str_const_t b[] = {{"SCT_DUP", 20}, {"SCT_AFTER_DUP", 30}, {"", -1}};
    add_const_a(a);
    add_const_a(b);
    EXPECT_EQ(get_const("SCT_RED"), 1);
    EXPECT_EQ(get_const("SCT_GREEN"), 2);
    EXPECT_EQ(get_const("SCT_GREE"), -1);
    EXPECT_TRUE(log_has("did not find the constant named SCT_GREE"));
    EXPECT_EQ(get_const(nullptr), -1);
    EXPECT_TRUE(log_has("_name"));
    EXPECT_EQ(get_const("SCT_DUP"), 10);
    EXPECT_EQ(get_const("SCT_AFTER_DUP"), 30);
    EXPECT_TRUE(log_has("constant SCT_DUP already exists"));
}

// The table is process-wide, so the overflow runs in a child process. Run
// alone the table takes exactly 1022 of them; after other tests added theirs,
// fewer. Either way the first one that did not fit is named and nothing after
// it is added.
TEST_F(str_const_test, overflows_after_1022_constants)
{
    EXPECT_EXIT(exit(overflow_table() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

}  // namespace
