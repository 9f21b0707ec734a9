// The codecs against files written by other programs.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "image/image.h"
#include "tests/common/log_fixture.h"
#include "tests/image/image_util.h"

using namespace vantrel;
using namespace vantrel_test;

namespace {

// Pixels as an independent decoder saw them: every channel at the width the
// file stores it (a 5-bit channel as 0..31), red, green, blue and, for "rgba",
// alpha, pixel by pixel from the top row; FNV-1a 64 of those bytes.
// rgb32bf.bmp holds the picture of rgb24.bmp (as its suite documents).
struct reference {
    const char* file;
    int width, height;
    bool alpha;
    uint64_t hash;
};
const reference references[] = {
    {"bmp/good/rgb16.bmp", 127, 64, false, 0x0d57f2ca6fa4e297},
    {"bmp/good/rgb16bfdef.bmp", 127, 64, false, 0x0d57f2ca6fa4e297},
    {"bmp/good/rgb16-565.bmp", 127, 64, false, 0xd826d2bcdf01e548},
    {"bmp/good/rgb16-565pal.bmp", 127, 64, false, 0xd826d2bcdf01e548},
    {"bmp/good/rgb24.bmp", 127, 64, false, 0x7cd8f819ae69b2af},
    {"bmp/good/rgb24pal.bmp", 127, 64, false, 0x7cd8f819ae69b2af},
    {"bmp/good/rgb32.bmp", 127, 64, false, 0x7cd8f819ae69b2af},
    {"bmp/good/rgb32bf.bmp", 127, 64, false, 0x7cd8f819ae69b2af},
    {"bmp/good/rgb32bfdef.bmp", 127, 64, false, 0x7cd8f819ae69b2af},
    {"tga/pillow/200x32_rgb_bl_raw.tga", 200, 32, false, 0x2c7abec183961b6b},
    {"tga/pillow/200x32_rgba_bl_raw.tga", 200, 32, true, 0xfc64634f42cafa2e},
    {"tga/pillow/200x32_rgba_tl_raw.tga", 200, 32, true, 0xfc64634f42cafa2e},
    {"tga/pillow/rgba16.tga", 2, 1, false, 0xb29a5f220cfc44a6},
    {"tga/pillow/tga_id_field.tga", 100, 100, false, 0x552142f90a80856b},
    {"tga/truevision/utc16.tga", 128, 128, false, 0xb7fb507a08530b25},
    {"tga/truevision/utc24.tga", 128, 128, false, 0x42bea277e4730b25},
    {"tga/truevision/utc32.tga", 128, 128, true, 0xb90eec6d6af96325},
};
// Read by the codecs, but no independent decoder agrees on their pixels.
const char* const read_without_reference[] = {"bmp/bad/rgb16-880.bmp"};

uint64_t channel_hash(image_t* img, bool alpha)
{
    const unsigned int masks[4] = {img->fields.red_mask, img->fields.green_mask, img->fields.blue_mask,
                                   img->fields.alpha_mask};
    int nb = img->fields.nbytes();
    uint64_t h = 0xcbf29ce484222325ull;
    for (int y = 0; y < img->height; ++y)
        for (int x = 0; x < img->width; ++x) {
            uint32_t p = pixel_at(img->bits + y * img->row_size() + x * nb, nb);
            for (int c = 0; c < (alpha ? 4 : 3); ++c) {
                uint32_t v = masks[c] ? (p & masks[c]) >> __builtin_ctz(masks[c]) : 0;
                h = (h ^ (v & 0xFF)) * 0x100000001b3ull;
            }
        }
    return h;
}

class testdata_test : public image_file_test {
protected:
    void SetUp() override
    {
        log_test::SetUp();
        root = testdata_dir();
        if (root.empty())
            GTEST_SKIP() << "third-party test files not found (../shared/testdata)";
        root += "/images/";
    }
    std::string root;
};

TEST_F(testdata_test, pixels_agree_with_an_independent_decoder_and_every_file_is_read_or_refused)
{
    for (const reference& r : references) {
        SCOPED_TRACE(r.file);
        image_t img;
        std::string p = root + r.file;
        ASSERT_EQ(image_read(&img, p.c_str(), nullptr), 0);
        EXPECT_STREQ(img.name, p.c_str());
        EXPECT_EQ(img.width, r.width);
        EXPECT_EQ(img.height, r.height);
        EXPECT_EQ(channel_hash(&img, r.alpha), r.hash);
    }
    // Every other file is read or refused with a message.
    std::map<std::string, bool> expected_read;
    for (const reference& r : references)
        expected_read[r.file] = true;
    for (const char* f : read_without_reference)
        expected_read[f] = true;
    int files = 0;
    for (auto& e : std::filesystem::recursive_directory_iterator(root)) {
        std::string ext = e.path().extension().string();
        if (!e.is_regular_file() || (ext != ".bmp" && ext != ".tga"))
            continue;
        std::string rel = e.path().generic_string().substr(root.size());
        SCOPED_TRACE(rel);
        ++files;
        clear_log();
        image_t img;
        int r = image_read(&img, e.path().string().c_str(), nullptr);
        if (expected_read.count(rel)) {
            EXPECT_EQ(r, 0);
            continue;
        }
        EXPECT_EQ(r, -1);
        EXPECT_EQ(img.bits, nullptr);
        EXPECT_TRUE(log_has(e.path().string() + ": unable to read"));
    }
    EXPECT_GT(files, 80);
}

TEST_F(testdata_test, truncated_copies_and_huge_declared_sizes_fail_before_allocating)
{
    // 18 header bytes and 2 pixels of 16 bits; a footer follows that readers may ignore.
    std::filesystem::copy_file(root + "tga/pillow/rgba16.tga", path("rgba16.tga"));
    expect_truncations_fail(".tga", read_file("rgba16.tga"), 22);
    // A huge declared size is refused before allocating.
    image_t img;
    std::string p = root + "bmp/bad/reallybig.bmp";
    EXPECT_EQ(image_read(&img, p.c_str(), nullptr), -1);
    EXPECT_TRUE(log_has("pixel data goes beyond the end of the file"));
}

}  // namespace
