#include "kdbase/str_util.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

class str_util_test : public vantrel_test::log_test {
protected:
    // Runs a printer on a temporary file and returns what it wrote.
    template <class F>
    std::string printed(F print)
    {
        FILE* f = tmpfile();
        EXPECT_NE(f, nullptr);
        print(f);
        std::string out;
        rewind(f);
        for (int c; (c = fgetc(f)) != EOF;)
            out += (char)c;
        fclose(f);
        return out;
    }
};

std::vector<std::string> split_lines(const std::string& s)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = s.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(s.substr(start, nl - start));
    return lines;
}

TEST_F(str_util_test, number_shapes)
{
    EXPECT_TRUE(is_float("1."));
    EXPECT_TRUE(is_float("-1.5e+3"));
    EXPECT_TRUE(is_float(".5"));
    EXPECT_FALSE(is_float("1e5"));
    EXPECT_FALSE(is_float("1.2.3"));
    EXPECT_FALSE(is_float("1.5f"));
    EXPECT_FALSE(is_float(""));
    EXPECT_TRUE(is_int(""));
    EXPECT_TRUE(is_int("-42"));
    EXPECT_TRUE(is_int("0x10"));
    EXPECT_FALSE(is_int("0x1F"));
    EXPECT_FALSE(is_int("1.0"));
    EXPECT_FALSE(is_int(" 1"));
}

TEST_F(str_util_test, spaces_and_counts)
{
    char s[] = " \t x y";
    EXPECT_STREQ(skip_leadingspaces(s), "x y");
    char nl[] = "\n x";
    EXPECT_STREQ(skip_leadingspaces(nl), "\n x");
    EXPECT_EQ(get_chr_count("a,b,,c", ','), 3);
    EXPECT_EQ(get_chr_count("", ','), 0);
}

TEST_F(str_util_test, strverify_cuts_to_max_minus_one)
{
    char s[] = "abcdef";
    EXPECT_STREQ(strverify(s, 4), "abc");
    EXPECT_STREQ(strverify(s, 10), "abc");
    EXPECT_STREQ(strverify(s, 0), "");
    char t[] = "abc";
    EXPECT_STREQ(strverify(t, 4), "abc");
}

TEST_F(str_util_test, enclosed_text_counts_nesting)
{
    char out[64];
    char* end = get_enclosed_str("f(a(b)c)d)", "()", out);
    EXPECT_STREQ(out, "a(b)c");
    EXPECT_EQ(end, out + 5);
    get_enclosed_str("say \"hi\" there", "\"\"", out);
    EXPECT_STREQ(out, "hi");
    get_enclosed_str("no brace", "{}", out);
    EXPECT_STREQ(out, "");
    get_enclosed_str("{open", "{}", out);
    EXPECT_STREQ(out, "open");
    EXPECT_EQ(get_enclosed_str("x", "(", out), nullptr);
}

TEST_F(str_util_test, path_parts)
{
    char out[PATH_MAX_PATH];
    EXPECT_STREQ(strip_ext("C:\\media\\models\\ship.cds", out), "\\media\\models\\ship");
    EXPECT_STREQ(strip_ext("media/ship.tar.cds", out), "media/ship.tar");
    EXPECT_STREQ(strip_ext("ship", out), "ship");
    EXPECT_STREQ(strip_path("C:\\media\\models\\ship.cds", out), "ship.cds");
    EXPECT_STREQ(strip_path("media/", out), "");

    char p[] = "data/tex/wall.bmp";
    EXPECT_STREQ(trunc_path(p, "data/"), "tex/wall.bmp");
    EXPECT_STREQ(trunc_path(p, "other/"), "tex/wall.bmp");
    EXPECT_STREQ(trunc_path(p, ""), "tex/wall.bmp");
}

TEST_F(str_util_test, dump_hex_line_width_rule)
{
    unsigned char buf[64] = {};
    // (L - L/3)/3 + 1 with L = width - prefix length.
    EXPECT_EQ(printed([&](FILE* f) { EXPECT_EQ(dump_hex_line(f, buf, 64, 79, "12345678901"), 16); }).size(),
              11u + 1 + 16 * 3 + 16 + 1);
    printed([&](FILE* f) { EXPECT_EQ(dump_hex_line(f, buf, 64, 40, ""), 10); });
    printed([&](FILE* f) { EXPECT_EQ(dump_hex_line(f, buf, 5, 79, ""), 5); });
    // A prefix wider than the line still prints one byte, so dumps advance.
    printed([&](FILE* f) { EXPECT_EQ(dump_hex_line(f, buf, 64, 3, "a long prefix"), 1); });
    EXPECT_EQ(printed([&](FILE* f) { EXPECT_EQ(dump_hex_line(f, buf, 0, 79, "x"), 0); }), "");
    auto lines = split_lines(printed([&](FILE* f) { dump_hex(f, buf, 3, 0, "\t"); }));
    EXPECT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], "\t0x00000002  00 .");
}

}  // namespace
