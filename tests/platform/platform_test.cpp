#include "platform/platform.h"

#include <gtest/gtest.h>

#include <climits>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

using platform_test = vantrel_test::log_test;

TEST(scan_decimal, accepts_plain_decimal_forms)
{
    struct {
        const char* text;
        double value;
        size_t used;
    } cases[] = {
        {"0", 0, 1},         {"12", 12, 2},        {"-12", -12, 3},      {"+3.5", 3.5, 4},
        {"1.", 1, 2},        {".5", 0.5, 2},       {"1.5e3", 1500, 5},   {"2E-2", 0.02, 4},
        {"1e", 1, 1},        {"1e+", 1, 1},        {"1.5.3", 1.5, 3},    {"7x", 7, 1},
        {"0.1", 0.1, 3},     {"123456789012345678901234", 1.2345678901234568e23, 24},
    };
    for (const auto& c : cases) {
        double v = -99;
        EXPECT_EQ(scan_decimal(c.text, &v), c.used) << c.text;
        EXPECT_DOUBLE_EQ(v, c.value) << c.text;
    }
}

TEST(scan_decimal, refuses_words_hex_and_blanks)
{
    double v = -99;
    for (const char* text : {"inf", "nan", "info", "0x1p3", " 1", "", "-", ".", "+.", "e5"}) {
        size_t used = scan_decimal(text, &v);
        if (std::string(text) == "0x1p3") {
            EXPECT_EQ(used, 1u);  // the 0 only
            EXPECT_EQ(v, 0);
        } else {
            EXPECT_EQ(used, 0u) << text;
            EXPECT_EQ(v, 0) << text;
        }
    }
    EXPECT_EQ(scan_decimal(nullptr, nullptr), 0u);
    // Extreme exponents neither hang nor trap.
    EXPECT_EQ(scan_decimal("1e999999999", &v), 11u);
    EXPECT_TRUE(std::isinf(v));
    EXPECT_EQ(scan_decimal("1e-999999999", &v), 12u);
    EXPECT_EQ(v, 0);
}

// Long literals against the C library in the C locale; half of them lie a
// few digits from a float midpoint, where rounding twice lands one step off.
TEST(scan_decimal, long_literals_round_as_the_c_library)
{
    uint64_t state = 0x9e3779b97f4a7c15u;  // xorshift: cheap in the sanitizer build
    auto rng = [&state] { return state ^= state << 13, state ^= state >> 7, state ^= state << 17; };
    char text[64];
    int misses = 0;
    for (int n = 0; n < 300000 && misses < 4; ++n) {
        char* end = text;
        if (n % 2) {
            float f = std::ldexp((float)(rng() >> 40) / (1 << 24) + 0.5f, (int)(rng() % 200) - 100);
            double mid = ((double)f + (double)std::nextafter(f, 2 * f)) / 2;
            end = std::to_chars(text, text + 63, mid, std::chars_format::scientific, 17 + (int)(rng() % 6)).ptr;
        } else {  // [-]ddd.ddd...e[-]x, 21 to 23 digits
            if (rng() % 2)
                *end++ = '-';
            for (int k = 0, len = 22 + (int)(rng() % 3); k < len; ++k)
                *end++ = k == 3 ? '.' : (char)('0' + rng() % 10);
            *end++ = 'e';
            end = std::to_chars(end, text + 63, (int)(rng() % 600) - 300).ptr;
        }
        *end = 0;
        double d;
        float f;
        size_t len = strlen(text);
        if (scan_decimal(text, &d) != len || scan_decimal_float(text, &f) != len || d != strtod(text, nullptr) ||
            f != strtof(text, nullptr))
            ADD_FAILURE() << text << (++misses, "");
    }
    float f;
    double d;
    EXPECT_EQ((scan_decimal_float("6.87428784370422452099", &f), f), 6.87428808f);
    std::string tiny = "0." + std::string(400, '0') + "1", huge = "-" + std::string(400, '9');
    EXPECT_EQ((scan_decimal(tiny.c_str(), &d), d), 0);
    EXPECT_EQ((scan_decimal(huge.c_str(), &d), d), -HUGE_VAL);
    EXPECT_TRUE((scan_decimal_float("3.5e38", &f), std::isinf(f)));
}

TEST(scan_integer, signs_and_saturation)
{
    const struct {
        const char* text;
        size_t used;
        long long value;
    } cases[] = {{"-42z", 3, -42}, {"99999999999999999999", 20, LLONG_MAX}, {"-99999999999999999999", 21, LLONG_MIN}};
    long long v;
    for (auto& c : cases) {
        EXPECT_EQ(scan_integer(c.text, &v), c.used);
        EXPECT_EQ(v, c.value);
    }
    EXPECT_EQ(scan_integer("x1", &v), 0u);
}

TEST(split_path, both_separators_and_drive_letters)
{
    char drive[PATH_MAX_DRIVE], dir[PATH_MAX_DIR], fname[PATH_MAX_FNAME], ext[PATH_MAX_EXT];
    const char* cases[][5] = {{"C:\\games\\data/level1.cds", "C:", "\\games\\data/", "level1", ".cds"},
                              {"noext", "", "", "noext", ""},
                              {"a.b/c", "", "a.b/", "c", ""},
                              {"a/b\\c.d", "", "a/b\\", "c", ".d"}};
    for (auto& c : cases) {
        split_path(c[0], drive, dir, fname, ext);
        EXPECT_EQ(std::string(drive) + "|" + dir + "|" + fname + "|" + ext,
                  std::string(c[1]) + "|" + c[2] + "|" + c[3] + "|" + c[4]);
    }
    split_path(std::string(1000, 'x').c_str(), nullptr, dir, fname, ext);
    EXPECT_EQ(std::string(fname).size(), (size_t)PATH_MAX_FNAME - 1);
    char out[PATH_MAX_PATH];
    make_path(out, nullptr, "bin", "rlib", "link");
    EXPECT_STREQ(out, "bin/rlib.link");
    make_path(out, "", "a/", "b", ".c");
    EXPECT_STREQ(out, "a/b.c");
}

TEST_F(platform_test, read_line_turns_crlf_into_lf)
{
    std::string p = write_file("t.txt", "one\r\n\r\ntwo\rthree\nlast");
    FILE* f = fopen(p.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[64];
    ASSERT_NE(read_line(buf, sizeof buf, f), nullptr);
    EXPECT_STREQ(buf, "one\n");
    ASSERT_NE(read_line(buf, sizeof buf, f), nullptr);
    EXPECT_STREQ(buf, "\n");  // an empty line
    ASSERT_NE(read_line(buf, sizeof buf, f), nullptr);
    EXPECT_STREQ(buf, "two\rthree\n");
    ASSERT_NE(read_line(buf, sizeof buf, f), nullptr);
    EXPECT_STREQ(buf, "last");
    EXPECT_EQ(read_line(buf, sizeof buf, f), nullptr);
    fclose(f);
    // A full buffer at the CR.
    f = fopen(write_file("u.txt", "abc\r\nd\n").c_str(), "rb");
    ASSERT_NE(read_line(buf, 5, f), nullptr);  // "abc\r" fills it
    EXPECT_STREQ(buf, "abc\n");
    ASSERT_NE(read_line(buf, 5, f), nullptr);
    EXPECT_STREQ(buf, "d\n");
    // Nothing fits in one byte: a reading loop must still end.
    EXPECT_EQ(read_line(buf, 1, f), nullptr);
    fclose(f);
}

TEST(platform_clock, clock_is_injected_and_keys_outside_the_table_read_up)
{
    unsigned int now = 1234;
    set_milli_clock([](void* c) { return *static_cast<unsigned int*>(c); }, &now);
    EXPECT_EQ(get_milli_uptime(), 1234u);
    now = 0xFFFFFFF0u;
    EXPECT_EQ(get_milli_uptime(), 0xFFFFFFF0u);
    set_milli_clock(nullptr, nullptr);
    unsigned int a = get_milli_uptime();
    EXPECT_LT(a, 3600u * 1000u);  // counts from process start
    // Keys outside the table read as up (the table itself is driven by the UI tests).
    EXPECT_EQ(platform_key_state(-1), 0);
    EXPECT_EQ(platform_key_state(256), 0);
}

}  // namespace

// The peak of a piece of work alone: after a reset the mark no longer holds
// a large block freed before it, so the same work again raises it.
TEST(platform_memory, reset_peak_measures_the_work_after_it)
{
    const size_t big = 96u << 20;
    {
        std::vector<char> earlier(big, 1);
    }
    if (platform_reset_peak_memory() != 0)
        GTEST_SKIP() << "this system keeps only the lifetime peak";
    unsigned long long after = platform_peak_memory();
    std::vector<char> block(big, 2);
    EXPECT_GT(platform_peak_memory(), after + big / 2);
}
