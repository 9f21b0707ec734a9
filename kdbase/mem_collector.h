/// @file
/// Tracked allocation: every allocation of the library names its source file
/// and line, so a failure is reported with its place; a process-wide ledger
/// can record blocks and report what is left when the library unloads.
/// @ingroup kdbase
#pragma once
/// @addtogroup kdbase
/// @{

#include <cstddef>
#include <new>

#include "platform/export.h"

namespace vantrel {

/// One ledger entry.
struct VANTREL_API mem_info {
    /// Start of the block.
    void* ptr;
    /// Bytes requested.
    int size;
    /// Source path of the allocating code, cut to 260 characters.
    char file[261];
    /// Source line of the allocation.
    int line;
};

/// The process-wide ledger of allocations (one instance: mc_global()). The
/// tracked operators allocate through it but do not record: only add_entry
/// does. Not locked: use from one thread.
class VANTREL_API mem_collector {
public:
    int total;   ///< bytes currently recorded
    int peak;    ///< largest total seen
    int count;   ///< recorded allocations
    struct entry_array* entries;  ///< null when it could not be made

    mem_collector();
    ~mem_collector();

    /// Allocates size bytes; null on failure, logged as
    /// "allocation failed: %s (%d) size=%d". Not entered in the ledger.
    void* _mc_new(size_t size, const char* file, int line);
    ///@{
    /// The same for an array allocation (released with delete[]).
    void* _mc_new_array(size_t size, const char* file, int line);
    void mc_delete(void* p);
    ///@}
    /// Resizes a block from _mc_new; a ledger entry follows the block. Null on
    /// failure, the old block then stays valid.
    void* mc_realloc(void* p, size_t size);

    /// Records an allocation (no entry when line is -1).
    void add_entry(void* p, int size, const char* file, int line);
    ///@{
    /// Removes the first entry for p: 0, or -1 when p has none.
    int del_entry(void* p);
    mem_info* get_entry(void* p);
    ///@}
    /// Logs "mem_collector: %d entries left" and one line per remaining entry.
    void logall();
    /// Describes a block into out (256 bytes): address, size (at most 16) and
    /// its first bytes. Returns out; null arguments log and give null.
    char* _set_entry_str(char* out, char* block, int n);
    /// Empties and frees the entry array.
    void release_entries();
};

/// The process-wide collector; valid from static initialisation of the library
/// to its last static destruction.
VANTREL_API mem_collector* mc_global();

/// Makes the n-th tracked allocation from now fail (0: the next one), once;
/// -1 switches it off. For tests that drive every cleanup path.
VANTREL_API void mc_fail_after(int n);

/// Every source file of the library holds one static guard, so the collector
/// exists before that file's statics allocate and reports after they are gone.
class VANTREL_API mc_init {
public:
    /// Live guards. The first guard resets the collector's totals; the last one
    /// to go logs what is left (logall) and frees the entry array.
    static int count;
    mc_init();
    ~mc_init();
};

}  // namespace vantrel

// The tracked operators. They never throw: a failed allocation gives null.
/// Allocates size bytes through the collector, tagged with file and line (what
/// KD_NEW expands to); null on failure, logged with that place.
VANTREL_API void* operator new(size_t size, const std::nothrow_t&, const char* file, int line) noexcept;
/// The array form of the tagged allocation (KD_NEW T[n]); release with delete[].
VANTREL_API void* operator new[](size_t size, const std::nothrow_t&, const char* file, int line) noexcept;
/// The same tagged allocation without the nothrow tag; also null on failure.
VANTREL_API void* operator new(size_t size, const char* file, int line) noexcept;
/// Releases a block of the tagged new when a constructor throws.
VANTREL_API void operator delete(void* p, const char* file, int line) noexcept;
/// Releases a block of the tagged nothrow new when a constructor throws.
VANTREL_API void operator delete(void* p, const std::nothrow_t&, const char* file, int line) noexcept;
/// Releases an array of the tagged nothrow new[] when a constructor throws.
VANTREL_API void operator delete[](void* p, const std::nothrow_t&, const char* file, int line) noexcept;

/// `KD_NEW T(args)` / `KD_NEW char[n]`: a tracked allocation tagged with the
/// caller's place; null on failure. Release with plain delete / delete[].
#define KD_NEW new (std::nothrow, __FILE__, __LINE__)
/// @}
