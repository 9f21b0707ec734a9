/// @file
/// The CDS chunk type of level trees: "BSPT", a solid_bsp_t with its node
/// table, leaf mesh numbers and visible sets. The container makes one reader
/// in init().
///
/// Payload (32-bit little-endian integers and floats): the statistics npolys,
/// nnodes, nmeshes, ni_nodes, solid, empty, nfront, nback, balance (ndiscarded
/// is not stored), then ni_nodes node records in node-table order (entry 0 is
/// the root): flags (BN_ISLEAF, BN_ISSOLID and the node's other bits, without
/// the in-memory PRIM_OWNS_ARRAYS), for an internal node its plane point and
/// normal (3 floats each), the bounding box min and max (3 floats each), front,
/// back, the mesh count and mesh numbers, the visible count and leaf numbers.
///
/// The mesh table is not stored: a tree read back has none (its meshes are
/// null, stats.nmeshes as stored) until the level loader supplies it from the
/// container's "MESH" chunks (mediaman_t::read_level). The skin is not stored.
///
/// Point location uses only each internal node's plane point and normal,
/// which are stored exactly, so a tree read back places every point in the
/// same leaf as the tree that was written.
/// @ingroup mediaman
#pragma once
/// @addtogroup mediaman
/// @{

#include <cstdint>

#include "mediaman/cds/chunk_io.h"

namespace vantrel {

/// "BSPT": a solid_bsp_t named by the chunk id, attached to the current group.
class VANTREL_API chunk_bspt : public chunk_io {
public:
    chunk_bspt();
    /// Reads the statistics and the nodes. -1 ("%s: unable to read i_node %d"
    /// after the reason) for a node count below 1 or counts that do not fit the
    /// payload, a negative mesh number, a child number outside the node table
    /// (or 0, the root), a node that is the child of two nodes, an internal
    /// node without both children, or a visible leaf number outside the table
    /// or naming a node that is not a leaf. Duplicate visible leaf numbers
    /// are stored once; so is none for leaf 0 (a root that is a leaf: a list
    /// cannot hold the number 0). The partial tree is deleted.
    int read(cds& c, chunk_header& h) override;
    /// o must be a solid_bsp_t (else the invalid-pointer message naming
    /// _object) with a node table of stats.ni_nodes entries (at least one),
    /// every internal node holding its plane.
    int write(cds& c, groupable_t* o) override;
};

/// Creator for the container's type table: a new "BSPT" reader (the caller
/// owns it), or null when it cannot be allocated.
VANTREL_API chunk_io* create_bspt();

/// Entries of a -1-terminated array before the -1; 0 for null.
VANTREL_API int get_int_a_count(const int32_t* a);

}  // namespace vantrel
/// @}
