#include "engine/cycle_engine.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

uintptr_t ce_shared[CE_SHARED_WORDS];

static ce_base_module* module_of(d_node* n)
{
    return static_cast<ce_base_module*>(static_cast<r_var*>(n->object));
}

static unknown* object_of(ce_base_module* m)
{
    return static_cast<r_var*>(m);
}

ce_base_module::ce_base_module() : id(0), shared(nullptr), library(nullptr), create(nullptr), destroy(nullptr)
{
    name[0] = 0;
    r_var::name = name;
}

int ce_base_module::init()
{
    return 0;
}

int ce_base_module::execute()
{
    return 0;
}

cycle_engine::cycle_engine()
    : modules(0), idle(nullptr), pass_next(nullptr), pass_last(nullptr), running(nullptr), free_running(false),
      in_pass(false)
{
    snprintf(name, sizeof name, "cycle_engine");
}

int cycle_engine::init()
{
    shared = ce_shared;
    idle = nullptr;
    timer.start(0);
    return 0;
}

void cycle_engine::set_cycle_rate(int rate)
{
    if (rate <= 0) {
        ELOG(EL_MINDEBUG, "set_cycle_rate(): the rate must be positive, not %d", rate);
        return;
    }
    timer.start((unsigned int)(1000 / rate));
}

int cycle_engine::execute()
{
    ce_shared[0] = get_milli_uptime();
    if (in_pass)
        return 0;
    if (timer.has_elapsed() <= 0) {
        // The cursor lives in the engine, so remove_module can step it past
        // whatever a module takes out of the list.
        in_pass = true;
        pass_next = modules.first;
        pass_last = modules.last;
        while (d_node* n = pass_next) {
            pass_next = n == pass_last ? nullptr : n->next;
            running = module_of(n);
            running->execute();
            if (free_running) {
                free_running = false;
                release(running);
            }
        }
        running = nullptr;
        pass_last = nullptr;
        in_pass = false;
    } else if (idle) {
        idle();
    }
    return 0;
}

int cycle_engine::add_module(ce_base_module* m)
{
    if (!m)
        return -1;
    int next_id = modules.last ? module_of(modules.last)->id + 1 : 1;
    if (modules.insert(object_of(m)) != 0)
        return -1;
    m->id = next_id;
    m->shared = shared;
    return next_id;
}

ce_base_module* cycle_engine::get_module(const char* _name)
{
    if (!_name)
        return nullptr;
    for (d_node* n = modules.first; n; n = n->next)
        if (strncmp(module_of(n)->name, _name, CE_NAME_LEN) == 0)
            return module_of(n);
    return nullptr;
}

ce_base_module* cycle_engine::get_module(int _id)
{
    for (d_node* n = modules.first; n; n = n->next)
        if (module_of(n)->id == _id)
            return module_of(n);
    return nullptr;
}

ce_base_module* cycle_engine::remove_module(ce_base_module* m)
{
    d_node* n = m ? modules.get_node(object_of(m)) : nullptr;
    if (!n)
        return nullptr;
    if (n == pass_next)
        pass_next = n == pass_last ? nullptr : n->next;
    if (n == pass_last)
        pass_last = n->prev;
    modules.remove(n);
    return m;
}

ce_base_module* cycle_engine::remove_module(const char* _name)
{
    return remove_module(get_module(_name));
}

ce_base_module* cycle_engine::remove_module(int _id)
{
    return remove_module(get_module(_id));
}

int cycle_engine::load_module(const char* path)
{
    if (!path)
        return -1;
    // Nothing is cut to fit a buffer: the platform refuses a path too long
    // for the system (platform_library_error says so).
    const char *dir, *fname, *ext;
    path_parts(path, &dir, &fname, &ext);
    size_t name_len = (size_t)(ext - fname);
    char* lib_path = KD_NEW char[strlen(dir) + 3];
    char* symbol = KD_NEW char[name_len + 16];
    if (!lib_path || !symbol) {
        delete[] lib_path;
        delete[] symbol;
        return -1;
    }
    // Looked up below the current directory, with this platform's separators.
    snprintf(lib_path, strlen(dir) + 3, "./%s", dir);
    for (char* c = lib_path; *c; ++c)
        if (*c == '\\')
            *c = '/';
    void* lib = platform_load_library(lib_path);
    delete[] lib_path;
    if (!lib) {
        delete[] symbol;
        return -1;
    }

    snprintf(symbol, name_len + 16, "create_%.*s", (int)name_len, fname);
    ce_create_func create_f = reinterpret_cast<ce_create_func>(platform_library_symbol(lib, symbol));
    snprintf(symbol, name_len + 16, "destroy_%.*s", (int)name_len, fname);
    ce_destroy_func destroy_f = reinterpret_cast<ce_destroy_func>(platform_library_symbol(lib, symbol));
    delete[] symbol;
    ce_base_module* m = create_f && destroy_f ? create_f(shared) : nullptr;
    if (!m) {
        platform_free_library(lib);
        return -1;
    }
    m->library = lib;
    m->create = create_f;
    m->destroy = destroy_f;
    int new_id = add_module(m);
    if (new_id < 0) {
        destroy_f(m);
        platform_free_library(lib);
        return -1;
    }
    return new_id;
}

int cycle_engine::free_module(int _id)
{
    ce_base_module* m = remove_module(_id);
    if (!m)
        return -1;
    // A module freeing itself still runs code of its library: wait for it.
    if (m == running)
        free_running = true;
    else
        release(m);
    return 0;
}

void cycle_engine::release(ce_base_module* m)
{
    void* lib = m->library;  // the module is gone after destroy
    if (m->destroy)
        m->destroy(m);
    platform_free_library(lib);
}

}  // namespace vantrel
