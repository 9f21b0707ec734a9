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
    EXPECT_FALSE(is_float(nullptr));
    EXPECT_FALSE(is_int(nullptr));
    EXPECT_TRUE(log_has("is_float(): invalid parameter"));
    EXPECT_TRUE(log_has("is_int(): invalid parameter"));
}

TEST_F(str_util_test, spaces_and_counts)
{
    char s[] = " \t x y";
    EXPECT_STREQ(skip_leadingspaces(s), "x y");
    char nl[] = "\n x";
    EXPECT_STREQ(skip_leadingspaces(nl), "\n x");
    EXPECT_EQ(skip_leadingspaces(nullptr), nullptr);
    EXPECT_TRUE(log_has("skip_leadingspaces(): invalid parameters"));
    EXPECT_EQ(get_chr_count("a,b,,c", ','), 3);
    EXPECT_EQ(get_chr_count("", ','), 0);
    EXPECT_EQ(get_chr_count(nullptr, ','), 0);
    EXPECT_TRUE(log_has("get_chr_count(): invalid parameter"));
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
    EXPECT_EQ(get_enclosed_str(nullptr, "()", out), nullptr);
    EXPECT_TRUE(log_has("get_enclosed_str(): invalid parameters"));
}

TEST_F(str_util_test, copy_upto_stops_at_char_or_end)
{
    char out[32];
    EXPECT_STREQ(copy_upto("key=value", out, '='), "key");
    EXPECT_STREQ(copy_upto("plain", out, '='), "plain");
    EXPECT_EQ(copy_upto(nullptr, out, '='), nullptr);
}

TEST_F(str_util_test, path_parts)
{
    char out[PATH_MAX_PATH];
    EXPECT_STREQ(strip_ext("C:\\media\\models\\ship.cds", out), "\\media\\models\\ship");
    EXPECT_STREQ(strip_ext("media/ship.tar.cds", out), "media/ship.tar");
    EXPECT_STREQ(strip_ext("ship", out), "ship");
    EXPECT_STREQ(strip_path("C:\\media\\models\\ship.cds", out), "ship.cds");
    EXPECT_STREQ(strip_path("media/", out), "");
    EXPECT_EQ(strip_ext(nullptr, out), nullptr);
    EXPECT_TRUE(log_has("_src"));
    EXPECT_EQ(strip_path("a", nullptr), nullptr);
    EXPECT_TRUE(log_has("_out"));

    char p[] = "data/tex/wall.bmp";
    EXPECT_STREQ(trunc_path(p, "data/"), "tex/wall.bmp");
    EXPECT_STREQ(trunc_path(p, "other/"), "tex/wall.bmp");
    EXPECT_STREQ(trunc_path(p, ""), "tex/wall.bmp");
    EXPECT_EQ(trunc_path(nullptr, "x"), nullptr);
    EXPECT_TRUE(log_has("_path"));
    EXPECT_EQ(trunc_path(p, nullptr), nullptr);
    EXPECT_TRUE(log_has("_basepath"));
}

TEST_F(str_util_test, array_helpers)
{
    int x, y, z;
    void* a[] = {&x, &y, &x};
    EXPECT_EQ(get_index(&x, a, 3), 0);
    EXPECT_EQ(get_index(&y, a, 3), 1);
    EXPECT_EQ(get_index(&z, a, 3), 3);
    EXPECT_EQ(get_index(&y, a, 1), 1);
    EXPECT_EQ(get_index(nullptr, a, 3), -1);
    EXPECT_EQ(get_index(&x, nullptr, 3), -1);
    EXPECT_EQ(get_index(&x, a, -1), -1);

    int ids[4] = {7, 0, 0, 0};
    EXPECT_EQ(add_to_int_a(ids, 4, 0, 8), 1);
    EXPECT_EQ(add_to_int_a(ids, 4, 0, 9), 2);
    EXPECT_EQ(ids[3], 0);
    // The terminator sits in the last slot: no room for another value.
    EXPECT_EQ(add_to_int_a(ids, 4, 0, 10), -1);
    EXPECT_EQ(ids[2], 9);
    EXPECT_EQ(ids[3], 0);
    int one[1] = {0};
    EXPECT_EQ(add_to_int_a(one, 1, 0, 5), -1);
    EXPECT_EQ(one[0], 0);

    unsigned long v[] = {5, 1, 4, 1, 0};
    SortArray(v, 5);
    EXPECT_EQ(std::vector<unsigned long>(v, v + 5), (std::vector<unsigned long>{0, 1, 1, 4, 5}));
    SortArray(v, 0);
}

TEST_F(str_util_test, dump_hex_of_20_bytes_at_width_79)
{
    unsigned char buf[20];
    for (int i = 0; i < 20; ++i)
        buf[i] = (unsigned char)('A' + i);
    buf[1] = 0;
    buf[2] = '.';
    auto lines = split_lines(printed([&](FILE* f) { dump_hex(f, buf, 20, 79, ""); }));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "0x00000000  41 00 2E 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 A..DEFGHIJKLMNOP");
    EXPECT_EQ(lines[1], "0x00000010  51 52 53 54 QRST");
    EXPECT_EQ(lines[2], "");
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
    // Printers stay silent about a missing stream.
    dump_hex(nullptr, buf, 3, 79, "");
    EXPECT_EQ(dump_hex_line(nullptr, buf, 3, 79, ""), 0);
    EXPECT_TRUE(log_lines().empty());
}

TEST_F(str_util_test, dump_hex_line_into_text)
{
    char buf[] = {'a', 'b', 0x7f};
    char out[32];
    EXPECT_EQ(dump_hex_line(out, buf, 3, (char*)""), out);
    EXPECT_EQ(std::string(out, 9), "61 62 7F ");
    EXPECT_EQ(std::string(out + 9, 3), std::string(buf, 3));
    EXPECT_EQ(dump_hex_line(nullptr, buf, 3, (char*)""), nullptr);
    EXPECT_TRUE(log_has("_line"));
}

}  // namespace
