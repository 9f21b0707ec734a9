/// @file
/// The vertex record shared by all geometry, and the common base of every
/// vertex-carrying primitive (polygons, meshes): a vertex array addressed
/// through an index array, so primitives can share one array of vertices.
/// @ingroup primitives
#pragma once
/// @addtogroup primitives
/// @{

#include <cstdint>
#include <cstdio>

#include "kdbase/group.h"
#include "kdbase/unknown.h"

namespace vantrel {

/// Position, normal and texture coordinates. Construction leaves the fields
/// unset; copy them with copy_vert.
class VANTREL_API mrv_vertex : public unknown {
public:
    float v[3];  ///< position
    float n[3];  ///< normal
    float t[2];  ///< texture coordinates (u, v)
};

/// Bit 0 of base_primitive::flags: this primitive allocated va and vi and frees them.
enum { PRIM_OWNS_ARRAYS = 1 };

/// The vertex and index arrays a primitive owns or shares.
class VANTREL_API base_primitive : public groupable_t {
public:
    int32_t type;     ///< primitive type code; stored, copied and printed only
    mrv_vertex* va;   ///< vertex array of vasize entries
    uint32_t* vi;     ///< index array: entry k is the position in va of the k-th vertex
    int32_t nverts;   ///< entries of vi in use
    int32_t vasize;   ///< vertices in va
    int32_t mat;      ///< material number in the skin in force when drawn
    uint32_t flags;   ///< PRIM_OWNS_ARRAYS

    base_primitive();
    ~base_primitive() override;
    base_primitive(const base_primitive&) = delete;
    base_primitive& operator=(const base_primitive&) = delete;

    /// Zeroes all seven fields without releasing anything.
    void _reset();
    /// Frees va and vi when this primitive owns them; always forgets them
    /// (va, vi, nverts, vasize zero; type, mat, flags kept).
    void _delete_verts();
    /// Replaces the arrays by _vasize new vertices and _nverts indices (-1: as many
    /// as vertices), the indices filled with the identity as far as both counts
    /// reach; sets the owns bit. -1 when _vasize < 1 (old arrays kept) or an
    /// allocation fails (the primitive is then left empty).
    int _alloc_verts(int _vasize, int _nverts = -1);
    /// Shallow copy: shares src's arrays and takes type, counts, mat and flags,
    /// with the owns bit cleared. Null src or src == this: nothing happens.
    void copy(base_primitive* src);

    /// New arrays of _vasize vertices and _nverts indices (identity as far as
    /// both reach, the rest zero), logged on failure: 0 / -1 (nothing kept).
    static int _new_arrays(int _vasize, int _nverts, mrv_vertex** _va, uint32_t** _vi);
    /// Releases the current arrays and takes these, owned.
    void _take_arrays(mrv_vertex* _va, uint32_t* _vi, int _vasize, int _nverts);
};

/// A primitive is usable when both arrays exist and both counts are at least 1.
inline bool valid_primitive(const base_primitive* p)
{
    return p && p->va && p->vi && p->nverts >= 1 && p->vasize >= 1;
}
/// valid_primitive(p).
#define VALID_PRIMITIVE(p) vantrel::valid_primitive(p)

/// True when positions and normals are exactly equal per component (-0 == +0,
/// NaN never equal) and the texture coordinates too. Null: logged, false.
VANTREL_API bool are_equal_verts(mrv_vertex* a, mrv_vertex* b);
/// Copies v, n and t. Null: logged.
VANTREL_API void copy_vert(mrv_vertex* dst, mrv_vertex* src);
/// Index of the first element of array equal to vert, or -1.
VANTREL_API int is_vert_in_array(mrv_vertex* array, int count, mrv_vertex* vert);
/// "%sv=(...) N=(...) t=(...)\\n" with four decimals.
VANTREL_API void dump_mrv_vertex(FILE* f, mrv_vertex* vert, const char* tabs);
/// Group info, type/mat/flags, every vertex of va and the index array; nothing
/// for an unusable primitive.
VANTREL_API void dump_base_primitive(FILE* f, base_primitive* p, const char* tabs);

}  // namespace vantrel
/// @}
