/// @file
/// Collects the objects made during one load, so that a failed load releases
/// all of them and a successful one keeps them (dont_delete).
/// @ingroup kdbase
#pragma once
/// @addtogroup kdbase
/// @{

#include <cinttypes>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

namespace vantrel {

template <class T>
/// Makes objects of type T and deletes them together, newest first, unless told to keep them.
class g_collector {
    struct item {
        T* object;
        item* next;
    };

public:
    int flags;  ///< bit 0: freeall and the destructor release the objects

    /// Bit 0 of _flags set: the objects are deleted with the collector.
    explicit g_collector(int _flags = 1) : flags(_flags), items(nullptr) {}
    ~g_collector()
    {
        freeall();
        while (items) {
            item* n = items->next;
            delete items;
            items = n;
        }
    }
    g_collector(const g_collector&) = delete;
    g_collector& operator=(const g_collector&) = delete;

    /// A new T, listed newest first; null when an allocation fails.
    T* alloc()
    {
        item* i = KD_NEW item;
        if (!i)
            return nullptr;
        T* o = KD_NEW T;
        if (!o) {
            delete i;
            return nullptr;
        }
        i->object = o;
        i->next = items;
        items = i;
        return o;
    }

    /// Deletes p when this collector made it; otherwise logs and leaves it.
    void free(T* p)
    {
        for (item** link = &items; *link; link = &(*link)->next) {
            if ((*link)->object == p) {
                item* i = *link;
                *link = i->next;
                delete i->object;
                delete i;
                return;
            }
        }
        ELOG(EL_MINDEBUG, "g_collector::free(): %08" PRIxPTR " was not allocated with this allocator", (uintptr_t)p);
    }

    /// Deletes every object made, newest first, while bit 0 of flags is set.
    void freeall()
    {
        if (!(flags & 1))
            return;
        while (items)
            free(items->object);
    }

    /// Keeps the objects made: they become the caller's.
    void dont_delete() { flags &= ~1; }

private:
    item* items;
};

}  // namespace vantrel
/// @}
