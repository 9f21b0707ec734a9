/// @file
/// The host of vantrel-demo and vantrel-view: a cycle engine with the renderer
/// module on the OpenGL render library, a shipped start-up script, and a level
/// dressed by demo_scene.h that the camera looks at. Header only.
/// @ingroup tools
#pragma once
/// @addtogroup tools
/// @{

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "base_script/dot_config.h"
#include "base_script/dot_script.h"
#include "base_script/script_sets.h"
#include "engine/cycle_engine.h"
#include "kdbase/errorlog.h"
#include "morvane/morvane.h"
#include "tools/demo_scene.h"

namespace vantrel_demo {

/// An absolute path for p (relative to the current directory).
inline std::string absolute(const std::string& p)
{
    std::error_code ec;
    std::filesystem::path a = std::filesystem::absolute(p, ec);
    return ec ? p : a.string();
}

/// Copies the file from into to (replaced). False when either cannot be
/// opened or a read or write fails.
inline bool copy_file(const std::string& from, const std::string& to)
{
    FILE* in = fopen(from.c_str(), "rb");
    if (!in)
        return false;
    FILE* out = fopen(to.c_str(), "wb");
    bool ok = out != nullptr;
    char buf[4096];
    size_t n;
    while (ok && (n = fread(buf, 1, sizeof buf, in)) > 0)
        ok = fwrite(buf, 1, n, out) == n;
    fclose(in);
    if (out)
        ok = fclose(out) == 0 && ok;
    return ok;
}

/// Everything a demo run needs, held by value: the script scope, the
/// start-up script and configuration plug-in, the cycle engine, the renderer,
/// the level with its skin and camera 0. start() sets it up; the destructor
/// takes it down in the right order.
class demo_host {
public:
    /// The shared scope the scripts and the render library publish into.
    vantrel::r_struct scope{false};
    /// The running script (the start-up script runs through it).
    vantrel::dot_script script;
    /// The configuration plug-in of script.
    vantrel::dot_config cfg;
    /// The cycle engine the renderer runs in.
    vantrel::cycle_engine engine;
    /// The renderer module.
    vantrel::morvane_t renderer;
    /// The level drawn.
    vantrel::level_t level;
    /// The level's materials.
    level_skin skin;
    /// Camera 0 of the start-up script, owned by the renderer; null until start succeeds.
    vantrel::cam3d_t* cam = nullptr;

    /// Works in folder dir (made when missing; the log, bin/ and the frames go
    /// there): links the render library rlib, copies the start-up script,
    /// loads and dresses the level and starts the renderer on it. False
    /// (with a line on stderr) on failure.
    bool start(const std::string& dir, const std::string& rlib, const std::string& startup_script,
               const std::string& level_path, int width, int height)
    {
        const std::string script_abs = absolute(startup_script), level_abs = absolute(level_path);
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(dir) / "bin", ec);
        if (!ec)
            std::filesystem::current_path(dir, ec);
        if (ec)
            return fail("cannot work in " + dir);
        set_logfile("vantrel-demo.log");
        FILE* link = fopen("bin/rlib.link", "wb");
        if (!link || fputs(rlib.c_str(), link) < 0 || fclose(link) != 0)
            return fail("cannot write bin/rlib.link");
        if (!copy_file(script_abs, "bin/morvane.ds"))
            return fail("cannot copy " + script_abs);
        if (load_level(&level, level_abs) != 0 || dress_level(&level, &skin) != 0)
            return fail("cannot load " + level_abs + " (see vantrel-demo.log)");
        script.add_plugin(&cfg);
        script.globals = &scope;
        vantrel::ce_set_script(vantrel::ce_shared, &script);
        vantrel::ce_set_globals(vantrel::ce_shared, &scope);
        if (vantrel::support_add_funcs(scope) != 0 || vantrel::tracer_add_funcs(scope) != 0 ||
            vantrel::transform_basic_add_funcs(scope) != 0 || engine.init() != 0 || engine.add_module(&renderer) < 0)
            return fail("cannot set up the engine");
        if (renderer.init() != 0)
            return fail("the renderer did not start (see vantrel-demo.log)");
        if (width > 0 && height > 0)
            renderer.width = width, renderer.height = height;
        for (vantrel::shader_t* s : skin.shaders)
            if (s)
                vantrel::r_imports.set_shader_func(s);
        renderer.set_world(&level);
        cam = renderer.cam_count > 0 ? dynamic_cast<vantrel::cam3d_t*>(renderer.cams[0]) : nullptr;
        if (!cam)
            return fail("the start-up script made no camera 0");
        if (width > 0 && height > 0) {
            cam->viewport.width = width, cam->viewport.height = height;
            cam->aspect = (float)width / (float)height;
        }
        // Clipping planes to the level's scale: levels come in any units.
        const float extent = level_extent(&level);
        cam->clip_near = extent / 1000;
        cam->clip_far = extent * 2;
        vantrel::activate_element(cam);
        return true;
    }
    /// Puts the camera at the pose and draws one frame.
    void frame(const pose_t& p)
    {
        vantrel::copy_v3(cam->wpos.trans_v, p.pos);
        view_rotation(cam->orient.trans_m, p.yaw);
        engine.execute();
    }
    /// A setting the render library published, or fallback.
    int setting(const char* name, int fallback)
    {
        vantrel::r_var* v = scope.get_var(name);
        return v ? v->i_value() : fallback;
    }
    /// The renderer lets go of the level's lights before the level goes.
    ~demo_host()
    {
        engine.remove_module(&renderer);
        renderer.cleanup();
        level.skin = nullptr;
        scope.empty();
    }

private:
    static bool fail(const std::string& why)
    {
        fprintf(stderr, "vantrel-demo: %s\n", why.c_str());
        return false;
    }
};

}  // namespace vantrel_demo
/// @}
