// vantrel-view: a window onto a level to fly through with the keyboard.
//   vantrel-view [LEVEL] [-size W H]
// Arrows or W/S/A/D move and turn, Q/E rise and sink, Esc or closing the
// window quits. Needs a display; vantrel-demo draws without one.
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "tools/demo_host.h"

int main(int argc, char** argv)
{
    std::string level = std::string(VANTREL_DATA_DIR) + "/levels/arena.txt";
    int width = 800, height = 600;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "-size") && i + 2 < argc)
            width = atoi(argv[i + 1]), height = atoi(argv[i + 2]), i += 2;
        else if (argv[i][0] != '-')
            level = argv[i];
        else {
            fprintf(stderr, "usage: vantrel-view [LEVEL] [-size W H]\n");
            return 2;
        }
    }
    std::error_code ec;
    const std::string dir = (std::filesystem::temp_directory_path(ec) / "vantrel-view").string();
    level = vantrel_demo::absolute(level);  // the host works in a folder of its own
    vantrel_demo::demo_host host;
    if (!host.start(dir, std::string(VANTREL_RLIB_DIR) + "/rlib_gl.so",
                    std::string(VANTREL_DATA_DIR) + "/demo/view.ds", level, width, height))
        return 1;
    vantrel_demo::camera_path path;
    if (!path.load(level) && !path.spin_in(&host.level)) {
        fprintf(stderr, "vantrel-view: no open space to put the camera in\n");
        return 1;
    }
    vantrel_demo::pose_t pose = path.at(0);
    printf("arrows or WASD: move and turn, Q/E: up and down, Esc: quit\n");
    unsigned last = vantrel::get_milli_uptime();
    const int first = host.setting("gl_frame", 0);
    while (!host.setting("gl_quit", 0) && !vantrel::platform_key_state(0x1B)) {
        const unsigned now = vantrel::get_milli_uptime();
        const float dt = (float)(now - last) / 1000.0f, step = 4.0f * dt, turn = 90.0f * dt;
        last = now;
        auto down = [](int a, int b) { return vantrel::platform_key_state(a) || vantrel::platform_key_state(b); };
        const float r = pose.yaw * 3.14159265f / 180.0f, fx = -std::sin(r), fz = -std::cos(r);
        const float ahead = (down('W', 0x26) ? step : 0) - (down('S', 0x28) ? step : 0);
        pose.yaw += (down('A', 0x25) ? turn : 0) - (down('D', 0x27) ? turn : 0);
        pose.pos[0] += fx * ahead;
        pose.pos[2] += fz * ahead;
        pose.pos[1] += (vantrel::platform_key_state('Q') ? step : 0) - (vantrel::platform_key_state('E') ? step : 0);
        host.frame(pose);
        if (host.setting("gl_frame", 0) == first) {
            fprintf(stderr, "vantrel-view: no window could be opened (see the log in %s)\n", dir.c_str());
            return 1;
        }
    }
    return 0;
}
