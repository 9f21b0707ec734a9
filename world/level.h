/// @file
/// A level: the solid BSP tree of its walls plus the bodies that move in it,
/// its lights and the constant forces applied on every collision check. The
/// level finds the nearest wall and the nearest other body along a move and
/// applies the body's response (physical_body).
///
/// Bodies: each element of ents is an object (unknown) that is also a
/// physical_body, as entities are; other elements are skipped. Entities convert
/// to physical_body*, so they are passed here directly.
///
/// Distances are reported in world units along the move (the length of the
/// unit-sphere step scaled back by the radius), so walls and bodies compare
/// like with like; they equal the unit-sphere readings when the radius is
/// (1, 1, 1).
///
/// Walls are swept: a wall counts where the moving sphere first touches it,
/// at its face or, when the plane contact point lies outside the polygon, at
/// its nearest edge point (edges of door jambs and of the fragments the tree
/// cut walls into would otherwise let a body slip through). A wall the body
/// already touches or cuts ranks by its depth, so in a corner the move is
/// stopped by the wall the body is pressing into.
///
/// Speed limit: only the walls of the leaf holding the body's centre are
/// tested, so a step may pass walls of a leaf it crosses into. Steps of at
/// most the body's smallest radius never carry its centre into a wall; inside
/// one convex leaf (a room without pillars or doorways) any step is safe.
/// @ingroup world
#pragma once
/// @addtogroup world
/// @{

#include <cstdio>

#include "kdbase/d_list.h"
#include "world/position_handler.h"
#include "world/solid_bsp.h"

namespace vantrel {

class entity_t;

/// A solid BSP tree of walls with the bodies that move in it. The level owns
/// its tree (nodes and meshes) but neither its entities nor its lights.
class VANTREL_API level_t : public solid_bsp_t {
public:
    d_list ents;        ///< the level's entities; not owned
    d_list lights;      ///< light objects in the renderer's order; not owned, not read here
    float force1_v[4];  ///< constant forces, per second, added on every collision check
    /// A second constant force, applied like force1_v.
    float force2_v[4];
    float res_factor;   ///< resistance added on every collision check (0..1)

    /// An empty tree, no entities or lights, zero forces and resistance.
    level_t();

    /// The nearest wall of the body's leaf that the move delta runs into
    /// (moving against its front face); out_dist (when given)
    /// receives its distance along the move in world units, FLT_MAX when none.
    /// Null: a body outside the open space ("entity's pos_v is stuck in
    /// wall"), none found, or bad arguments (logged). A body that already
    /// touches or cuts a wall it moves against finds it at distance 0.
    n_poly* _get_closest_wall(physical_body* _ent, float* _delta_v, float* out_dist);
    /// The nearest other body of ents that the move runs into; out_dist (when
    /// given) receives its distance in world units, measured in that body's
    /// unit-sphere space; 10000 when none. Null when none or bad arguments.
    physical_body* _get_closest_ent(physical_body* _ent, float* _delta_v, float* out_dist);
    /// Shortens delta at the nearer of the closest wall and the closest body,
    /// then adds force1_v, force2_v and the resistance to the body.
    void do_collision_check(physical_body* _ent, float* _delta_v);
    /// The first entity of ents whose network user id is id, or null
    /// (defined with the entities, world/entity.cpp).
    entity_t* get_ent(unsigned short id);
};

}  // namespace vantrel
/// @}
