// The pixel-row helpers the image codecs share; not part of the installed API.
#pragma once

#include <cstdint>

#include "image/image.h"

namespace vantrel {

/// One channel's move, worked out once per conversion: extract at the source
/// position, widen or narrow by the difference of the field widths, place at
/// the destination position. Since the source field has no bits below its
/// shift and the destination mask none below its own, the three shifts come
/// to one net shift: left by lshift, then right by rshift (one of them 0).
struct channel_move {
    uint32_t src_mask, dst_mask;
    int lshift, rshift;
};

/// What a vector kernel works from: the moves; for kernels that only reorder
/// whole bytes, the order of the bytes of four 4-byte pixels; for kernels
/// that sum products, the source bits kept, the factors (one byte per byte of
/// a pixel, one 16-bit word per half) and the final right shift.
struct wide_plan {
    channel_move moves[4];
    int nmoves;
    signed char order[16];
    uint32_t keep, byte_factors, half_factors;
    int down;
};

/// Converts the leading pixels of a row (whole groups of them): the count done.
typedef int (*wide_kernel)(const unsigned char* src, unsigned char* dst, int count, const wide_plan& plan);

/// The vector kernel for a conversion between pixel sizes, where the
/// processor has vector instructions and one of its kernels covers the sizes
/// (3 or 4 bytes to 2, 3 or 4): it may fill plan.order. Null otherwise.
wide_kernel choose_wide_kernel(int from_nbytes, int to_nbytes, wide_plan& plan);

/// A conversion from one pixel format to another, planned once and run on any
/// number of rows: channel by channel, a channel absent in `from` becoming 0.
class pixel_converter {
public:
    pixel_converter(const bit_fields_t& from, int from_nbytes, const bit_fields_t& to, int to_nbytes);
    /// Moves count pixels from src to dst; src and dst may be the same row
    /// when the sizes are equal.
    void run(const unsigned char* src, unsigned char* dst, int count) const;

private:
    wide_plan plan;
    wide_kernel wide;
    int from_nbytes, to_nbytes;
};

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
