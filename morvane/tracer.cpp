#include "morvane/tracer.h"

#include <cstring>
#include <initializer_list>

#include "base_script/script_func.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "morvane/morvane_local.h"
#include "morvane/rlib.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

// m = t times m, with "times" as in multmatrix_mr(result, a, b).
void premultiply(float* m, const float* t)
{
    multmatrix_mr(m, t, m);
}

// The same about a centre: the centre is taken out of m's translation first
// and put back after.
void premultiply_about(float* m, const float* t, const float* center)
{
    if (center)
        for (int i = 0; i < 3; ++i)
            m[12 + i] -= center[i];
    premultiply(m, t);
    if (center)
        for (int i = 0; i < 3; ++i)
            m[12 + i] += center[i];
}

}  // namespace

// ---- stack and traced matrix --------------------------------------------------

tracer_stack_t::tracer_stack_t() : tracers(0)
{
    stride = (int)sizeof(tracer_stack_t);
}

int tracer_stack_t::push(tracer_t* t)
{
    CHECK_PTR(t, -1);
    return tracers.insert(static_cast<void*>(t));
}

void tracer_stack_t::pop()
{
    if (tracers.last)
        tracers.remove(tracers.last);
}

void tracer_stack_t::process(float* m)
{
    if (!m) {
        ELOG(EL_MINDEBUG, "process(): invalid parameters");
        return;
    }
    for (d_node* n = tracers.first; n; n = n->next)
        static_cast<tracer_t*>(n->data)->modify_matrix(m);
}

traced_m_t::traced_m_t() : stack_s(&stack)
{
    makeIdentityMatrix(matrix);
    make_visible();
}

void traced_m_t::build()
{
    makeIdentityMatrix(matrix);
    stack.process(matrix);
}

void traced_m_t::make_visible()
{
    stride = (int)sizeof(traced_m_t);
    publish(this, stack_v, "tracers", &stack_s, r_struct_p, 1);
}

// ---- tracers --------------------------------------------------------------------

tr_trans_t::tr_trans_t() : invert(0), trans_v{0, 0, 0, 1}
{
    make_visible();
}

void tr_trans_t::make_visible()
{
    stride = (int)sizeof(tr_trans_t);
    publish(this, vars[0], "invert", &invert, r_int, 1);
    publish(this, vars[1], "trans_v", trans_v, r_float, 4);
}

void tr_trans_t::modify_matrix(float* _m)
{
    CHECK_PTR_V(_m);
    float t[4];
    copy_v(t, trans_v);
    if (invert)
        invert_vr(t, trans_v);
    float tm[16];
    make_translate_m(tm, t[0], t[1], t[2]);
    premultiply(_m, tm);
}

tr_rot_t::tr_rot_t() : center_v(nullptr), rot_x(0), rot_y(0), rot_z(0)
{
    make_visible();
}

void tr_rot_t::make_visible()
{
    stride = (int)sizeof(tr_rot_t);
    publish(this, vars[0], "center_v", &center_v, r_float_p, 1);
    publish(this, vars[1], "rot_x", &rot_x, r_float, 1);
    publish(this, vars[2], "rot_y", &rot_y, r_float, 1);
    publish(this, vars[3], "rot_z", &rot_z, r_float, 1);
}

void tr_rot_t::modify_matrix(float* _m)
{
    CHECK_PTR_V(_m);
    float r[16];
    make_rotate_m(r, rot_x, rot_y, rot_z);
    premultiply_about(_m, r, center_v);
}

tr_matrix_t::tr_matrix_t() : center_v(nullptr), trans_m()
{
    make_visible();
}

void tr_matrix_t::make_visible()
{
    stride = (int)sizeof(tr_matrix_t);
    publish(this, vars[0], "center_v", &center_v, r_float_p, 1);
    publish(this, vars[1], "trans_m", trans_m, r_float, 16);
}

void tr_matrix_t::modify_matrix(float* _m)
{
    CHECK_PTR_V(_m);
    premultiply_about(_m, trans_m, center_v);
}

cam_follow_t::cam_follow_t()
    : _prev_m(), follow_m(nullptr), cam_pos_v(nullptr), dist(0), ref_dist(0), ang_yz(0), ang_xz(0)
{
    make_visible();
}

void cam_follow_t::make_visible()
{
    stride = (int)sizeof(cam_follow_t);
    publish(this, vars[0], "_prev_m", _prev_m, r_float, 16);
    publish(this, vars[1], "follow_m", &follow_m, r_float_p, 1);
    publish(this, vars[2], "cam_pos_v", &cam_pos_v, r_float_p, 1);
    publish(this, vars[3], "dist", &dist, r_float, 1);
    publish(this, vars[4], "ref_dist", &ref_dist, r_float, 1);
    publish(this, vars[5], "ang_yz", &ang_yz, r_float, 1);
    publish(this, vars[6], "ang_xz", &ang_xz, r_float, 1);
}

void cam_follow_t::modify_matrix(float* _m)
{
    CHECK_PTR_V(_m);
    CHECK_PTR_NAMED(follow_m, "follow_m.fp", );
    if (mode.orientation == CF_ORIENTATION) {
        float target[4], eye[4] = {0, 0, 1, 1}, up[4], rot[16];
        for (int i = 0; i < 3; ++i)
            target[i] = follow_m[12 + i] + ref_dist * follow_m[8 + i];
        target[3] = 1;
        make_rotate_m(rot, ang_yz, ang_xz, 0);
        multmatrix_v(eye, rot);
        for (int i = 0; i < 3; ++i)
            eye[i] *= dist;
        // With w = 1 the object's matrix already carries the eye along with
        // the object's translation: it is added once, here.
        eye[3] = 1;
        multmatrix_v(eye, follow_m);
        copy_v(up, follow_m + 4);
        if (r_imports.lookat_v)
            r_imports.lookat_v(_m, eye, target, up);
        if (eye_v)
            copy_v3(eye_v, eye);
    }
    if (mode.position == CF_POSITION && cam_pos_v) {
        float delta[3], back[16];
        for (int i = 0; i < 3; ++i) {
            delta[i] = follow_m[12 + i] - _prev_m[12 + i];
            cam_pos_v[i] += delta[i];
        }
        make_translate_m(back, -delta[0], -delta[1], -delta[2]);
        multmatrix_m(_m, back);
    } else if (mode.position == CF_ORIENTATION) {
        ELOG(EL_MINDEBUG, "position cannot follow orientation");
    }
    memcpy(_prev_m, follow_m, sizeof _prev_m);
}

// ---- script functions -----------------------------------------------------------

namespace {

// Makes a T, publishes it and stores its structure into _var.
template <class T>
int create_tracer(r_var* _var, const char* fname)
{
    if (!_var) {
        ELOG(EL_MAJOR, "%s(): invalid parameters", fname);
        return -1;
    }
    T* t = KD_NEW T;
    if (!t) {
        ELOG(EL_MAJOR, "%s(): unable to create object", fname);
        return -1;
    }
    if (_var->set(0, static_cast<r_struct*>(t)) != 0) {
        ELOG(EL_MAJOR, "%s(): invalid parameters", fname);
        delete t;
        return -1;
    }
    return 0;
}

int create_tr_translate(r_var* _var)
{
    return create_tracer<tr_trans_t>(_var, "create_tr_translate");
}
int create_tr_rotate(r_var* _var)
{
    return create_tracer<tr_rot_t>(_var, "create_tr_rotate");
}
int create_tr_ext_matrix(r_var* _var)
{
    return create_tracer<tr_matrix_t>(_var, "create_tr_ext_matrix");
}

// Structures handed to scripts are always script objects' own structures.
template <class T>
T* object_of(r_struct* s)
{
    return static_cast<T*>(static_cast<script_var*>(s));
}

int tracer_stack_push(r_struct* _stack, r_struct* _tracer)
{
    if (!_stack || !_tracer) {
        ELOG(EL_MAJOR, "tracer_stack_push(): invalid parameters");
        return -1;
    }
    return object_of<tracer_stack_t>(_stack)->push(object_of<tracer_t>(_tracer));
}

script_func create_tr_translate_f("create_tr_translate", create_tr_translate, "i=V");
script_func create_tr_rotate_f("create_tr_rotate", create_tr_rotate, "i=V");
script_func create_tr_ext_matrix_f("create_tr_ext_matrix", create_tr_ext_matrix, "i=V");
script_func tracer_stack_push_f("tracer_stack_push", tracer_stack_push, "i=SS");

int add_all(r_struct& rs, std::initializer_list<script_func*> funcs)
{
    for (script_func* f : funcs)
        if (rs.add(f) != 0)
            return -1;
    return 0;
}

}  // namespace

int transform_basic_add_funcs(r_struct& rs)
{
    return add_all(rs, {&create_tr_translate_f, &create_tr_rotate_f, &create_tr_ext_matrix_f});
}

int tracer_add_funcs(r_struct& rs)
{
    return add_all(rs, {&tracer_stack_push_f});
}

}  // namespace vantrel
