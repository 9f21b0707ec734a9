/// @file
/// The interface of a 3D scene/object file that yields meshes, models,
/// animations and lights by index or by name. A foreign-format reader
/// implements it; the media loader uses it.
/// @ingroup mediaman
#pragma once
/// @addtogroup mediaman
/// @{

#include <cstdio>

#include "kdbase/cfile.h"
#include "kdbase/d_list.h"
#include "kdbase/unknown.h"

namespace vantrel {

class mesh_t;
class model_t;
class CSAnimation;

/// A light of a scene file. Lights carry nothing yet.
class VANTREL_API light_t {};

/// A scene file of meshes, models, animations and lights, read by a format of its own.
class VANTREL_API object3dfile : public CFile, public unknown {
public:
    ~object3dfile() override;

    /// Opens the file; 0 or -1.
    virtual int open(const char* filename) = 0;
    ///@{
    /// Append to the list every object whose name matches name (the matching
    /// rule is the implementation's); meshes bring their materials along.
    /// 0 or -1. The caller owns what was appended.
    virtual int read_mesh_l(const char* name, d_list* meshes, d_list* materials) = 0;
    virtual int read_model_l(const char* name, d_list* models) = 0;
    virtual int read_CSAnimation_l(const char* name, d_list* animations) = 0;
    virtual int read_light_t_l(const char* name, d_list* lights) = 0;
    ///@}
    ///@{
    /// Fill one caller-supplied object from the index-th one of the file
    /// (the meaning of the index is the implementation's). 0 or -1.
    virtual int read_mesh(unsigned int index, mesh_t* mesh, d_list* materials) = 0;
    virtual int read_model(unsigned int index, model_t* model) = 0;
    virtual int read_CSAnimation(unsigned int index, CSAnimation* animation) = 0;
    virtual int read_light_t(unsigned int index, light_t* light) = 0;
    ///@}
    ///@{
    /// A statistic of the file read so far (which one is the implementation's).
    virtual int get_stat(int which) = 0;
    virtual void dump_stats(FILE* out, const char* tabs) = 0;
    ///@}
};

}  // namespace vantrel
/// @}
