// The pixel-row helpers the image codecs share; not part of the installed API.
#pragma once

#include "image/image.h"

namespace vantrel {

/// Moves count pixels from the format `from` (from_nbytes bytes each) into the
/// format `to` (to_nbytes bytes each), channel by channel; a channel absent in
/// `from` becomes 0. src and dst may be the same row when the sizes are equal.
void convert_pixels(const unsigned char* src, const bit_fields_t& from, int from_nbytes, unsigned char* dst,
                    const bit_fields_t& to, int to_nbytes, int count);

/// For the codecs: reads height rows of file_row bytes (at most a padded image
/// row; the pixels first) from the file's position into img, replacing its
/// bits, size and format (width and height positive). Rows stored top down fill
/// the image from the top, others from the bottom; the padding is zeroed.
/// 0; -1 with img unchanged when the rows go beyond the end of the file ("%s:
/// pixel data goes beyond the end of the file") or the allocation fails. A
/// short read throws the int -1, img unchanged.
int read_pixel_rows(image_t* img, CFileE& f, int width, int height, const bit_fields_t& fields, size_t file_row,
                    bool top_down);

/// For the writers: the format the write flags choose: 1 16 bits 5-5-5 (with
/// alpha16 as the alpha mask), 2 24 bits, 4 32 bits with alpha, the first set
/// winning; else the image's own format.
bit_fields_t write_format(image_t* img, unsigned int options, unsigned int alpha16);

/// For the writers: writes the image's rows in the format target (converted
/// on the way when its masks differ from the image's), each followed by pad
/// zero bytes, from the top row down or from the bottom up, one write per
/// block of 1 MiB that each thread allocates once and keeps until it ends
/// (16 KiB on the stack when that memory cannot be had). Converted images
/// larger than that block are written by a thread started for the call
/// while the next block is converted, from a ring of three blocks that the
/// calling thread then keeps instead. Cannot fail otherwise; a short write
/// throws the int -1.
void write_pixel_rows(image_t* img, CFileE& f, const bit_fields_t& target, size_t pad, bool bottom_up);

}  // namespace vantrel
