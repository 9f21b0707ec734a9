#include "mediaman/cds/bsp_chunks.h"

#include <cinttypes>
#include <cstring>
#include <memory>

#include "kdbase/pointer.h"
#include "mediaman/cds/chunk_local.h"
#include "world/solid_bsp.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

using namespace chunk_local;

namespace {

const char bspt_type[] = "BSPT";

// Bytes of the statistics, of a node record without its lists and plane, and
// of the plane.
const int64_t stats_bytes = 9 * 4;
const int64_t node_fixed_bytes = 4 + 24 + 8 + 4 + 4;
const int64_t plane_bytes = 24;

int32_t* stat_fields(solid_bsp_stats_t& s, int k)
{
    int32_t* fields[9] = {&s.npolys, &s.nnodes, &s.nmeshes, &s.ni_nodes, &s.solid,
                          &s.empty,  &s.nfront, &s.nback,   &s.balance};
    return fields[k];
}

bool is_leaf(bsp_index_t* b)
{
    return FLAG_ISSET(b->flags, BN_ISLEAF);
}

void read_vector3(cds& c, float* v, float w)
{
    c.ReadVector3(v);
    v[3] = w;
}

// Node record i into b. seen[v] == i marks leaf v already in b's visible set.
int read_node(cds& c, bsp_index_t* root, bsp_index_t* b, int i, int n, long end, int32_t* seen, const char* id)
{
    uint32_t flags = (uint32_t)c.ReadInt() & ~(uint32_t)PRIM_OWNS_ARRAYS;
    bool leaf = (flags & BN_ISLEAF) != 0;
    if (!fits(c, end, node_fixed_bytes - 4 + (leaf ? 0 : plane_bytes), id, "node"))
        return -1;
    b->flags = flags;
    if (!leaf) {
        if (b->_alloc_verts(1) < 0)
            return -1;
        mrv_vertex& p = b->va[0];
        c.ReadVector3(p.v);
        memset(p.n, 0, sizeof p.n);
        memset(p.t, 0, sizeof p.t);
        read_vector3(c, b->normal, 1.0f);
    }
    read_vector3(c, b->bbox.min, 1.0f);
    read_vector3(c, b->bbox.max, 1.0f);
    b->front = c.ReadInt();
    b->back = c.ReadInt();
    int32_t m = c.ReadInt();
    if (m < 0) {
        ELOG(EL_MINDEBUG, "%s: invalid mesh count %d", id, m);
        return -1;
    }
    if (!fits(c, end, m * int64_t{4} + 4, id, "mesh numbers"))
        return -1;
    if (m > 0) {
        b->meshes = KD_NEW int32_t[m + 1];
        if (!b->meshes)
            return -1;
        b->meshes[0] = -1;
        for (int k = 0; k < m; ++k) {
            int32_t mesh = c.ReadInt();
            if (mesh < 0) {
                ELOG(EL_MINDEBUG, "%s: invalid mesh number %d", id, mesh);
                return -1;
            }
            b->meshes[k] = mesh;
            b->meshes[k + 1] = -1;
        }
    }
    int32_t v = c.ReadInt();
    if (v < 0) {
        ELOG(EL_MINDEBUG, "%s: invalid visible leaf count %d", id, v);
        return -1;
    }
    if (!fits(c, end, v * int64_t{4}, id, "visible leaves"))
        return -1;
    for (int k = 0; k < v; ++k) {
        int32_t leaf_num = c.ReadInt();
        if (leaf_num < 0 || leaf_num >= n) {
            ELOG(EL_MINDEBUG, "%s: visible leaf %d outside the node table", id, leaf_num);
            return -1;
        }
        // Leaf 0 can only be a root that is a leaf, and a list cannot hold 0:
        // such a tree's one leaf sees itself anyway.
        if (leaf_num == 0 && is_leaf(root)) {
            continue;
        } else if (leaf_num == 0) {
            ELOG(EL_MINDEBUG, "%s: visible leaf 0 is not a leaf", id);
            return -1;
        }
        if (seen[leaf_num] == i)
            continue;
        seen[leaf_num] = i;
        if (b->visible_leafs.insert((void*)(intptr_t)leaf_num) < 0)
            return -1;
    }
    return 0;
}

// The links between the nodes: children inside the table, none the root and
// none shared (so every walk from the root ends), visible sets naming leaves.
// seen is scratch room for n entries.
bool check_links(bsp_index_t** nodes, int n, int32_t* seen, const char* id)
{
    memset(seen, 0, (size_t)n * sizeof *seen);
    for (int i = 0; i < n; ++i) {
        bsp_index_t* b = nodes[i];
        for (int32_t child : {b->front, b->back}) {
            if (child == -1 && is_leaf(b))
                continue;
            if (child < 1 || child >= n || seen[child]) {
                ELOG(EL_MINDEBUG, "%s: node %d: invalid child %d", id, i, child);
                return false;
            }
            seen[child] = 1;
        }
        for (d_node* d = b->visible_leafs.first; d; d = d->next) {
            int leaf = (int)(intptr_t)d->data;
            if (!is_leaf(nodes[leaf])) {
                ELOG(EL_MINDEBUG, "%s: node %d: visible leaf %d is not a leaf", id, i, leaf);
                return false;
            }
        }
    }
    return true;
}

}  // namespace

int get_int_a_count(const int32_t* a)
{
    int n = 0;
    while (a && a[n] != -1)
        ++n;
    return n;
}

chunk_bspt::chunk_bspt() : chunk_io(bspt_type) {}

int chunk_bspt::read(cds& c, chunk_header& h)
{
    long end = c.GetPos() + h.size;
    pointer_t<solid_bsp_t> tree;
    tree.p = KD_NEW solid_bsp_t;
    if (!tree || name_from(tree, h.id) < 0) {
        ELOG(EL_MINDEBUG, "%s: unable to allocate object", h.id);
        return -1;
    }
    c.set_group(tree);
    if (!fits(c, end, stats_bytes, h.id, "statistics"))
        return -1;
    solid_bsp_stats_t stats;
    for (int k = 0; k < 9; ++k)
        *stat_fields(stats, k) = c.ReadInt();
    int n = stats.ni_nodes;
    if (n < 1) {
        ELOG(EL_MINDEBUG, "%s: invalid node count %d", h.id, n);
        return -1;
    }
    if (!fits(c, end, n * node_fixed_bytes, h.id, "node table"))
        return -1;
    // The tree owns the table and every node in it from the start.
    bsp_index_t** nodes = KD_NEW bsp_index_t*[n];
    std::unique_ptr<int32_t[]> seen(KD_NEW int32_t[n]);
    if (!nodes || !seen) {
        delete[] nodes;
        return -1;
    }
    memset(nodes, 0, (size_t)n * sizeof *nodes);
    nodes[0] = &tree->root;
    tree->i_nodes = nodes;
    tree->stats.set(&stats);
    for (int i = 0; i < n; ++i)
        seen[i] = -1;
    for (int i = 0; i < n; ++i) {
        if (i > 0 && !(nodes[i] = KD_NEW bsp_index_t))
            return -1;
        if (read_node(c, nodes[0], nodes[i], i, n, end, seen.get(), h.id) < 0) {
            ELOG(EL_MINDEBUG, "%s: unable to read i_node %d", h.id, i);
            return -1;
        }
    }
    if (!check_links(nodes, n, seen.get(), h.id))
        return -1;
    if (objects.insert(tree) < 0) {
        ELOG(EL_MINDEBUG, "unable to insert tree to objects list");
        return -1;
    }
    tree.dont_delete();
    return 0;
}

int chunk_bspt::write(cds& c, groupable_t* o)
{
    solid_bsp_t* _object = dynamic_cast<solid_bsp_t*>(o);
    CHECK_PTR(_object, -1);
    const char* name = _object->name ? _object->name : "";
    int n = _object->stats.ni_nodes;
    if (!_object->i_nodes || n < 1) {
        ELOG(EL_MINDEBUG, "%s: tree without nodes", name);
        return -1;
    }
    for (int i = 0; i < n; ++i) {
        bsp_index_t* b = _object->i_nodes[i];
        if (!b || (!is_leaf(b) && (!VALID_PRIMITIVE(b) || b->vi[0] >= (uint32_t)b->vasize))) {
            ELOG(EL_MINDEBUG, "%s: node %d cannot be stored", name, i);
            return -1;
        }
    }
    long size_pos = c.write_header(bspt_type, 0, _object->name);
    long start = c.GetPos();
    for (int k = 0; k < 9; ++k)
        c.WriteInt(*stat_fields(_object->stats, k));
    for (int i = 0; i < n; ++i) {
        bsp_index_t* b = _object->i_nodes[i];
        c.WriteInt((int32_t)(b->flags & ~(uint32_t)PRIM_OWNS_ARRAYS));
        if (!is_leaf(b)) {
            c.WriteVector3(b->va[b->vi[0]].v);
            c.WriteVector3(b->normal);
        }
        c.WriteVector3(b->bbox.min);
        c.WriteVector3(b->bbox.max);
        c.WriteInt(b->front);
        c.WriteInt(b->back);
        int m = get_int_a_count(b->meshes);
        c.WriteInt(m);
        for (int k = 0; k < m; ++k)
            c.WriteInt(b->meshes[k]);
        c.WriteInt(b->visible_leafs.count);
        for (d_node* d = b->visible_leafs.first; d; d = d->next)
            c.WriteInt((int32_t)(intptr_t)d->data);
    }
    return c.write_size_at_pos(size_pos, start);
}

chunk_io* create_bspt()
{
    return KD_NEW chunk_bspt;
}

}  // namespace vantrel
