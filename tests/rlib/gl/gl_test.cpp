// The OpenGL render library, headless: scenes drawn through the 41
// operations, and a shipped level drawn by a camera, come back as PNG frames,
// read here with libpng and compared with reference pictures.
#include <SDL2/SDL.h>
#include <png.h>
#include <stdlib.h>

#include <array>
#include <string>
#include <vector>

#include "base_script/script_var.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "morvane/camera.h"
#include "morvane/light.h"
#include "primitives/material.h"
#include "primitives/n_poly.h"
#include "tests/morvane/rlib_fixture.h"
#include "tools/demo_scene.h"

using namespace vantrel;

namespace {

enum { W = 64, H = 48, GL_NEAREST_ = 0x2600, GL_SRC_ALPHA_ = 0x302, GL_ONE_MINUS_SRC_ALPHA_ = 0x303 };
typedef std::array<int, 3> rgb_t;

struct frame_t {
    std::vector<unsigned char> px;  // RGBA, top row first
    rgb_t at(int x, int y) const
    {
        const unsigned char* p = &px[((size_t)y * W + x) * 4];
        return {p[0], p[1], p[2]};
    }
    int count(const rgb_t& c) const
    {
        int n = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                n += at(x, y) == c;
        return n;
    }
};

bool read_png(const std::string& path, frame_t* f, unsigned w = W, unsigned h = H)
{
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str()))
        return false;
    img.format = PNG_FORMAT_RGBA;
    f->px.resize(PNG_IMAGE_SIZE(img));
    bool ok = img.width == w && img.height == h && png_image_finish_read(&img, nullptr, f->px.data(), 0, nullptr);
    png_image_free(&img);
    return ok;
}

// Pixels more than 8 off in a channel from the reference picture; another
// rasteriser may place a few edge pixels differently.
int pixels_off(const frame_t& f, const char* reference)
{
    frame_t ref;
    EXPECT_TRUE(read_png(vantrel_test::source_dir() + "/tests/rlib/gl/data/" + reference, &ref));
    int off = 0;
    for (size_t i = 0; i < f.px.size() && i < ref.px.size(); i += 4)
        for (size_t c = 0; c < 3; ++c)
            if (std::abs((int)f.px[i + c] - (int)ref.px[i + c]) > 8) {
                ++off;
                break;
            }
    return ref.px.empty() ? W * H : off;
}

// An axis-aligned quad at depth z facing +z, texture (0, 0) at its bottom left.
void make_quad(n_poly* p, float x0, float y0, float x1, float y1, float z)
{
    ASSERT_EQ(p->_alloc_verts(4), 0);
    const float xy[4][2] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}, uv[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int i = 0; i < 4; ++i) {
        mrv_vertex& v = p->va[i];
        v.v[0] = xy[i][0], v.v[1] = xy[i][1], v.v[2] = z;
        v.n[0] = v.n[1] = 0, v.n[2] = 1;
        v.t[0] = uv[i][0], v.t[1] = uv[i][1];
    }
    p->normal[0] = p->normal[1] = 0, p->normal[2] = 1, p->normal[3] = 0;
}

class gl_test : public vantrel_test::rlib_test {
protected:
    r_imports_t& r = r_imports;
    r_struct scope{false};
    morvane_t mrv;
    color_shader_t red, green;
    tex_shader_t checker;
    n_poly left, right, middle, all;

    void SetUp() override
    {
        rlib_test::SetUp();
        ASSERT_EQ(load_rlib(vantrel_test::rlib_path("rlib_gl").c_str(), &r_imports, &info), 0);
        ASSERT_EQ(r.add_script_funcs(&scope), 0);
        scope.get_var("gl_headless")->set(0, 1);
        mrv.width = W;
        mrv.height = H;
        ASSERT_EQ(r.init(&mrv), 0);
        for (shader_t* s : {(shader_t*)&red, (shader_t*)&green, (shader_t*)&checker})
            ASSERT_EQ(r.set_shader_func(s), 0);
        set_v(red.color, 1, 0, 0, 1);
        set_v(green.color, 0, 1, 0, 0.5f);
        green.blend_src = GL_SRC_ALPHA_;
        green.blend_dst = GL_ONE_MINUS_SRC_ALPHA_;
        // 2 x 2 checker, 24-bit BGR rows top first: white blue / blue white.
        ASSERT_EQ(checker.texture.alloc_bits(2, 2, 0xFF0000, 0xFF00, 0xFF, 0), 0);
        const unsigned char texels[2][8] = {{255, 255, 255, 255, 0, 0}, {255, 0, 0, 255, 255, 255}};
        for (int y = 0; y < 2; ++y)
            memcpy(checker.texture.bits + y * checker.texture.row_size(), texels[y], 6);
        checker.tex_param = GL_NEAREST_;
        make_quad(&left, -2, -1.5f, -0.2f, 1.5f, 0);
        make_quad(&right, 0.2f, -1.5f, 2, 1.5f, 0);
        make_quad(&middle, -1, -0.5f, 1, 0.5f, 0.5f);
        make_quad(&all, -10, -10, 10, 10, 0);
    }
    void TearDown() override
    {
        r.release_texture(&checker.texture);
        r.release(&mrv);
        rlib_test::TearDown();
    }
    // A camera at (0, 0, 5) looking at the origin through viewport (x, y, w, h).
    void camera(int x, int y, int w, int h)
    {
        int token = -1;
        r.push_state(&token);
        r.set_viewport(x, y, w, h);
        r.set_perspective(60, 0, 1, 100);
        float view[16];
        const float eye[4] = {0, 0, 5, 1}, at[4] = {0, 0, 0, 1}, up[4] = {0, 1, 0, 0};
        r.lookat_v(view, eye, at, up);
        r.set_view_m(view);
        tokens.push_back(token);
    }
    void draw(shader_t* s, n_poly* p)
    {
        s->func(s);  // the renderer's set_material
        r.render_poly(p);
    }
    // Presents and reads the frame back; false (test skipped) without EGL.
    bool shoot(frame_t* f)
    {
        for (; !tokens.empty(); tokens.pop_back())
            r.pop_state(tokens.back());
        const int n = scope.get_var("gl_frame")->i_value();
        r.swap_buffers(&mrv);
        r.clear_buffers(0);
        if (scope.get_var("gl_frame")->i_value() == n)
            return false;
        char name[64];
        snprintf(name, sizeof name, "frames/frame_%05d.png", n);
        return read_png(path(name), f);
    }
    std::vector<int> tokens;
};

#define SHOOT(f) \
    if (!shoot(&f)) \
        GTEST_SKIP() << "no OpenGL context here (EGL could not be initialised)";

const rgb_t black{0, 0, 0}, red_c{255, 0, 0}, white{255, 255, 255}, blue{0, 0, 255};

TEST_F(gl_test, known_scene_matches_the_reference_frame)
{
    camera(0, 0, 0, 0);
    draw(&red, &left);
    draw(&checker, &right);
    r.depth_mask(0);
    draw(&green, &middle);
    r.depth_mask(1);
    float axes[16];
    makeIdentityMatrix(axes);
    r.render_axes(axes);
    const float from[4] = {-2.5f, -1.5f, 0, 1}, to[4] = {-2.5f, 1.5f, 0, 1};
    r.render_line(from, to);
    frame_t f;
    SHOOT(f);
    // Independent of the reference: background, colour, texture orientation
    // (v = 0 is the image's bottom row) and blending.
    const struct { int x, y; rgb_t c; } expected[] = {
        {1, 1, black}, {20, 14, red_c}, {38, 16, white}, {45, 16, blue}, {38, 32, blue}, {45, 32, white}};
    for (const auto& e : expected)
        EXPECT_EQ(f.at(e.x, e.y), e.c) << e.x << "," << e.y;
    const rgb_t half = f.at(26, 24);  // green at half over red
    EXPECT_TRUE(std::abs(half[0] - 128) <= 2 && std::abs(half[1] - 128) <= 2 && half[2] == 0);
    for (const rgb_t& c : {rgb_t{0, 255, 0}, rgb_t{255, 255, 0}})  // the y axis, the line
        EXPECT_GT(f.count(c), 5);
    EXPECT_LE(pixels_off(f, "scene.png"), W * H / 100);
}

TEST_F(gl_test, level_frame_matches_the_reference_picture)
{
    level_t level;
    vantrel_demo::level_skin skin;
    ASSERT_EQ(vantrel_demo::load_level(&level, vantrel_test::source_dir() + "/data/levels/two_rooms.txt"), 0);
    ASSERT_EQ(vantrel_demo::dress_level(&level, &skin), 0);
    for (shader_t* s : skin.shaders)
        ASSERT_EQ(r.set_shader_func(s), 0);
    light_t sun;
    set_v(sun.pos, 0.4f, 1, 0.3f, 0);
    level.lights.insert(static_cast<r_var*>(&sun));
    cam3d_t cam;
    cam.world = &level;
    cam.fov = 70, cam.aspect = (float)W / H, cam.clip_near = 0.1f, cam.clip_far = 100;
    cam.viewport.width = W, cam.viewport.height = H;
    cam.rmode_count = 1;
    cam.rmodes[0].b_lighting = 1;
    set_v(cam.rmodes[0].ambient_c, 0.6f, 0.6f, 0.6f, 1);
    r.set_rmode_aset(&cam.rmodes[0]);
    cam.wpos.invert = 1;
    cam.view_m.stack.push(&cam.wpos);
    cam.view_m.stack.push(&cam.orient);
    // In room A's corner, looking through the doorway into room B.
    set_v(cam.wpos.trans_v, 1, 1.6f, 1.5f, 1);
    vantrel_demo::view_rotation(cam.orient.trans_m, -110);
    int token = 0;
    r.push_state(&token);
    tokens.push_back(token);
    cam.setup_frame();
    cam.render_frame();
    frame_t f;
    const bool drawn = shoot(&f);
    level.lights.delete_nodes();
    level.skin = nullptr;
    if (!drawn)
        GTEST_SKIP() << "no OpenGL context here (EGL could not be initialised)";
    // Independent of the reference: the floor (sand and brown) fills the
    // bottom row, the pale slate ceiling the top row, and room B shows
    // through the doorway.
    for (int x = 0; x < W; x += 8) {
        EXPECT_GE(f.at(x, H - 1)[0], f.at(x, H - 1)[2]) << x;
        EXPECT_GE(f.at(x, 0)[2], f.at(x, 0)[0]) << x;
    }
    EXPECT_GT(cam._state.leaves_drawn, 1);
    EXPECT_LE(pixels_off(f, "two_rooms.png"), W * H / 100);
}

TEST_F(gl_test, each_camera_draws_only_inside_its_viewport_and_wire_mode_only_outlines)
{
    camera(0, 0, W / 2, H);
    draw(&red, &all);
    r.pop_state(tokens.back());
    tokens.pop_back();
    camera(W / 2, 0, W / 2, H / 2);  // y counts from the top
    draw(&checker, &all);
    frame_t f;
    SHOOT(f);
    EXPECT_EQ(f.count(red_c), W / 2 * H);
    EXPECT_EQ(f.at(W - 1, H - 1), black);
    EXPECT_NE(f.at(W - 1, 0), black);
    EXPECT_EQ(f.count(black), W / 2 * H / 2);

    // Wire mode draws only the outline.
    rmode_t wire;
    wire.make_visible();
    wire.get_var("polymode")->set(0, "wire");
    ASSERT_EQ(r.set_rmode_aset(&wire), 0);
    frame_t fill, outline;
    camera(0, 0, 0, 0);
    draw(&red, &left);
    SHOOT(fill);
    wire.exec();
    camera(0, 0, 0, 0);
    draw(&red, &left);
    SHOOT(outline);
    EXPECT_EQ(fill.at(20, 24), red_c);
    EXPECT_EQ(outline.at(20, 24), black);
    EXPECT_GT(outline.count(red_c), 20);
    EXPECT_LT(outline.count(red_c) * 4, fill.count(red_c));
}

TEST_F(gl_test, texture_that_cannot_be_uploaded_draws_untextured_and_is_retried)
{
    texture_t empty;
    EXPECT_EQ(r.cache_texture(nullptr), -1);
    EXPECT_EQ(r.cache_texture(&empty), -1);
    EXPECT_EQ(r.cache_texture(&checker.texture), 0);  // uploaded once there is a context
    frame_t f;
    for (bool fail : {true, false}) {
        camera(0, 0, 0, 0);
        if (fail)
            mc_fail_after(0);
        draw(&checker, &right);
        mc_fail_after(-1);
        SHOOT(f);
        EXPECT_EQ(f.at(38, 16), white);
        EXPECT_EQ(f.at(45, 16), fail ? white : blue);
    }
}

// The stacks keep what the renderer gives them: M multiplies in front of the
// current matrix (row vectors), pops restore, push_state saves them all.
TEST_F(gl_test, matrix_stacks_follow_the_renderer)
{
    float t[16], s2[16], got[16], saved[16], expect[16];
    make_translate_m(t, 3, 0, 0);
    makeIdentityMatrix(s2);
    s2[0] = s2[5] = s2[10] = 2;
    int token = -1;
    r.set_model_m(t);
    r.push_state(&token);
    r.push_model_m(saved);
    r.mult_model_m(s2);
    r.get_model_m(got);
    multmatrix_mr(expect, t, s2);
    EXPECT_EQ(memcmp(got, expect, sizeof got), 0);
    EXPECT_FLOAT_EQ(got[12], 3);  // scaled first, then moved
    r.pop_model_m(saved);
    r.get_model_m(got);
    EXPECT_EQ(memcmp(got, t, sizeof got), 0);
    r.set_model_m(s2);
    r.pop_state(token);
    r.get_model_m(got);
    EXPECT_EQ(memcmp(got, t, sizeof got), 0);
    // The eye lands on the origin, the target straight ahead on -z.
    float view[16], target[4] = {1, 2, -3, 1}, want[4] = {0, 0, -6, 1};
    r.lookat(view, 1, 2, 3, 1, 2, -3, 0, 1, 0);
    multmatrix_v(target, view);
    EXPECT_TRUE(are_equal4(target, want, 1e-5f));
    r.pop_state(token);
    EXPECT_TRUE(log_has("pop_state with token 0 at depth 0"));
}

// The windowed back end on SDL's offscreen video driver: key events of the
// window reach the platform key table, closing it raises "gl_quit".
TEST_F(gl_test, window_feeds_keys_to_the_key_table)
{
    r.release(&mrv);
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    ASSERT_EQ(r.add_script_funcs(&scope), 0);
    scope.get_var("gl_headless")->set(0, 0);
    ASSERT_EQ(r.init(&mrv), 0);
    r.clear_buffers(0);
    unsetenv("SDL_VIDEODRIVER");
    if (!SDL_WasInit(SDL_INIT_VIDEO))
        GTEST_SKIP() << "no SDL video here";
    const std::pair<SDL_Keycode, int> keys[] = {{SDLK_a, 'A'}, {SDLK_LEFT, 0x25}, {SDLK_F2, 0x71}};  // SDL, table
    for (const auto& k : keys)
        for (Uint32 type : {SDL_KEYDOWN, SDL_KEYUP}) {
            SDL_Event e{type};
            e.key.keysym.sym = k.first;
            ASSERT_EQ(SDL_PushEvent(&e), 1);
            r.swap_buffers(&mrv);
            EXPECT_EQ(platform_key_state(k.second) != 0, type == SDL_KEYDOWN) << k.second;
        }
    EXPECT_EQ(scope.get_var("gl_quit")->i_value(), 0);
    SDL_Event quit{SDL_QUIT};
    SDL_PushEvent(&quit);
    r.swap_buffers(&mrv);
    EXPECT_EQ(scope.get_var("gl_quit")->i_value(), 1);
    EXPECT_EQ(scope.get_var("gl_frame")->i_value(), 7);
}

typedef vantrel_test::module_test gl_module_test;

// The renderer module with the library named in "bin/rlib.link": the
// start-up script's settings are in force when the first frame is drawn.
TEST_F(gl_module_test, start_up_script_chooses_output_folder_and_frame_size)
{
    link("rlib_gl");
    startup("gl_headless = 1\ngl_frames_dir = \"shots\"\nmorvane.width = 32\nmorvane.height = 24\n"
            "gl_clear_c[2] = 1.0\nmake_cams_array(morvane, 1)\ncreate_cam3d(morvane, 0)\n");
    ASSERT_EQ(mrv.init(), 0);
    mrv.cams[0]->enable();
    EXPECT_EQ(mrv.execute(), 0);
    EXPECT_EQ(mrv.execute(), 0);
    const bool drawn = scope.get_var("gl_frame")->i_value() == 2;
    frame_t f;
    EXPECT_TRUE(!drawn || (read_png(path("shots/frame_00001.png"), &f, 32, 24) && f.px[2] == 255));
    mrv.cleanup();
    EXPECT_EQ(scope.get_var("gl_frame"), nullptr);
    if (!drawn)
        GTEST_SKIP() << "no OpenGL context here (EGL could not be initialised)";
}

}  // namespace
