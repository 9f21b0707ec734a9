// The sound build of the tree and its portals. The level's polygons are
// copied into double-precision fragments once; the tree is built on those
// (splits add points to both halves, any number of them), and only the leaf
// polygons go back into meshes. Node planes are the float point and normal
// the tree stores, evaluated in double, so point location and the build agree.
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "world/bsp_plane.h"
#include "world/bsp_local.h"
#include "world/bsp_sound_local.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

// A level polygon the fragments come from.
struct source_poly {
    n_poly* poly;
    mesh_t* mesh;
    int mesh_index;
    float p0[3];   // the plane as the tree stores it: first vertex ...
    float nf[3];   // ... and the normal of the vertex loop, computed in double
    dplane plane;
};

// A fragment: x, y, z and the texture coordinates u, v per point.
struct fragment {
    winding_t<5> w;
    int src;
    bool used;
    double c[3], r;  // bounding sphere of the points
    void bound() { w.sphere(c, &r); }
};

struct tree_builder {
    solid_bsp_t* t;
    double eps;
    int search;
    grow_array<source_poly> src;
    grow_array<fragment*> frags;  // every fragment made (owned)
    int* mark = nullptr;          // per input mesh, for counting discarded meshes
    int mark_round = 0;

    ~tree_builder()
    {
        for (int k = 0; k < frags.n; ++k)
            delete frags[k];
        delete[] mark;
    }

    fragment* new_fragment(int s)
    {
        fragment* f = KD_NEW fragment;
        if (!f || !frags.push(f)) {
            delete f;
            return nullptr;
        }
        f->src = s;
        f->used = false;
        return f;
    }

    // The side of a fragment: PL_FRONT / PL_BACK / PL_SPANNING, or PL_ONPLANE.
    int side_of(const fragment* f, const dplane& pl) const
    {
        double d = pl.dist(f->c);
        if (d > f->r + eps)
            return PL_FRONT;
        if (d < -f->r - eps)
            return PL_BACK;
        return winding_side(f->w, pl, eps);
    }

    bool facing(const fragment* f, const dplane& pl) const
    {
        const double* n = src[f->src].plane.n;
        return n[0] * pl.n[0] + n[1] * pl.n[1] + n[2] * pl.n[2] >= 0;
    }

    int load(d_list* meshes);
    int choose(const int* list, int count);
    int build(bsp_index_t* node, int* list, int count, solid_bsp_stats_t* st);
    int make_leaf(bsp_index_t* leaf, const int* list, int count, solid_bsp_stats_t* st);
    void bounds(bbox_t* box, const int* list, int count);
};

int tree_builder::load(d_list* meshes)
{
    double max_abs = 0;
    int mi = 0;
    for (d_node* n = meshes->first; n; n = n->next, ++mi) {
        mesh_t* m = static_cast<mesh_t*>(n->object);
        if (!m || !m->polys || m->npolys < 1) {
            ELOG(EL_MAJOR, "get_bounding_box(): invalid mesh found");
            return -1;
        }
        for (int p = 0; p < m->npolys; ++p) {
            n_poly* q = &m->polys[p];
            if (!VALID_PRIMITIVE(q) || q->nverts < 3)
                continue;
            source_poly s;
            if (!loop_normal(q, s.nf, &max_abs))
                continue;  // no area: bounds nothing
            s.poly = q;
            s.mesh = m;
            s.mesh_index = mi;
            memcpy(s.p0, q->va[q->vi[0]].v, sizeof s.p0);
            s.plane.set(s.p0, s.nf);
            if (!src.push(s))
                return -1;
        }
    }
    eps = level_epsilon(max_abs);
    mark = KD_NEW int[mi + 1];
    if (!mark)
        return -1;
    memset(mark, 0, sizeof(int) * (size_t)(mi + 1));
    for (int s = 0; s < src.n; ++s) {
        fragment* f = new_fragment(s);
        if (!f)
            return -1;
        n_poly* q = src[s].poly;
        if (!f->w.reserve(q->nverts))
            return -1;
        for (int k = 0; k < q->nverts; ++k) {
            mrv_vertex* v = &q->va[q->vi[k]];
            double x[5] = {v->v[0], v->v[1], v->v[2], v->t[0], v->t[1]};
            f->w.add(x);
        }
        f->bound();
    }
    return 0;
}

enum { SEARCH_CANDIDATES = 20, SEARCH_SAMPLE = 600 };

// The splitter: the unused fragment of the list with the lowest score (the
// same score as the full search). The bounded search scores a spread of at
// most SEARCH_CANDIDATES candidates against a spread of at most
// SEARCH_SAMPLE fragments, so a node costs the same whatever its size.
int tree_builder::choose(const int* list, int count)
{
    int unused = 0;
    for (int k = 0; k < count; ++k)
        unused += !frags[list[k]]->used;
    if (!unused)
        return -1;
    bool full = search == BSP_SEARCH_FULL;
    int ncand = full || unused < SEARCH_CANDIDATES ? unused : SEARCH_CANDIDATES;
    int nsample = full || count < SEARCH_SAMPLE ? count : SEARCH_SAMPLE;
    int best = INT_MAX, choice = -1;
    int seen = 0, next_pick = 0, picked = 0;
    for (int k = 0; k < count && picked < ncand; ++k) {
        fragment* c = frags[list[k]];
        if (c->used)
            continue;
        // Candidate number `seen` among the unused: take an even spread.
        if (seen++ != next_pick)
            continue;
        ++picked;
        next_pick = (int)(((long long)picked * unused) / ncand);
        const dplane& pl = src[c->src].plane;
        int front = 0, back = 0, split = 0;
        for (int j = 0; j < nsample; ++j) {
            int idx = list[nsample == count ? j : (int)(((long long)j * count) / nsample)];
            fragment* p = frags[idx];
            if (p == c)
                continue;
            switch (side_of(p, pl)) {
            case PL_FRONT:
                ++front;
                break;
            case PL_BACK:
                ++back;
                break;
            case PL_ONPLANE:
                if (facing(p, pl))
                    ++front;
                else
                    ++back;
                break;
            default:
                ++split;
            }
        }
        int score = _splitter_score(front, back, split);
        if (score < best) {
            best = score;
            choice = list[k];
        }
    }
    return choice;
}

void tree_builder::bounds(bbox_t* box, const int* list, int count)
{
    set_v(box->min, FLT_MAX, FLT_MAX, FLT_MAX, 0);
    set_v(box->max, -FLT_MAX, -FLT_MAX, -FLT_MAX, 0);
    for (int k = 0; k < count; ++k) {
        fragment* f = frags[list[k]];
        for (int i = 0; i < f->w.n; ++i)
            for (int a = 0; a < 3; ++a) {
                float v = (float)f->w.at(i)[a];
                if (v < box->min[a])
                    box->min[a] = v;
                if (v > box->max[a])
                    box->max[a] = v;
            }
    }
}

// Stores the fragments of an empty leaf as meshes, one per level mesh they
// came from, with the level mesh's name, material and flags.
int tree_builder::make_leaf(bsp_index_t* leaf, const int* list, int count, solid_bsp_stats_t* st)
{
    d_list out(1);
    bool* taken = KD_NEW bool[count + 1];
    if (!taken)
        return -1;
    memset(taken, 0, (size_t)(count + 1));
    int result = 0;
    for (int k = 0; k < count && result == 0; ++k) {
        if (taken[k])
            continue;
        mesh_t* origin = src[frags[list[k]]->src].mesh;
        int n = 0;
        for (int j = k; j < count; ++j)
            n += !taken[j] && src[frags[list[j]]->src].mesh == origin;
        mesh_t* m = KD_NEW mesh_t;
        if (!m || out.insert(m) != 0) {
            delete m;
            result = -1;
            break;
        }
        m->set_name(origin->name);
        m->type = origin->type;
        m->mat = origin->mat;
        m->flags = origin->flags | PRIM_OWNS_ARRAYS;
        if (m->_alloc_polys(n) != 0) {
            result = -1;
            break;
        }
        int i = 0;
        for (int j = k; j < count && result == 0; ++j) {
            fragment* f = frags[list[j]];
            if (taken[j] || src[f->src].mesh != origin)
                continue;
            taken[j] = true;
            n_poly* from = src[f->src].poly;
            n_poly* q = &m->polys[i++];
            if (q->_alloc_verts(f->w.n) != 0) {
                result = -1;
                break;
            }
            for (int v = 0; v < f->w.n; ++v) {
                const double* x = f->w.at(v);
                mrv_vertex* d = &q->va[v];
                for (int a = 0; a < 3; ++a) {
                    d->v[a] = (float)x[a];
                    d->n[a] = from->normal[a];
                }
                d->t[0] = (float)x[3];
                d->t[1] = (float)x[4];
            }
            copy_v(q->normal, from->normal);
            q->mat = from->mat;
            q->flags = from->flags | PRIM_OWNS_ARRAYS | BSP_USED_AS_SPLITTER;
        }
        if (result == 0 && m->unify_vertices() != 0)
            result = -1;
    }
    delete[] taken;
    if (result != 0) {
        ELOG(EL_MAJOR, "_build_solid_bsp(): unable to store the leaf polygons");
        return -1;
    }
    int stored = t->_add_meshes_to_leaf(leaf, &out);
    if (stored < 0)
        return -1;
    st->npolys += stored;
    bounds(&leaf->bbox, list, count);
    return 0;
}

// One node: list (owned, freed here) holds the fragment numbers below it.
int tree_builder::build(bsp_index_t* node, int* list, int count, solid_bsp_stats_t* st)
{
    int s = choose(list, count);
    if (s < 0) {
        delete[] list;
        ELOG(EL_MAJOR, "_build_solid_bsp(): all polygons have been used as splitters");
        return -1;
    }
    source_poly& sp = src[frags[s]->src];
    const dplane& pl = sp.plane;
    sp.poly->flags |= BSP_USED_AS_SPLITTER;
    if (node->_alloc_verts(1) != 0) {
        delete[] list;
        ELOG(EL_MAJOR, "_build_solid_bsp(): unable to make plane from _splitter");
        return -1;
    }
    memset(node->va[0].n, 0, sizeof node->va[0].n);
    memset(node->va[0].t, 0, sizeof node->va[0].t);
    memcpy(node->va[0].v, sp.p0, sizeof sp.p0);
    set_v(node->normal, sp.nf[0], sp.nf[1], sp.nf[2], 0);
    bounds(&node->bbox, list, count);
    node->flags &= ~(uint32_t)(BN_ISLEAF | BN_ISSOLID);
    st->nnodes += 1;

    // Distribute: fragments in the plane go to the side they face; those in
    // the splitter's plane and facing its way are done as splitters too.
    int* front = KD_NEW int[count * 2 + 2];
    int* back = KD_NEW int[count * 2 + 2];
    int nf = 0, nb = 0;
    bool ok = front && back;
    for (int k = 0; k < count && ok; ++k) {
        fragment* f = frags[list[k]];
        switch (side_of(f, pl)) {
        case PL_FRONT:
            front[nf++] = list[k];
            break;
        case PL_BACK:
            back[nb++] = list[k];
            break;
        case PL_ONPLANE:
            if (facing(f, pl)) {
                f->used = true;
                front[nf++] = list[k];
            } else {
                back[nb++] = list[k];
            }
            break;
        default: {
            fragment* a = new_fragment(f->src);
            fragment* b = new_fragment(f->src);
            if (!a || !b || !winding_split(f->w, pl, eps, &a->w, &b->w)) {
                ok = false;
                break;
            }
            a->used = b->used = f->used;
            a->bound();
            b->bound();
            front[nf++] = frags.n - 2;
            back[nb++] = frags.n - 1;
        }
        }
    }
    delete[] list;
    if (!ok) {
        delete[] front;
        delete[] back;
        ELOG(EL_MAJOR, "_build_solid_bsp(): unable to create front split mesh");
        return -1;
    }
    bool back_used = true;
    for (int k = 0; k < nb && back_used; ++k)
        back_used = frags[back[k]]->used;
    if (nb > 0 && back_used) {
        ++mark_round;
        for (int k = 0; k < nb; ++k) {
            int m = src[frags[back[k]]->src].mesh_index;
            if (mark[m] != mark_round) {
                mark[m] = mark_round;
                st->ndiscarded += 1;
            }
        }
        nb = 0;
    }

    bsp_index_t* child = KD_NEW bsp_index_t;
    int num = child ? t->_add_to_i_nodes(child) : -1;
    if (num < 0) {
        delete child;
        delete[] front;
        delete[] back;
        ELOG(EL_MAJOR, "_build_solid_bsp(): unable to create front child node");
        return -1;
    }
    node->front = num;
    bool more = false;
    for (int k = 0; k < nf && !more; ++k)
        more = !frags[front[k]]->used;
    if (more) {
        st->nfront += 1;
        child->flags &= ~(uint32_t)(BN_ISLEAF | BN_ISSOLID);
        solid_bsp_stats_t cs;
        if (build(child, front, nf, &cs) != 0) {
            delete[] back;
            return -1;
        }
        st->add(&cs);
        st->nfront += cs.nback;
        st->nback -= cs.nback;
    } else {
        st->empty += 1;
        child->flags = (child->flags & ~(uint32_t)BN_ISSOLID) | BN_ISLEAF;
        int r = make_leaf(child, front, nf, st);
        delete[] front;
        if (r != 0) {
            delete[] back;
            return -1;
        }
    }

    child = KD_NEW bsp_index_t;
    num = child ? t->_add_to_i_nodes(child) : -1;
    if (num < 0) {
        delete child;
        delete[] back;
        ELOG(EL_MAJOR, "_build_solid_bsp(): unable to create back child node");
        return -1;
    }
    node->back = num;
    if (nb == 0) {
        delete[] back;
        st->solid += 1;
        child->flags |= BN_ISLEAF | BN_ISSOLID;
    } else {
        st->nback += 1;
        child->flags &= ~(uint32_t)(BN_ISLEAF | BN_ISSOLID);
        solid_bsp_stats_t cs;
        if (build(child, back, nb, &cs) != 0)
            return -1;
        st->add(&cs);
        st->nback += cs.nfront;
        st->nfront -= cs.nfront;
    }
    st->balance = st->nfront - st->nback;
    return 0;
}

}  // namespace

int sound_build_tree(solid_bsp_t* t, d_list* meshes, int search, double* eps)
{
    tree_builder tb;
    tb.t = t;
    tb.search = search;
    if (tb.load(meshes) != 0)
        return -1;
    *eps = tb.eps;
    int* list = KD_NEW int[tb.frags.n + 1];
    if (!list)
        return -1;
    for (int k = 0; k < tb.frags.n; ++k)
        list[k] = k;
    phase_timer timer(bsp_phase_times()->splitter);
    return tb.build(&t->root, list, tb.frags.n, &t->stats);
}

// ---- portals ---------------------------------------------------------------------

namespace {

struct portal_builder {
    solid_bsp_t* t;
    double eps;
    sound_portals* out;
    dplane* planes;       // per node
    double (*cell)[6];    // per node: min x, y, z, max x, y, z of its cell faces (handed to out)
    double centre[3], size;
    grow_array<int> path;  // node number * 2 + (1 for the back side)

    portal_builder() : planes(nullptr), cell(nullptr) {}
    ~portal_builder()
    {
        delete[] planes;
        delete[] cell;
    }

    bool is_leaf(int k) const { return FLAG_ISSET(t->i_nodes[k]->flags, BN_ISLEAF); }
    bool is_solid(int k) const { return FLAG_ISSET(t->i_nodes[k]->flags, BN_ISSOLID); }

    void grow_cell(int leaf, const winding3& w)
    {
        for (int k = 0; k < w.n; ++k)
            for (int a = 0; a < 3; ++a) {
                double v = w.at(k)[a];
                if (v < cell[leaf][a])
                    cell[leaf][a] = v;
                if (v > cell[leaf][3 + a])
                    cell[leaf][3 + a] = v;
            }
    }

    // Cuts w down the subtree at `node` into pieces, one per leaf region it
    // crosses; a piece in the plane of a node below goes to the side that
    // borders `ref` from `ref_front`'s side. Calls piece(winding, leaf).
    template <class F>
    int push(const winding3& w, int node, const dplane& ref, bool ref_front, F&& piece)
    {
        if (is_leaf(node))
            return piece(w, node);
        const dplane& pl = planes[node];
        bsp_index_t* b = t->i_nodes[node];
        switch (winding_side(w, pl, eps)) {
        case PL_FRONT:
            return push(w, b->front, ref, ref_front, piece);
        case PL_BACK:
            return push(w, b->back, ref, ref_front, piece);
        case PL_ONPLANE: {
            bool same = pl.n[0] * ref.n[0] + pl.n[1] * ref.n[1] + pl.n[2] * ref.n[2] > 0;
            return push(w, same == ref_front ? b->front : b->back, ref, ref_front, piece);
        }
        default: {
            winding3* f = KD_NEW winding3;
            winding3* k = KD_NEW winding3;
            int r = -1;
            if (f && k && winding_split(w, pl, eps, f, k)) {
                r = f->n >= 3 ? push(*f, b->front, ref, ref_front, piece) : 0;
                if (r == 0 && k->n >= 3)
                    r = push(*k, b->back, ref, ref_front, piece);
            }
            delete f;
            delete k;
            return r;
        }
        }
    }

    int node_portals(int node)
    {
        winding3 w, scratch;
        const dplane& pl = planes[node];
        if (!base_winding(pl, centre, size, w))
            return -1;
        for (int k = 0; k < path.n && w.n >= 3; ++k) {
            dplane side = planes[path[k] >> 1];
            if (path[k] & 1)
                side.flip();
            if (!winding_chop(w, side, eps, scratch))
                return -1;
        }
        if (w.n < 3)
            return 0;
        bsp_index_t* b = t->i_nodes[node];
        return push(w, b->front, pl, true, [&](const winding3& fw, int fleaf) {
            if (is_solid(fleaf))  // a face of the empty leaves behind it only
                return push(fw, b->back, pl, false, [&](const winding3& bw, int bleaf) {
                    if (!is_solid(bleaf))
                        grow_cell(bleaf, bw);
                    return 0;
                });
            return push(fw, b->back, pl, false, [&](const winding3& bw, int bleaf) {
                grow_cell(fleaf, bw);
                if (is_solid(bleaf))
                    return 0;
                grow_cell(bleaf, bw);
                if (!(bw.area() > eps * eps))
                    return 0;
                sound_portal* p = KD_NEW sound_portal;
                if (!p || !out->list.push(p) || !p->w.assign(bw)) {
                    delete p;
                    ELOG(EL_MAJOR, "_build_portals(): unable to create portal");
                    return -1;
                }
                p->plane = pl;
                p->front = fleaf;
                p->back = bleaf;
                return 0;
            });
        });
    }

    int walk(int node)
    {
        if (node_portals(node) != 0)
            return -1;
        bsp_index_t* b = t->i_nodes[node];
        for (int side = 0; side < 2; ++side) {
            int child = side ? b->back : b->front;
            if (is_leaf(child))
                continue;
            if (!path.push(node * 2 + side) || walk(child) != 0)
                return -1;
            --path.n;
        }
        return 0;
    }
};

}  // namespace

int sound_build_portals(solid_bsp_t* t, double eps, sound_portals* out)
{
    phase_timer timer(bsp_phase_times()->portal_clip);
    int n = t->stats.ni_nodes;
    if (FLAG_ISSET(t->root.flags, BN_ISLEAF))
        return 0;
    portal_builder pb;
    pb.t = t;
    pb.eps = eps;
    pb.out = out;
    pb.planes = KD_NEW dplane[n];
    pb.cell = KD_NEW double[n][6];
    if (!pb.planes || !pb.cell) {
        ELOG(EL_MAJOR, "_build_portals(): unable to create portal");
        return -1;
    }
    for (int k = 0; k < n; ++k) {
        bsp_index_t* b = t->i_nodes[k];
        if (!FLAG_ISSET(b->flags, BN_ISLEAF))
            pb.planes[k].set(b->va[b->vi[0]].v, b->normal);
        for (int a = 0; a < 3; ++a) {
            pb.cell[k][a] = DBL_MAX;
            pb.cell[k][3 + a] = -DBL_MAX;
        }
    }
    bbox_t& box = t->root.bbox;
    double diag = 0;
    for (int a = 0; a < 3; ++a) {
        pb.centre[a] = ((double)box.min[a] + box.max[a]) / 2;
        diag += ((double)box.max[a] - box.min[a]) * ((double)box.max[a] - box.min[a]);
    }
    // Half a side of the starting squares: beyond every cell that holds polygons.
    pb.size = std::sqrt(diag) + 1;
    if (pb.walk(0) != 0)
        return -1;
    // Empty leaves without polygons take the bounds of their cell.
    for (int k = 0; k < n; ++k) {
        bsp_index_t* b = t->i_nodes[k];
        if (!FLAG_ISSET(b->flags, BN_ISLEAF) || FLAG_ISSET(b->flags, BN_ISSOLID))
            continue;
        if ((b->meshes && b->meshes[0] != -1) || pb.cell[k][0] > pb.cell[k][3])
            continue;
        for (int a = 0; a < 3; ++a) {
            b->bbox.min[a] = (float)pb.cell[k][a];
            b->bbox.max[a] = (float)pb.cell[k][3 + a];
        }
    }
    out->cell = pb.cell;
    pb.cell = nullptr;
    return 0;
}

}  // namespace vantrel
