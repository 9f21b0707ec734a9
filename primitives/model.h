/// @file
/// Models: named nodes of a scene holding meshes, child models, a transform
/// and an optional skin (the material list their material numbers index).
/// @ingroup primitives
#pragma once
/// @addtogroup primitives
/// @{

#include <cstdio>

#include "kdbase/group.h"
#include "primitives/mesh.h"

namespace vantrel {

class material_t;

/// A model owns its children, and its meshes (and their arrays) unless it
/// shares them with the model it copied (see copy); it does not own its skin,
/// whose materials are released with delete_skin_mats.
class VANTREL_API model_t : public group_t {
public:
    model_t** children;  ///< nchildren entries, null entries allowed
    mesh_t** meshes;     ///< nmeshes entries, null entries allowed
    int32_t nchildren;  ///< entries of children
    int32_t nmeshes;  ///< entries of meshes
    float matrix[16];    ///< the model's transform (row vectors); starts as identity
    material_t** skin;   ///< null-terminated, or null; not owned

    model_t();
    ~model_t() override;
    model_t(const model_t&) = delete;
    model_t& operator=(const model_t&) = delete;

    /// Destroys the children and frees their array; destroys the meshes and
    /// frees their array when this model owns them, else only lets go of the
    /// shared ones. Pointers null, counts 0; the model then owns what is put
    /// into meshes next.
    void delete_meshes();
    /// delete_meshes, then an array of n null mesh pointers for the caller to
    /// fill (n = 0 gives an empty array, and a usable model). -1 when n < 0 or
    /// the array cannot be allocated.
    int alloc_meshes(int n);
    /// Bounds of every vertex of this model's meshes (children not visited),
    /// each moved by its mesh's matrix. 0 / -1.
    int get_bbox(float* _min_v, float* _max_v);
    /// Takes _m's name and parent and shares its meshes and skin, and copies
    /// its matrix. The meshes this model held are released only when it owned
    /// them. The shared meshes stay _m's: this model never frees them (not in
    /// delete_meshes, a later copy or its destructor), so it must not outlive
    /// their owner. Null _m: -1.
    int copy(model_t* _m);
    /// copy, then _m gives up its meshes and skin to this model, which then
    /// owns the meshes if _m owned them. Null _m: -1.
    int replace(model_t* _m);
    /// False while the meshes are shared from another model (after copy).
    bool owns_meshes() const { return !meshes || meshes != shared_meshes; }
    ///@{
    /// Pushes m (null: this model's matrix) down into the meshes: each mesh's
    /// matrix becomes its old matrix followed by m; the child models are
    /// visited with the same m; m then becomes the identity. A child visit
    /// resets m too, so children after the first receive the identity.
    void apply_matrix_to_children(float* m);
    void dump(FILE* _f, const char* _tabs) override;
    ///@}

private:
    /// The array copy took from another model: not ours to free. Any other
    /// array in meshes (one alloc_meshes made, or one a loader put there) is.
    mesh_t** shared_meshes;
};

/// A model whose mesh array exists.
inline bool valid_model(const model_t* m)
{
    return m && m->meshes;
}
/// valid_model(m).
#define VALID_MODEL(m) vantrel::valid_model(m)

}  // namespace vantrel
/// @}
