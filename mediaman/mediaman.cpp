#include "mediaman/mediaman.h"

#include <cinttypes>
#include <cstring>
#include <string>
#include <vector>

#include "image/image.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/pointer.h"
#include "mediaman/cds/cds.h"
#include "mediaman/ts/ts_file.h"
#include "primitives/material.h"
#include "primitives/model.h"
#include "world/animation.h"
#include "world/level.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

// A skin being loaded: the array and its materials die with the guard
// unless handed over.
struct skin_guard {
    material_t** skin = nullptr;
    ~skin_guard()
    {
        delete_skin_mats(&skin);
        delete[] skin;
    }
    material_t** release()
    {
        material_t** s = skin;
        skin = nullptr;
        return s;
    }
};

// The objects of a chunk type, or null when it has none.
chunk_io* listed(cds& c, const char* type)
{
    chunk_io* io = get_chunk_io(c.types, type);
    return io && io->objects.count > 0 ? io : nullptr;
}

// Takes every object of io out of the container: a new null-terminated
// array of them in file order (the caller owns both), their group links
// cleared (the groups die with the container). Null when the array cannot be
// allocated; the container then still owns them all.
template <class T>
T** take_all(chunk_io* io)
{
    T** a = KD_NEW T*[io->objects.count + 1];
    if (!a)
        return nullptr;
    int i = 0;
    for (d_node* n = io->objects.first; n; n = n->next) {
        T* o = static_cast<T*>(n->object);
        o->parent = nullptr;
        a[i++] = o;
    }
    a[i] = nullptr;
    io->objects.delete_elements = 0;
    io->objects.delete_nodes();
    return a;
}

const char* extension_of(const char* fname)
{
    const char* ext = "";
    path_parts(fname, nullptr, nullptr, &ext);
    return ext;
}

bool is_ts_file(const char* ext)
{
    return !strcmp(ext, ".scn") || !strcmp(ext, ".obj");
}

// The file a TEXT chunk names, relative to the directory of fname. False
// (logged) when the joined name is longer than a path may be.
bool relative_path(const char* fname, buffer_t* text, std::string& out)
{
    const char* base = fname;
    path_parts(fname, nullptr, &base, nullptr);
    const char* bytes = (const char*)text->data();
    out.assign(fname, (size_t)(base - fname));
    out.append(bytes, strnlen(bytes, (size_t)text->size));
    if (out.size() >= (size_t)CFILE_MAX_PATH) {
        ELOG(EL_MINOR, "%s: the file name in its TEXT chunk is too long", fname);
        return false;
    }
    return true;
}

}  // namespace

mediaman_t::mediaman_t() : textures(0)
{
    containers[0] = nullptr;
}

int mediaman_t::mount(cds* _container)
{
    CHECK_PTR(_container, -1);
    int i = 0;
    while (containers[i])
        ++i;
    if (i >= MM_MAX_CONTAINERS - 1) {
        ELOG(EL_MINOR, "too many containers");
        return -1;
    }
    containers[i] = _container;
    containers[i + 1] = nullptr;
    return 0;
}

int mediaman_t::open_file(CFile& f, const char* _fname)
{
    CHECK_PTR(_fname, -1);
    for (int i = 0; containers[i]; ++i)
        if (containers[i]->_get_file_entry(_fname))
            return containers[i]->open_file(f, _fname);
    // Probe first: the loader's own message says what is missing.
    FILE* probe = strlen(_fname) < (size_t)CFILE_MAX_PATH ? fopen(_fname, "rb") : nullptr;
    if (!probe) {
        ELOG(EL_MINOR, "unable to find %s", _fname);
        return -1;
    }
    fclose(probe);
    return f.Open(_fname, OM_RB) ? 0 : -1;
}

// The common first steps of every CDS-based read: the file read whole into
// c, whose objects then die with it unless taken.
int mediaman_t::_open_cds(cds& c, const char* _fname)
{
    if (c.init() < 0 || open_file(c, _fname) < 0)
        return -1;
    c.delete_type_objects();
    return c.read_all();
}

void mediaman_t::_forget_textures(int count)
{
    while (textures.count > count)
        textures.remove(textures.last);
}

// ---- images and textures -------------------------------------------------------

int mediaman_t::read_image(const char* _fname, image_t* _image, int)
{
    CHECK_PTR(_fname, -1);
    CHECK_PTR(_image, -1);
    // The codec goes by the name asked for: a view into a container carries
    // the container's name.
    std::string name = _fname;
    image_io_t* io = get_extension_io(extension_of(name.c_str()));
    if (!io)
        return -1;
    CFileE f;
    if (open_file(f, name.c_str()) < 0)
        return -1;
    int r;
    try {
        r = io->read ? io->read(_image, f) : -1;
    } catch (int) {
        r = -1;
    }
    if (r == -1) {
        ELOG(EL_MINOR, "%s: unable to read", name.c_str());
        return -1;
    }
    _image->set_name(name.c_str());
    return 0;
}

int mediaman_t::load_mat_textures(material_t* _mat)
{
    CHECK_PTR(_mat, -1);
    for (d_node* n = _mat->shaders.first; n; n = n->next) {
        tex_shader_t* t = dynamic_cast<tex_shader_t*>(n->object);
        if (!t)
            continue;
        if (!t->texture.name) {
            ELOG(EL_MINOR, "texture shader without an image name");
            return -1;
        }
        if (read_image(t->texture.name, &t->texture, 0) < 0)
            return -1;
        if (textures.insert(t) < 0) {
            ELOG(EL_MINDEBUG, "unable to add texture to list");
            return -1;
        }
    }
    return 0;
}

int mediaman_t::load_skin_textures(material_t**& _skin, int flags)
{
    CHECK_PTR(_skin, -1);
    for (material_t** m = _skin; *m; ++m)
        if (load_mat_textures(*m) < 0 && !(flags & MM_IGNORE_TEX_ERRORS))
            return -1;
    return 0;
}

// ---- skins -------------------------------------------------------------------------

int mediaman_t::read_skin(const char* _fname, material_t*** _skin, int flags)
{
    CHECK_PTR(_fname, -1);
    CHECK_PTR(_skin, -1);
    cds c;
    if (_open_cds(c, _fname) < 0)
        return -1;
    chunk_io* mats = listed(c, "MATL");
    if (!mats) {
        ELOG(EL_MINDEBUG, "%s: no skin found", _fname);
        return -1;
    }
    skin_guard skin;
    if (!(skin.skin = take_all<material_t>(mats)))
        return -1;
    int listed_before = textures.count;
    if ((flags & MM_LOAD_TEXTURES) && load_skin_textures(skin.skin, flags) < 0) {
        _forget_textures(listed_before);
        return -1;
    }
    *_skin = skin.release();
    return 0;
}

// The skin that a TEXT chunk of c names relative to _fname (read_skin with flags).
int mediaman_t::_read_named_skin(cds& c, const char* _fname, material_t*** skin, int flags)
{
    buffer_t* text = static_cast<buffer_t*>(get_chunk_io(c.types, "TEXT")->objects.first->object);
    std::string path;
    if (!relative_path(_fname, text, path))
        return -1;
    return read_skin(path.c_str(), skin, flags);
}

// ---- models ------------------------------------------------------------------------

int mediaman_t::read_model(const char* _fname, model_t* _model, int flags)
{
    CHECK_PTR(_fname, -1);
    CHECK_PTR(_model, -1);
    const char* ext = extension_of(_fname);
    if (!strcmp(ext, ".model"))
        return _cds_read_model(_fname, _model, flags);
    if (is_ts_file(ext))
        return _ts_read_model(_fname, _model, flags);
    ELOG(EL_MINOR, "%s: unsupported model format", _fname);
    return -1;
}

int mediaman_t::_cds_read_model(const char* _fname, model_t* _model, int flags)
{
    cds c;
    if (_open_cds(c, _fname) < 0)
        return -1;
    chunk_io* models = listed(c, "MODL");
    if (!models) {
        ELOG(EL_MINOR, "%s: no model found", _fname);
        return -1;
    }
    model_t* model = static_cast<model_t*>(models->objects.first->object);
    skin_guard skin;
    int listed_before = textures.count;
    if (!(flags & MM_NO_SKIN)) {
        chunk_io* mats = listed(c, "MATL");
        bool text = listed(c, "TEXT") != nullptr;
        if (mats) {
            if (text)
                ELOG(EL_MINOR, "%s: two skins specified. using first one.", _fname);
            if (!(skin.skin = take_all<material_t>(mats)))
                return -1;
        } else if (text && _read_named_skin(c, _fname, &skin.skin, 0) < 0) {
            return -1;
        }
        if (skin.skin && load_skin_textures(skin.skin, flags) < 0) {
            _forget_textures(listed_before);
            return -1;
        }
    }
    model->skin = skin.release();
    _model->replace(model);
    return 0;
}

// Texture failures are ignored: a trueSpace file names its textures by the
// paths of the machine it was made on.
void mediaman_t::_load_model_textures(model_t* _model)
{
    for (int k = 0; k < _model->nchildren; ++k)
        if (_model->children[k])
            _load_model_textures(_model->children[k]);
    if (_model->skin)
        load_skin_textures(_model->skin, MM_IGNORE_TEX_ERRORS);
}

int mediaman_t::_ts_read_model(const char* _fname, model_t* _model, int flags)
{
    CTrueSpaceFile f;
    if (open_file(f, _fname) < 0 || !f.read_all() || f.read_model(0, _model) < 0)
        return -1;
    if (flags & MM_NO_SKIN)
        delete_model_skins(_model);
    else
        _load_model_textures(_model);
    return 0;
}

// ---- animations --------------------------------------------------------------------

int mediaman_t::read_anim(const char* _fname, d_list* _anims, int flags)
{
    CHECK_PTR(_fname, -1);
    CHECK_PTR(_anims, -1);
    const char* ext = extension_of(_fname);
    if (!strcmp(ext, ".anim"))
        return _cds_read_anim(_fname, _anims, flags);
    if (is_ts_file(ext))
        return _ts_read_anim(_fname, _anims, flags);
    ELOG(EL_MINOR, "%s: unsupported animation format", _fname);
    return -1;
}

int mediaman_t::_cds_read_anim(const char* _fname, d_list* _anims, int)
{
    cds c;
    if (_open_cds(c, _fname) < 0)
        return -1;
    chunk_io* anims = listed(c, "ANIM");
    if (!anims) {
        ELOG(EL_MINOR, "%s: no animations found", _fname);
        return -1;
    }
    // All or nothing: the caller's list gets every animation, or none.
    int count_before = _anims->count;
    for (d_node* n = anims->objects.first; n; n = n->next) {
        if (_anims->insert(n->object) < 0) {
            ELOG(EL_MINDEBUG, "unable to add animation to _anims list");
            while (_anims->count > count_before) {
                int keep = _anims->delete_elements;
                _anims->delete_elements = 0;
                _anims->remove(_anims->last);
                _anims->delete_elements = keep;
            }
            return -1;
        }
    }
    anims->objects.delete_elements = 0;
    anims->objects.delete_nodes();
    return 0;
}

int mediaman_t::_ts_read_anim(const char* _fname, d_list* _anims, int)
{
    CTrueSpaceFile f;
    if (open_file(f, _fname) < 0 || !f.read_all())
        return -1;
    pointer_t<CSAnimation> anim;
    anim.p = KD_NEW CSAnimation;
    if (!anim || f.read_CSAnimation(0, anim) < 0)
        return -1;
    if (_anims->insert(anim) < 0) {
        ELOG(EL_MINDEBUG, "unable to add animation to _anims list");
        return -1;
    }
    anim.dont_delete();
    return 0;
}

// ---- levels ------------------------------------------------------------------------

int mediaman_t::read_level(const char* _fname, level_t* _level, int)
{
    CHECK_PTR(_fname, -1);
    CHECK_PTR(_level, -1);
    cds c;
    if (_open_cds(c, _fname) < 0)
        return -1;
    chunk_io* trees = listed(c, "BSPT");
    if (!trees) {
        ELOG(EL_MINOR, "%s: unable to find level", _fname);
        return -1;
    }
    chunk_io* meshes = listed(c, "MESH");
    if (!meshes) {
        ELOG(EL_MINOR, "%s: level has no geometry", _fname);
        return -1;
    }
    // The leaves name meshes by their place in the file.
    solid_bsp_t* tree = static_cast<solid_bsp_t*>(trees->objects.first->object);
    int nmeshes = meshes->objects.count;
    for (int i = 0; i < tree->stats.ni_nodes; ++i) {
        int32_t* m = tree->i_nodes[i]->meshes;
        for (int k = 0; m && m[k] != -1; ++k) {
            if (m[k] >= nmeshes) {
                ELOG(EL_MINOR, "%s: mesh number %d of node %d beyond the %d meshes", _fname, m[k], i, nmeshes);
                return -1;
            }
        }
    }
    if (!listed(c, "TEXT")) {
        ELOG(EL_MINOR, "%s: no material library found", _fname);
        return -1;
    }
    skin_guard skin;
    int listed_before = textures.count;
    if (_read_named_skin(c, _fname, &skin.skin, MM_LOAD_TEXTURES | MM_IGNORE_TEX_ERRORS) < 0)
        return -1;
    mesh_t** table = take_all<mesh_t>(meshes);
    if (!table) {
        _forget_textures(listed_before);
        return -1;
    }
    _level->replace(tree);
    _level->meshes = table;
    _level->stats.nmeshes = nmeshes;
    _level->skin = skin.release();
    return 0;
}

void delete_model_skins(model_t* _model)
{
    CHECK_PTR_V(_model);
    for (int k = 0; k < _model->nchildren; ++k)
        if (_model->children[k])
            delete_model_skins(_model->children[k]);
    delete_skin_mats(&_model->skin);
    delete[] _model->skin;
    _model->skin = nullptr;
}

// ---- writing a level ---------------------------------------------------------------

int write_level(const char* _fname, solid_bsp_t* _level, const char* _matlib)
{
    CHECK_PTR(_fname, -1);
    CHECK_PTR(_level, -1);
    CHECK_PTR(_matlib, -1);
    if (!_level->meshes || _level->stats.nmeshes < 1) {
        ELOG(EL_MINDEBUG, "write_level(): %s has no meshes", _fname);
        return -1;
    }
    cds c;
    if (c.init() < 0)
        return -1;
    chunk_io* meshes = get_chunk_io(c.types, "MESH");
    d_list unified(1);  // copies of meshes whose polygons keep their own arrays
    for (int i = 0; i < _level->stats.nmeshes; ++i) {
        mesh_t* m = _level->meshes[i];
        bool shared = m && m->va;
        for (int p = 0; shared && p < m->npolys; ++p)
            shared = m->polys[p].va == m->va;
        if (m && !shared) {
            mesh_t* u = KD_NEW mesh_t;
            if (!u || unified.insert(u) < 0) {
                delete u;
                return -1;
            }
            if (u->duplicate(m) < 0 || u->unify_vertices() < 0)
                return -1;
            m = u;
        }
        if (meshes->objects.insert(m) < 0)
            return -1;
    }
    size_t len = strlen(_matlib);
    pointer_t<buffer_t> text;
    text.p = alloc_buffer((int)len);
    if (!text || get_chunk_io(c.types, "BSPT")->objects.insert(_level) < 0 ||
        get_chunk_io(c.types, "TEXT")->objects.insert(text) < 0)
        return -1;
    memcpy(text->data(), _matlib, len);
    text->set_name("matlib");
    // Chunks are written at the top level only when they belong to no group.
    std::vector<group_t*> parents;
    parents.push_back(_level->parent);
    _level->parent = nullptr;
    for (d_node* n = meshes->objects.first; n; n = n->next) {
        parents.push_back(static_cast<mesh_t*>(n->object)->parent);
        static_cast<mesh_t*>(n->object)->parent = nullptr;
    }
    int r = c.create(_fname);
    _level->parent = parents[0];
    int i = 1;
    for (d_node* n = meshes->objects.first; n; n = n->next)
        static_cast<mesh_t*>(n->object)->parent = parents[i++];
    return r;
}

}  // namespace vantrel
