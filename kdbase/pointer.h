/// @file
/// An owning guard for a half-built object: deletes it unless told not to.
/// @ingroup kdbase
#pragma once
/// @addtogroup kdbase
/// @{

#include <type_traits>

namespace vantrel {

template <class T>
/// Deletes p when it goes, unless dont_delete was called.
class pointer_t {
public:
    T* p;  ///< the guarded object, or null
    int flags;  ///< bit 0: delete p when the guard goes

    /// Bit 0 of _flags set: p is deleted with the guard.
    explicit pointer_t(int _flags = 1) : p(nullptr), flags(_flags) {}
    ~pointer_t()
    {
        if ((flags & 1) && p) {
            /// Character buffers come from array allocations.
            if constexpr (std::is_same_v<std::remove_cv_t<T>, char>)
                delete[] p;
            else
                delete p;
        }
    }
    pointer_t(const pointer_t&) = delete;
    pointer_t& operator=(const pointer_t&) = delete;

    /// Hands p over: the guard no longer deletes it.
    void dont_delete() { flags &= ~1; }
    /// The guarded object.
    T* operator->() const { return p; }
    /// The guarded object.
    operator T*() const { return p; }
};

}  // namespace vantrel
/// @}
