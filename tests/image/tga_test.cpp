#include "image/tga/tga.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/common/log_fixture.h"
#include "tests/image/image_util.h"

using namespace vantrel;
using namespace vantrel_test;

namespace {

class tga_test : public image_file_test {};

TEST_F(tga_test, sixteen_bits_row_order_and_colour_maps_read_as_the_header_says)
{
    image_t img;
    ASSERT_EQ(read_bytes("a.tga", make_tga(2, 16, 0, 1, 1, "", "", 0, "\x34\x12"), &img), 0);
    EXPECT_EQ(img.fields.red_mask, 0xF800u);
    EXPECT_EQ(img.fields.green_mask, 0x07E0u);
    EXPECT_EQ(img.fields.alpha_mask, 0u);
    EXPECT_EQ(pixel_at(img.bits, 2), 0x1234u);
    ASSERT_EQ(read_bytes("b.tga", make_tga(2, 16, 1, 1, 1, "", "", 0, "\x34\x12"), &img), 0);
    EXPECT_EQ(img.fields.red_mask, 0x7C00u);
    EXPECT_EQ(img.fields.alpha_mask, 0x8000u);

    // A colour map stores each entry in whole bytes: a 15-bit entry takes 2
    // bytes (its top bit unused), so the map skipped is entries times the
    // entry size rounded up to bytes; 15 / 8 = 1 byte would start the pixels
    // inside it.
    std::string rows = "\x01\x02\x03\x04\x05\x06";  // two rows of one 24-bit pixel
    for (uint8_t desc : {0x00, 0x20})
        for (uint8_t entry_bits : {15, 16, 24, 32}) {
            std::string map(3 * ((entry_bits + 7) / 8), '\x7F');  // three entries, skipped
            ASSERT_EQ(read_bytes("o.tga", make_tga(2, 24, desc, 1, 2, "hello", map, entry_bits, rows), &img), 0);
            uint32_t top = pixel_at(img.bits, 3), bottom = pixel_at(img.bits + 4, 3);
            EXPECT_EQ(top, desc ? 0x030201u : 0x060504u) << (int)entry_bits;
            EXPECT_EQ(bottom, desc ? 0x060504u : 0x030201u);
            EXPECT_EQ(img.bits[3], 0);  // padding
        }
}

TEST_F(tga_test, only_whole_uncompressed_true_colour_is_read)
{
    const struct { uint8_t type, bpp; } refused[] = {{10, 24}, {1, 8}, {3, 8}, {2, 8}, {2, 15}, {0, 24}};
    for (auto& r : refused) {
        image_t img;
        clear_log();
        EXPECT_EQ(read_bytes("r.tga", make_tga(r.type, r.bpp, 0, 1, 1, "", "", 0, std::string(4, 'x')), &img), -1);
        EXPECT_TRUE(log_has("unsupported read format"));
        EXPECT_TRUE(log_has("r.tga: unable to read"));
    }
    image_t img;
    EXPECT_EQ(read_bytes("z.tga", make_tga(2, 24, 0, 0, 5, "", "", 0, ""), &img), -1);
    EXPECT_TRUE(log_has("z.tga: invalid image size 0x5"));
    EXPECT_EQ(read_bytes("big.tga", make_tga(2, 32, 0, 65535, 65535, "", "", 0, "abcd"), &img), -1);
    EXPECT_TRUE(log_has("big.tga: pixel data goes beyond the end of the file"));
    expect_truncations_fail(".tga", make_tga(2, 16, 1, 3, 2, "id", std::string(4, 'm'), 16, std::string(12, '\x66')));
}

TEST_F(tga_test, every_write_option_reads_back_and_a_row_is_written_as_in_the_format)
{
    const unsigned int formats[3][4] = {
        {0x7C00, 0x03E0, 0x1F, 0x8000}, {0xFF0000, 0xFF00, 0xFF, 0}, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}};
    const unsigned int options[] = {0, 1, 2, 4, 8, 16, 17, 18, 20, 24};
    for (auto& fmt : formats)
        for (unsigned int opt : options) {
            SCOPED_TRACE(testing::Message() << "masks " << std::hex << fmt[0] << " option " << opt);
            image_t expected, back;
            round_trip("trip.tga", fmt, opt, 0x8000, &expected, &back);
            std::string file = read_file("trip.tga");
            uint8_t depth = (uint8_t)file[16], desc = (uint8_t)file[17];
            EXPECT_EQ(depth, expected.fields.nbytes() * 8);
            EXPECT_EQ(desc & 0x20, (opt & 16) ? 0x20 : 0);
            // 16 bits are always written 1-5-5-5, converted or not: the
            // attribute bit says so, or readers take them as 5-6-5.
            EXPECT_EQ(desc & 15, depth == 32 ? 8 : depth == 16 ? 1 : 0);
            EXPECT_TRUE(are_equal_images(&expected, &back));
        }
    // A three-pixel row is 39 bytes, top down, and reads back.
    image_t img;
    img.set_name("row");
    ASSERT_EQ(img.alloc_bits(3, 1, 0xFF0000, 0xFF00, 0xFF, 0), 0);
    for (int i = 0; i < 9; ++i)
        img.bits[i] = (unsigned char)(0xA0 + i);
    std::string p = path("row.tga");
    ASSERT_EQ(image_write(&img, p.c_str(), nullptr, nullptr), 0);
    std::string expected = make_tga(2, 24, 0x20, 3, 1, std::string("wvd.image_t\0", 12), "", 0,
                                    "\xA0\xA1\xA2\xA3\xA4\xA5\xA6\xA7\xA8");
    EXPECT_EQ(read_file("row.tga"), expected);
    ASSERT_EQ(expected.size(), 39u);
    image_t back;
    ASSERT_EQ(image_read(&back, p.c_str(), nullptr), 0);
    back.set_name("row");
    EXPECT_TRUE(are_equal_images(&img, &back));
}

}  // namespace
