// vantrel-demo: flies a camera through a level and writes what it sees as
// PNG frames plus one contact sheet of them all.
//   vantrel-demo [LEVEL] [-frames N] [-out DIR] [-size W H] [-all-leaves]
// LEVEL defaults to the shipped arena; the camera follows LEVEL's ".path"
// file beside it, or turns round once inside the level when there is none.
// -all-leaves draws every open leaf instead of the visible sets. LEVEL may be
// a container written by "vantrel-bspc --cds", read through the media loader.
// Spiders and molecules move and animate in the level on a clock of 80 ms per
// frame: their models are the shipped trueSpace files converted by
// vantrel-ts2cds into DIR/spider.model and DIR/molecule.model, which the demo
// dresses first (see demo_actors.h).
#include <png.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "tools/demo_actors.h"
#include "tools/demo_host.h"

namespace {

// The demo's clock: 80 ms per frame, so the frames do not depend on the machine.
unsigned int demo_clock_ms = 1000;
unsigned int demo_clock(void*)
{
    return demo_clock_ms;
}

// Thumbnails of the frames, in rows of cols, as one PNG. 0 / -1.
int contact_sheet(const std::vector<std::string>& frames, const std::string& out, int cols, int tw, int th)
{
    const int rows = ((int)frames.size() + cols - 1) / cols, gap = 4;
    const int w = cols * (tw + gap) + gap, h = rows * (th + gap) + gap;
    std::vector<unsigned char> sheet((size_t)w * h * 3, 40);
    for (size_t i = 0; i < frames.size(); ++i) {
        png_image img{};
        img.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_file(&img, frames[i].c_str()))
            return -1;
        img.format = PNG_FORMAT_RGB;
        std::vector<unsigned char> px(PNG_IMAGE_SIZE(img));
        if (!png_image_finish_read(&img, nullptr, px.data(), 0, nullptr))
            return -1;
        const int x0 = gap + (int)(i % cols) * (tw + gap), y0 = gap + (int)(i / cols) * (th + gap);
        // Box filter: each thumbnail pixel averages its block of the frame.
        for (int y = 0; y < th; ++y)
            for (int x = 0; x < tw; ++x) {
                const int sx0 = x * (int)img.width / tw, sx1 = std::max(sx0 + 1, (x + 1) * (int)img.width / tw);
                const int sy0 = y * (int)img.height / th, sy1 = std::max(sy0 + 1, (y + 1) * (int)img.height / th);
                for (int c = 0; c < 3; ++c) {
                    int sum = 0;
                    for (int sy = sy0; sy < sy1; ++sy)
                        for (int sx = sx0; sx < sx1; ++sx)
                            sum += px[((size_t)sy * img.width + sx) * 3 + c];
                    sheet[((size_t)(y0 + y) * w + x0 + x) * 3 + c] =
                        (unsigned char)(sum / ((sx1 - sx0) * (sy1 - sy0)));
                }
            }
        png_image_free(&img);
    }
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    img.width = (png_uint_32)w;
    img.height = (png_uint_32)h;
    img.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&img, out.c_str(), 0, sheet.data(), 0, nullptr) ? 0 : -1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string level = std::string(VANTREL_DATA_DIR) + "/levels/arena.txt", out = "demo";
    int frames = 48, width = 640, height = 480;
    bool all_leaves = false;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "-frames") && i + 1 < argc)
            frames = atoi(argv[++i]);
        else if (!strcmp(argv[i], "-out") && i + 1 < argc)
            out = argv[++i];
        else if (!strcmp(argv[i], "-size") && i + 2 < argc)
            width = atoi(argv[i + 1]), height = atoi(argv[i + 2]), i += 2;
        else if (!strcmp(argv[i], "-all-leaves"))
            all_leaves = true;
        else if (argv[i][0] != '-')
            level = argv[i];
        else {
            fprintf(stderr, "usage: vantrel-demo [LEVEL] [-frames N] [-out DIR] [-size W H] [-all-leaves]\n");
            return 2;
        }
    }
    if (frames < 1 || width < 1 || height < 1) {
        fprintf(stderr, "vantrel-demo: frames and size must be positive\n");
        return 2;
    }
    const std::string out_abs = vantrel_demo::absolute(out);
    level = vantrel_demo::absolute(level);  // the host works in a folder of its own
    std::error_code ec;
    std::filesystem::create_directories(out_abs, ec);
    static const std::string log = out_abs + "/vantrel-demo.log";  // the log keeps the name, not a copy
    if (!ec)
        set_logfile(log.c_str());
    if (ec || vantrel_demo::write_materials(out_abs) != 0) {
        fprintf(stderr, "vantrel-demo: cannot write the media into %s (see vantrel-demo.log there)\n", out_abs.c_str());
        return 1;
    }
    vantrel::set_milli_clock(demo_clock, nullptr);
    vantrel_demo::demo_host host;
    if (!host.start(out_abs, std::string(VANTREL_RLIB_DIR) + "/rlib_gl.so",
                    std::string(VANTREL_DATA_DIR) + "/demo/demo.ds", level, width, height))
        return 1;
    host.cam->d_all_leaves = all_leaves;
    vantrel_demo::camera_path path;
    if (!path.load(level) && !path.spin_in(&host.level)) {
        fprintf(stderr, "vantrel-demo: no open space to put the camera in\n");
        return 1;
    }
    // The creatures to the level's scale; spiders and molecules in each hall
    // of the arena, on its floors (0, 64, 128); places in the walls of other
    // levels are skipped.
    vantrel_demo::actors actors;
    actors.unit = vantrel_demo::level_extent(&host.level) / 16;
    for (const vantrel_demo::kind_t* k : {&vantrel_demo::spider, &vantrel_demo::molecule})
        if (vantrel_demo::dress_model(out_abs, *k, actors.unit) != 0) {
            fprintf(stderr, "vantrel-demo: cannot dress %s/%s.model (convert data/models/%s into it with vantrel-ts2cds; see vantrel-demo.log)\n",
                    out_abs.c_str(), k->name, k->source);
            return 1;
        }
    const vantrel_demo::kind_t *sp = &vantrel_demo::spider, *mo = &vantrel_demo::molecule;
    if (actors.start(&host.level, out_abs,
                     {{sp, 2280, 0, -2720, 180}, {sp, 2350, 0, -2900, 0}, {mo, 2400, 0, -2950, -90}, {sp, 2480, 0, -2640, 90},
                      {sp, 3250, 64, -2750, 90}, {mo, 3230, 64, -2930, 0}, {mo, 2950, 64, -2620, 90}, {sp, 3180, 64, -2600, 180},
                      {sp, 3120, 128, -2050, 90}, {mo, 3000, 128, -1900, 90}}) != 0) {
        fprintf(stderr, "vantrel-demo: cannot read the creatures' media (see %s/vantrel-demo.log)\n", out_abs.c_str());
        return 1;
    }
    // The creatures' materials are drawn by the render library too.
    for (vantrel_demo::walker* w : actors.walkers)
        for (vantrel::material_t** m = w->ent.model.skin; m && *m; ++m)
            for (vantrel::d_node* n = (*m)->shaders.first; n; n = n->next)
                vantrel::r_imports.set_shader_func(static_cast<vantrel::shader_t*>(n->object));
    const int first = host.setting("gl_frame", 0);
    for (int i = 0; i < frames; ++i) {
        demo_clock_ms += 80;
        actors.step(80);
        host.frame(path.at(frames > 1 ? (float)i / (float)(frames - 1) : 0));
    }
    if (host.setting("gl_frame", 0) - first != frames) {
        fprintf(stderr, "vantrel-demo: no frames were written (no OpenGL here? see %s/vantrel-demo.log)\n",
                out_abs.c_str());
        return 1;
    }
    std::vector<std::string> files;
    for (int i = 0; i < frames; ++i) {
        char name[64];
        snprintf(name, sizeof name, "frames/frame_%05d.png", first + i);
        files.push_back(out_abs + "/" + name);
    }
    const int cols = frames < 8 ? frames : 8;
    const std::string sheet = out_abs + "/contact_sheet.png";
    if (contact_sheet(files, sheet, cols, 160, 120) != 0) {
        fprintf(stderr, "vantrel-demo: cannot write %s\n", sheet.c_str());
        return 1;
    }
    printf("%d creatures; ", (int)actors.walkers.size());
    printf("%d frames of %s in %s/frames; open %s\n", frames, level.c_str(), out_abs.c_str(), sheet.c_str());
    host.cam->dump_frame(stdout, "last frame: ");
    return 0;
}
