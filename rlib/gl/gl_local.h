// What the OpenGL render library's sources share: the presentation back ends
// (an EGL pbuffer on the software rasteriser, or an SDL2 window), the PNG
// writer of headless frames and the key translation of the window. Not
// exported.
#pragma once

namespace vantrel {

// Where frames go. Exactly one back end is open at a time.
struct gl_surface_t {
    bool headless = true;
    int width = 0, height = 0;
    void* egl_display = nullptr;  // headless
    void* egl_surface = nullptr;
    void* egl_context = nullptr;
    void* window = nullptr;       // windowed (SDL_Window*)
    void* gl_context = nullptr;   // windowed (SDL_GLContext)
};

// Opens the back end (headless, or an SDL2 window titled title, full screen
// when asked) with a width x height RGBA framebuffer with a depth buffer, and
// makes its GL context current. 0; -1 after a logged message, with
// everything closed.
int gl_surface_open(gl_surface_t* s, bool headless, int width, int height, const char* title, bool fullscreen);
// Closes whatever is open; safe on a closed surface.
void gl_surface_close(gl_surface_t* s);
// Windowed: shows the frame, then hands the window's key events to the
// platform key table and returns 1 when the window was asked to close, else
// 0. Headless: does nothing, 0.
int gl_surface_present(gl_surface_t* s);
// True when a window system is reachable (a display named in the environment).
bool gl_display_present();

// Writes width x height RGBA pixels, rows bottom up as OpenGL reads them, as
// an 8-bit RGBA PNG at path (created or truncated). 0; -1 after a logged
// message (a partly written file may stay).
int gl_write_png(const char* path, int width, int height, const unsigned char* rgba);

// The virtual-key code of an SDL key code, or 0 for keys the table lacks.
int gl_vkey_of(int sdl_key);

}  // namespace vantrel
