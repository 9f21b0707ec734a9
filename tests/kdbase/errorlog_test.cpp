#include "kdbase/errorlog.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/common/log_fixture.h"

namespace {

std::string last_status, last_message;
int status_calls;
void on_status(char* m)
{
    last_status = m;
    ++status_calls;
}
void on_message(char* m)
{
    last_message = m;
}

class errorlog_test : public vantrel_test::log_test {
protected:
    void SetUp() override
    {
        log_test::SetUp();
        last_status.clear();
        last_message.clear();
        status_calls = 0;
        set_display_status_func(on_status);
        set_display_message_func(on_message);
    }
};

const size_t npos = std::string::npos;

TEST_F(errorlog_test, lines_callbacks_thresholds_and_long_messages)
{
    errorlog("kdbase/d_list.cpp", 83, EL_MAJOR, "failed %d", 7);
    errorlog("kdbase/d_list.cpp", 83, EL_MINDEBUG, "note");
    ELOG(EL_MINDEBUG, "here");  // the path relative to the source root
    auto lines = log_lines();
    ASSERT_EQ(lines.size(), 3u);
    // "[" + 24-character ctime text + "] " + message
    EXPECT_EQ(lines[0][0], '[');
    EXPECT_EQ(lines[0].substr(25), "] failed 7");
    EXPECT_NE(lines[1].find(": d_list.cpp(83)] note"), npos) << lines[1];
    EXPECT_EQ(lines[1].find("kdbase"), npos);
    EXPECT_NE(lines[2].find(": errorlog_test.cpp("), npos) << lines[2];
    EXPECT_EQ(std::string(__FILE__), "tests/kdbase/errorlog_test.cpp");
    EXPECT_EQ(status_calls, 2);  // the debug lines only
    clear_log();
    errorlog("f.cpp", 1, EL_STATUS, "progress");
    EXPECT_EQ(last_status, "progress\n");  // the file gets no second newline
    EXPECT_EQ(log_lines().at(0).substr(25), "] progress");
    errorlog("f.cpp", 1, 7, "between");
    EXPECT_EQ(last_status, "between\n");
    EXPECT_EQ(log_lines().at(1).find("f.cpp"), npos);
    errorlog("f.cpp", 1, EL_STATUS, "%s", std::string(300, 'x').c_str());
    EXPECT_EQ(log_lines().at(2).substr(27), std::string(255, 'x'));
    EXPECT_EQ(last_status, std::string(255, 'x') + "\n");

    // The pointer check names the expression.
    auto f = [](int* _ptr) -> int {
        CHECK_PTR(_ptr, -1);
        return 0;
    };
    EXPECT_EQ(f(nullptr), -1);
    EXPECT_TRUE(log_has("invalid pointer: _ptr=0"));

    clear_log();
    status_calls = 0;
    set_log_priority(3);
    errorlog("f.cpp", 1, EL_MINOR, "dropped");
    EXPECT_TRUE(log_lines().empty());
    EXPECT_EQ(status_calls, 0);
    errorlog("f.cpp", 1, EL_SHOWUSER, "shown");
    EXPECT_EQ(last_message, "shown");
    EXPECT_EQ(log_lines().size(), 1u);

    set_logfile("/nonexistent-dir/x/errorlog");  // loses only the line
    errorlog("f.cpp", 1, EL_SHOWUSER, "still shown");
    EXPECT_EQ(last_message, "still shown");
}

using errorlog_death_test = errorlog_test;

TEST_F(errorlog_death_test, critical_ends_the_process_with_1)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(errorlog("f.cpp", 1, EL_CRITICAL, "fatal"), ::testing::ExitedWithCode(1), "");
    set_display_message_func(nullptr);
    set_log_priority(3);  // drops EL_MINOR, never EL_CRITICAL
    EXPECT_EXIT(errorlog("f.cpp", 1, EL_CRITICAL, "fatal"), ::testing::ExitedWithCode(1), "");
}

}  // namespace
