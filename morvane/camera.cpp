#include "morvane/camera.h"

#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "kdbase/va_func.h"
#include "morvane/morvane_local.h"
#include "morvane/rlib.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

viewport_t::viewport_t()
{
    make_visible();
}

void viewport_t::make_visible()
{
    empty();
    stride = (int)sizeof(viewport_t);
    publish(this, vars[0], "x", &x, r_int, 1);
    publish(this, vars[1], "y", &y, r_int, 1);
    publish(this, vars[2], "width", &width, r_int, 1);
    publish(this, vars[3], "height", &height, r_int, 1);
}

void rmode_t::make_visible()
{
    empty();
    stride = (int)sizeof(rmode_t);
    publish(this, vars[0], "minz", &minz, r_float, 1);
    publish(this, vars[1], "maxz", &maxz, r_float, 1);
    publish(this, vars[2], "b_topdown_bitmaps", &b_topdown_bitmaps, r_int, 1);
    publish(this, vars[3], "b_lighting", &b_lighting, r_int, 1);
    add(&polymode_v, "polymode", r_string, 1);
    add(&shademodel_v, "shademodel", r_string, 1);
    add(&tex_quality_v, "tex_quality", r_string, 1);
    publish(this, vars[4], "ambient_c", ambient_c, r_float, 4);
    add(&lighting_quality_v, "lighting_quality", r_string, 1);
}

void rmode_t::exec()
{
    for (d_node* n = funcs.first; n; n = n->next)
        static_cast<va_func*>(n->object)->call();
}

camera_t::camera_t() : viewport_s(&viewport) {}

void camera_t::make_visible()
{
    empty();
    stride = (int)sizeof(camera_t);
    publish(this, viewp_v, "viewp", &viewport_s, r_struct_p, 1);
}

cam3d_t::cam3d_t() : tracer_s{&lpos, &wpos, &orient, &follow, &view_m} {}

void cam3d_t::make_visible()
{
    camera_t::make_visible();
    stride = (int)sizeof(cam3d_t);
    publish(this, vars[0], "fov", &fov, r_float, 1);
    publish(this, vars[1], "aspect", &aspect, r_float, 1);
    publish(this, vars[2], "clip_near", &clip_near, r_float, 1);
    publish(this, vars[3], "clip_far", &clip_far, r_float, 1);
    static const char* const tracer_names[5] = {"lpos", "wpos", "orient", "follow", "view_m"};
    for (int i = 0; i < 5; ++i)
        publish(this, vars[4 + i], tracer_names[i], &tracer_s[i], r_struct_p, 1);
    publish(this, vars[9], "d_draw_leafbbox", &d_draw_leafbbox, r_int, 1);
    publish(this, vars[10], "d_draw_axes", &d_draw_axes, r_int, 1);
    publish(this, vars[11], "d_draw_normals", &d_draw_normals, r_int, 1);
}

int cam3d_t::start()
{
    for (int i = 0; i < rmode_count; ++i)
        if (r_imports.set_rmode_aset)
            r_imports.set_rmode_aset(&rmodes[i]);
    return 0;
}

void cam3d_t::setup_frame()
{
    _state.skin = nullptr;
    _state.deferred_count = 0;
    _state.cur_model = nullptr;
    _state.cur_mesh = nullptr;
    _state.cur_mat = -1;
    rmodes[0].exec();
    _state.cur_rmode = 0;
    CHECK_PTR_NAMED(r_imports.set_view_m, "r_imports.set_view_m", );
    r_imports.set_viewport(viewport.x, viewport.y, viewport.width, viewport.height);
    r_imports.set_perspective(fov, aspect, clip_near, clip_far);
    view_m.build();
    r_imports.set_view_m(view_m.matrix);
    CHECK_PTR_V(world);
}

void cam3d_t::render_frame()
{
    CHECK_PTR_V(world);
    ++stats.counters[STAT_FRAMES];
}

void cam3d_t::start_stats(unsigned int now)
{
    if (now - stats.last < 1000)
        return;
    for (int i = 0; i < STAT_COUNT; ++i) {
        stats.averages[i] = (stats.counters[i] + stats.averages[i]) / 2;
        stats.counters[i] = 0;
    }
    stats.last = now;
}

void cam3d_t::dump_stats(FILE* f, char* tabs)
{
    if (!f || !tabs)
        return;
    fprintf(f, "%s+++camera %s statistics:\n", tabs, s_token::name ? s_token::name : "");
    static const char* const labels[STAT_COUNT] = {"fps", "polys/sec", "meshes/sec",
                                                   "models/sec", "rmodes/sec", "mats/sec"};
    for (int i = 0; i < STAT_COUNT; ++i)
        fprintf(f, "%s%s: %d\n", tabs, labels[i], stats.averages[i]);
}

}  // namespace vantrel
