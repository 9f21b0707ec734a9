/// @file
/// The render library interface: the 41 operations a render library exports
/// under their plain C names, the process-wide table the renderer calls them
/// through, and loading that table from a library file. The drawing itself is
/// the render library's; the library only calls these operations.
/// @ingroup morvane
#pragma once
/// @addtogroup morvane
/// @{

#include "platform/export.h"

namespace vantrel {

class morvane_t;
class rmode_t;
class n_poly;
class r_struct;
class shader_t;
class texture_t;
class d_list;

/// The interface, in table order: X(result, name, parameter list). A render
/// library defines each as extern "C" with default visibility (see
/// morvane/rlib_exports.h); the renderer looks them up by these names.
/// Matrices are 16 floats (row vectors, translation in elements 12 to 14),
/// points and vectors 4 floats. "mult_*_m"(M) makes the current matrix
/// M · current (a point goes through M first). "push_*_m" saves the current
/// matrix into the caller's buffer, "pop_*_m" restores it from there; the model
/// matrix starts at the identity, and "push_state"/"pop_state" save and restore
/// it with the rest of the state. Eye space looks down -z with y up.
#define VANTREL_RLIB_OPS(X)                                                        \
    X(int, init, (vantrel::morvane_t * mrv)) /* -1 fails the module's start */   \
    X(void, release, (vantrel::morvane_t * mrv))                                   \
    X(void, push_state, (int* token))                                              \
    X(void, pop_state, (int token))                                                \
    X(void, set_viewport, (int x, int y, int width, int height))                   \
    X(void, set_light, (void* light)) /* an element of the level's light list */ \
    X(void, push_proj_m, (float* m))                                               \
    X(void, push_view_m, (float* m))                                               \
    X(void, push_model_m, (float* m))                                              \
    X(void, push_tex_m, (float* m))                                                \
    X(void, pop_proj_m, (const float* m))                                          \
    X(void, pop_view_m, (const float* m))                                          \
    X(void, pop_model_m, (const float* m))                                         \
    X(void, pop_tex_m, (const float* m))                                           \
    X(void, set_proj_m, (const float* m))                                          \
    X(void, set_view_m, (const float* m))                                          \
    X(void, set_model_m, (const float* m))                                         \
    X(void, set_tex_m, (const float* m))                                           \
    X(void, get_proj_m, (float* m))                                                \
    X(void, get_view_m, (float* m))                                                \
    X(void, get_model_m, (float* m))                                               \
    X(void, get_tex_m, (float* m))                                                 \
    X(void, mult_proj_m, (const float* m))                                         \
    X(void, mult_view_m, (const float* m))                                         \
    X(void, mult_model_m, (const float* m))                                        \
    X(void, mult_tex_m, (const float* m))                                          \
    X(void, render_poly, (const vantrel::n_poly* p))                               \
    X(void, render_axes, (const float* m))                                         \
    X(void, render_line, (const float* from, const float* to))                     \
    X(void, depth_mask, (int on))                                                  \
    X(void, swap_buffers, (vantrel::morvane_t * mrv))                              \
    X(void, clear_buffers, (int flags))                                            \
    X(int, add_script_funcs, (vantrel::r_struct * scope)) /* -1 fails start */   \
    X(int, set_rmode_aset, (vantrel::rmode_t * mode))                              \
    X(int, set_shader_func, (vantrel::shader_t * shader))                          \
    X(int, cache_texture, (vantrel::texture_t * texture))                          \
    X(int, assign_lights, (vantrel::d_list * lights))                              \
    X(void, release_texture, (vantrel::texture_t * texture))                       \
    X(void, set_perspective, (float fov, float aspect, float clip_near, float clip_far)) \
    X(void, lookat, (float* m, float eye_x, float eye_y, float eye_z, float at_x,  \
                     float at_y, float at_z, float up_x, float up_y, float up_z))  \
    X(void, lookat_v, (float* m, const float* eye, const float* target, const float* up))

/// Operations in the table, and the room for a library path with its terminator.
enum { RLIB_OP_COUNT = 41, RLIB_PATH_LEN = 260 };

/// One function pointer per operation, in table order. "fov" is the vertical
/// field of view in degrees.
struct r_imports_t {
/// Declares the table entry of one operation (defined for the table only).
#define VANTREL_RLIB_SLOT(result, name, params) result(*name) params;
    VANTREL_RLIB_OPS(VANTREL_RLIB_SLOT)
#undef VANTREL_RLIB_SLOT
};

/// The library as loaded: its path and handle (platform_load_library).
struct rlib_info_t {
    /// The path the library was loaded from; empty when none is loaded.
    char path[RLIB_PATH_LEN];
    /// The platform loader's handle; null when none is loaded.
    void* handle;
};

/// The table the renderer, its cameras and tracers call through; all null
/// until load_rlib fills it.
extern VANTREL_API r_imports_t r_imports;

/// Loads the library at path (through the platform loader) and looks up the 41
/// names in table order into table (normally &r_imports) and path and handle
/// into info. 0 on success. -1 for a null path ("invalid pointer"), a library
/// that does not load ("Unable to load library %s") or the first missing name
/// ("Unable to load function %s"; entries found before it stay set and the
/// library stays loaded: free_rlib unloads it). The library belongs to info.
VANTREL_API int load_rlib(const char* path, r_imports_t* table, rlib_info_t* info);
/// Unloads the library held by info (if any) and clears info. table, when not
/// null, is cleared too, so nothing calls into the unloaded code.
VANTREL_API void free_rlib(rlib_info_t* info, r_imports_t* table);
/// Copies the process-wide table into table (ignored when null).
VANTREL_API void get_r_imports(r_imports_t* table);

}  // namespace vantrel
/// @}
