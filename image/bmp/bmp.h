// Windows bitmap files (".bmp"): uncompressed true colour of 16, 24 or 32 bits
// per pixel, plain or with bit-field masks, rows stored bottom up (or top down
// when the height is negative).
#pragma once

#include <cstdint>

#include "image/image.h"

namespace vantrel {

// The 14-byte file header.
struct VANTREL_API bmp_file_header_t {
    char identifier[2];    // "BM", "BA", "CI", "CP", "IC" or "PT"
    uint32_t file_size;    // the whole file
    uint32_t reserved;
    uint32_t data_offset;  // of the pixel rows from the start of the file
};

// The 40-byte information header.
struct VANTREL_API bmp_info_t {
    uint32_t header_size;
    int32_t width;
    int32_t height;  // negative: rows stored top to bottom
    uint16_t planes;
    uint16_t bit_count;
    uint32_t compression;  // 0 plain, 3 bit fields
    uint32_t image_size;
    int32_t x_resolution;
    int32_t y_resolution;
    uint32_t colors_used;
    uint32_t colors_important;
};

// Reads the file from its start into img (top row first). 0 on success, the
// image then named after the file; -1 with a log line when the file is not a
// bitmap this codec reads, img unchanged. A short file throws the int -1 (img
// unchanged).
VANTREL_API int bmp_read(image_t* img, CFileE& f);

// Writes img at the file's position. options (null: 0): 1 16 bits 5-5-5,
// 2 24 bits, 4 32 bits with alpha (the first set wins), else the image's own
// format; 8 with none of those: bit-field header with the image's masks
// (16 and 32 bits). 0 or -1 (logged); a failed write leaves what was written.
VANTREL_API int bmp_write(image_t* img, CFileE& f, unsigned int* options);

}  // namespace vantrel
