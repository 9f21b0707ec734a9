/// @file
/// Motion of game objects: a position_handler glides a position it does not
/// own to a target over a given time, or moves it under accumulated forces; a
/// physical_body adds the ellipsoid of the object and the responses to hitting
/// a wall polygon or another body. Collision tests work in the unit-sphere
/// space of the ellipsoid (positions divided by radius_v), where the body is a
/// sphere of radius 1. Times are milliseconds of get_milli_uptime; forces are
/// given per second and kept per millisecond.
///
/// Argument failures are logged at EL_MINDEBUG and the operation does nothing
/// (or reports no collision). Nothing here allocates except the scratch copy of
/// a wall of more than 16 vertices.
/// @ingroup world
#pragma once
/// @addtogroup world
/// @{

#include <cstdint>
#include <cstdio>

#include "engine/passive_timer.h"
#include "primitives/n_poly.h"

namespace vantrel {

/// Bits of position_handler::motion_flags.
enum { MOTION_FORCES = 1, MOTION_GLIDE = 2 };

/// A velocity within 0.0001 per component of this one stops force-driven
/// motion: (0.0001, 0.0001, 0.0001, 0).
VANTREL_API extern const float DEAD_VELOCITY_V[4];

/// The glide timer and the force timer are one timer: add_force restarts it.
/// A glide of a body that collides in a level (every collision check adds the
/// level's forces) therefore lands on its target at the second step: glide
/// bodies without level forces, or set the target for one step (as received
/// network positions do).
class VANTREL_API position_handler {
public:
    float* pos_v;         ///< the owner's position (four floats); null until the owner sets it
    float step_v[4];      ///< per-ms step of the current glide
    float tpos_v[4];      ///< target of the current glide
    passive_timer timer;  ///< glide duration, then the tick of force-driven motion
    float force_v[4];     ///< forces since the last motion step, per ms
    float accel_v[4];     ///< force / mass of the last step
    float velocity_v[4];  ///< units per ms
    float mass;           ///< divisor of the forces
    uint32_t motion_flags;  ///< MOTION_FORCES, MOTION_GLIDE

    ///@{
    /// Vectors zero, mass 1, flags 0, pos_v null.
    position_handler();
    virtual ~position_handler();
    ///@}

    ///@{
    /// Called by move_pos_v around every move: before_move may shorten the
    /// delta (collisions), after_move follows the new position. Empty here.
    virtual void before_move(float* delta);
    virtual void after_move();
    ///@}

    /// Glides to tpos over seconds (> 0), from the next interpolate() on.
    /// Without pos_v or tpos, or seconds <= 0: logged, nothing changes.
    void set_target_pos(float* tpos, float seconds);
    /// before_move(delta), pos += delta, after_move(). Null pos_v or delta: logged.
    void move_pos_v(float* delta);
    /// force += f / 1000 and start_delta(). Null f: logged.
    void add_force(float* f);
    /// force -= velocity * factor, for 0 <= factor <= 1 (else logged, ignored).
    void add_resistance(float factor);
    /// Restarts the timer with period 0 and switches force-driven motion on.
    void start_delta();
    /// One motion step: a glide step while gliding, else a force step.
    void interpolate();
    /// Glide step: at the target (within 0.01) the glide ends without moving;
    /// else the step times the ms since the last step, or the rest of the way
    /// once the glide time is over.
    void interpolate_to_pos();
    /// Force step: velocity from the accumulated force (a force against the
    /// motion adds to it, any other replaces it), then the move by velocity
    /// times the ms since the last step. A dead velocity stops the motion.
    void interpolate_delta();
};

/// A moving object with an ellipsoid extent that collides with walls and
/// other bodies.
class VANTREL_API physical_body : public position_handler {
public:
    float radius_v[4];  ///< half-extents of the ellipsoid along x, y, z (all > 0 to collide)

    /// radius_v (1, 1, 1, 1).
    physical_body();

    /// out = the point of the ellipsoid's surface in direction dir:
    /// pos + r * normalize(dir / r). Null argument or pos_v: logged, out unchanged.
    void get_perimeter_v(float* dir, float* out);
    /// Cuts delta short where the moving ellipsoid first touches wall and
    /// returns true; false when the move does not reach it (delta unchanged).
    /// The velocity is zeroed in both cases. The wall is read, never written:
    /// it is carried into unit-sphere space on a scratch copy, its normal
    /// multiplied by the radius (the normal of the scaled plane), so slanted
    /// walls stop ellipsoids where they touch.
    /// A body that already touches or cuts the wall cannot move further into
    /// it (the move is cut to zero). Unusable wall, null delta, no pos_v or a
    /// radius component <= 0: logged, false, nothing changes.
    bool collided_with_poly(n_poly* wall, float* delta);
    /// Cuts delta to the gap between the two ellipsoids along the move when
    /// the move reaches the other body: true. The velocity is zeroed in both
    /// cases. Null other, delta or positions: logged, false.
    bool collided_with_body(physical_body* other, float* delta);
    /// "%sradius_v=(%.4f, %.4f, %.4f)\\n". Null f: logged.
    void dump(FILE* f, const char* prefix);

    /// True when pos_v is set and every radius component is above 0.
    bool _can_collide() const;
};

}  // namespace vantrel
/// @}
