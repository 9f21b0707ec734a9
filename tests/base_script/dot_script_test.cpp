#include "base_script/dot_script.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kdbase/d_list.h"
#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

// A plug-in that records its blocks. A statement holding "fail" fails with
// its number; "run" followed by a quoted path runs that script file.
class rec_plugin : public dot_plugin {
public:
    s_token newline{"\n"};
    s_token* table[2] = {&newline, nullptr};
    std::vector<std::string> args_seen, tokens_seen;
    int blocks = 0;

    explicit rec_plugin(const char* n = "rec") : dot_plugin(n)
    {
        charset = "_a-zA-Z0-9./";
        keywords = table;
        quote = "'";
    }
    int process(d_list* args, d_list* tokens) override
    {
        ++blocks;
        for (d_node* n = args->first; n; n = n->next)
            args_seen.push_back(static_cast<s_token*>(n->object)->name);
        int statement = 1;
        for (d_node* n = tokens->first; n; n = n->next) {
            std::string t = static_cast<s_token*>(n->object)->name;
            tokens_seen.push_back(t);
            if (t == "\n")
                ++statement;
            if (t == "fail")
                return statement;
            if (t == "run" && n->next) {
                std::string q = static_cast<s_token*>(n->next->object)->name;
                if (script->process(q.substr(1, q.size() - 2).c_str()) != 0)
                    return statement;
            }
        }
        return 0;
    }
};

class dot_script_test : public vantrel_test::log_test {
protected:
    dot_script script;
    rec_plugin rec;
    void SetUp() override
    {
        log_test::SetUp();
        ASSERT_EQ(script.add_plugin(&rec), 0);
    }
    int run(const std::string& name, const std::string& text) { return script.process(write_file(name, text).c_str()); }
    void expect_script_settings()
    {
        EXPECT_STREQ(script.charset, "^ \t\n");
        EXPECT_EQ(script.keywords, script.keyword_table);
        EXPECT_STREQ(script.quote.name, "\"");
        EXPECT_EQ(script.depth(), 0);
    }
};

TEST_F(dot_script_test, lines_start_with_a_keyword_and_blocks_close)
{
    std::string p = write_file("bad.ds", "hello\n");
    EXPECT_EQ(script.process(p.c_str()), -1);
    EXPECT_TRUE(log_has("invalid keyword hello found"));
    EXPECT_TRUE(log_has(p + " (-1): error running script"));
    EXPECT_EQ(run("nosuch.ds", "\n. nosuch\nx\n./nosuch\n"), -1);
    EXPECT_TRUE(log_has("plugin nosuch not found"));
    EXPECT_EQ(script.process(path("missing.ds").c_str()), -1);
    EXPECT_TRUE(log_has("unable to open file " + path("missing.ds") + ": No such file or directory"));
    // A block gets its arguments and its own settings.
    EXPECT_EQ(run("a.ds", ". rec one two\na = 'x y' \"q\"\n  ./rec ignored text\n"), 0);
    EXPECT_EQ(rec.args_seen, (std::vector<std::string>{"one", "two", "\n"}));
    EXPECT_EQ(rec.tokens_seen, (std::vector<std::string>{"a", "=", "'x y'", "\"", "q", "\"", "\n"}));
    expect_script_settings();
    // An unclosed block fails and restores the settings.
    p = write_file("u.ds", ". rec\na\nb\n");
    EXPECT_EQ(script.process(p.c_str()), -1);
    EXPECT_EQ(rec.blocks, 1);  // the one before
    EXPECT_TRUE(log_has(p + " (-1): error running script"));
    expect_script_settings();
    // A block whose line cannot be tokenized leaves the settings as well.
    EXPECT_EQ(run("q.ds", ". rec\na = 'open\n./rec\n"), -1);
    expect_script_settings();
    // The script runs the next file normally.
    EXPECT_EQ(run("ok.ds", ". rec\nfine\n./rec\n"), 0);
}

TEST_F(dot_script_test, failing_statements_report_their_own_file_line)
{
    std::string p = write_file("f.ds", "\n\n\n\n. rec\nok\nok\nfail\n./rec\n");
    EXPECT_EQ(script.process(p.c_str()), 8);
    EXPECT_TRUE(log_has(p + " (8): error running script"));
    // A four-line block first, then a block failing on its first statement.
    EXPECT_EQ(run("g.ds", ". rec\na\nb\n./rec\n. rec\nfail\n./rec\n"), 6);
    // Blank and comment-like lines inside a block still count, CRLF lines alike.
    EXPECT_EQ(run("h.ds", "\n. rec\n\n\nfail\n./rec\n"), 5);
    rec.tokens_seen.clear();
    EXPECT_EQ(run("crlf.ds", "\r\n. rec\r\nok\r\nfail\r\n./rec\r\n"), 4);
    EXPECT_EQ(rec.tokens_seen, (std::vector<std::string>{"ok", "\n", "fail"}));
    // Closing is a prefix test.
    rec.blocks = 0;
    EXPECT_EQ(run("p.ds", ". rec\na\n\t./recording\n. rec\nb\n./rec\n"), 0);
    EXPECT_EQ(rec.blocks, 2);
    std::string inner = write_file("inner.ds", ". rec\nok\nfail\n./rec\n");
    std::string outer = write_file("outer.ds", "\n. rec\nok\nrun '" + inner + "'\n./rec\n");
    EXPECT_EQ(script.process(outer.c_str()), 4);
    std::string log;
    for (const std::string& l : log_lines())
        log += l + "\n";
    size_t at_inner = log.find(inner + " (3): error running"), at_outer = log.find(outer + " (4): error running");
    EXPECT_LT(at_inner, at_outer);
    EXPECT_NE(at_outer, std::string::npos);
    expect_script_settings();
    // Nesting is limited.
    std::string self = path("self.ds");
    rec.blocks = 0;
    write_file("self.ds", ". rec\nrun '" + self + "'\n./rec\n");
    EXPECT_EQ(script.process(self.c_str()), 2);
    EXPECT_TRUE(log_has("unable to run " + self + ": scripts nested deeper than 32"));
    EXPECT_EQ(rec.blocks, 32);
    expect_script_settings();
}

}  // namespace
