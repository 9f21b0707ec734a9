/// @file
/// Windows bitmap files (".bmp"): uncompressed true colour of 16, 24 or 32 bits
/// per pixel, plain or with bit-field masks, rows stored bottom up (or top down
/// when the height is negative).
/// @ingroup image
#pragma once
/// @addtogroup image
/// @{

#include <cstdint>

#include "image/image.h"

namespace vantrel {

/// The 14-byte file header.
struct VANTREL_API bmp_file_header_t {
    char identifier[2];    ///< "BM", "BA", "CI", "CP", "IC" or "PT"
    uint32_t file_size;    ///< the whole file
    /// 0 when written; ignored when read.
    uint32_t reserved;
    uint32_t data_offset;  ///< of the pixel rows from the start of the file
};

/// The 40-byte information header.
struct VANTREL_API bmp_info_t {
    /// Bytes of this header in the file: 40 when written, at least 40 when read.
    uint32_t header_size;
    /// Pixels per row.
    int32_t width;
    int32_t height;  ///< negative: rows stored top to bottom
    /// 1 when written; ignored when read.
    uint16_t planes;
    /// Bits per pixel: 16, 24 or 32 are read.
    uint16_t bit_count;
    uint32_t compression;  ///< 0 plain, 3 bit fields
    /// Bytes of pixel data (padded rows) when written; ignored when read.
    uint32_t image_size;
    ///@{
    /// Pixels per metre; 0 when written, ignored when read.
    int32_t x_resolution;
    int32_t y_resolution;
    ///@}
    ///@{
    /// Palette entries; 0 when written, ignored when read (no palettes).
    uint32_t colors_used;
    uint32_t colors_important;
    ///@}
};

/// Reads the file from its start into img (top row first). 0 on success, the
/// image then named after the file; -1 with a log line when the file is not a
/// bitmap this codec reads, img unchanged. A short file throws the int -1 (img
/// unchanged). Bit-field masks may take any layout of single runs of bits
/// inside the pixel; when they do not describe a pixel of the file's size (a
/// gap, or fewer than 9 of 16 bits) the image gets the standard format of that
/// depth (16 bits: 5-6-5, or 8-8-8 for a wider channel), each channel moved to
/// its width by shifting. A 32-bit image always has its alpha in the top byte.
/// Masks that overlap, are not one run of bits, lie beyond the pixel or are all
/// zero are refused: "%s: invalid bit-field masks %08x %08x %08x: \<reason\>".
VANTREL_API int bmp_read(image_t* img, CFileE& f);

/// Writes img at the file's position. options (null: 0): 1 16 bits 5-5-5,
/// 2 24 bits, 4 32 bits with alpha (the first set wins), else the image's own
/// format; 8 with none of those: bit-field header with the image's masks
/// (16 and 32 bits). Masks are also written whenever the format is not the
/// default of its depth (5-5-5; 8-8-8 with alpha in the top byte), so that
/// readers see the colours written; a 24-bit format other than 8-8-8 and a
/// 32-bit one with alpha elsewhere are converted to the default, which a
/// header can describe. 0, or -1 (logged) for an image without 16 to 32 bits
/// or one too large for the format; a failed write throws the int -1 and
/// leaves what was written.
VANTREL_API int bmp_write(image_t* img, CFileE& f, unsigned int* options);

}  // namespace vantrel
/// @}
