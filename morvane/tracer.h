/// @file
/// Transform tracers: small script objects that each change a matrix (a
/// translation, a rotation, a whole matrix, a camera that follows another
/// object), the ordered stack that applies them, and the traced matrix a
/// camera builds its view matrix with. Matrices are 16 floats, vectors 4
/// (row vectors, translation in elements 12 to 14).
/// @ingroup morvane
#pragma once
/// @addtogroup morvane
/// @{

#include "base_script/script_var.h"
#include "kdbase/d_list.h"

namespace vantrel {

class r_struct;

/// The base of the tracers: a script structure that changes a matrix.
class VANTREL_API tracer_t : public script_var {
public:
    /// Changes m in place. A null m logs the invalid-pointer message.
    virtual void modify_matrix(float* m) = 0;
};

/// An ordered list of tracers; it only refers to them.
class VANTREL_API tracer_stack_t : public script_var {
public:
    d_list tracers;  ///< of tracer_t*, not owned

    tracer_stack_t();
    /// Appends t. 0; -1 for null or a failed insert.
    int push(tracer_t* t);
    /// Removes the last tracer (nothing when empty).
    void pop();
    /// modify_matrix(m) of each tracer in order; a null m logs
    /// "process(): invalid parameters".
    void process(float* m);
};

/// A matrix and the stack that builds it. Publishes "tracers" (the stack).
class VANTREL_API traced_m_t : public script_var {
public:
    float matrix[16];  ///< the identity after construction
    /// The tracers that build matrix; published as "tracers".
    tracer_stack_t stack;

    traced_m_t();
    /// matrix = identity changed by every tracer of the stack in order.
    void build();
    /// Publishes "tracers" (the constructor does).
    void make_visible();

private:
    r_struct* stack_s;
    r_var stack_v;
};

/// m = translation by "trans_v" (or its inverse with "invert") times m: a
/// point goes through m first, then the translation.
class VANTREL_API tr_trans_t : public tracer_t {
public:
    /// Non-zero: translate by the inverse of trans_v.
    int invert;
    float trans_v[4];  ///< (0, 0, 0, 1) after construction

    tr_trans_t();
    void modify_matrix(float* _m) override;
    /// Publishes "invert" and "trans_v" (the constructor does).
    void make_visible();

private:
    r_var vars[2];
};

/// m = rotation by "rot_x", "rot_y", "rot_z" (degrees, make_rotate_m) times m,
/// about "center_v" when it is set.
class VANTREL_API tr_rot_t : public tracer_t {
public:
    /// Centre of the rotation; null (the default): the origin. Not owned.
    float* center_v;
    ///@{
    /// Angles about x, y and z, as make_rotate_m takes them.
    float rot_x, rot_y, rot_z;
    ///@}

    tr_rot_t();
    void modify_matrix(float* _m) override;
    /// Publishes "center_v", "rot_x", "rot_y", "rot_z" (the constructor does).
    void make_visible();

private:
    r_var vars[4];
};

/// As tr_rot_t with "trans_m" (all 0 after construction) for the rotation.
class VANTREL_API tr_matrix_t : public tracer_t {
public:
    /// Centre of the transformation; null (the default): the origin. Not owned.
    float* center_v;
    /// The matrix applied.
    float trans_m[16];

    tr_matrix_t();
    void modify_matrix(float* _m) override;
    /// Publishes "center_v" and "trans_m" (the constructor does).
    void make_visible();

private:
    r_var vars[2];
};

/// Follow modes (cam_follow_t::mode).
enum cf_element { CF_NONE = 0, CF_POSITION = 1, CF_ORIENTATION = 2 };

/// What a follow camera follows: position, orientation or both.
struct VANTREL_API follow_mode {
    cf_element position = CF_NONE;     ///< CF_POSITION: trail the object's movement
    cf_element orientation = CF_NONE;  ///< CF_ORIENTATION: look at the object
    /// Sets both modes.
    void set_params(cf_element _position, cf_element _orientation)
    {
        position = _position;
        orientation = _orientation;
    }
};

/// A camera that follows the object whose matrix "follow_m" points at.
/// Orientation mode 2: m looks (render library "lookat_v") from the eye at
/// "dist" from the object, turned by "ang_yz" and "ang_xz" and carried by the
/// object's matrix, at the point "ref_dist" ahead along the object's third
/// axis, with the object's second axis up. Position mode 1: the vector at
/// "cam_pos_v" moves by the object's movement since the previous call and m
/// is moved with it; skipped while "cam_pos_v" is unset. Then "_prev_m"
/// takes a copy of the object's matrix. The eye of the orientation mode is
/// also written to eye_v when set (a camera points it at its "wpos" vector, so
/// that its leaf is found where the camera really is).
class VANTREL_API cam_follow_t : public tracer_t {
public:
    /// The followed matrix at the previous call.
    float _prev_m[16];
    /// The followed object's matrix; not owned. Null: the tracer logs and does nothing.
    float* follow_m;
    /// The position the position mode moves; not owned.
    float* cam_pos_v;
    ///@{
    /// Distance of the eye from the object, distance ahead of the object of the
    /// point looked at, and the eye's angles around the object.
    float dist, ref_dist, ang_yz, ang_xz;
    ///@}
    /// The modes, set by the host; none after construction.
    follow_mode mode;
    float* eye_v = nullptr;  ///< not published; not owned

    cam_follow_t();
    void modify_matrix(float* _m) override;
    /// Publishes "_prev_m", "follow_m", "cam_pos_v", "dist", "ref_dist",
    /// "ang_yz", "ang_xz" (the constructor does).
    void make_visible();

private:
    r_var vars[7];
};

/// "create_tr_translate", "create_tr_rotate", "create_tr_ext_matrix" (each
/// "i=V": the tracer's structure is stored into the variable; the tracer is
/// then the caller's to delete). 0, or -1 at the first failed add (the
/// functions added so far stay).
VANTREL_API int transform_basic_add_funcs(r_struct& rs);
/// "tracer_stack_push" ("i=SS": stack, tracer). 0 or -1 as above.
VANTREL_API int tracer_add_funcs(r_struct& rs);

}  // namespace vantrel
/// @}
