#include "world/bsp_portal.h"
#include "world/bsp_local.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/platform.h"
#include "kdbase/errorlog.h"
#include "kdbase/g_collector.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "world/bsp_plane.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

inline int leaf_at(d_node* n)
{
    return (int)(intptr_t)n->data;
}

inline bool has_leaf(bsp_portal_t* p, int leaf)
{
    for (d_node* n = p->leafs.first; n; n = n->next)
        if (leaf_at(n) == leaf)
            return true;
    return false;
}

inline bsp_portal_t* portal_of(d_node* n)
{
    return static_cast<bsp_portal_t*>(n->object);
}

// Moves every node of src to the tail of dst (no allocation, cannot fail).
void splice(d_list* dst, d_list* src)
{
    if (!src->first)
        return;
    if (dst->last) {
        dst->last->next = src->first;
        src->first->prev = dst->last;
    } else {
        dst->first = src->first;
    }
    dst->last = src->last;
    dst->count += src->count;
    src->first = src->last = nullptr;
    src->count = 0;
}

// Destroys the portal of a node and unlinks the node, whatever the list's flag.
void destroy_node(d_list* l, d_node* n)
{
    void* e = l->remove(n);
    if (e)
        delete static_cast<unknown*>(e);
}

// A growable array of pointers (tracked allocation; never throws).
template <class T>
struct ptr_array {
    T** a = nullptr;
    int n = 0, cap = 0;
    ~ptr_array() { delete[] a; }
    bool push(T* p)
    {
        if (n == cap) {
            int c = cap ? 2 * cap : 8;
            T** g = KD_NEW T*[c];
            if (!g)
                return false;
            if (n)
                memcpy(g, a, (size_t)n * sizeof *g);
            delete[] a;
            a = g;
            cap = c;
        }
        a[n++] = p;
        return true;
    }
    void remove_at(int k) { a[k] = a[--n]; }
};

// The portals of a list by leaf: for each leaf number the list nodes of the
// portals that touch it. Nodes added in list order stay in list order until
// one is removed.
struct portal_index {
    ptr_array<d_node>* slot = nullptr;
    int nleaves = 0;

    ~portal_index() { delete[] slot; }

    bool init(int _nleaves)
    {
        nleaves = _nleaves < 1 ? 1 : _nleaves;
        slot = KD_NEW ptr_array<d_node>[nleaves];
        return slot != nullptr;
    }

    // Leaves outside the table are not indexed (no tree node has them).
    bool in_range(int leaf) const { return leaf >= 0 && leaf < nleaves; }

    bool add(d_node* node)
    {
        bsp_portal_t* p = portal_of(node);
        for (d_node* l = p->leafs.first; l; l = l->next) {
            int leaf = leaf_at(l);
            bool seen = false;
            for (d_node* k = p->leafs.first; k != l; k = k->next)
                seen = seen || leaf_at(k) == leaf;
            if (!seen && in_range(leaf) && !slot[leaf].push(node))
                return false;
        }
        return true;
    }

    void remove(d_node* node)
    {
        bsp_portal_t* p = portal_of(node);
        for (d_node* l = p->leafs.first; l; l = l->next) {
            int leaf = leaf_at(l);
            if (!in_range(leaf))
                continue;
            ptr_array<d_node>& s = slot[leaf];
            for (int k = 0; k < s.n; ++k) {
                if (s.a[k] == node) {
                    s.remove_at(k);
                    break;
                }
            }
        }
    }

    // The highest leaf number in a list plus one.
    static int leaves_of(d_list* portals)
    {
        int top = 0;
        for (d_node* n = portals->first; n; n = n->next)
            for (d_node* l = portal_of(n)->leafs.first; l; l = l->next)
                if (leaf_at(l) + 1 > top)
                    top = leaf_at(l) + 1;
        return top;
    }

    bool fill(d_list* portals)
    {
        if (!init(leaves_of(portals)))
            return false;
        for (d_node* n = portals->first; n; n = n->next)
            if (!add(n))
                return false;
        return true;
    }
};

// found_bigger_portal over the index: only portals sharing a leaf with p.
bool bigger_in_index(portal_index& idx, bsp_portal_t* p)
{
    if (p->leafs.count < 1)
        return false;
    int a = leaf_at(p->leafs.first);
    int b = p->leafs.count > 1 ? leaf_at(p->leafs.first->next) : a;
    if (!idx.in_range(a) || !idx.in_range(b))
        return false;
    ptr_array<d_node>& s = idx.slot[idx.slot[a].n <= idx.slot[b].n ? a : b];
    for (int k = 0; k < s.n; ++k) {
        bsp_portal_t* q = portal_of(s.a[k]);
        if (q != p && has_leaf(q, a) && has_leaf(q, b) && p->compare_bounds(q) < 1)
            return true;
    }
    return false;
}

int compare_nodes(const void* a, const void* b)
{
    uintptr_t x = (uintptr_t) * (d_node* const*)a, y = (uintptr_t) * (d_node* const*)b;
    return x < y ? -1 : x > y;
}

// remove_invalid_portals on a list whose nodes before first_new survived the
// previous sweep, judged exactly as a sweep over the whole list: an old
// portal (two leaves, no bigger twin then) can only be outdone by a new one,
// a new one is checked against all. The new nodes are indexed here.
int sweep(d_list* portals, d_node* first_new, portal_index& idx)
{
    int nnew = 0;
    for (d_node* n = first_new; n; n = n->next, ++nnew)
        if (!idx.add(n))
            return -1;
    ptr_array<d_node> dead;
    for (d_node* n = first_new; n; n = n->next) {
        bsp_portal_t* x = portal_of(n);
        if ((x->leafs.count != 2 || bigger_in_index(idx, x)) && !dead.push(n))
            return -1;
    }
    // Old portals outdone by a new one; a node list of the new ones tells old from new.
    ptr_array<d_node> fresh;
    for (d_node* n = first_new; n; n = n->next)
        if (!fresh.push(n))
            return -1;
    if (fresh.n)
        qsort(fresh.a, (size_t)fresh.n, sizeof *fresh.a, compare_nodes);
    auto is_new = [&](d_node* n) {
        return fresh.n && bsearch(&n, fresh.a, (size_t)fresh.n, sizeof *fresh.a, compare_nodes) != nullptr;
    };
    for (d_node* n = first_new; n; n = n->next) {
        bsp_portal_t* q = portal_of(n);
        for (d_node* l = q->leafs.first; l; l = l->next) {
            int leaf = leaf_at(l);
            if (!idx.in_range(leaf))
                continue;
            ptr_array<d_node>& s = idx.slot[leaf];
            for (int k = 0; k < s.n; ++k) {
                bsp_portal_t* p = portal_of(s.a[k]);
                if (p == q || p->leafs.count != 2 || is_new(s.a[k]))
                    continue;
                if (has_leaf(q, leaf_at(p->leafs.first)) && has_leaf(q, leaf_at(p->leafs.last)) &&
                    p->compare_bounds(q) < 1 && !dead.push(s.a[k]))
                    return -1;
            }
        }
    }
    if (dead.n)
        qsort(dead.a, (size_t)dead.n, sizeof *dead.a, compare_nodes);
    int removed = 0;
    for (int k = 0; k < dead.n; ++k) {
        if (k > 0 && dead.a[k] == dead.a[k - 1])
            continue;
        idx.remove(dead.a[k]);
        destroy_node(portals, dead.a[k]);
        ++removed;
    }
    (void)nnew;
    return removed;
}

// The portals of each leaf in list order, for the visibility step.
struct leaf_portals {
    int* start = nullptr;  // nleaves + 1 entries into list
    bsp_portal_t** list = nullptr;
    int nleaves = 0;

    ~leaf_portals()
    {
        delete[] start;
        delete[] list;
    }

    bool fill(d_list* portals)
    {
        nleaves = portal_index::leaves_of(portals);
        start = KD_NEW int[nleaves + 2];
        if (!start)
            return false;
        memset(start, 0, (size_t)(nleaves + 2) * sizeof *start);
        int total = 0;
        for (int pass = 0; pass < 2; ++pass) {
            int* at = pass ? KD_NEW int[nleaves + 1] : nullptr;
            if (pass) {
                if (!at)
                    return false;
                memcpy(at, start, (size_t)(nleaves + 1) * sizeof *at);
                list = KD_NEW bsp_portal_t*[total + 1];
                if (!list) {
                    delete[] at;
                    return false;
                }
            }
            for (d_node* n = portals->first; n; n = n->next) {
                bsp_portal_t* p = portal_of(n);
                for (d_node* l = p->leafs.first; l; l = l->next) {
                    int leaf = leaf_at(l);
                    bool seen = false;
                    for (d_node* k = p->leafs.first; k != l; k = k->next)
                        seen = seen || leaf_at(k) == leaf;
                    if (seen || leaf < 0)
                        continue;
                    if (pass)
                        list[at[leaf]++] = p;
                    else
                        ++start[leaf + 1];
                }
            }
            if (!pass) {
                for (int k = 0; k < nleaves; ++k)
                    start[k + 1] += start[k];
                total = start[nleaves];
            }
            delete[] at;
        }
        return true;
    }

    int count(int leaf) const { return leaf >= 0 && leaf < nleaves ? start[leaf + 1] - start[leaf] : 0; }
    bsp_portal_t** of(int leaf) const { return &list[start[leaf]]; }
};

// The leaf of a finished portal on the other side from `leaf`.
int other_leaf(bsp_portal_t* p, int leaf)
{
    if (p->leafs.count < 2)
        return -1;
    int first = leaf_at(p->leafs.first);
    return first != leaf ? first : leaf_at(p->leafs.first->next);
}

// A portal's indexed vertex positions, flattened for the plane tests.
struct flat_verts {
    float pos[3 * 64];
    float* big = nullptr;
    float* p = pos;
    int n = 0;
    ~flat_verts() { delete[] big; }
    bool set(n_poly* poly)
    {
        n = poly->nverts;
        p = pos;
        if (n > 64) {
            delete[] big;
            big = KD_NEW float[3 * (size_t)n];
            if (!big)
                return false;
            p = big;
        }
        for (int k = 0; k < n; ++k)
            memcpy(&p[3 * k], poly->va[poly->vi[k]].v, 3 * sizeof(float));
        return true;
    }
};

// clip_gen_portal_to_AP without materialising the planes: each anti-penumbra
// plane is applied as soon as it is made, in the order _create_AP_planes
// makes them, with the same arithmetic, so the outcome is the same.
// 1: visible, 0: not visible, -1: failed (allocation; logged where it failed).
int clip_gen_fast(bsp_portal_t* gen, bsp_portal_t* src, bsp_portal_t* target, bsp_portal_t* out)
{
    if (!VALID_PRIMITIVE(src) || !VALID_PRIMITIVE(target) || !VALID_PRIMITIVE(gen)) {
        ELOG(EL_MINDEBUG, "clip_gen_portal_to_AP(): portal without vertices");
        return -1;
    }
    if (out->copy(gen) != 0)
        return -1;
    flat_verts fs, ft, fo;
    if (!fs.set(src) || !ft.set(target) || !fo.set(out))
        return -1;
    n_poly cut;  // the plane as a polygon, for split_poly
    bool have_cut = false;
    for (int pass = 0; pass < 2; ++pass) {
        bsp_portal_t* a = pass ? target : src;
        bsp_portal_t* b = pass ? src : target;
        flat_verts& fa = pass ? ft : fs;
        flat_verts& fb = pass ? fs : ft;
        bsp_plane bplane;
        bplane.set(b);
        for (int k = 0; k < a->nverts; ++k) {
            const float* v = a->va[a->vi[k]].v;
            if (bplane.side(v) == PL_ONPLANE)
                continue;
            const float* prev = b->va[b->vi[b->nverts - 1]].v;
            for (int e = 0; e < b->nverts && e < b->vasize; ++e) {
                const float* cur = b->va[e].v;
                float edge[4], to_v[4], nrm[4];
                sub_vr(edge, cur, prev);
                sub_vr(to_v, v, prev);
                crossproduct_vr(nrm, edge, to_v);
                normalize_v(nrm);
                bsp_plane pl;
                memcpy(pl.p0, prev, sizeof pl.p0);
                memcpy(pl.n, nrm, sizeof pl.n);
                const float* edge_start = prev;
                prev = cur;
                if (pl.locate(fa.p, fa.n) == pl.locate(fb.p, fb.n))
                    continue;
                int lo = pl.locate(fo.p, fo.n), ls = pl.locate(fs.p, fs.n);
                if (lo == ls || lo == PL_ONPLANE)
                    return 0;
                if (lo != PL_SPANNING || (ls != PL_FRONT && ls != PL_BACK))
                    continue;
                if (!have_cut) {
                    if (cut._alloc_verts(1) != 0)
                        return -1;
                    have_cut = true;
                }
                memcpy(cut.va[0].v, edge_start, 3 * sizeof(float));
                cut.normal[0] = nrm[0], cut.normal[1] = nrm[1], cut.normal[2] = nrm[2], cut.normal[3] = 0;
                n_poly f, bk;
                // A spanning portal splits into two non-empty halves, so a
                // failure here is a failed allocation.
                if (split_poly(out, &cut, &f, &bk) != 0)
                    return -1;
                if (out->_copy_verts(ls == PL_FRONT ? &bk : &f) != 0 || !fo.set(out))
                    return -1;
            }
        }
    }
    return 1;
}

// One chain walk of build_leaf_portal_pvs; the walk is a loop, since only
// the first passing generator is followed.
int walk_chain(bsp_index_t** _i_nodes, int _src_leaf, bsp_portal_t* _src_portal, int _target_leaf,
               bsp_portal_t* _target_portal, d_list* _tree_portals, leaf_portals& lp)
{
    bsp_portal_t buf[2][2];
    bsp_portal_t* src = _src_portal;
    bsp_portal_t* target = _target_portal;
    int target_leaf = _target_leaf, which = 0;
    // A line of sight passes each portal at most once; a longer chain loops.
    int limit = _tree_portals->count + 1;
    for (int step = 0;; ++step) {
        if (step > limit) {
            ELOG(EL_MINOR, "build_leaf_portal_pvs(): chain from leaf %d longer than %d portals, walk stopped",
                 _src_leaf, limit);
            return 0;
        }
        int next = other_leaf(target, target_leaf);
        if (next < 0) {
            ELOG(EL_MAJOR, "build_leaf_portal_pvs(): portal without two leaves");
            return -1;
        }
        if (_i_nodes[_src_leaf]->add_visible_leaf(next) != 0)
            return -1;
        int src_side = get_leaf_loc(_i_nodes[_src_leaf], src);
        int target_side = get_leaf_loc(_i_nodes[target_leaf], target);
        int ngen = lp.count(next);
        if (ngen == 0)
            return -1;
        bsp_portal_t** gens = lp.of(next);
        bsp_portal_t* s2 = &buf[which][0];
        bsp_portal_t* g2 = &buf[which][1];
        int found = 0;
        for (int k = 0; k < ngen && !found; ++k) {
            bsp_portal_t* g = gens[k];
            if (g->are_similar(target))
                continue;
            int l = p_location_poly(g, src);
            if (l == PL_ONPLANE || l == src_side)
                continue;
            l = p_location_poly(g, target);
            if (l == PL_ONPLANE || l == target_side)
                continue;
            found = clip_gen_fast(g, src, target, g2);
            if (found == 1)
                found = clip_gen_fast(src, g2, target, s2);
            if (found < 0)
                return -1;
        }
        if (!found)
            return 0;
        src = s2;
        target = g2;
        target_leaf = next;
        which ^= 1;
    }
}

}  // namespace

// ---- bsp_portal_t ---------------------------------------------------------------

bsp_portal_t::bsp_portal_t() : leafs(0)
{
    flags |= PRIM_OWNS_ARRAYS;
}

int bsp_portal_t::copy(bsp_portal_t* _portal)
{
    CHECK_PTR(_portal, -1);
    if (_portal == this)
        return 0;
    if (_copy_verts(_portal) != 0)
        return -1;
    copy_v(normal, _portal->normal);
    leafs.delete_nodes();
    if (leafs.cat(&_portal->leafs) != 0) {
        ELOG(EL_MAJOR, "bsp_portal_t::copy(): unable to copy _portal's leafs");
        return -1;
    }
    return 0;
}

bool bsp_portal_t::are_similar(bsp_portal_t* _portal)
{
    CHECK_NAMED(leafs.count == 2, "leafs.num_nodes==2", false);
    CHECK_PTR(_portal, false);
    CHECK_NAMED(_portal->leafs.count == 2, "_portal->leafs.num_nodes==2", false);
    int a = leaf_at(leafs.first), b = leaf_at(leafs.last);
    int c = leaf_at(_portal->leafs.first), d = leaf_at(_portal->leafs.last);
    return (a == c && b == d) || (a == d && b == c);
}

int bsp_portal_t::calculate(bsp_index_t* _node)
{
    if (!_node || !VALID_PRIMITIVE(_node)) {
        ELOG(EL_MAJOR, "bsp_portal_t::calculate(): invalid parameter");
        return -1;
    }
    if (_alloc_verts(4) != 0) {
        ELOG(EL_MAJOR, "bsp_portal_t::calculate(): unable to allocate vertices");
        return -1;
    }
    float diag[4], centre[4], to_c[4], c[4], u[4], axes[16];
    sub_vr(diag, _node->bbox.max, _node->bbox.min);
    float size = len_v(diag);
    divscalar_vr(centre, diag, 2);
    add_v(centre, _node->bbox.min);
    sub_vr(to_c, centre, _node->va[_node->vi[0]].v);
    float d = dotproduct_v(to_c, _node->normal);
    float nd[4];
    multscalar_vr(nd, _node->normal, d);
    sub_vr(c, centre, nd);
    float s = _node->normal[1] < 0 ? -1.0f : 1.0f;
    set_v(u, 0, s, 0, 0);
    if (are_equal(_node->normal, u, 0.01f))
        set_v(u, 0, 0.707f * s, 0.707f, 0);
    set_axes(axes, _node->normal, u);
    float r[4], up[4];
    multscalar_vr(r, &axes[0], size);
    multscalar_vr(up, &axes[4], size);
    // c + R - U, c + R + U, c - R + U, c - R - U
    const float sr[4] = {1, 1, -1, -1}, su[4] = {-1, 1, 1, -1};
    for (int k = 0; k < 4; ++k) {
        float* v = va[k].v;
        for (int a = 0; a < 3; ++a)
            v[a] = c[a] + sr[k] * r[a] + su[k] * up[a];
        va[k].n[0] = va[k].n[1] = va[k].n[2] = 0;
        va[k].t[0] = va[k].t[1] = 0;
    }
    return calculate_normal(nullptr);
}

int bsp_portal_t::clip(bsp_index_t** _i_nodes, int _node, d_list* _fragments)
{
    CHECK_PTR(_i_nodes, -1);
    CHECK_PTR(VALID_NODE(_node), -1);
    CHECK_PTR(_fragments, -1);
    bsp_index_t* node = _i_nodes[_node];
    CHECK_PTR(node, -1);
    if (FLAG_ISSET(node->flags, BN_ISLEAF)) {
        if (FLAG_ISSET(node->flags, BN_ISSOLID))
            return -2;
        // The leaf goes onto the copy only: this portal is still being cut
        // (an on-plane fragment goes on into the back subtree afterwards).
        bsp_portal_t* np = KD_NEW bsp_portal_t;
        if (!np) {
            ELOG(EL_MAJOR, "bsp_portal_t::clip(): unable to create new_portal");
            return -1;
        }
        if (np->copy(this) != 0) {
            delete np;
            ELOG(EL_MAJOR, "bsp_portal_t::clip(): unable to copy this portal");
            return -1;
        }
        if (np->leafs.insert((void*)(intptr_t)_node) != 0) {
            delete np;
            ELOG(EL_MAJOR, "bsp_portal_t::clip(): unable to insert leaf");
            return -1;
        }
        if (_fragments->insert(np) != 0) {
            delete np;
            ELOG(EL_MAJOR, "bsp_portal_t::clip(): unable to insert portal to _fragments");
            return -1;
        }
        return 0;
    }
    switch (p_location_poly(this, node)) {
    case PL_BACK: {
        d_list frags(1);
        int r = clip(_i_nodes, node->back, &frags);
        splice(_fragments, &frags);
        return r;
    }
    case PL_FRONT: {
        d_list frags(1);
        int r = clip(_i_nodes, node->front, &frags);
        splice(_fragments, &frags);
        return r;
    }
    case PL_SPANNING: {
        bsp_portal_t fs, bs;
        if (split_poly(this, node, &fs, &bs) != 0)
            return -1;
        if (fs.leafs.cat(&leafs) != 0 || bs.leafs.cat(&leafs) != 0) {
            ELOG(EL_MAJOR, "bsp_portal_t::clip(): unable to copy original portal info");
            return -1;
        }
        d_list ff(1), bf(1);
        int rf = fs.clip(_i_nodes, node->front, &ff);
        int rb = bs.clip(_i_nodes, node->back, &bf);
        if (rf == -1 && rb == -1)
            return -1;
        splice(_fragments, &ff);
        splice(_fragments, &bf);
        return 0;
    }
    case PL_ONPLANE: {
        d_list ff(1);
        int r = clip(_i_nodes, node->front, &ff);
        if (r == -1)
            return -1;
        int nfront = ff.count;
        d_node* mark = _fragments->last;
        splice(_fragments, &ff);
        d_node* n = mark ? mark->next : _fragments->first;
        int result = 0;
        for (int k = 0; k < nfront && n; ++k, n = n->next) {
            d_list bf(1);
            if (portal_of(n)->clip(_i_nodes, node->back, &bf) == -1)
                result = -1;
            splice(_fragments, &bf);
        }
        return result;
    }
    default:
        ELOG(EL_MAJOR, "bsp_portal_t::clip(): p_location_poly() returned an invalid location");
        return -1;
    }
}

// ---- portal lists ----------------------------------------------------------------

bool found_bigger_portal(d_list* _portals, bsp_portal_t* _p)
{
    CHECK_PTR(_portals, false);
    CHECK_PTR(VALID_POLY(_p), false);
    if (_p->leafs.count < 1)
        return false;
    int a = leaf_at(_p->leafs.first);
    int b = _p->leafs.count > 1 ? leaf_at(_p->leafs.first->next) : a;
    for (d_node* n = _portals->first; n; n = n->next) {
        bsp_portal_t* q = portal_of(n);
        if (q && q != _p && has_leaf(q, a) && has_leaf(q, b) && _p->compare_bounds(q) < 1)
            return true;
    }
    return false;
}

int remove_invalid_portals(d_list* _portals)
{
    CHECK_PTR(_portals, -1);
    portal_index idx;
    if (!idx.init(portal_index::leaves_of(_portals)))
        return -1;
    return sweep(_portals, _portals->first, idx);
}

int get_leaf_portals(int _leaf, d_list* _portals, d_list* _leaf_portals)
{
    CHECK_PTR(VALID_NODE(_leaf), -1);
    CHECK_PTR(_portals, -1);
    CHECK_PTR(_leaf_portals, -1);
    bool found = false;
    for (d_node* n = _portals->first; n; n = n->next) {
        bsp_portal_t* p = portal_of(n);
        if (!has_leaf(p, _leaf))
            continue;
        if (_leaf_portals->insert(p) != 0) {
            ELOG(EL_MAJOR, "get_leaf_portals(): unable to insert portal into _leaf_portals");
            return -1;
        }
        found = true;
    }
    return found ? 0 : -1;
}

int get_leaf_loc(bsp_index_t* _leaf, n_poly* _plane)
{
    CHECK_PTR(_leaf, 0);
    CHECK_PTR(_plane, 0);
    float c[4];
    _leaf->bbox.get_center_v(c);
    return p_location_v(c, _plane);
}

// ---- visibility ----------------------------------------------------------------------

int _create_AP_planes(bsp_portal_t* _src_p, bsp_portal_t* _target_p, d_list* _ap_planes)
{
    CHECK_PTR(_src_p, -1);
    CHECK_PTR(_target_p, -1);
    CHECK_PTR(_ap_planes, -1);
    CHECK_PTR(VALID_POLY(_src_p), -1);
    CHECK_PTR(VALID_POLY(_target_p), -1);
    g_collector<n_poly> pool;
    d_list kept(1);
    for (int pass = 0; pass < 2; ++pass) {
        bsp_portal_t* a = pass ? _target_p : _src_p;
        bsp_portal_t* b = pass ? _src_p : _target_p;
        for (int k = 0; k < a->nverts; ++k) {
            float* v = a->va[a->vi[k]].v;
            if (p_location_v(v, b) == PL_ONPLANE)
                continue;
            float* prev = b->va[b->vi[b->nverts - 1]].v;
            for (int e = 0; e < b->nverts && e < b->vasize; ++e) {
                float* cur = b->va[e].v;
                n_poly* plane = pool.alloc();
                if (!plane || plane->_alloc_verts(1) != 0) {
                    ELOG(EL_MAJOR, "_create_AP_planes(): unable to create plane");
                    return -1;
                }
                float edge[4], to_v[4];
                sub_vr(edge, cur, prev);
                sub_vr(to_v, v, prev);
                crossproduct_vr(plane->normal, edge, to_v);
                normalize_v(plane->normal);
                plane->normal[3] = 0;
                memcpy(plane->va[0].v, prev, 3 * sizeof(float));
                memset(plane->va[0].n, 0, sizeof plane->va[0].n);
                memset(plane->va[0].t, 0, sizeof plane->va[0].t);
                prev = cur;
                if (p_location_poly(a, plane) == p_location_poly(b, plane)) {
                    pool.free(plane);
                    continue;
                }
                if (kept.insert(plane) != 0) {
                    ELOG(EL_MAJOR, "_create_AP_planes(): unable to insert plane into _ap_planes");
                    return -1;
                }
            }
        }
    }
    // The kept planes move to _ap_planes, which owns them from now on.
    pool.dont_delete();
    splice(_ap_planes, &kept);
    return 0;
}

bool clip_gen_portal_to_AP(bsp_portal_t* _gen_p, bsp_portal_t* _src_p, bsp_portal_t* _target_p,
                           bsp_portal_t* _gen_p_clipped)
{
    CHECK_PTR(_gen_p, false);
    CHECK_PTR(_src_p, false);
    CHECK_PTR(_target_p, false);
    CHECK_PTR(_gen_p_clipped, false);
    return clip_gen_fast(_gen_p, _src_p, _target_p, _gen_p_clipped) == 1;
}

int build_leaf_portal_pvs(bsp_index_t** _i_nodes, int _src_leaf, bsp_portal_t* _src_portal, int _target_leaf,
                          bsp_portal_t* _target_portal, d_list* _tree_portals)
{
    CHECK_PTR(_i_nodes, -1);
    CHECK_PTR(VALID_NODE(_src_leaf), -1);
    CHECK_PTR(_src_portal, -1);
    CHECK_PTR(VALID_NODE(_target_leaf), -1);
    CHECK_PTR(_target_portal, -1);
    CHECK_PTR(_tree_portals, -1);
    leaf_portals lp;
    if (!lp.fill(_tree_portals))
        return -1;
    return walk_chain(_i_nodes, _src_leaf, _src_portal, _target_leaf, _target_portal, _tree_portals, lp);
}

// ---- building portals and visible sets ---------------------------------------------------

namespace {

// Progress notes on long builds, at most one a second.
struct progress {
    const char* what;
    int total, done = 0;
    unsigned int last;
    progress(const char* w, int t) : what(w), total(t), last(get_milli_uptime()) {}
    void step()
    {
        ++done;
        unsigned int now = get_milli_uptime();
        if (now - last >= 1000) {
            last = now;
            ELOG(EL_STATUS + 1, "%s: %d of %d", what, done, total);
        }
    }
};

}  // namespace

struct portal_build {
    portal_index idx;
    d_node* pending;  // first node not yet swept (the list's own earlier content)
    progress prog;
    portal_build(int nodes) : pending(nullptr), prog("portals", nodes) {}
};

static int build_portals_at(solid_bsp_t* t, int _node, d_list* _portals, portal_build& pb)
{
    bsp_index_t** i_nodes = t->i_nodes;
    bsp_index_t* node = i_nodes[_node];
    bsp_portal_t* p = KD_NEW bsp_portal_t;
    if (!p) {
        ELOG(EL_MAJOR, "_build_portals(): unable to create portal");
        return -1;
    }
    if (p->calculate(node) != 0) {
        delete p;
        return -1;
    }
    d_list frags(1);
    d_node* tail = _portals->last;
    {
        phase_timer timer(bsp_phase_times()->portal_clip);
        if (p->clip(i_nodes, _node, &frags) != -1)
            splice(_portals, &frags);
        delete p;
    }
    d_node* first_new = pb.pending ? pb.pending : (tail ? tail->next : _portals->first);
    pb.pending = nullptr;
    {
        phase_timer timer(bsp_phase_times()->portal_cleanup);
        if (sweep(_portals, first_new, pb.idx) < 0)
            return -1;
    }
    pb.prog.step();
    for (int child : {node->front, node->back}) {
        if (child < 0 || child >= t->stats.ni_nodes || FLAG_ISSET(i_nodes[child]->flags, BN_ISLEAF))
            continue;
        if (build_portals_at(t, child, _portals, pb) != 0)
            return -1;
    }
    return 0;
}

int solid_bsp_t::_build_portals(int _node, d_list* _portals)
{
    CHECK_PTR(i_nodes, -1);
    CHECK_PTR(VALID_NODE(_node), -1);
    CHECK_PTR(_node < stats.ni_nodes, -1);
    CHECK_PTR(_portals, -1);
    CHECK_PTR(!FLAG_ISSET(i_nodes[_node]->flags, BN_ISLEAF), -1);
    portal_build pb(stats.nnodes);
    int nleaves = portal_index::leaves_of(_portals);
    if (!pb.idx.init(nleaves > stats.ni_nodes ? nleaves : stats.ni_nodes))
        return -1;
    pb.pending = _portals->first;
    return build_portals_at(this, _node, _portals, pb);
}

static int build_pvs_at(solid_bsp_t* t, int _root, d_list* _portals, leaf_portals& lp, progress& prog)
{
    bsp_index_t** i_nodes = t->i_nodes;
    bsp_index_t* node = i_nodes[_root];
    if (!FLAG_ISSET(node->flags, BN_ISLEAF)) {
        for (int child : {node->front, node->back}) {
            if (child == -1)
                continue;
            if (child < 0 || child >= t->stats.ni_nodes || build_pvs_at(t, child, _portals, lp, prog) != 0)
                return -1;
        }
        return 0;
    }
    if (FLAG_ISSET(node->flags, BN_ISSOLID))
        return 0;
    int np = lp.count(_root);
    if (np == 0) {
        ELOG(EL_MAJOR, "_build_pvs(): leaf %d has no portals", _root);
        return -1;
    }
    bsp_portal_t** mine = lp.of(_root);
    for (int k = 0; k < np; ++k) {
        bsp_portal_t* p = mine[k];
        int n = other_leaf(p, _root);
        if (n < 0 || node->add_visible_leaf(n) != 0)
            return -1;
        int nt = lp.count(n);
        bsp_portal_t** theirs = lp.of(n);
        for (int j = 0; j < nt; ++j) {
            bsp_portal_t* target = theirs[j];
            if (target == p || p_location_poly(p, target) == PL_ONPLANE)
                continue;
            if (walk_chain(i_nodes, _root, p, n, target, _portals, lp) != 0)
                return -1;
        }
    }
    prog.step();
    return 0;
}

int solid_bsp_t::_build_pvs(int _root, d_list* _portals)
{
    CHECK_PTR(i_nodes, -1);
    CHECK_PTR(VALID_NODE(_root), -1);
    CHECK_PTR(_root < stats.ni_nodes, -1);
    CHECK_PTR(_portals, -1);
    phase_timer timer(bsp_phase_times()->visibility);
    leaf_portals lp;
    if (!lp.fill(_portals))
        return -1;
    progress prog("visibility", stats.empty);
    return build_pvs_at(this, _root, _portals, lp, prog);
}

// ---- printers ---------------------------------------------------------------------------

void dump_portal(FILE* _f, bsp_portal_t* _p, const char* _tabs, bool with_leaves)
{
    CHECK_PTR_V(_f);
    CHECK_PTR_V(_p);
    CHECK_PTR_V(_tabs);
    fprintf(_f, "%sportal:\n", _tabs);
    _dump_poly(_f, _p, _tabs);
    fprintf(_f, "\n");
    if (!with_leaves)
        return;
    fprintf(_f, "%s**leaves: ", _tabs);
    for (d_node* n = _p->leafs.first; n; n = n->next)
        fprintf(_f, "%d ", leaf_at(n));
    fprintf(_f, "\n");
}

void dump_portal_list(FILE* f, d_list* portals, const char* tabs, bool with_leaves)
{
    if (!f || !portals || !tabs)
        return;
    fprintf(f, "\n%sportal listing: %d portals\n", tabs, portals->count);
    for (d_node* n = portals->first; n; n = n->next) {
        dump_portal(f, portal_of(n), tabs, with_leaves);
        fprintf(f, "\n");
    }
}

}  // namespace vantrel
