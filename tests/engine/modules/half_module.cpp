// A module library without its destroy function: it must not load.
#include "engine/cycle_engine.h"

using namespace vantrel;

extern "C" VANTREL_EXPORT ce_base_module* create_half_module(uintptr_t* shared)
{
    (void)shared;
    return new ce_base_module;
}
