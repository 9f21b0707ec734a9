/// @file
/// Truevision TGA files (".tga"): uncompressed true colour (type 2) of 16, 24
/// or 32 bits per pixel, in either row order.
/// @ingroup image
#pragma once
/// @addtogroup image
/// @{

#include <cstdint>
#include <cstdio>

#include "image/image.h"

namespace vantrel {

/// The 18-byte header.
struct VANTREL_API tga_header_t {
    uint8_t id_len;          ///< bytes of identification after the header
    uint8_t map_type;        ///< nonzero: a colour map follows the identification
    uint8_t type;            ///< 2: uncompressed true colour
    /// First colour map index; 0 when written (no map), the map is skipped
    /// when read.
    uint16_t map_origin;
    uint16_t map_len;        ///< colour map entries
    uint8_t map_entry_size;  ///< bits per colour map entry
    ///@{
    /// Screen position of the image's lower left corner; 0 when written,
    /// ignored when read.
    uint16_t x_orig;
    uint16_t y_orig;
    ///@}
    /// Pixels per row.
    uint16_t width;
    /// Rows.
    uint16_t height;
    /// Bits per pixel: 16, 24 or 32.
    uint8_t bpp;
    uint8_t desc;  ///< attribute bits in bits 0-3; bit 5: rows top to bottom
};

/// Reads the file from its position into img (top row first). 0 on success,
/// the image then named after the file; -1 with a log line for any other kind
/// of TGA file, img unchanged. A short file throws the int -1 (img unchanged).
VANTREL_API int tga_read(image_t* img, CFileE& f);

/// Writes img, whose masks must be 1-5-5-5 (0x8000 alpha), 8-8-8 or 8-8-8-8.
/// options (null: 24): 1 16 bits, 2 24 bits, 4 32 bits (the first set wins),
/// else the image's own depth; 16: rows top to bottom. 16-bit pixels are
/// always written as 1-5-5-5 with one attribute bit in the descriptor, so they
/// read back as such. 0 or -1 (logged); a failed write throws the int -1 and
/// leaves what was written.
VANTREL_API int tga_write(image_t* img, CFileE& f, unsigned int* options);

/// Prints "\<tabs\>tga_header_t:" and the fields on four "\<tabs\>.." lines
/// (null tabs: no prefix); a null stream logs the invalid-pointer message and
/// prints nothing.
VANTREL_API void dump_tga_header_t(FILE* f, tga_header_t& h, const char* tabs);

}  // namespace vantrel
/// @}
