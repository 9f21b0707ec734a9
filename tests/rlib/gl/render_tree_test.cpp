// A camera drawing a shipped level through the OpenGL render library,
// headless: the frame is compared with a reference picture.
#include <png.h>

#include <string>
#include <vector>

#include "base_script/script_var.h"
#include "morvane/camera.h"
#include "morvane/light.h"
#include "morvane/morvane.h"
#include "tests/morvane/rlib_fixture.h"
#include "tools/demo_scene.h"

using namespace vantrel;

namespace {

enum { W = 64, H = 48 };

bool read_rgb(const std::string& path, std::vector<unsigned char>* px)
{
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str()))
        return false;
    img.format = PNG_FORMAT_RGB;
    px->resize(PNG_IMAGE_SIZE(img));
    bool ok = img.width == W && img.height == H && png_image_finish_read(&img, nullptr, px->data(), 0, nullptr);
    png_image_free(&img);
    return ok;
}

typedef vantrel_test::rlib_test render_tree_gl_test;

TEST_F(render_tree_gl_test, level_frame_matches_the_reference_picture)
{
    ASSERT_EQ(load_rlib(vantrel_test::rlib_path("rlib_gl").c_str(), &r_imports, &info), 0);
    r_struct scope{false};
    morvane_t mrv;
    ASSERT_EQ(r_imports.add_script_funcs(&scope), 0);
    scope.get_var("gl_headless")->set(0, 1);
    mrv.width = W;
    mrv.height = H;
    ASSERT_EQ(r_imports.init(&mrv), 0);

    level_t level;
    vantrel_demo::level_skin skin;
    ASSERT_EQ(vantrel_demo::load_level(&level, vantrel_test::source_dir() + "/data/levels/two_rooms.txt"), 0);
    ASSERT_EQ(vantrel_demo::dress_level(&level, &skin), 0);
    for (shader_t* s : skin.shaders)
        ASSERT_EQ(r_imports.set_shader_func(s), 0);
    light_t sun;
    set_v(sun.pos, 0.4f, 1, 0.3f, 0);
    level.lights.insert(static_cast<r_var*>(&sun));

    cam3d_t cam;
    cam.world = &level;
    cam.fov = 70;
    cam.aspect = (float)W / H;
    cam.clip_near = 0.1f;
    cam.clip_far = 100;
    cam.viewport.width = W;
    cam.viewport.height = H;
    cam.rmode_count = 1;
    cam.rmodes[0].b_lighting = 1;
    set_v(cam.rmodes[0].ambient_c, 0.6f, 0.6f, 0.6f, 1);
    r_imports.set_rmode_aset(&cam.rmodes[0]);
    cam.wpos.invert = 1;
    cam.view_m.stack.push(&cam.wpos);
    cam.view_m.stack.push(&cam.orient);
    // In room A's corner, looking through the doorway into room B.
    set_v(cam.wpos.trans_v, 1, 1.6f, 1.5f, 1);
    vantrel_demo::view_rotation(cam.orient.trans_m, -110);

    int token = 0;
    r_imports.push_state(&token);
    cam.setup_frame();
    cam.render_frame();
    r_imports.pop_state(token);
    const int n = scope.get_var("gl_frame")->i_value();
    r_imports.swap_buffers(&mrv);
    r_imports.clear_buffers(0);
    const bool drawn = scope.get_var("gl_frame")->i_value() == n + 1;
    std::vector<unsigned char> f, ref;
    if (drawn) {
        ASSERT_TRUE(read_rgb(path("frames/frame_00000.png"), &f));
    }
    level.lights.delete_nodes();
    level.skin = nullptr;
    r_imports.release(&mrv);
    scope.empty();
    if (!drawn)
        GTEST_SKIP() << "no OpenGL context here (EGL could not be initialised)";

    // Independent of the reference: the floor (sand and brown) fills the
    // bottom row, the pale slate ceiling the top row, and room B's far wall
    // shows through the doorway, further than room A's walls.
    auto px = [&](int x, int y) { return &f[((size_t)y * W + x) * 3]; };
    for (int x = 0; x < W; x += 8) {
        EXPECT_GE(px(x, H - 1)[0], px(x, H - 1)[2]) << x;
        EXPECT_GE(px(x, 0)[2], px(x, 0)[0]) << x;
    }
    EXPECT_GT(cam._state.leaves_drawn, 1);
    ASSERT_TRUE(read_rgb(vantrel_test::source_dir() + "/tests/rlib/gl/data/two_rooms.png", &ref));
    int off = 0;
    for (size_t i = 0; i < f.size(); i += 3)
        for (size_t c = 0; c < 3; ++c)
            if (std::abs((int)f[i + c] - (int)ref[i + c]) > 8) {
                ++off;
                break;
            }
    EXPECT_LE(off, W * H / 100);
}

}  // namespace
