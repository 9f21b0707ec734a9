#include "image/image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "kdbase/mem_collector.h"
#include "tests/common/log_fixture.h"
#include "tests/image/image_util.h"

using namespace vantrel;
using namespace vantrel_test;

namespace {

class image_test : public log_test {};

// Allocation zeroes the pixels; failed allocations and conversions leave
// the image as it was (an allocation failure takes its pixels).
TEST_F(image_test, alloc_bits_zeroes_and_failures_keep_the_old_image)
{
    image_t img;
    ASSERT_EQ(img.alloc_bits(3, 2, 0xFF0000, 0xFF00, 0xFF, 0), 0);
    for (size_t i = 0; i < img.row_size() * 2; ++i)
        ASSERT_EQ(img.bits[i], 0);
    unsigned char* before = img.bits;
    bit_fields_t to;
    to.set(0x7C00, 0x03E0, 0x1F, 0);
    mc_fail_after(0);
    EXPECT_EQ(img.convert(&to, nullptr), -1);
    mc_fail_after(-1);
    EXPECT_EQ(img.bits, before);
    EXPECT_EQ(img.fields.red_mask, 0xFF0000u);
    EXPECT_EQ(img.convert(nullptr, nullptr), -1);
    EXPECT_TRUE(log_has("invalid pointer: _fields"));
    image_t empty;
    EXPECT_EQ(empty.convert(&to, nullptr), -1);
    EXPECT_TRUE(log_has("invalid pointer: bits"));
    bit_fields_t none;
    none.set(0, 0, 0, 0);
    EXPECT_EQ(img.convert(&none, nullptr), -1);

    mc_fail_after(0);
    EXPECT_EQ(img.alloc_bits(5, 5, 0x7C00, 0x03E0, 0x1F, 0), -1);
    mc_fail_after(-1);
    EXPECT_EQ(img.bits, nullptr);
    EXPECT_EQ(img.width, 3);
    EXPECT_EQ(img.fields.red_mask, 0xFF0000u);
    EXPECT_EQ(img.alloc_bits(0, 5, 0xFF0000, 0xFF00, 0xFF, 0), -1);
    EXPECT_EQ(img.alloc_bits(5, -1, 0xFF0000, 0xFF00, 0xFF, 0), -1);
    EXPECT_EQ(img.alloc_bits(5, 5, 0, 0, 0, 0), -1);
    // Too large for memory: refused without trying (INT_MAX^2 * 4 bytes).
    EXPECT_EQ(img.alloc_bits(0x7FFFFFFF, 0x7FFFFFFF, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u), -1);
    EXPECT_EQ(img.bits, nullptr);
}

// Rows are padded to four bytes, with zeroes, before and after a conversion.
TEST_F(image_test, conversion_agrees_with_bits32_conv_pads_rows_to_four_bytes_and_widens_white)
{
    // Random formats of 1 to 4 bytes, random pixels, rows of 1 to 40 pixels
    // (whole groups of eight for the vector path, and what is left):
    // the optimised conversion agrees with moving each channel by bits32_conv
    // (channels absent in the source come out zero, those absent in the
    // destination are dropped).
    // A quarter of the rounds move whole-byte channels, in and out of order,
    // which take faster paths (four 24-bit pixels at a time in the same order).
    const bit_fields_t whole_bytes[4] = {{0xFF0000, 0xFF00, 0xFF, 0},
                                         {0xFF, 0xFF00, 0xFF0000, 0},
                                         {0xFF0000, 0xFF00, 0xFF, 0xFF000000u},
                                         {0xFF00, 0xFF0000, 0xFF000000u, 0xFF}};
    unsigned int seed = 2024;
    auto next = [&](unsigned int n) { return ((seed = seed * 1664525u + 1013904223u) >> 8) % n; };
    // Channels of 1 to 8 bits (or, half the time, whole bytes) packed from bit
    // 0 in random order, some absent.
    auto random_format = [&](bool fixed) {
        if (fixed)
            return whole_bytes[next(4)];
        unsigned int m[4] = {0, 0, 0, 0}, at = 0, bytes = next(2);
        for (int k = 0, c = (int)next(4); k < 4; ++k, c = (c + 1) % 4)
            if (k == 0 || next(4)) {
                unsigned int w = bytes ? 8 : 1 + next(8);
                m[c] = ((1u << w) - 1) << at;
                at += w;
            }
        return bit_fields_t{m[0], m[1], m[2], m[3]};
    };
    for (int round = 0; round < 2000; ++round) {
        bool fixed = round % 4 == 0;
        bit_fields_t from = random_format(fixed), to = random_format(fixed);
        const int w = 1 + (int)next(40);
        image_t img;
        ASSERT_EQ(img.alloc_bits(w, 1, from.red_mask, from.green_mask, from.blue_mask, from.alpha_mask), 0);
        for (size_t i = 0; i < img.row_size(); ++i)
            img.bits[i] = (unsigned char)next(256);
        char* out = nullptr;
        ASSERT_EQ(img.convert(&to, &out), 0);
        const unsigned int src[4] = {from.red_mask, from.green_mask, from.blue_mask, from.alpha_mask};
        const unsigned int dst[4] = {to.red_mask, to.green_mask, to.blue_mask, to.alpha_mask};
        for (int x = 0; x < w; ++x) {
            unsigned int in = pixel_at(img.bits + x * from.nbytes(), from.nbytes()), want = 0;
            for (int c = 0; c < 4; ++c)
                if (src[c] && dst[c])
                    bits32_conv(&want, dst[c], &in, src[c]);
            ASSERT_EQ(pixel_at(out + x * to.nbytes(), to.nbytes()), want) << round << " x " << x;
        }
        delete[] out;
    }

    const unsigned int fmt[3][4] = {
        {0x7C00, 0x03E0, 0x1F, 0}, {0xFF0000, 0xFF00, 0xFF, 0}, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}};
    const size_t padding[3][5] = {{2, 0, 2, 0, 2}, {1, 2, 3, 0, 1}, {0, 0, 0, 0, 0}};
    for (int from = 0; from < 3; ++from)
        for (int to = 0; to < 3; ++to)
            for (int w = 1; w <= 5; ++w) {
                image_t img;
                ASSERT_EQ(img.alloc_bits(w, 3, fmt[from][0], fmt[from][1], fmt[from][2], fmt[from][3]), 0);
                size_t pixels = (size_t)w * img.fields.nbytes();
                EXPECT_EQ((size_t)get_padding(&img.fields, w), padding[from][w - 1]) << from << " width " << w;
                EXPECT_EQ(img.row_size(), pixels + padding[from][w - 1]);
                for (int y = 0; y < 3; ++y)
                    for (size_t i = 0; i < img.row_size(); ++i)
                        img.bits[y * img.row_size() + i] = i < pixels ? (unsigned char)(7 * i + y) : 0xEE;
                bit_fields_t t;
                t.set(fmt[to][0], fmt[to][1], fmt[to][2], fmt[to][3]);
                ASSERT_EQ(img.convert(&t, nullptr), 0);
                size_t out_pixels = (size_t)w * t.nbytes(), row = img.row_size();
                ASSERT_EQ(row, out_pixels + padding[to][w - 1]);
                for (int y = 0; y < 3; ++y)
                    for (size_t i = out_pixels; i < row; ++i)
                        EXPECT_EQ(img.bits[y * row + i], 0) << from << "->" << to << " width " << w;
            }
    EXPECT_EQ(get_padding(nullptr, 3), 0);
    EXPECT_TRUE(log_has("invalid pointer: _fields"));

    // White 5-6-5 widens without replicating low bits, into a buffer (the
    // image unchanged) or in place.
    image_t img;
    ASSERT_EQ(img.alloc_bits(1, 1, 0xF800, 0x07E0, 0x001F, 0), 0);
    img.bits[0] = img.bits[1] = 0xFF;
    bit_fields_t to;
    to.set(0xFF0000, 0xFF00, 0xFF, 0);
    char* out = nullptr;
    ASSERT_EQ(img.convert(&to, &out), 0);
    EXPECT_EQ(pixel_at(out, 3), 0x00F8FCF8u);
    delete[] out;
    EXPECT_EQ(img.fields.red_mask, 0xF800u);  // unchanged with an out buffer

    ASSERT_EQ(img.convert(&to, nullptr), 0);
    EXPECT_EQ(img.fields.red_mask, 0xFF0000u);
    EXPECT_EQ(pixel_at(img.bits, 3), 0x00F8FCF8u);
}

TEST_F(image_test, codec_is_chosen_by_extension_ignoring_case_and_a_full_disk_fails_the_write)
{
    image_io_t* io = get_extension_io(".BmP");
    ASSERT_NE(io, nullptr);
    EXPECT_STREQ(io->extension, ".bmp");
    ASSERT_NE(get_extension_io(".tga"), nullptr);
    EXPECT_EQ(get_extension_io(".gif"), nullptr);
    EXPECT_TRUE(log_has(".gif file format not recognized"));
    EXPECT_EQ(get_extension_io(nullptr), nullptr);
    EXPECT_TRUE(log_has("invalid pointer: _extension"));
    // A write that fails, at once, on the thread that writes a large image or
    // only when the stream is flushed, is a failure of image_write for both
    // codecs (a device that is always full).
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    for (std::string ext : {".bmp", ".tga"})
        for (int size : {2, 300, 800}) {
            image_t img;
            ASSERT_EQ(img.alloc_bits(size, size, 0xFF0000, 0xFF00, 0xFF, 0), 0);
            std::string full = path("full" + std::to_string(size) + ext);
            std::filesystem::create_symlink("/dev/full", full);
            unsigned int opt = size == 800 ? 1 : 0;  // converted to 16 bits on the way
            EXPECT_EQ(image_write(&img, full.c_str(), &opt, nullptr), -1);
            EXPECT_TRUE(log_has(full + ": unable to write"));
        }
}

// Files of several write blocks, rows with and without padding, converted or
// copied, behind headers of different lengths, read back as written.
TEST_F(image_file_test, images_larger_than_the_write_block_read_back)
{
    const unsigned int formats[2][4] = {{0xFF0000, 0xFF00, 0xFF, 0}, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}};
    for (std::string ext : {".bmp", ".tga"})
        for (auto& fmt : formats)
            for (unsigned int opt : {0u, 1u, 2u, 4u, 16u}) {
                SCOPED_TRACE(testing::Message() << ext << " masks " << std::hex << fmt[3] << " option " << opt);
                image_t expected, back;
                round_trip("big" + ext, fmt, opt, ext == ".tga" ? 0x8000 : 0, &expected, &back, 1001, 530);
                EXPECT_TRUE(are_equal_images(&expected, &back));
            }
    // Long rows in RGB order reach the file with red and blue swapped.
    image_t rgb, back;
    ASSERT_EQ(rgb.alloc_bits(1001, 20, 0xFF, 0xFF00, 0xFF0000, 0), 0);
    fill_pattern(&rgb);
    ASSERT_EQ(image_write(&rgb, path("rgb.bmp").c_str(), nullptr, nullptr), 0);
    ASSERT_EQ(image_read(&back, path("rgb.bmp").c_str(), nullptr), 0);
    ASSERT_EQ(back.fields.red_mask, 0xFF0000u);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 1001; ++x) {
            uint32_t v = pixel_at(rgb.bits + y * rgb.row_size() + 3 * x, 3);
            ASSERT_EQ(pixel_at(back.bits + y * back.row_size() + 3 * x, 3), (v & 0xFF) << 16 | (v & 0xFF00) | v >> 16)
                << x << "," << y;
        }
}

}  // namespace
