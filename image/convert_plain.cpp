// Pixel conversion without vector instructions: the build uses this file on
// processors other than x86-64, where the portable loops do all the work.
#include "image/image_local.h"

namespace vantrel {

int convert_pixels_wide(const unsigned char*, int, unsigned char*, int, int, const channel_move*, int)
{
    return 0;
}

}  // namespace vantrel
