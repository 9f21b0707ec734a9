/// @file
/// The actors of vantrel-demo: spiders that walk and molecules that float and
/// spin through the level with collisions, animated by their states. Their
/// models are the shipped trueSpace files, converted into containers by
/// vantrel-ts2cds. The files carry no animation channels and materials of a
/// version the reader skips, so dress_model writes what they lack into the
/// converted container (and the animations into a ".anim" container beside
/// it), and the actors read it all back through the media loader like a
/// game's media. Header only, like demo_scene.h.
/// @ingroup tools
#pragma once
/// @addtogroup tools
/// @{

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "kdbase/errorlog.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "mediaman/cds/cds.h"
#include "mediaman/mediaman.h"
#include "primitives/material.h"
#include "world/entity.h"

namespace vantrel_demo {

/// A container owning what is put in it, written with write().
struct media_writer : vantrel::cds {
    bool full = false;  ///< an object could not be listed (and was deleted)
    media_writer() { init(), delete_type_objects(); }
    /// Puts o (null: nothing) among the objects of chunk type kind, which then
    /// owns it; one that cannot be listed is deleted and sets full. Returns the
    /// writer, for chaining.
    media_writer& add(const char* kind, vantrel::groupable_t* o)
    {
        if (o && vantrel::get_chunk_io(types, kind)->objects.insert(o) < 0) {
            delete o;
            full = true;
        }
        return *this;
    }
    /// -1 (logged) when something could not be listed or written.
    int write(const std::string& path)
    {
        if (full) {
            ELOG(EL_MINOR, "%s: out of memory", path.c_str());
            return -1;
        }
        return create(path.c_str());
    }
};

/// A material of one colour shader (r, g, b of the diffuse colour) with a
/// highlight of the given shininess (0: none).
inline vantrel::material_t* colour_material(float r, float g, float b, float shininess = 0)
{
    auto* m = KD_NEW vantrel::material_t;
    auto* c = KD_NEW vantrel::color_shader_t;
    if (!m || !c || m->shaders.insert(c) < 0) {
        delete m;
        delete c;
        return nullptr;
    }
    vantrel::set_v(c->ambient, r * 0.8f, g * 0.8f, b * 0.8f, 1);
    vantrel::set_v(c->diffuse, r, g, b, 1);
    if (shininess > 0) {
        vantrel::set_v(c->specular, 0.6f, 0.6f, 0.6f, 1);
        c->shininess = shininess;
    }
    return m;
}

/// What kind of creature an actor is; sizes in the level's units (see
/// actors::unit), times in ms.
struct kind_t {
    const char* name;   ///< its files in the media folder: \<name\>.model, \<name\>.anim
    const char* source; ///< the shipped trueSpace file \<name\>.model is converted from
    float size;         ///< largest extent of the model
    float lift;         ///< height of its lowest point above the floor
    float speed;        ///< per second
    float spin;         ///< degrees per second its model turns about y (0: it faces its way)
    ///@{
    /// "walk": meshes go up and down by bob (in sizes) and sway by sway degrees.
    float bob, sway;
    ///@}
    float burst;        ///< "turn": meshes move out from the centre and up by burst
    float shininess;    ///< of its materials
    int ncolours;       ///< 1 to 4
    float colours[4][3];  ///< of its material numbers in turn
};

/// Spiders run along the floor swaying.
inline const kind_t spider{"spider", "spider_6_6.cob", 1.2f, 0.0f, 1.6f, 0, 0.06f, 10, 0.35f, 0, 4,
                           {{1.0f, 0.85f, 0.3f}, {0.95f, 0.2f, 0.1f}, {0.45f, 0.35f, 0.25f}, {0.6f, 0.42f, 0.28f}}};
/// Molecules drift above the floor, turning, their atoms bobbing in turn.
inline const kind_t molecule{"molecule", "molecule.cob", 0.6f, 0.5f, 0.7f, 60, 0.12f, 0, 0.3f, 40, 1,
                             {{0.35f, 0.6f, 1.0f}}};

/// The meshes of every model of the converted container at path (the
/// converter writes one model per trueSpace object) as one model named name,
/// in container order, each mesh's vertices moved by its matrix and its
/// model's into model space (its matrix then the identity). Null when the file
/// cannot be read (logged by the container) or holds no mesh (logged).
inline vantrel::model_t* read_converted(const std::string& path, const char* name)
{
    vantrel::cds c;
    if (c.init() != 0 || c.load(path.c_str()) != 0)
        return nullptr;
    c.delete_type_objects();
    vantrel::d_list& models = vantrel::get_chunk_io(c.types, "MODL")->objects;
    int n = 0;
    for (vantrel::d_node* d = models.first; d; d = d->next)
        for (int i = 0; i < static_cast<vantrel::model_t*>(d->object)->nmeshes; ++i)
            n += static_cast<vantrel::model_t*>(d->object)->meshes[i] != nullptr;
    if (n == 0) {
        ELOG(EL_MINOR, "%s: no mesh found", path.c_str());
        return nullptr;
    }
    auto* m = KD_NEW vantrel::model_t;
    if (!m || m->alloc_meshes(n) != 0) {
        delete m;
        return nullptr;
    }
    m->set_name(name);
    int k = 0;
    for (vantrel::d_node* d = models.first; d; d = d->next) {
        vantrel::model_t* from = static_cast<vantrel::model_t*>(d->object);
        for (int i = 0; i < from->nmeshes; ++i) {
            vantrel::mesh_t* mesh = from->meshes[i];
            if (!mesh)
                continue;
            from->meshes[i] = nullptr;
            m->meshes[k++] = mesh;
            mesh->parent = m;
            for (int v = 0; v < mesh->vasize; ++v) {
                vantrel::multmatrix_v3(mesh->va[v].v, mesh->matrix);
                vantrel::multmatrix_v3(mesh->va[v].v, from->matrix);
            }
            vantrel::makeIdentityMatrix(mesh->matrix);
        }
    }
    return m;
}

/// Scales model (meshes in model space) so its largest extent is size, with
/// its box centred on the origin; then centres each mesh on its own origin, its
/// matrix moving it into place, so that a rotation turns a mesh about its own
/// centre. Polygon normals are computed again and each vertex normal is the mean
/// of the normals of the polygons around it (smooth shading). -1 for a model
/// without extent.
inline int fit_model(vantrel::model_t* model, float size)
{
    float lo[4], hi[4], c[3];
    if (model->get_bbox(lo, hi) != 0)
        return -1;
    const float extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    if (!(extent > 0)) {
        ELOG(EL_MINOR, "%s: the model has no extent", model->name ? model->name : "");
        return -1;
    }
    const float s = size / extent;
    for (int j = 0; j < 3; ++j)
        c[j] = (lo[j] + hi[j]) / 2;
    for (int i = 0; i < model->nmeshes; ++i) {
        vantrel::mesh_t* mesh = model->meshes[i];
        float mlo[3] = {FLT_MAX, FLT_MAX, FLT_MAX}, mhi[3] = {-FLT_MAX, -FLT_MAX, -FLT_MAX};
        for (int v = 0; v < mesh->vasize; ++v)
            for (int j = 0; j < 3; ++j) {
                float& x = mesh->va[v].v[j];
                x = (x - c[j]) * s;
                mlo[j] = std::min(mlo[j], x), mhi[j] = std::max(mhi[j], x);
            }
        for (int j = 0; j < 3; ++j)
            mesh->matrix[12 + j] = mesh->vasize > 0 ? (mlo[j] + mhi[j]) / 2 : 0;
        for (int v = 0; v < mesh->vasize; ++v)
            for (int j = 0; j < 3; ++j)
                mesh->va[v].v[j] -= mesh->matrix[12 + j], mesh->va[v].n[j] = 0;
        for (int p = 0; p < mesh->npolys; ++p) {
            vantrel::n_poly& poly = mesh->polys[p];
            poly.calculate_normal(nullptr);
            for (int k = 0; k < poly.nverts; ++k)
                for (int j = 0; j < 3 && poly.vi[k] < (uint32_t)mesh->vasize; ++j)
                    mesh->va[poly.vi[k]].n[j] += poly.normal[j];
        }
        for (int v = 0; v < mesh->vasize; ++v) {
            float* n = mesh->va[v].n;
            const float len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            for (int j = 0; j < 3 && len > 0; ++j)
                n[j] /= len;
        }
    }
    return 0;
}

/// Appends to s a channel of keyframes of ms each, each ending at an offset
/// from the pose the mesh has when the animation is bound: turned about y by
/// the given degrees, or moved by the given multiples of dir. -1 when out of
/// memory.
inline int push_channel(vantrel::channel_stack* s, bool turn, const float* dir, std::initializer_list<float> steps,
                        unsigned ms)
{
    auto* ch = KD_NEW vantrel::channel;
    if (!ch || s->push(ch) != 0) {
        delete ch;
        return -1;
    }
    for (float step : steps) {
        vantrel::keyframe* kf;
        if (turn) {
            auto* q = KD_NEW vantrel::kf_mesh_quat_t;
            if (q) {
                const float r = step * 3.14159265f / 360.0f;  ///< half the angle
                vantrel::set_v(q->rel_q, 0, std::sin(r), 0, std::cos(r));
            }
            kf = q;
        } else {
            auto* t = KD_NEW vantrel::kf_mesh_mtrans_t;
            if (t)
                vantrel::set_v(t->delta_v, dir[0] * step, dir[1] * step, dir[2] * step, 0);
            kf = t;
        }
        if (!kf || ch->add_keyframe(kf) != 0) {
            delete kf;
            return -1;
        }
        kf->duration = ms;
    }
    return 0;
}

/// The animation "walk" or "turn" of model for kind, one stack per mesh in the
/// model's mesh order, 600 ms long, ending in the pose it started from. "walk":
/// every other mesh goes up first as the others go down, and each sways about
/// its centre. "turn": each mesh moves out from the model's centre and up, and
/// back, spinning once round about its centre. Null when out of memory.
inline vantrel::CSAnimation* creature_anim(vantrel::model_t* model, const kind_t& kind, float unit, bool turn)
{
    auto* a = KD_NEW vantrel::CSAnimation;
    if (!a)
        return nullptr;
    a->set_name(turn ? "turn" : "walk");
    const float size = kind.size * unit, up[3] = {0, 1, 0};
    for (int i = 0; i < model->nmeshes; ++i) {
        auto* s = KD_NEW vantrel::channel_stack;
        if (!s || a->add_stack(s) != 0) {
            delete s;
            delete a;
            return nullptr;
        }
        const float* at = model->meshes[i]->matrix + 12;
        const float out = std::hypot(at[0], at[2]);
        float burst[3] = {0, 1, 0};
        if (out > size * 0.01f)
            vantrel::set_v3(burst, at[0] / out, 0.5f, at[2] / out);
        const float b = kind.bob * size * (i % 2 ? -1 : 1), w = kind.sway, r = kind.burst * size;
        const int rc = turn ? push_channel(s, false, burst, {r, 0}, 300) | push_channel(s, true, up, {90, 180, 270, 360}, 150)
                            : push_channel(s, false, up, {b, 0, -b, 0}, 150) | push_channel(s, true, up, {w, 0, -w, 0}, 150);
        if (rc != 0) {
            delete a;
            return nullptr;
        }
    }
    return a;
}

/// The demo step for a kind's converted container dir/\<name\>.model: its
/// objects become one model, fitted to kind.size * unit (fit_model), written
/// back with one colour material per material number its polygons use (the
/// kind's colours in turn); "walk" and "turn" go into dir/\<name\>.anim. Run again
/// on its own output it gives the same model, up to rounding, so the demo can
/// be run twice on one conversion. 0 / -1 (logged).
inline int dress_model(const std::string& dir, const kind_t& kind, float unit)
{
    const std::string base = dir + "/" + kind.name;
    vantrel::model_t* model = read_converted(base + ".model", kind.name);
    if (!model)
        return -1;
    media_writer out, anims;
    out.add("MODL", model);
    if (out.full || fit_model(model, kind.size * unit) != 0)
        return -1;
    int nmats = 1;
    for (int i = 0; i < model->nmeshes; ++i)
        for (int p = 0; p < model->meshes[i]->npolys; ++p)
            nmats = std::max(nmats, model->meshes[i]->polys[p].mat + 1);
    for (int m = 0; m < nmats; ++m) {
        const float* c = kind.colours[m % kind.ncolours];
        vantrel::material_t* mat = colour_material(c[0], c[1], c[2], kind.shininess);
        if (!mat)
            return -1;
        out.add("MATL", mat);
    }
    anims.add("ANIM", creature_anim(model, kind, unit, false)).add("ANIM", creature_anim(model, kind, unit, true));
    if (vantrel::get_chunk_io(anims.types, "ANIM")->objects.count != 2)
        anims.full = true;
    return out.write(base + ".model") == 0 && anims.write(base + ".anim") == 0 ? 0 : -1;
}

/// Writes dir/materials.cds, the level's material library (four colour
/// materials). 0 / -1 (logged).
inline int write_materials(const std::string& dir)
{
    media_writer lib;
    for (int i = 0; i < 4; ++i)
        lib.add("MATL", colour_material(0.6f, 0.6f, 0.6f));
    return lib.write(dir + "/materials.cds");
}

/// The actors' state ids.
enum { STATE_WALK = 1, STATE_TURN = 2 };

/// One actor: the entity, its two states (walk loops until a wall, turn plays
/// once and walks on), the way it goes and the way its model faces.
struct walker {
    const kind_t* kind = nullptr;  ///< what it is (not owned)
    vantrel::entity_t ent;         ///< the entity: model, body and state machine
    ///@{
    /// The two states, playing the "walk" and "turn" animations.
    vantrel::entity_state_t walk, turn;
    ///@}
    vantrel::generic_state* states[3] = {&walk, &turn, nullptr};  ///< the entity's state list
    ///@{
    /// The allowed-from lists: walk may follow turn and turn may follow walk.
    int after_turn[2] = {STATE_TURN, 0}, after_walk[2] = {STATE_WALK, 0};
    ///@}
    float course = 0;  ///< degrees about y; 0 goes down -z
    float facing = 0;  ///< degrees about y of the model

    walker()
    {
        walk.set(STATE_WALK, after_turn, 0, -1);
        turn.set(STATE_TURN, after_walk, STATE_WALK, 1);
        walk.entity = turn.entity = &ent;
        ent.states = states;
    }
};

/// Where an actor starts: on the floor at (x, floor, z), going course degrees.
struct place_t {
    const kind_t* kind;  ///< what starts there
    ///@{
    /// The point on the floor and the way it goes (degrees about y).
    float x, floor, z, course;
    ///@}
};

/// The actors of a level, read through the media loader from the files of
/// dress_model in a folder.
class actors {
public:
    std::vector<walker*> walkers;  ///< owned
    float unit = 1;  ///< level units per kind size: sizes and speeds scale with it

    /// Puts an actor at every place whose point above the floor lies in open
    /// space. Each reads its model and animations (keyframes keep the pose of
    /// the mesh they play on, so none are shared); its collision box is the
    /// model's, as wide as it is deep so that turning never pushes it into a
    /// wall. -1 when the media cannot be read.
    int start(vantrel::level_t* level, const std::string& dir, const std::vector<place_t>& at)
    {
        vantrel::mediaman_t mm;
        for (const place_t& p : at) {
            float probe[4] = {p.x, p.floor + p.kind->lift * unit + 1, p.z, 1};
            if (!level->get_leaf_at_pos(probe))
                continue;
            auto* w = KD_NEW walker;
            if (!w)
                return -1;
            walkers.push_back(w);
            w->kind = p.kind;
            const std::string base = dir + "/" + p.kind->name;
            vantrel::d_list anims(1);
            if (mm.read_model((base + ".model").c_str(), &w->ent.model, 0) != 0 ||
                mm.read_anim((base + ".anim").c_str(), &anims, 0) != 0 || !anims.first || !anims.first->next)
                return -1;
            w->walk.replace(static_cast<vantrel::CSAnimation*>(anims.first->object));
            w->turn.replace(static_cast<vantrel::CSAnimation*>(anims.first->next->object));
            w->walk.bind(&w->ent.model);
            w->turn.bind(&w->ent.model);
            w->ent.adjust_radius();
            w->ent.radius_v[0] = w->ent.radius_v[2] = std::max(w->ent.radius_v[0], w->ent.radius_v[2]);
            w->course = w->facing = p.course;
            face(w);
            float pos[4] = {p.x, p.floor + p.kind->lift * unit + w->ent.radius_v[1] + 1, p.z, 1};
            vantrel::copy_v3(w->ent.pos_v, pos);
            w->ent.level = level;
            if (level->ents.insert(static_cast<vantrel::igl_user*>(&w->ent)) < 0 || w->ent.branch_to(STATE_WALK) != 0)
                return -1;
        }
        return 0;
    }
    /// One step of dt ms: each actor goes its way and turns its model; one
    /// that a wall stops changes course by 135 degrees and plays its turn
    /// before going on.
    void step(unsigned dt)
    {
        for (walker* w : walkers) {
            const float s = (float)dt / 1000;
            w->facing = w->kind->spin != 0 ? w->facing + w->kind->spin * s : w->course;
            if (w->ent.current == &w->walk) {
                const float r = w->course * 3.14159265f / 180.0f, d = w->kind->speed * unit * s;
                float delta[4] = {-std::sin(r) * d, 0, -std::cos(r) * d, 0};
                w->ent.move_pos_v(delta);
                if (std::hypot(delta[0], delta[2]) < d * 0.5f) {
                    w->course += 135;
                    if (w->kind->spin == 0)
                        w->facing = w->course;
                    w->ent.request_state_transition(STATE_TURN);
                }
            }
            face(w);
            w->ent.execute();
        }
    }
    ~actors()
    {
        for (walker* w : walkers) {
            if (w->ent.level)
                w->ent.level->ents.remove(static_cast<vantrel::igl_user*>(&w->ent));
            w->ent.level = nullptr;
            vantrel::delete_model_skins(&w->ent.model);
            delete w;
        }
    }

private:
    /// Turns the model's matrix to its facing, keeping its position.
    static void face(walker* w)
    {
        const float r = w->facing * 3.14159265f / 180.0f;
        float* m = w->ent.model.matrix;
        m[0] = std::cos(r), m[2] = -std::sin(r);
        m[8] = std::sin(r), m[10] = std::cos(r);
    }
};

}  // namespace vantrel_demo
/// @}
