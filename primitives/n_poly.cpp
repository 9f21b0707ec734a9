#include "primitives/n_poly.h"

#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdarg>

#include "kdbase/errorlog.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

// The k-th vertex of a primitive in index order.
inline mrv_vertex* vert_at(base_primitive* p, int k)
{
    return &p->va[p->vi[k]];
}

// Signed distance of x from the plane of a usable polygon.
inline double plane_distance(const float* x, n_poly* plane)
{
    const float* p0 = vert_at(plane, 0)->v;
    const float* n = plane->normal;
    return ((double)x[0] - p0[0]) * n[0] + ((double)x[1] - p0[1]) * n[1] + ((double)x[2] - p0[2]) * n[2];
}

inline int classify(const float* x, n_poly* plane)
{
    double d = plane_distance(x, plane);
    if (d > PL_EPSILON)
        return PL_FRONT;
    if (d < -PL_EPSILON)
        return PL_BACK;
    if (std::fabs(d) <= PL_EPSILON)
        return PL_ONPLANE;
    return PL_INVALID;  // NaN
}

}  // namespace

n_poly::n_poly()
{
    normal[0] = normal[1] = normal[2] = normal[3] = 0.0f;
}

int n_poly::calculate_normal(float* matrix)
{
    if (!VALID_PRIMITIVE(this)) {
        ELOG(EL_MINDEBUG, "n_poly::calculate_normal(): no vertices defined");
        return -1;
    }
    if (nverts < 2) {
        ELOG(EL_MINDEBUG, "n_poly::calculate_normal(): need at least 2 vertices (%d vertices)", nverts);
        return -1;
    }
    float e1[3], e2[3];
    sub_vr(e1, vert_at(this, 1)->v, vert_at(this, 0)->v);
    sub_vr(e2, vert_at(this, nverts - 1)->v, vert_at(this, 0)->v);
    crossproduct_vr(normal, e1, e2);
    if (matrix)
        multmatrix_v3(normal, matrix);
    normalize_v(normal);
    return 0;
}

int n_poly::copy(n_poly* src)
{
    if (!src) {
        ELOG(EL_MINDEBUG, "n_poly::copy(): invalid parameters");
        return -1;
    }
    base_primitive::copy(src);
    copy_v(normal, src->normal);
    return 0;
}

int n_poly::duplicate(n_poly* src)
{
    if (!VALID_PRIMITIVE(src)) {
        ELOG(EL_MINDEBUG, "duplicate(): invalid parameters");
        return -1;
    }
    if (src != this)
        copy(src);
    return _copy_verts(src);
}

int n_poly::_copy_verts(n_poly* src)
{
    if (!VALID_PRIMITIVE(src)) {
        ELOG(EL_MINDEBUG, "n_poly::_copy_verts(): _poly is invalid");
        return -1;
    }
    // The new arrays are filled before the old ones go: src may share them.
    int n = src->nverts;
    mrv_vertex* new_va;
    uint32_t* new_vi;
    if (_new_arrays(n, n, &new_va, &new_vi) < 0) {
        _delete_verts();
        return -1;
    }
    for (int k = 0; k < n; ++k)
        copy_vert(&new_va[k], vert_at(src, k));
    _take_arrays(new_va, new_vi, n, n);
    return 0;
}

int n_poly::set_verts(mrv_vertex* src, int count, ...)
{
    if (!VALID_PRIMITIVE(this) || !src || count < 1) {
        ELOG(EL_MINDEBUG, "n_poly::set_verts(): invalid parameters");
        return -1;
    }
    mrv_vertex* new_va;
    uint32_t* new_vi;
    if (_new_arrays(count, count, &new_va, &new_vi) < 0) {
        _delete_verts();
        return -1;
    }
    va_list ap;
    va_start(ap, count);
    for (int k = 0; k < count; ++k)
        copy_vert(&new_va[k], &src[va_arg(ap, int)]);
    va_end(ap);
    _take_arrays(new_va, new_vi, count, count);
    return 0;
}

int n_poly::get_bounds(float* min, float* max)
{
    if (!VALID_PRIMITIVE(this) || !min || !max) {
        ELOG(EL_MINDEBUG, "n_poly::get_bounds(): invalid parameters");
        return -1;
    }
    set_v3(min, FLT_MAX, FLT_MAX, FLT_MAX);
    set_v3(max, -FLT_MAX, -FLT_MAX, -FLT_MAX);
    for (int k = 0; k < nverts; ++k) {
        const float* v = vert_at(this, k)->v;
        for (int i = 0; i < 3; ++i) {
            if (v[i] < min[i])
                min[i] = v[i];
            if (v[i] > max[i])
                max[i] = v[i];
        }
    }
    return 0;
}

int n_poly::compare_bounds(n_poly* other)
{
    if (!VALID_PRIMITIVE(this) || !VALID_PRIMITIVE(other)) {
        ELOG(EL_MINDEBUG, "n_poly::compare_bounds(): invalid _poly");
        return 1;
    }
    float min[3], max[3], diag[3];
    get_bounds(min, max);
    float mine = len_v(sub_vr(diag, max, min));
    other->get_bounds(min, max);
    float theirs = len_v(sub_vr(diag, max, min));
    if (std::fabs(mine - theirs) <= 0.0001f)
        return 0;
    return mine < theirs ? -1 : 1;
}

int n_poly::get_closest_vector(float* p, float* out)
{
    if (!VALID_PRIMITIVE(this) || !p || !out) {
        ELOG(EL_MINDEBUG, "::get_closest_vector(): invalid parameters");
        return -1;
    }
    float best = 10000.0f;
    float point[3], diff[3];
    const float* prev = vert_at(this, nverts - 1)->v;
    for (int k = 0; k < nverts; ++k) {
        const float* cur = vert_at(this, k)->v;
        get_closest_vector_on_line(prev, cur, p, point);
        float d = len_v(sub_vr(diff, point, p));
        if (d < best) {
            best = d;
            copy_v3(out, point);
        }
        prev = cur;
    }
    return 0;
}

int n_poly::transform_to_sphere(float* radius)
{
    if (!VALID_PRIMITIVE(this) || !radius) {
        ELOG(EL_MINDEBUG, "::transform_to_sphere(): invalid parameters");
        return -1;
    }
    for (int k = 0; k < nverts; ++k)
        div_v(vert_at(this, k)->v, radius);
    div_v(normal, radius);
    normalize_v(normal);
    return 0;
}

int n_poly::untransform_from_sphere(float* radius)
{
    if (!VALID_PRIMITIVE(this) || !radius) {
        ELOG(EL_MINDEBUG, "::untransform_from_sphere(): invalid parameters");
        return -1;
    }
    for (int k = 0; k < nverts; ++k)
        mult_v(vert_at(this, k)->v, radius);
    mult_v(normal, radius);
    normalize_v(normal);
    return 0;
}

bool n_poly::is_inside_poly(float* p)
{
    if (!VALID_PRIMITIVE(this) || !p) {
        ELOG(EL_MINDEBUG, "::is_inside_poly(): invalid parameters");
        return false;
    }
    // Unit directions from p to each vertex; a vertex at p gives a zero direction.
    auto direction = [p](const float* v, double* d) {
        double len = 0;
        for (int i = 0; i < 3; ++i) {
            d[i] = (double)v[i] - p[i];
            len += d[i] * d[i];
        }
        len = std::sqrt(len);
        if (len != 0)
            for (int i = 0; i < 3; ++i)
                d[i] /= len;
    };
    double prev[3], cur[3];
    direction(vert_at(this, nverts - 1)->v, prev);
    double sum = 0;
    for (int k = 0; k < nverts; ++k) {
        direction(vert_at(this, k)->v, cur);
        double c = prev[0] * cur[0] + prev[1] * cur[1] + prev[2] * cur[2];
        // Rounding may push the cosine of a straight angle just past -1.
        c = c < -1 ? -1 : (c > 1 ? 1 : c);
        sum += std::acos(c);
        for (int i = 0; i < 3; ++i)
            prev[i] = cur[i];
    }
    return sum + 0.0001 >= (double)6.2831855f;
}

int p_location_v(float* p, n_poly* plane)
{
    if (!p || !VALID_PRIMITIVE(plane)) {
        ELOG(EL_MINDEBUG, "p_location_v(): received invalid parameters");
        return PL_INVALID;
    }
    return classify(p, plane);
}

int p_location_poly(n_poly* poly, n_poly* plane)
{
    if (!VALID_PRIMITIVE(poly)) {
        ELOG(EL_MINDEBUG, "p_location_poly(): _poly has no vertices");
        return PL_INVALID;
    }
    if (!VALID_PRIMITIVE(plane)) {
        ELOG(EL_MINDEBUG, "p_location_poly(): _plane has no vertices");
        return PL_INVALID;
    }
    return combine_locations(poly->nverts, [&](int k) { return classify(vert_at(poly, k)->v, plane); });
}

// Each half of a split holds at most this many vertices.
enum { SPLIT_MAX_VERTS = 64 };

namespace {

// The vertices of both halves of a split, front (0) and back (1), in order.
// Crossing vertices live in the pool; they go to both halves, so a half's
// limit bounds them too.
struct split_sides {
    mrv_vertex pool[SPLIT_MAX_VERTS];
    int npool = 0;
    mrv_vertex* side[2][SPLIT_MAX_VERTS];
    int count[2] = {0, 0};

    bool add(int s, mrv_vertex* v)
    {
        if (count[s] == SPLIT_MAX_VERTS) {
            ELOG(EL_MINDEBUG, "split_polygon(): more than %d vertices on one side", SPLIT_MAX_VERTS);
            return false;
        }
        side[s][count[s]++] = v;
        return true;
    }

    int gather(n_poly* poly, n_poly* plane)
    {
        const float* p0 = vert_at(plane, 0)->v;
        mrv_vertex* prev = vert_at(poly, poly->nverts - 1);
        for (int k = 0; k < poly->nverts; ++k) {
            mrv_vertex* cur = vert_at(poly, k);
            float t = seg_directed_distance(p0, plane->normal, prev->v, cur->v);
            if (t >= 0 && t < 1) {
                if (npool == SPLIT_MAX_VERTS) {
                    ELOG(EL_MINDEBUG, "split_polygon(): unable to create new_lv");
                    return -1;
                }
                mrv_vertex* nv = &pool[npool++];
                for (int i = 0; i < 3; ++i) {
                    nv->v[i] = prev->v[i] + (cur->v[i] - prev->v[i]) * t;
                    nv->n[i] = 0.0f;
                }
                for (int i = 0; i < 2; ++i)
                    nv->t[i] = prev->t[i] + (cur->t[i] - prev->t[i]) * t;
                if (!add(0, nv) || !add(1, nv))
                    return -1;
            }
            int where = classify(cur->v, plane);
            if (where == PL_INVALID) {
                ELOG(EL_MINDEBUG, "split_poly(): p_location_v() returned an invalid location");
                return -1;
            }
            if (where != PL_BACK && !add(0, cur))
                return -1;
            if (where != PL_FRONT && !add(1, cur))
                return -1;
            prev = cur;
        }
        return 0;
    }
};

}  // namespace

int split_poly(n_poly* poly, n_poly* plane, n_poly* front, n_poly* back)
{
    if (!front || !back || front == back) {
        ELOG(EL_MINDEBUG, "split_polygon(): invalid parameters");
        return -1;
    }
    if (!VALID_PRIMITIVE(poly)) {
        ELOG(EL_MINDEBUG, "split_polygon(): _poly has no vertices");
        return -1;
    }
    if (!VALID_PRIMITIVE(plane)) {
        ELOG(EL_MINDEBUG, "split_polygon(): _plane has no vertices");
        return -1;
    }
    split_sides sides;
    if (sides.gather(poly, plane) < 0)
        return -1;
    // Both halves are built before either is installed: front or back may be
    // poly itself, or own the arrays poly reads from.
    mrv_vertex* new_va[2] = {nullptr, nullptr};
    uint32_t* new_vi[2] = {nullptr, nullptr};
    for (int s = 0; s < 2; ++s) {
        int n = sides.count[s];
        if (n < 1) {
            ELOG(EL_MINDEBUG, "n_poly::_alloc_verts(): unable to allocate %d vertices", n);
            break;
        }
        if (base_primitive::_new_arrays(n, n, &new_va[s], &new_vi[s]) < 0)
            break;
        for (int k = 0; k < n; ++k)
            copy_vert(&new_va[s][k], sides.side[s][k]);
    }
    if (!new_va[0] || !new_va[1]) {
        delete[] new_va[0];
        delete[] new_vi[0];
        return -1;
    }
    float normal[4];
    copy_v(normal, poly->normal);
    int32_t mat = poly->mat;
    uint32_t flags = poly->flags;
    n_poly* half[2] = {front, back};
    for (int s = 0; s < 2; ++s) {
        half[s]->_take_arrays(new_va[s], new_vi[s], sides.count[s], sides.count[s]);
        copy_v(half[s]->normal, normal);
        half[s]->mat = mat;
        half[s]->flags = flags | PRIM_OWNS_ARRAYS;
    }
    return 0;
}

bool are_equal_polys(n_poly* a, n_poly* b)
{
    if (!a || !b) {
        ELOG(EL_MINDEBUG, "invalid parameters");
        return false;
    }
    if (a->mat != b->mat || a->nverts != b->nverts || !are_equal(a->normal, b->normal, 0.0001f))
        return false;
    if (a->nverts > 0 && (!VALID_PRIMITIVE(a) || !VALID_PRIMITIVE(b)))
        return false;
    for (int k = 0; k < a->nverts; ++k)
        if (!are_equal_verts(vert_at(a, k), vert_at(b, k)))
            return false;
    return true;
}

void _dump_poly(FILE* f, n_poly* poly, const char* tabs)
{
    if (!f || !tabs)
        return;
    if (!VALID_PRIMITIVE(poly)) {
        fprintf(f, "%spoly=%" PRIxPTR " va=%" PRIxPTR " vi=%" PRIxPTR " nverts=%d vasize=%d\n", tabs,
                (uintptr_t)poly, (uintptr_t)(poly ? poly->va : nullptr), (uintptr_t)(poly ? poly->vi : nullptr),
                poly ? poly->nverts : 0, poly ? poly->vasize : 0);
        return;
    }
    fprintf(f, "%s+++polygon: %d vertices\n", tabs, poly->nverts);
    for (int k = 0; k < poly->nverts; ++k)
        _dump_v(f, vert_at(poly, k)->v, tabs);
    fprintf(f, "%snormal ", tabs);
    dump_v(f, poly->normal);
    fprintf(f, "%s---end polygon\n", tabs);
}

void dump_poly(FILE* f, n_poly* poly)
{
    _dump_poly(f, poly, "");
}

void dump_poly_list(FILE* f, d_list* polys)
{
    if (!f || !polys) {
        ELOG(EL_MINDEBUG, "dump_poly_list(): invalid parameters");
        return;
    }
    fprintf(f, "+++[polygon listing: %d polygons\n", polys->count);
    for (d_node* n = polys->first; n; n = n->next)
        dump_poly(f, static_cast<n_poly*>(n->object));
    fprintf(f, "---end polygon listing]\n");
}

}  // namespace vantrel
