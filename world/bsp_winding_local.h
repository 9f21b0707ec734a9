// Double-precision planes and convex windings for the sound build of the BSP
// tree, its portals and its visibility (private to world/).
//
// A node plane is kept as the tree stores it (one float point and a float
// normal) and evaluated in double, so every stage, point location included,
// agrees on the side of a point. The plane thickness used while building is
// scaled to the size of the coordinates (level_epsilon): float vertices far
// from the origin carry rounding errors that a fixed thickness would take
// for real offsets.
#pragma once

#include <cmath>
#include <cstring>

#include "kdbase/mem_collector.h"
#include "primitives/n_poly.h"

namespace vantrel {

struct dplane {
    double n[3];
    double d;

    // The plane through float point p0 with float normal nf.
    void set(const float* p0, const float* nf)
    {
        for (int a = 0; a < 3; ++a)
            n[a] = nf[a];
        d = n[0] * p0[0] + n[1] * p0[1] + n[2] * p0[2];
    }
    double dist(const double* x) const { return n[0] * x[0] + n[1] * x[1] + n[2] * x[2] - d; }
    void flip()
    {
        n[0] = -n[0], n[1] = -n[1], n[2] = -n[2], d = -d;
    }
};

// The plane thickness for a level whose coordinates reach max_abs in size.
inline double level_epsilon(double max_abs)
{
    return 1e-4 + max_abs * 2e-6;
}

// The unit normal of a polygon's whole vertex loop (Newell), so that a
// polygon whose first corner is nearly straight still gets its own plane;
// false when the polygon has no area. max_abs grows to the largest
// coordinate of its vertices either way.
inline bool loop_normal(const n_poly* q, float nf[3], double* max_abs)
{
    double nn[3] = {0, 0, 0};
    for (int k = 0; k < q->nverts; ++k) {
        const float* a = q->va[q->vi[k]].v;
        const float* b = q->va[q->vi[(k + 1) % q->nverts]].v;
        nn[0] += ((double)a[1] - b[1]) * ((double)a[2] + b[2]);
        nn[1] += ((double)a[2] - b[2]) * ((double)a[0] + b[0]);
        nn[2] += ((double)a[0] - b[0]) * ((double)a[1] + b[1]);
        for (int c = 0; c < 3; ++c)
            *max_abs = std::fabs(a[c]) > *max_abs ? std::fabs(a[c]) : *max_abs;
    }
    double len = std::sqrt(nn[0] * nn[0] + nn[1] * nn[1] + nn[2] * nn[2]);
    if (!(len > 1e-12))
        return false;
    for (int c = 0; c < 3; ++c)
        nf[c] = (float)(nn[c] / len);
    return true;
}

// A convex polygon of points of S doubles each (x, y, z, then data that is
// interpolated along cuts). Small windings live inside the object.
template <int S>
struct winding_t {
    enum { LOCAL = 12 };
    int n = 0, cap = LOCAL;
    double* p;
    double local[LOCAL * S];

    winding_t() : p(local) {}
    ~winding_t()
    {
        if (p != local)
            delete[] p;
    }
    winding_t(const winding_t&) = delete;
    winding_t& operator=(const winding_t&) = delete;

    double* at(int k) { return p + S * k; }
    const double* at(int k) const { return p + S * k; }

    // Room for m points (contents kept). False when the allocation fails.
    bool reserve(int m)
    {
        if (m <= cap)
            return true;
        int c = m < 2 * cap ? 2 * cap : m;
        double* g = KD_NEW double[(size_t)c * S];
        if (!g)
            return false;
        memcpy(g, p, sizeof(double) * S * (size_t)n);
        if (p != local)
            delete[] p;
        p = g;
        cap = c;
        return true;
    }
    bool add(const double* x)
    {
        if (!reserve(n + 1))
            return false;
        memcpy(at(n++), x, sizeof(double) * S);
        return true;
    }
    bool assign(const winding_t& o)
    {
        if (&o == this)
            return true;
        n = 0;
        if (!reserve(o.n))
            return false;
        memcpy(p, o.p, sizeof(double) * S * (size_t)o.n);
        n = o.n;
        return true;
    }
    // Centre and radius of a sphere holding every point.
    void sphere(double* c, double* r) const
    {
        c[0] = c[1] = c[2] = 0;
        for (int k = 0; k < n; ++k)
            for (int a = 0; a < 3; ++a)
                c[a] += at(k)[a] / n;
        double best = 0;
        for (int k = 0; k < n; ++k) {
            double dx = at(k)[0] - c[0], dy = at(k)[1] - c[1], dz = at(k)[2] - c[2];
            double q = dx * dx + dy * dy + dz * dz;
            if (q > best)
                best = q;
        }
        *r = std::sqrt(best);
    }
    // Twice the area vector length (zero for a degenerate winding).
    double area() const
    {
        double s[3] = {0, 0, 0};
        for (int k = 1; k + 1 < n; ++k) {
            const double *a = at(0), *b = at(k), *c = at(k + 1);
            double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
            double v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
            s[0] += u[1] * v[2] - u[2] * v[1];
            s[1] += u[2] * v[0] - u[0] * v[2];
            s[2] += u[0] * v[1] - u[1] * v[0];
        }
        return std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]) / 2;
    }
};

typedef winding_t<3> winding3;

// The side of a winding: PL_FRONT (nothing behind), PL_BACK (nothing in
// front), PL_ONPLANE (everything within eps) or PL_SPANNING.
template <int S>
int winding_side(const winding_t<S>& w, const dplane& pl, double eps)
{
    bool f = false, b = false;
    for (int k = 0; k < w.n; ++k) {
        double d = pl.dist(w.at(k));
        if (d > eps)
            f = true;
        else if (d < -eps)
            b = true;
        if (f && b)
            return PL_SPANNING;
    }
    return f ? PL_FRONT : (b ? PL_BACK : PL_ONPLANE);
}

// Cuts a spanning winding by the plane: points within eps go to both sides,
// crossing edges add a point to both. front or back may be null (that side
// is not wanted). False when an allocation fails.
template <int S>
bool winding_split(const winding_t<S>& w, const dplane& pl, double eps, winding_t<S>* front, winding_t<S>* back)
{
    if (front)
        front->n = 0;
    if (back)
        back->n = 0;
    if ((front && !front->reserve(w.n + 4)) || (back && !back->reserve(w.n + 4)))
        return false;
    double dprev = pl.dist(w.at(w.n - 1));
    int sprev = dprev > eps ? 1 : (dprev < -eps ? -1 : 0);
    const double* prev = w.at(w.n - 1);
    for (int k = 0; k < w.n; ++k) {
        const double* cur = w.at(k);
        double dcur = pl.dist(cur);
        int scur = dcur > eps ? 1 : (dcur < -eps ? -1 : 0);
        if (sprev != 0 && scur != 0 && sprev != scur) {
            double t = dprev / (dprev - dcur), x[S];
            for (int a = 0; a < S; ++a)
                x[a] = prev[a] + (cur[a] - prev[a]) * t;
            if ((front && !front->add(x)) || (back && !back->add(x)))
                return false;
        }
        if (scur >= 0 && front && !front->add(cur))
            return false;
        if (scur <= 0 && back && !back->add(cur))
            return false;
        prev = cur, dprev = dcur, sprev = scur;
    }
    return true;
}

// Keeps the part of w in front of the plane (within eps counts as in front).
// Returns false on allocation failure; w.n < 3 afterwards when nothing is left.
template <int S>
bool winding_chop(winding_t<S>& w, const dplane& pl, double eps, winding_t<S>& scratch)
{
    int side = winding_side(w, pl, eps);
    if (side == PL_FRONT || side == PL_ONPLANE)
        return true;
    if (side == PL_BACK) {
        w.n = 0;
        return true;
    }
    if (!winding_split(w, pl, eps, &scratch, (winding_t<S>*)nullptr))
        return false;
    return w.assign(scratch);
}

// A square on the plane, centred on the point of the plane nearest to centre,
// with half side `size`.
inline bool base_winding(const dplane& pl, const double* centre, double size, winding3& w)
{
    int major = 0;
    for (int a = 1; a < 3; ++a)
        if (std::fabs(pl.n[a]) > std::fabs(pl.n[major]))
            major = a;
    double up[3] = {0, 0, 0};
    up[major == 2 ? 0 : 2] = 1;
    double dot = up[0] * pl.n[0] + up[1] * pl.n[1] + up[2] * pl.n[2];
    for (int a = 0; a < 3; ++a)
        up[a] -= dot * pl.n[a];
    double len = std::sqrt(up[0] * up[0] + up[1] * up[1] + up[2] * up[2]);
    for (int a = 0; a < 3; ++a)
        up[a] /= len;
    double right[3] = {up[1] * pl.n[2] - up[2] * pl.n[1], up[2] * pl.n[0] - up[0] * pl.n[2],
                       up[0] * pl.n[1] - up[1] * pl.n[0]};
    double off = pl.dist(centre);
    double c[3];
    for (int a = 0; a < 3; ++a)
        c[a] = centre[a] - off * pl.n[a];
    w.n = 0;
    if (!w.reserve(4))
        return false;
    const double sr[4] = {-1, 1, 1, -1}, su[4] = {1, 1, -1, -1};
    for (int k = 0; k < 4; ++k) {
        double x[3];
        for (int a = 0; a < 3; ++a)
            x[a] = c[a] + size * (sr[k] * right[a] + su[k] * up[a]);
        w.add(x);
    }
    return true;
}

// A growable array of plain values (tracked allocation; never throws).
template <class T>
struct grow_array {
    T* a = nullptr;
    int n = 0, cap = 0;
    grow_array() = default;
    grow_array(const grow_array&) = delete;
    grow_array& operator=(const grow_array&) = delete;
    ~grow_array() { delete[] a; }
    bool reserve(int m)
    {
        if (m <= cap)
            return true;
        int c = m < 2 * cap ? 2 * cap : (m < 8 ? 8 : m);
        T* g = KD_NEW T[c];
        if (!g)
            return false;
        if (n)
            memcpy((void*)g, (const void*)a, sizeof(T) * (size_t)n);
        delete[] a;
        a = g;
        cap = c;
        return true;
    }
    bool push(const T& v)
    {
        if (!reserve(n + 1))
            return false;
        a[n++] = v;
        return true;
    }
    T& operator[](int k) { return a[k]; }
    const T& operator[](int k) const { return a[k]; }
};

}  // namespace vantrel
