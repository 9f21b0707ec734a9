#include "base_script/base_script.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "kdbase/d_list.h"
#include "kdbase/mem_collector.h"
#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

// The configuration language's settings, made here from plain tokens.
struct settings {
    std::vector<std::unique_ptr<s_token>> words;
    std::vector<s_token*> table;
    settings(std::initializer_list<const char*> names)
    {
        for (const char* n : names)
            table.push_back((words.emplace_back(new s_token(n)), words.back().get()));
        table.push_back(nullptr);
    }
};

class tokenizer_test : public vantrel_test::log_test {
protected:
    settings cfg{"dc_add", "dc_set", "\n", "#", "[", "]", ".", "->", "=", "(", ")", ",", "%", "&", "include"};
    settings scr{".", "\n"};
    base_script bs;
    void SetUp() override
    {
        log_test::SetUp();
        use_config();
    }
    void use_config()
    {
        bs.charset = "_a-zA-Z0-9";
        bs.keywords = cfg.table.data();
    }
    void use_script()
    {
        bs.charset = "^ \t\n";
        bs.keywords = scr.table.data();
    }
    std::vector<std::string> tokens(const std::string& line, int expect = 0)
    {
        d_list out(1);
        EXPECT_EQ(bs.tokenize_line(line.c_str(), &out), expect) << line;
        return texts(out);
    }
    static std::vector<std::string> texts(d_list& l)
    {
        std::vector<std::string> v;
        for (d_node* n = l.first; n; n = n->next)
            v.push_back(static_cast<s_token*>(n->object)->name);
        return v;
    }
};

using strings = std::vector<std::string>;

TEST_F(tokenizer_test, statements_numbers_quoted_strings_keywords_and_charsets)
{
    EXPECT_EQ(tokens("a=b\n"), (strings{"a", "=", "b", "\n"}));
    EXPECT_EQ(tokens("  x  \n"), (strings{"x", "\n"}));
    EXPECT_EQ(tokens(""), strings{});
    EXPECT_EQ(tokens(" \t "), strings{});
    EXPECT_EQ(tokens("cam->vp[2].x = -1.5e3 # c\n"),
              (strings{"cam", "->", "vp", "[", "2", "]", ".", "x", "=", "-1.5e3", "#", "c", "\n"}));
    EXPECT_EQ(tokens("set_v(&v, 1, 0.0, 12.5)\n"),
              (strings{"set_v", "(", "&", "v", ",", "1", ",", "0.0", ",", "12.5", ")", "\n"}));
    // Numbers.
    EXPECT_EQ(tokens("0 0.0 -3, 12.5] 1e3)"), (strings{"0", "0.0", "-3", ",", "12.5", "]", "1e3", ")"}));
    EXPECT_EQ(tokens("1.5.3"), (strings{"1", ".", "5.3"}));
    EXPECT_EQ(tokens("-x"), (strings{"-", "x"}));
    EXPECT_EQ(tokens(".5"), (strings{".", "5"}));
    // No C-library extras: these are identifiers.
    EXPECT_EQ(tokens("info nan inf 0x1F"), (strings{"info", "nan", "inf", "0", "x1F"}));
    EXPECT_EQ(tokens("3abc"), (strings{"3", "abc"}));
    // A stop character that also stands first never gives an empty token.
    EXPECT_EQ(tokens("-5-"), (strings{"-5", "-"}));
    EXPECT_EQ(tokens("+1+"), (strings{"+1", "+"}));
    // Quoted strings.
    EXPECT_EQ(tokens("\"hello world\" 5\n"), (strings{"\"hello world\"", "5", "\n"}));
    EXPECT_EQ(tokens("\"\"\n"), (strings{"\"\"", "\n"}));
    EXPECT_EQ(tokens("x=\"a # b\"\n"), (strings{"x", "=", "\"a # b\"", "\n"}));
    // Unterminated at the end of the line: the closing quote would lie beyond it.
    EXPECT_EQ(tokens("x = \"open", -1), (strings{"x", "=", "\"open\""}));
    EXPECT_TRUE(log_has("tokenize_line(): read beyond the end of string: x = \"open"));
    // A file line keeps its newline inside the unterminated string.
    EXPECT_EQ(tokens("\"open\n", -1).size(), 1u);
    // At most 1024 characters between quotes: the string is closed early, and
    // its real closing quote then opens a string that the line does not close.
    std::string body(1100, 'q');
    strings t = tokens("\"" + body + "\"", -1);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0], "\"" + std::string(1024, 'q') + "\"");
    EXPECT_EQ(t[1], std::string(75, 'q'));
    // Keywords are prefixes.
    EXPECT_EQ(tokens("includes"), (strings{"include", "s"}));
    EXPECT_EQ(tokens("dc_added"), (strings{"dc_add", "ed"}));
    EXPECT_EQ(tokens("include \"more.ds\"\n"), (strings{"include", "\"more.ds\"", "\n"}));
    EXPECT_EQ(tokens("a+*!b"), (strings{"a", "+", "*", "!", "b"}));
    // Identifier runs are cut at 255 characters.
    t = tokens(std::string(300, 'k'));
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].size(), 255u);
    EXPECT_EQ(t[1].size(), 45u);
    // A carriage return is no white space.
    EXPECT_EQ(tokens("a\r\n"), (strings{"a", "\r", "\n"}));
    use_script();
    EXPECT_EQ(tokens(". config\r\n"), (strings{".", "config\r", "\n"}));
    // The charset follows the scanf class rules.
    bs.charset = "]a-c-";
    EXPECT_EQ(tokens("]ab-cd"), (strings{"]ab-c", "d"}));
    bs.charset = "^x";
    EXPECT_EQ(tokens("abxab"), (strings{"ab", "x", "ab"}));
}

TEST_F(tokenizer_test, whole_files_with_crlf_and_allocation_failures)
{
    auto file_tokens = [&](const std::string& text) {
        FILE* f = fopen(write_file("a.cfg", text).c_str(), "r");
        d_list out(1);
        EXPECT_EQ(bs.tokenize(f, &out), 0);
        fclose(f);
        return texts(out);
    };
    EXPECT_EQ(file_tokens("a = 1\r\n\r\nb=\"two words\"\n  # note\nlast"),
              (strings{"a", "=", "1", "\n", "\n", "b", "=", "\"two words\"", "\n", "#", "note", "\n", "last"}));
    // A physical line longer than a read arrives as several lines.
    size_t total = 0;
    for (const std::string& t : file_tokens(std::string(3000, 'z') + "\n"))
        total += t.size();
    EXPECT_EQ(total, 3001u);
    // Allocation failures.
    for (int fail = 0; fail < 8; ++fail) {
        d_list out(1);
        mc_fail_after(fail);
        int r = bs.tokenize_line("a = \"b\"\n", &out);
        mc_fail_after(-1);
        EXPECT_TRUE(r == -1 || out.count == 4);
    }
    EXPECT_TRUE(log_has("unable to allocate token"));
}

}  // namespace
