#include "kdbase/args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kdbase/mem_collector.h"
#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

class args_test : public vantrel_test::log_test {
protected:
    // parse(argc, argv) over copies of the words.
    int parse_words(args_t& a, std::vector<std::string> words)
    {
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(&w[0]);
        return a.parse((int)argv.size(), argv.data());
    }
    std::vector<std::string> values(const args_t& a, const char* name)
    {
        char* v[ARGS_MAX_VALUES];
        int n = a.get_arg(name, v);
        std::vector<std::string> out;
        for (int i = 0; i < n; ++i)
            out.push_back(v[i]);
        if (n >= 0) {
            EXPECT_EQ(v[n], nullptr);
        }
        return out;
    }
};

using strings = std::vector<std::string>;

TEST_F(args_test, a_host_command_line_and_syntax_errors)
{
    args_t a;
    EXPECT_EQ(parse_words(a, {"./host", "-name", "demo", "--fullscreen", "-v", "-size=640,480", "level1.cds"}), 5);
    EXPECT_EQ(a.get_arg("./host", nullptr), 0);
    EXPECT_EQ(values(a, "name"), (strings{"demo"}));
    EXPECT_EQ(a.get_arg("fullscreen", nullptr), 0);
    EXPECT_EQ(a.get_arg("v", nullptr), 0);
    // A word after an option belongs to it, also after the equals form.
    EXPECT_EQ(values(a, "size"), (strings{"640", "480 level1.cds"}));
    EXPECT_EQ(a.get_arg("level1.cds", nullptr), -1);
    EXPECT_EQ(parse_words(a, {"level1.cds", "-v"}), 2);
    EXPECT_EQ(a.get_arg("level1.cds", nullptr), 0);
    // A value that begins with "-" is an argument of its own.
    EXPECT_EQ(parse_words(a, {"-offset", "-5"}), 2);
    EXPECT_EQ(a.get_arg("offset", nullptr), 0);
    EXPECT_EQ(a.get_arg("5", nullptr), 0);
    // Within the equals form it is a value.
    EXPECT_EQ(parse_words(a, {"-offset=-5,2"}), 1);
    EXPECT_EQ(values(a, "offset"), (strings{"-5", "2"}));
    // The blank and the equals forms agree.
    args_t b;
    EXPECT_EQ(parse_words(a, {"-size", "640,480"}), 1);
    EXPECT_EQ(parse_words(b, {"-size=640,480"}), 1);
    EXPECT_EQ(values(a, "size"), (strings{"640", "480"}));
    EXPECT_EQ(values(b, "size"), (strings{"640", "480"}));
    EXPECT_STREQ(a.get_value("size", 1), "480");
    EXPECT_EQ(a.get_value("size", 2), nullptr);
    EXPECT_EQ(a.get_value("size", -1), nullptr);
    EXPECT_EQ(a.get_value("width", 0), nullptr);
    EXPECT_EQ(a.get_arg("width", nullptr), -1);
    // Syntax errors.
    EXPECT_EQ(parse_words(a, {"-ok", "=640"}), 1);
    EXPECT_EQ(parse_words(a, {"=640"}), -1);
    EXPECT_TRUE(log_has("invalid syntax near: =640"));
    EXPECT_EQ(parse_words(a, {"-a", "x", ",b"}), -1);
    EXPECT_EQ(a.count, 1);
    EXPECT_EQ(a.get_arg("a", nullptr), 1);
    EXPECT_EQ(parse_words(a, {"file=x"}), -1);
    clear_log();
    EXPECT_EQ(parse_words(a, {"-ab-c"}), 1);
    EXPECT_TRUE(log_has("more than one argument found in _argstr: -ab-c"));
    EXPECT_EQ(a.get_arg("ab", nullptr), 0);
    EXPECT_EQ(a.parse("\"two words\""), 1);
    EXPECT_TRUE(log_has("single argument not alone: two words"));
    EXPECT_EQ(a.get_arg("two", nullptr), 0);
}

TEST_F(args_test, limits_and_quoted_words)
{
    std::string list;
    for (int i = 0; i < 40; ++i)
        list += (i ? "," : "") + std::to_string(i);
    args_t a;
    EXPECT_EQ(parse_words(a, {"-n", list}), 1);
    strings v = values(a, "n");
    ASSERT_EQ(v.size(), 31u);
    EXPECT_EQ(v[30], "30");
    EXPECT_EQ(parse_words(a, {"-e=", "-f=1,,2,"}), 2);
    EXPECT_EQ(values(a, "e"), strings{});
    EXPECT_EQ(values(a, "f"), (strings{"1", "", "2", ""}));
    // At most 128 words.
    std::vector<std::string> words;
    for (int i = 0; i < 129; ++i)
        words.push_back("-a" + std::to_string(i));
    EXPECT_EQ(parse_words(a, words), 128);
    EXPECT_EQ(a.get_arg("a127", nullptr), 0);
    EXPECT_EQ(a.get_arg("a128", nullptr), -1);
    EXPECT_TRUE(log_has("more than 128 words"));

    std::string line;
    for (int i = 0; i < 200; ++i)
        line += " w" + std::to_string(i);
    EXPECT_EQ(a.parse(line.c_str()), 128);
    EXPECT_EQ(a.get_arg("w127", nullptr), 0);
    // Lines with quoted words.
    EXPECT_EQ(a.parse("  -title \"My \"Game\t-size 640,480\n  \"-mode=window ed\" \"\""), 3);
    EXPECT_EQ(values(a, "title"), (strings{"My Game"}));
    EXPECT_EQ(values(a, "size"), (strings{"640", "480"}));
    // The quoted blank stays in the word; the empty word "" joins it as a value.
    EXPECT_EQ(values(a, "mode"), (strings{"window ed "}));

    EXPECT_EQ(a.parse("-title \"My Game\" -size 640,480\r\n"), 2);
    EXPECT_EQ(values(a, "title"), (strings{"My Game"}));
    EXPECT_EQ(values(a, "size"), (strings{"640", "480"}));
    EXPECT_EQ(a.parse(""), 0);
    EXPECT_EQ(a.parse(" \t\n"), 0);
    for (int fail = 0; fail < 12; ++fail) {
        args_t b;
        mc_fail_after(fail);
        int r = b.parse("-size 640,480 -name=demo -v");
        mc_fail_after(-1);
        if (r != -1) {
            EXPECT_EQ(r, 3);
            EXPECT_EQ(b.get_value("name", 0), std::string("demo"));
        }
    }
}

}  // namespace
