/// @file
/// The actors of vantrel-demo: walkers that move through the level with
/// collisions and are animated by their states. Their model and animations
/// come from containers the demo writes itself (write_media): the shipped
/// levels and models carry no channels, so the walk and the turn are built
/// here, written as "ANIM" chunks, and read back through the media loader like
/// a game's media. Header only, like demo_scene.h.
/// @ingroup tools
#pragma once
/// @addtogroup tools
/// @{

#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "mediaman/cds/cds.h"
#include "mediaman/mediaman.h"
#include "primitives/material.h"
#include "world/entity.h"

namespace vantrel_demo {

/// Walker size, in level units about its centre: half the width of the box body.
constexpr float WALKER_HALF = 16, WALKER_LOW = -30, WALKER_NECK = 8, WALKER_TOP = 34;
/// @var WALKER_LOW
/// Height of the body's bottom.
/// @var WALKER_NECK
/// Height of the body's top, where the pyramid head sits.
/// @var WALKER_TOP
/// Height of the head's apex.

/// A container owning what is put in it, written with create().
struct media_writer : vantrel::cds {
    media_writer() { init(), delete_type_objects(); }
    /// Puts o (null: nothing) among the objects of chunk type kind, which then
    /// owns it. Returns the writer, for chaining.
    media_writer& add(const char* kind, vantrel::groupable_t* o)
    {
        if (o)
            vantrel::get_chunk_io(types, kind)->objects.insert(o);
        return *this;
    }
};

/// A material of one colour shader (r, g, b of the diffuse colour).
inline vantrel::material_t* colour_material(float r, float g, float b)
{
    auto* m = KD_NEW vantrel::material_t;
    auto* c = KD_NEW vantrel::color_shader_t;
    if (!m || !c) {
        delete m;
        delete c;
        return nullptr;
    }
    vantrel::set_v(c->ambient, r * 0.8f, g * 0.8f, b * 0.8f, 1);
    vantrel::set_v(c->diffuse, r, g, b, 1);
    m->shaders.insert(c);
    return m;
}

/// A mesh of convex faces (corners counter-clockwise seen from outside), all
/// of material mat. Null when out of memory.
inline vantrel::mesh_t* faces_mesh(const std::vector<std::vector<std::array<float, 3>>>& faces, int mat)
{
    auto* mesh = KD_NEW vantrel::mesh_t;
    if (!mesh || mesh->_alloc_polys((int)faces.size()) != 0) {
        delete mesh;
        return nullptr;
    }
    for (size_t i = 0; i < faces.size(); ++i) {
        vantrel::n_poly& p = mesh->polys[i];
        if (p._alloc_verts((int)faces[i].size()) != 0) {
            delete mesh;
            return nullptr;
        }
        for (size_t k = 0; k < faces[i].size(); ++k)
            for (int c = 0; c < 3; ++c)
                p.va[k].v[c] = faces[i][k][c];
        p.calculate_normal(nullptr);
        for (size_t k = 0; k < faces[i].size(); ++k)
            for (int c = 0; c < 3; ++c)
                p.va[k].n[c] = p.normal[c];
        p.mat = mat;
    }
    if (mesh->unify_vertices() != 0) {  // containers store meshes in the shared-vertex form
        delete mesh;
        return nullptr;
    }
    return mesh;
}

/// The walker: mesh 0 the body (a box), mesh 1 the head (a pyramid).
inline vantrel::model_t* walker_model()
{
    const float h = WALKER_HALF, lo = WALKER_LOW, n = WALKER_NECK, t = WALKER_TOP;
    auto* m = KD_NEW vantrel::model_t;
    if (!m || m->alloc_meshes(2) != 0) {
        delete m;
        return nullptr;
    }
    m->set_name("walker");
    m->meshes[0] = faces_mesh({{{-h, lo, -h}, {-h, lo, h}, {-h, n, h}, {-h, n, -h}},
                               {{h, lo, -h}, {h, n, -h}, {h, n, h}, {h, lo, h}},
                               {{-h, lo, -h}, {h, lo, -h}, {h, lo, h}, {-h, lo, h}},
                               {{-h, n, -h}, {-h, n, h}, {h, n, h}, {h, n, -h}},
                               {{-h, lo, -h}, {-h, n, -h}, {h, n, -h}, {h, lo, -h}},
                               {{-h, lo, h}, {h, lo, h}, {h, n, h}, {-h, n, h}}},
                              0);
    // The head's apex leans forward (-z) so its turns show.
    const std::array<float, 3> apex{0, t, -h};
    m->meshes[1] = faces_mesh({{{-h, n, -h}, {h, n, -h}, {h, n, h}, {-h, n, h}},
                               {{-h, n, -h}, {-h, n, h}, apex},
                               {{h, n, -h}, apex, {h, n, h}},
                               {{-h, n, -h}, apex, {h, n, -h}},
                               {{-h, n, h}, {h, n, h}, apex}},
                              1);
    if (!m->meshes[0] || !m->meshes[1]) {
        delete m;
        return nullptr;
    }
    return m;
}

/// A stack of one channel of keyframes: translations (dy each) or turns
/// about y (deg each), ms long each.
inline vantrel::channel_stack* keyframe_stack(const char* name, bool turn, std::initializer_list<float> steps,
                                              unsigned ms)
{
    auto* s = KD_NEW vantrel::channel_stack;
    auto* ch = KD_NEW vantrel::channel;
    if (!s || !ch || s->push(ch) != 0) {
        delete s;
        delete ch;
        return nullptr;
    }
    s->set_name(name);
    for (float step : steps) {
        vantrel::keyframe* kf;
        if (turn) {
            auto* q = KD_NEW vantrel::kf_mesh_quat_t;
            if (q) {
                const float r = step * 3.14159265f / 360.0f;  // half the angle
                vantrel::set_v(q->rel_q, 0, std::sin(r), 0, std::cos(r));
            }
            kf = q;
        } else {
            auto* t = KD_NEW vantrel::kf_mesh_mtrans_t;
            if (t)
                vantrel::set_v(t->delta_v, 0, step, 0, 0);
            kf = t;
        }
        if (!kf || ch->add_keyframe(kf) != 0) {
            delete kf;
            delete s;
            return nullptr;
        }
        kf->duration = ms;
    }
    return s;
}

/// The walker's animations: "walk" bobs the body and nods the head, "turn"
/// spins the head once round while the body crouches.
inline vantrel::CSAnimation* walker_anim(bool turn)
{
    auto* a = KD_NEW vantrel::CSAnimation;
    if (!a)
        return nullptr;
    a->set_name(turn ? "turn" : "walk");
    vantrel::channel_stack* body = turn ? keyframe_stack("body", false, {-8, 0, 0, 8}, 150)
                                        : keyframe_stack("body", false, {6, -6, 6, -6}, 150);
    vantrel::channel_stack* head = turn ? keyframe_stack("head", true, {90, 90, 90, 90}, 150)
                                        : keyframe_stack("head", true, {20, -40, 20}, 200);
    if (a->add_stack(body) != 0 || a->add_stack(head) != 0) {
        delete body;
        delete head;
        delete a;
        return nullptr;
    }
    return a;
}

/// Writes the demo's media into dir: "materials.cds" (the level's material
/// library, four colour materials), "walker.model" (the model with its two
/// materials) and "walker.anim" (walk, then turn). 0 / -1 (logged by the
/// container).
inline int write_media(const std::string& dir)
{
    media_writer lib;
    for (int i = 0; i < 4; ++i)
        lib.add("MATL", colour_material(0.6f, 0.6f, 0.6f));
    media_writer model, anims;
    model.add("MODL", walker_model())
        .add("MATL", colour_material(0.95f, 0.55f, 0.1f))   // body: orange
        .add("MATL", colour_material(0.2f, 0.85f, 0.3f));   // head: green
    anims.add("ANIM", walker_anim(false)).add("ANIM", walker_anim(true));
    return lib.create((dir + "/materials.cds").c_str()) == 0 && model.create((dir + "/walker.model").c_str()) == 0 &&
                   anims.create((dir + "/walker.anim").c_str()) == 0
               ? 0
               : -1;
}

/// The walkers' state ids.
enum { STATE_WALK = 1, STATE_TURN = 2 };

/// One walker: the entity, its two states (walk loops until a wall, turn
/// plays once and walks on), and the way it heads.
struct walker {
    /// The entity: model, body and state machine.
    vantrel::entity_t ent;
    ///@{
    /// The two states, playing the "walk" and "turn" animations.
    vantrel::entity_state_t walk, turn;
    ///@}
    /// The entity's state list.
    vantrel::generic_state* states[3] = {&walk, &turn, nullptr};
    ///@{
    /// The allowed-from lists: walk may follow turn and turn may follow walk.
    int after_turn[2] = {STATE_TURN, 0}, after_walk[2] = {STATE_WALK, 0};  // each may follow the other
    ///@}
    /// The way it walks, in degrees about y; 0 walks down -z.
    float heading = 0;  // degrees about y; 0 walks down -z

    walker()
    {
        walk.set(STATE_WALK, after_turn, 0, -1);
        turn.set(STATE_TURN, after_walk, STATE_WALK, 1);
        walk.entity = turn.entity = &ent;
        ent.states = states;
    }
};

/// The walkers of a level, read through the media loader from the files of
/// write_media in dir.
class actors {
public:
    /// The walkers, owned.
    std::vector<walker*> walkers;
    /// Walking speed, level units per second.
    float speed = 120;  // units per second

    /// Puts a walker at every point of at that lies in open space, facing
    /// its heading (degrees). Each reads its model and animations (keyframes
    /// keep the pose of the mesh they play on, so none are shared). -1 when
    /// the media cannot be read.
    int start(vantrel::level_t* level, const std::string& dir, const std::vector<std::array<float, 4>>& at)
    {
        vantrel::mediaman_t mm;
        for (const auto& p : at) {
            float pos[4] = {p[0], p[1], p[2], 1};
            if (!level->get_leaf_at_pos(pos))
                continue;
            auto* w = KD_NEW walker;
            if (!w)
                return -1;
            walkers.push_back(w);
            vantrel::d_list anims(1);
            if (mm.read_model((dir + "/walker.model").c_str(), &w->ent.model, 0) != 0 ||
                mm.read_anim((dir + "/walker.anim").c_str(), &anims, 0) != 0 || !anims.first || !anims.first->next)
                return -1;
            w->walk.replace(static_cast<vantrel::CSAnimation*>(anims.first->object));
            w->turn.replace(static_cast<vantrel::CSAnimation*>(anims.first->next->object));
            w->walk.bind(&w->ent.model);
            w->turn.bind(&w->ent.model);
            w->heading = p[3];
            face(w);
            vantrel::copy_v3(w->ent.pos_v, pos);
            vantrel::set_v(w->ent.radius_v, WALKER_HALF, (WALKER_TOP - WALKER_LOW) / 2, WALKER_HALF, 1);
            w->ent.level = level;
            if (level->ents.insert(static_cast<vantrel::igl_user*>(&w->ent)) < 0 || w->ent.branch_to(STATE_WALK) != 0)
                return -1;
        }
        return 0;
    }
    /// One step of dt ms: each walker walks ahead; one that a wall stops turns
    /// round by 135 degrees and plays its turn before walking on.
    void step(unsigned dt)
    {
        for (walker* w : walkers) {
            if (w->ent.current == &w->walk) {
                const float r = w->heading * 3.14159265f / 180.0f, d = speed * (float)dt / 1000;
                float delta[4] = {-std::sin(r) * d, 0, -std::cos(r) * d, 0};
                const float want = d;
                w->ent.move_pos_v(delta);
                if (std::sqrt(delta[0] * delta[0] + delta[2] * delta[2]) < want * 0.5f) {
                    w->heading += 135;
                    face(w);
                    w->ent.request_state_transition(STATE_TURN);
                }
            }
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
    /// Turns the model's matrix to the heading, keeping its position.
    static void face(walker* w)
    {
        const float r = w->heading * 3.14159265f / 180.0f;
        float* m = w->ent.model.matrix;
        m[0] = std::cos(r), m[2] = -std::sin(r);
        m[8] = std::sin(r), m[10] = std::cos(r);
    }
};

}  // namespace vantrel_demo
/// @}
