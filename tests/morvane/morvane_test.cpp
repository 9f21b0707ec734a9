#include "morvane/light.h"
#include "morvane/morvane.h"
#include "world/level.h"
#include "rlib_fixture.h"

using namespace vantrel;

namespace {

class morvane_test : public vantrel_test::module_test {
protected:
    int cfg_run(const std::string& lines) { return script.process(config("t.ds", lines).c_str()); }
    rlib_record_t* record() { return record_of(mrv.rlib.handle); }
    cam3d_t* cam(int i) { return dynamic_cast<cam3d_t*>(mrv.cams[i]); }
};

TEST_F(morvane_test, init_refuses_missing_link_file_and_libraries)
{
    startup("make_cams_array(morvane, 3)\n");
    EXPECT_EQ(mrv.init(), -1);
    EXPECT_TRUE(log_has("Unable to open bin/rlib.link"));
    EXPECT_EQ(mrv.cams, nullptr);  // the start-up script never ran

    // A path without '/' is taken relative to the current directory.
    const std::string cases[][2] = {{vantrel_test::rlib_path("rlib_null_missing"), "Unable to load function lookat_v"},
                                    {"none.so", "Unable to load library ./none.so"}};
    for (const auto& c : cases) {
        mrv.cleanup();
        scope.empty();
        write_file("bin/rlib.link", c[0]);
        EXPECT_EQ(mrv.init(), -1) << c[0];
        EXPECT_TRUE(log_has(c[1])) << c[1];
        EXPECT_EQ(mrv.cams, nullptr);
    }
}

TEST_F(morvane_test, startup_script_configures_cameras_and_tracers_and_a_frame_presents_once)
{
    write_file("bin/rlib.link", vantrel_test::rlib_path("rlib_record") + "\r\n");
    startup("make_cams_array(morvane, 2)\n"
            "create_cam3d(morvane, 0)\n"
            "dc_add cam 0 r_struct_p\n"
            "get_camera(morvane, 0, &cam)\n"
            "cam->fov = 1.2\n"
            "cam->viewp->width = 640\n"
            "add_rmode(cam)\n"
            "add_rmode(cam)\n"
            "dc_add mode 0 r_struct_p\n"
            "get_rmode(cam, 1, &mode)\n"
            "mode->polymode = \"wire\"\n"
            "cam->wpos->trans_v[0] = 5.0\n"
            "cam->wpos->invert = 1\n"
            "tracer_stack_push(cam->view_m->tracers, cam->wpos)\n"
            "dc_add tr 0 r_struct_p\n"
            "create_tr_translate(%tr)\n"
            "tr->trans_v[1] = 2.0\n"
            "tracer_stack_push(cam->view_m->tracers, tr)\n"
            "dc_add lamp 0 r_struct_p\n"
            "create_light(morvane, %lamp)\n");
    ASSERT_EQ(mrv.init(), 0);
    ASSERT_EQ(mrv.cam_count, 2);
    cam3d_t* c = cam(0);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(mrv.cams[1], nullptr);
    EXPECT_FLOAT_EQ(c->fov, 1.2f);
    EXPECT_EQ(c->rmode_count, 2);
    EXPECT_STREQ(c->rmodes[1].polymode(), "wire");

    rlib_record_t* r = record();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(ops(r), "add_script_funcs init set_rmode_aset set_rmode_aset");
    EXPECT_EQ(r->calls[0].ptr, &scope);
    EXPECT_EQ(r->calls[3].ptr, &c->rmodes[1]);

    // The slot 1 camera is missing: the pass ends before presenting.
    activate_element(c);
    c->viewport.x = 11;
    r->count = 0;
    EXPECT_EQ(mrv.execute(), -1);
    EXPECT_TRUE(log_has("invalid pointer: cams[1]=0"));
    EXPECT_TRUE(log_has("invalid pointer: world=0"));
    EXPECT_EQ(ops(r), "push_state set_viewport set_perspective set_view_m pop_state");
    // The view matrix: the inverted world position, then the script's translation.
    const float* view = r->calls[3].floats;
    EXPECT_FLOAT_EQ(view[12], -5.0f);
    EXPECT_FLOAT_EQ(view[13], 2.0f);
    EXPECT_FLOAT_EQ(r->calls[2].floats[0], 1.2f);
    EXPECT_EQ(r->calls[1].ints[0], 11);
    EXPECT_EQ(r->calls[1].ints[2], 640);
    // With both cameras, the second inactive, the frame is presented once.
    ASSERT_EQ(cfg_run("create_cam3d(morvane, 1)\n"), 0);
    r->count = 0;
    EXPECT_EQ(mrv.execute(), 0);
    EXPECT_EQ(ops(r, 5), "swap_buffers clear_buffers");
    EXPECT_EQ(r->calls[5].ptr, &mrv);

    r_struct* tr = scope.get_var("tr")->rsp_value();
    delete static_cast<tracer_t*>(static_cast<script_var*>(tr));

    // The module's lights join the level its cameras are pointed at, and leave it.
    auto* lamp = static_cast<light_t*>(static_cast<script_var*>(scope.get_var("lamp")->rsp_value()));
    level_t a, b;
    mrv.set_world(&a);
    mrv.set_world(&b);
    EXPECT_EQ(c->world, &b);
    EXPECT_EQ(a.lights.count, 0);
    ASSERT_EQ(b.lights.count, 1);
    EXPECT_EQ(b.lights.first->object, static_cast<r_var*>(lamp));
    // Cleanup hands the module to "release" and unloads the library.
    std::string path = mrv.rlib.path;
    mrv.cleanup();
    EXPECT_EQ(b.lights.count, 0);
    EXPECT_FALSE(platform_library_loaded(path.c_str()));
    EXPECT_EQ(mrv.cams, nullptr);
    EXPECT_EQ(r_imports.init, nullptr);
}

TEST_F(morvane_test, script_functions_refuse_slots_and_modes_beyond_their_limits_and_statistics_average)
{
    link("rlib_null");
    startup("make_cams_array(morvane, 1)\ncreate_cam3d(morvane, 0)\n");
    ASSERT_EQ(mrv.init(), 0);
    cam3d_t* first = cam(0);
    const struct { const char* statement; const char* message; } refused[] = {
        {"create_cam3d(morvane, 1)", "invalid pointer: mrv->cams[1]=0"},
        {"get_camera(morvane, -1, &c)", "invalid pointer: mrv->cams[-1]=0"},
        {"get_rmode(c, 32, &m)", "invalid pointer: _rmode=0"},
        {"make_cams_array(morvane, -1)", "make_cams_array(): invalid count -1"},
        {"add_rmode(c)", "invalid pointer: _rmode=0"},  // after 32 good ones
    };
    std::string adds;
    for (int i = 0; i < RMODE_MAX; ++i)
        adds += "add_rmode(c)\n";
    EXPECT_EQ(cfg_run("dc_add c 0 r_struct_p\ndc_add m 0 r_struct_p\nget_camera(morvane, 0, &c)\n" + adds), 0);
    EXPECT_EQ(first->rmode_count, RMODE_MAX);
    for (const auto& c : refused) {
        clear_log();
        EXPECT_NE(cfg_run(std::string(c.statement) + "\n"), 0) << c.statement;
        EXPECT_TRUE(log_has(c.message)) << c.statement;
    }
    EXPECT_EQ(mrv.cams[0], first);
    // A camera replaced by create_cam3d is deleted (the sanitizer build checks).
    EXPECT_EQ(cfg_run("create_cam3d(morvane, 0)\n"), 0);
    EXPECT_NE(mrv.cams[0], nullptr);
    // Statistics average over roll-overs.
    cam3d_t c;
    c.stats.counters[STAT_FRAMES] = 60;
    c.stats.counters[STAT_POLYS] = 7;
    c.start_stats(999);  // not a second yet
    EXPECT_EQ(c.stats.averages[STAT_FRAMES], 0);
    c.start_stats(1000);
    EXPECT_EQ(c.stats.averages[STAT_FRAMES], 30);
    EXPECT_EQ(c.stats.averages[STAT_POLYS], 3);
    EXPECT_EQ(c.stats.counters[STAT_FRAMES], 0);
    c.stats.counters[STAT_FRAMES] = 40;
    c.start_stats(1999);
    EXPECT_EQ(c.stats.averages[STAT_FRAMES], 30);
    c.start_stats(2000);
    EXPECT_EQ(c.stats.averages[STAT_FRAMES], 35);
}

}  // namespace
