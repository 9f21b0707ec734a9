/// @file
/// The renderer module: loads the render library named in "bin/rlib.link",
/// publishes itself ("morvane") and its script functions in the shared scope,
/// runs the start-up script "bin/morvane.ds" that creates the cameras, and
/// frames every active camera once per pass of the cycle engine.
/// @ingroup morvane
#pragma once
/// @addtogroup morvane
/// @{

#include "engine/cycle_engine.h"
#include "morvane/camera.h"
#include "morvane/rlib.h"

namespace vantrel {

class level_t;

/// The renderer module. It owns its cameras, its lights and the loaded
/// render library; not the level it draws.
class VANTREL_API morvane_t : public ce_base_module {
public:
    ///@{
    /// Display settings for the render library to read; 0 after construction.
    int bpp, width, height, b_fullscreen;
    ///@}
    camera_t** cams;  ///< cam_count slots (null: empty); the array and cameras are owned
    /// Slots in cams.
    int cam_count;
    /// The render library loaded by init; released by cleanup.
    rlib_info_t rlib;
    d_list lights;    ///< of light_t, owned: the lights the scripts created ("create_light")
    level_t* level;   ///< the level set_world gave the cameras; not owned

    morvane_t();
    ~morvane_t() override;

    /// Name "morvane", the structure emptied, everything 0 and null, then
    /// make_visible().
    void _reset();
    /// Publishes "bpp", "width", "height", "b_fullscreen".
    void make_visible();

    /// With the shared block given by add_module: publishes the script
    /// functions and the module in the shared scope, loads the library named on
    /// the first line of "bin/rlib.link" (a path without '/' is taken relative
    /// to the current directory), calls its "add_script_funcs" and "init", runs
    /// "bin/morvane.ds" and starts the cameras. 0, or -1 after the failing
    /// step's message; what was done stays (cleanup undoes it).
    int init() override;
    /// start() of every camera. 0.
    int start();
    /// Frames each active camera in slot order (push_state, setup_frame,
    /// render_frame, pop_state), then "swap_buffers" and "clear_buffers".
    /// 0; -1 (logged, nothing presented) for a missing array or camera.
    int execute() override;
    /// Deletes the cameras and the array, takes the lights out of the level
    /// (so the module must go before its level, or set_world(nullptr) first),
    /// deletes them; then, with a library loaded, calls its "release" and
    /// unloads it. Safe to call twice.
    void cleanup() override;

    /// Replaces the camera array by n empty slots, deleting the old cameras.
    /// 0; -1 for n < 0 or a failed allocation (the old array then stays).
    int make_cams_array(int n);
    /// Points every camera (cam3d_t) at _level and moves the module's lights
    /// from the previous level's light list to the end of _level's (null:
    /// only taken out). Cameras created later are not pointed at it.
    void set_world(level_t* _level);
    /// The module behind the structure scripts see it as.
    static morvane_t* of(r_struct* s) { return static_cast<morvane_t*>(static_cast<script_var*>(s)); }

private:
    r_var vars[4];
};

/// "make_cams_array" (i=Si), "get_camera" (i=SiS), "cam_load_config" (i=Ss),
/// "create_cam3d" (i=Si), "add_rmode" (i=S), "get_rmode" (i=SiS), then
/// "create_light" (i=SV: a new light_t owned by the module, added to the
/// level's lights when set_world runs; its structure is stored into the
/// variable), in this order. 0, or -1 at the first failed add (no message).
VANTREL_API int morvane_add_funcs(r_struct& rs);

}  // namespace vantrel
/// @}
