/// @file
/// Convex polygons with a plane: the unit of level geometry, of the BSP
/// builder's splits and of collision tests. A polygon doubles as a plane: the
/// one through its first indexed vertex with its normal.
/// @ingroup primitives
#pragma once
/// @addtogroup primitives
/// @{

#include <cstdio>

#include "kdbase/d_list.h"
#include "primitives/base_primitive.h"

namespace vantrel {

/// A convex polygon: its vertices in order and its plane.
class VANTREL_API n_poly : public base_primitive {
public:
    float normal[4];  ///< unit normal in x, y, z; w travels along when copied

    n_poly();

    /// normal = (P1 - P0) x (PL - P0) of the first, second and last indexed
    /// vertex, transformed by matrix when given (multmatrix_v3), normalised.
    /// Counter-clockwise seen from the front. -1 for an unusable polygon or
    /// fewer than 2 vertices.
    int calculate_normal(float* matrix);
    /// Shallow copy (shares the arrays, owns bit cleared) plus the normal.
    /// Null src: -1.
    int copy(n_poly* src);
    /// Deep copy: the normal and fields of src, and its nverts vertices in
    /// index order in arrays of its own. -1 when src is unusable or on
    /// allocation failure (then this polygon has no vertices).
    int duplicate(n_poly* src);
    /// Replaces the arrays by copies of src's indexed vertices, in order, with
    /// the identity index array. -1 for an unusable src or allocation failure
    /// (then this polygon has no vertices).
    int _copy_verts(n_poly* src);
    /// Replaces the vertices by src[i0], src[i1], ... (count int indices
    /// following). The polygon must already be usable. -1 on bad arguments
    /// (nothing changed) or allocation failure (then it has no vertices).
    int set_verts(mrv_vertex* src, int count, ...);
    /// Axis-aligned bounds of the indexed vertices (x, y, z written). 0 / -1.
    int get_bounds(float* min, float* max);
    /// Compares bounding box diagonals: 0 within 0.0001, -1 when this one is
    /// shorter, 1 when longer (also when either polygon is unusable).
    int compare_bounds(n_poly* other);
    /// Writes to out the closest point to p on the lines of the edges, when one
    /// is nearer than 10000. 0 / -1.
    int get_closest_vector(float* p, float* out);
    ///@{
    /// Positions and normal divided (multiplied) component-wise by radius, the
    /// normal renormalised: into (out of) the unit-sphere space of an ellipsoid.
    int transform_to_sphere(float* radius);
    /// Undoes transform_to_sphere with the radius it gave.
    int untransform_from_sphere(float* radius);
    ///@}
    /// True when the angles the edges subtend at p sum to 2*pi (within 0.0001):
    /// p lies inside the polygon or on its border (for p in its plane).
    bool is_inside_poly(float* p);
};

/// Results of the plane tests.
enum {
    PL_INVALID = 0,
    PL_FRONT = 1,
    PL_BACK = 2,
    PL_ONPLANE = 3,
    PL_SPANNING = 4,
};

/// The plane thickness: points within this distance lie on the plane.
#define PL_EPSILON 0.0001f

/// The location of a polygon from the locations of its count points, point k's
/// given by side(k): PL_SPANNING as soon as points lie on both sides, PL_INVALID
/// when one point is invalid, else PL_FRONT, PL_BACK or PL_ONPLANE.
template <class Side>
inline int combine_locations(int count, Side side)
{
    bool front = false, back = false;
    for (int k = 0; k < count; ++k) {
        switch (side(k)) {
        case PL_FRONT:
            front = true;
            break;
        case PL_BACK:
            back = true;
            break;
        case PL_ONPLANE:
            break;
        default:
            return PL_INVALID;
        }
        if (front && back)
            return PL_SPANNING;
    }
    if (front)
        return PL_FRONT;
    return back ? PL_BACK : PL_ONPLANE;
}

/// Side of plane's plane on which point p lies: PL_FRONT, PL_BACK, PL_ONPLANE,
/// or PL_INVALID for bad arguments.
VANTREL_API int p_location_v(float* p, n_poly* plane);
/// Side of plane's plane on which poly lies; PL_SPANNING when it has vertices on
/// both sides, PL_ONPLANE when all lie on the plane; PL_INVALID for bad arguments.
VANTREL_API int p_location_poly(n_poly* poly, n_poly* plane);

/// Splits poly by plane's plane into front and back (their old vertices are
/// released; both get poly's normal, mat and flags and own their new arrays).
/// A vertex on the plane goes to both halves; an edge crossing the plane adds
/// a new vertex (zero normal, interpolated texture) to both. 0, or -1 on bad
/// arguments, when one side would hold more than 64 vertices or be empty, or on
/// allocation failure; front and back are then left as they were.
VANTREL_API int split_poly(n_poly* poly, n_poly* plane, n_poly* front, n_poly* back);

/// Equal mat and nverts, normals within 0.0001, vertices equal in index order.
VANTREL_API bool are_equal_polys(n_poly* a, n_poly* b);

///@{
/// Printers.
VANTREL_API void _dump_poly(FILE* f, n_poly* poly, const char* tabs);
VANTREL_API void dump_poly(FILE* f, n_poly* poly);
VANTREL_API void dump_poly_list(FILE* f, d_list* polys);
///@}

}  // namespace vantrel
/// @}
