/// @file
/// The cycle engine: the library's main loop over engine modules. The host adds
/// modules (built in, or loaded from dynamic libraries by file name), sets a
/// cycle rate and calls execute() once per pass of its own loop.
/// @ingroup engine
#pragma once
/// @addtogroup engine
/// @{

#include <cstdint>

#include "base_script/script_var.h"
#include "engine/passive_timer.h"
#include "kdbase/d_list.h"

namespace vantrel {

class dot_script;
class ce_base_module;

/// Words of the shared block; room of a module's name (terminator included).
enum { CE_SHARED_WORDS = 16, CE_NAME_LEN = 64 };
/// The shared block handed to every module: word 0 the current time in
/// milliseconds (written by cycle_engine::execute), word 1 the running
/// dot_script and word 2 the shared scope (both set by the host). The other
/// words are free for the host and its modules. One per process.
extern VANTREL_API uintptr_t ce_shared[CE_SHARED_WORDS];

// Typed access to the words of a shared block. Not checked: shared must be a
// shared block. The script and the scope are not owned by the block.
/// The time in milliseconds (word 0).
inline unsigned int ce_time(const uintptr_t* shared)
{
    return (unsigned int)shared[0];
}
/// The running script (word 1).
inline dot_script* ce_script(const uintptr_t* shared)
{
    return reinterpret_cast<dot_script*>(shared[1]);
}
/// Sets the running script (word 1).
inline void ce_set_script(uintptr_t* shared, dot_script* s)
{
    shared[1] = reinterpret_cast<uintptr_t>(s);
}
/// The shared scope (word 2).
inline r_struct* ce_globals(const uintptr_t* shared)
{
    return reinterpret_cast<r_struct*>(shared[2]);
}
/// Sets the shared scope (word 2).
inline void ce_set_globals(uintptr_t* shared, r_struct* g)
{
    shared[2] = reinterpret_cast<uintptr_t>(g);
}

///@{
/// What a module library exports as create_\<name\> and destroy_\<name\>, with
/// \<name\> the library's file name without extension (C names).
typedef ce_base_module* (*ce_create_func)(uintptr_t* shared);
typedef void (*ce_destroy_func)(ce_base_module* m);
///@}

/// A module: a script object whose variable name is its name buffer, so
/// scripts see it under that name.
class VANTREL_API ce_base_module : public script_var {
public:
    char name[CE_NAME_LEN];   ///< set by the module's reset routine
    int id;                   ///< given by add_module
    uintptr_t* shared;        ///< the engine's shared block, given by add_module
    void* library;            ///< set by load_module; null for built-in modules
    /// The library's create function; set by load_module, null otherwise.
    ce_create_func create;
    /// The library's destroy function, which free_module calls; set by
    /// load_module, null otherwise.
    ce_destroy_func destroy;

    ///@{
    /// Empty name, id 0, everything else null.
    ce_base_module();
    int init() override;  ///< 0
    virtual int execute();  ///< 0
    ///@}
};

/// A host function the engine calls on passes whose period has not elapsed.
typedef void (*ce_idle_func)();

/// The main loop: a module that runs the modules it lists at a set rate. It
/// does not own them: the host frees the modules load_module made with
/// free_module (destroying the engine does not).
class VANTREL_API cycle_engine : public ce_base_module {
public:
    d_list modules;       ///< ce_base_module*, in insertion order, not owned
    passive_timer timer;  ///< its period is the cycle period
    ce_idle_func idle;    ///< called on passes whose period has not elapsed

    cycle_engine();  ///< named "cycle_engine"

    /// shared = ce_shared, no idle function, period 0 (every pass runs). 0.
    int init() override;
    /// Cycles per second; the period is 1000 / rate ms. A rate of 0 or below
    /// is logged and leaves the rate unchanged.
    void set_cycle_rate(int rate);
    /// Writes the time into word 0 of ce_shared; when the period has elapsed
    /// runs every module's execute() in order (results ignored), otherwise
    /// calls idle. At most one pass per call; late passes are not caught up. 0.
    /// A module may add, remove or free modules, itself included, during the
    /// pass. The pass runs the modules listed when it began that are still
    /// listed when their turn comes: a module removed or freed before its turn
    /// does not run, one added during the pass first runs on the next pass. A
    /// module that frees itself is destroyed (and its library unloaded) when
    /// its execute() has returned. A call made from inside a pass runs no
    /// modules.
    int execute() override;

    /// Appends m with the id after the tail module's (1 for an empty list) and
    /// gives it the shared block. The id, or -1 for null or a failed insert.
    int add_module(ce_base_module* m);
    ///@{
    /// First module whose name equals _name over 64 characters; null for none or null.
    ce_base_module* get_module(const char* _name);
    ce_base_module* get_module(int _id);
    ///@}
    ///@{
    /// Unlink without deleting (the caller owns the module again); null when not found.
    ce_base_module* remove_module(ce_base_module* m);
    ce_base_module* remove_module(const char* _name);
    ce_base_module* remove_module(int _id);
    ///@}
    /// Loads "./" + directory + file name + extension of path (the drive is
    /// dropped: always relative to the current directory), looks up
    /// create_<file name> and destroy_<file name>, creates the module with the
    /// shared block and adds it. The id, or -1 with nothing left loaded;
    /// platform_library_error() then says why the library did not load (a path
    /// too long for the system is refused whole, never cut).
    int load_module(const char* path);
    /// Removes the module, destroys it through its library's destroy function
    /// (when it has one) and unloads its library. 0, or -1 for an unknown id.
    int free_module(int _id);

private:
    /// The pass in progress: the next node to run and the last node listed
    /// when the pass began (both null outside a pass), and the module running
    /// now. remove_module moves them past a node it takes out.
    d_node* pass_next;
    d_node* pass_last;
    ce_base_module* running;
    bool free_running;  ///< the running module freed itself: destroy it after its execute()
    bool in_pass;
    void release(ce_base_module* m);
};

}  // namespace vantrel
/// @}
