#include "image/tga/tga.h"

#include <cstring>

#include "image/image_local.h"
#include "kdbase/cfile.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

const uint8_t type_true_colour = 2;
const uint8_t desc_top_down = 0x20;
const unsigned int option_top_down = 16;

// What the writer puts after the header, terminating zero included.
const char identification[12] = "wvd.image_t";

void read_header(CFileE& f, tga_header_t& h)
{
    h.id_len = (uint8_t)f.ReadChar();
    h.map_type = (uint8_t)f.ReadChar();
    h.type = (uint8_t)f.ReadChar();
    h.map_origin = (uint16_t)f.ReadShort();
    h.map_len = (uint16_t)f.ReadShort();
    h.map_entry_size = (uint8_t)f.ReadChar();
    h.x_orig = (uint16_t)f.ReadShort();
    h.y_orig = (uint16_t)f.ReadShort();
    h.width = (uint16_t)f.ReadShort();
    h.height = (uint16_t)f.ReadShort();
    h.bpp = (uint8_t)f.ReadChar();
    h.desc = (uint8_t)f.ReadChar();
}

void write_header(CFileE& f, const tga_header_t& h)
{
    f.WriteChar((char)h.id_len);
    f.WriteChar((char)h.map_type);
    f.WriteChar((char)h.type);
    f.WriteShort((short)h.map_origin);
    f.WriteShort((short)h.map_len);
    f.WriteChar((char)h.map_entry_size);
    f.WriteShort((short)h.x_orig);
    f.WriteShort((short)h.y_orig);
    f.WriteShort((short)h.width);
    f.WriteShort((short)h.height);
    f.WriteChar((char)h.bpp);
    f.WriteChar((char)h.desc);
}

bool same_fields(const bit_fields_t& a, unsigned int r, unsigned int g, unsigned int b, unsigned int alpha)
{
    return a.red_mask == r && a.green_mask == g && a.blue_mask == b && a.alpha_mask == alpha;
}

}  // namespace

int tga_read(image_t* img, CFileE& f)
{
    CHECK_PTR(img, -1);
    const char* name = f.Name();
    tga_header_t h;
    read_header(f, h);
    char id[256];
    if (h.id_len)
        f.Read(id, h.id_len);
    if (h.map_type)
        f.Forward((long)h.map_len * ((h.map_entry_size + 7) / 8));
    if (h.type != type_true_colour || (h.bpp != 16 && h.bpp != 24 && h.bpp != 32)) {
        ELOG(EL_MINOR, "unsupported read format");
        return -1;
    }
    bit_fields_t fields;
    if (h.bpp == 24)
        fields.set(0xFF0000, 0xFF00, 0xFF, 0);
    else if (h.bpp == 32)
        fields.set(0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    else if ((h.desc & 15) == 0)
        fields.set(0xF800, 0x07E0, 0x001F, 0);
    else
        fields.set(0x7C00, 0x03E0, 0x001F, 0x8000);
    if (h.width == 0 || h.height == 0) {
        ELOG(EL_MINOR, "%s: invalid image size %dx%d", name, h.width, h.height);
        return -1;
    }
    size_t pixels = (size_t)h.width * (size_t)(h.bpp / 8);
    if (read_pixel_rows(img, f, h.width, h.height, fields, pixels, h.desc & desc_top_down) != 0)
        return -1;
    img->set_name(name);
    return 0;
}

int tga_write(image_t* img, CFileE& f, unsigned int* options)
{
    CHECK_PTR(img, -1);
    unsigned int opt = options ? *options : 8 | option_top_down;
    const bit_fields_t& own = img->fields;
    if (!img->bits || !(same_fields(own, 0x7C00, 0x03E0, 0x001F, 0x8000) || same_fields(own, 0xFF0000, 0xFF00, 0xFF, 0) ||
                        same_fields(own, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u))) {
        ELOG(EL_MINOR, "unsupported write format for %s", img->name ? img->name : "");
        return -1;
    }
    if (img->width > 0xFFFF || img->height > 0xFFFF) {
        ELOG(EL_MINOR, "%s: %dx%d too large for a .tga file", img->name ? img->name : "", img->width, img->height);
        return -1;
    }
    bit_fields_t target = write_format(img, opt, 0x8000);
    int depth = target.nbytes() * 8;
    tga_header_t h = {12, 0, type_true_colour, 0, 0, 0, 0, 0, (uint16_t)img->width, (uint16_t)img->height,
                      (uint8_t)depth, 0};
    switch (depth) {
    // The attribute bit tells readers the pixels are 1-5-5-5, not 5-6-5: it
    // follows what is written, also when a 24- or 32-bit image is converted.
    case 16: h.desc = target.alpha_mask == 0x8000 ? 1 : 0; break;
    case 24: h.desc = 0; break;
    case 32: h.desc = 8; break;
    default: ELOG(EL_MINOR, "unknown bit depth: %d", depth); return -1;
    }
    if (opt & option_top_down)
        h.desc |= desc_top_down;
    write_header(f, h);
    f.Write(identification, (int)sizeof identification);

    write_pixel_rows(img, f, target, 0, !(opt & option_top_down));
    return 0;
}

void dump_tga_header_t(FILE* f, tga_header_t& h, const char* tabs)
{
    CHECK_PTR_V(f);
    const char* t = tabs ? tabs : "";
    fprintf(f, "%stga_header_t:\n", t);
    fprintf(f, "%s..id_len=%d map_type=%d type=%d\n", t, h.id_len, h.map_type, h.type);
    fprintf(f, "%s..map_origin=%d map_len=%d map_entry_size=%d\n", t, h.map_origin, h.map_len, h.map_entry_size);
    fprintf(f, "%s..x_orig=%d y_orig=%d width=%d height=%d\n", t, h.x_orig, h.y_orig, h.width, h.height);
    fprintf(f, "%s..bpp=%d desc=0x%02x\n", t, h.bpp, h.desc);
}

}  // namespace vantrel
