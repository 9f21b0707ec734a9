#include <memory>
#include <vector>

#include "base_script/script_func.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "morvane/tracer.h"
#include "rlib_fixture.h"

using namespace vantrel;

namespace {

class tracer_test : public vantrel_test::rlib_test {};

float unit_x[4] = {1, 0, 0, 1};

// t: translation by (1, 0, 0); i: inverted translation by (1, 2, 0); r: 90
// degrees about z; c: the same about (1, 0, 0); m: that as a matrix tracer.
std::unique_ptr<tracer_t> make_tracer(char kind)
{
    if (kind == 't' || kind == 'i') {
        auto t = std::make_unique<tr_trans_t>();
        set_v(t->trans_v, 1, kind == 'i' ? 2 : 0, 0, 1);
        t->invert = kind == 'i';
        return t;
    }
    if (kind == 'm') {
        auto t = std::make_unique<tr_matrix_t>();
        make_rotatez_m(t->trans_m, 90);
        t->center_v = unit_x;
        return t;
    }
    auto t = std::make_unique<tr_rot_t>();
    t->rot_z = 90;
    t->center_v = kind == 'c' ? unit_x : nullptr;
    return t;
}

TEST_F(tracer_test, stack_applies_tracers_in_order_and_script_functions_create_them)
{
    const struct {
        const char* kinds;
        float x, y;  // the translation of the built matrix
    } cases[] = {{"tr", 0, 1}, {"rt", 1, 0}, {"i", -1, -2}, {"c", 1, -1}, {"m", 1, -1}};
    for (const auto& c : cases) {
        traced_m_t view;
        std::vector<std::unique_ptr<tracer_t>> tracers;
        for (const char* k = c.kinds; *k; ++k) {
            tracers.push_back(make_tracer(*k));
            EXPECT_EQ(view.stack.push(tracers.back().get()), 0);
        }
        view.build();
        EXPECT_NEAR(view.matrix[12], c.x, 1e-5f) << c.kinds;
        EXPECT_NEAR(view.matrix[13], c.y, 1e-5f) << c.kinds;
        view.stack.pop();
        view.stack.pop();
        view.build();
        EXPECT_EQ(view.matrix[12], 0.0f) << c.kinds;
    }
    // The script functions create tracers or fail cleanly (pushing onto a
    // stack goes through the start-up script of the module tests).
    r_struct scope(false);
    ASSERT_EQ(transform_basic_add_funcs(scope), 0);
    ASSERT_EQ(tracer_add_funcs(scope), 0);
    r_var holder("t", r_struct_p);
    const std::string kinds[][2] = {
        {"create_tr_translate", "trans_v"}, {"create_tr_rotate", "rot_z"}, {"create_tr_ext_matrix", "trans_m"}};
    for (const auto& kind : kinds) {
        auto* f = static_cast<script_func*>(scope.get_var(kind[0].c_str()));
        f->nargs = 1;
        f->args[0] = (intptr_t)&holder;
        mc_fail_after(0);
        EXPECT_EQ((int)f->call(), -1);
        mc_fail_after(-1);
        EXPECT_TRUE(log_has(kind[0] + "(): unable to create object"));
        ASSERT_EQ((int)f->call(), 0);
        auto* t = static_cast<tracer_t*>(static_cast<script_var*>(holder.rsp_value()));
        EXPECT_NE(t->get_var(kind[1].c_str()), nullptr) << kind[0];
        delete t;
    }
    scope.empty();
}

TEST_F(tracer_test, follow_camera_trails_and_looks_at_its_object)
{
    ASSERT_EQ(load_rlib(vantrel_test::rlib_path("rlib_record").c_str(), &r_imports, &info), 0);
    rlib_record_t* r = record_of(info.handle);
    float object[16], cam_pos[4] = {0, 0, 0, 1}, m[16];
    make_translate_m(object, 2, 0, 0);
    cam_follow_t follow;
    follow.follow_m = object;
    follow.cam_pos_v = cam_pos;
    follow.dist = 3;
    follow.ref_dist = 1;

    // Position: the first call takes the object's place; then the camera
    // trails the object's movement.
    follow.mode.set_params(CF_POSITION, CF_NONE);
    makeIdentityMatrix(m);
    follow.modify_matrix(m);
    set_v(cam_pos, 0, 0, 0, 1);
    object[12] += 2;
    makeIdentityMatrix(m);
    follow.modify_matrix(m);
    EXPECT_FLOAT_EQ(cam_pos[0], 2.0f);
    EXPECT_FLOAT_EQ(m[12], -2.0f);
    EXPECT_EQ(r->count, 0);

    // Orientation: from dist behind the object along its z axis, at the point
    // ref_dist ahead, with its y axis up; the object's translation counts once.
    follow.mode.set_params(CF_NONE, CF_ORIENTATION);
    float eye[4] = {0, 0, 0, 1};
    follow.eye_v = eye;
    follow.modify_matrix(m);
    EXPECT_NEAR(eye[0], 4.0f, 1e-5f);  // where the camera's leaf is looked up
    EXPECT_NEAR(eye[2], 3.0f, 1e-5f);
    ASSERT_EQ(ops(r), "lookat_v");
    const float expected[12] = {4, 0, 3, 1, 4, 0, 1, 1, 0, 1, 0, 0};
    for (int i = 0; i < 12; ++i)
        EXPECT_NEAR(r->calls[0].floats[i], expected[i], 1e-5f) << i;
    EXPECT_NEAR(m[12], -4.0f, 1e-5f);
    EXPECT_NEAR(m[14], -3.0f, 1e-5f);

    follow.mode.set_params(CF_ORIENTATION, CF_NONE);
    follow.modify_matrix(m);
    EXPECT_TRUE(log_has("position cannot follow orientation"));
}

}  // namespace
