// Frames per second of a 640 x 480 scene of 1200 polygons (coloured and
// textured) drawn through the OpenGL render library headless (Mesa's
// software rasteriser), with and without writing the PNG frame, and through
// the recording library: the cost of the calls alone. Wall time (the
// rasteriser draws on threads of its own). "x_calls" is the frame
// time over the recording library's, measured in the same process.
//
// level/*: a camera flying along a shipped level's path, the whole frame of
// the render tree (leaf, visible set, materials) through rlib/gl headless
// and through the recording library (the engine's cost alone). Counters:
// polygons and leaf visits per frame, "polys_all/frame" when every open leaf
// is drawn instead of the visible set, "pvs_ratio" = polys / polys_all, and
// "engine_share" = the recording library's frame time over this one's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>

#include "kdbase/kdbase_math.h"
#include "kdbase/r_struct.h"
#include "morvane/morvane.h"
#include "morvane/rlib.h"
#include "primitives/material.h"
#include "primitives/n_poly.h"
#include "tools/demo_scene.h"

using namespace vantrel;

namespace {

enum { COLS = 40, ROWS = 30, W = 640, H = 480 };

struct scene_t {
    color_shader_t colour;
    tex_shader_t checker;
    n_poly quads[COLS * ROWS];

    scene_t()
    {
        set_v(colour.color, 0.8f, 0.3f, 0.2f, 1);
        checker.texture.alloc_bits(8, 8, 0xFF0000, 0xFF00, 0xFF, 0);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                if ((x + y) & 1)
                    checker.texture.bits[y * checker.texture.row_size() + x * 3] = 0xFF;
        for (int i = 0; i < COLS * ROWS; ++i) {
            n_poly& p = quads[i];
            p._alloc_verts(4);
            const float x0 = -4 + 8.f * (i % COLS) / COLS, y0 = -3 + 6.f * (i / COLS) / ROWS;
            const float xy[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
            for (int k = 0; k < 4; ++k) {
                mrv_vertex& v = p.va[k];
                v.v[0] = x0 + xy[k][0] * 8.f / COLS, v.v[1] = y0 + xy[k][1] * 6.f / ROWS, v.v[2] = 0;
                v.n[0] = v.n[1] = 0, v.n[2] = 1;
                v.t[0] = xy[k][0], v.t[1] = xy[k][1];
            }
            set_v(p.normal, 0, 0, 1, 0);
        }
    }
};

struct library_t {
    r_imports_t r{};
    rlib_info_t info{};
    r_struct scope{false};
    morvane_t mrv;

    explicit library_t(const char* name, bool png)
    {
        const std::string path = std::string(RLIB_DIR) + "/" + name + ".so";
        if (load_rlib(path.c_str(), &r, &info) != 0 || r.add_script_funcs(&scope) != 0)
            return;
        if (r_var* v = scope.get_var("gl_headless"))
            v->set(0, 1);
        if (r_var* v = scope.get_var("gl_frames_dir"))
            v->set(0, png ? "bench_frames" : "");
        mrv.width = W;
        mrv.height = H;
        r.init(&mrv);
    }
    ~library_t()
    {
        if (r.release)
            r.release(&mrv);
        free_rlib(&info, nullptr);
    }
    void frame(scene_t& s)
    {
        int token = 0;
        r.push_state(&token);
        r.set_viewport(0, 0, W, H);
        r.set_perspective(60, 0, 1, 100);
        float view[16];
        const float eye[4] = {0, 0, 5.5f, 1}, at[4] = {0, 0, 0, 1}, up[4] = {0, 1, 0, 0};
        r.lookat_v(view, eye, at, up);
        r.set_view_m(view);
        for (int i = 0; i < COLS * ROWS; ++i) {
            // A material change every row, as a level's runs of materials.
            if (i % COLS == 0) {
                shader_t* sh = (i / COLS) & 1 ? (shader_t*)&s.checker : (shader_t*)&s.colour;
                if (sh->func)
                    sh->func(sh);
            }
            r.render_poly(&s.quads[i]);
        }
        r.pop_state(token);
        r.swap_buffers(&mrv);
        r.clear_buffers(0);
    }
};

scene_t& scene()
{
    static scene_t s;
    return s;
}

// Seconds per frame through the recording library, measured once.
double calls_anchor()
{
    static double seconds = 0;
    if (seconds == 0) {
        library_t rec("rlib_record", false);
        const int frames = 200;
        auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < frames; ++i)
            rec.frame(scene());
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / frames;
    }
    return seconds;
}

void frames(benchmark::State& state, const char* name, bool png)
{
    const double anchor = calls_anchor();
    library_t lib(name, png);
    if (!lib.r.render_poly) {
        state.SkipWithError("render library not loaded");
        return;
    }
    for (shader_t* s : {(shader_t*)&scene().colour, (shader_t*)&scene().checker}) {
        s->func = nullptr;  // the recording library sets none
        lib.r.set_shader_func(s);
    }
    auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state)
        lib.frame(scene());
    const double per_frame =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / (double)state.iterations();
    state.SetItemsProcessed(state.iterations());
    state.counters["polys/frame"] = COLS * ROWS;
    state.counters["x_calls"] = per_frame / anchor;
}

// The shipped level with the most rooms that is present.
std::string level_file()
{
    for (const char* name : {"arena.txt", "dog_leg.txt"}) {
        std::string p = std::string(VANTREL_DATA_DIR) + "/levels/" + name;
        if (FILE* f = fopen(p.c_str(), "r")) {
            fclose(f);
            return p;
        }
    }
    return "";
}

enum { POSES = 48 };

// A camera on the level, drawing through the process-wide table r_imports.
struct level_run_t {
    rlib_info_t info{};
    r_struct scope{false};
    morvane_t mrv;
    level_t level;
    vantrel_demo::level_skin skin;
    vantrel_demo::camera_path path;
    cam3d_t cam;
    bool ok = false;

    explicit level_run_t(const char* name)
    {
        const std::string lib = std::string(RLIB_DIR) + "/" + name + ".so", file = level_file();
        if (file.empty() || load_rlib(lib.c_str(), &r_imports, &info) != 0 || r_imports.add_script_funcs(&scope) != 0)
            return;
        if (r_var* v = scope.get_var("gl_headless"))
            v->set(0, 1);
        if (r_var* v = scope.get_var("gl_frames_dir"))
            v->set(0, "");
        mrv.width = W;
        mrv.height = H;
        if (r_imports.init(&mrv) != 0 || vantrel_demo::load_level(&level, file) != 0 ||
            vantrel_demo::dress_level(&level, &skin) != 0)
            return;
        if (!path.load(file) && !path.spin_in(&level))
            return;
        for (shader_t* s : skin.shaders)
            r_imports.set_shader_func(s);
        cam.world = &level;
        cam.fov = 70;
        cam.aspect = (float)W / H;
        cam.clip_near = 0.1f;
        cam.clip_far = 200;
        cam.viewport.width = W;
        cam.viewport.height = H;
        cam.rmode_count = 1;
        cam.rmodes[0].b_lighting = 1;
        set_v(cam.rmodes[0].ambient_c, 0.6f, 0.6f, 0.6f, 1);
        r_imports.set_rmode_aset(&cam.rmodes[0]);
        cam.wpos.invert = 1;
        cam.view_m.stack.push(&cam.wpos);
        cam.view_m.stack.push(&cam.orient);
        ok = true;
    }
    ~level_run_t()
    {
        level.skin = nullptr;
        if (r_imports.release)
            r_imports.release(&mrv);
        free_rlib(&info, &r_imports);
    }
    void frame(int i)
    {
        const vantrel_demo::pose_t p = path.at((float)(i % POSES) / (POSES - 1));
        copy_v3(cam.wpos.trans_v, p.pos);
        vantrel_demo::view_rotation(cam.orient.trans_m, p.yaw);
        int token = 0;
        r_imports.push_state(&token);
        cam.setup_frame();
        cam.render_frame();
        r_imports.pop_state(token);
        r_imports.swap_buffers(&mrv);
        r_imports.clear_buffers(0);
    }
    // Polygons and leaf visits per frame over the whole path.
    void sweep(double* polys, double* leaves)
    {
        const int before = cam.stats.counters[STAT_POLYS];
        int visits = 0;
        for (int i = 0; i < POSES; ++i) {
            frame(i);
            visits += cam._state.leaves_drawn;
        }
        *polys = (double)(cam.stats.counters[STAT_POLYS] - before) / POSES;
        *leaves = (double)visits / POSES;
    }
};

// Seconds per level frame through the recording library, measured once.
double level_anchor()
{
    static double seconds = 0;
    if (seconds == 0) {
        level_run_t rec("rlib_record");
        if (!rec.ok)
            return 0;
        const int frames = 100 * POSES;
        for (int i = 0; i < POSES; ++i)  // warm: first-time costs are not the frame's
            rec.frame(i);
        auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < frames; ++i)
            rec.frame(i);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / frames;
    }
    return seconds;
}

void level(benchmark::State& state, const char* name)
{
    const double anchor = level_anchor();
    level_run_t run(name);
    if (!run.ok || anchor == 0) {
        state.SkipWithError("render library or level not loaded");
        return;
    }
    double polys = 0, leaves = 0, polys_all = 0, leaves_all = 0;
    run.cam.d_all_leaves = true;
    run.sweep(&polys_all, &leaves_all);
    run.cam.d_all_leaves = false;
    run.sweep(&polys, &leaves);
    int i = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state)
        run.frame(i++);
    const double per_frame =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / (double)state.iterations();
    state.SetItemsProcessed(state.iterations());
    state.counters["polys/frame"] = polys;
    state.counters["polys_all/frame"] = polys_all;
    state.counters["pvs_ratio"] = polys / polys_all;
    state.counters["leaves/frame"] = leaves;
    state.counters["nodes"] = run.level.stats.ni_nodes;
    if (strcmp(name, "rlib_record") != 0)
        state.counters["engine_share"] = anchor / per_frame;
}

BENCHMARK_CAPTURE(level, gl_headless, "rlib_gl")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(level, record, "rlib_record")->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_CAPTURE(frames, gl_headless, "rlib_gl", false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(frames, gl_headless_png, "rlib_gl", true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(frames, record, "rlib_record", false)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
