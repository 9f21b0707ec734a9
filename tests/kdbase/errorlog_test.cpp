#include "kdbase/errorlog.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/common/log_fixture.h"

namespace {

std::string last_status, last_message;
int status_calls, message_calls;
void on_status(char* m)
{
    last_status = m;
    ++status_calls;
}
void on_message(char* m)
{
    last_message = m;
    ++message_calls;
}

class errorlog_test : public vantrel_test::log_test {
protected:
    void SetUp() override
    {
        log_test::SetUp();
        last_status.clear();
        last_message.clear();
        status_calls = message_calls = 0;
        set_display_status_func(on_status);
        set_display_message_func(on_message);
    }
};

TEST_F(errorlog_test, major_line_has_time_in_brackets_and_no_location)
{
    errorlog("kdbase/d_list.cpp", 83, EL_MAJOR, "failed %d", 7);
    auto lines = log_lines();
    ASSERT_EQ(lines.size(), 1u);
    // "[" + 24-character ctime text + "] " + message
    ASSERT_GE(lines[0].size(), 27u);
    EXPECT_EQ(lines[0][0], '[');
    EXPECT_EQ(lines[0].substr(25), "] failed 7");
    EXPECT_EQ(status_calls, 0);
}

TEST_F(errorlog_test, debug_line_carries_file_name_and_line)
{
    errorlog("kdbase/d_list.cpp", 83, EL_MINDEBUG, "note");
    auto lines = log_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(": d_list.cpp(83)] note"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[0].find("kdbase"), std::string::npos);
}

TEST_F(errorlog_test, macro_passes_path_relative_to_the_source_root)
{
    ELOG(EL_MINDEBUG, "here");
    auto lines = log_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(": errorlog_test.cpp("), std::string::npos) << lines[0];
    EXPECT_EQ(std::string(__FILE__), "tests/kdbase/errorlog_test.cpp");
}

TEST_F(errorlog_test, long_message_is_cut_to_255_everywhere)
{
    std::string big(300, 'x');
    errorlog("f.cpp", 1, EL_STATUS, "%s", big.c_str());
    auto lines = log_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(27), std::string(255, 'x'));
    EXPECT_EQ(last_status, std::string(255, 'x') + "\n");
}

TEST_F(errorlog_test, status_callback_gets_newline_file_does_not)
{
    errorlog("f.cpp", 1, EL_STATUS, "progress");
    EXPECT_EQ(last_status, "progress\n");
    EXPECT_EQ(log_lines().at(0).substr(25), "] progress");
    errorlog("f.cpp", 1, 7, "between");
    EXPECT_EQ(last_status, "between\n");
    EXPECT_EQ(log_lines().at(1).find("f.cpp"), std::string::npos);
}

TEST_F(errorlog_test, threshold_drops_everything_above_it)
{
    set_log_priority(3);
    errorlog("f.cpp", 1, EL_MINOR, "dropped");
    EXPECT_TRUE(log_lines().empty());
    EXPECT_EQ(status_calls, 0);
    errorlog("f.cpp", 1, EL_SHOWUSER, "shown");
    EXPECT_EQ(last_message, "shown");
    EXPECT_EQ(log_lines().size(), 1u);
}

TEST_F(errorlog_test, unwritable_log_file_loses_only_the_line)
{
    set_logfile("/nonexistent-dir/x/errorlog");
    errorlog("f.cpp", 1, EL_STATUS, "still shown");
    EXPECT_EQ(last_status, "still shown\n");
}

TEST_F(errorlog_test, invalid_pointer_check_names_the_expression)
{
    auto f = [](int* _ptr) -> int {
        CHECK_PTR(_ptr, -1);
        return 0;
    };
    EXPECT_EQ(f(nullptr), -1);
    EXPECT_TRUE(log_has("invalid pointer: _ptr=0"));
}

using errorlog_death_test = errorlog_test;

TEST_F(errorlog_death_test, critical_ends_the_process_with_1)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(errorlog("f.cpp", 1, EL_CRITICAL, "fatal"), ::testing::ExitedWithCode(1), "");
    set_display_message_func(nullptr);
    EXPECT_EXIT(errorlog("f.cpp", 1, EL_CRITICAL, "fatal"), ::testing::ExitedWithCode(1), "");
    set_log_priority(3);  // drops EL_MINOR, never EL_CRITICAL
    EXPECT_EXIT(errorlog("f.cpp", 1, EL_CRITICAL, "fatal"), ::testing::ExitedWithCode(1), "");
}

}  // namespace
