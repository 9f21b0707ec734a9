// The OpenGL render library's back ends: an EGL pbuffer (Mesa's software
// rasteriser needs no display) whose frames are written as PNG files, and an
// SDL2 window whose key events feed the platform key table.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <SDL2/SDL.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "platform/platform.h"
#include "rlib/gl/gl_local.h"

namespace vantrel {

namespace {

// Prefers the surfaceless platform (no X server or GPU), else the default display.
EGLDisplay headless_display()
{
    const char* ext = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto get_platform_display =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (ext && strstr(ext, "EGL_MESA_platform_surfaceless") && get_platform_display) {
        EGLDisplay d = get_platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (d != EGL_NO_DISPLAY)
            return d;
    }
    return eglGetDisplay(EGL_DEFAULT_DISPLAY);
}

int open_headless(gl_surface_t* s)
{
    EGLDisplay d = headless_display();
    EGLint major = 0, minor = 0;
    if (d == EGL_NO_DISPLAY || !eglInitialize(d, &major, &minor)) {
        ELOG(EL_MAJOR, "gl: unable to initialise EGL (0x%x)", (unsigned)eglGetError());
        return -1;
    }
    s->egl_display = d;
    const EGLint config_attribs[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8,
                                     EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8, EGL_DEPTH_SIZE, 24,
                                     EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config;
    EGLint nconfigs = 0;
    if (!eglChooseConfig(d, config_attribs, &config, 1, &nconfigs) || nconfigs < 1 ||
        !eglBindAPI(EGL_OPENGL_API)) {
        ELOG(EL_MAJOR, "gl: no EGL configuration for desktop OpenGL (0x%x)", (unsigned)eglGetError());
        return -1;
    }
    const EGLint pbuffer_attribs[] = {EGL_WIDTH, s->width, EGL_HEIGHT, s->height, EGL_NONE};
    s->egl_surface = eglCreatePbufferSurface(d, config, pbuffer_attribs);
    if (s->egl_surface == EGL_NO_SURFACE) {
        s->egl_surface = nullptr;
        ELOG(EL_MAJOR, "gl: unable to create a %dx%d pbuffer (0x%x)", s->width, s->height,
             (unsigned)eglGetError());
        return -1;
    }
    s->egl_context = eglCreateContext(d, config, EGL_NO_CONTEXT, nullptr);
    if (s->egl_context == EGL_NO_CONTEXT) {
        s->egl_context = nullptr;
        ELOG(EL_MAJOR, "gl: unable to create an OpenGL context (0x%x)", (unsigned)eglGetError());
        return -1;
    }
    if (!eglMakeCurrent(d, s->egl_surface, s->egl_surface, s->egl_context)) {
        ELOG(EL_MAJOR, "gl: unable to make the OpenGL context current (0x%x)", (unsigned)eglGetError());
        return -1;
    }
    return 0;
}

int open_window(gl_surface_t* s, const char* title, bool fullscreen)
{
    // Video and its GL driver stay loaded once started, for the same reason
    // as the EGL display.
    static bool video_started;
    if (!video_started) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0 || SDL_GL_LoadLibrary(nullptr) != 0) {
            ELOG(EL_MAJOR, "gl: unable to start SDL video: %s", SDL_GetError());
            return -1;
        }
        video_started = true;
    }
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_Window* w = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, s->width, s->height,
                                     SDL_WINDOW_OPENGL | (fullscreen ? SDL_WINDOW_FULLSCREEN : 0));
    if (!w) {
        ELOG(EL_MAJOR, "gl: unable to open a %dx%d window: %s", s->width, s->height, SDL_GetError());
        return -1;
    }
    s->window = w;
    s->gl_context = SDL_GL_CreateContext(w);
    if (!s->gl_context) {
        ELOG(EL_MAJOR, "gl: unable to create an OpenGL context: %s", SDL_GetError());
        return -1;
    }
    return 0;
}

}  // namespace

bool gl_display_present()
{
    const char* x = getenv("DISPLAY");
    const char* wayland = getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

int gl_surface_open(gl_surface_t* s, bool headless, int width, int height, const char* title, bool fullscreen)
{
    gl_surface_close(s);
    s->headless = headless;
    s->width = width;
    s->height = height;
    if ((headless ? open_headless(s) : open_window(s, title, fullscreen)) == 0)
        return 0;
    gl_surface_close(s);
    return -1;
}

void gl_surface_close(gl_surface_t* s)
{
    if (s->egl_display) {
        EGLDisplay d = s->egl_display;
        eglMakeCurrent(d, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (s->egl_context)
            eglDestroyContext(d, s->egl_context);
        if (s->egl_surface)
            eglDestroySurface(d, s->egl_surface);
        // The display stays initialised: terminating it unloads the driver,
        // which loses track of what it allocated, and the next open would
        // load it again.
    }
    if (s->gl_context)
        SDL_GL_DeleteContext(s->gl_context);
    if (s->window)
        SDL_DestroyWindow(static_cast<SDL_Window*>(s->window));
    s->egl_display = s->egl_surface = s->egl_context = s->window = s->gl_context = nullptr;
}

int gl_surface_present(gl_surface_t* s)
{
    if (!s->window)
        return 0;
    SDL_GL_SwapWindow(static_cast<SDL_Window*>(s->window));
    int quit = 0;
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        if (e.type == SDL_QUIT) {
            quit = 1;
        } else if ((e.type == SDL_KEYDOWN || e.type == SDL_KEYUP) && !e.key.repeat) {
            int vk = gl_vkey_of(e.key.keysym.sym);
            if (vk)
                platform_set_key_state(vk, e.type == SDL_KEYDOWN);
        }
    }
    return quit;
}

int gl_vkey_of(int key)
{
    if (key >= SDLK_a && key <= SDLK_z)
        return 'A' + (key - SDLK_a);
    if (key >= SDLK_0 && key <= SDLK_9)
        return '0' + (key - SDLK_0);
    if (key >= SDLK_F1 && key <= SDLK_F12)
        return 0x70 + (key - SDLK_F1);
    if (key >= SDLK_KP_1 && key <= SDLK_KP_9)
        return 0x61 + (key - SDLK_KP_1);
    static const struct {
        int sdl, vk;
    } keys[] = {
        {SDLK_BACKSPACE, 0x08}, {SDLK_TAB, 0x09},     {SDLK_RETURN, 0x0D},    {SDLK_LSHIFT, 0x10},
        {SDLK_RSHIFT, 0x10},    {SDLK_LCTRL, 0x11},   {SDLK_RCTRL, 0x11},     {SDLK_LALT, 0x12},
        {SDLK_RALT, 0x12},      {SDLK_PAUSE, 0x13},   {SDLK_ESCAPE, 0x1B},    {SDLK_SPACE, 0x20},
        {SDLK_PAGEUP, 0x21},    {SDLK_PAGEDOWN, 0x22}, {SDLK_END, 0x23},      {SDLK_HOME, 0x24},
        {SDLK_LEFT, 0x25},      {SDLK_UP, 0x26},      {SDLK_RIGHT, 0x27},     {SDLK_DOWN, 0x28},
        {SDLK_INSERT, 0x2D},    {SDLK_DELETE, 0x2E},  {SDLK_KP_0, 0x60},      {SDLK_KP_MULTIPLY, 0x6A},
        {SDLK_KP_PLUS, 0x6B},   {SDLK_KP_MINUS, 0x6D}, {SDLK_KP_PERIOD, 0x6E}, {SDLK_KP_DIVIDE, 0x6F},
    };
    for (const auto& k : keys)
        if (k.sdl == key)
            return k.vk;
    return 0;
}

int gl_write_png(const char* path, int width, int height, const unsigned char* rgba)
{
    FILE* f = fopen(path, "wb");
    if (!f) {
        ELOG(EL_MAJOR, "gl: unable to open %s for writing", path);
        return -1;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    int result = -1;
    // libpng reports errors by a long jump back here; nothing between holds
    // a destructor.
    if (png && info && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, f);
        png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8, PNG_COLOR_TYPE_RGB_ALPHA,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_compression_level(png, 1);
        png_write_info(png, info);
        const size_t row = (size_t)width * 4;
        for (int y = height - 1; y >= 0; --y)
            png_write_row(png, rgba + row * (size_t)y);
        png_write_end(png, info);
        result = 0;
    }
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    if (fclose(f) != 0)
        result = -1;
    if (result != 0)
        ELOG(EL_MAJOR, "gl: unable to write %s", path);
    return result;
}

}  // namespace vantrel
