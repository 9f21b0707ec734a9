#include "morvane/camera.h"

#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "kdbase/va_func.h"
#include "morvane/morvane_local.h"
#include "morvane/rlib.h"
#include "primitives/material.h"
#include "primitives/model.h"
#include "world/entity.h"
#include "world/level.h"

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

cam3d_t::cam3d_t() : tracer_s{&lpos, &wpos, &orient, &follow, &view_m}
{
    // The camera's leaf is found from "wpos": a follow camera is where its eye is.
    follow.eye_v = wpos.trans_v;
}

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
    _state.leaves_drawn = 0;
    makeIdentityMatrix(_state.model_m);
    rmodes[0].exec();
    _state.cur_rmode = 0;
    CHECK_PTR_NAMED(r_imports.set_view_m, "r_imports.set_view_m", );
    r_imports.set_viewport(viewport.x, viewport.y, viewport.width, viewport.height);
    r_imports.set_perspective(fov, aspect, clip_near, clip_far);
    view_m.build();
    r_imports.set_view_m(view_m.matrix);
    CHECK_PTR_V(world);
    for (d_node* n = world->lights.first; n; n = n->next)
        if (n->object)
            r_imports.set_light(n->object);
}

void cam3d_t::render_frame()
{
    CHECK_PTR_V(world);
    render_level();
    render_entities(0);
    render_trans_meshes(0);
    ++stats.counters[STAT_FRAMES];
}

void cam3d_t::render_level()
{
    render_tree(wpos.trans_v);
}

void cam3d_t::render_tree(float* _pos_v)
{
    CHECK_PTR_V(_pos_v);
    CHECK_PTR_V(world);
    bsp_index_t* leaf = world->get_leaf_at_pos(_pos_v);
    if (!leaf || FLAG_ISSET(leaf->flags, BN_ISSOLID))
        return;
    material_t** old_skin = _state.skin;
    _state.cur_model = nullptr;
    if (world->skin)
        set_skin(world->skin);
    if (d_all_leaves) {
        for (int i = 0; world->i_nodes && i < world->stats.ni_nodes; ++i)
            if (world->i_nodes[i] && world->i_nodes[i]->meshes)
                _render_leaf(world->i_nodes[i]);
    } else {
        _render_leaf(leaf);
        _render_leaf_pvs(leaf);
    }
    set_skin(old_skin);
}

void cam3d_t::_render_leaf(bsp_index_t* _leaf)
{
    CHECK_PTR_V(_leaf);
    CHECK_PTR_V(_leaf->meshes);
    CHECK_PTR_V(world);
    CHECK_PTR_V(world->meshes);
    ++_state.leaves_drawn;
    for (const int32_t* n = _leaf->meshes; *n != -1; ++n)
        if (*n >= 0 && *n < world->stats.nmeshes)
            render_mesh(world->meshes[*n], 0);
    if (d_draw_leafbbox)
        _render_bbox(&_leaf->bbox, 0);
}

void cam3d_t::_render_leaf_pvs(bsp_index_t* _leaf)
{
    CHECK_PTR_V(_leaf);
    CHECK_PTR_V(world->i_nodes);
    if (!_leaf->visible_leafs.first) {
        ELOG(EL_MINDEBUG, "pvs has no leaves");
        return;
    }
    for (d_node* n = _leaf->visible_leafs.first; n; n = n->next) {
        intptr_t i = (intptr_t)n->data;
        if (i >= 0 && i < world->stats.ni_nodes)
            _render_leaf(world->i_nodes[i]);
    }
}

void cam3d_t::render_entities(int _flags)
{
    CHECK_PTR_V(world);
    for (d_node* n = world->ents.first; n; n = n->next)
        if (entity_t* e = n->object ? dynamic_cast<entity_t*>(n->object) : nullptr)
            render_model(&e->model, _flags);
}

void cam3d_t::render_model(model_t* _m, int _flags)
{
    CHECK_PTR(VALID_MODEL(_m), );
    _state.cur_model = _m;
    material_t** old_skin = _state.skin;
    float saved[16], chain[16];
    // Kept as the library keeps its model matrix, for meshes held back.
    copy_m(chain, _state.model_m);
    multmatrix_m(_state.model_m, _m->matrix);
    r_imports.push_model_m(saved);
    r_imports.mult_model_m(_m->matrix);
    if (_m->skin)
        set_skin(_m->skin);
    for (int i = 0; i < _m->nmeshes; ++i)
        if (_m->meshes[i])
            render_mesh(_m->meshes[i], 0);
    for (int i = 0; i < _m->nchildren; ++i)
        if (_m->children[i]) {
            render_model(_m->children[i], _flags);
            _state.cur_model = _m;
        }
    r_imports.pop_model_m(saved);
    copy_m(_state.model_m, chain);
    if (_state.skin != old_skin)
        set_skin(old_skin);
    ++stats.counters[STAT_MODELS];
}

void cam3d_t::render_mesh(mesh_t* _m, int _flags)
{
    CHECK_PTR_V(_m);
    if (!(_flags & 1) && is_trans_mesh(_m))
        return;
    if (d_draw_axes)
        r_imports.render_axes(_m->matrix);
    _state.cur_mesh = _m;
    float saved[16];
    r_imports.push_model_m(saved);
    r_imports.mult_model_m(_m->matrix);
    for (int i = 0; i < _m->npolys; ++i) {
        n_poly* p = &_m->polys[i];
        if (p->mat >= 0)
            set_material((unsigned)p->mat);
        r_imports.render_poly(p);
        ++stats.counters[STAT_POLYS];
        if (d_draw_normals && p->nverts > 0 && p->va && p->vi) {
            const float* v = p->va[p->vi[0]].v;
            float from[4] = {v[0], v[1], v[2], 1};
            float to[4] = {v[0] + p->normal[0], v[1] + p->normal[1], v[2] + p->normal[2], 1};
            r_imports.render_line(from, to);
        }
    }
    r_imports.pop_model_m(saved);
    ++stats.counters[STAT_MESHES];
}

bool cam3d_t::is_trans_mesh(mesh_t* _m)
{
    CHECK_PTR(_m, false);
    CHECK_PTR_NAMED(_state.skin, "_state.skin", false);
    for (int i = 0; i < _m->npolys; ++i) {
        const int mat = _m->polys[i].mat;
        material_t* material = nullptr;
        for (int k = 0; mat >= 0 && k <= mat && _state.skin[k]; ++k)
            if (k == mat)
                material = _state.skin[k];
        if (!material || !(material->flags & MAT_BLENDED))
            continue;
        if (_state.deferred_count >= TRANS_MESHES_MAX) {
            if (!trans_overflow_logged)
                ELOG(EL_MINOR, "camera %s: more than %d transparent meshes in a frame; the rest are drawn at once",
                     s_token::name ? s_token::name : "", (int)TRANS_MESHES_MAX);
            trans_overflow_logged = true;
            return false;
        }
        auto& d = _state.deferred[_state.deferred_count++];
        d.model = _state.cur_model;
        d.mesh = _m;
        d.skin = _state.skin;
        copy_m(d.model_m, _state.model_m);
        return true;
    }
    return false;
}

void cam3d_t::render_trans_meshes(int)
{
    r_imports.depth_mask(0);
    material_t** old_skin = _state.skin;
    for (int i = 0; i < _state.deferred_count; ++i) {
        auto& d = _state.deferred[i];
        material_t** skin = d.model ? d.skin : world ? world->skin : nullptr;
        if (skin != _state.skin)
            set_skin(skin);
        float saved[16];
        if (d.model) {
            r_imports.push_model_m(saved);
            r_imports.mult_model_m(d.model_m);
        }
        render_mesh(d.mesh, 1);
        if (d.model)
            r_imports.pop_model_m(saved);
    }
    if (old_skin != _state.skin)
        set_skin(old_skin);
    r_imports.depth_mask(1);
    _state.deferred_count = 0;
}

void cam3d_t::set_material(unsigned index)
{
    if (!_state.skin || (int)index == _state.cur_mat)
        return;
    for (unsigned k = 0; k <= index; ++k)
        if (!_state.skin[k])
            return;
    material_t* m = _state.skin[index];
    for (d_node* n = m->shaders.first; n; n = n->next)
        if (shader_t* sh = n->object ? dynamic_cast<shader_t*>(n->object) : nullptr)
            if (sh->func)
                sh->func(sh);
    _state.cur_mat = (int)index;
    ++stats.counters[STAT_MATS];
}

void cam3d_t::set_skin(material_t**& _skin)
{
    _state.skin = _skin;
    _state.cur_mat = -1;
}

void cam3d_t::set_rmode(mesh_t* _m)
{
    CHECK_PTR_V(_m);
    float d[4] = {-orient.trans_m[2], -orient.trans_m[6], -orient.trans_m[10], 0};
    float v[4];
    for (int i = 0; i < 3; ++i)
        v[i] = _m->matrix[12 + i] - (wpos.trans_v[i] + lpos.trans_v[i]);
    v[3] = 0;
    if (dotproduct_v(d, v) < 0)
        return;
    const float dist = len_v(v);
    for (int i = 0; i < rmode_count; ++i)
        if (rmodes[i].minz <= dist && dist < rmodes[i].maxz && i != _state.cur_rmode) {
            rmodes[i].exec();
            _state.cur_rmode = i;
            ++stats.counters[STAT_RMODES];
            return;
        }
}

void cam3d_t::dump_frame(FILE* f, const char* tabs)
{
    if (!f || !tabs)
        return;
    fprintf(f, "%sleaves drawn: %d of %d\n", tabs, _state.leaves_drawn, world ? world->stats.ni_nodes : 0);
}

void _render_bbox(bbox_t* _bbox, int)
{
    CHECK_PTR_V(_bbox);
    for (int c = 0; c < 8; ++c) {
        float corner[3], m[16];
        for (int a = 0; a < 3; ++a)
            corner[a] = (c >> a) & 1 ? _bbox->max[a] : _bbox->min[a];
        for (int a = 0; a < 3; ++a) {
            // The edge towards the neighbour across axis a.
            for (int k = 0; k < 3; ++k)
                m[a * 4 + k] = 0;
            m[a * 4 + a] = ((c >> a) & 1 ? _bbox->min[a] : _bbox->max[a]) - corner[a];
            m[a * 4 + 3] = 0;
        }
        m[12] = corner[0];
        m[13] = corner[1];
        m[14] = corner[2];
        m[15] = 1;
        r_imports.render_axes(m);
    }
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
