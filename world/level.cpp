#include "world/level.h"

#include <cfloat>
#include <cinttypes>

#include "kdbase/errorlog.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "world/collision_local.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

level_t::level_t() : ents(0), lights(0), res_factor(0.0f)
{
    set_v(force1_v, 0, 0, 0, 0);
    set_v(force2_v, 0, 0, 0, 0);
}

// World length of the unit-sphere step dir * t of a body of radius r.
static float world_length(const float* dir, float t, const float* r)
{
    float v[4];
    multscalar_vr(v, dir, t);
    mult_v(v, r);
    return len_v(v);
}

n_poly* level_t::_get_closest_wall(physical_body* _ent, float* _delta_v, float* out_dist)
{
    if (out_dist)
        *out_dist = FLT_MAX;
    CHECK_PTR(_ent, nullptr);
    CHECK_PTR(_delta_v, nullptr);
    CHECK_PTR(meshes, nullptr);
    if (!_ent->_can_collide()) {
        ELOG(EL_MINDEBUG, "::_get_closest_wall(): invalid parameters");
        return nullptr;
    }
    bsp_index_t* leaf = get_leaf_at_pos(_ent->pos_v);
    if (!leaf) {
        ELOG(EL_MINDEBUG, "::_get_closest_wall(): entity's pos_v is stuck in wall");
        return nullptr;
    }
    if (!leaf->meshes) {
        ELOG(EL_MINDEBUG, "::_get_closest_wall(): entity is stuck in wall");
        return nullptr;
    }
    const float* r = _ent->radius_v;
    float p[4], dir[4];
    div_vr(p, _ent->pos_v, r);
    div_vr(dir, _delta_v, r);
    normalize_v(dir);
    n_poly* best_poly = nullptr;
    float best = FLT_MAX;
    for (int32_t* m = leaf->meshes; *m != -1; ++m) {
        if (*m < 0 || *m >= stats.nmeshes || !meshes[*m])
            continue;
        mesh_t* mesh = meshes[*m];
        for (int k = 0; k < mesh->npolys; ++k) {
            n_poly* poly = &mesh->polys[k];
            // The sign of the normal's dot product survives the scaling, so
            // walls faced from behind or side-on are skipped before any work.
            if (!VALID_PRIMITIVE(poly) || !(dotproduct_v(poly->normal, _delta_v) < 0))
                continue;
            float n[4], wp[4], up[4];
            sphere_normal(poly, r, n);
            div_vr(wp, poly->va[poly->vi[0]].v, r);
            float h = dotproduct_v(sub_vr(up, p, wp), n);  // height of the centre above the plane
            // The sphere reaches the plane no sooner than this: walls that
            // cannot beat the best so far are skipped before any copy.
            if (h < 0 || (h >= 1 && !((h - 1) / -dotproduct_v(dir, n) < best)))
                continue;
            sphere_poly w;
            sweep_t sw;
            if (w.set(poly, r) != 0 || !sweep_sphere(&w.poly, p, dir, &sw) || !(sw.rank < best))
                continue;
            best = sw.rank;
            best_poly = poly;
        }
    }
    if (out_dist && best_poly)
        *out_dist = best > 0 ? world_length(dir, best, r) : 0.0f;
    return best_poly;
}

physical_body* level_t::_get_closest_ent(physical_body* _ent, float* _delta_v, float* out_dist)
{
    float best = 10000.0f;
    if (out_dist)
        *out_dist = best;
    CHECK_PTR(_ent, nullptr);
    CHECK_PTR(_delta_v, nullptr);
    if (!_ent->_can_collide()) {
        ELOG(EL_MINDEBUG, "::_get_closest_ent(): invalid parameters");
        return nullptr;
    }
    float dir[4], perim[4];
    normalize_vr(dir, _delta_v);
    _ent->get_perimeter_v(dir, perim);
    physical_body* found = nullptr;
    for (d_node* node = ents.first; node; node = node->next) {
        physical_body* e = node->object ? dynamic_cast<physical_body*>(node->object) : nullptr;
        if (!e || e == _ent || !e->_can_collide())
            continue;
        float to_e[4];
        if (!(dotproduct_v(sub_vr(to_e, _ent->pos_v, e->pos_v), dir) < 0))
            continue;
        // In e's space the direction is no longer of unit length: renormalise.
        const float* r = e->radius_v;
        float p[4], d[4], c[4];
        div_vr(p, perim, r);
        div_vr(d, dir, r);
        normalize_v(d);
        div_vr(c, e->pos_v, r);
        float t = ray_sphere_directed_distance(p, d, c, 1.0f);
        if (!(t >= 0))
            continue;
        float dist = world_length(d, t, r);
        if (dist < best) {
            best = dist;
            found = e;
        }
    }
    if (out_dist)
        *out_dist = best;
    return found;
}

void level_t::do_collision_check(physical_body* _ent, float* _delta_v)
{
    CHECK_PTR_V(_ent);
    CHECK_PTR_V(_delta_v);
    float wall_dist = 10000.0f, ent_dist = 10000.0f;
    n_poly* wall = _get_closest_wall(_ent, _delta_v, &wall_dist);
    physical_body* other = _get_closest_ent(_ent, _delta_v, &ent_dist);
    if (wall && wall_dist < ent_dist)
        _ent->collided_with_poly(wall, _delta_v);
    else if (other)
        _ent->collided_with_body(other, _delta_v);
    _ent->add_force(force1_v);
    _ent->add_force(force2_v);
    _ent->add_resistance(res_factor);
}

}  // namespace vantrel
