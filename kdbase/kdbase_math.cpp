#include "kdbase/kdbase_math.h"

#include <cmath>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

// Degrees to radians with pi rounded to single precision, as every caller expects.
constexpr double deg_to_rad = (double)3.1415927f / 180.0;

constexpr double near_zero = 0.0001;

inline double dot3(const float* a, const float* b)
{
    return (double)a[0] * b[0] + (double)a[1] * b[1] + (double)a[2] * b[2];
}

inline double dot4(const float* a, const float* b)
{
    return dot3(a, b) + (double)a[3] * b[3];
}

// Writes a x b into out; out may be a or b.
inline void cross3(float* out, const float* a, const float* b)
{
    double x = (double)a[1] * b[2] - (double)a[2] * b[1];
    double y = (double)a[2] * b[0] - (double)a[0] * b[2];
    double z = (double)a[0] * b[1] - (double)a[1] * b[0];
    out[0] = (float)x;
    out[1] = (float)y;
    out[2] = (float)z;
}

// The matrix product b * a into out (a 4x4 or only its upper 3x3 part).
inline void product(float* out, const float* a, const float* b, int n)
{
    float r[16];
    for (int row = 0; row < n; ++row)
        for (int col = 0; col < n; ++col) {
            double s = 0;
            for (int k = 0; k < n; ++k)
                s += (double)b[row * 4 + k] * a[k * 4 + col];
            r[row * 4 + col] = (float)s;
        }
    for (int row = 0; row < n; ++row)
        for (int col = 0; col < n; ++col)
            out[row * 4 + col] = r[row * 4 + col];
}

inline void identity(float* m)
{
    for (int i = 0; i < 16; ++i)
        m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
}

}  // namespace

// ---- vectors ---------------------------------------------------------------

void set_v(float* v, float x, float y, float z, float w)
{
    v[0] = x;
    v[1] = y;
    v[2] = z;
    v[3] = w;
}

void set_v3(float* v, float x, float y, float z)
{
    v[0] = x;
    v[1] = y;
    v[2] = z;
}

void copy_v(float* dst, const float* src)
{
    for (int i = 0; i < 4; ++i)
        dst[i] = src[i];
}

void copy_v3(float* dst, const float* src)
{
    for (int i = 0; i < 3; ++i)
        dst[i] = src[i];
}

void swap_v(float* a, float* b)
{
    for (int i = 0; i < 4; ++i) {
        float t = a[i];
        a[i] = b[i];
        b[i] = t;
    }
}

void swap_v3(float* a, float* b)
{
    for (int i = 0; i < 3; ++i) {
        float t = a[i];
        a[i] = b[i];
        b[i] = t;
    }
}

void add_v(float* a, const float* b)
{
    for (int i = 0; i < 3; ++i)
        a[i] = (float)((double)a[i] + b[i]);
}

float* add_vr(float* out, const float* a, const float* b)
{
    for (int i = 0; i < 3; ++i)
        out[i] = (float)((double)a[i] + b[i]);
    return out;
}

void sub_v(float* a, const float* b)
{
    for (int i = 0; i < 3; ++i)
        a[i] = (float)((double)a[i] - b[i]);
}

float* sub_vr(float* out, const float* a, const float* b)
{
    for (int i = 0; i < 3; ++i)
        out[i] = (float)((double)a[i] - b[i]);
    return out;
}

void mult_v(float* a, const float* b)
{
    if (!a || !b) {
        ELOG(EL_MINDEBUG, "mult_v(): invalid parameters");
        return;
    }
    for (int i = 0; i < 3; ++i)
        a[i] = (float)((double)a[i] * b[i]);
}

float* mult_vr(float* out, const float* a, const float* b)
{
    if (!out || !a || !b) {
        ELOG(EL_MINDEBUG, "mult_vr(): invalid parameters");
        return nullptr;
    }
    for (int i = 0; i < 3; ++i)
        out[i] = (float)((double)a[i] * b[i]);
    return out;
}

void div_v(float* a, const float* b)
{
    if (!a || !b) {
        ELOG(EL_MINDEBUG, "div_v(): invalid parameters");
        return;
    }
    if (b[0] == 0 || b[1] == 0 || b[2] == 0) {
        ELOG(EL_MINDEBUG, "div_v(): attempted to divide by zero");
        return;
    }
    for (int i = 0; i < 3; ++i)
        a[i] = (float)((double)a[i] / b[i]);
}

float* div_vr(float* out, const float* a, const float* b)
{
    if (!out || !a || !b) {
        ELOG(EL_MINDEBUG, "div_vr(): invalid parameters");
        return nullptr;
    }
    float d[3] = {b[0], b[1], b[2]};  // b may be out
    copy_v3(out, a);
    div_v(out, d);
    return out;
}

void multscalar_v(float* a, float s)
{
    for (int i = 0; i < 3; ++i)
        a[i] = (float)((double)a[i] * s);
}

float* multscalar_vr(float* out, const float* a, float s)
{
    copy_v3(out, a);
    multscalar_v(out, s);
    return out;
}

void divscalar_v(float* a, float s)
{
    if (s == 0)
        return;
    for (int i = 0; i < 3; ++i)
        a[i] = (float)((double)a[i] / s);
}

float* divscalar_vr(float* out, const float* a, float s)
{
    copy_v3(out, a);
    divscalar_v(out, s);
    return out;
}

float dotproduct_v(const float* a, const float* b)
{
    return (float)dot3(a, b);
}

float len_v(const float* a)
{
    return (float)std::sqrt(dot3(a, a));
}

void normalize_v(float* a)
{
    double len = std::sqrt(dot3(a, a));
    if (len == 0)
        return;
    for (int i = 0; i < 3; ++i)
        a[i] = (float)(a[i] / len);
}

float* normalize_vr(float* out, const float* a)
{
    copy_v3(out, a);
    normalize_v(out);
    return out;
}

void crossproduct_v(float* a, const float* b)
{
    cross3(a, a, b);
}

float* crossproduct_vr(float* out, const float* a, const float* b)
{
    cross3(out, a, b);
    return out;
}

void invert_v(float* a)
{
    if (!a) {
        ELOG(EL_MINDEBUG, "invert_v(): invalid parameter");
        return;
    }
    for (int i = 0; i < 3; ++i)
        a[i] = -a[i];
}

float* invert_vr(float* out, const float* a)
{
    if (!out || !a) {
        ELOG(EL_MINDEBUG, "invert_vr(): invalid parameters");
        return nullptr;
    }
    for (int i = 0; i < 3; ++i)
        out[i] = -a[i];
    return out;
}

bool is_zero_v(const float* a)
{
    return a[0] == 0 && a[1] == 0 && a[2] == 0;
}

namespace {
bool equal_n(const float* a, const float* b, float eps, int n)
{
    for (int i = 0; i < n; ++i)
        if (!(std::fabs((double)b[i] - a[i]) <= eps))
            return false;
    return true;
}
}  // namespace

bool are_equal(const float* a, const float* b, float eps)
{
    return a && b && equal_n(a, b, eps, 3);
}

bool are_equal4(const float* a, const float* b, float eps)
{
    return a && b && equal_n(a, b, eps, 4);
}

bool are_equal_m(const float* _m1, const float* _m2, float eps)
{
    CHECK_PTR(_m1, false);
    CHECK_PTR(_m2, false);
    return equal_n(_m1, _m2, eps, 16);
}

void interpolate_v(float* _v, const float* _start_v, const float* _end_v, float t)
{
    CHECK_PTR_V(_v);
    CHECK_PTR_V(_start_v);
    CHECK_PTR_V(_end_v);
    if (!(t >= 0 && t <= 1))
        return;
    for (int i = 0; i < 3; ++i)
        _v[i] = (float)(_start_v[i] + ((double)_end_v[i] - _start_v[i]) * t);
}

float trunc_fraction(float x, float step)
{
    if (step == 0)
        return x;
    double whole;
    double frac = std::modf((double)x / step, &whole);
    return (float)(x - frac * step);
}

void trunc_v(float* v, float step)
{
    for (int i = 0; i < 3; ++i)
        v[i] = trunc_fraction(v[i], step);
}

void trunc_q(float* q, float step)
{
    for (int i = 0; i < 4; ++i)
        q[i] = trunc_fraction(q[i], step);
}

void trunc_m(float* m, float step)
{
    for (int i = 0; i < 16; ++i)
        m[i] = trunc_fraction(m[i], step);
}

int round(float x)
{
    double whole;
    double frac = std::modf((double)x, &whole);
    return (int)(frac >= 0.5 ? std::ceil((double)x) : std::floor((double)x));
}

// ---- matrices --------------------------------------------------------------

void makeIdentityMatrix(float* m)
{
    identity(m);
}

void copy_m(float* dst, const float* src)
{
    if (!dst || !src) {
        ELOG(EL_MINDEBUG, "copy_m(): invalid parameters");
        return;
    }
    for (int i = 0; i < 16; ++i)
        dst[i] = src[i];
}

float* transpose_mr(float* out, const float* m)
{
    float t[16];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            t[c * 4 + r] = m[r * 4 + c];
    for (int i = 0; i < 16; ++i)
        out[i] = t[i];
    return out;
}

void transpose_m(float* m)
{
    transpose_mr(m, m);
}

int lookat_m(float* m, const float* eye, const float* target, const float* up)
{
    if (!m || !eye || !target || !up)
        return -1;
    float f[4] = {0, 0, 0, 0}, s[4] = {0, 0, 0, 0}, u[4] = {0, 0, 0, 0};
    sub_vr(f, target, eye);
    normalize_v(f);
    crossproduct_vr(s, f, up);
    normalize_v(s);
    crossproduct_vr(u, s, f);
    if (dotproduct_v(s, s) < 1e-12f || dotproduct_v(f, f) < 1e-12f)
        return -1;
    for (int i = 0; i < 3; ++i) {
        m[i * 4 + 0] = s[i];
        m[i * 4 + 1] = u[i];
        m[i * 4 + 2] = -f[i];
        m[i * 4 + 3] = 0;
    }
    m[12] = -(s[0] * eye[0] + s[1] * eye[1] + s[2] * eye[2]);
    m[13] = -(u[0] * eye[0] + u[1] * eye[1] + u[2] * eye[2]);
    m[14] = f[0] * eye[0] + f[1] * eye[1] + f[2] * eye[2];
    m[15] = 1;
    return 0;
}

float* multmatrix_mr(float* out, const float* a, const float* b)
{
    if (!out || !a || !b) {
        ELOG(EL_MINDEBUG, "multmatrix_mr(): invalid parameters");
        return nullptr;
    }
    product(out, a, b, 4);
    return out;
}

void multmatrix_m(float* a, const float* b)
{
    multmatrix_mr(a, a, b);
}

float* multmatrix_m3r(float* out, const float* a, const float* b)
{
    if (!out || !a || !b) {
        ELOG(EL_MINDEBUG, "multmatrix_mr(): invalid parameters");
        return nullptr;
    }
    product(out, a, b, 3);
    return out;
}

void multmatrix_m3(float* a, const float* b)
{
    multmatrix_mr(a, a, b);
}

void multmatrix_v(float* v, const float* m)
{
    double r[4];
    for (int j = 0; j < 4; ++j)
        r[j] = (double)v[0] * m[j] + (double)v[1] * m[4 + j] + (double)v[2] * m[8 + j] +
               (double)v[3] * m[12 + j];
    for (int j = 0; j < 4; ++j)
        v[j] = (float)r[j];
}

float* multmatrix_vr(float* out, const float* m, const float* v)
{
    copy_v(out, v);
    multmatrix_v(out, m);
    return out;
}

void multmatrix_v3(float* v, const float* m)
{
    double r[3];
    for (int j = 0; j < 3; ++j)
        r[j] = (double)v[0] * m[j] + (double)v[1] * m[4 + j] + (double)v[2] * m[8 + j] + m[12 + j];
    for (int j = 0; j < 3; ++j)
        v[j] = (float)r[j];
}

float* multmatrix_v3r(float* out, const float* m, const float* v)
{
    copy_v3(out, v);
    multmatrix_v3(out, m);
    return out;
}

void make_translate_m(float* m, float x, float y, float z)
{
    if (!m) {
        ELOG(EL_MINDEBUG, "make_translate_m(): invalid parameters");
        return;
    }
    identity(m);
    m[12] = x;
    m[13] = y;
    m[14] = z;
}

void make_rotatex_m(float* m, float a)
{
    double r = a * deg_to_rad, s = std::sin(r), c = std::cos(r);
    identity(m);
    m[5] = (float)c;
    m[6] = (float)s;
    m[9] = (float)-s;
    m[10] = (float)c;
}

void make_rotatey_m(float* m, float a)
{
    double r = a * deg_to_rad, s = std::sin(r), c = std::cos(r);
    identity(m);
    m[0] = (float)c;
    m[2] = (float)-s;
    m[8] = (float)s;
    m[10] = (float)c;
}

void make_rotatez_m(float* m, float a)
{
    double r = a * deg_to_rad, s = std::sin(r), c = std::cos(r);
    identity(m);
    m[0] = (float)c;
    m[1] = (float)s;
    m[4] = (float)-s;
    m[5] = (float)c;
}

void make_rotate_m(float* m, float ax, float ay, float az)
{
    if (!m) {
        ELOG(EL_MINDEBUG, "make_rotate_m(): invalid parameters");
        return;
    }
    double sx = std::sin(ax * deg_to_rad), cx = std::cos(ax * deg_to_rad);
    double sy = std::sin(ay * deg_to_rad), cy = std::cos(ay * deg_to_rad);
    double sz = std::sin(az * deg_to_rad), cz = std::cos(az * deg_to_rad);
    const double r[16] = {
        cz * cy,                sz * cy,                -sy,     0,
        cz * sy * sx - sz * cx, sz * sy * sx + cz * cx, cy * sx, 0,
        cz * sy * cx + sz * sx, sz * sy * cx - cz * sx, cy * cx, 0,
        0,                      0,                      0,       1,
    };
    for (int i = 0; i < 16; ++i)
        m[i] = (float)r[i];
}

void orient_axes(float* m, const float* dir)
{
    if (!m || !dir)
        return;
    copy_v(m + 8, dir);
    cross3(m, m + 4, m + 8);
    cross3(m + 4, m + 8, m);
}

void _set_axes(float* m, const float* forward, const float* up)
{
    if (!m || !forward || !up)
        return;
    float u[3] = {up[0], up[1], up[2]};  // up may live in m
    for (int i = 0; i < 4; ++i)
        m[i] = 0;
    copy_v3(m + 8, forward);
    cross3(m, u, m + 8);
    normalize_v(m);
    cross3(m + 4, m + 8, m);
}

void set_axes(float* m, const float* forward, const float* up)
{
    if (!m || !forward || !up)
        return;
    float f[4], u[4];
    normalize_vr(f, forward);
    normalize_vr(u, up);
    _set_axes(m, f, u);
}

// ---- lines, planes and spheres ----------------------------------------------

void get_closest_vector_on_line(const float* a, const float* b, const float* p, float* out)
{
    if (!a || !b || !p || !out) {
        ELOG(EL_MINDEBUG, "get_closest_vector_on_line(): invalid parameters");
        return;
    }
    float u[3], ap[3];
    sub_vr(u, b, a);
    double len = std::sqrt(dot3(u, u));
    normalize_v(u);
    sub_vr(ap, p, a);
    double t = dot3(ap, u);
    if (t < 0) {
        copy_v3(out, a);
    } else if (t > len) {
        copy_v3(out, b);
    } else {
        for (int i = 0; i < 3; ++i)
            out[i] = (float)(a[i] + t * u[i]);
    }
}

namespace {
double seg_distance(const float* p, const float* n, const float* a, const float* b)
{
    double num = ((double)p[0] - a[0]) * n[0] + ((double)p[1] - a[1]) * n[1] + ((double)p[2] - a[2]) * n[2];
    double den = ((double)b[0] - a[0]) * n[0] + ((double)b[1] - a[1]) * n[1] + ((double)b[2] - a[2]) * n[2];
    if (std::fabs(den) < near_zero)
        den = near_zero;
    return num / den;
}
}  // namespace

float seg_directed_distance(const float* p, const float* n, const float* a, const float* b)
{
    if (!p || !n || !a || !b) {
        ELOG(EL_MINDEBUG, "seg_directed_distance(): invalid parameters");
        return 0;
    }
    return (float)seg_distance(p, n, a, b);
}

float ray_directed_distance(const float* p, const float* n, const float* origin, const float* dir)
{
    if (!p || !n || !origin || !dir) {
        ELOG(EL_MINDEBUG, "ray_directed_distance(): invalid parameters");
        return 0;
    }
    float end[3];
    add_vr(end, origin, dir);
    return (float)seg_distance(p, n, origin, end);
}

float ray_sphere_directed_distance(const float* origin, const float* dir, const float* centre, float r)
{
    if (!origin || !dir || !centre) {
        ELOG(EL_MINDEBUG, "ray_sphere_directed_distance(): invalid parameters");
        return 0;
    }
    double l[3];
    for (int i = 0; i < 3; ++i)
        l[i] = (double)centre[i] - origin[i];
    double tca = l[0] * dir[0] + l[1] * dir[1] + l[2] * dir[2];
    double d2 = l[0] * l[0] + l[1] * l[1] + l[2] * l[2] - tca * tca;
    double h = (double)r * r - d2;
    if (h < 0)
        return -1;
    return (float)(tca - std::sqrt(h));
}

int intersect(const float* p0, const float* p1, const float* q, const float* n, float* out)
{
    if (!p0 || !p1 || !q || !n || !out) {
        ELOG(EL_MINDEBUG, "get_intersect(): invalid parameters");
        return 0;
    }
    double d[3], w[3];
    for (int i = 0; i < 3; ++i) {
        d[i] = (double)p1[i] - p0[i];
        w[i] = (double)q[i] - p0[i];
    }
    double den = d[0] * n[0] + d[1] * n[1] + d[2] * n[2];
    if (std::fabs(den) < near_zero)
        return 0;
    double t = (w[0] * n[0] + w[1] * n[1] + w[2] * n[2]) / den;
    if (!(t >= 0 && t < 1))
        return 0;
    for (int i = 0; i < 3; ++i)
        out[i] = (float)(p0[i] + t * d[i]);
    return 1;
}

// ---- quaternions --------------------------------------------------------------

void add_q(float* a, const float* b)
{
    for (int i = 0; i < 4; ++i)
        a[i] = (float)((double)a[i] + b[i]);
}

float* add_qr(float* out, const float* a, const float* b)
{
    for (int i = 0; i < 4; ++i)
        out[i] = (float)((double)a[i] + b[i]);
    return out;
}

void sub_q(float* a, const float* b)
{
    for (int i = 0; i < 4; ++i)
        a[i] = (float)((double)a[i] - b[i]);
}

float* sub_qr(float* out, const float* a, const float* b)
{
    for (int i = 0; i < 4; ++i)
        out[i] = (float)((double)a[i] - b[i]);
    return out;
}

void multscalar_q(float* a, float s)
{
    for (int i = 0; i < 4; ++i)
        a[i] = (float)((double)a[i] * s);
}

float* multscalar_qr(float* out, const float* a, float s)
{
    copy_v(out, a);
    multscalar_q(out, s);
    return out;
}

void divscalar_q(float* a, float s)
{
    if (s == 0)
        return;
    for (int i = 0; i < 4; ++i)
        a[i] = (float)((double)a[i] / s);
}

float* divscalar_qr(float* out, const float* a, float s)
{
    copy_v(out, a);
    divscalar_q(out, s);
    return out;
}

void conj_q(float* a)
{
    for (int i = 0; i < 3; ++i)
        a[i] = -a[i];
}

float* conj_qr(float* out, const float* a)
{
    copy_v(out, a);
    conj_q(out);
    return out;
}

float norm_q(const float* a)
{
    return (float)dot4(a, a);
}

float len_q(const float* a)
{
    return (float)std::sqrt(dot4(a, a));
}

void normalize_q(float* a)
{
    double len = std::sqrt(dot4(a, a));
    if (len == 0)
        return;
    for (int i = 0; i < 4; ++i)
        a[i] = (float)(a[i] / len);
}

float* normalize_qr(float* out, const float* a)
{
    copy_v(out, a);
    normalize_q(out);
    return out;
}

float dotproduct_q(const float* a, const float* b)
{
    return (float)dot4(a, b);
}

void inverse_q(float* a)
{
    double n = dot4(a, a);
    conj_q(a);
    if (n == 0)
        return;
    for (int i = 0; i < 4; ++i)
        a[i] = (float)(a[i] / n);
}

float* inverse_qr(float* out, const float* a)
{
    copy_v(out, a);
    inverse_q(out);
    return out;
}

float* mult_qr(float* out, const float* a, const float* b)
{
    double w = (double)a[3] * b[3] - dot3(a, b);
    double x = (double)a[0] * b[3] + (double)b[0] * a[3] + ((double)a[1] * b[2] - (double)a[2] * b[1]);
    double y = (double)a[1] * b[3] + (double)b[1] * a[3] + ((double)a[2] * b[0] - (double)a[0] * b[2]);
    double z = (double)a[2] * b[3] + (double)b[2] * a[3] + ((double)a[0] * b[1] - (double)a[1] * b[0]);
    out[0] = (float)x;
    out[1] = (float)y;
    out[2] = (float)z;
    out[3] = (float)w;
    return out;
}

void mult_q(float* a, const float* b)
{
    mult_qr(a, a, b);
}

namespace {
// The two slerp weights for cos theta = c (already flipped to the short arc).
void slerp_weights(double c, double t, double& s1, double& s2)
{
    if (1 - c <= near_zero) {
        s1 = 1 - t;
        s2 = t;
        return;
    }
    if (c < -1)
        c = -1;  // rounding must not push acos out of its domain
    double theta = std::acos(c), s = std::sin(theta);
    s1 = std::sin((1 - t) * theta) / s;
    s2 = std::sin(t * theta) / s;
}
}  // namespace

float* slerp_qr(float* out, const float* q1, const float* q2, float t)
{
    double c = dot4(q1, q2), sign = 1;
    if (c < 0) {
        c = -c;
        sign = -1;
    }
    double s1, s2;
    slerp_weights(c, t, s1, s2);
    s2 *= sign;
    double r[4];
    for (int i = 0; i < 4; ++i)
        r[i] = s1 * q1[i] + s2 * q2[i];
    for (int i = 0; i < 4; ++i)
        out[i] = (float)r[i];
    return out;
}

float* slerp_vr(float* out, const float* a, const float* b, float t)
{
    double s1, s2;
    slerp_weights(dot3(a, b), t, s1, s2);
    double r[4];
    for (int i = 0; i < 4; ++i)
        r[i] = s1 * a[i] + s2 * b[i];
    for (int i = 0; i < 4; ++i)
        out[i] = (float)r[i];
    return out;
}

void convert_q2m(float* _m, const float* _q)
{
    CHECK_PTR_V(_m);
    CHECK_PTR_V(_q);
    double x = _q[0], y = _q[1], z = _q[2], w = _q[3];
    const double r[16] = {
        1 - 2 * (y * y + z * z), 2 * (x * y - w * z),     2 * (x * z + w * y),     0,
        2 * (x * y + w * z),     1 - 2 * (x * x + z * z), 2 * (y * z - w * x),     0,
        2 * (x * z - w * y),     2 * (y * z + w * x),     1 - 2 * (x * x + y * y), 0,
        0,                       0,                       0,                       1,
    };
    for (int i = 0; i < 16; ++i)
        _m[i] = (float)r[i];
}

void convert_m2q(float* _q, const float* _m)
{
    CHECK_PTR_V(_q);
    CHECK_PTR_V(_m);
    const float* m = _m;
    double trace = (double)m[0] + m[5] + m[10];
    double x, y, z, w;
    if (trace > near_zero) {
        double s = 2 * std::sqrt(trace + 1);
        x = ((double)m[9] - m[6]) / s;
        y = ((double)m[2] - m[8]) / s;
        z = ((double)m[4] - m[1]) / s;
        w = s / 4;
    } else if (m[0] > m[5] && m[0] > m[10]) {
        double s = 2 * std::sqrt((double)m[0] + 1 - m[5] - m[10]);
        x = s / 4;
        y = ((double)m[4] + m[1]) / s;
        z = ((double)m[2] + m[8]) / s;
        w = ((double)m[9] - m[6]) / s;
    } else if (m[5] <= m[10]) {
        double s = 2 * std::sqrt((double)m[10] + 1 - m[0] - m[5]);
        x = ((double)m[2] + m[8]) / s;
        y = ((double)m[9] + m[6]) / s;
        z = s / 4;
        w = ((double)m[4] - m[1]) / s;
    } else {
        double s = 2 * std::sqrt((double)m[5] + 1 - m[0] - m[10]);
        x = ((double)m[4] + m[1]) / s;
        y = s / 4;
        z = ((double)m[9] + m[6]) / s;
        w = ((double)m[2] - m[8]) / s;
    }
    _q[0] = (float)x;
    _q[1] = (float)y;
    _q[2] = (float)z;
    _q[3] = (float)w;
}

// ---- printers ----------------------------------------------------------------

void _dump_v(FILE* _f, const float* _v, const char* tabs)
{
    if (!_f)
        return;  // printers write nothing to a missing stream, silently
    CHECK_PTR_V(_v);
    fprintf(_f, "%svector=(%.6f, %.6f, %.6f)\n", tabs ? tabs : "", _v[0], _v[1], _v[2]);
}

void dump_v(FILE* _f, const float* _v)
{
    _dump_v(_f, _v, "");
}

void dump_q(FILE* _f, const float* _q, const char* tabs)
{
    if (!_f)
        return;
    CHECK_PTR_V(_q);
    fprintf(_f, "%squat=( (%f, %f, %f), %f )\n", tabs ? tabs : "", _q[0], _q[1], _q[2], _q[3]);
}

void dump_m(FILE* _f, const float* _m, int mode, const char* tabs)
{
    if (!_f)
        return;
    CHECK_PTR_V(_m);
    if (!tabs)
        tabs = "";
    if (mode == 1) {
        fprintf(_f, "%s+++4x4 matrix\n", tabs);
        for (int c = 0; c < 4; ++c)
            fprintf(_f, "%s  | %011.6f %011.6f %011.6f %011.6f |\n", tabs, _m[c], _m[4 + c], _m[8 + c],
                    _m[12 + c]);
        fprintf(_f, "%s---end matrix\n", tabs);
    } else {
        fprintf(_f, "%s+++4x4 ROW matrix\n", tabs);
        for (int r = 0; r < 4; ++r)
            fprintf(_f, "%s..| %011.6f %011.6f %011.6f %011.6f |\n", tabs, _m[r * 4], _m[r * 4 + 1],
                    _m[r * 4 + 2], _m[r * 4 + 3]);
        fprintf(_f, "%s---end ROW matrix\n", tabs);
    }
}

void _dump_m(FILE* _f, const float* _m, const char* tabs)
{
    if (!_f || !_m || !tabs)
        return;
    dump_m(_f, _m, 1, tabs);
}

void _dump_row_m(FILE* _f, const float* _m, const char* tabs)
{
    CHECK_PTR_V(_f);
    CHECK_PTR_V(_m);
    dump_m(_f, _m, 0, tabs);
}

}  // namespace vantrel
