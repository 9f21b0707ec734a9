#include "mediaman/cds/geometry_chunks.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>

#include "kdbase/cfile.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/pointer.h"
#include "mediaman/cds/cds.h"
#include "mediaman/cds/chunk_local.h"
#include "primitives/material.h"
#include "primitives/model.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

using namespace chunk_local;

namespace {

const char text_type[] = "TEXT";
const char mesh_type[] = "MESH";
const char modl_type[] = "MODL";
const char matl_type[] = "MATL";
const char shad_type[] = "SHAD";

// Shader kinds as stored.
enum { KIND_COLOR = 1, KIND_TEXTURE = 2 };

// Longest texture path with its NUL.
const int tex_path_max = 260;
// Payload bytes of the fixed parts.
const int64_t matrix_bytes = 64;
const int64_t vertex_bytes = 32;
const int64_t poly_head_bytes = 20;  // mat, normal, count
const int64_t color_body_bytes = 84;
const int64_t tex_tail_bytes = 12 + 64;

void read_floats(cds& c, float* v, int n)
{
    for (int i = 0; i < n; ++i)
        v[i] = c.ReadFloat();
}

// The matrix, vertex and polygon parts of a MESH payload ending at end, in
// the shared-vertex form.
int read_mesh_body(cds& c, mesh_t* m, long end, const char* id)
{
    if (!fits(c, end, matrix_bytes + 8, id, "mesh header"))
        return -1;
    c.ReadMatrix(m->matrix);
    int32_t nverts = c.ReadInt();
    int32_t vasize = c.ReadInt();
    if (vasize < 1 || nverts < 0) {
        ELOG(EL_MINDEBUG, "%s: invalid mesh counts (nverts=%d vasize=%d)", id, nverts, vasize);
        return -1;
    }
    // Every index the mesh declares must be able to follow the vertices.
    if (!fits(c, end, vasize * vertex_bytes + 4 + nverts * int64_t{4}, id, "vertex array"))
        return -1;
    if (m->_alloc_verts(vasize, nverts) < 0)
        return -1;
    m->nverts = 0;  // the fill mark of vi from here on
    for (int k = 0; k < vasize; ++k) {
        mrv_vertex& v = m->va[k];
        read_floats(c, v.v, 3);
        read_floats(c, v.n, 3);
        read_floats(c, v.t, 2);
    }
    int32_t npolys = c.ReadInt();
    if (npolys < 0) {
        ELOG(EL_MINDEBUG, "%s: invalid polygon count %d", id, npolys);
        return -1;
    }
    if (!fits(c, end, npolys * poly_head_bytes, id, "polygon array"))
        return -1;
    if (m->_alloc_polys(npolys) < 0)
        return -1;
    for (int i = 0; i < npolys; ++i) {
        n_poly& p = m->polys[i];
        p.mat = c.ReadInt();
        read_floats(c, p.normal, 3);
        p.normal[3] = 1.0f;
        int32_t count = c.ReadInt();
        if (count < 0 || count > nverts - m->nverts) {
            ELOG(EL_MINDEBUG, "%s: polygon %d has %d corners, more than the mesh's %d indices hold", id, i, count,
                 nverts);
            return -1;
        }
        if (!fits(c, end, count * int64_t{4}, id, "polygon indices"))
            return -1;
        p.flags &= ~PRIM_OWNS_ARRAYS;
        p.va = m->va;
        p.vasize = vasize;
        p.vi = m->vi + m->nverts;
        p.nverts = count;
        m->nverts += count;
        for (int k = 0; k < count; ++k) {
            uint32_t index = (uint32_t)c.ReadInt();
            if (index >= (uint32_t)vasize) {
                ELOG(EL_MINDEBUG, "%s: polygon %d indexes vertex %u of %d", id, i, index, vasize);
                return -1;
            }
            p.vi[k] = index;
        }
    }
    return 0;
}

// True when the mesh can be stored: polygons and vertices, every polygon
// indexing the mesh's own vertex array within its bounds. Logs otherwise.
bool storable_mesh(mesh_t* m)
{
    const char* name = m->name ? m->name : "";
    if (!m->polys || m->npolys < 1) {
        ELOG(EL_MINDEBUG, "%s: invalid mesh type", name);
        return false;
    }
    if (!m->va || m->vasize < 1) {
        ELOG(EL_MINDEBUG, "%s: mesh without vertices", name);
        return false;
    }
    int64_t corners = 0;
    for (int i = 0; i < m->npolys; ++i) {
        n_poly& p = m->polys[i];
        bool ok = p.nverts >= 0 && (p.nverts == 0 || (p.vi && p.va == m->va));
        for (int k = 0; ok && k < p.nverts; ++k)
            ok = p.vi[k] < (uint32_t)m->vasize;
        if (!ok) {
            ELOG(EL_MINDEBUG, "%s: polygon %d does not index the mesh's vertex array", name, i);
            return false;
        }
        corners += p.nverts;
    }
    if (corners > INT32_MAX) {
        ELOG(EL_MINDEBUG, "%s: too many polygon corners", name);
        return false;
    }
    return true;
}

// A shader's kind, or 0 after logging when it cannot be stored.
int storable_kind(shader_t* s)
{
    if (dynamic_cast<color_shader_t*>(s))
        return KIND_COLOR;
    tex_shader_t* _tex_shad = dynamic_cast<tex_shader_t*>(s);
    if (!_tex_shad) {
        ELOG(EL_MINDEBUG, "invalid shader type");
        return 0;
    }
    if (!_tex_shad->texture.name) {
        ELOG(EL_MINDEBUG, "invalid pointer: %s=%" PRIxPTR, "_tex_shad->tex.name", (uintptr_t)0);
        return 0;
    }
    if (strlen(_tex_shad->texture.name) >= (size_t)tex_path_max) {
        ELOG(EL_MINDEBUG, "%.40s...: texture path longer than %d characters", _tex_shad->texture.name,
             tex_path_max - 1);
        return 0;
    }
    return KIND_TEXTURE;
}

}  // namespace

// ---- TEXT --------------------------------------------------------------------

chunk_text::chunk_text() : chunk_io(text_type) {}

int chunk_text::read(cds& c, chunk_header& h)
{
    pointer_t<buffer_t> buf;
    if (h.size <= c.GetSize() - c.GetPos() && h.size <= INT32_MAX)
        buf.p = alloc_buffer((int)h.size);
    if (!buf || name_from(buf, h.id) < 0) {
        ELOG(EL_MINDEBUG, "%s: unable to allocate object", h.id);
        return -1;
    }
    if (h.size > 0)
        c.Read(buf->data(), (int)h.size);
    c.set_group(buf);
    if (objects.insert(buf) < 0) {
        ELOG(EL_MINDEBUG, "%s: unable to add to objects list", h.id);
        return -1;
    }
    buf.dont_delete();
    return 0;
}

int chunk_text::write(cds& c, groupable_t* o)
{
    buffer_t* buf = dynamic_cast<buffer_t*>(o);
    CHECK_PTR(buf, -1);
    c.write_header(text_type, buf->size, buf->name);
    if (buf->size > 0)
        c.Write(buf->data(), buf->size);
    return 0;
}

// ---- MESH --------------------------------------------------------------------

chunk_mesh::chunk_mesh() : chunk_io(mesh_type) {}

int chunk_mesh::read(cds& c, chunk_header& h)
{
    long end = c.GetPos() + h.size;
    pointer_t<mesh_t> m;
    m.p = KD_NEW mesh_t;
    if (!m || name_from(m, h.id) < 0) {
        ELOG(EL_MINDEBUG, "%s: unable to allocate object", h.id);
        return -1;
    }
    c.set_group(m);
    if (read_mesh_body(c, m, end, h.id) < 0)
        return -1;
    if (objects.insert(m) < 0) {
        ELOG(EL_MINDEBUG, "unable to add mesh %s to objects list", h.id);
        return -1;
    }
    m.dont_delete();
    return 0;
}

int chunk_mesh::write(cds& c, groupable_t* o)
{
    mesh_t* _m = dynamic_cast<mesh_t*>(o);
    CHECK_PTR(_m, -1);
    if (!storable_mesh(_m))
        return -1;
    long size_pos = c.write_header(mesh_type, 0, _m->name);
    long start = c.GetPos();
    c.WriteMatrix(_m->matrix);
    c.WriteInt(_m->_count_poly_verts());
    c.WriteInt(_m->vasize);
    for (int k = 0; k < _m->vasize; ++k) {
        mrv_vertex& v = _m->va[k];
        c.WriteVector3(v.v);
        c.WriteVector3(v.n);
        c.WriteFloat(v.t[0]);
        c.WriteFloat(v.t[1]);
    }
    c.WriteInt(_m->npolys);
    for (int i = 0; i < _m->npolys; ++i) {
        n_poly& p = _m->polys[i];
        c.WriteInt(p.mat);
        c.WriteVector3(p.normal);
        c.WriteInt(p.nverts);
        for (int k = 0; k < p.nverts; ++k)
            c.WriteInt((int32_t)p.vi[k]);
    }
    return c.write_size_at_pos(size_pos, start);
}

// ---- MODL --------------------------------------------------------------------

chunk_modl::chunk_modl() : chunk_io(modl_type) {}

int chunk_modl::read(cds& c, chunk_header& h)
{
    long end = c.GetPos() + h.size;
    pointer_t<model_t> model;
    model.p = KD_NEW model_t;
    if (!model || name_from(model, h.id) < 0) {
        ELOG(EL_MINDEBUG, "%s: unable to allocate object", h.id);
        return -1;
    }
    if (!fits(c, end, matrix_bytes + 4, h.id, "model header"))
        return -1;
    c.ReadMatrix(model->matrix);
    int32_t n = c.ReadInt();
    if (n < 0) {
        ELOG(EL_MINDEBUG, "%s: invalid mesh count %d", h.id, n);
        return -1;
    }
    if (!fits(c, end, n * min_chunk_bytes, h.id, "mesh array"))
        return -1;
    if (model->alloc_meshes(n) < 0)
        return -1;
    // The meshes pass through a reader of their own, which does not own them.
    chunk_mesh meshes;
    for (int i = 0; i < n; ++i) {
        chunk_header sh;
        if (read_embedded_header(c, sh, end, h.id) < 0)
            return -1;
        if (memcmp(sh.type, mesh_type, 4) != 0) {
            ELOG(EL_MINDEBUG, "found an invalid sub-chunk in chunk %s", h.id);
            return -1;
        }
        mesh_t* m = static_cast<mesh_t*>(read_embedded(c, meshes, sh));
        if (!m)
            return -1;
        model->meshes[i] = m;
        m->parent = model;
    }
    if (objects.insert(model) < 0) {
        ELOG(EL_MINDEBUG, "unable to add %s to objects list", h.id);
        return -1;
    }
    model.dont_delete();
    return 0;
}

int chunk_modl::write(cds& c, groupable_t* o)
{
    model_t* model = dynamic_cast<model_t*>(o);
    if (!VALID_MODEL(model)) {
        ELOG(EL_MINDEBUG, "invalid parameters");
        return -1;
    }
    int32_t count = 0;
    for (int i = 0; i < model->nmeshes; ++i) {
        if (!model->meshes[i])
            continue;
        if (!storable_mesh(model->meshes[i]))
            return -1;
        ++count;
    }
    long size_pos = c.write_header(modl_type, 0, model->name);
    long start = c.GetPos();
    c.WriteMatrix(model->matrix);
    c.WriteInt(count);
    chunk_mesh meshes;
    for (int i = 0; i < model->nmeshes; ++i)
        if (model->meshes[i] && meshes.write(c, model->meshes[i]) < 0)
            return -1;
    return c.write_size_at_pos(size_pos, start);
}

// ---- MATL --------------------------------------------------------------------

chunk_matl::chunk_matl() : chunk_io(matl_type) {}

int chunk_matl::read(cds& c, chunk_header& h)
{
    long end = c.GetPos() + h.size;
    pointer_t<material_t> mat;
    mat.p = KD_NEW material_t;
    if (!mat) {
        ELOG(EL_MINDEBUG, "%s: unable to allocate object", h.id);
        return -1;
    }
    if (!fits(c, end, 8, h.id, "material header"))
        return -1;
    mat->flags = (uint32_t)c.ReadInt();
    int32_t n = c.ReadInt();
    if (n < 0) {
        ELOG(EL_MINDEBUG, "%s: invalid shader count %d", h.id, n);
        return -1;
    }
    if (!fits(c, end, n * min_chunk_bytes, h.id, "shader array"))
        return -1;
    // The shaders pass through a reader of their own, which does not own them.
    chunk_shad shaders;
    for (int i = 0; i < n; ++i) {
        chunk_header sh;
        if (read_embedded_header(c, sh, end, h.id) < 0)
            return -1;
        if (memcmp(sh.type, shad_type, 4) != 0) {
            ELOG(EL_MINDEBUG, "found in invalid sub-chunk in MATL chunk");
            return -1;
        }
        unknown* s = read_embedded(c, shaders, sh);
        if (!s)
            return -1;
        if (mat->shaders.insert(s) < 0) {
            delete s;
            ELOG(EL_MINDEBUG, "unable to insert shader to _shaders list");
            return -1;
        }
    }
    if (objects.insert(mat) < 0) {
        ELOG(EL_MINDEBUG, "unable to add material to objects list");
        return -1;
    }
    mat.dont_delete();
    return 0;
}

int chunk_matl::write(cds& c, groupable_t* o)
{
    material_t* mat = dynamic_cast<material_t*>(o);
    CHECK_PTR(mat, -1);
    for (d_node* n = mat->shaders.first; n; n = n->next) {
        shader_t* s = dynamic_cast<shader_t*>(n->object);
        if (!storable_kind(s))
            return -1;
    }
    long size_pos = c.write_header(matl_type, 0, mat->name);
    long start = c.GetPos();
    c.WriteInt((int32_t)mat->flags);
    c.WriteInt(mat->shaders.count);
    chunk_shad shaders;
    for (d_node* n = mat->shaders.first; n; n = n->next)
        if (shaders.write(c, static_cast<shader_t*>(n->object)) < 0)
            return -1;
    return c.write_size_at_pos(size_pos, start);
}

// ---- SHAD --------------------------------------------------------------------

chunk_shad::chunk_shad() : chunk_io(shad_type) {}

int chunk_shad::read(cds& c, chunk_header& h)
{
    long end = c.GetPos() + h.size;
    if (!fits(c, end, 12, "shader", "header"))
        return -1;
    int32_t src = c.ReadInt();
    int32_t dst = c.ReadInt();
    int32_t kind = c.ReadInt();
    pointer_t<shader_t> shad;
    if (kind == KIND_COLOR) {
        color_shader_t* _color_sh = KD_NEW color_shader_t;
        shad.p = _color_sh;
        if (!_color_sh || !fits(c, end, color_body_bytes, "shader", "colour body"))
            return -1;
        c.ReadVector4(_color_sh->color);
        c.ReadVector4(_color_sh->ambient);
        c.ReadVector4(_color_sh->diffuse);
        c.ReadVector4(_color_sh->specular);
        _color_sh->shininess = c.ReadFloat();
        c.ReadVector4(_color_sh->emission);
    } else if (kind == KIND_TEXTURE) {
        tex_shader_t* _tex_sh = KD_NEW tex_shader_t;
        shad.p = _tex_sh;
        if (!_tex_sh || !fits(c, end, 1, "shader", "texture path"))
            return -1;
        char path[tex_path_max + 1];
        int max = (int)std::min<long>(end - c.GetPos(), tex_path_max);
        int n = c.ReadString(path, max);
        if (n < 1 || path[n - 1] != 0) {
            ELOG(EL_MINDEBUG, "shader: texture path without its end within %d bytes", max);
            return -1;
        }
        if (!fits(c, end, tex_tail_bytes, "shader", "texture body") || name_from(&_tex_sh->texture, path) < 0)
            return -1;
        _tex_sh->tex_param = c.ReadInt();
        _tex_sh->wrap_u = c.ReadInt();
        _tex_sh->wrap_v = c.ReadInt();
        c.ReadMatrix(_tex_sh->tex_matrix);
    } else {
        ELOG(EL_MINDEBUG, "unsupported shader type: %d", kind);
        return -1;
    }
    shad->blend_src = src;
    shad->blend_dst = dst;
    if (objects.insert(shad) < 0) {
        ELOG(EL_MINDEBUG, "unable to insert shader object to objects list");
        return -1;
    }
    shad.dont_delete();
    return 0;
}

int chunk_shad::write(cds& c, groupable_t* o)
{
    shader_t* shad = dynamic_cast<shader_t*>(o);
    CHECK_PTR(shad, -1);
    int kind = storable_kind(shad);
    if (!kind)
        return -1;
    long size_pos = c.write_header(shad_type, 0, "");
    long start = c.GetPos();
    c.WriteInt(shad->blend_src);
    c.WriteInt(shad->blend_dst);
    c.WriteInt(kind);
    if (kind == KIND_COLOR) {
        color_shader_t* s = static_cast<color_shader_t*>(shad);
        c.WriteVector4(s->color);
        c.WriteVector4(s->ambient);
        c.WriteVector4(s->diffuse);
        c.WriteVector4(s->specular);
        c.WriteFloat(s->shininess);
        c.WriteVector4(s->emission);
    } else {
        tex_shader_t* s = static_cast<tex_shader_t*>(shad);
        c.WriteString(s->texture.name, tex_path_max);
        c.WriteInt(s->tex_param);
        c.WriteInt(s->wrap_u);
        c.WriteInt(s->wrap_v);
        c.WriteMatrix(s->tex_matrix);
    }
    return c.write_size_at_pos(size_pos, start);
}

// ---- creators ----------------------------------------------------------------

chunk_io* create_text()
{
    return KD_NEW chunk_text;
}

chunk_io* create_mesh()
{
    return KD_NEW chunk_mesh;
}

chunk_io* create_modl()
{
    return KD_NEW chunk_modl;
}

chunk_io* create_matl()
{
    return KD_NEW chunk_matl;
}

chunk_io* create_shad()
{
    return KD_NEW chunk_shad;
}

}  // namespace vantrel
