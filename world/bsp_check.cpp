// The visibility checker: random clear sightlines against the visible sets.
// A sightline is clear when its segment crosses no polygon of the tree's
// leaves; touching a polygon or its border counts as crossing, so only lines
// that plainly pass through open space are judged. Clear lines that the
// visible sets miss are counted apart when they pass through solid space on
// the way: the level has a gap there (a surface left out) that the tree
// closed, so they are not misses of the visibility.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "world/bsp_winding_local.h"
#include "world/solid_bsp.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

struct check_poly {
    dplane plane;
    float lo[3], hi[3];
    int first, count;  // into the point table
};

struct rng {
    uint64_t s;
    uint32_t next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return (uint32_t)(s >> 16);
    }
    double unit() { return next() / 4294967296.0; }
};

struct checker {
    grow_array<check_poly> polys;
    grow_array<double> pts;
    double eps = 0;

    int load(solid_bsp_t* t)
    {
        double max_abs = 0;
        for (int m = 0; m < t->stats.nmeshes; ++m) {
            mesh_t* mesh = t->meshes[m];
            for (int p = 0; mesh && p < mesh->npolys; ++p) {
                n_poly* q = &mesh->polys[p];
                if (!VALID_PRIMITIVE(q) || q->nverts < 3)
                    continue;
                check_poly c;
                float nf[3];
                if (!loop_normal(q, nf, &max_abs))
                    continue;
                c.first = pts.n / 3;
                c.count = q->nverts;
                for (int a = 0; a < 3; ++a)
                    c.lo[a] = FLT_MAX, c.hi[a] = -FLT_MAX;
                for (int k = 0; k < q->nverts; ++k) {
                    const float* v = q->va[q->vi[k]].v;
                    for (int a = 0; a < 3; ++a) {
                        if (!pts.push(v[a]))
                            return -1;
                        c.lo[a] = v[a] < c.lo[a] ? v[a] : c.lo[a];
                        c.hi[a] = v[a] > c.hi[a] ? v[a] : c.hi[a];
                    }
                }
                c.plane.set(q->va[q->vi[0]].v, nf);
                if (!polys.push(c))
                    return -1;
            }
        }
        eps = level_epsilon(max_abs);
        return 0;
    }

    // Whether the segment a-b touches polygon c.
    bool crosses(const check_poly& c, const double* a, const double* b) const
    {
        for (int k = 0; k < 3; ++k) {
            double lo = a[k] < b[k] ? a[k] : b[k], hi = a[k] < b[k] ? b[k] : a[k];
            if (hi < c.lo[k] - eps || lo > c.hi[k] + eps)
                return false;
        }
        double da = c.plane.dist(a), db = c.plane.dist(b);
        if ((da > eps && db > eps) || (da < -eps && db < -eps))
            return false;
        double x[3];
        if (std::fabs(da - db) < 1e-12) {
            // Along the plane: judged at the nearer end.
            memcpy(x, a, sizeof x);
        } else {
            double t = da / (da - db);
            t = t < 0 ? 0 : (t > 1 ? 1 : t);
            for (int k = 0; k < 3; ++k)
                x[k] = a[k] + (b[k] - a[k]) * t;
        }
        // Inside when on the inner side of every edge (within eps).
        const double* p = &pts[3 * c.first];
        for (int k = 0; k < c.count; ++k) {
            const double* e0 = p + 3 * k;
            const double* e1 = p + 3 * ((k + 1) % c.count);
            double e[3] = {e1[0] - e0[0], e1[1] - e0[1], e1[2] - e0[2]};
            double in[3] = {c.plane.n[1] * e[2] - c.plane.n[2] * e[1], c.plane.n[2] * e[0] - c.plane.n[0] * e[2],
                            c.plane.n[0] * e[1] - c.plane.n[1] * e[0]};
            double len = std::sqrt(in[0] * in[0] + in[1] * in[1] + in[2] * in[2]);
            if (len < 1e-12)
                continue;
            double d = ((x[0] - e0[0]) * in[0] + (x[1] - e0[1]) * in[1] + (x[2] - e0[2]) * in[2]) / len;
            if (d < -eps)
                return false;
        }
        return true;
    }

    bool clear(const double* a, const double* b) const
    {
        for (int k = 0; k < polys.n; ++k)
            if (crosses(polys[k], a, b))
                return false;
        return true;
    }
};

bool sees(bsp_index_t* from, int leaf)
{
    for (d_node* n = from->visible_leafs.first; n; n = n->next)
        if ((int)(intptr_t)n->data == leaf)
            return true;
    return false;
}

}  // namespace

int bsp_check_vis(solid_bsp_t* _bsp, int n, unsigned int seed, bsp_vis_check_t* out)
{
    CHECK_PTR(_bsp, -1);
    CHECK_PTR(out, -1);
    CHECK_PTR(n >= 0, -1);
    CHECK_PTR(_bsp->i_nodes, -1);
    memset(out, 0, sizeof *out);
    checker ck;
    if (ck.load(_bsp) != 0) {
        ELOG(EL_MAJOR, "bsp_check_vis(): unable to allocate the polygon table");
        return -1;
    }
    bbox_t& box = _bsp->root.bbox;
    double size[3], extent = 0;
    for (int a = 0; a < 3; ++a) {
        size[a] = (double)box.max[a] - box.min[a];
        extent = size[a] > extent ? size[a] : extent;
    }
    if (!(extent > 0))
        return 0;
    // Nearby pairs lie within this distance of each other.
    double near = extent / 8 < 512 ? extent / 8 : 512;
    rng r{0x9E3779B97F4A7C15ull ^ seed};
    r.next();
    auto leaf_at = [&](double* p) {
        float f[4] = {(float)p[0], (float)p[1], (float)p[2], 0};
        for (int a = 0; a < 3; ++a)
            p[a] = f[a];
        return _bsp->get_leaf_at_pos(f);
    };
    auto number = [&](bsp_index_t* leaf) {
        for (int k = 0; k < _bsp->stats.ni_nodes; ++k)
            if (_bsp->i_nodes[k] == leaf)
                return k;
        return -1;
    };
    // Attempts are bounded: a level that is mostly solid still finishes.
    long attempts = 0, limit = 2000L * (n + 10);
    while (out->tested < n && attempts++ < limit) {
        bool local = out->tested >= n / 2;
        double a[3], b[3];
        for (int k = 0; k < 3; ++k)
            a[k] = box.min[k] + size[k] * r.unit();
        bsp_index_t* fa = leaf_at(a);
        if (!fa)
            continue;
        for (int k = 0; k < 3; ++k)
            b[k] = local ? a[k] + near * (2 * r.unit() - 1) : box.min[k] + size[k] * r.unit();
        bsp_index_t* fb = leaf_at(b);
        if (!fb || !ck.clear(a, b))
            continue;
        ++out->tested;
        out->local += local;
        if (fa == fb || sees(fa, number(fb)))
            continue;
        // A line that passes through solid space on the way goes through a
        // gap in the level (a left-out surface) that the tree closed: no
        // chain of portals can follow it, and it is counted apart.
        bool solid = false;
        for (int k = 1; k < 256 && !solid; ++k) {
            float x[4] = {0, 0, 0, 0};
            for (int i = 0; i < 3; ++i)
                x[i] = (float)(a[i] + (b[i] - a[i]) * k / 256);
            solid = !_bsp->get_leaf_at_pos(x);
        }
        if (solid) {
            ++out->through_solid;
            continue;
        }
        if (out->missed < bsp_vis_check_t::EXAMPLES) {
            auto& e = out->example[out->missed];
            for (int k = 0; k < 3; ++k)
                e.a[k] = (float)a[k], e.b[k] = (float)b[k];
            e.leaf_a = number(fa);
            e.leaf_b = number(fb);
        }
        ++out->missed;
    }
    return 0;
}

}  // namespace vantrel
