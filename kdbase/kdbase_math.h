/// @file
/// Vector, matrix and quaternion math on plain float arrays.
///
/// Vector: float[4] = x, y, z, w; most operations use x, y, z and leave w alone.
/// Matrix: float[16], four rows of four: rows 0-2 are the images of the x, y and z
/// axes, row 3 the translation (elements 12-14) and 1 in element 15. Points are row
/// vectors multiplied from the left: p' = p * M.
/// Quaternion: float[4] = x, y, z, w (scalar last).
/// Angles are degrees.
///
/// A function ending in "_v" ("_m", "_q") updates its first argument; its twin ending
/// in "_vr" ("_mr", "_qr") copies the next argument into `out`, applies the first
/// function to `out` and returns `out`. Every function is safe when `out` is one of
/// its inputs. Nothing allocates; intermediate arithmetic is done in double.
///
/// Only the functions that document a message check their pointers (logged at
/// EL_MINDEBUG); the plain arithmetic ones expect valid arrays.
/// @ingroup kdbase
#pragma once
/// @addtogroup kdbase
/// @{

#include <cstdio>

#include "platform/export.h"

namespace vantrel {

// ---- vectors ---------------------------------------------------------------

/// Stores x, y, z, w.
VANTREL_API void set_v(float* v, float x, float y, float z, float w);
/// Stores x, y, z; w stays.
VANTREL_API void set_v3(float* v, float x, float y, float z);
/// Four floats.
VANTREL_API void copy_v(float* dst, const float* src);
///@{
/// Three floats.
VANTREL_API void copy_v3(float* dst, const float* src);
VANTREL_API void swap_v(float* a, float* b);
VANTREL_API void swap_v3(float* a, float* b);
///@}

///@{
/// a = a + b
VANTREL_API void add_v(float* a, const float* b);
VANTREL_API float* add_vr(float* out, const float* a, const float* b);
///@}
///@{
/// a = a - b
VANTREL_API void sub_v(float* a, const float* b);
VANTREL_API float* sub_vr(float* out, const float* a, const float* b);
///@}
///@{
/// Component products. Null: "mult_v(): invalid parameters" / "mult_vr(): invalid parameters".
VANTREL_API void mult_v(float* a, const float* b);
VANTREL_API float* mult_vr(float* out, const float* a, const float* b);
///@}
///@{
/// Component quotients. A zero component of b logs "div_v(): attempted to divide by
/// zero" and leaves a unchanged (div_vr: out holds a copy of a). Null: "div_v(): invalid
/// parameters" / "div_vr(): invalid parameters" (div_vr then returns null).
VANTREL_API void div_v(float* a, const float* b);
VANTREL_API float* div_vr(float* out, const float* a, const float* b);
///@}

///@{
/// x, y, z times s.
VANTREL_API void multscalar_v(float* a, float s);
VANTREL_API float* multscalar_vr(float* out, const float* a, float s);
///@}
///@{
/// A zero divisor leaves the vector unchanged, silently.
VANTREL_API void divscalar_v(float* a, float s);
VANTREL_API float* divscalar_vr(float* out, const float* a, float s);
///@}

/// a . b over x, y, z.
VANTREL_API float dotproduct_v(const float* a, const float* b);
/// Length of x, y, z.
VANTREL_API float len_v(const float* a);
///@{
/// Divides by the length; a zero vector stays as it is.
VANTREL_API void normalize_v(float* a);
VANTREL_API float* normalize_vr(float* out, const float* a);
///@}
///@{
/// a = a x b
VANTREL_API void crossproduct_v(float* a, const float* b);
VANTREL_API float* crossproduct_vr(float* out, const float* a, const float* b);
///@}
///@{
/// Negates x, y, z (0 becomes -0). Null: "invert_v(): invalid parameter" /
/// "invert_vr(): invalid parameters" (then null).
VANTREL_API void invert_v(float* a);
VANTREL_API float* invert_vr(float* out, const float* a);
///@}

/// True when x, y and z are exactly 0 (NaN is not zero).
VANTREL_API bool is_zero_v(const float* a);
/// True when |b_i - a_i| <= eps for x, y, z; false for null arguments.
VANTREL_API bool are_equal(const float* a, const float* b, float eps);
/// The same over four components.
VANTREL_API bool are_equal4(const float* a, const float* b, float eps);
/// The same over sixteen; null arguments log the invalid-pointer message.
VANTREL_API bool are_equal_m(const float* _m1, const float* _m2, float eps);

/// For 0 <= t <= 1: _v = start + (end - start) * t; any other t leaves _v as it was.
VANTREL_API void interpolate_v(float* _v, const float* _start_v, const float* _end_v, float t);

///@{
/// x reduced toward zero to a whole multiple of step (a zero step returns x).
VANTREL_API float trunc_fraction(float x, float step);
VANTREL_API void trunc_v(float* v, float step);   ///< x, y, z
VANTREL_API void trunc_q(float* q, float step);   ///< four components
VANTREL_API void trunc_m(float* m, float step);   ///< sixteen
///@}

/// The fraction of x (with x's sign) at least 0.5 rounds up, anything less (every
/// negative fraction too) rounds down: 2.5 -> 3, -2.5 -> -3, -2.2 -> -3, -0.2 -> -1.
VANTREL_API int round(float x);

// ---- matrices --------------------------------------------------------------

/// m = the identity.
VANTREL_API void makeIdentityMatrix(float* m);
/// Sixteen floats. Null: "copy_m(): invalid parameters".
VANTREL_API void copy_m(float* dst, const float* src);
///@{
/// Rows become columns.
VANTREL_API float* transpose_mr(float* out, const float* m);
VANTREL_API void transpose_m(float* m);
///@}

/// The view matrix of an eye at eye looking at target with up roughly up:
/// eye space looks down -z with y up (the columns of the upper 3x3 part are
/// side, up and -forward). -1 with m untouched when there is no direction
/// (eye at the target, or up along the view) or an argument is null.
VANTREL_API int lookat_m(float* m, const float* eye, const float* target, const float* up);

/// out = b * a: a point transformed by out goes through b first, then a.
/// Null: "multmatrix_mr(): invalid parameters" (then null).
VANTREL_API float* multmatrix_mr(float* out, const float* a, const float* b);
/// a = b * a
VANTREL_API void multmatrix_m(float* a, const float* b);
/// The upper-left 3x3 part of b * a; row and column 3 of out are left untouched.
/// Null: "multmatrix_mr(): invalid parameters" (then null).
VANTREL_API float* multmatrix_m3r(float* out, const float* a, const float* b);
/// The full 4x4 product, exactly as multmatrix_m.
VANTREL_API void multmatrix_m3(float* a, const float* b);

///@{
/// v = v * m over all four components.
VANTREL_API void multmatrix_v(float* v, const float* m);
VANTREL_API float* multmatrix_vr(float* out, const float* m, const float* v);
///@}
///@{
/// v.xyz = (x, y, z, 1) * m; w untouched.
VANTREL_API void multmatrix_v3(float* v, const float* m);
VANTREL_API float* multmatrix_v3r(float* out, const float* m, const float* v);
///@}

///@{
/// Identity with the translation set. Null: "make_translate_m(): invalid parameters".
VANTREL_API void make_translate_m(float* m, float x, float y, float z);
VANTREL_API void make_rotatex_m(float* m, float a);
VANTREL_API void make_rotatey_m(float* m, float a);
VANTREL_API void make_rotatez_m(float* m, float a);
///@}
/// Rotation by ax about x, then ay about y, then az about z.
/// Null: "make_rotate_m(): invalid parameters".
VANTREL_API void make_rotate_m(float* m, float ax, float ay, float az);
/// Row 2 = dir (four floats), row 0 = row 1 x row 2, row 1 = row 2 x row 0.
/// Null arguments do nothing.
VANTREL_API void orient_axes(float* m, const float* dir);
/// Row 0 cleared, row 2 = forward, row 0 = normalised up x forward, row 1 = row 2 x row 0.
/// Null arguments do nothing.
VANTREL_API void _set_axes(float* m, const float* forward, const float* up);
/// _set_axes on normalised copies of forward and up.
VANTREL_API void set_axes(float* m, const float* forward, const float* up);

// ---- lines, planes and spheres ----------------------------------------------

/// The point of the segment a-b closest to p. Null: "get_closest_vector_on_line():
/// invalid parameters".
VANTREL_API void get_closest_vector_on_line(const float* a, const float* b, const float* p, float* out);
/// The parameter along a->b where it crosses the plane through p with normal n; a
/// denominator of magnitude below 0.0001 counts as +0.0001.
/// Null: "seg_directed_distance(): invalid parameters", 0.
VANTREL_API float seg_directed_distance(const float* p, const float* n, const float* a, const float* b);
/// seg_directed_distance(p, n, origin, origin + dir).
/// Null: "ray_directed_distance(): invalid parameters", 0.
VANTREL_API float ray_directed_distance(const float* p, const float* n, const float* origin,
                                        const float* dir);
/// Distance along the ray (dir of unit length) to its first crossing of the sphere, or
/// -1 when it misses. Null: "ray_sphere_directed_distance(): invalid parameters", 0.
VANTREL_API float ray_sphere_directed_distance(const float* origin, const float* dir,
                                               const float* centre, float r);
/// 1 when p0->p1 crosses the plane through q with normal n at 0 <= t < 1 (the point goes
/// to out), 0 when parallel within 0.0001 or outside. Null: "get_intersect(): invalid
/// parameters", 0.
VANTREL_API int intersect(const float* p0, const float* p1, const float* q, const float* n, float* out);

// ---- quaternions (all four components) --------------------------------------

///@{
/// a = a + b
VANTREL_API void add_q(float* a, const float* b);
VANTREL_API float* add_qr(float* out, const float* a, const float* b);
///@}
///@{
/// a = a - b
VANTREL_API void sub_q(float* a, const float* b);
VANTREL_API float* sub_qr(float* out, const float* a, const float* b);
///@}
///@{
/// a = a * s
VANTREL_API void multscalar_q(float* a, float s);
VANTREL_API float* multscalar_qr(float* out, const float* a, float s);
///@}
///@{
/// a = a / s; a zero divisor leaves the quaternion unchanged.
VANTREL_API void divscalar_q(float* a, float s);
VANTREL_API float* divscalar_qr(float* out, const float* a, float s);
///@}
///@{
/// The conjugate: x, y, z negated, w kept.
VANTREL_API void conj_q(float* a);
VANTREL_API float* conj_qr(float* out, const float* a);
///@}
///@{
/// Sum of squares.
VANTREL_API float norm_q(const float* a);
VANTREL_API float len_q(const float* a);
///@}
///@{
/// A zero quaternion stays as it is.
VANTREL_API void normalize_q(float* a);
VANTREL_API float* normalize_qr(float* out, const float* a);
VANTREL_API float dotproduct_q(const float* a, const float* b);
///@}
///@{
/// Conjugate divided by norm_q (a zero quaternion stays zero).
VANTREL_API void inverse_q(float* a);
VANTREL_API float* inverse_qr(float* out, const float* a);
///@}
/// out = a * b
VANTREL_API float* mult_qr(float* out, const float* a, const float* b);
/// a = a * b
VANTREL_API void mult_q(float* a, const float* b);
/// Spherical interpolation along the shorter arc; t = 0 gives q1.
VANTREL_API float* slerp_qr(float* out, const float* q1, const float* q2, float t);
/// The same weights for two four-component vectors, cos theta from x, y, z, no sign flip.
VANTREL_API float* slerp_vr(float* out, const float* a, const float* b, float t);
/// Rotation matrix of q. Null: invalid-pointer message.
VANTREL_API void convert_q2m(float* _m, const float* _q);
/// The quaternion of a rotation matrix. Null: invalid-pointer message.
VANTREL_API void convert_m2q(float* _q, const float* _m);

// ---- printers ----------------------------------------------------------------
// A null stream prints nothing and logs nothing (except _dump_row_m); a null
// vector, quaternion or matrix logs the invalid-pointer message.

///@{
/// "%svector=(%.6f, %.6f, %.6f)\\n"; a null prefix prints as empty.
VANTREL_API void _dump_v(FILE* _f, const float* _v, const char* tabs);
VANTREL_API void dump_v(FILE* _f, const float* _v);
///@}
/// "%squat=( (%f, %f, %f), %f )\\n"
VANTREL_API void dump_q(FILE* _f, const float* _q, const char* tabs);
/// mode 1: one line per storage column (elements 0, 4, 8, 12 first) between
/// "+++4x4 matrix" and "---end matrix"; any other mode: one line per stored row
/// between "+++4x4 ROW matrix" and "---end ROW matrix".
VANTREL_API void dump_m(FILE* _f, const float* _m, int mode, const char* tabs);
/// dump_m with mode 1; nothing when an argument is null.
VANTREL_API void _dump_m(FILE* _f, const float* _m, const char* tabs);
/// dump_m with the row layout; a null stream or matrix logs the invalid-pointer message.
VANTREL_API void _dump_row_m(FILE* _f, const float* _m, const char* tabs);

}  // namespace vantrel
/// @}
