/// @file
/// Cameras: UI output views that are script objects with a viewport, a
/// projection, position and orientation tracers, distance-dependent render
/// modes and debug switches. The renderer module frames every active camera
/// once per pass (morvane/morvane.h).
/// @ingroup morvane
#pragma once
/// @addtogroup morvane
/// @{

#include <cstdint>
#include <cstdio>

#include "kdbase/d_list.h"
#include "morvane/tracer.h"
#include "primitives/material.h"
#include "ui/ui.h"

namespace vantrel {

class bbox_t;
class bsp_index_t;
class level_t;
class material_t;
class model_t;
class mesh_t;

/// The rectangle of the window a camera draws into, in pixels; handed to
/// "set_viewport" each frame.
class VANTREL_API viewport_t : public script_var {
public:
    ///@{
    /// Corner and size, as the render library takes them.
    int x = 0, y = 0, width = 0, height = 0;
    ///@}

    viewport_t();  ///< publishes "x", "y", "width", "height"
    /// Empties the structure and publishes the four fields again.
    void make_visible();

private:
    r_var vars[4];
};

/// Render modes a camera holds.
enum { RMODE_MAX = 32 };

/// A render mode, chosen by distance. The render library receives each mode
/// in use through "set_rmode_aset" and reads its text fields; it may also add
/// functions to run whenever the mode becomes current.
class VANTREL_API rmode_t : public script_var, public cacheable_t {
public:
    ///@{
    /// The distances [minz, maxz) at which set_rmode picks this mode.
    float minz = 0, maxz = 0;
    ///@}
    ///@{
    /// Switches for the render library (non-zero: on).
    int b_topdown_bitmaps = 0, b_lighting = 0;
    ///@}
    /// Ambient colour (RGBA) for the render library.
    float ambient_c[4] = {0, 0, 0, 0};
    d_list funcs{1};  ///< of va_func, owned: run by exec()

    /// Unpublished until make_visible (add_rmode publishes the next free mode).
    rmode_t() = default;
    /// Publishes "minz", "maxz", "b_topdown_bitmaps", "b_lighting",
    /// "polymode", "shademodel", "tex_quality", "ambient_c",
    /// "lighting_quality" (the text fields are owned by their variables).
    void make_visible();
    /// Calls each function of funcs in order.
    void exec();
    ///@{
    /// The text fields the scripts set, for the render library; null while unset.
    const char* polymode() { return text(polymode_v); }
    const char* shademodel() { return text(shademodel_v); }
    const char* tex_quality() { return text(tex_quality_v); }
    const char* lighting_quality() { return text(lighting_quality_v); }
    ///@}

private:
    r_var vars[5];
    r_var polymode_v, shademodel_v, tex_quality_v, lighting_quality_v;
    static const char* text(r_var& v) { return v.type == r_string ? v.str_value() : nullptr; }
};

/// The camera interface. Its structure publishes "viewp" (the viewport).
class VANTREL_API camera_t : public output_view_t, public script_var {
public:
    /// Where the camera draws; published as "viewp".
    viewport_t viewport;

    camera_t();
    /// Publishes "viewp" after emptying the structure.
    void make_visible();

    /// Prepares the camera once the start-up script has set it up. 0 / -1.
    virtual int start() = 0;
    ///@{
    /// Reads or writes the camera's settings in a file. 0 / -1.
    virtual int load_config(char* file) = 0;
    virtual int save_config(char* file) = 0;
    ///@}
    /// Sets viewport, projection, view matrix and lights for this camera's frame.
    virtual void setup_frame() = 0;
    /// Draws the frame set up by setup_frame.
    virtual void render_frame() = 0;
    /// Called before each frame with the time in ms: rolls the statistics over.
    virtual void start_stats(unsigned int now) = 0;
    /// Shows the statistics on screen.
    virtual void show_stats() = 0;
    /// Prints the statistics, each line starting with tabs.
    virtual void dump_stats(FILE* f, char* tabs) = 0;

    /// The structure scripts see the camera as.
    r_struct* as_struct() { return static_cast<script_var*>(this); }
    /// The camera behind a structure that as_struct gave out.
    static camera_t* of(r_struct* s) { return static_cast<camera_t*>(static_cast<script_var*>(s)); }

private:
    r_struct* viewport_s;
    r_var viewp_v;
};

/// Statistics: counters of the current second and their running averages.
enum { STAT_FRAMES, STAT_POLYS, STAT_MESHES, STAT_MODELS, STAT_RMODES, STAT_MATS, STAT_COUNT };
/// A camera's statistics.
struct _stats_t {
    unsigned int last = 0;  ///< time of the last roll-over, ms
    /// Counts of the current second, indexed by STAT_*.
    int counters[STAT_COUNT] = {};
    /// Running averages per second, indexed by STAT_*.
    int averages[STAT_COUNT] = {};
};

/// Transparent meshes a camera holds back per frame.
enum { TRANS_MESHES_MAX = 1024 };

/// What a camera keeps while drawing one frame; reset by setup_frame. Fixed
/// size, so that drawing allocates nothing.
struct _state_t {
    /// The material list in force: the level's for level meshes, a model's for its meshes.
    material_t** skin = nullptr;
    /// A transparent mesh held back, with what was in force when it was met:
    /// the skin and the whole chain of model matrices (parent times child).
    struct {
        model_t* model;  ///< null for a level mesh
        mesh_t* mesh;
        material_t** skin;
        float model_m[16];
    } deferred[TRANS_MESHES_MAX];
    /// Entries of deferred in use.
    int deferred_count = 0;
    /// The model being drawn; null for level meshes.
    model_t* cur_model = nullptr;
    /// The mesh being drawn.
    mesh_t* cur_mesh = nullptr;
    /// Index of the render mode in force; -1 after the reset.
    int cur_rmode = -1;
    /// Index of the material in force; -1 after the reset.
    int cur_mat = -1;
    float model_m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};  ///< the chain of models being drawn
    int leaves_drawn = 0;  ///< leaf visits this frame (a leaf in its own visible set counts twice)
};

/// The camera. Its tracers are its own; "view_m" holds the tracer stack the
/// view matrix is built with (empty after construction: scripts push onto it).
class VANTREL_API cam3d_t : public camera_t {
public:
    float fov = 0;  ///< vertical field of view, degrees
    ///@{
    /// Width over height, and the near and far clipping distances, for "set_perspective".
    float aspect = 0, clip_near = 0, clip_far = 0;
    ///@}
    /// A translation tracer; with wpos it gives the camera position set_rmode measures from.
    tr_trans_t lpos;
    tr_trans_t wpos;  ///< its vector is the camera's world position
    /// A matrix tracer; set_rmode looks along its negated third column
    /// (elements 2, 6, 10).
    tr_matrix_t orient;
    /// A follow tracer; in orientation mode its eye is written to wpos's vector.
    cam_follow_t follow;
    /// The view matrix and its tracer stack.
    traced_m_t view_m;
    ///@{
    /// Debug switches (non-zero: on): draw every drawn leaf's box, each mesh's
    /// axes, each polygon's normal.
    int d_draw_leafbbox = 0, d_draw_axes = 0, d_draw_normals = 0;
    ///@}
    /// Not published: draw every open leaf instead of the camera leaf's
    /// visible set, to measure what the visible sets save.
    bool d_all_leaves = false;
    /// The render modes; the first rmode_count are in use.
    rmode_t rmodes[RMODE_MAX];
    /// Render modes in use ("add_rmode" counts one in).
    int rmode_count = 0;
    level_t* world = nullptr;  ///< the level viewed; not owned
    /// The state of the frame being drawn.
    _state_t _state;
    /// The drawing statistics.
    _stats_t stats;

    /// Everything 0; the structure stays empty until make_visible.
    cam3d_t();
    /// Publishes "viewp", then "fov" .. "d_draw_normals".
    void make_visible();

    ///@{
    /// Nothing: the module frames active cameras itself.
    void activated() override {}
    void active() override {}
    void deactivated() override {}
    ///@}

    /// Hands every render mode in use to "set_rmode_aset", in order. 0.
    int start() override;
    ///@{
    /// Nothing here: 0.
    int load_config(char*) override { return 0; }
    int save_config(char*) override { return 0; }
    ///@}
    /// Resets the render state, makes render mode 0 current, sets viewport,
    /// perspective and the view matrix (identity changed by the tracer stack),
    /// then hands each light of the world's light list to "set_light".
    void setup_frame() override;
    /// The level seen from "wpos", the entities' models, then the transparent
    /// meshes held back; counts one frame. Without a world: logged, nothing drawn.
    void render_frame() override;

    /// The drawing steps of render_frame. Missing objects are logged at
    /// EL_MINDEBUG and skipped; nothing here allocates.
    void render_level();
    ///@{
    /// The leaf holding _pos_v and the leaves of its visible set; nothing of
    /// the level outside it or in solid space.
    void render_tree(float* _pos_v);
    void _render_leaf(bsp_index_t* _leaf);
    void _render_leaf_pvs(bsp_index_t* _leaf);
    ///@}
    /// The model of each entity (world/entity.h) of the world's ents.
    void render_entities(int flags);
    /// The model's meshes, then its children, under its matrix and skin.
    void render_model(model_t* _m, int flags);
    /// Draws the mesh, or holds it back when transparent and bit 0 of flags
    /// is clear. Beyond TRANS_MESHES_MAX held back a mesh is drawn at once
    /// (logged once per camera).
    void render_mesh(mesh_t* _m, int flags);
    /// The meshes held back, between "depth_mask" 0 and 1; the list empties.
    void render_trans_meshes(int flags);
    /// True (and the mesh held back) when a polygon's material is blended.
    bool is_trans_mesh(mesh_t* _m);
    /// Runs the shader functions of material index of the skin when the
    /// index differs from the current one.
    void set_material(unsigned index);
    /// Makes _skin the skin in force; the next material runs its shaders.
    void set_skin(material_t**& _skin);
    /// The first render mode whose distance range holds the mesh, when it
    /// lies ahead of the camera and differs from the current one.
    void set_rmode(mesh_t* _m);
    /// "%sleaves drawn: %d of %d\\n" for the last frame (leaf visits against
    /// the world's node count). Nothing for null arguments.
    void dump_frame(FILE* f, const char* tabs);
    /// At least 1000 ms after the last roll-over: each average becomes
    /// (counter + average) / 2, the counters restart and now is the new
    /// roll-over time.
    void start_stats(unsigned int now) override;
    /// Nothing here.
    void show_stats() override {}
    /// "%s+++camera %s statistics:\\n" with the camera's name, then one line per
    /// average ("%sfps: %d\\n", "%spolys/sec: %d\\n" ..). Nothing for a null f or tabs.
    void dump_stats(FILE* f, char* tabs) override;

private:
    r_struct* tracer_s[5];
    r_var vars[12];
    bool trans_overflow_logged = false;
};

/// Draws the box as the axes of its eight corners, each towards its three
/// neighbouring corners ("render_axes"). A null box is logged.
VANTREL_API void _render_bbox(bbox_t* _bbox, int flags);

}  // namespace vantrel
/// @}
