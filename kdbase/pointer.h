// An owning guard for a half-built object: deletes it unless told not to.
#pragma once

#include <type_traits>

namespace vantrel {

template <class T>
class pointer_t {
public:
    T* p;
    int flags;  // bit 0: delete p when the guard goes

    explicit pointer_t(int _flags = 1) : p(nullptr), flags(_flags) {}
    ~pointer_t()
    {
        if ((flags & 1) && p) {
            // Character buffers come from array allocations.
            if constexpr (std::is_same_v<std::remove_cv_t<T>, char>)
                delete[] p;
            else
                delete p;
        }
    }
    pointer_t(const pointer_t&) = delete;
    pointer_t& operator=(const pointer_t&) = delete;

    void dont_delete() { flags &= ~1; }
    T* operator->() const { return p; }
    operator T*() const { return p; }
};

}  // namespace vantrel
