#include "primitives/mesh.h"

#include <cinttypes>
#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/g_collector.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

const char* name_of(s_token* t)
{
    return t->name ? t->name : "(unnamed)";
}

bool has_polys(mesh_t* m)
{
    return m->polys && m->npolys > 0;
}

// The distinct vertices of a mesh in order of first appearance, with an
// open-addressing hash over the compared fields so that each lookup costs
// expected constant time. Both arrays grow geometrically.
class vertex_set {
public:
    mrv_vertex* verts = nullptr;
    int count = 0;

    vertex_set() = default;
    vertex_set(const vertex_set&) = delete;
    vertex_set& operator=(const vertex_set&) = delete;
    ~vertex_set()
    {
        delete[] verts;
        delete[] hashes;
        delete[] table;
    }

    // Index of the vertex equal to v, added when absent; -1 when memory runs out.
    int find_or_add(mrv_vertex* v)
    {
        uint32_t h = 0;
        bool hashable = hash(v, &h);
        if (hashable && table) {
            for (uint32_t slot = h & mask;; slot = (slot + 1) & mask) {
                int32_t i = table[slot];
                if (i < 0)
                    break;
                if (hashes[i] == h && are_equal_verts(&verts[i], v))
                    return i;
            }
        }
        if (count == capacity && grow() < 0)
            return -1;
        // The table stays at most half full.
        if (hashable && (!table || (uint64_t)(used + 1) * 2 > (uint64_t)mask + 1) && rehash() < 0)
            return -1;
        copy_vert(&verts[count], v);
        hashes[count] = h;
        if (hashable) {
            uint32_t slot = h & mask;
            while (table[slot] >= 0)
                slot = (slot + 1) & mask;
            table[slot] = count;
            ++used;
        }
        return count++;
    }

    // Hands over the vertex array, cut to its count when that memory is available.
    mrv_vertex* release()
    {
        mrv_vertex* out = verts;
        if (count > 0 && count < capacity) {
            mrv_vertex* exact = KD_NEW mrv_vertex[count];
            if (exact) {
                for (int i = 0; i < count; ++i)
                    copy_vert(&exact[i], &verts[i]);
                delete[] verts;
                out = exact;
            }
        }
        verts = nullptr;
        count = capacity = 0;
        return out;
    }

private:
    uint32_t* hashes = nullptr;  // per distinct vertex
    int32_t* table = nullptr;    // vertex numbers, -1 for an empty slot
    uint32_t mask = 0;           // table size - 1
    uint32_t used = 0;           // filled slots
    int capacity = 0;

    // A NaN makes a vertex unequal to all others: it is never looked up.
    static bool hash(mrv_vertex* v, uint32_t* out)
    {
        float f[8] = {v->v[0], v->v[1], v->v[2], v->n[0], v->n[1], v->n[2], v->t[0], v->t[1]};
        uint64_t h = 0x9e3779b97f4a7c15ull;
        for (float x : f) {
            if (x != x)
                return false;
            uint32_t bits = 0;
            if (x != 0.0f)  // -0 and +0 compare equal, so they must hash alike
                memcpy(&bits, &x, sizeof bits);
            h = (h ^ bits) * 0xff51afd7ed558ccdull;
            h ^= h >> 32;
        }
        *out = (uint32_t)h;
        return true;
    }

    int grow()
    {
        int cap = capacity ? capacity * 2 : 16;
        mrv_vertex* nv = KD_NEW mrv_vertex[cap];
        uint32_t* nh = KD_NEW uint32_t[cap];
        if (!nv || !nh) {
            delete[] nv;
            delete[] nh;
            return -1;
        }
        for (int i = 0; i < count; ++i) {
            copy_vert(&nv[i], &verts[i]);
            nh[i] = hashes[i];
        }
        delete[] verts;
        delete[] hashes;
        verts = nv;
        hashes = nh;
        capacity = cap;
        return 0;
    }

    // Doubles the table and re-enters the hashable vertices.
    int rehash()
    {
        uint32_t size = table ? (mask + 1) * 2 : 64;
        int32_t* nt = KD_NEW int32_t[size];
        if (!nt)
            return -1;
        for (uint32_t s = 0; s < size; ++s)
            nt[s] = -1;
        uint32_t nmask = size - 1;
        if (table) {
            for (uint32_t s = 0; s <= mask; ++s) {
                int32_t i = table[s];
                if (i < 0)
                    continue;
                uint32_t slot = hashes[i] & nmask;
                while (nt[slot] >= 0)
                    slot = (slot + 1) & nmask;
                nt[slot] = i;
            }
        }
        delete[] table;
        table = nt;
        mask = nmask;
        return 0;
    }
};

}  // namespace

mesh_t::mesh_t() : polys(nullptr), npolys(0)
{
    makeIdentityMatrix(matrix);
}

mesh_t::~mesh_t()
{
    _delete_polys();
}

void mesh_t::_delete_polys()
{
    delete[] polys;
    polys = nullptr;
    npolys = 0;
}

int mesh_t::_alloc_polys(int n)
{
    if (n < 1)
        return 0;
    _delete_polys();
    polys = KD_NEW n_poly[n];
    if (!polys) {
        ELOG(EL_MINDEBUG, "_alloc_polys(): unable to allocate poly array");
        return -1;
    }
    npolys = n;
    return 0;
}

int mesh_t::_count_poly_verts()
{
    int n = 0;
    if (polys)
        for (int i = 0; i < npolys; ++i)
            if (polys[i].nverts > 0)
                n += polys[i].nverts;
    return n;
}

int mesh_t::copy(mesh_t* _mesh)
{
    CHECK_PTR(_mesh, -1);
    if (_mesh == this)
        return 0;
    _delete_polys();
    base_primitive::copy(_mesh);
    polys = _mesh->polys;
    npolys = _mesh->npolys;
    copy_m(matrix, _mesh->matrix);
    return 0;
}

int mesh_t::copy_polys(mesh_t* src)
{
    if (!src || !has_polys(src) || src == this)
        return 0;
    if (_alloc_polys(src->npolys) < 0)
        return -1;
    for (int i = 0; i < npolys; ++i)
        if (polys[i].duplicate(&src->polys[i]) < 0)
            return -1;
    return unify_vertices();
}

int mesh_t::duplicate(mesh_t* _m)
{
    CHECK_PTR(_m, -1);
    if (_m == this)
        return 0;
    copy(_m);
    // Detach what copy shared before building our own.
    polys = nullptr;
    npolys = 0;
    va = nullptr;
    vi = nullptr;
    nverts = 0;
    vasize = 0;
    return copy_polys(_m);
}

int mesh_t::unify_vertices()
{
    if (!has_polys(this)) {
        ELOG(EL_MINDEBUG, "unify_vertices(): invalid mesh");
        return -1;
    }
    for (int p = 0; p < npolys; ++p) {
        n_poly& poly = polys[p];
        if (poly.nverts < 1)
            continue;
        bool ok = poly.va && poly.vi;
        for (int k = 0; ok && k < poly.nverts; ++k)
            ok = poly.vi[k] < (uint32_t)poly.vasize;
        if (!ok) {
            ELOG(EL_MINDEBUG, "unify_vertices(): polygon %d has an invalid vertex array", p);
            return -1;
        }
    }
    int total = _count_poly_verts();
    uint32_t* new_vi = KD_NEW uint32_t[total > 0 ? total : 0];
    if (!new_vi) {
        ELOG(EL_MINDEBUG, "unify_vertices(): unable to create new vertex indice array (%d vertices)", total);
        return -1;
    }
    // Everything is read and allocated before anything is released, so a
    // failure leaves the mesh as it was.
    vertex_set distinct;
    int offset = 0;
    for (int p = 0; p < npolys; ++p) {
        n_poly& poly = polys[p];
        for (int k = 0; k < poly.nverts; ++k) {
            int i = distinct.find_or_add(&poly.va[poly.vi[k]]);
            if (i < 0) {
                delete[] new_vi;
                ELOG(EL_MINDEBUG, "unify_vertices(): unable to grow the vertex array (%d vertices)", distinct.count);
                return -1;
            }
            new_vi[offset + k] = (uint32_t)i;
        }
        offset += poly.nverts > 0 ? poly.nverts : 0;
    }
    int nvasize = distinct.count;
    mrv_vertex* new_va = distinct.release();
    offset = 0;
    for (int p = 0; p < npolys; ++p) {
        n_poly& poly = polys[p];
        int n = poly.nverts > 0 ? poly.nverts : 0;
        poly._delete_verts();
        poly.nverts = n;
        poly.vi = new_vi + offset;
        poly.va = new_va;
        poly.vasize = nvasize;
        poly.flags &= ~(uint32_t)PRIM_OWNS_ARRAYS;
        offset += n;
    }
    _take_arrays(new_va, new_vi, nvasize, total);
    return 0;
}

int mesh_t::transform_coords_to_world()
{
    CHECK_PTR(VALID_PRIMITIVE(this), -1);
    for (int i = 0; i < vasize; ++i) {
        multmatrix_v3(va[i].v, matrix);
        multmatrix_v3(va[i].n, matrix);
    }
    int result = 0;
    if (polys)
        for (int i = 0; i < npolys; ++i)
            if (polys[i].calculate_normal(nullptr) < 0)
                result = -1;
    makeIdentityMatrix(matrix);
    return result;
}

void mesh_t::dump(FILE* f, const char* tabs)
{
    if (!f || !tabs)
        return;
    fprintf(f, "%s+++mesh:", tabs);
    if (name)
        fprintf(f, " %s", name);
    fprintf(f, "\n");
    dump_base_primitive(f, this, tabs);
    fprintf(f, "%spolygon array: %d polygons\n", tabs, npolys);
    if (polys)
        for (int i = 0; i < npolys; ++i)
            _dump_poly(f, &polys[i], tabs);
    _dump_m(f, matrix, tabs);
    fprintf(f, "%s---end mesh\n", tabs);
}

int _copy_va(mrv_vertex* dst, int dst_size, mrv_vertex* src, int count)
{
    CHECK_PTR(dst, -1);
    CHECK_PTR(src, -1);
    for (int i = 0; i < count && i < dst_size; ++i)
        copy_vert(&dst[i], &src[i]);
    return 0;
}

int p_location_mesh(mesh_t* mesh, n_poly* plane)
{
    if (!mesh || !has_polys(mesh)) {
        ELOG(EL_MINDEBUG, "p_location_mesh(): invalid mesh");
        return PL_INVALID;
    }
    if (!VALID_PRIMITIVE(plane)) {
        ELOG(EL_MINDEBUG, "p_location_mesh(): _plane has no vertices");
        return PL_INVALID;
    }
    int side = PL_INVALID;
    for (int i = 0; i < mesh->npolys; ++i) {
        n_poly* poly = &mesh->polys[i];
        int r = p_location_poly(poly, plane);
        if (r == PL_SPANNING)
            return PL_SPANNING;
        if (r == PL_ONPLANE)
            r = dotproduct_v(poly->normal, plane->normal) >= 0 ? PL_FRONT : PL_BACK;
        if (r == PL_FRONT || r == PL_BACK) {
            if (side != PL_INVALID && side != r)
                return PL_SPANNING;
            side = r;
        }
    }
    return side;
}

namespace {

// Rebuilds one side of a split from the listed polygons.
int fill_split_side(mesh_t* mesh, mesh_t* side, n_poly** list, int n)
{
    side->copy(mesh);
    side->polys = nullptr;
    side->npolys = 0;
    side->va = nullptr;
    side->vi = nullptr;
    side->nverts = 0;
    side->vasize = 0;
    side->set_name(mesh->name);
    if (n == 0)
        return 0;
    if (side->_alloc_polys(n) < 0)
        return -1;
    for (int i = 0; i < n; ++i)
        if (side->polys[i].duplicate(list[i]) < 0)
            return -1;
    return side->unify_vertices();
}

}  // namespace

int split_mesh(mesh_t* mesh, n_poly* plane, mesh_t* front, mesh_t* back)
{
    if (!front || !back || front == back || front == mesh || back == mesh) {
        ELOG(EL_MINDEBUG, "split_mesh(): invalid parameters");
        return -1;
    }
    if (!mesh || !has_polys(mesh)) {
        ELOG(EL_MINDEBUG, "split_mesh(): invalid mesh");
        return -1;
    }
    if (!VALID_PRIMITIVE(plane)) {
        ELOG(EL_MINDEBUG, "split_mesh(): _plane has no vertices");
        return -1;
    }
    n_poly** front_list = KD_NEW n_poly*[mesh->npolys];
    if (!front_list) {
        ELOG(EL_MINDEBUG, "split_mesh(): unable to allocate front poly reference array");
        return -1;
    }
    n_poly** back_list = KD_NEW n_poly*[mesh->npolys];
    if (!back_list) {
        delete[] front_list;
        ELOG(EL_MINDEBUG, "split_mesh(): unable to allocate back poly reference array");
        return -1;
    }
    g_collector<n_poly> halves;
    int nfront = 0, nback = 0;
    int result = 0;
    for (int i = 0; i < mesh->npolys && result == 0; ++i) {
        n_poly* poly = &mesh->polys[i];
        switch (p_location_poly(poly, plane)) {
        case PL_FRONT:
            front_list[nfront++] = poly;
            break;
        case PL_BACK:
            back_list[nback++] = poly;
            break;
        case PL_ONPLANE:
            if (dotproduct_v(poly->normal, plane->normal) >= 0)
                front_list[nfront++] = poly;
            else
                back_list[nback++] = poly;
            break;
        case PL_SPANNING: {
            n_poly* f = halves.alloc();
            n_poly* b = halves.alloc();
            if (!f || !b) {
                ELOG(EL_MINDEBUG, "split_mesh(): unable to create new front or back polygons");
                result = -1;
            } else if (split_poly(poly, plane, f, b) < 0) {
                result = -1;
            } else {
                front_list[nfront++] = f;
                back_list[nback++] = b;
            }
            break;
        }
        default:
            break;
        }
    }
    if (result == 0 && (fill_split_side(mesh, front, front_list, nfront) < 0 ||
                        fill_split_side(mesh, back, back_list, nback) < 0))
        result = -1;
    delete[] front_list;
    delete[] back_list;
    return result;
}

bool are_equal_va(mesh_t* _m1, mesh_t* _m2)
{
    CHECK_PTR(_m1, false);
    CHECK_PTR(_m2, false);
    CHECK_PTR(_m1->va, false);
    CHECK_PTR(_m2->va, false);
    if (_m1->vasize != _m2->vasize) {
        char s1[16], s2[16];
        snprintf(s1, sizeof s1, "%d", _m1->vasize);
        snprintf(s2, sizeof s2, "%d", _m2->vasize);
        ELOG(EL_MINDEBUG, "%s/%s: different vertice array sizes", s1, s2);
        return false;
    }
    for (int i = 0; i < _m1->vasize; ++i) {
        if (is_vert_in_array(_m2->va, _m2->vasize, &_m1->va[i]) < 0) {
            ELOG(EL_MINDEBUG, "%s/%s: vertex %d not equal", name_of(_m1), name_of(_m2), i);
            return false;
        }
    }
    return true;
}

bool are_equal_polys(mesh_t* _m1, mesh_t* _m2)
{
    CHECK_PTR(_m1, false);
    CHECK_PTR(_m2, false);
    CHECK_PTR(_m1->polys, false);
    CHECK_PTR(_m2->polys, false);
    if (_m1->npolys != _m2->npolys) {
        ELOG(EL_MINDEBUG, "%s/%s: different poly count", name_of(_m1), name_of(_m2));
        return false;
    }
    for (int i = 0; i < _m1->npolys; ++i) {
        if (!are_equal_polys(&_m1->polys[i], &_m2->polys[i])) {
            ELOG(EL_MINDEBUG, "%s/%s: polys %d are unequal", name_of(_m1), name_of(_m2), i);
            return false;
        }
    }
    return true;
}

bool are_equal_meshes(mesh_t* _m1, mesh_t* _m2)
{
    CHECK_PTR(_m1, false);
    CHECK_PTR(_m2, false);
    const char* reason = nullptr;
    if ((VALID_PRIMITIVE(_m1) && !has_polys(_m1) && has_polys(_m2)) ||
        (VALID_PRIMITIVE(_m2) && !has_polys(_m2) && has_polys(_m1)))
        reason = "different mesh types";
    else if (_m1->groupable_t::compare(_m2) != 0)
        reason = "different group info";
    else if (_m1->type != _m2->type)
        reason = "different poly types";
    if (reason) {
        ELOG(EL_MINDEBUG, "%s/%s: %s", name_of(_m1), name_of(_m2), reason);
        return false;
    }
    return are_equal_va(_m1, _m2) && are_equal_polys(_m1, _m2);
}

int transform_mesh_l_coords_to_world(d_list* _meshes)
{
    CHECK_PTR(_meshes, -1);
    int result = 0;
    for (d_node* n = _meshes->first; n; n = n->next)
        if (static_cast<mesh_t*>(n->object)->transform_coords_to_world() < 0)
            result = -1;
    return result;
}

void dump_mesh_l(FILE* f, d_list* meshes, const char* tabs)
{
    if (!f || !meshes || !tabs)
        return;
    fprintf(f, "%s+++mesh list: %d meshes\n", tabs, meshes->count);
    for (d_node* n = meshes->first; n; n = n->next)
        static_cast<mesh_t*>(n->object)->dump(f, tabs);
}

}  // namespace vantrel
