#include "morvane/light.h"

#include "kdbase/mem_collector.h"
#include "morvane/morvane_local.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

light_t::light_t() : pos{0, 0, 1, 0}, color{1, 1, 1, 1}, attenuation{1, 0, 0}, enabled(1)
{
    make_visible();
}

void light_t::make_visible()
{
    empty();
    stride = (int)sizeof(light_t);
    publish(this, vars[0], "pos", pos, r_float, 4);
    publish(this, vars[1], "color", color, r_float, 4);
    publish(this, vars[2], "attenuation", attenuation, r_float, 3);
    publish(this, vars[3], "enabled", &enabled, r_int, 1);
}

}  // namespace vantrel
