/// @file
/// The CDS chunk types of geometry and surfaces: "TEXT" (a named byte buffer),
/// "MESH" (a mesh_t), "MODL" (a model_t with its meshes), "MATL" (a material_t
/// with its shaders) and "SHAD" (a colour or texture shader). The container
/// makes one reader of each type in init(); animation and BSP chunks live
/// elsewhere.
///
/// Every reader is called positioned behind its chunk's header, reads nothing
/// beyond the chunk's payload (each count is checked against the bytes left
/// before it sizes anything), and either appends one complete object to its
/// objects list and returns 0, or deletes what it built and returns -1 after
/// logging once. A short read throws the int -1 out of the reader with the
/// object already deleted. Writers write one complete chunk and return 0, or
/// -1 before writing anything for an object they cannot store.
/// @ingroup mediaman
#pragma once
/// @addtogroup mediaman
/// @{

#include "mediaman/cds/chunk_io.h"

namespace vantrel {

/// "TEXT": a buffer_t named by the chunk id holding the payload's bytes,
/// attached to the current group.
class VANTREL_API chunk_text : public chunk_io {
public:
    chunk_text();
    /// -1 with "%s: unable to allocate object" or "%s: unable to add to objects list".
    int read(cds& c, chunk_header& h) override;
    /// o must be a buffer_t (else the invalid-pointer message naming buf).
    int write(cds& c, groupable_t* o) override;
};

/// "MESH": a mesh_t named by the chunk id, attached to the current group, in
/// the shared-vertex form: the mesh owns va and vi, each polygon points at the
/// mesh's va and at its slice of vi.
class VANTREL_API chunk_mesh : public chunk_io {
public:
    chunk_mesh();
    /// -1 for counts that do not fit the payload, fewer than one vertex, a
    /// polygon index outside the vertex array, polygons with more corners
    /// than the mesh declares, or a failed allocation.
    int read(cds& c, chunk_header& h) override;
    /// o must be a mesh_t with vertices and at least one polygon, every
    /// polygon indexing the mesh's own vertex array ("%s: invalid mesh type"
    /// otherwise). The stored index count is the sum of the polygons' corners.
    int write(cds& c, groupable_t* o) override;
};

/// "MODL": a model_t named by the chunk id with its matrix and meshes (each
/// mesh's parent is the model). Children and the skin are not stored. The
/// model is not attached to a group; its meshes are not listed by the
/// container's "MESH" reader.
class VANTREL_API chunk_modl : public chunk_io {
public:
    chunk_modl();
    /// -1 on a mesh count that does not fit, an embedded chunk that is not a
    /// "MESH" ("found an invalid sub-chunk in chunk %s"), or a failing mesh.
    int read(cds& c, chunk_header& h) override;
    /// o must be a model_t with a mesh array ("invalid parameters"); null
    /// entries of the array are left out.
    int write(cds& c, groupable_t* o) override;
};

/// "MATL": a material_t with its flags and shaders (owned by its list). The
/// material reads back unnamed and is not attached to a group.
class VANTREL_API chunk_matl : public chunk_io {
public:
    chunk_matl();
    /// -1 on a shader count that does not fit, an embedded chunk that is not a
    /// "SHAD" ("found in invalid sub-chunk in MATL chunk"), or a failing shader.
    int read(cds& c, chunk_header& h) override;
    /// o must be a material_t (else the invalid-pointer message naming mat)
    /// whose shaders can all be written.
    int write(cds& c, groupable_t* o) override;
};

/// "SHAD": a color_shader_t (kind 1) or tex_shader_t (kind 2), unnamed and
/// without a group. A texture shader's texture is named by the stored path;
/// its image is not loaded here.
class VANTREL_API chunk_shad : public chunk_io {
public:
    chunk_shad();
    /// -1 with "unsupported shader type: %d" for another kind, or for a path
    /// without its end within 260 bytes.
    int read(cds& c, chunk_header& h) override;
    /// o must be a color_shader_t or tex_shader_t ("invalid shader type"); a
    /// texture shader needs a texture name of at most 259 characters.
    int write(cds& c, groupable_t* o) override;
};

// Creators for the container's type table: a new reader (the caller owns
// it), or null when it cannot be allocated.
/// A new "TEXT" reader, or null.
VANTREL_API chunk_io* create_text();
/// A new "MESH" reader, or null.
VANTREL_API chunk_io* create_mesh();
/// A new "MODL" reader, or null.
VANTREL_API chunk_io* create_modl();
/// A new "MATL" reader, or null.
VANTREL_API chunk_io* create_matl();
/// A new "SHAD" reader, or null.
VANTREL_API chunk_io* create_shad();

}  // namespace vantrel
/// @}
