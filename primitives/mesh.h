/// @file
/// Meshes: convex polygons that share one vertex array, with a local
/// transform. Loaders build them, the BSP builder tests and splits them
/// against planes, the renderer draws them.
/// @ingroup primitives
#pragma once
/// @addtogroup primitives
/// @{

#include <cstdio>

#include "kdbase/d_list.h"
#include "primitives/n_poly.h"

namespace vantrel {

/// After unify_vertices the mesh owns va (its distinct vertices) and vi (the
/// index lists of all polygons one after another); every polygon points at the
/// mesh's va and at its own slice of vi and owns neither. The mesh always owns
/// its polys array.
class VANTREL_API mesh_t : public base_primitive {
public:
    n_poly* polys;      ///< array of npolys polygons (objects, not pointers)
    int32_t npolys;  ///< polygons in polys
    float matrix[16];   ///< local transform (row vectors, translation in 12-14); starts as identity

    mesh_t();
    ~mesh_t() override;

    /// Destroys the polygon array; npolys 0.
    void _delete_polys();
    /// Replaces the polygons by n default ones. n < 1: nothing happens, 0.
    /// -1 when the array cannot be allocated (the old polygons are gone).
    int _alloc_polys(int n);
    /// Sum of the polygons' nverts.
    int _count_poly_verts();
    /// Shallow copy: shares src's polys and arrays (owns bit cleared) and
    /// copies its matrix. The caller must set polys to null on one of the two
    /// before that one is destroyed. Null _mesh: -1.
    int copy(mesh_t* _mesh);
    /// Duplicates every polygon of src into this mesh and unifies the
    /// vertices. 0 when src has no polygons. -1 on failure.
    int copy_polys(mesh_t* src);
    /// Deep copy of _m: its fields and matrix, and polygons and vertex arrays
    /// of its own. Null _m or a failure: -1.
    int duplicate(mesh_t* _m);
    /// Builds the shared arrays from the polygons' own vertices: equal vertices
    /// (exact position, normal and texture; -0 equals +0, a NaN equals nothing)
    /// are stored once, in order of first appearance, and indexed by every
    /// polygon using them. -1 for a mesh without polygons, a polygon with an
    /// index outside its vertex array, or allocation failure: the mesh is then
    /// unchanged.
    int unify_vertices();
    ///@{
    /// Moves every vertex (position and normal, with multmatrix_v3) by matrix,
    /// recomputes the polygons' normals and resets matrix to the identity.
    /// -1 for an unusable mesh or when a polygon normal cannot be computed.
    int transform_coords_to_world();
    void dump(FILE* f, const char* tabs) override;
    ///@}
};

/// Copies the first count vertices of src into dst (at most dst_size). 0 / -1.
VANTREL_API int _copy_va(mrv_vertex* dst, int dst_size, mrv_vertex* src, int count);

/// Side of plane on which the mesh lies: PL_FRONT, PL_BACK or PL_SPANNING;
/// polygons in the plane count for the side their normal faces. PL_INVALID
/// for bad arguments or when no polygon could be classified.
VANTREL_API int p_location_mesh(mesh_t* mesh, n_poly* plane);

/// Splits mesh by plane into front and back (their old contents are released):
/// each receives mesh's name, matrix, type, mat and flags, its polygons of that
/// side (spanning ones split) as deep copies, unified; a side without polygons
/// has none and no vertices. front, back and mesh must be three different
/// meshes. 0 / -1 (front and back may then hold part of the result).
VANTREL_API int split_mesh(mesh_t* mesh, n_poly* plane, mesh_t* front, mesh_t* back);

/// Comparisons; each difference is logged as "name1/name2: reason".
/// Same vasize and every vertex of _m1 found in _m2.
VANTREL_API bool are_equal_va(mesh_t* _m1, mesh_t* _m2);
/// Same polygon count and polygons pairwise equal in order.
VANTREL_API bool are_equal_polys(mesh_t* _m1, mesh_t* _m2);
/// Same kind (with or without polygons), names and parents, type, vertices and polygons.
VANTREL_API bool are_equal_meshes(mesh_t* _m1, mesh_t* _m2);

/// transform_coords_to_world on every mesh of the list. 0, or -1 when the list
/// is null or a mesh failed.
VANTREL_API int transform_mesh_l_coords_to_world(d_list* _meshes);
/// "%s+++mesh list: %d meshes\\n" and every mesh's dump.
VANTREL_API void dump_mesh_l(FILE* f, d_list* meshes, const char* tabs);

}  // namespace vantrel
/// @}
