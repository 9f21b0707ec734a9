/// @file
/// The polygon list text format: polygons and meshes written by hand or by
/// tools, one item a line (at most 255 characters; longer lines are read in
/// pieces of that size, each taken as a line of its own):
///
///   [mesh]        start a mesh               [end mesh]  finish it
///   [poly]        start a polygon            [end poly]  finish it
///   v x y z       a vertex (current normal, texture (0, 0))
///   t u v         texture coordinates of the last vertex
///   N x y z       the normal of the following vertices
///   m n           the material number of the next polygon or mesh finished
///
/// Keywords are whole lines (with their line feed); numbers may be separated
/// by any of "=(, \\t", so "v=(1, 2, 3)" reads like "v 1 2 3". Other lines are
/// ignored. A polygon's normal comes from its vertex order. A finished polygon
/// is taken by the next mesh that ends; finishing a polygon or a mesh sets the
/// material number to -1.
/// @ingroup primitives
#pragma once
/// @addtogroup primitives
/// @{

#include <cstdio>

#include "kdbase/d_list.h"
#include "primitives/mesh.h"

namespace vantrel {

/// Reads the stream to its end. meshes (may be null) receives every mesh when
/// it starts; the caller owns them. polys (may be null) receives every
/// finished polygon: those of a mesh as pointers into the mesh's polygon array
/// (owned by the mesh: the list must not delete them), and at the end those
/// outside any mesh, which the caller owns. A mesh or polygon still open at a
/// new "[mesh]" (a polygon also at a new "[poly]") or at the end is discarded
/// and leaves the list it was put into (a polygon with the vertices read for
/// it). Without meshes, no mesh is made (a "[mesh]" still discards an open
/// polygon) and all polygons end up, owned, in polys.
/// 0, or -1 on a null stream or a failure (logged); what was read up to that
/// point stays in the caller's lists.
VANTREL_API int load_poly_list(FILE* f, d_list* polys, d_list* meshes);
/// Opens the file as text and reads it as above. -1 when it cannot be opened.
VANTREL_API int load_poly_list(const char* _filename, d_list* polys, d_list* meshes);

/// "+++[vertex list: %d vertices\\n", each position, "---end vertex list]\\n".
VANTREL_API void dump_vert_list(FILE* f, d_list* verts);

}  // namespace vantrel
/// @}
