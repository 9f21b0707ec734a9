/// @file
/// Portals (convex openings between two empty leaves of a solid BSP tree) and
/// the potentially visible sets found by following chains of portals, each step
/// narrowed by the anti-penumbra (separating) planes of the last two portals.
///
/// Leaf numbers are node numbers in the tree's node table, kept in lists as
/// list data through intptr_t. Failures are logged once where detected and
/// reported as -1 (or false / null).
/// @ingroup world
#pragma once
/// @addtogroup world
/// @{

#include <cstdio>

#include "kdbase/d_list.h"
#include "primitives/n_poly.h"
#include "world/solid_bsp.h"

namespace vantrel {

/// A convex opening between two empty leaves: a polygon on a node's plane
/// with the leaf numbers on its sides.
class VANTREL_API bsp_portal_t : public n_poly {
public:
    d_list leafs;  ///< the leaves on the portal's sides (two when finished), not owned

    /// No vertices, no leaves, owns its arrays.
    bsp_portal_t();

    /// The vertices of _portal in order, its normal, and a copy of its leaves. 0 / -1.
    int copy(bsp_portal_t* _portal);
    /// True when both portals have exactly two leaves and join the same two
    /// (either order). A portal without two leaves is logged, false.
    bool are_similar(bsp_portal_t* _portal);
    /// A square on node's plane covering the node's bounding box. 0 / -1.
    int calculate(bsp_index_t* _node);
    /// Cuts this portal down the tree from _node: fragments that reach empty
    /// leaves are appended (as new portals carrying the leaves reached) to
    /// _fragments, which should own its elements. 0, -1 on error, -2 when the
    /// portal fell into solid space. This portal keeps its vertices and leaves.
    int clip(bsp_index_t** _i_nodes, int _node, d_list* _fragments);
};

/// True when another portal of the list joins both of _p's leaves and _p's
/// bounding-box diagonal is not larger than its (equal within 0.0001 counts).
VANTREL_API bool found_bigger_portal(d_list* _portals, bsp_portal_t* _p);
/// Destroys every portal of the list that does not have exactly two leaves or
/// for which found_bigger_portal holds (all judged on the list as it was).
/// Returns the number removed, or -1. The list must own its portals.
VANTREL_API int remove_invalid_portals(d_list* _portals);
/// Appends (not owned) every portal of _portals that touches _leaf to
/// _leaf_portals: 0 when it found one, -1 when none (silently) or on failure.
VANTREL_API int get_leaf_portals(int _leaf, d_list* _portals, d_list* _leaf_portals);
/// The side of _plane's plane on which the centre of the leaf's box lies
/// (PL_* code; 0 for bad arguments).
VANTREL_API int get_leaf_loc(bsp_index_t* _leaf, n_poly* _plane);
/// The anti-penumbra planes of two portals (one-vertex polygons), appended to
/// _ap_planes, which then owns them (it should own its elements). 0 / -1.
VANTREL_API int _create_AP_planes(bsp_portal_t* _src_p, bsp_portal_t* _target_p, d_list* _ap_planes);
/// Narrows the generator portal to the part visible through source and target:
/// false when nothing of it is visible through them.
VANTREL_API bool clip_gen_portal_to_AP(bsp_portal_t* _gen_p, bsp_portal_t* _src_p, bsp_portal_t* _target_p,
                                       bsp_portal_t* _gen_p_clipped);
/// Follows the chain of portals from _src_leaf through _src_portal and
/// _target_portal, adding the leaves reached to _src_leaf's visible set. 0 / -1.
VANTREL_API int build_leaf_portal_pvs(bsp_index_t** _i_nodes, int _src_leaf, bsp_portal_t* _src_portal,
                                      int _target_leaf, bsp_portal_t* _target_portal, d_list* _tree_portals);

///@{
/// Printers.
VANTREL_API void dump_portal(FILE* _f, bsp_portal_t* _p, const char* _tabs, bool with_leaves);
VANTREL_API void dump_portal_list(FILE* f, d_list* portals, const char* tabs, bool with_leaves);
///@}

}  // namespace vantrel
/// @}
