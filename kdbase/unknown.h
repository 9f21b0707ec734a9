// The root class of every object that is listed, named or deleted through a
// base pointer.
#pragma once

#include "platform/export.h"

namespace vantrel {

class VANTREL_API unknown {
public:
    virtual ~unknown();
    // Sets the object up; 0 on success, -1 on failure.
    virtual int init();
    virtual void cleanup();
};

}  // namespace vantrel
