#include "kdbase/str_util.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "tests/common/log_fixture.h"

using namespace vantrel;
using vantrel_test::capture;

namespace {

using str_util_test = vantrel_test::log_test;

TEST_F(str_util_test, number_shapes_spaces_counts_and_cuts)
{
    for (const char* f : {"1.", "-1.5e+3", ".5"})
        EXPECT_TRUE(is_float(f)) << f;
    for (const char* f : {"1e5", "1.2.3", "1.5f", ""})
        EXPECT_FALSE(is_float(f)) << f;
    for (const char* i : {"", "-42", "0x10"})
        EXPECT_TRUE(is_int(i)) << i;
    for (const char* i : {"0x1F", "1.0", " 1"})
        EXPECT_FALSE(is_int(i)) << i;
    // Spaces, counts and cuts.
    char s[] = " \t x y", nl[] = "\n x";
    EXPECT_STREQ(skip_leadingspaces(s), "x y");
    EXPECT_STREQ(skip_leadingspaces(nl), "\n x");
    EXPECT_EQ(get_chr_count("a,b,,c", ','), 3);
    EXPECT_EQ(get_chr_count("", ','), 0);
    // strverify keeps max - 1 characters.
    char t[] = "abcdef", u[] = "abc";
    EXPECT_STREQ(strverify(t, 4), "abc");
    EXPECT_STREQ(strverify(t, 10), "abc");
    EXPECT_STREQ(strverify(t, 0), "");
    EXPECT_STREQ(strverify(u, 4), "abc");
}

TEST_F(str_util_test, enclosed_text_and_path_parts)
{
    char out[PATH_MAX_PATH];
    EXPECT_EQ(get_enclosed_str("f(a(b)c)d)", "()", out), out + 5);
    EXPECT_STREQ(out, "a(b)c");
    const char* cases[][3] = {{"say \"hi\" there", "\"\"", "hi"}, {"no brace", "{}", ""}, {"{open", "{}", "open"}};
    for (auto& c : cases) {
        get_enclosed_str(c[0], c[1], out);
        EXPECT_STREQ(out, c[2]) << c[0];
    }
    EXPECT_EQ(get_enclosed_str("x", "(", out), nullptr);
    // Path parts.
    EXPECT_STREQ(strip_ext("C:\\media\\models\\ship.cds", out), "\\media\\models\\ship");
    EXPECT_STREQ(strip_ext("media/ship.tar.cds", out), "media/ship.tar");
    EXPECT_STREQ(strip_ext("ship", out), "ship");
    EXPECT_STREQ(strip_path("C:\\media\\models\\ship.cds", out), "ship.cds");
    EXPECT_STREQ(strip_path("media/", out), "");
    char p[] = "data/tex/wall.bmp";
    for (const char* base : {"data/", "other/", ""})
        EXPECT_STREQ(trunc_path(p, base), "tex/wall.bmp") << base;
}

TEST_F(str_util_test, dump_hex_line_width_rule)
{
    unsigned char buf[64] = {};
    // (L - L/3)/3 + 1 bytes with L = width - prefix length; a prefix wider
    // than the line still prints one byte, so dumps advance.
    const struct {
        int n, width;
        const char* prefix;
        int bytes;
    } cases[] = {{64, 79, "12345678901", 16}, {64, 40, "", 10}, {5, 79, "", 5}, {64, 3, "a long prefix", 1}};
    for (auto& c : cases) {
        std::string s = capture([&](FILE* f) { EXPECT_EQ(dump_hex_line(f, buf, c.n, c.width, c.prefix), c.bytes); });
        EXPECT_EQ(s.size(), strlen(c.prefix) + 1 + 4 * c.bytes + 1) << c.width;
    }
    EXPECT_EQ(capture([&](FILE* f) { EXPECT_EQ(dump_hex_line(f, buf, 0, 79, "x"), 0); }), "");
    EXPECT_EQ(capture([&](FILE* f) { dump_hex(f, buf, 3, 0, "\t"); }), "\t0x00000000  00 .\n\t0x00000001  00 .\n"
                                                                       "\t0x00000002  00 .\n\n");
}

}  // namespace
