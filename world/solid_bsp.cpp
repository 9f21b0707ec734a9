#include "world/solid_bsp.h"
#include "world/bsp_local.h"

#include <cfloat>
#include <cmath>
#include <initializer_list>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/g_collector.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "primitives/poly_list.h"
#include "world/bsp_plane.h"
#include "world/bsp_portal.h"
#include "world/bsp_sound_local.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

// ---- weights ---------------------------------------------------------------

static short balance_weight = 1;
static short split_weight = 8;

short BSP_BALANCE_W(short w)
{
    if (w != -1)
        balance_weight = w;
    return balance_weight;
}

short BSP_SPLIT_W(short w)
{
    if (w != -1)
        split_weight = w;
    return split_weight;
}

int _splitter_score(int front, int back, int split)
{
    int score = 0;
    if (front == 0 && back > 0)
        score = back * 750;
    if (front < back)
        score += (back - front) * 500;
    return score + balance_weight * abs(front - back) + split_weight * split;
}

static bsp_phase_times_t phase_times;

bsp_phase_times_t* bsp_phase_times()
{
    return &phase_times;
}

// ---- bbox_t, statistics ----------------------------------------------------

bbox_t::bbox_t()
{
    memset(min, 0, sizeof min);
    memset(max, 0, sizeof max);
}

void bbox_t::get_center_v(float* _center_v)
{
    CHECK_PTR_V(_center_v);
    for (int k = 0; k < 3; ++k)
        _center_v[k] = (min[k] + max[k]) / 2;
}

void solid_bsp_stats_t::reset()
{
    npolys = nnodes = nmeshes = ni_nodes = solid = empty = nfront = nback = balance = ndiscarded = 0;
}

void solid_bsp_stats_t::add(solid_bsp_stats_t* o)
{
    if (!o)
        return;
    npolys += o->npolys;
    nnodes += o->nnodes;
    nmeshes += o->nmeshes;
    ni_nodes += o->ni_nodes;
    solid += o->solid;
    empty += o->empty;
    nfront += o->nfront;
    nback += o->nback;
    balance += o->balance;
    ndiscarded += o->ndiscarded;
}

void solid_bsp_stats_t::set(solid_bsp_stats_t* o)
{
    if (o)
        *this = *o;
}

// ---- bsp_index_t -------------------------------------------------------------

bsp_index_t::bsp_index_t() : front(-1), back(-1), meshes(nullptr), visible_leafs(0)
{
    flags = BN_ISLEAF;
}

bsp_index_t::~bsp_index_t()
{
    delete[] meshes;
}

int bsp_index_t::set_plane(n_poly* _splitter)
{
    if (!VALID_PRIMITIVE(_splitter) || _alloc_verts(1) != 0)
        return -1;
    copy_vert(&va[0], &_splitter->va[_splitter->vi[0]]);
    copy_v(normal, _splitter->normal);
    return 0;
}

int bsp_index_t::add_visible_leaf(int _visible_leaf)
{
    CHECK_PTR(VALID_NODE(_visible_leaf), -1);
    void* d = (void*)(intptr_t)_visible_leaf;
    if (visible_leafs.get_node(d))
        return 0;
    if (visible_leafs.insert(d) != 0) {
        ELOG(EL_MAJOR, "bsp_poly::add_visible_leaf(): unable to add _visible_leaf");
        return -1;
    }
    return 0;
}

// ---- bounds ------------------------------------------------------------------

int _adjust_bounding_box(bbox_t* _bbox, n_poly* _poly)
{
    CHECK_PTR(_bbox, -1);
    CHECK_PTR(VALID_POLY(_poly), -1);
    for (int k = 0; k < _poly->nverts; ++k) {
        const float* v = _poly->va[_poly->vi[k]].v;
        for (int a = 0; a < 3; ++a) {
            if (v[a] < _bbox->min[a])
                _bbox->min[a] = v[a];
            if (v[a] > _bbox->max[a])
                _bbox->max[a] = v[a];
        }
    }
    return 0;
}

int get_bounding_box(bbox_t* _bbox, d_list* _meshes)
{
    CHECK_PTR(_bbox, -1);
    CHECK_PTR(_meshes, -1);
    set_v(_bbox->min, FLT_MAX, FLT_MAX, FLT_MAX, 0);
    set_v(_bbox->max, -FLT_MAX, -FLT_MAX, -FLT_MAX, 0);
    for (d_node* n = _meshes->first; n; n = n->next) {
        mesh_t* m = static_cast<mesh_t*>(n->object);
        if (!m || !m->polys || m->npolys < 1) {
            ELOG(EL_MAJOR, "get_bounding_box(): invalid mesh found");
            return -1;
        }
        for (int p = 0; p < m->npolys; ++p)
            if (_adjust_bounding_box(_bbox, &m->polys[p]) != 0)
                return -1;
    }
    return 0;
}

// ---- splitter choice -----------------------------------------------------------

bool _all_used_as_splitter(d_list* _meshes)
{
    CHECK_PTR(_meshes, false);
    for (d_node* n = _meshes->first; n; n = n->next) {
        mesh_t* m = static_cast<mesh_t*>(n->object);
        for (int p = 0; m && p < m->npolys; ++p)
            if (!FLAG_ISSET(m->polys[p].flags, BSP_USED_AS_SPLITTER))
                return false;
    }
    return true;
}

namespace {

// The polygons of a mesh list flattened for the quadratic splitter search:
// planes and vertex positions copied into contiguous arrays, so each test
// reads a few cache lines instead of chasing mesh, polygon and index pointers.
struct flat_polys {
    int npolys = 0, nmeshes = 0;
    n_poly** poly = nullptr;
    bsp_plane* plane = nullptr;
    int* vstart = nullptr;  // npolys + 1 entries into pos
    float* pos = nullptr;   // 3 floats per vertex
    int* mstart = nullptr;  // nmeshes + 1 entries into poly
    bool usable = true;     // every polygon usable: the inline tests apply

    ~flat_polys()
    {
        delete[] poly;
        delete[] plane;
        delete[] vstart;
        delete[] pos;
        delete[] mstart;
    }

    // -1 on allocation failure or a mesh without polygons (logged by the caller).
    int fill(d_list* meshes, bool* empty_mesh)
    {
        int nverts = 0;
        for (d_node* n = meshes->first; n; n = n->next) {
            mesh_t* m = static_cast<mesh_t*>(n->object);
            if (!m || !m->polys || m->npolys < 1) {
                *empty_mesh = true;
                return -1;
            }
            ++nmeshes;
            npolys += m->npolys;
            for (int p = 0; p < m->npolys; ++p) {
                n_poly* q = &m->polys[p];
                if (VALID_PRIMITIVE(q))
                    nverts += q->nverts;
                else
                    usable = false;
            }
        }
        poly = KD_NEW n_poly*[npolys + 1];
        plane = KD_NEW bsp_plane[npolys + 1];
        vstart = KD_NEW int[npolys + 1];
        pos = KD_NEW float[3 * (size_t)nverts + 1];
        mstart = KD_NEW int[nmeshes + 1];
        if (!poly || !plane || !vstart || !pos || !mstart)
            return -1;
        int i = 0, v = 0, mi = 0;
        for (d_node* n = meshes->first; n; n = n->next) {
            mesh_t* m = static_cast<mesh_t*>(n->object);
            mstart[mi++] = i;
            for (int p = 0; p < m->npolys; ++p, ++i) {
                n_poly* q = &m->polys[p];
                poly[i] = q;
                vstart[i] = v;
                if (!usable)
                    continue;
                plane[i].set(q);
                for (int k = 0; k < q->nverts; ++k, ++v)
                    memcpy(&pos[3 * v], q->va[q->vi[k]].v, 3 * sizeof(float));
            }
        }
        vstart[i] = v;
        mstart[mi] = i;
        return 0;
    }

    // The location of polygon a against the plane of polygon b.
    int locate(int a, int b) const
    {
        if (!usable)
            return p_location_poly(poly[a], poly[b]);
        return plane[b].locate(&pos[3 * vstart[a]], vstart[a + 1] - vstart[a]);
    }
};

}  // namespace

// The search one candidate at a time, as the rule is written: for every
// unused candidate the counts accumulate mesh by mesh, the score is taken
// after each mesh, and a candidate behind every polygon of a mesh gets its
// used bit and is dropped. False after an invalid location (logged).
static bool search_plain(flat_polys& fp, d_list* meshes, int* best, n_poly** choice, int* nmarked)
{
    for (int c = 0; c < fp.npolys; ++c) {
        n_poly* cand = fp.poly[c];
        if (FLAG_ISSET(cand->flags, BSP_USED_AS_SPLITTER))
            continue;
        int front = 0, back = 0, split = 0;
        for (int m = 0; m < fp.nmeshes; ++m) {
            int behind = 0;
            for (int p = fp.mstart[m]; p < fp.mstart[m + 1]; ++p) {
                if (p == c)
                    continue;
                n_poly* other = fp.poly[p];
                int r = fp.locate(c, p);
                if (r == PL_BACK || (r == PL_ONPLANE && dotproduct_v(cand->normal, other->normal) < 0))
                    ++behind;
                switch (fp.locate(p, c)) {
                case PL_BACK:
                    ++back;
                    break;
                case PL_FRONT:
                    ++front;
                    break;
                case PL_ONPLANE:
                    if (dotproduct_v(other->normal, cand->normal) >= 0)
                        ++front;
                    else
                        ++back;
                    break;
                case PL_SPANNING:
                    ++split;
                    break;
                default:
                    ELOG(EL_MAJOR, "select_splitter(): p_location_poly() returned an invalid location");
                    dump_mesh_l(stdout, meshes, (char*)"");
                    return false;
                }
            }
            if (behind == fp.mstart[m + 1] - fp.mstart[m]) {
                cand->flags |= BSP_USED_AS_SPLITTER;
                ++*nmarked;
                break;
            }
            int score = _splitter_score(front, back, split);
            if (score < *best) {
                *best = score;
                *choice = cand;
            }
        }
    }
    return true;
}

enum { SPLITTER_BLOCK = 64 };

// The same search over blocks of candidates, each polygon's plane and
// vertices read once per block instead of once per candidate (the tables of
// a large level do not fit the caches). Candidates do not affect each other,
// and the one-by-one search ends with the candidate whose best score is the
// lowest, the earlier one on ties: the choice and the marks are the same.
// False at an invalid location, with the candidates marked so far listed in
// marks so the caller can undo them.
static bool search_blocked(flat_polys& fp, int* best, n_poly** choice, int* nmarked, int* marks, int* nmarks)
{
    int cand[SPLITTER_BLOCK], front[SPLITTER_BLOCK], back[SPLITTER_BLOCK], split[SPLITTER_BLOCK];
    int behind[SPLITTER_BLOCK], low[SPLITTER_BLOCK];
    bool active[SPLITTER_BLOCK];
    for (int c = 0; c < fp.npolys;) {
        int nb = 0;
        for (; c < fp.npolys && nb < SPLITTER_BLOCK; ++c)
            if (!FLAG_ISSET(fp.poly[c]->flags, BSP_USED_AS_SPLITTER))
                cand[nb++] = c;
        for (int j = 0; j < nb; ++j) {
            front[j] = back[j] = split[j] = 0;
            low[j] = INT_MAX;
            active[j] = true;
        }
        int nactive = nb;
        for (int m = 0; m < fp.nmeshes && nactive > 0; ++m) {
            for (int j = 0; j < nb; ++j)
                behind[j] = 0;
            for (int p = fp.mstart[m]; p < fp.mstart[m + 1]; ++p) {
                const bsp_plane& pp = fp.plane[p];
                const float* pv = &fp.pos[3 * fp.vstart[p]];
                int pn = fp.vstart[p + 1] - fp.vstart[p];
                for (int j = 0; j < nb; ++j) {
                    int ci = cand[j];
                    if (!active[j] || ci == p)
                        continue;
                    int r = pp.locate(&fp.pos[3 * fp.vstart[ci]], fp.vstart[ci + 1] - fp.vstart[ci]);
                    if (r == PL_BACK ||
                        (r == PL_ONPLANE && dotproduct_v(fp.poly[ci]->normal, fp.poly[p]->normal) < 0))
                        ++behind[j];
                    switch (fp.plane[ci].locate(pv, pn)) {
                    case PL_BACK:
                        ++back[j];
                        break;
                    case PL_FRONT:
                        ++front[j];
                        break;
                    case PL_ONPLANE:
                        if (dotproduct_v(fp.poly[p]->normal, fp.poly[ci]->normal) >= 0)
                            ++front[j];
                        else
                            ++back[j];
                        break;
                    case PL_SPANNING:
                        ++split[j];
                        break;
                    default:
                        return false;
                    }
                }
            }
            int size = fp.mstart[m + 1] - fp.mstart[m];
            for (int j = 0; j < nb; ++j) {
                if (!active[j])
                    continue;
                if (behind[j] == size) {
                    fp.poly[cand[j]]->flags |= BSP_USED_AS_SPLITTER;
                    marks[(*nmarks)++] = cand[j];
                    ++*nmarked;
                    active[j] = false;
                    --nactive;
                    continue;
                }
                int score = _splitter_score(front[j], back[j], split[j]);
                if (score < low[j])
                    low[j] = score;
            }
        }
        for (int j = 0; j < nb; ++j) {
            if (low[j] < *best) {
                *best = low[j];
                *choice = fp.poly[cand[j]];
            }
        }
    }
    return true;
}

// The splitter search; *marked tells whether a candidate other than the
// choice got its used bit because it lies behind a whole mesh, *failed that
// the search could not be made (logged).
static n_poly* _select_splitter(d_list* _meshes, bool* marked, bool* failed)
{
    *marked = false;
    *failed = true;
    phase_timer timer(phase_times.splitter);
    CHECK_PTR(_meshes, nullptr);
    flat_polys fp;
    bool empty_mesh = false;
    if (fp.fill(_meshes, &empty_mesh) != 0) {
        if (empty_mesh)
            ELOG(EL_MAJOR, "select_splitter(): invalid mesh found");
        else
            ELOG(EL_MAJOR, "select_splitter(): unable to allocate the polygon table");
        return nullptr;
    }
    int best = INT_MAX;
    n_poly* choice = nullptr;
    int nmarked = 0;
    bool done = false;
    if (fp.usable) {
        int* marks = KD_NEW int[fp.npolys + 1];
        int nmarks = 0;
        if (!marks) {
            ELOG(EL_MAJOR, "select_splitter(): unable to allocate the polygon table");
            return nullptr;
        }
        done = search_blocked(fp, &best, &choice, &nmarked, marks, &nmarks);
        if (!done) {
            // An invalid location: the one-by-one search reports it with the
            // marks it would have made by then.
            for (int k = 0; k < nmarks; ++k)
                fp.poly[marks[k]]->flags &= ~(uint32_t)BSP_USED_AS_SPLITTER;
            best = INT_MAX;
            choice = nullptr;
            nmarked = 0;
        }
        delete[] marks;
    }
    if (!done && !search_plain(fp, _meshes, &best, &choice, &nmarked))
        return nullptr;
    // Candidates are examined only while their bit is clear, so a choice whose
    // bit is set now was itself marked.
    if (choice && FLAG_ISSET(choice->flags, BSP_USED_AS_SPLITTER))
        --nmarked;
    *marked = nmarked > 0;
    *failed = false;
    if (choice)
        choice->flags |= BSP_USED_AS_SPLITTER;
    return choice;
}

n_poly* select_splitter(d_list* _meshes)
{
    bool marked, failed;
    return _select_splitter(_meshes, &marked, &failed);
}

// ---- solid_bsp_t -----------------------------------------------------------------

// One internal node of the point-location copy of the tree, numbered in
// depth-first order. child[0] is the front, child[1] the back: the number of
// an internal node of the copy, or ~(node number) for a leaf.
struct bsp_fast_node {
    bsp_plane plane;
    int32_t child[2];
};

solid_bsp_t::solid_bsp_t()
    : meshes(nullptr), i_nodes(nullptr), skin(nullptr), nportals(0), nsealed(0), i_nodes_cap(0), meshes_cap(0), owns_tables(true),
      fast(nullptr), fast_count(0), grid(nullptr)
{
}

solid_bsp_t::~solid_bsp_t()
{
    _release();
}

void solid_bsp_t::_release()
{
    delete[] fast;
    fast = nullptr;
    fast_count = 0;
    delete[] grid;
    grid = nullptr;
    if (owns_tables) {
        for (int k = 1; i_nodes && k < stats.ni_nodes; ++k)
            delete i_nodes[k];
        delete[] i_nodes;
        for (int k = 0; meshes && k < stats.nmeshes; ++k)
            delete meshes[k];
        delete[] meshes;
    } else {
        root.meshes = nullptr;  // shared with the source tree
    }
    _forget();
}

void solid_bsp_t::_forget()
{
    i_nodes = nullptr;
    meshes = nullptr;
    i_nodes_cap = meshes_cap = 0;
    owns_tables = true;
}

// Makes room for entry len of a table with cap entries. The tables are
// appended to one entry at a time, so they grow geometrically (the length
// proper is kept in the statistics). False when the allocation fails.
template <class T>
static bool room_for_one(T**& table, int len, int& cap)
{
    if (len < cap)
        return true;
    int grown_cap = len < 8 ? 16 : 2 * len;
    T** grown = KD_NEW T*[grown_cap];
    if (!grown)
        return false;
    if (len)
        memcpy(grown, table, (size_t)len * sizeof *grown);
    delete[] table;
    table = grown;
    cap = grown_cap;
    return true;
}

int solid_bsp_t::_add_to_i_nodes(bsp_index_t* _i_node)
{
    CHECK_PTR(_i_node, -1);
    int len = i_nodes ? stats.ni_nodes : 0;
    if (!room_for_one(i_nodes, len, i_nodes_cap))
        return -1;
    i_nodes[len] = _i_node;
    stats.ni_nodes = len + 1;
    delete[] fast;  // the point-location copy no longer matches
    fast = nullptr;
    delete[] grid;
    grid = nullptr;
    return len;
}

int solid_bsp_t::_add_meshes_to_leaf(bsp_index_t* _leaf, d_list* _meshes)
{
    CHECK_PTR(_leaf, -1);
    CHECK_PTR(_meshes, -1);
    CHECK_PTR(FLAG_ISSET(_leaf->flags, BN_ISLEAF), -1);
    int32_t* numbers = KD_NEW int32_t[_meshes->count + 1];
    if (!numbers)
        return -1;
    delete[] _leaf->meshes;
    _leaf->meshes = numbers;
    numbers[0] = -1;
    int npolys = 0, k = 0;
    for (d_node* n = _meshes->first; n; n = n->next) {
        mesh_t* src = static_cast<mesh_t*>(n->object);
        int len = meshes ? stats.nmeshes : 0;
        if (!room_for_one(meshes, len, meshes_cap))
            return -1;
        mesh_t* dup = KD_NEW mesh_t;
        if (!dup)
            return -1;
        if (dup->duplicate(src) != 0) {
            delete dup;
            return -1;
        }
        dup->flags |= PRIM_OWNS_ARRAYS;
        meshes[len] = dup;
        stats.nmeshes = len + 1;
        numbers[k++] = len;
        numbers[k] = -1;
        npolys += dup->npolys;
    }
    return npolys;
}

// Sorts the meshes to the two sides of the splitter's plane; spanning meshes
// are split into halves taken from the pool.
static int distribute(d_list* meshes, n_poly* s, g_collector<mesh_t>* pool, d_list* front, d_list* back)
{
    phase_timer timer(phase_times.split);
    for (d_node* n = meshes->first; n; n = n->next) {
        mesh_t* m = static_cast<mesh_t*>(n->object);
        switch (p_location_mesh(m, s)) {
        case PL_FRONT:
            if (front->insert(m) != 0) {
                ELOG(EL_MAJOR, "_build_solid_bsp(): unable to insert currmesh to front list");
                return -1;
            }
            break;
        case PL_BACK:
            if (back->insert(m) != 0) {
                ELOG(EL_MAJOR, "_build_solid_bsp(): unable to insert currmesh to back list");
                return -1;
            }
            break;
        case PL_SPANNING: {
            mesh_t* f = pool->alloc();
            if (!f) {
                ELOG(EL_MAJOR, "_build_solid_bsp(): unable to create front split mesh");
                return -1;
            }
            mesh_t* b = pool->alloc();
            if (!b) {
                ELOG(EL_MAJOR, "_build_solid_bsp(): unable to create back split mesh");
                return -1;
            }
            if (split_mesh(m, s, f, b) != 0)
                return -1;
            if (front->insert(f) != 0) {
                ELOG(EL_MAJOR, "_build_solid_bsp(): unable to insert polygon to front list");
                return -1;
            }
            if (back->insert(b) != 0) {
                ELOG(EL_MAJOR, "_build_solid_bsp(): unable to insert polygon to back list");
                return -1;
            }
            break;
        }
        case PL_ONPLANE:
            ELOG(EL_MAJOR, "_build_solid_bsp(): p_location_mesh() returned PL_ONPLANE");
            return -1;
        default:
            ELOG(EL_MAJOR, "_build_solid_bsp(): p_location_mesh() returned an invalid location");
            return -1;
        }
    }

    return 0;
}

int solid_bsp_t::_build_solid_bsp(bsp_index_t* _root, d_list* _meshes, solid_bsp_stats_t* _stats)
{
    return _build_solid_bsp(_root, _meshes, _stats, nullptr);
}

// _splitter, when given, is the polygon select_splitter would choose for
// _meshes now (the caller has just found it); its used bit is set again here.
int solid_bsp_t::_build_solid_bsp(bsp_index_t* _root, d_list* _meshes, solid_bsp_stats_t* _stats,
                                  n_poly* _splitter)
{
    CHECK_PTR(_root, -1);
    CHECK_PTR(_meshes, -1);
    CHECK_PTR(_stats, -1);
    g_collector<mesh_t> pool;  // halves of split meshes, kept until the subtree is built

    n_poly* s = _splitter;
    if (s)
        s->flags |= BSP_USED_AS_SPLITTER;
    else
        s = select_splitter(_meshes);
    if (!s) {
        ELOG(EL_MAJOR, "_build_solid_bsp(): all polygons have been used as splitters");
        return -1;
    }
    if (_root->set_plane(s) != 0) {
        ELOG(EL_MAJOR, "_build_solid_bsp(): unable to make plane from _splitter");
        return -1;
    }
    get_bounding_box(&_root->bbox, _meshes);
    _root->flags &= ~(uint32_t)(BN_ISLEAF | BN_ISSOLID);
    _stats->nnodes += 1;

    d_list front(0), back(0);
    if (distribute(_meshes, s, &pool, &front, &back) != 0)
        return -1;

    if (back.count > 0 && _all_used_as_splitter(&back)) {
        _stats->ndiscarded += back.count;
        back.delete_nodes();
    }

    // Front child: internal when a splitter is left, else an empty leaf.
    bsp_index_t* child = KD_NEW bsp_index_t;
    if (!child) {
        ELOG(EL_MAJOR, "_build_solid_bsp(): unable to create front child node");
        return -1;
    }
    int num = _add_to_i_nodes(child);
    if (num < 0) {
        delete child;
        ELOG(EL_MAJOR, "_build_solid_bsp(): unable to create front child node");
        return -1;
    }
    _root->front = num;
    bool marked = false, failed = false;
    n_poly* next = _select_splitter(&front, &marked, &failed);
    if (failed)
        return -1;
    if (next) {
        // The search only tests; when it marked nothing else, the child's own
        // search would find the same polygon, so it is handed down.
        next->flags &= ~(uint32_t)BSP_USED_AS_SPLITTER;
        _stats->nfront += 1;
        child->flags &= ~(uint32_t)(BN_ISLEAF | BN_ISSOLID);
        solid_bsp_stats_t cs;
        if (_build_solid_bsp(child, &front, &cs, marked ? nullptr : next) != 0)
            return -1;
        _stats->add(&cs);
        _stats->nfront += cs.nback;
        _stats->nback -= cs.nback;
    } else {
        _stats->empty += 1;
        child->flags = (child->flags & ~(uint32_t)BN_ISSOLID) | BN_ISLEAF;
        phase_timer timer(phase_times.split);
        int stored = _add_meshes_to_leaf(child, &front);
        if (stored < 0)
            return -1;
        _stats->npolys += stored;
        get_bounding_box(&child->bbox, &front);
    }

    // Back child: solid when nothing is left behind the plane.
    child = KD_NEW bsp_index_t;
    if (!child) {
        ELOG(EL_MAJOR, "_build_solid_bsp(): unable to create back child node");
        return -1;
    }
    num = _add_to_i_nodes(child);
    if (num < 0) {
        delete child;
        ELOG(EL_MAJOR, "_build_solid_bsp(): unable to create back child node");
        return -1;
    }
    _root->back = num;
    if (back.count == 0) {
        _stats->solid += 1;
        child->flags |= BN_ISLEAF | BN_ISSOLID;
    } else {
        _stats->nback += 1;
        child->flags &= ~(uint32_t)(BN_ISLEAF | BN_ISSOLID);
        solid_bsp_stats_t cs;
        if (_build_solid_bsp(child, &back, &cs, nullptr) != 0)
            return -1;
        _stats->add(&cs);
        _stats->nback += cs.nfront;
        _stats->nfront -= cs.nfront;
    }
    _stats->balance = _stats->nfront - _stats->nback;
    return 0;
}

int solid_bsp_t::build(d_list* _meshes)
{
    return _build(_meshes, false);
}

// _drop_meshes: the tree may empty _meshes once it has its own polygons.
int solid_bsp_t::_build(d_list* _meshes, bool _drop_meshes)
{
    CHECK_PTR(_meshes, -1);
    _release();
    stats.reset();
    if (_add_to_i_nodes(&root) != 0)
        return -1;
    if (transform_mesh_l_coords_to_world(_meshes) != 0)
        return -1;
    nportals = 0;
    nsealed = 0;
    if (options.mode != BSP_MODE_LITERAL)
        return _build_sound(_meshes, _drop_meshes);
    if (_build_solid_bsp(&root, _meshes, &stats) != 0)
        return -1;
    ELOG(EL_STATUS, "nmeshes=%d balance=%d nodes=%d empty=%d solid=%d", stats.nmeshes, stats.balance,
         stats.ni_nodes, stats.empty, stats.solid);
    d_list portals(1);
    if (_build_portals(0, &portals) != 0)
        return -1;
    nportals = portals.count;
    ELOG(EL_STATUS, "portals=%d", portals.count);
    return _build_pvs(0, &portals);
}

int solid_bsp_t::_build_sound(d_list* _meshes, bool _drop_meshes)
{
    double eps = 0;
    if (sound_build_tree(this, _meshes, options.search, &eps) != 0)
        return -1;
    // Their memory goes to the visible sets.
    if (_drop_meshes)
        _meshes->delete_nodes();
    ELOG(EL_STATUS, "nmeshes=%d balance=%d nodes=%d empty=%d solid=%d", stats.nmeshes, stats.balance,
         stats.ni_nodes, stats.empty, stats.solid);
    sound_portals portals;
    if (FLAG_ISSET(root.flags, BN_ISLEAF) || sound_build_portals(this, eps, &portals) != 0)
        return -1;
    nportals = portals.list.n;
    ELOG(EL_STATUS, "portals=%d", nportals);
    if (!options.visibility)
        return 0;
    if (sound_build_vis(this, &portals, eps, options.threads, options.exhaustive_vis, &nsealed) != 0)
        return -1;
    if (nsealed)
        ELOG(EL_MINOR, "%d empty leaves have no portals (sealed pockets): they see nothing", nsealed);
    return 0;
}

int solid_bsp_t::get_portals(d_list* _portals)
{
    CHECK_PTR(_portals, -1);
    CHECK_PTR(i_nodes, -1);
    if (FLAG_ISSET(root.flags, BN_ISLEAF))
        return 0;
    if (options.mode == BSP_MODE_LITERAL)
        return _build_portals(0, _portals);
    // The plane thickness of the build follows from the coordinates, which
    // the root's box holds.
    double max_abs = 0;
    for (int a = 0; a < 3; ++a) {
        max_abs = std::fabs(root.bbox.min[a]) > max_abs ? std::fabs(root.bbox.min[a]) : max_abs;
        max_abs = std::fabs(root.bbox.max[a]) > max_abs ? std::fabs(root.bbox.max[a]) : max_abs;
    }
    sound_portals found;
    if (sound_build_portals(this, level_epsilon(max_abs), &found) != 0)
        return -1;
    for (int k = 0; k < found.list.n; ++k) {
        const sound_portal* sp = found.list[k];
        bsp_portal_t* p = KD_NEW bsp_portal_t;
        if (!p || _portals->insert(p) != 0) {
            delete p;
            ELOG(EL_MAJOR, "get_portals(): unable to add a portal to _portals");
            return -1;
        }
        if (p->_alloc_verts(sp->w.n) != 0 || p->leafs.insert((void*)(intptr_t)sp->front) != 0 ||
            p->leafs.insert((void*)(intptr_t)sp->back) != 0) {
            ELOG(EL_MAJOR, "get_portals(): unable to create portal");
            return -1;
        }
        for (int v = 0; v < sp->w.n; ++v)
            for (int a = 0; a < 3; ++a)
                p->va[v].v[a] = (float)sp->w.at(v)[a];
        for (int a = 0; a < 3; ++a)
            p->normal[a] = (float)sp->plane.n[a];
    }
    return 0;
}

int solid_bsp_t::build(char* _filename)
{
    CHECK_PTR(_filename, -1);
    d_list level(1);
    if (load_poly_list(_filename, nullptr, &level) != 0)
        return -1;
    return _build(&level, true);
}

bool solid_bsp_t::_make_fast()
{
    if (!i_nodes || stats.ni_nodes < 1 || i_nodes[0] != &root)
        return false;
    int n = stats.ni_nodes;
    int* order = KD_NEW int[n];  // node number -> copy number, -1 for none yet
    int* stack = KD_NEW int[n + 1];
    bsp_fast_node* f = KD_NEW bsp_fast_node[n];
    bool ok = order && stack && f;
    int count = 0, top = 0;
    if (ok) {
        for (int k = 0; k < n; ++k)
            order[k] = -1;
        if (!FLAG_ISSET(root.flags, BN_ISLEAF))
            stack[top++] = 0;
    }
    // Depth-first, front first: a walk mostly moves to nearby entries. A node
    // met twice (a malformed table) leaves the checked walk to do the work.
    while (ok && top > 0) {
        int k = stack[--top];
        bsp_index_t* b = i_nodes[k];
        if (order[k] != -1 || !VALID_PRIMITIVE(b)) {
            ok = false;
            break;
        }
        order[k] = count++;
        for (int c : {b->back, b->front}) {
            if (c < 0 || c >= n || !i_nodes[c]) {
                ok = false;
                break;
            }
            if (!FLAG_ISSET(i_nodes[c]->flags, BN_ISLEAF)) {
                if (top >= n) {
                    ok = false;
                    break;
                }
                stack[top++] = c;
            }
        }
    }
    if (ok) {
        for (int k = 0; k < n; ++k) {
            if (order[k] < 0)
                continue;
            bsp_index_t* b = i_nodes[k];
            bsp_fast_node& fn = f[order[k]];
            fn.plane.set(b);
            int side = 0;
            for (int c : {b->front, b->back})
                fn.child[side++] = FLAG_ISSET(i_nodes[c]->flags, BN_ISLEAF) ? ~c : order[c];
        }
    }
    delete[] order;
    delete[] stack;
    if (!ok) {
        delete[] f;
        return false;
    }
    fast = f;
    fast_count = count;
    _make_grid();
    return true;
}

// The start of the walk for each cell of a grid over the root's box: the
// nodes whose plane has the whole cell (widened a little, so that rounding
// in finding a point's cell does not matter) on one side are passed at once;
// they would send every point of the cell the same way.
void solid_bsp_t::_make_grid()
{
    delete[] grid;
    grid = nullptr;
    if (!fast_count)
        return;
    double size[3], margin = 0;
    for (int a = 0; a < 3; ++a) {
        size[a] = (double)root.bbox.max[a] - root.bbox.min[a];
        if (!(size[a] > 0) || !std::isfinite(size[a]))
            return;
        margin = size[a] > margin ? size[a] : margin;
    }
    margin *= 1e-6;
    int32_t* g = KD_NEW int32_t[GRID * GRID * GRID];
    if (!g)
        return;
    for (int c = 0; c < GRID * GRID * GRID; ++c) {
        int idx[3] = {c % GRID, (c / GRID) % GRID, c / (GRID * GRID)};
        double lo[3], hi[3];
        for (int a = 0; a < 3; ++a) {
            lo[a] = root.bbox.min[a] + size[a] * idx[a] / GRID - margin;
            hi[a] = root.bbox.min[a] + size[a] * (idx[a] + 1) / GRID + margin;
        }
        int k = 0;
        while (k >= 0) {
            const bsp_plane& pl = fast[k].plane;
            double dmin = 0, dmax = 0;
            for (int a = 0; a < 3; ++a) {
                double u = (lo[a] - pl.p0[a]) * pl.n[a], v = (hi[a] - pl.p0[a]) * pl.n[a];
                dmin += u < v ? u : v;
                dmax += u < v ? v : u;
            }
            if (dmin >= -PL_EPSILON + margin)
                k = fast[k].child[0];
            else if (dmax < -PL_EPSILON - margin)
                k = fast[k].child[1];
            else
                break;
        }
        g[c] = k;
    }
    for (int a = 0; a < 3; ++a) {
        grid_lo[a] = root.bbox.min[a];
        grid_scale[a] = GRID / size[a];
    }
    grid = g;
}

bsp_index_t* solid_bsp_t::get_leaf_at_pos(float* _pos_v)
{
    CHECK_PTR(_pos_v, nullptr);
    if (fast || _make_fast()) {
        // The walk of the checked version below, with the same plane test:
        // front or on the plane goes to the front, behind to the back.
        int k = fast_count ? 0 : ~0;
        if (grid) {
            int c = 0;
            for (int a = 2; a >= 0; --a) {
                double at = ((double)_pos_v[a] - grid_lo[a]) * grid_scale[a];
                if (!(at >= 0 && at < GRID)) {
                    c = -1;
                    break;
                }
                c = c * GRID + (int)at;
            }
            if (c >= 0)
                k = grid[c];
        }
        while (k >= 0) {
            const bsp_fast_node& f = fast[k];
            double d = f.plane.distance(_pos_v);
            if (std::isnan(d)) {
                ELOG(EL_MAJOR, "get_leaf_at_pos(): p_location_v() returned an invalid value");
                return nullptr;
            }
            // A branch, not a select: the walk's next load then starts on
            // the predicted side instead of waiting for the comparison.
            if (d < -PL_EPSILON)
                k = f.child[1];
            else
                k = f.child[0];
        }
        bsp_index_t* leaf = i_nodes[~k];
        return FLAG_ISSET(leaf->flags, BN_ISSOLID) ? nullptr : leaf;
    }
    // Without a usable node table (an unbuilt or foreign tree) walk the nodes
    // as they are, with the full checks.
    bsp_index_t* b = &root;
    for (int steps = 0; b && !FLAG_ISSET(b->flags, BN_ISLEAF); ++steps) {
        if (!i_nodes || steps > stats.ni_nodes)
            return nullptr;
        int next;
        switch (p_location_v(_pos_v, b)) {
        case PL_FRONT:
        case PL_ONPLANE:
            next = b->front;
            break;
        case PL_BACK:
            next = b->back;
            break;
        default:
            ELOG(EL_MAJOR, "get_leaf_at_pos(): p_location_v() returned an invalid value");
            return nullptr;
        }
        if (next < 0 || next >= stats.ni_nodes)
            return nullptr;
        b = i_nodes[next];
    }
    if (!b || FLAG_ISSET(b->flags, BN_ISSOLID))
        return nullptr;
    return b;
}

void solid_bsp_t::copy(solid_bsp_t* _bsp)
{
    CHECK_PTR_V(_bsp);
    if (_bsp == this)
        return;
    _release();
    meshes = _bsp->meshes;
    i_nodes = _bsp->i_nodes;
    i_nodes_cap = _bsp->i_nodes_cap;
    meshes_cap = _bsp->meshes_cap;
    stats.set(&_bsp->stats);
    root.n_poly::copy(&_bsp->root);
    root.front = _bsp->root.front;
    root.back = _bsp->root.back;
    delete[] root.meshes;
    root.meshes = _bsp->root.meshes;
    root.bbox = _bsp->root.bbox;
    root.visible_leafs.delete_nodes();
    root.visible_leafs.cat(&_bsp->root.visible_leafs);
    if (i_nodes)
        i_nodes[0] = &root;
    // A plain copy shares the tables: the source still owns them.
    owns_tables = false;
}

void solid_bsp_t::replace(solid_bsp_t* _bsp)
{
    CHECK_PTR_V(_bsp);
    if (_bsp == this)
        return;
    copy(_bsp);
    owns_tables = _bsp->owns_tables;
    root.flags |= _bsp->root.flags & PRIM_OWNS_ARRAYS;
    _bsp->root.flags &= ~(uint32_t)PRIM_OWNS_ARRAYS;
    _bsp->root._delete_verts();
    _bsp->root.meshes = nullptr;
    delete[] _bsp->fast;
    _bsp->fast = nullptr;
    _bsp->fast_count = 0;
    delete[] _bsp->grid;
    _bsp->grid = nullptr;
    _bsp->_forget();
}

// ---- printers ---------------------------------------------------------------------

void dump_bsp_index(FILE* _f, bsp_index_t** _i_nodes, int _bi, const char* _tabs)
{
    CHECK_PTR_V(_f);
    CHECK_PTR_V(_i_nodes);
    CHECK_PTR_V(VALID_NODE(_bi));
    CHECK_PTR_V(_tabs);
    bsp_index_t* b = _i_nodes[_bi];
    CHECK_PTR_V(b);
    fprintf(_f, "%sindex=%d flags: %08x\n", _tabs, _bi, b->flags);
    fprintf(_f, "%sfront=%d back=%d\n", _tabs, b->front, b->back);
    if (FLAG_ISSET(b->flags, BN_ISLEAF)) {
        fprintf(_f, "%s(leaf)", _tabs);
        if (FLAG_ISSET(b->flags, BN_ISSOLID)) {
            fprintf(_f, "(solid)\n");
            return;
        }
        fprintf(_f, "(empty)(%d visible leafs:", b->visible_leafs.count);
        for (d_node* n = b->visible_leafs.first; n; n = n->next)
            fprintf(_f, " %d", (int)(intptr_t)n->data);
        fprintf(_f, ")\n%smeshes: ", _tabs);
        for (int k = 0; b->meshes && b->meshes[k] != -1; ++k)
            fprintf(_f, "%d ", b->meshes[k]);
        fprintf(_f, "\n");
    } else {
        fprintf(_f, "%s(node)\n", _tabs);
        fprintf(_f, "%splane:\n", _tabs);
        _dump_poly(_f, b, _tabs);
    }
    fprintf(_f, "%sbbox:\n", _tabs);
    fprintf(_f, "%s  min: ", _tabs);
    dump_v(_f, b->bbox.min);
    fprintf(_f, "%s  max: ", _tabs);
    dump_v(_f, b->bbox.max);
}

// The prefix grows by two characters per level up to this size; deeper
// levels are printed with the longest prefix.
enum { DUMP_TABS_MAX = 96 };

void dump_tree_indexes(FILE* _f, bsp_index_t** _i_nodes, int _bi, const char* _tabs)
{
    if (!_f || !_i_nodes || _bi == -1 || !_tabs) {
        if (_f)
            fprintf(_f, "%s(NULL)\n", _tabs ? _tabs : "");
        return;
    }
    dump_bsp_index(_f, _i_nodes, _bi, _tabs);
    fprintf(_f, "\n");
    char tabs[DUMP_TABS_MAX];
    size_t len = strlen(_tabs);
    if (len + 3 <= sizeof tabs)
        snprintf(tabs, sizeof tabs, "%s**", _tabs);
    else
        snprintf(tabs, sizeof tabs, "%s", _tabs);
    bsp_index_t* b = _i_nodes[_bi];
    if (!b)
        return;
    if (b->front != -1) {
        fprintf(_f, "%sfront\n", _tabs);
        dump_tree_indexes(_f, _i_nodes, b->front, tabs);
    }
    if (b->back != -1) {
        fprintf(_f, "%sback\n", _tabs);
        dump_tree_indexes(_f, _i_nodes, b->back, tabs);
    }
}

void dump_tree_stats(FILE* f, solid_bsp_stats_t* stats)
{
    if (!f || !stats) {
        if (f)
            fprintf(f, "dump_tree_stats(): invalid parameters\n");
        return;
    }
    fprintf(f,
            "npolys=%d nmeshes=%d ni_nodes=%d (nnodes=%d nleafs=%d [empty=%d solid=%d]) balance=%d (nfront=%d "
            "nback=%d) ndiscarded=%d\n",
            stats->npolys, stats->nmeshes, stats->ni_nodes, stats->nnodes, stats->empty + stats->solid, stats->empty,
            stats->solid, stats->balance, stats->nfront, stats->nback, stats->ndiscarded);
}

void solid_bsp_t::dump(FILE* f)
{
    if (!f)
        return;
    fprintf(f, "MESHES: %d meshes\n", stats.nmeshes);
    for (int k = 0; meshes && k < stats.nmeshes; ++k) {
        fprintf(f, "[%d] ", k);
        meshes[k]->dump(f, (char*)"");
    }
    fprintf(f, "\nTREE:\n");
    dump_tree_indexes(f, i_nodes, 0, "");
    dump_tree_stats(f, &stats);
}

}  // namespace vantrel
