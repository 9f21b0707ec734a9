// Pixel conversion without vector instructions: the build uses this file on
// processors other than x86-64, where the portable loops do all the work.
#include "image/image_local.h"

namespace vantrel {

wide_kernel choose_wide_kernel(int, int, wide_plan&)
{
    return nullptr;
}

}  // namespace vantrel
