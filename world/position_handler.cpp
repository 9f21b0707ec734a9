#include "world/position_handler.h"

#include <cinttypes>
#include <cmath>

#include "kdbase/errorlog.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "world/collision_local.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

const float DEAD_VELOCITY_V[4] = {0.0001f, 0.0001f, 0.0001f, 0.0f};

position_handler::position_handler() : pos_v(nullptr), mass(1.0f), motion_flags(0)
{
    for (int i = 0; i < 4; ++i)
        step_v[i] = tpos_v[i] = force_v[i] = accel_v[i] = velocity_v[i] = 0.0f;
}

position_handler::~position_handler() = default;

void position_handler::before_move(float*)
{
}

void position_handler::after_move()
{
}

void position_handler::set_target_pos(float* tpos, float seconds)
{
    if (!pos_v || !tpos || !(seconds > 0)) {
        ELOG(EL_MINDEBUG, "set_target_pos(): pos_v(0x%08" PRIxPTR ") _tpos_v(0x%08" PRIxPTR ") _inseconds=%.3f",
             (uintptr_t)pos_v, (uintptr_t)tpos, (double)seconds);
        return;
    }
    double ms = (double)seconds * 1000.0;
    for (int i = 0; i < 3; ++i)
        step_v[i] = (float)(((double)tpos[i] - pos_v[i]) / ms);
    copy_v(tpos_v, tpos);
    timer.start((unsigned int)ms);
    motion_flags |= MOTION_GLIDE;
}

void position_handler::move_pos_v(float* delta)
{
    if (!pos_v || !delta) {
        ELOG(EL_MINDEBUG, "move_pos_v(): pos_v(0x%08" PRIxPTR ") _delta_v(0x%08" PRIxPTR ")", (uintptr_t)pos_v,
             (uintptr_t)delta);
        return;
    }
    before_move(delta);
    add_v(pos_v, delta);
    after_move();
}

void position_handler::add_force(float* f)
{
    if (!f) {
        ELOG(EL_MINDEBUG, "::add_force(): invalid parameter");
        return;
    }
    for (int i = 0; i < 3; ++i)
        force_v[i] = (float)((double)force_v[i] + (double)f[i] / 1000.0);
    start_delta();
}

void position_handler::add_resistance(float factor)
{
    if (!(factor >= 0 && factor <= 1)) {
        ELOG(EL_MINDEBUG, "::add_resistance(): _res_factor is invalid");
        return;
    }
    for (int i = 0; i < 3; ++i)
        force_v[i] = (float)((double)force_v[i] - (double)velocity_v[i] * factor);
}

void position_handler::start_delta()
{
    timer.start(0);
    motion_flags |= MOTION_FORCES;
}

void position_handler::interpolate()
{
    if (motion_flags & MOTION_GLIDE)
        interpolate_to_pos();
    else
        interpolate_delta();
}

void position_handler::interpolate_to_pos()
{
    if (!pos_v)
        return;
    if (are_equal(pos_v, tpos_v, 0.01f)) {
        motion_flags &= ~MOTION_GLIDE;
        timer.start();
        return;
    }
    float delta[4] = {0, 0, 0, 0};
    if (timer.has_elapsed() > 0)
        multscalar_vr(delta, step_v, (float)timer.cycle_time());
    else
        sub_vr(delta, tpos_v, pos_v);
    move_pos_v(delta);
}

void position_handler::interpolate_delta()
{
    if (!pos_v || !(motion_flags & MOTION_FORCES))
        return;
    timer.has_elapsed();
    float dt = (float)timer.cycle_time();
    if (dt <= 0)
        dt = 0.0001f;
    copy_v3(accel_v, force_v);
    if (mass != 0)
        divscalar_v(accel_v, mass);
    set_v3(force_v, 0, 0, 0);
    if (!is_zero_v(accel_v)) {
        if (dotproduct_v(velocity_v, accel_v) < 0)
            add_v(velocity_v, accel_v);
        else
            copy_v3(velocity_v, accel_v);
    }
    if (are_equal(velocity_v, DEAD_VELOCITY_V, 0.0001f)) {
        set_v3(velocity_v, 0, 0, 0);
        motion_flags &= ~MOTION_FORCES;
        return;
    }
    float delta[4] = {0, 0, 0, 0};
    multscalar_vr(delta, velocity_v, dt);
    move_pos_v(delta);
}

sphere_poly::~sphere_poly()
{
    poly.va = nullptr;  // the scratch arrays are not the polygon's to free
    poly.vi = nullptr;
    delete[] heap_va;
    delete[] heap_vi;
}

void sphere_normal(const n_poly* wall, const float* radius, float* out)
{
    copy_v(out, wall->normal);
    mult_v(out, radius);
    normalize_v(out);
}

int sphere_poly::set(n_poly* wall, const float* radius)
{
    int n = wall->nverts;
    mrv_vertex* va = local_va;
    uint32_t* vi = local_vi;
    if (n > LOCAL) {
        delete[] heap_va;
        delete[] heap_vi;
        heap_va = KD_NEW mrv_vertex[(size_t)n];
        heap_vi = KD_NEW uint32_t[(size_t)n];
        if (!heap_va || !heap_vi) {
            ELOG(EL_MAJOR, "::collided_with_poly(): unable to allocate %d vertices", n);
            return -1;
        }
        va = heap_va;
        vi = heap_vi;
    }
    for (int k = 0; k < n; ++k) {
        const float* v = wall->va[wall->vi[k]].v;
        for (int i = 0; i < 3; ++i)
            va[k].v[i] = (float)((double)v[i] / radius[i]);
        vi[k] = (uint32_t)k;
    }
    poly.va = va;
    poly.vi = vi;
    poly.nverts = poly.vasize = n;
    poly.flags = 0;
    sphere_normal(wall, radius, poly.normal);
    return 0;
}

physical_body::physical_body()
{
    set_v(radius_v, 1, 1, 1, 1);
}

bool physical_body::_can_collide() const
{
    return pos_v && radius_v[0] > 0 && radius_v[1] > 0 && radius_v[2] > 0;
}

void physical_body::get_perimeter_v(float* dir, float* out)
{
    if (!dir || !out || !pos_v) {
        ELOG(EL_MINDEBUG, "::get_perimeter_v(): invalid parameters");
        return;
    }
    float d[4];
    div_vr(d, dir, radius_v);
    normalize_v(d);
    mult_v(d, radius_v);
    add_vr(out, pos_v, d);
}

bool physical_body::collided_with_poly(n_poly* wall, float* delta)
{
    if (!VALID_PRIMITIVE(wall) || !delta || !_can_collide()) {
        ELOG(EL_MINDEBUG, "::collided_with_poly(): invalid parameters");
        return false;
    }
    bool hit = false;
    sphere_poly w;
    float p[4], d[4], dir[4];
    div_vr(p, pos_v, radius_v);
    div_vr(d, delta, radius_v);
    float dist = len_v(d);
    normalize_vr(dir, d);
    sweep_t sw;
    if (w.set(wall, radius_v) == 0) {
        hit = sweep_sphere(&w.poly, p, dir, &sw) && sw.s <= dist;
        if (sw.h < 0)
            ELOG(EL_MINDEBUG, "::collided_with_poly(): pos_v is behind _poly");
    }
    if (hit) {
        multscalar_vr(delta, dir, sw.s);
        mult_v(delta, radius_v);
    }
    set_v3(velocity_v, 0, 0, 0);
    return hit;
}

bool sweep_sphere(n_poly* poly, const float* p, const float* dir, sweep_t* out)
{
    const float* n = poly->normal;
    const float* wp = poly->va[poly->vi[0]].v;
    float down[4], lead[4], point[4], contact[4], back[4], to_contact[4];
    invert_vr(down, n);
    add_vr(lead, p, down);  // the sphere's point nearest the plane
    out->h = ray_directed_distance(wp, n, p, down);
    out->s = out->rank = 0;
    if (out->h < 0)
        return false;
    if (out->h >= 1) {
        multscalar_vr(point, dir, ray_directed_distance(wp, n, lead, dir));
        add_v(point, lead);
    } else {
        multscalar_vr(point, down, out->h);
        add_v(point, p);
    }
    if (poly->is_inside_poly(point))
        copy_v3(contact, point);
    else if (poly->get_closest_vector(point, contact) != 0)
        return false;
    invert_vr(back, dir);
    out->s = out->rank = ray_sphere_directed_distance(contact, back, p, 1.0f);
    // A contact the sphere already reaches (or touches, within rounding),
    // ahead of the move: the body may go no deeper.
    sub_vr(to_contact, contact, p);
    float reach = len_v(to_contact);
    if (out->s < 0 && reach < 1.0001f && dotproduct_v(to_contact, dir) > 0) {
        out->s = 0;
        out->rank = reach - 1;
    }
    return out->s >= 0;
}

bool physical_body::collided_with_body(physical_body* other, float* delta)
{
    if (!other || !delta || !pos_v || !other->pos_v) {
        ELOG(EL_MINDEBUG, "::collided_with_body(): invalid parameters");
        return false;
    }
    float dir[4], back[4], p1[4], p2[4], gap_v[4];
    float dist = len_v(delta);
    normalize_vr(dir, delta);
    invert_vr(back, dir);
    get_perimeter_v(dir, p1);
    other->get_perimeter_v(back, p2);
    float gap = len_v(sub_vr(gap_v, p2, p1));
    bool hit = gap <= dist;
    if (hit)
        multscalar_vr(delta, dir, gap);
    set_v3(velocity_v, 0, 0, 0);
    return hit;
}

void physical_body::dump(FILE* _f, const char* prefix)
{
    CHECK_PTR_V(_f);
    fprintf(_f, "%sradius_v=(%.4f, %.4f, %.4f)\n", prefix ? prefix : "", (double)radius_v[0], (double)radius_v[1],
            (double)radius_v[2]);
}

}  // namespace vantrel
