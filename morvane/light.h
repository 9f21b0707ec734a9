/// @file
/// Lights: script structures the render library reads by field name when the
/// camera hands one to "set_light" each frame. A level's light list
/// (level_t::lights) holds them; start-up scripts and configuration files
/// create them ("create_light", morvane/morvane.h) and set their fields.
/// @ingroup morvane
#pragma once
/// @addtogroup morvane
/// @{

#include "base_script/script_var.h"

namespace vantrel {

/// A light the render library sets up each frame, read by field name.
class VANTREL_API light_t : public script_var {
public:
    float pos[4];          ///< w = 0: a directional light from that direction
    /// RGBA; white after construction.
    float color[4];
    float attenuation[3];  ///< constant, linear, quadratic
    /// Non-zero: the light is on.
    int enabled;

    /// A white directional light from +z, no attenuation, enabled; publishes
    /// "pos", "color", "attenuation", "enabled".
    light_t();
    /// Empties the structure and publishes the four fields again.
    void make_visible();

private:
    r_var vars[4];
};

}  // namespace vantrel
/// @}
