#include "primitives/material.h"

#include <cinttypes>
#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "kdbase/str_const.h"
#include "kdbase/str_util.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

static void set_v4(float* v, float x, float y, float z, float w)
{
    v[0] = x;
    v[1] = y;
    v[2] = z;
    v[3] = w;
}

shader_t::shader_t() : blend_src(1), blend_dst(0), func(nullptr) {}

void shader_t::dump(FILE* f, const char* tabs)
{
    if (!f || !tabs)
        return;
    groupable_t::dump(f, tabs);
    fprintf(f, "%sblend_src=%d blend_dst=%d func=0x%" PRIxPTR "\n", tabs, blend_src, blend_dst,
            (uintptr_t)func);
}

color_shader_t::color_shader_t() : shininess(0)
{
    set_v4(color, 1, 1, 1, 1);
    set_v4(ambient, 0.2f, 0.2f, 0.2f, 1);
    set_v4(diffuse, 0.8f, 0.8f, 0.8f, 1);
    set_v4(specular, 0, 0, 0, 1);
    set_v4(emission, 0, 0, 0, 1);
}

void color_shader_t::dump(FILE* f, const char* tabs)
{
    if (!f || !tabs)
        return;
    fprintf(f, "%scolor_shader_t:\n", tabs);
    shader_t::dump(f, tabs);
    const struct {
        const char* label;
        const float* v;
    } colours[] = {{"color", color}, {"ambient", ambient}, {"diffuse", diffuse},
                   {"specular", specular}, {"emission", emission}};
    for (auto& c : colours) {
        fprintf(f, "%s%s=", tabs, c.label);
        dump_v(f, c.v);
    }
    fprintf(f, "%sshininess=%f\n", tabs, shininess);
}

tex_shader_t::tex_shader_t() : tex_param(0), wrap_u(0), wrap_v(0)
{
    makeIdentityMatrix(tex_matrix);
}

void tex_shader_t::dump(FILE* f, const char* tabs)
{
    if (!f || !tabs)
        return;
    fprintf(f, "%stex_shader_t:\n", tabs);
    shader_t::dump(f, tabs);
    fprintf(f, "%swrap_u=%d wrap_v=%d\n", tabs, wrap_u, wrap_v);
    fprintf(f, "%s--texture:\n", tabs);
    texture.dump(f, tabs);
    _dump_m(f, tex_matrix, tabs);
}

material_t::material_t() : flags(0), shaders(1) {}

void material_t::set_flags()
{
    // The render library decides the values, so they are looked up each time.
    static const char* const alpha_factors[] = {"GL_SRC_ALPHA", "GL_ONE_MINUS_SRC_ALPHA", "GL_DST_ALPHA",
                                                "GL_ONE_MINUS_DST_ALPHA"};
    int values[4];
    for (int i = 0; i < 4; ++i)
        values[i] = get_const(alpha_factors[i]);
    for (d_node* n = shaders.first; n; n = n->next) {
        shader_t* s = dynamic_cast<shader_t*>(n->object);
        if (!s)
            continue;
        for (int v : values)
            if (v != -1 && (s->blend_src == v || s->blend_dst == v))
                flags |= MAT_BLENDED;
    }
}

void trunc_tex_paths(material_t* _mat, const char* _basepath)
{
    CHECK_PTR_V(_mat);
    CHECK_PTR_V(_basepath);
    for (d_node* n = _mat->shaders.first; n; n = n->next) {
        tex_shader_t* t = dynamic_cast<tex_shader_t*>(n->object);
        if (t && t->texture.name)
            trunc_path(t->texture.name, _basepath);
    }
}

void trunc_tex_paths_l(d_list* _mats, const char* _basepath)
{
    CHECK_PTR_V(_mats);
    CHECK_PTR_V(_basepath);
    for (d_node* n = _mats->first; n; n = n->next)
        trunc_tex_paths(dynamic_cast<material_t*>(n->object), _basepath);
}

void dump_material_t(FILE* f, material_t* mat, const char* tabs)
{
    if (!f || !mat || !tabs)
        return;
    mat->groupable_t::dump(f, tabs);
    fprintf(f, "%sflags=%x\n", tabs, mat->flags);
    fprintf(f, "%sshaders:\n", tabs);
    char inner[256];
    snprintf(inner, sizeof inner, "%s  ", tabs);
    for (d_node* n = mat->shaders.first; n; n = n->next)
        if (shader_t* s = dynamic_cast<shader_t*>(n->object))
            s->dump(f, inner);
}

void delete_skin_mats(material_t*** skin)
{
    if (!skin || !*skin)
        return;
    for (material_t** m = *skin; *m; ++m) {
        delete *m;
        *m = nullptr;
    }
}

}  // namespace vantrel
