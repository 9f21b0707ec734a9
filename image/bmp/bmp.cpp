#include "image/bmp/bmp.h"

#include <climits>
#include <cstdint>
#include <cstring>

#include "image/image_local.h"
#include "kdbase/cfile.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

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

// Why the pixel conversion cannot use the masks of a file, or null when it
// can: each channel one run of bits inside the pixel, no two overlapping, at
// least one channel.
const char* masks_problem(const bit_fields_t& m, int bit_count)
{
    const unsigned int rgb[3] = {m.red_mask, m.green_mask, m.blue_mask};
    unsigned int seen = 0;
    for (unsigned int mask : rgb) {
        if (!contiguous(mask))
            return "a mask is not one run of bits";
        if (bit_count < 32 && (mask >> bit_count))
            return "a mask lies beyond the pixel";
        if (mask & seen)
            return "masks overlap";
        seen |= mask;
    }
    return seen ? nullptr : "no colour channel";
}

// The in-memory format for pixels of the file's format: the file's own when
// it describes pixels of the file's size, else the standard format of that
// depth (a 16-bit layout whose channels do not fit 5-6-5 becomes 8-8-8). A
// 32-bit image always has its alpha in the top byte.
bit_fields_t image_format(const bit_fields_t& file, int bit_count)
{
    bit_fields_t f = file;
    if (bit_count == 32) {
        if (file.alpha_mask != 0xFF000000u || f.nbytes() != 4)
            f.set(0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    } else if (bit_count == 16 && f.nbytes() != 2) {
        if (mask32_nbits(file.red_mask) <= 5 && mask32_nbits(file.green_mask) <= 6 &&
            mask32_nbits(file.blue_mask) <= 5)
            f.set(0xF800, 0x07E0, 0x001F, 0);
        else
            f.set(0xFF0000, 0xFF00, 0xFF, 0);
    }
    return f;
}

// Reads the rows as the file stores them, then converts them into img's
// format; img unchanged on failure.
int read_converted_rows(image_t* img, CFileE& f, const bmp_info_t& info, const bit_fields_t& file_fields,
                        const bit_fields_t& image_fields, bool top_down)
{
    int nbytes = info.bit_count / 8, rows = top_down ? -info.height : info.height;
    size_t pixels = (size_t)info.width * (size_t)nbytes;
    bit_fields_t raw;  // any format of the file's pixel size
    raw.set(nbytes == 4 ? 0xFFFFFFFFu : 0xFFFFu, 0, 0, 0);
    image_t file_rows, out;
    if (read_pixel_rows(&file_rows, f, info.width, rows, raw, pixels + (4 - pixels % 4) % 4, top_down) != 0)
        return -1;
    if (out.alloc_bits(info.width, rows, image_fields.red_mask, image_fields.green_mask, image_fields.blue_mask,
                       image_fields.alpha_mask) != 0)
        return -1;
    pixel_converter conv(file_fields, nbytes, out.fields, out.fields.nbytes());
    for (int y = 0; y < rows; ++y)
        conv.run(file_rows.bits + (size_t)y * file_rows.row_size(), out.bits + (size_t)y * out.row_size(), info.width);
    img->take_bits(&out);
    return 0;
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
    bit_fields_t file_fields;
    if (bit_fields) {
        file_fields.red_mask = (unsigned int)f.ReadInt();
        file_fields.green_mask = (unsigned int)f.ReadInt();
        file_fields.blue_mask = (unsigned int)f.ReadInt();
        file_fields.alpha_mask = 0;
        if (const char* why = masks_problem(file_fields, bit_count)) {
            ELOG(EL_MINOR, "%s: invalid bit-field masks %08x %08x %08x: %s", name, file_fields.red_mask,
                 file_fields.green_mask, file_fields.blue_mask, why);
            return -1;
        }
    } else if (bit_count == 16) {
        file_fields.set(0x7C00, 0x03E0, 0x001F, 0);
    } else {
        file_fields.set(0xFF0000, 0xFF00, 0xFF, 0);
    }
    // A 32-bit file keeps its alpha in the top byte when the colours leave it free.
    if (bit_count == 32 && !((file_fields.red_mask | file_fields.green_mask | file_fields.blue_mask) & 0xFF000000u))
        file_fields.alpha_mask = 0xFF000000u;
    bit_fields_t image_fields = image_format(file_fields, bit_count);
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
    f.SetPos((long)fh.data_offset);
    size_t pixels = (size_t)info.width * (size_t)(bit_count / 8);
    int r = memcmp(&file_fields, &image_fields, sizeof file_fields) == 0
                ? read_pixel_rows(img, f, info.width, rows, image_fields, pixels + (4 - pixels % 4) % 4, top_down)
                : read_converted_rows(img, f, info, file_fields, image_fields, top_down);
    if (r != 0)
        return -1;
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

// The format a reader assumes for a plain file of that many bytes per pixel.
bit_fields_t plain_format(int nbytes)
{
    bit_fields_t f;
    f.set(nbytes == 2 ? 0x7C00 : 0xFF0000, nbytes == 2 ? 0x03E0 : 0xFF00, nbytes == 2 ? 0x001F : 0xFF,
          nbytes == 4 ? 0xFF000000u : 0);
    return f;
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
    int nbytes = target.nbytes();
    bit_fields_t plain = plain_format(nbytes);
    bool is_plain = memcmp(&target, &plain, sizeof target) == 0;
    // Masks in the file say what is not the default for the depth. A 24-bit
    // file has none, and a 32-bit one none for alpha: those pixels are
    // converted to the default instead.
    if (!is_plain && (nbytes == 3 || (nbytes == 4 && target.alpha_mask && target.alpha_mask != 0xFF000000u))) {
        target = plain;
        is_plain = true;
    }
    bool with_masks = nbytes != 3 && (!is_plain || (!(opt & 7) && (opt & 8)));
    size_t pixels = (size_t)img->width * (size_t)nbytes, pad = (4 - pixels % 4) % 4;
    long data_offset = f.GetPos() + 14 + (long)info_header_size + (with_masks ? 12 : 0);
    uint64_t file_size = (uint64_t)data_offset + (uint64_t)(pixels + pad) * (uint64_t)img->height;
    if (file_size > UINT32_MAX) {
        ELOG(EL_MINOR, "%s: %dx%d too large for a .bmp file", img->name ? img->name : "", img->width, img->height);
        return -1;
    }
    // Sizes known up front: no seeking back once the pixels are written.
    bmp_file_header_t fh = {{'B', 'M'}, (uint32_t)file_size, 0, (uint32_t)data_offset};
    write_file_header(f, fh);
    bmp_info_t info = {info_header_size, img->width, img->height, 1, (uint16_t)(nbytes * 8),
                       with_masks ? compression_bit_fields : compression_plain,
                       (uint32_t)((uint64_t)pixels * (uint64_t)img->height), 0, 0, 0, 0};
    write_info(f, info);
    if (with_masks) {
        f.WriteInt((int)target.red_mask);
        f.WriteInt((int)target.green_mask);
        f.WriteInt((int)target.blue_mask);
    }
    write_pixel_rows(img, f, target, pad, true);
    return 0;
}

}  // namespace vantrel
