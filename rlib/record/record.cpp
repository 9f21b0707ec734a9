// The recording render library (see record.h). Keeps the four matrices as a
// real library would, so the model and view matrices at each call are the
// ones the renderer produced.
#include "rlib/record/record.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "kdbase/kdbase_math.h"
#include "morvane/rlib_exports.h"

using vantrel::rlib_call_t;
using vantrel::rlib_record_t;

namespace {

enum { PROJ, VIEW, MODEL, TEX, NMATRICES, MAX_STATES = 16 };

rlib_record_t record;
float matrices[NMATRICES][16];
float saved[MAX_STATES][16];  // the model matrix per push_state
int depth;
bool started;

void start()
{
    if (started)
        return;
    for (float* m : matrices)
        vantrel::makeIdentityMatrix(m);
    started = true;
}

// Appends a call: ints, then float arguments taken as (pointer, count) pairs.
rlib_call_t* rec(const char* op, const void* ptr, std::initializer_list<int> ints = {},
                 std::initializer_list<std::pair<const float*, int>> floats = {})
{
    start();
    if (record.count >= vantrel::RECORD_MAX_CALLS) {
        ++record.dropped;
        return nullptr;
    }
    rlib_call_t* c = &record.calls[record.count++];
    memset(c, 0, sizeof *c);
    c->op = op;
    c->ptr = ptr;
    int i = 0;
    for (int v : ints)
        if (i < 4)
            c->ints[i++] = v;
    for (const auto& f : floats)
        for (int k = 0; k < f.second && f.first && c->nfloats < vantrel::RECORD_MAX_FLOATS; ++k)
            c->floats[c->nfloats++] = f.first[k];
    memcpy(c->model, matrices[MODEL], sizeof c->model);
    memcpy(c->view, matrices[VIEW], sizeof c->view);
    return c;
}

// The call's matrices are those after it: record once the matrix is changed.
void after(rlib_call_t* c)
{
    if (!c)
        return;
    memcpy(c->model, matrices[MODEL], sizeof c->model);
    memcpy(c->view, matrices[VIEW], sizeof c->view);
}

void push_m(const char* op, int which, float* m)
{
    if (m)
        memcpy(m, matrices[which], sizeof matrices[which]);
    rec(op, m);
}
void pop_m(const char* op, int which, const float* m)
{
    rlib_call_t* c = rec(op, m, {}, {{m, 16}});
    if (m)
        memcpy(matrices[which], m, sizeof matrices[which]);
    after(c);
}
void set_m(const char* op, int which, const float* m)
{
    pop_m(op, which, m);
}
void get_m(const char* op, int which, float* m)
{
    push_m(op, which, m);
}
void mult_m(const char* op, int which, const float* m)
{
    rlib_call_t* c = rec(op, m, {}, {{m, 16}});
    if (m)
        vantrel::multmatrix_m(matrices[which], m);
    after(c);
}

}  // namespace

extern "C" VANTREL_EXPORT rlib_record_t* rlib_record_log()
{
    start();
    return &record;
}

int init(vantrel::morvane_t* mrv)
{
    start();
    depth = 0;
    rec("init", mrv);
    return 0;
}
void release(vantrel::morvane_t* mrv)
{
    rec("release", mrv);
}
void push_state(int* token)
{
    start();
    int t = depth < MAX_STATES ? depth++ : MAX_STATES - 1;
    memcpy(saved[t], matrices[MODEL], sizeof saved[t]);
    if (token)
        *token = t;
    rec("push_state", token, {t});
}
void pop_state(int token)
{
    rlib_call_t* c = rec("pop_state", nullptr, {token});
    if (token >= 0 && token < MAX_STATES) {
        memcpy(matrices[MODEL], saved[token], sizeof saved[token]);
        depth = token;
    }
    after(c);
}
void set_viewport(int x, int y, int width, int height)
{
    rec("set_viewport", nullptr, {x, y, width, height});
}
void set_light(void* light)
{
    rec("set_light", light);
}
void push_proj_m(float* m) { push_m("push_proj_m", PROJ, m); }
void push_view_m(float* m) { push_m("push_view_m", VIEW, m); }
void push_model_m(float* m) { push_m("push_model_m", MODEL, m); }
void push_tex_m(float* m) { push_m("push_tex_m", TEX, m); }
void pop_proj_m(const float* m) { pop_m("pop_proj_m", PROJ, m); }
void pop_view_m(const float* m) { pop_m("pop_view_m", VIEW, m); }
void pop_model_m(const float* m) { pop_m("pop_model_m", MODEL, m); }
void pop_tex_m(const float* m) { pop_m("pop_tex_m", TEX, m); }
void set_proj_m(const float* m) { set_m("set_proj_m", PROJ, m); }
void set_view_m(const float* m) { set_m("set_view_m", VIEW, m); }
void set_model_m(const float* m) { set_m("set_model_m", MODEL, m); }
void set_tex_m(const float* m) { set_m("set_tex_m", TEX, m); }
void get_proj_m(float* m) { get_m("get_proj_m", PROJ, m); }
void get_view_m(float* m) { get_m("get_view_m", VIEW, m); }
void get_model_m(float* m) { get_m("get_model_m", MODEL, m); }
void get_tex_m(float* m) { get_m("get_tex_m", TEX, m); }
void mult_proj_m(const float* m) { mult_m("mult_proj_m", PROJ, m); }
void mult_view_m(const float* m) { mult_m("mult_view_m", VIEW, m); }
void mult_model_m(const float* m) { mult_m("mult_model_m", MODEL, m); }
void mult_tex_m(const float* m) { mult_m("mult_tex_m", TEX, m); }
void render_poly(const vantrel::n_poly* p)
{
    rec("render_poly", p);
}
void render_axes(const float* m)
{
    rec("render_axes", m, {}, {{m, 16}});
}
void render_line(const float* from, const float* to)
{
    rec("render_line", from, {}, {{from, 4}, {to, 4}});
}
void depth_mask(int on)
{
    rec("depth_mask", nullptr, {on});
}
void swap_buffers(vantrel::morvane_t* mrv)
{
    rec("swap_buffers", mrv);
}
void clear_buffers(int flags)
{
    rec("clear_buffers", nullptr, {flags});
}
int add_script_funcs(vantrel::r_struct* scope)
{
    rec("add_script_funcs", scope);
    return 0;
}
int set_rmode_aset(vantrel::rmode_t* mode)
{
    rec("set_rmode_aset", mode);
    return 0;
}
int set_shader_func(vantrel::shader_t* shader)
{
    rec("set_shader_func", shader);
    return 0;
}
int cache_texture(vantrel::texture_t* texture)
{
    rec("cache_texture", texture);
    return 0;
}
int assign_lights(vantrel::d_list* lights)
{
    rec("assign_lights", lights);
    return 0;
}
void release_texture(vantrel::texture_t* texture)
{
    rec("release_texture", texture);
}
void set_perspective(float fov, float aspect, float clip_near, float clip_far)
{
    const float v[4] = {fov, aspect, clip_near, clip_far};
    rec("set_perspective", nullptr, {}, {{v, 4}});
}

void lookat_v(float* m, const float* eye, const float* target, const float* up)
{
    rec("lookat_v", m, {}, {{eye, 4}, {target, 4}, {up, 4}});
    vantrel::lookat_m(m, eye, target, up);
}
void lookat(float* m, float eye_x, float eye_y, float eye_z, float at_x, float at_y, float at_z, float up_x,
            float up_y, float up_z)
{
    const float eye[4] = {eye_x, eye_y, eye_z, 1}, at[4] = {at_x, at_y, at_z, 1}, up[4] = {up_x, up_y, up_z, 0};
    rec("lookat", m, {}, {{eye, 4}, {at, 4}, {up, 4}});
    vantrel::lookat_m(m, eye, at, up);
}
