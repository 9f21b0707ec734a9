#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "kdbase/cfile.h"
#include "kdbase/mem_collector.h"
#include "kdbase/r_struct.h"
#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

class r_pack_test : public vantrel_test::log_test {};

std::string bytes(const char* b, int n)
{
    return std::string(b, (size_t)n);
}

// A copy of the bytes in a heap block of exactly their length, so the
// sanitizer build catches any read past the end.
std::unique_ptr<char[]> exact_copy(const std::string& s)
{
    std::unique_ptr<char[]> p(new char[s.size() ? s.size() : 1]);
    memcpy(p.get(), s.data(), s.size());
    return p;
}

// uchar8 7, ushort16 0x1234, int -2
void fill_small(r_struct& s, unsigned char a, unsigned short b, int c)
{
    ASSERT_EQ(s.add("a", a), 0);
    ASSERT_EQ(s.add("b", b), 0);
    ASSERT_EQ(s.add("c", c), 0);
}

// int 5, r_struct_p -> { ushort16 7, r_string "x" }, uchar8 9 (inner owned by the caller)
void fill_nested(r_struct& outer, r_struct& inner, const char* text)
{
    ASSERT_EQ(inner.add("i1", (unsigned short)7), 0);
    ASSERT_EQ(inner.add("i2", text), 0);
    ASSERT_EQ(outer.add("o1", 5), 0);
    ASSERT_EQ(outer.add("o2", &inner), 0);
    ASSERT_EQ(outer.add("o3", (unsigned char)9), 0);
}

TEST_F(r_pack_test, values_and_arrays_pack_big_endian_without_padding)
{
    r_struct s, back;
    fill_small(s, 7, 0x1234, -2);
    char buf[16];
    memset(buf, 0x55, sizeof buf);
    EXPECT_EQ(s.pack(buf, sizeof buf), 7);
    EXPECT_EQ(bytes(buf, 8), bytes("\x07\x12\x34\xFF\xFF\xFF\xFE\x55", 8));
    fill_small(back, 0, 0, 0);
    EXPECT_EQ(back.unpack(buf, 7), 7);
    EXPECT_EQ(back.get_var("a")->uc_value(), 7);
    EXPECT_EQ(back.get_var("b")->us_value(), 0x1234);
    EXPECT_EQ(back.get_var("c")->value(), -2);
    // A buffer one byte short keeps what fitted.
    memset(buf, 0x55, sizeof buf);
    EXPECT_EQ(s.pack(buf, 6), 3);
    EXPECT_TRUE(log_has("pack(): _tobuf (size=-1 0x"));
    EXPECT_TRUE(log_has(") is too small"));
    EXPECT_EQ(bytes(buf, 6), bytes("\x07\x12\x34\x55\x55\x55", 6));

    r_struct t, t2;
    t.add("ch", (char)-3);
    t.add("ui", 0xDEADBEEFu);
    t.add("f", 1.5f);
    t.add("s", "ab");
    ASSERT_EQ(t.pack(buf, sizeof buf), 1 + 4 + 4 + 3);
    EXPECT_EQ(bytes(buf, 12), bytes("\xFD\xDE\xAD\xBE\xEF\x3F\xC0\x00\x00" "ab\0", 12));
    t2.add("ch", (char)0);
    t2.add("ui", 0u);
    t2.add("f", 0.0f);
    t2.add("s", "zzzz");
    EXPECT_EQ(t2.unpack(buf, 12), 12);
    EXPECT_EQ(t2.get_var("ch")->c_value(), -3);
    EXPECT_EQ(t2.get_var("ui")->ui_value(), 0xDEADBEEFu);
    EXPECT_EQ(t2.get_var("f")->f_value(), 1.5f);
    EXPECT_STREQ(t2.get_var("s")->str_value(), "ab");

    // Arrays pack element after element.
    r_struct ints, strs;
    r_var* a = create_r_var("a", 2);
    ASSERT_TRUE(a);
    a->set(0, 1);
    a->set(1, 2);
    ASSERT_EQ(ints.add(a), 0);
    EXPECT_EQ(ints.pack(buf, 8), 8);
    EXPECT_EQ(bytes(buf, 8), bytes("\0\0\0\x01\0\0\0\x02", 8));
    a->set(0, 0);
    a->set(1, 0);
    EXPECT_EQ(ints.unpack(buf, 8), 8);
    EXPECT_EQ(a->value(0), 1);
    EXPECT_EQ(a->value(1), 2);
    r_var* texts = create_r_var("t", 2);
    ASSERT_TRUE(texts);
    texts->set(0, "hi");
    texts->set(1, "");
    ASSERT_EQ(strs.add(texts), 0);
    EXPECT_EQ(strs.pack(buf, 8), 4);
    EXPECT_EQ(bytes(buf, 4), bytes("hi\0\0", 4));
}

TEST_F(r_pack_test, texts_are_cut_to_2048_characters)
{
    std::string long_text(3000, 'q');
    r_struct s;
    s.add("t", long_text.c_str());
    std::vector<char> buf(4000);
    EXPECT_EQ(s.pack(buf.data(), 4000), 2049);
    EXPECT_EQ(strlen(s.get_var("t")->str_value()), 2048u);  // cut in the variable
    EXPECT_EQ(buf[2048], 0);

    std::string in = long_text + std::string(1, '\0');
    r_struct r;
    r.add("t", "");
    auto copy = exact_copy(in);
    EXPECT_EQ(r.unpack(copy.get(), (int)in.size()), 2049);
    EXPECT_EQ(strlen(r.get_var("t")->str_value()), 2048u);
    EXPECT_EQ(copy[2048], 0);  // cut in the input
}

TEST_F(r_pack_test, pointer_types_pack_their_texts_and_reserve_their_slots)
{
    char target[2049] = "before";
    r_var* v = KD_NEW r_var("cp", r_char_p);
    ASSERT_TRUE(v);
    v->set(0, (const char*)target);
    r_struct s;
    ASSERT_EQ(s.add(v), 0);
    auto in = exact_copy(bytes("after\0", 6));
    EXPECT_EQ(s.unpack(in.get(), 6), 6);
    EXPECT_STREQ(target, "after");
    EXPECT_EQ(v->str_value(), target);

    v->set(0, (const char*)nullptr);
    char buf[8];
    EXPECT_EQ(s.pack(buf, 8), 0);
    EXPECT_TRUE(log_has("pack(): cp has a NULL string"));
    EXPECT_EQ(s.unpack(in.get(), 6), 0);
    EXPECT_TRUE(log_has("unpack(): cp has a NULL string"));
    // Pointer slots are reserved and left untouched.
    int x = 42;
    r_struct p;
    p.add(KD_NEW r_var("ip", &x));
    p.add("b", (unsigned char)7);
    memset(buf, 0x55, sizeof buf);
    EXPECT_EQ(p.pack(buf, 5), 5);
    EXPECT_EQ(bytes(buf, 5), bytes("\x55\x55\x55\x55\x07", 5));
    buf[4] = 8;
    EXPECT_EQ(p.unpack(buf, 5), 5);
    EXPECT_EQ(p.get_var("ip")->ip_value(), &x);
    EXPECT_EQ(p.get_var("b")->uc_value(), 8);
}

TEST_F(r_pack_test, nested_structures_pack_in_place)
{
    r_struct inner, outer;
    fill_nested(outer, inner, "x");
    ASSERT_EQ(outer.size(), 9);
    char buf[16];
    EXPECT_EQ(outer.pack(buf, sizeof buf), 9);
    EXPECT_EQ(bytes(buf, 9), bytes("\0\0\0\x05\0\x07x\0\x09", 9));

    r_struct inner2, outer2;
    fill_nested(outer2, inner2, "longer text");
    EXPECT_EQ(outer2.unpack(buf, 9), 9);
    EXPECT_STREQ(inner2.get_var("i2")->str_value(), "x");
    EXPECT_EQ(outer2.get_var("o3")->uc_value(), 9);

    // Too small for the nested structure: stopped at the outer level.
    EXPECT_EQ(outer.pack(buf, 6), 4);
    EXPECT_TRUE(log_has("is too small"));
}

// Every prefix of a valid packed buffer is refused without reading past it,
// and only the complete leading variables change.
TEST_F(r_pack_test, every_truncation_of_a_nested_buffer_is_safe)
{
    r_struct inner, outer;
    fill_nested(outer, inner, "hello");
    std::string full(64, '\0');
    int n = outer.pack(&full[0], 64);
    ASSERT_EQ(n, 13);
    full.resize((size_t)n);
    for (int len = 0; len <= n; ++len) {
        r_struct inner2, outer2;
        fill_nested(outer2, inner2, "");
        outer2.get_var("o1")->set(0, -1);
        auto in = exact_copy(full.substr(0, (size_t)len));
        int got = outer2.unpack(in.get(), len);
        if (len == n) {
            EXPECT_EQ(got, n);
            EXPECT_STREQ(inner2.get_var("i2")->str_value(), "hello");
        } else {
            EXPECT_TRUE(log_has("unpack(): read " + std::to_string(got) + " bytes from buffer of size " +
                                std::to_string(len)))
                << len;
            clear_log();
            EXPECT_EQ(outer2.get_var("o1")->value(), len >= 4 ? 5 : -1) << len;
            EXPECT_STREQ(inner2.get_var("i2")->str_value(), len >= 12 ? "hello" : "") << len;
            EXPECT_EQ(outer2.get_var("o3")->uc_value(), 9);  // the last one never completes
        }
    }
}

TEST_F(r_pack_test, file_form_uses_the_files_byte_order)
{
    r_struct inner, outer;
    fill_nested(outer, inner, "x");
    int x = 1;
    outer.add(KD_NEW r_var("ptr", &x));  // nothing in the file
    outer.add("f", 2.0f);
    {
        CFileE f(path("p").c_str(), OM_WB);
        EXPECT_EQ(outer.pack(&f), 9 + 4 + 4);
    }
    EXPECT_EQ(read_file("p"), bytes("\x05\0\0\0\x07\0x\0\x09\0\0\0\x40", 13));

    r_struct inner2, outer2;
    fill_nested(outer2, inner2, "");
    outer2.add(KD_NEW r_var("ptr", &x));
    outer2.add("f", 0.0f);
    CFileE r(path("p").c_str(), OM_RB);
    EXPECT_EQ(outer2.unpack(&r), 17);
    EXPECT_STREQ(inner2.get_var("i2")->str_value(), "x");
    EXPECT_EQ(outer2.get_var("f")->f_value(), 2.0f);

    // A truncated file throws after the complete variables.
    write_file("t", bytes("\x05\0\0\0\x07", 5));
    r_struct inner3, outer3;
    fill_nested(outer3, inner3, "keep");
    outer3.get_var("o1")->set(0, 0);
    CFileE t(path("t").c_str(), OM_RB);
    int thrown = 0;
    try {
        outer3.unpack(&t);
    } catch (int e) {
        thrown = e;
    }
    EXPECT_EQ(thrown, -1);
    EXPECT_EQ(outer3.get_var("o1")->value(), 5);
    EXPECT_STREQ(inner3.get_var("i2")->str_value(), "keep");
}

}  // namespace
