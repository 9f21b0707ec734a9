// trueSpace materials ("Mat1") and shader boxes ("ShBx"): their records, the
// material queries of polygon objects and their dumps.
#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/g_collector.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "kdbase/pointer.h"
#include "mediaman/ts/ts_file.h"
#include "mediaman/ts/ts_local.h"
#include "primitives/material.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

// Nested shaders deeper than this are refused: reading them recurses.
enum { TS_MAX_SHADER_NESTING = 16 };

int CTrueSpaceFile::ReadMaterial_00_06(long chunk, ts_cursor& c)
{
    const TS_HEADER& h = chunks[chunk]->header;
    if (h.major != 0 || h.minor != 6)
        return -1;
    pointer_t<TS_MATERIAL> m;
    m.p = KD_NEW TS_MATERIAL();
    if (!m)
        return -1;
    m->chunk = chunk;
    m->number = c.u16();
    m->shader_type = (char)c.u8();
    m->facet_type = (char)c.u8();
    m->facet_angle = (char)c.u8();
    c.floats(m->color, 4);
    m->ambient = c.f32();
    m->specular = c.f32();
    m->highlight = c.f32();
    m->refraction = c.f32();
    while (c.ok && c.consumed() < h.size) {
        char tag[2];
        c.bytes(tag, 2);
        if (tag[1] != ':' || (tag[0] != 'e' && tag[0] != 't' && tag[0] != 'b'))
            continue;
        char flag = (char)c.u8();
        if (tag[0] == 'e') {
            memcpy(m->env.tag, tag, 2);
            m->env.flag = flag;
            ts_read_string(c, m->env.path);
        } else if (tag[0] == 't') {
            memcpy(m->texture.tag, tag, 2);
            m->texture.flag = flag;
            if (ts_read_string(c, m->texture.path) == 0) {
                c.floats(m->texture.offset, 2);
                c.floats(m->texture.repeat, 2);
            }
        } else {
            memcpy(m->bump.tag, tag, 2);
            m->bump.flag = flag;
            if (ts_read_string(c, m->bump.path) == 0) {
                c.floats(m->bump.offset, 2);
                c.floats(m->bump.repeat, 2);
                m->bump.amplitude = c.f32();
            }
        }
        if (!c.ok)
            return -1;
    }
    if (!c.ok)
        return -1;
    int r = keep(materials, m.p);
    m.dont_delete();
    return r;
}

static int read_generic_shader(ts_cursor& c, TS_GENERIC_SHADER_DATA& s, int minor, int depth);

static int read_shader_param(ts_cursor& c, TS_SHADER_PARAM& p, int minor, int depth)
{
    if (ts_read_string(c, p.name) < 0)
        return -1;
    p.type = c.i32();
    switch (p.type) {
    case TS_PARAM_INT:
    case TS_PARAM_INT2:
    case TS_PARAM_INT5:
        p.i = c.i32();
        break;
    case TS_PARAM_FLOAT:
        p.f[0] = c.f32();
        break;
    case TS_PARAM_RAW8:
        c.bytes(p.raw, 8);
        break;
    case TS_PARAM_BOOL:
        p.i = c.i32() != 0;
        break;
    case TS_PARAM_COLOR:
    case TS_PARAM_VEC8:
    case TS_PARAM_VEC9:
        c.floats(p.f, 3);
        break;
    case TS_PARAM_STRING:
        return ts_read_string(c, p.s);
    case TS_PARAM_SHADER:
        p.validity = c.u8();
        if (c.ok && p.validity) {
            if (depth >= TS_MAX_SHADER_NESTING) {
                ELOG(EL_MINDEBUG, "%s chunk at %ld: shaders nested deeper than %d levels", c.type, c.file_pos,
                     TS_MAX_SHADER_NESTING);
                return -1;
            }
            p.shader = KD_NEW TS_GENERIC_SHADER_DATA();
            if (!p.shader || read_generic_shader(c, *p.shader, minor, depth + 1) < 0)
                return -1;
        }
        if (ts_read_string(c, p.s) < 0)
            return -1;
        c.i32();
        p.blend = c.f32();
        break;
    case TS_PARAM_U16A:
    case TS_PARAM_U16B:
        p.i = c.u16();
        break;
    case TS_PARAM_U8:
        p.i = c.u8();
        break;
    case TS_PARAM_VEC4:
        c.floats(p.f, 4);
        break;
    default:
        ELOG(EL_MINOR, "unknown shader param type %u", (unsigned)p.type);
        break;
    }
    return c.ok ? 0 : -1;
}

// A nested shader has the layout of a slot, the trailing u16 of version 0.3
// included.
static int read_generic_shader(ts_cursor& c, TS_GENERIC_SHADER_DATA& s, int minor, int depth)
{
    s.shader_class = c.u8();
    if (ts_read_string(c, s.name) < 0)
        return -1;
    int32_t n;
    if (strstr(s.name.str(), "layers")) {
        if (c.u8() != 24)
            ELOG(EL_MINDEBUG, "found invalid layered shader");
        n = 16;
    } else {
        n = minor == 0 ? (signed char)c.u8() : c.i32();
    }
    // A parameter takes at least 6 bytes: its name's length and its type.
    if (n < 0) {
        ELOG(EL_MINDEBUG, "%s chunk at %ld: shader %s declares %d parameters", c.type, c.file_pos, s.name.str(), n);
        return -1;
    }
    if (!c.ok || n > c.left() / 6) {
        c.need(6L * n);
        return -1;
    }
    s.params = KD_NEW TS_SHADER_PARAM[(size_t)n];
    if (!s.params)
        return -1;
    s.nparams = n;
    for (int32_t k = 0; k < n; ++k)
        if (read_shader_param(c, s.params[k], minor, depth) < 0)
            return -1;
    if (minor == 3)
        c.u16();
    return c.ok ? 0 : -1;
}

int CTrueSpaceFile::ReadShaders_00_00(long chunk, ts_cursor& c)
{
    pointer_t<TS_SHADERS> s;
    s.p = KD_NEW TS_SHADERS();
    if (!s)
        return -1;
    s->chunk = chunk;
    for (auto& slot : s->slots)
        if (read_generic_shader(c, slot, chunks[chunk]->header.minor, 0) < 0)
            return -1;
    int r = keep(shaders, s.p);
    s.dont_delete();
    return r;
}

// ---- conversion into materials ----------------------------------------------------

// Parameter k of s when it exists and has one of the types, else null.
static const TS_SHADER_PARAM* param(const TS_GENERIC_SHADER_DATA& s, int k, int t1, int t2 = -1, int t3 = -1)
{
    if (k >= s.nparams)
        return nullptr;
    const TS_SHADER_PARAM* p = &s.params[k];
    return p->type == t1 || p->type == t2 || p->type == t3 ? p : nullptr;
}

static const TS_SHADER_PARAM* colour_param(const TS_GENERIC_SHADER_DATA& s, int k)
{
    return param(s, k, TS_PARAM_COLOR, TS_PARAM_VEC8, TS_PARAM_VEC9);
}

static void convert_colour_slot(color_shader_t* cs, const TS_GENERIC_SHADER_DATA& s)
{
    const char* name = s.name.str();
    if (strcmp(name, "plain") == 0) {
        if (const TS_SHADER_PARAM* p = colour_param(s, 0)) {
            copy_v3(cs->color, p->f);
            cs->color[3] = 1;
        }
    } else if (strcmp(name, "c_alpha") == 0) {
        if (const TS_SHADER_PARAM* p = param(s, 0, TS_PARAM_FLOAT))
            cs->color[3] = p->f[0];
    } else if (strcmp(name, "phong") == 0 || strcmp(name, "caligari phong") == 0) {
        if (const TS_SHADER_PARAM* p = param(s, 0, TS_PARAM_FLOAT))
            multscalar_qr(cs->ambient, cs->color, p->f[0]);
        if (const TS_SHADER_PARAM* p = param(s, 1, TS_PARAM_FLOAT))
            multscalar_qr(cs->diffuse, cs->color, p->f[0]);
        if (const TS_SHADER_PARAM* p = colour_param(s, 4))
            set_v(cs->specular, p->f[0], p->f[1], p->f[2], 1);
        if (const TS_SHADER_PARAM* p = param(s, 2, TS_PARAM_FLOAT))
            cs->shininess = p->f[0] * 128.0f;
        set_v(cs->emission, 0, 0, 0, 0);
    }
}

// (u, v) becomes (p1 u - p3, -p2 v + p4); missing parameters keep the identity's values.
static void convert_texture_slot(tex_shader_t* ts, const TS_GENERIC_SHADER_DATA& s)
{
    if (const TS_SHADER_PARAM* p = param(s, 0, TS_PARAM_STRING))
        ts->texture.set_name(p->s.str());
    makeIdentityMatrix(ts->tex_matrix);
    if (const TS_SHADER_PARAM* p = param(s, 1, TS_PARAM_FLOAT))
        ts->tex_matrix[0] = p->f[0];
    if (const TS_SHADER_PARAM* p = param(s, 2, TS_PARAM_FLOAT))
        ts->tex_matrix[5] = -p->f[0];
    if (const TS_SHADER_PARAM* p = param(s, 3, TS_PARAM_FLOAT))
        ts->tex_matrix[12] = -p->f[0];
    if (const TS_SHADER_PARAM* p = param(s, 4, TS_PARAM_FLOAT))
        ts->tex_matrix[13] = p->f[0];
}

// Shaders made here blend opaquely with factors 0/0 and call nothing.
static void clear_blend(shader_t* s)
{
    s->blend_src = s->blend_dst = 0;
    s->func = nullptr;
}

int CTrueSpaceFile::_load_mat_shaders(material_t* mat, long chunk)
{
    const TS_MATERIAL* m = materials[chunks[chunk]->data_index];
    pointer_t<color_shader_t> cs;
    pointer_t<tex_shader_t> ts;
    cs.p = KD_NEW color_shader_t;
    if (!cs)
        return -1;
    clear_blend(cs);
    set_v(cs->color, m->color[0], m->color[1], m->color[2], 1);
    copy_v(cs->ambient, cs->color);
    copy_v(cs->diffuse, cs->color);
    set_v(cs->specular, 0, 0, 0, 0);
    set_v(cs->emission, 0, 0, 0, 0);
    cs->shininess = 0;
    const ts_array<long>& children = chunks[chunk]->children;
    for (long k = 0; k < children.count; ++k) {
        const TS_FILE_CHUNK* c = chunks[children[k]];
        if (c->kind != TS_KIND_SHADERS)
            continue;
        const TS_SHADERS* s = shaders[c->data_index];
        if (strcmp(s->slots[0].name.str(), "caligari texture") == 0) {
            delete ts.p;
            ts.p = KD_NEW tex_shader_t;
            if (!ts)
                return -1;
            clear_blend(ts);
            convert_texture_slot(ts, s->slots[0]);
        }
        for (int slot = 0; slot < 3; ++slot)
            convert_colour_slot(cs, s->slots[slot]);
    }
    if (mat->shaders.insert(cs.p) < 0) {
        ELOG(EL_MINDEBUG, "unable to insert color shader to material");
        return -1;
    }
    cs.dont_delete();
    if (ts && mat->shaders.insert(ts.p) < 0) {
        ELOG(EL_MINDEBUG, "unable to insert texture shader to material");
        return -1;
    }
    ts.dont_delete();
    return 0;
}

int CTrueSpaceFile::_load_mesh_materials(TS_POLYGONAL_DATA* p, d_list* _mats)
{
    CHECK_PTR(_mats, -1);
    g_collector<material_t> made;
    d_list appended;
    const ts_array<long>& children = chunks[p->chunk]->children;
    bool ok = true;
    for (long k = 0; ok && k < children.count; ++k) {
        if (chunks[children[k]]->kind != TS_KIND_MATERIAL)
            continue;
        material_t* mat = made.alloc();
        ok = mat && _load_mat_shaders(mat, children[k]) == 0;
        if (ok && (appended.insert(mat) < 0 || _mats->insert(mat) < 0)) {
            appended.remove(mat);
            ELOG(EL_MINDEBUG, "unable to insert material to list");
            ok = false;
        }
    }
    if (!ok) {
        for (d_node* n = appended.first; n; n = n->next)
            ts_unlink(_mats, n->object);
        return -1;
    }
    made.dont_delete();
    return 0;
}

// ---- queries -------------------------------------------------------------------

long CTrueSpaceFile::child_count_of_kind(long chunk, ts_kind k)
{
    long n = 0;
    for (long i = 0; i < chunks[chunk]->children.count; ++i)
        n += chunks[chunks[chunk]->children[i]]->kind == k;
    return n;
}

// The k-th material child (among the textured ones when textured) of the
// polygon object id, or null.
TS_MATERIAL* CTrueSpaceFile::material_of_child(long id, long k, bool textured)
{
    if (!polygonal_of(id))
        return nullptr;
    for (long i = 0; i < chunks[id]->children.count; ++i) {
        const TS_FILE_CHUNK* c = chunks[chunks[id]->children[i]];
        if (c->kind != TS_KIND_MATERIAL)
            continue;
        TS_MATERIAL* m = materials[c->data_index];
        if (textured && m->texture.tag[0] != 't')
            continue;
        if (k-- == 0)
            return m;
    }
    return nullptr;
}

bool CTrueSpaceFile::HasMaterial(long id, unsigned long& n)
{
    if (!polygonal_of(id))
        return false;
    n = (unsigned long)child_count_of_kind(id, TS_KIND_MATERIAL);
    return true;
}

bool CTrueSpaceFile::HasTexture(long id, unsigned long& n)
{
    if (!polygonal_of(id))
        return false;
    n = 0;
    while (material_of_child(id, (long)n, true))
        ++n;
    return true;
}

long CTrueSpaceFile::GetMaterialID(long id, long k)
{
    TS_MATERIAL* m = material_of_child(id, k, false);
    return m ? m->chunk : -1;
}

bool CTrueSpaceFile::GetMaterialColor(long id, long k, float* rgba)
{
    TS_MATERIAL* m = material_of_child(id, k, false);
    if (!m || !rgba)
        return false;
    memcpy(rgba, m->color, sizeof m->color);
    return true;
}

bool CTrueSpaceFile::GetMaterialAmbient(long id, long k, float* rgba)
{
    TS_MATERIAL* m = material_of_child(id, k, false);
    if (!m || !rgba)
        return false;
    set_v(rgba, m->color[0] * m->ambient, m->color[1] * m->ambient, m->color[2] * m->ambient, m->color[3]);
    return true;
}

bool CTrueSpaceFile::GetMaterialDiffuse(long id, long k, float* rgba)
{
    return GetMaterialColor(id, k, rgba);
}

bool CTrueSpaceFile::GetMaterialSpecular(long id, long k, float* rgba)
{
    TS_MATERIAL* m = material_of_child(id, k, false);
    if (!m || !rgba)
        return false;
    set_v(rgba, m->specular, m->specular, m->specular, 1);
    return true;
}

bool CTrueSpaceFile::GetMaterialShininess(long id, long k, float& shininess)
{
    TS_MATERIAL* m = material_of_child(id, k, false);
    if (m)
        shininess = m->highlight;
    return m != nullptr;
}

bool CTrueSpaceFile::GetMaterialEmission(long id, long k, float* rgba)
{
    if (!material_of_child(id, k, false) || !rgba)
        return false;
    set_v(rgba, 0, 0, 0, 1);
    return true;
}

bool CTrueSpaceFile::GetTexturePath(long id, long k, std::string& s)
{
    TS_MATERIAL* m = material_of_child(id, k, true);
    s = m ? m->texture.path.str() : "Not Found";
    return m != nullptr;
}

bool CTrueSpaceFile::GetTextureName(long id, long k, std::string& s)
{
    if (!GetTexturePath(id, k, s))
        return false;
    size_t slash = s.rfind('\\');
    if (slash != std::string::npos)
        s.erase(0, slash + 1);
    return true;
}

// ---- dumps -----------------------------------------------------------------------

void ts_print_material(FILE* out, const char* pre, const TS_MATERIAL& m)
{
    fprintf(out, "%sPrinting Material Info\n", pre);
    fprintf(out, "%s  Number: %d  Shader Type: %c  Facet Type: %c  Facet Auto Angle: %d\n", pre, m.number,
            m.shader_type, m.facet_type, m.facet_angle);
    fprintf(out, "%s  R %f  G %f  B %f  A %f\n", pre, m.color[0], m.color[1], m.color[2], m.color[3]);
    fprintf(out, "%s  Ambient %f  Specular %f  HilightSize %f  \n", pre, m.ambient, m.specular, m.highlight);
    fprintf(out, "%s  Index of Refraction %f\n", pre, m.refraction);
    struct map {
        const char* title;
        const char* tag;
        char flag;
        const TS_STRING* path;
        const float* offset;
        const float* repeat;
        const float* amplitude;
    } maps[] = {
        {"  ++Texture Info:\n", m.texture.tag, m.texture.flag, &m.texture.path, m.texture.offset, m.texture.repeat,
         nullptr},
        {"  ++Environment Map Info:\n", m.env.tag, m.env.flag, &m.env.path, nullptr, nullptr, nullptr},
        {"  ++Bump Map Info:\n", m.bump.tag, m.bump.flag, &m.bump.path, m.bump.offset, m.bump.repeat,
         &m.bump.amplitude},
    };
    for (const map& x : maps) {
        if (!x.tag[0])
            continue;
        fprintf(out, "%s%s", pre, x.title);
        fprintf(out, "%s  ID: %c%c\t\tFlag: %d\n", pre, x.tag[0], x.tag[1], x.flag);
        fprintf(out, "%s  Path: %s\n", pre, x.path->str());
        if (x.offset) {
            fprintf(out, "%s  Offset ( U:%f  V:%f )\n", pre, x.offset[0], x.offset[1]);
            fprintf(out, "%s  Repeat ( U:%f  V:%f )\n", pre, x.repeat[0], x.repeat[1]);
        }
        if (x.amplitude)
            fprintf(out, "%s  Relative Amplitude: %f\n", pre, *x.amplitude);
    }
}

static void print_generic_shader(FILE* out, const char* pre, const TS_GENERIC_SHADER_DATA& s)
{
    fprintf(out, "%s++name: %s (class: %d nparams: %d):\n", pre, s.name.str(), s.shader_class, s.nparams);
    for (int32_t k = 0; k < s.nparams; ++k) {
        const TS_SHADER_PARAM& p = s.params[k];
        fprintf(out, "%s%s(%d) =", pre, p.name.str(), p.type);
        switch (p.type) {
        case TS_PARAM_FLOAT:
            fprintf(out, " %f\n", p.f[0]);
            break;
        case TS_PARAM_COLOR:
        case TS_PARAM_VEC8:
        case TS_PARAM_VEC9:
            fprintf(out, " (%f, %f, %f)\n", p.f[0], p.f[1], p.f[2]);
            break;
        case TS_PARAM_VEC4:
            fprintf(out, " (%f, %f, %f, %f)\n", p.f[0], p.f[1], p.f[2], p.f[3]);
            break;
        case TS_PARAM_RAW8:
            for (unsigned char b : p.raw)
                fprintf(out, " %02x", b);
            fprintf(out, "\n");
            break;
        case TS_PARAM_STRING:
            fprintf(out, " %s\n", p.s.str());
            break;
        case TS_PARAM_SHADER:
            fprintf(out, " <shader> name=%s validity_flag=%d blending_param=%s blending_value=%f\n",
                    p.shader ? p.shader->name.str() : "", p.validity, p.s.str(), p.blend);
            break;
        case TS_PARAM_INT:
        case TS_PARAM_INT2:
        case TS_PARAM_INT5:
        case TS_PARAM_BOOL:
        case TS_PARAM_U16A:
        case TS_PARAM_U16B:
        case TS_PARAM_U8:
            fprintf(out, " %d\n", p.i);
            break;
        default:
            fprintf(out, " (unknown type)\n");
        }
    }
}

void ts_print_shaders(FILE* out, const char* pre, const TS_SHADERS& s)
{
    for (const auto& slot : s.slots)
        print_generic_shader(out, pre, slot);
}

}  // namespace vantrel
