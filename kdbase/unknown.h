/// @file
/// The root class of every object that is listed, named or deleted through a
/// base pointer.
/// @ingroup kdbase
#pragma once
/// @addtogroup kdbase
/// @{

#include "platform/export.h"

namespace vantrel {

/// The root of the objects that lists hold and delete through a virtual destructor.
class VANTREL_API unknown {
public:
    virtual ~unknown();
    ///@{
    /// Sets the object up; 0 on success, -1 on failure.
    virtual int init();
    /// Releases what init set up.
    virtual void cleanup();
    ///@}
};

}  // namespace vantrel
/// @}
