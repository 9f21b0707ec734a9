#include "kdbase/cfile.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

#include "kdbase/d_list.h"
#include "kdbase/mem_collector.h"
#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

class cfile_test : public vantrel_test::log_test {
protected:
    void TearDown() override
    {
        mc_fail_after(-1);
        log_test::TearDown();
    }
    // A file of n bytes whose byte i is i & 0xFF.
    std::string counting_file(const std::string& fname, int n)
    {
        std::string bytes;
        for (int i = 0; i < n; ++i)
            bytes += (char)(i & 0xFF);
        return write_file(fname, bytes);
    }
};

// Runs f and returns the int it throws, or 0 when it does not throw.
template <typename F> int thrown(F f)
{
    try {
        f();
    } catch (int e) {
        return e;
    }
    return 0;
}

TEST_F(cfile_test, byte_swaps_and_bit_fields)
{
    EXPECT_EQ(sys_info().byteorder, BYTEORDER_LITTLE_ENDIAN);
    EXPECT_EQ(inverse_order((int32_t)0x11223344), 0x44332211);
    EXPECT_EQ(inverse_order((int32_t)0x000000FF), (int32_t)0xFF000000);
    EXPECT_EQ(inverse_order((int16_t)0x00FF), (int16_t)-256);  // sign-extended
    EXPECT_EQ(btol(ltob((int32_t)-123456)), -123456);
    EXPECT_EQ(btol((int16_t)0x1234), 0x3412);
    EXPECT_EQ((sys_info().htons)(0x1234), 0x3412);
    EXPECT_EQ((sys_info().htonl)(0x11223344u), 0x44332211u);
    EXPECT_EQ((sys_info().ntohl)((sys_info().htonl)(0xDEADBEEFu)), 0xDEADBEEFu);
    unsigned char b[4];
    put_be32(b, 0x01020304u);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(get_le32(b), 0x04030201u);
    put_le16(b, 0xABCD);
    EXPECT_EQ(get_be16(b), 0xCDAB);
    // Bit fields of pixel formats.
    EXPECT_EQ(mask32_nbits(0x7C00), 5);
    EXPECT_EQ(mask32_nbits(0xFF00FF00), 8);  // the lowest run only
    EXPECT_EQ(mask32_nbits(0xFFFFFFFF), 32);
    EXPECT_EQ(mask32_nbits(0), 0);
    EXPECT_EQ(bits32_LSB_align(0xABCD, 0x0F00), 0xBu);
    EXPECT_EQ(bits32_mask_align(0x3, 0x0F00), 0x300u);
    EXPECT_EQ(bits32_LSB_align(0xFFFFFFFF, 0), 0u);

    unsigned int src = 0x7C00, dest = 0xFF00FFFF;
    ASSERT_EQ(bits32_conv(&dest, 0xFF0000, &src, 0x7C00), 0);
    EXPECT_EQ(dest, 0xFFF8FFFFu);
    src = 0xFF;  // 8 bits down to 5
    dest = 0;
    bits32_conv(&dest, 0x001F, &src, 0x00FF);
    EXPECT_EQ(dest, 0x1Fu);
}

TEST_F(cfile_test, both_byte_orders_round_trip_every_type)
{
    std::string p = write_file("int", std::string("\x00\x00\x01\x00\xFF\xFF\xFF\xFF\xFF\xFE", 10));
    CFile f(p.c_str(), OM_RB);
    EXPECT_EQ(f.ReadInt(), 65536);  // little-endian by default
    EXPECT_EQ(f.ReadLong(), -1);
    EXPECT_EQ(f.ReadShort(), (int16_t)0xFEFF);
    EXPECT_FALSE(f.Eof());
    f.ReadChar();
    EXPECT_TRUE(f.Eof());

    p = path("be");
    float v[4] = {1, 2, 3, 4}, m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = (float)i / 4;
    {
        CFile w(p.c_str(), OM_WB);
        w.SetByteOrder(BYTEORDER_BIG_ENDIAN);
        EXPECT_EQ(w.WriteInt(0x01020304) + w.WriteShort(-2) + w.WriteLong(-5) + w.WriteFloat(1.5f), 14);
        EXPECT_EQ(w.WriteVector3(v) + w.WriteVector4(v) + w.WriteMatrix(m) + w.WriteChar('z'), 12 + 16 + 64 + 1);
    }
    std::string bytes = read_file("be");
    ASSERT_EQ(bytes.size(), 14u + 12 + 16 + 64 + 1);
    EXPECT_EQ(bytes.substr(0, 6), std::string("\x01\x02\x03\x04\xFF\xFE", 6));
    EXPECT_EQ(bytes.substr(10, 4), std::string("\x3F\xC0\x00\x00", 4));  // 1.5f

    CFile r(p.c_str(), OM_RB);
    r.SetByteOrder(BYTEORDER_BIG_ENDIAN);
    EXPECT_EQ(r.ReadInt(), 0x01020304);
    EXPECT_EQ(r.ReadShort(), -2);
    EXPECT_EQ(r.ReadLong(), -5);
    EXPECT_EQ(r.GetPos(), 10);
    EXPECT_EQ(r.ReadFloat(), 1.5f);
    float v2[4] = {}, m2[16] = {};
    EXPECT_EQ(r.ReadVector3(v2), 12);
    EXPECT_EQ(v2[2], 3);
    EXPECT_EQ(r.ReadVector4(v2), 16);
    EXPECT_EQ(v2[3], 4);
    EXPECT_EQ(r.ReadMatrix(m2), 64);
    EXPECT_EQ(m2[15], 3.75f);
    EXPECT_EQ(r.ReadChar(), 'z');
}

TEST_F(cfile_test, strings_are_cut_and_open_failures_logged)
{
    std::string p = path("s");
    {
        CFile w(p.c_str(), OM_WB);
        EXPECT_EQ(w.WriteString("hello", 3), 3);
        EXPECT_EQ(w.WriteString("abc", 100), 4);
    }
    EXPECT_EQ(read_file("s"), std::string("he\0abc\0", 7));

    CFile r(p.c_str(), OM_RB);
    char buf[8];
    EXPECT_EQ(r.ReadString(buf, 8), 3);
    EXPECT_STREQ(buf, "he");
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(r.ReadString(buf, 2), 2);  // max characters, no terminator
    EXPECT_EQ(std::string(buf, 3), "abx");
    EXPECT_EQ(r.ReadString(buf, 8), 2);
    EXPECT_STREQ(buf, "c");
    EXPECT_EQ(r.ReadString(buf, 8), -1);  // nothing left
    // Open failures are logged.
    CFile f;
    EXPECT_EQ(f.Open(path("missing").c_str(), OM_RB), 0);
    EXPECT_TRUE(log_has("unable to open " + path("missing") + ": No such file or directory"));
    // Paths are never cut: where the system allows, one longer than the old
    // 260 opens whole; one at the system's limit is refused, and nothing is
    // made under a cut name.
    std::string deep = dir + "/" + (PLATFORM_PATH_MAX > 400 ? std::string(200, 'a') + "/" + std::string(100, 'b') : "d");
    std::filesystem::create_directories(deep);
    EXPECT_EQ(f.Open((deep + "/file").c_str(), OM_WB), 1);
    EXPECT_EQ(f.Name(), deep + "/file");
    std::string too_long = deep + "/" + std::string(PLATFORM_PATH_MAX - deep.size(), 'z');
    EXPECT_EQ(f.Open(too_long.c_str(), OM_WB), 0);
    EXPECT_TRUE(log_has("unable to open " + too_long.substr(0, 200)));  // the log line is cut, the path not
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(deep), {}), 1);
    EXPECT_EQ(f.Open(path("x").c_str(), (OPERATION_MODE)12), 0);
    EXPECT_EQ(f.Open(path("x").c_str(), OM_WB), 1);
}

TEST_F(cfile_test, views_never_read_past_their_bounds_and_nest)
{
    std::string p = counting_file("c", 200);
    CFile f(p.c_str(), OM_RB);
    CFile v;
    ASSERT_EQ(f.OpenVFile(&v, "member", 100, 10), 1);
    EXPECT_EQ(v.GetSize(), 10);
    unsigned char buf[12];
    EXPECT_EQ(v.Read(buf, 12), 0);
    EXPECT_EQ(v.vpos, 12);
    EXPECT_TRUE(v.Eof());
    ASSERT_TRUE(v.SetPos(0));
    EXPECT_EQ(v.Read(buf, 10), 10);
    EXPECT_EQ(buf[0], 100);
    EXPECT_EQ(buf[9], 109);
    EXPECT_TRUE(v.Eof());
    EXPECT_EQ(v.Write(buf, 1), 0);  // views are read-only

    // Moving inside the view after a failed read reads the right bytes.
    ASSERT_TRUE(v.Rewind(4));
    EXPECT_EQ(v.GetPos(), 6);
    EXPECT_EQ((unsigned char)v.ReadChar(), 106);
    EXPECT_FALSE(v.Rewind(100));
    EXPECT_EQ(v.GetPos(), 7);
    EXPECT_FALSE(v.SetPos(11));
    ASSERT_TRUE(v.GoToEnd());
    EXPECT_EQ(v.GetPos(), 10);
    EXPECT_EQ(v.Read(buf, 1), 0);

    // Closing the view leaves the file as it was.
    EXPECT_EQ(f.GetPos(), 0);
    v.Close();
    EXPECT_EQ((unsigned char)f.ReadChar(), 0);

    // Views nest: offsets add up and stay inside the outer view.
    f.SetByteOrder(BYTEORDER_BIG_ENDIAN);
    CFile outer, inner;
    ASSERT_EQ(f.OpenVFile(&outer, "outer", 50, 20), 1);
    ASSERT_EQ(outer.OpenVFile(&inner, "inner", 4, 16), 1);
    EXPECT_EQ(inner.voffset, 54);
    EXPECT_EQ(inner.ReadShort(), 54 * 256 + 55);  // in the file's byte order
    EXPECT_EQ(outer.OpenVFile(&inner, "inner", 4, 17), 0);
    EXPECT_TRUE(log_has("virtual file inner goes beyond " + p));
    EXPECT_EQ(inner.voffset, 54);  // a failed open leaves the view as it was
    ASSERT_EQ(outer.OpenVFile(&outer, "self", 10, 5), 1);  // reopened onto itself
    EXPECT_EQ((unsigned char)outer.ReadChar(), 60);

    EXPECT_EQ(f.OpenVFile(&v, "ok", 190, 10), 1);
    EXPECT_EQ(f.OpenVFile(&v, "over", 191, 10), 0);
    EXPECT_EQ(f.OpenVFile(&v, "neg", -1, 5), 0);
    EXPECT_EQ(f.OpenVFile(&v, "huge", 10, LONG_MAX), 0);
    CFile closed;
    EXPECT_EQ(closed.OpenVFile(&v, "x", 0, 0), 0);
    EXPECT_TRUE(log_has("unable to duplicate stream of  for virtual file x"));

    // A view of a file being written sees what was written.
    CFile w(path("w").c_str(), OM_WBPLUS);
    for (int i = 0; i < 50; ++i)
        w.WriteChar((char)i);
    ASSERT_EQ(w.OpenVFile(&v, "part", 40, 10), 1);
    EXPECT_EQ(v.ReadChar(), 40);
}

TEST_F(cfile_test, short_reads_throw_or_fail_and_append_copies_in_pieces)
{
    std::string p = counting_file("c", 3);
    CFileE f(p.c_str(), OM_RB);
    float v[16];
    char s[8];
    const std::pair<long, std::function<void()>> short_reads[] = {
        {0, [&] { f.ReadInt(); }},         {0, [&] { f.ReadLong(); }},     {0, [&] { f.ReadFloat(); }},
        {2, [&] { f.ReadShort(); }},       {0, [&] { f.ReadVector3(v); }}, {0, [&] { f.ReadMatrix(v); }},
        {1, [&] { f.ReadString(s, 8); }},  // no zero byte before the end
    };
    for (auto& r : short_reads) {
        f.SetPos(r.first);
        EXPECT_EQ(thrown(r.second), -1) << r.first;
    }
    f.SetPos(0);
    EXPECT_EQ(thrown([&] { f.ReadShort(); }), 0);
    EXPECT_EQ(thrown([&] { f.ReadChar(); }), 0);
    EXPECT_EQ(thrown([&] { f.ReadChar(); }), -1);
    EXPECT_EQ(thrown([&] { f.WriteInt(1); }), -1);  // opened for reading
    // A CFile reports short reads by result.
    CFile g(p.c_str(), OM_RB);
    EXPECT_EQ(g.ReadVector3(v), 0);
    g.SetPos(0);
    EXPECT_EQ(g.ReadMatrix(v), 0);
    EXPECT_TRUE(g.Eof());
    EXPECT_FALSE(g.Error());

    // A view: reading 12 of its 10 bytes throws.
    CFileE v2;
    std::string big = counting_file("src", 10000);
    CFile src(big.c_str(), OM_RB);
    ASSERT_EQ(src.OpenVFile(&v2, "v", 100, 10), 1);
    unsigned char buf[12];
    EXPECT_EQ(thrown([&] { v2.Read(buf, 12); }), -1);
    EXPECT_TRUE(v2.Eof());

    // Append copies the rest in pieces.
    ASSERT_TRUE(src.SetPos(1000));
    CFile dst(path("dst").c_str(), OM_WB);
    dst.WriteChar('#');
    EXPECT_EQ(dst.Append(src), 1);
    dst.Close();
    std::string out = read_file("dst");
    ASSERT_EQ(out.size(), 9001u);
    EXPECT_EQ(out[0], '#');
    EXPECT_EQ(out.substr(1), read_file("src").substr(1000));

    // From a view only the view's bytes are copied, and a CFileE does not throw.
    CFileE view;
    ASSERT_EQ(src.OpenVFile(&view, "v", 5000, 5000), 1);
    CFileE dst2(path("dst2").c_str(), OM_WB);
    EXPECT_EQ(dst2.Append(view), 1);
    EXPECT_EQ(dst2.GetPos(), 5000);
    CFile closed;
    EXPECT_EQ(dst2.Append(closed), 0);
    CFileE readonly(big.c_str(), OM_RB);
    view.SetPos(0);
    EXPECT_EQ(thrown([&] { EXPECT_EQ(readonly.Append(view), 0); }), 0);
}

}  // namespace
