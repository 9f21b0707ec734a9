#include "morvane/morvane.h"

#include <cstring>
#include <initializer_list>

#include "base_script/dot_script.h"
#include "base_script/script_func.h"
#include "kdbase/mem_collector.h"
#include "morvane/light.h"
#include "morvane/morvane_local.h"
#include "platform/platform.h"
#include "world/level.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

const char rlib_link_file[] = "bin/rlib.link";
const char startup_script[] = "bin/morvane.ds";

// Reads the library path from the first line of the link file into path
// (RLIB_PATH_LEN bytes), without its line end. 0, or -1 (logged).
int read_rlib_link(char* path)
{
    FILE* f = fopen(rlib_link_file, "rb");
    if (!f) {
        ELOG(EL_MAJOR, "Unable to open %s", rlib_link_file);
        return -1;
    }
    char line[RLIB_PATH_LEN];
    bool ok = read_line(line, sizeof line, f) != nullptr;
    fclose(f);
    if (!ok) {
        ELOG(EL_MAJOR, "%s holds no library path", rlib_link_file);
        return -1;
    }
    line[strcspn(line, "\r\n")] = 0;
    // A bare file name is meant relative to the current directory, not
    // searched for along the system's library paths.
    const char* prefix = strchr(line, '/') ? "" : "./";
    if (strlen(prefix) + strlen(line) >= (size_t)RLIB_PATH_LEN) {
        ELOG(EL_MAJOR, "%s: the library path is too long", rlib_link_file);
        return -1;
    }
    strcpy(path, prefix);
    strcat(path, line);
    return 0;
}

}  // namespace

morvane_t::morvane_t() : lights(1), level(nullptr)
{
    _reset();
}

morvane_t::~morvane_t()
{
    cleanup();
}

void morvane_t::_reset()
{
    snprintf(name, sizeof name, "morvane");
    empty();
    bpp = width = height = b_fullscreen = 0;
    cams = nullptr;
    cam_count = 0;
    rlib = rlib_info_t();
    make_visible();
}

void morvane_t::make_visible()
{
    stride = (int)sizeof(morvane_t);
    publish(this, vars[0], "bpp", &bpp, r_int, 1);
    publish(this, vars[1], "width", &width, r_int, 1);
    publish(this, vars[2], "height", &height, r_int, 1);
    publish(this, vars[3], "b_fullscreen", &b_fullscreen, r_int, 1);
}

int morvane_t::init()
{
    CHECK_PTR_NAMED(shared, "_shared", -1);
    r_struct* scope = ce_globals(shared);
    if (scope && morvane_add_funcs(*scope) != 0) {
        ELOG(EL_MAJOR, "unable to add morvane script functions");
        return -1;
    }
    if (!scope || scope->add(static_cast<r_var*>(this)) != 0) {
        ELOG(EL_MAJOR, "unable to export morvane to globals");
        return -1;
    }
    char path[RLIB_PATH_LEN];
    if (read_rlib_link(path) != 0 || load_rlib(path, &r_imports, &rlib) != 0)
        return -1;
    if (r_imports.add_script_funcs(scope) == -1) {
        ELOG(EL_MAJOR, "%s: add_script_funcs failed", rlib.path);
        return -1;
    }
    if (r_imports.init(this) == -1) {
        ELOG(EL_MAJOR, "%s: init failed", rlib.path);
        return -1;
    }
    dot_script* script = ce_script(shared);
    CHECK_PTR_NAMED(script, "shared[1]", -1);
    if (script->process(startup_script) != 0)
        return -1;
    return start();
}

int morvane_t::start()
{
    for (int i = 0; i < cam_count; ++i)
        if (cams[i])
            cams[i]->start();
    return 0;
}

int morvane_t::execute()
{
    CHECK_PTR(cams, -1);
    CHECK_PTR_NAMED(r_imports.swap_buffers, "r_imports.swap_buffers", -1);
    for (int c = 0; c < cam_count; ++c) {
        camera_t* cam = cams[c];
        if (!cam) {
            ELOG(EL_MINDEBUG, "invalid pointer: cams[%d]=%" PRIxPTR, c, (uintptr_t)0);
            return -1;
        }
        if (!cam->is_active())
            continue;
        cam->start_stats(get_milli_uptime());
        int token = 0;
        r_imports.push_state(&token);
        cam->setup_frame();
        cam->render_frame();
        r_imports.pop_state(token);
    }
    r_imports.swap_buffers(this);
    r_imports.clear_buffers(0);
    return 0;
}

void morvane_t::cleanup()
{
    for (int i = 0; cams && i < cam_count; ++i)
        delete cams[i];
    delete[] cams;
    cams = nullptr;
    cam_count = 0;
    set_world(nullptr);
    lights.delete_nodes();
    if (rlib.handle && r_imports.release)
        r_imports.release(this);
    if (rlib.handle)
        free_rlib(&rlib, &r_imports);
}

int morvane_t::make_cams_array(int n)
{
    if (n < 0) {
        ELOG(EL_MINDEBUG, "make_cams_array(): invalid count %d", n);
        return -1;
    }
    camera_t** a = KD_NEW camera_t*[n > 0 ? n : 1]();
    if (!a)
        return -1;
    for (int i = 0; cams && i < cam_count; ++i)
        delete cams[i];
    delete[] cams;
    cams = a;
    cam_count = n;
    return 0;
}

void morvane_t::set_world(level_t* _level)
{
    for (int i = 0; cams && i < cam_count; ++i)
        if (auto* cam = dynamic_cast<cam3d_t*>(cams[i]))
            cam->world = _level;
    for (d_node* n = lights.first; n; n = n->next) {
        if (level)
            level->lights.remove(n->object);
        if (_level)
            _level->lights.insert(n->object);
    }
    level = _level;
}

// ---- script functions -----------------------------------------------------------

namespace {

// The slot _index of the module's array, or null (logged).
camera_t** slot_of(morvane_t* mrv, int _index)
{
    CHECK_PTR(mrv->cams, nullptr);
    if (_index < 0 || _index >= mrv->cam_count) {
        ELOG(EL_MINDEBUG, "invalid pointer: mrv->cams[%d]=%" PRIxPTR, _index, (uintptr_t)0);
        return nullptr;
    }
    return &mrv->cams[_index];
}

int make_cams_array(r_struct* _mrv, int n)
{
    CHECK_PTR_NAMED(_mrv, "mrv", -1);
    return morvane_t::of(_mrv)->make_cams_array(n);
}

int get_camera(r_struct* _mrv, int _index, r_struct* _out)
{
    CHECK_PTR_NAMED(_mrv, "mrv", -1);
    CHECK_PTR_NAMED(_out, "cam", -1);
    camera_t** slot = slot_of(morvane_t::of(_mrv), _index);
    if (!slot)
        return -1;
    *reinterpret_cast<r_struct**>(_out) = *slot ? (*slot)->as_struct() : nullptr;
    return 0;
}

int cam_load_config(r_struct* _cam, char* _configfile)
{
    CHECK_PTR(_cam, -1);
    CHECK_PTR(_configfile, -1);
    return camera_t::of(_cam)->load_config(_configfile);
}

int create_cam3d(r_struct* _mrv, int _index)
{
    CHECK_PTR_NAMED(_mrv, "mrv", -1);
    camera_t** slot = slot_of(morvane_t::of(_mrv), _index);
    if (!slot)
        return -1;
    cam3d_t* cam = KD_NEW cam3d_t;
    if (!cam)
        return -1;
    char cam_name[32];
    snprintf(cam_name, sizeof cam_name, "cam%d", _index);
    cam->s_token::set_name(cam_name);
    cam->make_visible();
    delete *slot;
    *slot = cam;
    return 0;
}

// The cam3d_t behind a camera structure, or null (logged).
cam3d_t* cam3d_of(r_struct* _cam)
{
    CHECK_PTR(_cam, nullptr);
    cam3d_t* cam = dynamic_cast<cam3d_t*>(camera_t::of(_cam));
    CHECK_PTR_NAMED(cam, "_cam", nullptr);
    return cam;
}

int add_rmode(r_struct* _cam)
{
    cam3d_t* cam = cam3d_of(_cam);
    if (!cam)
        return -1;
    rmode_t* _rmode = cam->rmode_count < RMODE_MAX ? &cam->rmodes[cam->rmode_count] : nullptr;
    CHECK_PTR(_rmode, -1);
    _rmode->make_visible();
    ++cam->rmode_count;
    return 0;
}

int get_rmode(r_struct* _cam, int _index, r_struct* _out)
{
    cam3d_t* cam = cam3d_of(_cam);
    if (!cam)
        return -1;
    rmode_t* _rmode = _index >= 0 && _index < RMODE_MAX && _out ? &cam->rmodes[_index] : nullptr;
    CHECK_PTR(_rmode, -1);
    *reinterpret_cast<r_struct**>(_out) = _rmode;
    return 0;
}

int create_light(r_struct* _mrv, r_var* _var)
{
    CHECK_PTR_NAMED(_mrv, "mrv", -1);
    if (!_var) {
        ELOG(EL_MAJOR, "create_light(): invalid parameters");
        return -1;
    }
    morvane_t* mrv = morvane_t::of(_mrv);
    light_t* l = KD_NEW light_t;
    if (!l || mrv->lights.insert(static_cast<r_var*>(l)) != 0) {
        ELOG(EL_MAJOR, "create_light(): unable to create object");
        delete l;
        return -1;
    }
    if (mrv->level)
        mrv->level->lights.insert(static_cast<r_var*>(l));
    return _var->set(0, static_cast<r_struct*>(l));
}

script_func make_cams_array_f("make_cams_array", make_cams_array, "i=Si");
script_func get_camera_f("get_camera", get_camera, "i=SiS");
script_func cam_load_config_f("cam_load_config", cam_load_config, "i=Ss");
script_func create_cam3d_f("create_cam3d", create_cam3d, "i=Si");
script_func add_rmode_f("add_rmode", add_rmode, "i=S");
script_func get_rmode_f("get_rmode", get_rmode, "i=SiS");
script_func create_light_f("create_light", create_light, "i=SV");

}  // namespace

int morvane_add_funcs(r_struct& rs)
{
    for (script_func* f : {&make_cams_array_f, &get_camera_f, &cam_load_config_f, &create_cam3d_f, &add_rmode_f,
                           &get_rmode_f, &create_light_f})
        if (rs.add(f) != 0)
            return -1;
    return 0;
}

}  // namespace vantrel
