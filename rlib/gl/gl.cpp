// The OpenGL render library: the 41 operations drawn through the fixed
// function pipeline. The matrices are kept here and loaded into OpenGL when
// something is drawn; the context is made at the first operation that needs
// it, so the settings the start-up script assigns ("gl_headless",
// "gl_frames_dir") and the module's "width"/"height" are in force by then.
#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base_script/script_var.h"
#include "kdbase/errorlog.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "kdbase/str_const.h"
#include "kdbase/va_func.h"
#include "morvane/camera.h"
#include "morvane/morvane.h"
#include "morvane/rlib_exports.h"
#include "primitives/material.h"
#include "primitives/n_poly.h"
#include "rlib/gl/gl_local.h"

using namespace vantrel;

namespace {

enum { PROJ, VIEW, MODEL, TEX, NMATRICES };
enum { MAX_STATES = 16, MAX_TEXTURES = 512, MAX_LIGHTS = 8, DEFAULT_WIDTH = 640, DEFAULT_HEIGHT = 480 };

// What push_state saves and pop_state restores.
struct saved_t {
    float m[NMATRICES][16];
    int depth_write;
    int viewport[4];
};

// The material in force: what the shader functions of the current material set.
struct material_state_t {
    float color[4], ambient[4], diffuse[4], specular[4], emission[4];
    float shininess;
    GLuint texture;  // 0: untextured
    GLint wrap_u, wrap_v, filter;
    float tex_matrix[16];
    GLenum blend_src, blend_dst;  // GL_ONE, GL_ZERO: opaque
};

// The render mode in force (set_rmode_aset's function runs when it becomes current).
struct mode_state_t {
    GLenum polymode;  // GL_FILL, GL_LINE or GL_POINT
    bool flat, lighting, topdown;
    float ambient[4];
};

struct texture_entry_t {
    texture_t* texture;
    GLuint id;
};

struct gl_lib_t {
    morvane_t* mrv;
    r_struct* scope;
    gl_surface_t surface;
    bool tried, ready;
    unsigned char* pixels;  // one frame, read back for the PNG writer
    float m[NMATRICES][16];
    saved_t saved[MAX_STATES];
    int depth;
    int depth_write;
    int viewport[4];  // x, y from the top left, width, height; 0 size: whole frame
    material_state_t mat;
    bool material_open;  // a shader function ran since the last drawing
    mode_state_t mode;
    bool dirty;          // GL state must be brought up to date before drawing
    int nlights;
    texture_entry_t textures[MAX_TEXTURES];
    int ntextures;
};

gl_lib_t gl;

// The settings published through add_script_funcs.
r_var headless_v, frames_dir_v, clear_v, frame_v, quit_v;
float clear_c[4];
r_var* const settings[] = {&headless_v, &frames_dir_v, &clear_v, &frame_v, &quit_v};

// The constants shaders carry, registered once per process (the library is
// never unmapped, so the names stay valid).
const str_const_t gl_constants[] = {
    {"GL_ZERO", GL_ZERO},
    {"GL_ONE", GL_ONE},
    {"GL_SRC_COLOR", GL_SRC_COLOR},
    {"GL_ONE_MINUS_SRC_COLOR", GL_ONE_MINUS_SRC_COLOR},
    {"GL_SRC_ALPHA", GL_SRC_ALPHA},
    {"GL_ONE_MINUS_SRC_ALPHA", GL_ONE_MINUS_SRC_ALPHA},
    {"GL_DST_ALPHA", GL_DST_ALPHA},
    {"GL_ONE_MINUS_DST_ALPHA", GL_ONE_MINUS_DST_ALPHA},
    {"GL_DST_COLOR", GL_DST_COLOR},
    {"GL_ONE_MINUS_DST_COLOR", GL_ONE_MINUS_DST_COLOR},
    {"GL_SRC_ALPHA_SATURATE", GL_SRC_ALPHA_SATURATE},
    {"GL_REPEAT", GL_REPEAT},
    {"GL_CLAMP", GL_CLAMP},
    {"GL_CLAMP_TO_EDGE", 0x812F},
    {"GL_MIRRORED_REPEAT", 0x8370},
    {"GL_NEAREST", GL_NEAREST},
    {"GL_LINEAR", GL_LINEAR},
    {"", -1},
};
bool constants_added;

bool is_blend_factor(int f)
{
    return f == GL_ZERO || f == GL_ONE || (f >= GL_SRC_COLOR && f <= GL_SRC_ALPHA_SATURATE);
}

GLint wrap_mode(int w)
{
    return (w == GL_CLAMP || w == 0x812F || w == 0x8370) ? w : GL_REPEAT;
}

void set4(float* v, float a, float b, float c, float d)
{
    v[0] = a;
    v[1] = b;
    v[2] = c;
    v[3] = d;
}

void reset_material()
{
    material_state_t& m = gl.mat;
    set4(m.color, 1, 1, 1, 1);
    set4(m.ambient, 0.2f, 0.2f, 0.2f, 1);
    set4(m.diffuse, 0.8f, 0.8f, 0.8f, 1);
    set4(m.specular, 0, 0, 0, 1);
    set4(m.emission, 0, 0, 0, 1);
    m.shininess = 0;
    m.texture = 0;
    m.wrap_u = m.wrap_v = GL_REPEAT;
    m.filter = GL_LINEAR;
    makeIdentityMatrix(m.tex_matrix);
    m.blend_src = GL_ONE;
    m.blend_dst = GL_ZERO;
    gl.dirty = true;
}

// Everything back to the state of a fresh library (the context aside).
void reset_state()
{
    for (float* m : gl.m)
        makeIdentityMatrix(m);
    gl.depth = 0;
    gl.depth_write = 1;
    memset(gl.viewport, 0, sizeof gl.viewport);
    reset_material();
    gl.material_open = false;
    gl.mode = mode_state_t{GL_FILL, false, false, false, {0.2f, 0.2f, 0.2f, 1}};
    gl.nlights = 0;
}

int frame_width()
{
    return gl.surface.width > 0 ? gl.surface.width : (gl.mrv && gl.mrv->width > 0 ? gl.mrv->width : DEFAULT_WIDTH);
}
int frame_height()
{
    return gl.surface.height > 0 ? gl.surface.height
                                 : (gl.mrv && gl.mrv->height > 0 ? gl.mrv->height : DEFAULT_HEIGHT);
}

// The viewport in OpenGL's terms (origin at the bottom left); a viewport
// without area is the whole frame.
void apply_viewport()
{
    const int fw = frame_width(), fh = frame_height();
    int x = gl.viewport[0], y = gl.viewport[1], w = gl.viewport[2], h = gl.viewport[3];
    if (w <= 0 || h <= 0) {
        x = y = 0;
        w = fw;
        h = fh;
    }
    glViewport(x, fh - y - h, w, h);
    glScissor(x, fh - y - h, w, h);
}

// Makes the context on first use. False when there is none (the failure was
// logged once; drawing then does nothing).
bool ensure_context()
{
    if (gl.ready || gl.tried)
        return gl.ready;
    gl.tried = true;
    const int w = frame_width(), h = frame_height();
    const int choice = headless_v.type == r_int ? headless_v.i_value() : -1;
    const bool headless = choice < 0 ? !gl_display_present() : choice != 0;
    const bool fullscreen = gl.mrv && gl.mrv->b_fullscreen;
    if (gl_surface_open(&gl.surface, headless, w, h, "vantrel", fullscreen) != 0) {
        // A window that could not open falls back to frames on disk unless
        // the script asked for a window explicitly.
        if (headless || choice == 0 || gl_surface_open(&gl.surface, true, w, h, "vantrel", false) != 0)
            return false;
    }
    if (gl.surface.headless) {
        gl.pixels = KD_NEW unsigned char[(size_t)w * (size_t)h * 4];
        if (!gl.pixels) {
            gl_surface_close(&gl.surface);
            return false;
        }
    }
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_NORMALIZE);
    glEnable(GL_SCISSOR_TEST);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glClearColor(clear_c[0], clear_c[1], clear_c[2], clear_c[3]);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDepthMask(gl.depth_write ? GL_TRUE : GL_FALSE);
    apply_viewport();
    gl.ready = true;
    gl.dirty = true;
    return true;
}

void load_matrices()
{
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(gl.m[PROJ]);
    glMatrixMode(GL_TEXTURE);
    glLoadMatrixf(gl.m[TEX]);
    glMultMatrixf(gl.mat.tex_matrix);
    // Row vectors: a point goes through the model matrix, then the view.
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(gl.m[VIEW]);
    glMultMatrixf(gl.m[MODEL]);
}

// Brings OpenGL up to the matrices, material and render mode in force.
void apply_state()
{
    if (!gl.dirty)
        return;
    const material_state_t& m = gl.mat;
    load_matrices();
    if (m.texture) {
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, m.texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, m.wrap_u);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, m.wrap_v);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, m.filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, m.filter);
    } else {
        glDisable(GL_TEXTURE_2D);
    }
    if (m.blend_src == GL_ONE && m.blend_dst == GL_ZERO) {
        glDisable(GL_BLEND);
    } else {
        glEnable(GL_BLEND);
        glBlendFunc(m.blend_src, m.blend_dst);
    }
    glPolygonMode(GL_FRONT_AND_BACK, gl.mode.polymode);
    glShadeModel(gl.mode.flat ? GL_FLAT : GL_SMOOTH);
    if (gl.mode.lighting) {
        float ambient[4], diffuse[4];
        for (int i = 0; i < 3; ++i) {
            ambient[i] = m.ambient[i] * m.color[i];
            diffuse[i] = m.diffuse[i] * m.color[i];
        }
        ambient[3] = diffuse[3] = m.color[3];
        glEnable(GL_LIGHTING);
        glLightModelfv(GL_LIGHT_MODEL_AMBIENT, gl.mode.ambient);
        glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
        glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
        glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, m.specular);
        glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, m.emission);
        glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, std::fmin(std::fmax(m.shininess, 0.f), 128.f));
    } else {
        glDisable(GL_LIGHTING);
    }
    glColor4fv(m.color);
    gl.dirty = false;
}

// Lines and axes: unlit, untextured, opaque, in the matrices in force.
void begin_lines()
{
    gl.material_open = false;
    load_matrices();
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glBegin(GL_LINES);
    gl.dirty = true;
}

texture_entry_t* find_texture(texture_t* t)
{
    for (int i = 0; i < gl.ntextures; ++i)
        if (gl.textures[i].texture == t)
            return &gl.textures[i];
    return nullptr;
}

bool has_pixels(const texture_t* t)
{
    return t->bits && t->width > 0 && t->height > 0;
}

// The table entry of t, made when new (not uploaded yet); null when the
// table is full (logged).
texture_entry_t* texture_entry(texture_t* t)
{
    if (texture_entry_t* e = find_texture(t))
        return e;
    if (gl.ntextures >= MAX_TEXTURES) {
        ELOG(EL_MINOR, "gl: more than %d textures; %s not cached", MAX_TEXTURES, t->name ? t->name : "");
        return nullptr;
    }
    gl.textures[gl.ntextures] = texture_entry_t{t, 0};
    return &gl.textures[gl.ntextures++];
}

// Uploads the entry's image as RGBA once there is a context (until then it
// waits). 0; -1 when the image cannot be converted or uploaded (tried again
// at the next use).
int upload(texture_entry_t* e)
{
    texture_t* t = e->texture;
    if (e->id || !gl.ready)
        return 0;
    bit_fields_t rgba;
    rgba.set(0xFFu, 0xFF00u, 0xFF0000u, 0xFF000000u);
    char* pixels = nullptr;
    if (t->convert(&rgba, &pixels) != 0)
        return -1;
    if (!t->fields.alpha_mask)
        for (size_t i = 0, n = (size_t)t->width * (size_t)t->height; i < n; ++i)
            pixels[i * 4 + 3] = (char)0xFF;
    GLuint id = 0;
    glGenTextures(1, &id);
    glBindTexture(GL_TEXTURE_2D, id);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, t->width, t->height, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    delete[] pixels;
    gl.dirty = true;
    if (!id || glGetError() != GL_NO_ERROR) {
        ELOG(EL_MINOR, "gl: unable to upload texture %s", t->name ? t->name : "");
        glDeleteTextures(1, &id);
        return -1;
    }
    e->id = id;
    return 0;
}

// The function set_shader_func gives every shader: the renderer calls it for
// each shader of a material that becomes current, in shader order. The first
// call after something was drawn starts the new material from the defaults.
void apply_shader(shader_t* s)
{
    if (!s)
        return;
    if (!gl.material_open) {
        reset_material();
        gl.material_open = true;
    }
    material_state_t& m = gl.mat;
    if (auto* c = dynamic_cast<color_shader_t*>(s)) {
        copy_v(m.color, c->color);
        copy_v(m.ambient, c->ambient);
        copy_v(m.diffuse, c->diffuse);
        copy_v(m.specular, c->specular);
        copy_v(m.emission, c->emission);
        m.shininess = c->shininess;
    } else if (auto* t = dynamic_cast<tex_shader_t*>(s)) {
        texture_entry_t* e = has_pixels(&t->texture) ? texture_entry(&t->texture) : nullptr;
        m.texture = e && ensure_context() && upload(e) == 0 ? e->id : 0;
        m.wrap_u = wrap_mode(t->wrap_u);
        m.wrap_v = wrap_mode(t->wrap_v);
        m.filter = t->tex_param == GL_NEAREST ? GL_NEAREST : GL_LINEAR;
        memcpy(m.tex_matrix, t->tex_matrix, sizeof m.tex_matrix);
    }
    if (is_blend_factor(s->blend_src) && is_blend_factor(s->blend_dst) &&
        !(s->blend_src == GL_ONE && s->blend_dst == GL_ZERO)) {
        m.blend_src = (GLenum)s->blend_src;
        m.blend_dst = (GLenum)s->blend_dst;
    }
    gl.dirty = true;
}

// The function set_rmode_aset adds to a render mode: runs when the mode
// becomes current. Unknown texts keep the defaults (fill, smooth).
void apply_rmode(rmode_t* r)
{
    if (!r)
        return;
    const char* poly = r->polymode();
    const char* shade = r->shademodel();
    gl.mode.polymode = GL_FILL;
    if (poly && (!strcmp(poly, "wire") || !strcmp(poly, "line") || !strcmp(poly, "wireframe")))
        gl.mode.polymode = GL_LINE;
    else if (poly && !strcmp(poly, "point"))
        gl.mode.polymode = GL_POINT;
    gl.mode.flat = shade && !strcmp(shade, "flat");
    gl.mode.lighting = r->b_lighting != 0;
    gl.mode.topdown = r->b_topdown_bitmaps != 0;
    copy_v(gl.mode.ambient, r->ambient_c);
    gl.dirty = true;
}

// Reads up to n floats of the structure's variable name into out; missing
// or not floats: out unchanged.
void read_floats(r_struct* s, const char* name, float* out, int n)
{
    r_var* v = s->get_var(name);
    if (!v || v->type != r_float)
        return;
    for (int i = 0; i < n && i < (int)v->count; ++i)
        out[i] = v->f_value(i);
}

void write_frame()
{
    const char* dir = frames_dir_v.type == r_string ? frames_dir_v.str_value() : nullptr;
    if (!dir || !*dir)
        return;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    char path[1024];
    snprintf(path, sizeof path, "%s/frame_%05d.png", dir, frame_v.i_value());
    const int w = gl.surface.width, h = gl.surface.height;
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, gl.pixels);
    gl_write_png(path, w, h, gl.pixels);
}

void matrix_copy(float* dst, const float* src)
{
    CHECK_PTR_V(dst);
    CHECK_PTR_V(src);
    memcpy(dst, src, 16 * sizeof(float));
    gl.dirty = true;
}

void matrix_mult(int which, const float* m)
{
    CHECK_PTR_V(m);
    multmatrix_m(gl.m[which], m);
    gl.dirty = true;
}

}  // namespace

int init(morvane_t* mrv)
{
    CHECK_PTR(mrv, -1);
    gl.mrv = mrv;
    reset_state();
    return 0;
}

void release(morvane_t*)
{
    if (gl.ready)
        for (int i = 0; i < gl.ntextures; ++i)
            glDeleteTextures(1, &gl.textures[i].id);
    gl.ntextures = 0;
    gl_surface_close(&gl.surface);
    gl.surface = gl_surface_t{};
    delete[] gl.pixels;
    gl.pixels = nullptr;
    gl.ready = gl.tried = false;
    if (gl.scope)
        for (r_var* v : settings)
            if (gl.scope->get_var(v->name) == v)
                gl.scope->list.remove(static_cast<unknown*>(v));
    gl.scope = nullptr;
    gl.mrv = nullptr;
}

void push_state(int* token)
{
    CHECK_PTR_V(token);
    if (gl.depth >= MAX_STATES) {
        ELOG(EL_MINDEBUG, "gl: push_state nested deeper than %d", MAX_STATES);
        *token = -1;
        return;
    }
    saved_t& s = gl.saved[gl.depth];
    memcpy(s.m, gl.m, sizeof s.m);
    s.depth_write = gl.depth_write;
    memcpy(s.viewport, gl.viewport, sizeof s.viewport);
    *token = gl.depth++;
}

void pop_state(int token)
{
    if (token < 0 || token >= gl.depth) {
        ELOG(EL_MINDEBUG, "gl: pop_state with token %d at depth %d", token, gl.depth);
        return;
    }
    const saved_t& s = gl.saved[token];
    memcpy(gl.m, s.m, sizeof gl.m);
    memcpy(gl.viewport, s.viewport, sizeof gl.viewport);
    depth_mask(s.depth_write);
    gl.depth = token;
    gl.dirty = true;
    if (gl.ready)
        apply_viewport();
}

void set_viewport(int x, int y, int width, int height)
{
    gl.viewport[0] = x;
    gl.viewport[1] = y;
    gl.viewport[2] = width;
    gl.viewport[3] = height;
    if (!ensure_context())
        return;
    // A camera starts here: its own lights, and a depth buffer of its own.
    for (int i = 0; i < MAX_LIGHTS; ++i)
        glDisable(GL_LIGHT0 + i);
    gl.nlights = 0;
    apply_viewport();
    glDepthMask(GL_TRUE);
    glClear(GL_DEPTH_BUFFER_BIT);
    glDepthMask(gl.depth_write ? GL_TRUE : GL_FALSE);
}

void set_light(void* light)
{
    CHECK_PTR_V(light);
    if (!ensure_context())
        return;
    r_struct* s = static_cast<script_var*>(static_cast<r_var*>(static_cast<unknown*>(light)));
    float pos[4] = {0, 0, 1, 0}, color[4] = {1, 1, 1, 1}, att[3] = {1, 0, 0};
    read_floats(s, "pos", pos, 4);
    read_floats(s, "color", color, 4);
    read_floats(s, "attenuation", att, 3);
    r_var* enabled = s->get_var("enabled");
    if (enabled && enabled->type == r_int && enabled->i_value() == 0)
        return;
    if (gl.nlights >= MAX_LIGHTS) {
        ELOG(EL_MINDEBUG, "gl: only %d lights per camera; light ignored", MAX_LIGHTS);
        return;
    }
    if (att[0] == 0 && att[1] == 0 && att[2] == 0)
        att[0] = 1;
    const GLenum l = GL_LIGHT0 + gl.nlights++;
    const float black[4] = {0, 0, 0, 1};
    // The position is in world space: only the view matrix applies.
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(gl.m[VIEW]);
    glLightfv(l, GL_POSITION, pos);
    glLightfv(l, GL_AMBIENT, black);
    glLightfv(l, GL_DIFFUSE, color);
    glLightfv(l, GL_SPECULAR, color);
    glLightf(l, GL_CONSTANT_ATTENUATION, att[0]);
    glLightf(l, GL_LINEAR_ATTENUATION, att[1]);
    glLightf(l, GL_QUADRATIC_ATTENUATION, att[2]);
    glEnable(l);
    gl.dirty = true;
}

void push_proj_m(float* m) { matrix_copy(m, gl.m[PROJ]); }
void push_view_m(float* m) { matrix_copy(m, gl.m[VIEW]); }
void push_model_m(float* m) { matrix_copy(m, gl.m[MODEL]); }
void push_tex_m(float* m) { matrix_copy(m, gl.m[TEX]); }
void pop_proj_m(const float* m) { matrix_copy(gl.m[PROJ], m); }
void pop_view_m(const float* m) { matrix_copy(gl.m[VIEW], m); }
void pop_model_m(const float* m) { matrix_copy(gl.m[MODEL], m); }
void pop_tex_m(const float* m) { matrix_copy(gl.m[TEX], m); }
void set_proj_m(const float* m) { matrix_copy(gl.m[PROJ], m); }
void set_view_m(const float* m) { matrix_copy(gl.m[VIEW], m); }
void set_model_m(const float* m) { matrix_copy(gl.m[MODEL], m); }
void set_tex_m(const float* m) { matrix_copy(gl.m[TEX], m); }
void get_proj_m(float* m) { matrix_copy(m, gl.m[PROJ]); }
void get_view_m(float* m) { matrix_copy(m, gl.m[VIEW]); }
void get_model_m(float* m) { matrix_copy(m, gl.m[MODEL]); }
void get_tex_m(float* m) { matrix_copy(m, gl.m[TEX]); }
void mult_proj_m(const float* m) { matrix_mult(PROJ, m); }
void mult_view_m(const float* m) { matrix_mult(VIEW, m); }
void mult_model_m(const float* m) { matrix_mult(MODEL, m); }
void mult_tex_m(const float* m) { matrix_mult(TEX, m); }

void render_poly(const n_poly* p)
{
    CHECK_PTR_V(p);
    if (!VALID_PRIMITIVE(p)) {
        ELOG(EL_MINDEBUG, "gl: render_poly: polygon without vertices");
        return;
    }
    for (int k = 0; k < p->nverts; ++k)
        if (p->vi[k] >= (uint32_t)p->vasize) {
            ELOG(EL_MINDEBUG, "gl: render_poly: index %u beyond %d vertices", p->vi[k], (int)p->vasize);
            return;
        }
    if (!ensure_context())
        return;
    gl.material_open = false;
    apply_state();
    const bool flat = gl.mode.flat;
    glBegin(GL_POLYGON);
    glNormal3fv(p->normal);
    for (int k = 0; k < p->nverts; ++k) {
        const mrv_vertex& v = p->va[p->vi[k]];
        if (!flat && (v.n[0] != 0 || v.n[1] != 0 || v.n[2] != 0))
            glNormal3fv(v.n);
        // Images hold their top row first and are uploaded so; v = 0 is the
        // bottom row unless the render mode says bitmaps are top down.
        glTexCoord2f(v.t[0], gl.mode.topdown ? v.t[1] : 1 - v.t[1]);
        glVertex3fv(v.v);
    }
    glEnd();
}

void render_axes(const float* m)
{
    CHECK_PTR_V(m);
    if (!ensure_context())
        return;
    begin_lines();
    static const float colors[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int a = 0; a < 3; ++a) {
        glColor3fv(colors[a]);
        glVertex3f(m[12], m[13], m[14]);
        glVertex3f(m[12] + m[a * 4], m[13] + m[a * 4 + 1], m[14] + m[a * 4 + 2]);
    }
    glEnd();
}

void render_line(const float* from, const float* to)
{
    CHECK_PTR_V(from);
    CHECK_PTR_V(to);
    if (!ensure_context())
        return;
    begin_lines();
    glColor3f(1, 1, 0);
    glVertex3fv(from);
    glVertex3fv(to);
    glEnd();
}

void depth_mask(int on)
{
    gl.depth_write = on != 0;
    if (gl.ready)
        glDepthMask(on ? GL_TRUE : GL_FALSE);
}

void swap_buffers(morvane_t*)
{
    if (!gl.ready)
        return;
    if (gl.surface.headless)
        write_frame();
    else if (gl_surface_present(&gl.surface))
        quit_v.set(0, 1);
    frame_v.set(0, frame_v.i_value() + 1);
}

void clear_buffers(int)
{
    if (!ensure_context())
        return;
    glDisable(GL_SCISSOR_TEST);
    glDepthMask(GL_TRUE);
    glClearColor(clear_c[0], clear_c[1], clear_c[2], clear_c[3]);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDepthMask(gl.depth_write ? GL_TRUE : GL_FALSE);
    glEnable(GL_SCISSOR_TEST);
}

int add_script_funcs(r_struct* scope)
{
    CHECK_PTR(scope, -1);
    if (!constants_added) {
        add_const_a(gl_constants);
        constants_added = true;
    }
    // The settings start from their defaults with every start of the library.
    for (r_var* v : settings)
        v->init();
    headless_v.name = "gl_headless";
    headless_v.set(0, -1);
    frames_dir_v.name = "gl_frames_dir";
    frames_dir_v.set(0, "frames");
    clear_v.name = "gl_clear_c";
    set4(clear_c, 0, 0, 0, 1);
    clear_v.set_storage(clear_c, sizeof clear_c);
    clear_v.type = r_float;
    clear_v.count = 4;
    frame_v.name = "gl_frame";
    frame_v.set(0, 0);
    quit_v.name = "gl_quit";
    quit_v.set(0, 0);
    for (r_var* v : settings)
        if (scope->get_var(v->name) != v && scope->add(v) != 0) {
            ELOG(EL_MAJOR, "gl: unable to publish %s", v->name);
            return -1;
        }
    gl.scope = scope;
    return 0;
}

int set_rmode_aset(rmode_t* mode)
{
    CHECK_PTR(mode, -1);
    const va_function_t f = reinterpret_cast<va_function_t>(reinterpret_cast<void (*)()>(&apply_rmode));
    for (d_node* n = mode->funcs.first; n; n = n->next) {
        const va_func* old = static_cast<const va_func*>(n->object);
        if (old && old->func == f && old->args[0] == (intptr_t)mode)
            return 0;
    }
    va_func* call = KD_NEW va_func();
    if (!call)
        return -1;
    call->func = f;
    call->nargs = 1;
    call->args[0] = (intptr_t)mode;
    call->arg_types[0] = r_struct_p;
    call->result = 'v';
    if (mode->funcs.insert(call) != 0) {
        delete call;
        return -1;
    }
    return 0;
}

int set_shader_func(shader_t* shader)
{
    CHECK_PTR(shader, -1);
    shader->func = &apply_shader;
    return 0;
}

int cache_texture(texture_t* texture)
{
    CHECK_PTR(texture, -1);
    if (!has_pixels(texture)) {
        ELOG(EL_MINOR, "gl: texture %s has no pixels", texture->name ? texture->name : "");
        return -1;
    }
    texture_entry_t* e = texture_entry(texture);
    return e ? upload(e) : -1;
}

int assign_lights(d_list* lights)
{
    CHECK_PTR(lights, -1);
    for (d_node* n = lights->first; n; n = n->next)
        set_light(n->object);
    return 0;
}

void release_texture(texture_t* texture)
{
    CHECK_PTR_V(texture);
    texture_entry_t* e = find_texture(texture);
    if (!e)
        return;
    if (gl.ready && e->id)
        glDeleteTextures(1, &e->id);
    if (e->id && gl.mat.texture == e->id) {
        gl.mat.texture = 0;
        gl.dirty = true;
    }
    *e = gl.textures[--gl.ntextures];
}

void set_perspective(float fov, float aspect, float clip_near, float clip_far)
{
    // Unset values take sensible ones: the viewport's aspect, a 60 degree
    // field of view, a near plane at 0.1 and a far plane 10000 times further.
    if (aspect <= 0) {
        const int w = gl.viewport[2] > 0 && gl.viewport[3] > 0 ? gl.viewport[2] : frame_width();
        const int h = gl.viewport[2] > 0 && gl.viewport[3] > 0 ? gl.viewport[3] : frame_height();
        aspect = (float)w / (float)h;
    }
    if (fov <= 0 || fov >= 180)
        fov = 60;
    if (clip_near <= 0)
        clip_near = 0.1f;
    if (clip_far <= clip_near)
        clip_far = clip_near * 10000;
    const double f = 1.0 / std::tan(fov * 3.14159265358979323846 / 360.0);
    float* m = gl.m[PROJ];
    memset(m, 0, 16 * sizeof(float));
    m[0] = (float)(f / aspect);
    m[5] = (float)f;
    m[10] = (clip_far + clip_near) / (clip_near - clip_far);
    m[11] = -1;
    m[14] = 2 * clip_far * clip_near / (clip_near - clip_far);
    gl.dirty = true;
}

void lookat(float* m, float eye_x, float eye_y, float eye_z, float at_x, float at_y, float at_z, float up_x,
            float up_y, float up_z)
{
    const float eye[4] = {eye_x, eye_y, eye_z, 1}, at[4] = {at_x, at_y, at_z, 1}, up[4] = {up_x, up_y, up_z, 0};
    lookat_v(m, eye, at, up);
}

void lookat_v(float* m, const float* eye, const float* target, const float* up)
{
    CHECK_PTR_V(m);
    CHECK_PTR_V(eye);
    CHECK_PTR_V(target);
    CHECK_PTR_V(up);
    if (lookat_m(m, eye, target, up) < 0)
        ELOG(EL_MINDEBUG, "gl: lookat without a direction (eye at the target or up along the view)");
}
