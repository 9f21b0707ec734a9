/// @file
/// Images: named bitmaps whose pixel format is four channel bit masks, the
/// conversion between such formats, and reading and writing through the codec
/// chosen by the file extension.
/// @ingroup image
#pragma once
/// @addtogroup image
/// @{

#include <cstddef>
#include <cstdio>

#include "kdbase/group.h"

namespace vantrel {

class CFileE;

/// A packed pixel format of up to 32 bits: which bits hold each channel.
/// A mask of 0 means the channel is absent.
struct VANTREL_API bit_fields_t {
    ///@{
    /// The bits of the channel inside a pixel (one run of set bits).
    unsigned int red_mask;
    unsigned int green_mask;
    unsigned int blue_mask;
    unsigned int alpha_mask;
    ///@}

    /// Length of the lowest run of set bits of the four masks together
    /// (0x00FFFFFF gives 24, 0x7FFF gives 15).
    int nbits();
    /// Bytes per pixel: nbits() / 8 rounded up.
    int nbytes();
    /// Stores the four masks.
    void set(unsigned int r, unsigned int g, unsigned int b, unsigned int a);
};

/// Padding bytes that bring a row of width pixels to a multiple of 4 bytes.
/// Null _fields logs the invalid-pointer message and gives 0.
VANTREL_API int get_padding(bit_fields_t* _fields, int width);

/// Pixel data: height rows, each width little-endian pixels of fields.nbytes()
/// bytes, then zero padding up to a multiple of 4 bytes. Row order is the
/// codec's (the BMP and TGA codecs deliver the top row first).
class VANTREL_API image_t : public groupable_t {
public:
    /// Pixels per row; 0 when empty.
    int width;
    /// Rows; 0 when empty.
    int height;
    /// The pixel format of bits.
    bit_fields_t fields;
    unsigned char* bits;  ///< owned (array allocation); null when empty

    image_t();
    ~image_t() override;
    image_t(const image_t&) = delete;
    image_t& operator=(const image_t&) = delete;

    ///@{
    /// Frees the old bits and allocates height zeroed rows for the format
    /// (r, g, b, a). 0 on success (size and masks stored); -1 when the size is
    /// not positive, the format is empty or wider than 32 bits, the size does
    /// not fit in memory, or the allocation fails: the image then has no bits
    /// and keeps its old size and masks.
    int alloc_bits(int width, int height, unsigned int r, unsigned int g, unsigned int b, unsigned int a);
    void delete_bits();
    ///@}
    /// Bytes of one row including padding.
    size_t row_size();
    /// Converts the pixels into the format _fields. With out null the image's
    /// own bits and masks are replaced; otherwise *out receives a new array
    /// (caller owns it, delete[]) and the image is unchanged. 0, or -1 with the
    /// image unchanged and *out untouched.
    int convert(bit_fields_t* _fields, char** out);
    /// Takes over the size, format and bits of from (its old bits are freed);
    /// from is left empty. The name is kept.
    void take_bits(image_t* from);
    /// The name line, size, masks, then a hexadecimal dump of the pixel bytes.
    void dump(FILE* _f, const char* tabs) override;
};

/// Same size, masks and first width * height * nbytes bytes of data. A
/// difference is logged at EL_MINDEBUG as "\<nameA\>/\<nameB\>: \<what\>".
VANTREL_API bool are_equal_images(image_t* _imgA, image_t* _imgB);

///@{
/// A codec: -1 for failure, anything else for success. A short read or write
/// of the file throws the int -1 out of the codec.
typedef int (*image_read_func)(image_t* img, CFileE& f);
typedef int (*image_write_func)(image_t* img, CFileE& f, unsigned int* options);
///@}

/// One row of the codec table; a null function means that direction is not
/// supported.
struct VANTREL_API image_io_t {
    const char* extension;  ///< with the dot; "" ends the table
    /// Reads a file of this kind into an image.
    image_read_func read;
    /// Writes an image as a file of this kind.
    image_write_func write;
};

/// The codec for an extension (".bmp", ".tga"; case ignored), or null after
/// logging "%s file format not recognized".
VANTREL_API image_io_t* get_extension_io(const char* _extension);

/// Reads an image from _f when given, else from the file _filename; the codec
/// is chosen by the extension of the file's name. 0 on success (the image
/// takes the file's path as its name); -1 on failure, the image unchanged.
VANTREL_API int image_read(image_t* _image, const char* _filename, CFileE* _f);
/// Writes the image to _f when given, else to the file _filename (created or
/// truncated), passing options to the codec. 0 or -1; a failed write may leave
/// a partly written file.
VANTREL_API int image_write(image_t* _image, const char* _filename, unsigned int* options, CFileE* _f);

}  // namespace vantrel
/// @}
