#include "kdbase/unknown.h"

#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

unknown::~unknown() = default;

int unknown::init()
{
    return 0;
}

void unknown::cleanup() {}

}  // namespace vantrel
