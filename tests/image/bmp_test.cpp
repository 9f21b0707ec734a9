#include "image/bmp/bmp.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "kdbase/mem_collector.h"
#include "tests/common/log_fixture.h"
#include "tests/image/image_util.h"

using namespace vantrel;
using namespace vantrel_test;

namespace {

class bmp_test : public image_file_test {
protected:
    // Reads bytes that must be refused with message; the image stays as it was.
    void expect_refused(const std::string& bytes, const std::string& message)
    {
        image_t img;
        ASSERT_EQ(img.alloc_bits(1, 1, 0xFF, 0, 0, 0), 0);
        clear_log();
        EXPECT_EQ(read_bytes("refused.bmp", bytes, &img), -1) << message;
        EXPECT_TRUE(log_has(message)) << message;
        EXPECT_TRUE(log_has("refused.bmp: unable to read"));
        EXPECT_EQ(img.width, 1);
        EXPECT_NE(img.bits, nullptr);
    }
};

TEST_F(bmp_test, every_write_option_reads_back_and_rows_are_laid_out_as_in_the_format)
{
    const unsigned int formats[4][4] = {{0x7C00, 0x03E0, 0x1F, 0},
                                        {0xF800, 0x07E0, 0x1F, 0},
                                        {0xFF0000, 0xFF00, 0xFF, 0},
                                        {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}};
    const unsigned int options[] = {0, 1, 2, 4, 8, 1 | 2, 2 | 4, 8 | 4};
    for (auto& fmt : formats)
        for (unsigned int opt : options) {
            SCOPED_TRACE(testing::Message() << "masks " << std::hex << fmt[0] << " option " << opt);
            image_t expected, back;
            round_trip("trip.bmp", fmt, opt, 0, &expected, &back);
            EXPECT_TRUE(are_equal_images(&expected, &back));
            // Masks are written for a format that is not the default of its
            // depth (5-6-5 here), or when flag 8 asks for the own format's.
            std::string file = read_file("trip.bmp");
            bool masks = expected.fields.nbytes() != 3 && (fmt[1] == 0x07E0 ? !(opt & 7) : opt == 8);
            EXPECT_EQ((uint8_t)file[30], masks ? 3 : 0);
            EXPECT_EQ(file.size(), 54 + (masks ? 12 : 0) + 3 * ((5 * expected.fields.nbytes() + 3) & ~3u));
        }
    // Blue in the high byte of 24 bits, alpha in the low byte of 32: a header
    // cannot say so, so they are written converted to the default.
    for (bit_fields_t f : {bit_fields_t{0xFF, 0xFF00, 0xFF0000, 0}, bit_fields_t{0xFF000000u, 0xFF0000, 0xFF00, 0xFF}}) {
        image_t img, back;
        ASSERT_EQ(img.alloc_bits(5, 3, f.red_mask, f.green_mask, f.blue_mask, f.alpha_mask), 0);
        fill_pattern(&img);
        ASSERT_EQ(image_write(&img, path("c.bmp").c_str(), nullptr, nullptr), 0);
        ASSERT_EQ(image_read(&back, path("c.bmp").c_str(), nullptr), 0);
        ASSERT_EQ(back.fields.red_mask, 0xFF0000u);
        ASSERT_EQ(img.convert(&back.fields, nullptr), 0);
        back.set_name(nullptr);
        EXPECT_TRUE(are_equal_images(&img, &back));
    }

    image_t img;
    ASSERT_EQ(img.alloc_bits(3, 1, 0xFF0000, 0xFF00, 0xFF, 0), 0);
    for (int i = 0; i < 9; ++i)
        img.bits[i] = (unsigned char)(i + 1);
    ASSERT_EQ(image_write(&img, path("row.bmp").c_str(), nullptr, nullptr), 0);
    std::string expected = "BM" + le32(66) + le32(0) + le32(54) + le32(40) + le32(3) + le32(1) + le16(1) +
                           le16(24) + le32(0) + le32(9) + std::string(16, '\0') +
                           std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\0\0\0", 12);
    EXPECT_EQ(read_file("row.bmp"), expected);

    // Rows are stored bottom up, or top down with a negative height.
    bmp_spec s;
    s.width = 1;
    s.height = 2;
    s.data = std::string("\x01\x02\x03\0\x04\x05\x06\0", 8);  // bottom row first
    ASSERT_EQ(read_bytes("up.bmp", make_bmp(s), &img), 0);
    EXPECT_EQ(pixel_at(img.bits, 3), 0x060504u);
    EXPECT_EQ(pixel_at(img.bits + 4, 3), 0x030201u);
    s.height = -2;
    ASSERT_EQ(read_bytes("down.bmp", make_bmp(s), &img), 0);
    EXPECT_EQ(img.height, 2);
    EXPECT_EQ(pixel_at(img.bits, 3), 0x030201u);
    EXPECT_EQ(pixel_at(img.bits + 4, 3), 0x060504u);
}

TEST_F(bmp_test, any_mask_layout_the_conversion_can_follow_is_read_other_headers_and_truncations_are_refused)
{
    // Whatever layout the masks give a 16- or 32-bit pixel, each channel reads as
    // the file holds it, moved to the image format's width by shifting.
    const struct { uint16_t bpp; uint32_t file[3], image[4]; } layouts[] = {
        {16, {0x0030, 0x000E, 0x0001}, {0xF800, 0x07E0, 0x1F, 0}},  // 2-3-1 bits: fits 5-6-5
        {16, {0x7C00, 0x03E0, 0x0001}, {0xF800, 0x07E0, 0x1F, 0}},  // a gap below green
        {16, {0xFF00, 0x00F0, 0x0003}, {0xFF0000, 0xFF00, 0xFF, 0}},  // 8 bits of red: 8-8-8
        {16, {0x0F00, 0x00F0, 0x000F}, {0x0F00, 0x00F0, 0x0F, 0}},  // 12 bits: kept
        {32, {0x3FF00000, 0x000FFC00, 0x3FF}, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}},
        {32, {0x000F0000, 0x00000F00, 0x0000000F}, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}},
        {32, {0xFF000000u, 0xFF0000, 0xFF00}, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}},  // alpha's byte: moved
        {32, {0xFF, 0xFF00, 0xFF0000}, {0xFF, 0xFF00, 0xFF0000, 0xFF000000u}},  // kept as the file has them
    };
    const uint32_t values[] = {0xFFFFFFFFu, 0x12345678u, 0x8421A5C3u, 0};
    for (auto& l : layouts) {
        SCOPED_TRACE(testing::Message() << std::hex << l.file[0] << " " << l.file[1] << " " << l.file[2]);
        bmp_spec s;
        s.width = 4, s.height = 1, s.bpp = l.bpp, s.compression = 3;
        s.masks = le32(l.file[0]) + le32(l.file[1]) + le32(l.file[2]);
        for (uint32_t v : values)
            s.data += l.bpp == 16 ? le16(v & 0xFFFF) : le32(v);
        image_t img;
        ASSERT_EQ(read_bytes("odd.bmp", make_bmp(s), &img), 0);
        const uint32_t got[4] = {img.fields.red_mask, img.fields.green_mask, img.fields.blue_mask,
                                 img.fields.alpha_mask};
        ASSERT_EQ(memcmp(got, l.image, sizeof got), 0);
        for (int x = 0; x < 4; ++x)
            for (int c = 0; c < 3; ++c) {
                int nb = img.fields.nbytes();
                unsigned int want = 0, in = values[x], out = pixel_at(img.bits + x * nb, nb);
                bits32_conv(&want, l.image[c], &in, l.file[c]);  // in: the file's pixel
                EXPECT_EQ(out & l.image[c], want) << "pixel " << x << " channel " << c;
            }
    }

    // Each case below changes a 2 x 2 24-bit file (which an id of "BA" leaves
    // readable).
    bmp_spec s;
    s.data = std::string(16, '\x11');
    s.id = "BA";
    image_t img;
    EXPECT_EQ(read_bytes("ba.bmp", make_bmp(s), &img), 0);
    auto masks = [](uint32_t r, uint32_t g, uint32_t b) {
        return [=](bmp_spec& m) { m.bpp = 16, m.compression = 3, m.masks = le32(r) + le32(g) + le32(b); };
    };
    const struct { std::function<void(bmp_spec&)> change; const char* message; } cases[] = {
        {[](bmp_spec& m) { m.bpp = 8; }, "refused.bmp: bit depth not supported"},
        {[](bmp_spec& m) { m.bpp = 8, m.compression = 1; }, "refused.bmp: bit depth not supported"},
        {[](bmp_spec& m) { m.header_size = 12; }, "refused.bmp: information header of 12 bytes not supported"},
        {[](bmp_spec& m) { m.compression = 1; }, "refused.bmp: compression 1 not supported"},
        {[](bmp_spec& m) { m.compression = 3; }, "refused.bmp: compression 3 not supported"},  // 24 bits
        {[](bmp_spec& m) { m.width = 0; }, "refused.bmp: invalid image size 0x2"},
        {[](bmp_spec& m) { m.width = -2; }, "refused.bmp: invalid image size -2x2"},
        {[](bmp_spec& m) { m.height = 0; }, "refused.bmp: invalid image size 2x0"},
        {[](bmp_spec& m) { m.data_offset = 100000; }, "refused.bmp: data offset 100000 beyond the end of the file"},
        {[](bmp_spec& m) { m.width = 3000000, m.height = 2000000; }, "pixel data goes beyond the end of the file"},
        {masks(0xF800, 0x0FE0, 0x1F), "invalid bit-field masks 0000f800 00000fe0 0000001f: masks overlap"},
        {masks(0x1F000, 0x07E0, 0x1F), "a mask lies beyond the pixel"},
        {masks(0xF00F, 0x07E0, 0x0), "a mask is not one run of bits"},
        {masks(0, 0, 0), "no colour channel"},
        {[](bmp_spec& m) { m.id = "XY"; }, "XY file identifier not recognized"},
    };
    for (const auto& c : cases) {
        bmp_spec bad = s;
        c.change(bad);
        expect_refused(make_bmp(bad), c.message);
    }
    EXPECT_TRUE(log_has("refused.bmp: invalid .bmp file"));  // the last case
    image_t none;
    mc_fail_after(0);  // an allocation failure fails the read too
    EXPECT_EQ(read_bytes("ba.bmp", make_bmp(s), &none), -1);
    mc_fail_after(-1);
    EXPECT_TRUE(log_has("ba.bmp: unable to read"));
    EXPECT_EQ(none.bits, nullptr);
    // Every truncation fails cleanly.
    bmp_spec plain;
    plain.width = 5;
    plain.height = 3;
    plain.data = std::string(48, '\x33');
    bmp_spec fields = plain;
    fields.bpp = 16;
    fields.compression = 3;
    fields.masks = le32(0xF800) + le32(0x07E0) + le32(0x1F);
    fields.extra = std::string(8, '\x44');  // a small colour table before the data
    fields.data = std::string(36, '\x55');
    expect_truncations_fail(".bmp", make_bmp(plain));
    expect_truncations_fail(".bmp", make_bmp(fields));
}

}  // namespace
