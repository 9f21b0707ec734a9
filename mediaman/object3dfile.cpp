#include "mediaman/object3dfile.h"

#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

object3dfile::~object3dfile() = default;

}  // namespace vantrel
