#include "image/bmp/bmp.h"

#include <climits>
#include <cstring>

#include "kdbase/cfile.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/pointer.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

const char* const accepted_identifiers[] = {"BM", "BA", "CI", "CP", "IC", "PT"};

const unsigned int info_header_size = 40;
const unsigned int compression_plain = 0, compression_bit_fields = 3;

void read_file_header(CFileE& f, bmp_file_header_t& h)
{
    f.Read(h.identifier, 2);
    h.file_size = (uint32_t)f.ReadInt();
    h.reserved = (uint32_t)f.ReadInt();
    h.data_offset = (uint32_t)f.ReadInt();
}

void read_info(CFileE& f, bmp_info_t& i)
{
    i.header_size = (uint32_t)f.ReadInt();
    i.width = f.ReadInt();
    i.height = f.ReadInt();
    i.planes = (uint16_t)f.ReadShort();
    i.bit_count = (uint16_t)f.ReadShort();
    i.compression = (uint32_t)f.ReadInt();
    i.image_size = (uint32_t)f.ReadInt();
    i.x_resolution = f.ReadInt();
    i.y_resolution = f.ReadInt();
    i.colors_used = (uint32_t)f.ReadInt();
    i.colors_important = (uint32_t)f.ReadInt();
}

bool contiguous(unsigned int m)
{
    return (m & (m + (m & (0u - m)))) == 0;
}

// Bit-field masks from a file: each one run of bits inside the pixel, no two
// overlapping, at least one channel.
bool masks_usable(const bit_fields_t& m, int bit_count)
{
    const unsigned int rgb[3] = {m.red_mask, m.green_mask, m.blue_mask};
    unsigned int seen = 0;
    for (unsigned int mask : rgb) {
        if (!contiguous(mask) || (mask & seen) || (bit_count < 32 && (mask >> bit_count)))
            return false;
        seen |= mask;
    }
    return seen != 0;
}

}  // namespace

int bmp_read(image_t* img, CFileE& f)
{
    CHECK_PTR(img, -1);
    const char* name = f.Name();
    bmp_file_header_t fh;
    read_file_header(f, fh);
    bool known = false;
    for (const char* id : accepted_identifiers)
        known = known || (fh.identifier[0] == id[0] && fh.identifier[1] == id[1]);
    if (!known) {
        ELOG(EL_MINOR, "%c%c file identifier not recognized", fh.identifier[0], fh.identifier[1]);
        ELOG(EL_MINOR, "%s: invalid .bmp file", name);
        return -1;
    }
    bmp_info_t info;
    read_info(f, info);
    if (info.header_size < info_header_size) {
        ELOG(EL_MINOR, "%s: information header of %u bytes not supported", name, info.header_size);
        return -1;
    }
    int bit_count = info.bit_count;
    if (bit_count != 16 && bit_count != 24 && bit_count != 32) {
        ELOG(EL_MINOR, "%s: bit depth not supported", name);
        return -1;
    }
    bool bit_fields = info.compression == compression_bit_fields && bit_count != 24;
    if (info.compression != compression_plain && !bit_fields) {
        ELOG(EL_MINOR, "%s: compression %u not supported", name, info.compression);
        return -1;
    }
    // The file's format, and the image's: they differ only when the file's
    // masks leave no room for the alpha byte of a 32-bit image.
    bit_fields_t file_fields, image_fields;
    if (bit_fields) {
        file_fields.red_mask = (unsigned int)f.ReadInt();
        file_fields.green_mask = (unsigned int)f.ReadInt();
        file_fields.blue_mask = (unsigned int)f.ReadInt();
        file_fields.alpha_mask = 0;
        if (!masks_usable(file_fields, bit_count)) {
            ELOG(EL_MINOR, "%s: invalid bit-field masks %08x %08x %08x", name, file_fields.red_mask,
                 file_fields.green_mask, file_fields.blue_mask);
            return -1;
        }
    } else if (bit_count == 16) {
        file_fields.set(0x7C00, 0x03E0, 0x001F, 0);
    } else {
        file_fields.set(0xFF0000, 0xFF00, 0xFF, 0);
    }
    image_fields = file_fields;
    if (bit_count == 32) {
        unsigned int rgb = file_fields.red_mask | file_fields.green_mask | file_fields.blue_mask;
        bool alpha_free = !(rgb & 0xFF000000u);
        if (alpha_free)
            file_fields.alpha_mask = 0xFF000000u;
        image_fields = file_fields;
        if (!alpha_free || image_fields.nbytes() != 4)
            image_fields.set(0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    }
    if (image_fields.nbytes() != bit_count / 8) {
        ELOG(EL_MINOR, "%s: bit-field masks do not fill %d bits", name, bit_count);
        return -1;
    }
    if (info.width <= 0 || info.height == 0 || info.height == INT_MIN) {
        ELOG(EL_MINOR, "%s: invalid image size %dx%d", name, info.width, info.height);
        return -1;
    }
    bool top_down = info.height < 0;
    int rows = top_down ? -info.height : info.height;
    if ((long)fh.data_offset > f.GetSize()) {
        ELOG(EL_MINOR, "%s: data offset %u beyond the end of the file", name, fh.data_offset);
        return -1;
    }
    int nbytes = bit_count / 8;
    size_t pixels = (size_t)info.width * (size_t)nbytes;
    f.SetPos((long)fh.data_offset);
    if (read_pixel_rows(img, f, info.width, rows, image_fields, pixels + (4 - pixels % 4) % 4, top_down) != 0)
        return -1;
    if (memcmp(&file_fields, &image_fields, sizeof file_fields) != 0)
        for (int y = 0; y < rows; ++y) {
            unsigned char* row = img->bits + (size_t)y * img->row_size();
            convert_pixels(row, file_fields, nbytes, row, image_fields, nbytes, info.width);
        }
    img->set_name(name);
    return 0;
}

namespace {

void write_file_header(CFileE& f, const bmp_file_header_t& h)
{
    f.Write(h.identifier, 2);
    f.WriteInt((int)h.file_size);
    f.WriteInt((int)h.reserved);
    f.WriteInt((int)h.data_offset);
}

void write_info(CFileE& f, const bmp_info_t& i)
{
    f.WriteInt((int)i.header_size);
    f.WriteInt(i.width);
    f.WriteInt(i.height);
    f.WriteShort((short)i.planes);
    f.WriteShort((short)i.bit_count);
    f.WriteInt((int)i.compression);
    f.WriteInt((int)i.image_size);
    f.WriteInt(i.x_resolution);
    f.WriteInt(i.y_resolution);
    f.WriteInt((int)i.colors_used);
    f.WriteInt((int)i.colors_important);
}

}  // namespace

int bmp_write(image_t* img, CFileE& f, unsigned int* options)
{
    CHECK_PTR(img, -1);
    unsigned int opt = options ? *options : 0;
    int own_nbytes = img->fields.nbytes();
    if (!img->bits || own_nbytes < 2) {
        ELOG(EL_MINOR, "%s(%s): image format not supported", img->name ? img->name : "", f.Name());
        return -1;
    }
    bit_fields_t target = write_format(img, opt, 0);
    bool own_format = !(opt & 7);
    unsigned int compression = own_format && (opt & 8) && own_nbytes != 3 ? compression_bit_fields : compression_plain;
    int nbytes = target.nbytes();

    bmp_file_header_t fh = {{'B', 'M'}, 0, 0, 0};
    write_file_header(f, fh);
    bmp_info_t info = {info_header_size, img->width, img->height, 1, (uint16_t)(nbytes * 8), compression,
                       (uint32_t)((size_t)nbytes * (size_t)img->width * (size_t)img->height), 0, 0, 0, 0};
    write_info(f, info);
    if (compression == compression_bit_fields) {
        f.WriteInt((int)target.red_mask);
        f.WriteInt((int)target.green_mask);
        f.WriteInt((int)target.blue_mask);
    }
    long data_offset = f.GetPos();

    pointer_t<char> converted;
    unsigned char* data = converted_pixels(img, target, converted);
    if (!data)
        return -1;
    size_t pixels = (size_t)img->width * (size_t)nbytes;
    size_t row = (pixels + 3) & ~(size_t)3;
    char padding[3] = {0, 0, 0};
    for (int y = img->height - 1; y >= 0; --y) {
        f.Write(data + (size_t)y * row, (int)pixels);
        if (row > pixels)
            f.Write(padding, (int)(row - pixels));
    }
    long end = f.GetPos();
    f.SetPos(2);
    f.WriteInt((int)end);
    f.SetPos(10);
    f.WriteInt((int)data_offset);
    f.SetPos(end);
    return 0;
}

}  // namespace vantrel
