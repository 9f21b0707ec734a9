// Helpers shared by the image tests: pixel access, patterns and file builders.
#pragma once

#include <cstdint>
#include <string>

#include "image/image.h"
#include "kdbase/cfile.h"
#include "tests/common/log_fixture.h"

namespace vantrel_test {

// The little-endian pixel of n bytes at p.
inline uint32_t pixel_at(const void* p, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v |= (uint32_t)((const unsigned char*)p)[i] << (8 * i);
    return v;
}

// Distinct pixel values that use every bit of every channel across the image;
// padding stays zero.
inline void fill_pattern(vantrel::image_t* img)
{
    int nb = img->fields.nbytes();
    for (int y = 0; y < img->height; ++y)
        for (int x = 0; x < img->width * nb; ++x)
            img->bits[y * img->row_size() + x] = (unsigned char)(37 * x + 101 * y + 13);
}

// Little-endian byte strings.
inline std::string le16(unsigned v)
{
    return std::string{(char)(v & 0xFF), (char)((v >> 8) & 0xFF)};
}
inline std::string le32(uint32_t v)
{
    return le16(v & 0xFFFF) + le16(v >> 16);
}

// A BMP file: headers with the given fields, optional masks, then rows of data.
struct bmp_spec {
    std::string id = "BM";
    uint32_t header_size = 40;
    int32_t width = 2, height = 2;
    uint16_t bpp = 24;
    uint32_t compression = 0;
    std::string masks;        // 12 bytes for bit fields
    std::string extra;        // between headers (and masks) and the data
    int64_t data_offset = -1;  // -1: right after what precedes it
    std::string data;
};

inline std::string make_bmp(const bmp_spec& s)
{
    std::string info = le32(s.header_size) + le32((uint32_t)s.width) + le32((uint32_t)s.height) + le16(1) +
                       le16(s.bpp) + le32(s.compression) + std::string(20, '\0');
    info.resize(s.header_size < 40 ? 40 : s.header_size, '\0');
    std::string head = info + s.masks + s.extra;
    uint32_t offset = s.data_offset >= 0 ? (uint32_t)s.data_offset : (uint32_t)(14 + head.size());
    std::string file = s.id.substr(0, 2) + le32(0) + le32(0) + le32(offset) + head + s.data;
    std::string size = le32((uint32_t)file.size());
    file.replace(2, 4, size);
    return file;
}

// A TGA file: header fields, identification, colour map, then data.
inline std::string make_tga(uint8_t type, uint8_t bpp, uint8_t desc, uint16_t width, uint16_t height,
                            const std::string& id, const std::string& map, uint8_t map_entry_size,
                            const std::string& data)
{
    uint16_t map_len = map_entry_size ? (uint16_t)(map.size() / ((map_entry_size + 7) / 8)) : 0;
    return std::string{(char)id.size(), (char)(map.empty() ? 0 : 1), (char)type} + le16(0) + le16(map_len) +
           std::string(1, (char)map_entry_size) + le16(0) + le16(0) + le16(width) + le16(height) +
           std::string{(char)bpp, (char)desc} + id + map + data;
}

// The format a writer's flags choose (1, 2, 4; the first set wins).
inline vantrel::bit_fields_t chosen_format(const vantrel::bit_fields_t& own, unsigned int opt, unsigned int alpha16)
{
    vantrel::bit_fields_t f = own;
    if (opt & 1)
        f.set(0x7C00, 0x03E0, 0x1F, alpha16);
    else if (opt & 2)
        f.set(0xFF0000, 0xFF00, 0xFF, 0);
    else if (opt & 4)
        f.set(0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    return f;
}

// Tests that read images from bytes written to the temporary directory.
class image_file_test : public log_test {
protected:
    // image_read of bytes written as name.
    int read_bytes(const std::string& name, const std::string& bytes, vantrel::image_t* img)
    {
        return vantrel::image_read(img, write_file(name, bytes).c_str(), nullptr);
    }
    // Writes a patterned w x h image of the masks fmt to name with the flags
    // opt and reads it into back; expected gets the pattern as the writer must
    // have stored it (converted when the flags change the bit count).
    void round_trip(const std::string& name, const unsigned int* fmt, unsigned int opt, unsigned int alpha16,
                    vantrel::image_t* expected, vantrel::image_t* back, int w = 5, int h = 3)
    {
        vantrel::image_t img;
        ASSERT_EQ(img.alloc_bits(w, h, fmt[0], fmt[1], fmt[2], fmt[3]), 0);
        fill_pattern(&img);
        unsigned int o = opt;
        ASSERT_EQ(vantrel::image_write(&img, path(name).c_str(), &o, nullptr), 0);
        ASSERT_EQ(vantrel::image_read(back, path(name).c_str(), nullptr), 0);
        back->set_name(nullptr);
        ASSERT_EQ(expected->alloc_bits(w, h, fmt[0], fmt[1], fmt[2], fmt[3]), 0);
        fill_pattern(expected);
        vantrel::bit_fields_t target = chosen_format(img.fields, opt, alpha16);
        if (target.nbits() != img.fields.nbits()) {
            ASSERT_EQ(expected->convert(&target, nullptr), 0);
        }
    }
    // whole reads; every copy shorter than needed bytes (the whole by default)
    // fails with the read message and no image.
    void expect_truncations_fail(const std::string& ext, const std::string& whole, size_t needed = 0)
    {
        vantrel::image_t img;
        ASSERT_EQ(read_bytes("whole" + ext, whole, &img), 0);
        for (size_t n = 0; n < (needed ? needed : whole.size()); ++n) {
            clear_log();
            vantrel::image_t cut;
            ASSERT_EQ(read_bytes("cut" + ext, whole.substr(0, n), &cut), -1) << n;
            ASSERT_TRUE(log_has("cut" + ext + ": unable to read")) << n;
            ASSERT_EQ(cut.bits, nullptr);
        }
    }
};

}  // namespace vantrel_test
