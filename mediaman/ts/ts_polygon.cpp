// trueSpace polygon objects ("PolH") and their conversion into meshes, and
// groups into models.
#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/g_collector.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "kdbase/pointer.h"
#include "kdbase/regex.h"
#include "mediaman/ts/ts_file.h"
#include "mediaman/ts/ts_local.h"
#include "primitives/material.h"
#include "primitives/model.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

// True when count records of at least each bytes fit in what is left of the
// chunk; otherwise logged.
static bool counted(ts_cursor& c, long count, long each, const char* what)
{
    if (!c.ok)
        return false;
    if (count >= 0 && count <= c.left() / each)
        return true;
    ELOG(EL_MINDEBUG, "%s chunk at %ld: %ld %s do not fit in the %ld bytes left", c.type, c.file_pos, count, what,
         c.left());
    return false;
}

static int read_face(ts_cursor& c, TS_FACE_LIST& f, bool& hole)
{
    f.flags = c.u8();
    f.ncorners = c.u16();
    hole = (f.flags & 8) != 0;
    if (!hole)
        f.material = c.u16();
    if (!counted(c, f.ncorners, 8, "face corners"))
        return -1;
    if (hole)
        return c.skip(8L * f.ncorners) ? 0 : -1;
    f.corners = KD_NEW TS_FACE_VERTICES[f.ncorners];
    if (!f.corners)
        return -1;
    for (int k = 0; k < f.ncorners; ++k) {
        f.corners[k].vertex = c.i32();
        f.corners[k].uv_vertex = c.i32();
    }
    return c.ok ? 0 : -1;
}

int CTrueSpaceFile::ReadPolygon_00_06(long chunk, ts_cursor& c)
{
    pointer_t<TS_POLYGONAL_DATA> p;
    p.p = KD_NEW TS_POLYGONAL_DATA();
    if (!p)
        return -1;
    p->chunk = chunk;
    p->header = chunks[chunk]->header;
    if (ts_read_name(c, p->name) < 0)
        return -1;
    ts_read_laxes(c, p->axes);
    ts_read_position(c, p->position);

    int32_t n = c.i32();
    if (!counted(c, n, 12, "vertices") || !(p->vertices.xyz = KD_NEW float[3 * (size_t)n]))
        return -1;
    p->vertices.count = n;
    c.floats(p->vertices.xyz, 3 * n);

    n = c.i32();
    if (!counted(c, n, 8, "texture vertices") || !(p->uv_vertices.uv = KD_NEW float[2 * (size_t)n]))
        return -1;
    p->uv_vertices.count = n;
    c.floats(p->uv_vertices.uv, 2 * n);

    // A face takes at least 3 bytes (flags and corner count).
    n = c.i32();
    if (!counted(c, n, 3, "faces") || !(p->faces = KD_NEW TS_FACE_LIST[(size_t)n]))
        return -1;
    for (int32_t k = 0; k < n; ++k) {
        bool hole;
        if (read_face(c, p->faces[p->nfaces], hole) < 0)
            return -1;
        if (!hole)
            ++p->nfaces;
    }
    p->draw_flags = c.i32();
    if (p->header.minor < 8)
        p->radiosity_quality = c.u16();
    if (!c.ok)
        return -1;
    int r = keep(polygonals, p.p);
    p.dont_delete();
    return r;
}

// ---- queries ------------------------------------------------------------------

bool CTrueSpaceFile::GetVertexCount(long id, unsigned long& n)
{
    TS_POLYGONAL_DATA* p = polygonal_of(id);
    if (p)
        n = (unsigned long)p->vertices.count;
    return p != nullptr;
}

bool CTrueSpaceFile::GetVertex(long id, unsigned long k, float* xyz)
{
    TS_POLYGONAL_DATA* p = polygonal_of(id);
    if (!p || !xyz || k >= (unsigned long)p->vertices.count)
        return false;
    memcpy(xyz, p->vertices.xyz + 3 * k, 3 * sizeof(float));
    return true;
}

bool CTrueSpaceFile::GetTextureVertexCount(long id, unsigned long& n)
{
    TS_POLYGONAL_DATA* p = polygonal_of(id);
    if (p)
        n = (unsigned long)p->uv_vertices.count;
    return p != nullptr;
}

bool CTrueSpaceFile::GetTextureVertex(long id, unsigned long k, float* uv)
{
    TS_POLYGONAL_DATA* p = polygonal_of(id);
    if (!p || !uv || k >= (unsigned long)p->uv_vertices.count)
        return false;
    memcpy(uv, p->uv_vertices.uv + 2 * k, 2 * sizeof(float));
    return true;
}

bool CTrueSpaceFile::GetFaceCount(long id, unsigned long& n)
{
    TS_POLYGONAL_DATA* p = polygonal_of(id);
    if (p)
        n = (unsigned long)p->nfaces;
    return p != nullptr;
}

bool CTrueSpaceFile::GetFace(long id, unsigned long k, long* corners6, long& mat)
{
    TS_POLYGONAL_DATA* p = polygonal_of(id);
    if (!p || !corners6 || k >= (unsigned long)p->nfaces)
        return false;
    const TS_FACE_LIST& f = p->faces[k];
    for (int i = 0; i < 3; ++i) {
        corners6[2 * i] = i < f.ncorners ? f.corners[i].vertex : -1;
        corners6[2 * i + 1] = i < f.ncorners ? f.corners[i].uv_vertex : -1;
    }
    mat = f.material;
    return true;
}

bool CTrueSpaceFile::GetFace(long id, unsigned long k, long* corners, unsigned short& n, long& mat)
{
    TS_POLYGONAL_DATA* p = polygonal_of(id);
    if (!p || !corners || k >= (unsigned long)p->nfaces)
        return false;
    const TS_FACE_LIST& f = p->faces[k];
    for (int i = 0; i < f.ncorners; ++i) {
        corners[2 * i] = f.corners[i].vertex;
        corners[2 * i + 1] = f.corners[i].uv_vertex;
    }
    n = f.ncorners;
    mat = f.material;
    return true;
}

long CTrueSpaceFile::total_polygonal_verts(TS_POLYGONAL_DATA* p)
{
    if (!p) {
        ELOG(EL_MINDEBUG, "total_polygonal_verts(): invalid parameters");
        return -1;
    }
    long n = 0;
    for (int32_t k = 0; k < p->nfaces; ++k)
        n += p->faces[k].ncorners;
    return n;
}

// ---- meshes ---------------------------------------------------------------------

// Every corner of every face must index its lists.
static bool corners_in_lists(const TS_POLYGONAL_DATA* p)
{
    for (int32_t k = 0; k < p->nfaces; ++k) {
        const TS_FACE_LIST& f = p->faces[k];
        for (int i = 0; i < f.ncorners; ++i) {
            const TS_FACE_VERTICES& v = f.corners[i];
            if (v.vertex < 0 || v.vertex >= p->vertices.count || v.uv_vertex < 0 ||
                v.uv_vertex >= p->uv_vertices.count) {
                ELOG(EL_MINDEBUG,
                     "polygon object %s: face %d corner %d refers to vertex %d of %d, texture vertex %d of %d",
                     p->name.string.str(), k, i, v.vertex, p->vertices.count, v.uv_vertex, p->uv_vertices.count);
                return false;
            }
        }
    }
    return true;
}

// v becomes R * ((P * v) - c): placed by the position P, then expressed in the
// axes A (centre c, rotation R = A's rotation transposed).
static void to_local(float* v, const float* P, const float* A)
{
    float w[4] = {v[0], v[1], v[2], 1};
    multmatrix_v3(w, P);
    sub_v(w, A + 12);
    for (int axis = 0; axis < 3; ++axis)
        v[axis] = dotproduct_v(A + 4 * axis, w);
}

static void fix_mesh_verts(mesh_t* mesh, const TS_POLYGONAL_DATA* p, const TS_LAXES& a)
{
    float P[16];
    transpose_mr(P, p->position.m);
    if (mesh->va) {
        for (int k = 0; k < mesh->vasize; ++k)
            to_local(mesh->va[k].v, P, a.m);
    } else {
        for (int k = 0; k < mesh->npolys; ++k)
            for (int i = 0; i < mesh->polys[k].vasize; ++i)
                to_local(mesh->polys[k].va[i].v, P, a.m);
    }
    multmatrix_mr(mesh->matrix, ts_axis_conversion(), a.m);
    for (int k = 0; k < mesh->npolys; ++k)
        mesh->polys[k].calculate_normal(nullptr);
}

int CTrueSpaceFile::_read_mesh(TS_POLYGONAL_DATA* p, mesh_t* mesh, d_list* mats, const char* who)
{
    if (!corners_in_lists(p))
        return -1;
    int used = 0;
    for (int32_t k = 0; k < p->nfaces; ++k)
        used += p->faces[k].ncorners > 0;
    int offset = mats ? mats->count : 0;
    mesh->_delete_polys();
    mesh->_delete_verts();
    if (used > 0 && mesh->_alloc_polys(used) < 0) {
        ELOG(EL_MINDEBUG, "%s: unable to create polys", who);
        return -1;
    }
    const TS_BONE* bone = nullptr;
    for (long b = 0; mats && b < bones.count && !bone; ++b)
        if (bones[b]->name.dupecount == p->name.dupecount &&
            strcmp(bones[b]->name.string.str(), p->name.string.str()) == 0)
            bone = bones[b];

    int k = 0;
    for (int32_t fi = 0; fi < p->nfaces; ++fi) {
        const TS_FACE_LIST& f = p->faces[fi];
        if (f.ncorners == 0)
            continue;
        n_poly& poly = mesh->polys[k++];
        if (poly._alloc_verts(f.ncorners, -1) < 0) {
            ELOG(EL_MINDEBUG, "unable to allocate poly verts");
            return -1;
        }
        for (int i = 0; i < f.ncorners; ++i) {
            const TS_FACE_VERTICES& corner = f.corners[f.ncorners - 1 - i];
            mrv_vertex& v = poly.va[i];
            memcpy(v.v, p->vertices.xyz + 3 * corner.vertex, 3 * sizeof(float));
            memset(v.n, 0, sizeof v.n);
            memcpy(v.t, p->uv_vertices.uv + 2 * corner.uv_vertex, 2 * sizeof(float));
        }
        poly.mat = f.material + offset;
        poly.calculate_normal(nullptr);
    }
    if (used > 0 && mesh->unify_vertices() < 0)
        ELOG(EL_MINDEBUG, "unable to unify mesh");
    if (!mesh->name)
        mesh->set_name(convert_name_to_str(p->name).c_str());
    fix_mesh_verts(mesh, p, bone ? bone->axes : p->axes);
    return mats ? _load_mesh_materials(p, mats) : 0;
}

int CTrueSpaceFile::read_mesh(unsigned int index, mesh_t* mesh, d_list* mats)
{
    if (!mesh || !mats) {
        ELOG(EL_MINDEBUG, "read_mesh(): invalid parameters");
        return -1;
    }
    if (!valid || index >= (unsigned long)polygonals.count)
        return -1;
    return _read_mesh(polygonals[index], mesh, mats, "read_mesh()");
}

mesh_t* CTrueSpaceFile::create_mesh_from(TS_POLYGONAL_DATA* p)
{
    if (!p) {
        ELOG(EL_MINDEBUG, "create_mesh_from(): invalid parameters");
        return nullptr;
    }
    pointer_t<mesh_t> mesh;
    mesh.p = KD_NEW mesh_t;
    if (!mesh || _read_mesh(p, mesh, nullptr, "create_mesh_from ()") < 0)
        return nullptr;
    mesh.dont_delete();
    return mesh.p;
}

int CTrueSpaceFile::read_mesh_l(const char* pattern, d_list* meshes, d_list* mats)
{
    if (!pattern || !meshes || !mats) {
        ELOG(EL_MINDEBUG, "read_mesh_l(): invalid parameters");
        return -1;
    }
    for (long i = 0; valid && i < polygonals.count; ++i) {
        if (!regex_match(pattern, polygonals[i]->name.string.str(), 0))
            continue;
        pointer_t<mesh_t> mesh;
        mesh.p = KD_NEW mesh_t;
        if (!mesh || read_mesh((unsigned int)i, mesh, mats) < 0)
            return -1;
        if (meshes->insert(mesh.p) < 0) {
            ELOG(EL_MINDEBUG, "read_mesh_l(): unable to add mesh to list");
            return -1;
        }
        mesh.dont_delete();
    }
    return valid ? 0 : -1;
}

// ---- models ----------------------------------------------------------------------

// The list's objects as a null-terminated array of T* (delete[]), or null.
template <class T>
static T** ref_array(d_list& l)
{
    T** a = KD_NEW T*[(size_t)l.count + 1];
    if (!a)
        return nullptr;
    int i = 0;
    for (d_node* n = l.first; n; n = n->next)
        a[i++] = static_cast<T*>(n->object);
    a[i] = nullptr;
    return a;
}

// A model does not own its skin: on failure the skins of the models made
// here are released with them, children first.
static void release_skins(model_t* m)
{
    for (int k = 0; k < m->nchildren; ++k)
        release_skins(m->children[k]);
    delete_skin_mats(&m->skin);
    delete[] m->skin;
    m->skin = nullptr;
}

// Moves every mesh of model back by the translation of the outermost model;
// a model with a parent gets the identity matrix.
static void fix_children_model_m(model_t* model)
{
    model_t* top = model;
    while (model_t* up = dynamic_cast<model_t*>(top->parent))
        top = up;
    for (int k = 0; k < model->nmeshes; ++k)
        if (model->meshes[k])
            sub_v(model->meshes[k]->matrix + 12, top->matrix + 12);
    if (model->parent)
        makeIdentityMatrix(model->matrix);
}

int CTrueSpaceFile::_load_model_children(long chunk, model_t* model)
{
    g_collector<model_t> made_models;
    g_collector<mesh_t> made_meshes;
    d_list child_models, meshes, mats;
    bool ok = true;
    auto add_mesh = [&](long c, const char* failed_append) {
        mesh_t* mesh = made_meshes.alloc();
        if (!mesh || read_mesh((unsigned int)chunks[c]->data_index, mesh, &mats) < 0)
            return false;
        if (meshes.insert(mesh) < 0) {
            ELOG(EL_MINDEBUG, "%s", failed_append);
            return false;
        }
        return true;
    };
    const ts_array<long>& children = chunks[chunk]->children;
    for (long k = 0; ok && k < children.count; ++k) {
        long c = children[k];
        switch (chunks[c]->kind) {
        case TS_KIND_GROUP: {
            model_t* child = made_models.alloc();
            ok = child != nullptr;
            if (ok) {
                child->parent = model;
                ok = read_model((unsigned int)chunks[c]->data_index, child) == 0;
                if (ok && child_models.insert(child) < 0) {
                    release_skins(child);
                    ok = false;
                }
            }
            break;
        }
        case TS_KIND_POLYGONAL:
            ok = add_mesh(c, "unable to add mesh to list");
            break;
        case TS_KIND_BONE:
            for (long j = 0; ok && j < chunks[c]->children.count; ++j)
                if (chunks[chunks[c]->children[j]]->kind == TS_KIND_POLYGONAL)
                    ok = add_mesh(chunks[c]->children[j], "unable to add mesh to mesh list");
            break;
        default:
            break;
        }
    }
    model_t** child_array = ok ? ref_array<model_t>(child_models) : nullptr;
    mesh_t** mesh_array = ok ? ref_array<mesh_t>(meshes) : nullptr;
    material_t** skin = ok ? ref_array<material_t>(mats) : nullptr;
    if (!child_array || !mesh_array || !skin) {
        delete[] child_array;
        delete[] mesh_array;
        delete[] skin;
        ts_delete_objects(mats);
        for (d_node* n = child_models.first; n; n = n->next)
            release_skins(static_cast<model_t*>(n->object));
        return -1;
    }
    model->delete_meshes();
    model->children = child_array;
    model->nchildren = child_models.count;
    model->meshes = mesh_array;
    model->nmeshes = meshes.count;
    model->skin = skin;
    made_models.dont_delete();
    made_meshes.dont_delete();
    return 0;
}

int CTrueSpaceFile::read_model(unsigned int index, model_t* _model)
{
    CHECK_PTR(_model, -1);
    if (!valid || index >= (unsigned long)groups.count) {
        ELOG(EL_MINDEBUG, "index %u exceeds the number of models found", index);
        return -1;
    }
    TS_GROUP* g = groups[index];
    copy_m(_model->matrix, g->axes.m);
    if (_load_model_children(g->chunk, _model) < 0)
        return -1;
    _model->set_name(convert_name_to_str(g->name).c_str());
    fix_children_model_m(_model);
    return 0;
}

int CTrueSpaceFile::read_model_l(const char* _regex, d_list* _models)
{
    CHECK_PTR(_regex, -1);
    CHECK_PTR(_models, -1);
    for (long i = 0; valid && i < groups.count; ++i) {
        if (!regex_match(_regex, groups[i]->name.string.str(), 0))
            continue;
        pointer_t<model_t> model;
        model.p = KD_NEW model_t;
        if (!model || read_model((unsigned int)i, model) < 0)
            return -1;
        if (_models->insert(model.p) < 0) {
            ELOG(EL_MINDEBUG, "unable to add model to list");
            return -1;
        }
        model.dont_delete();
    }
    return valid ? 0 : -1;
}

}  // namespace vantrel
