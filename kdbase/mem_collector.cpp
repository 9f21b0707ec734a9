#include "kdbase/mem_collector.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cinttypes>

#include "platform/platform.h"
#include "kdbase/errorlog.h"
#include "kdbase/str_util.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

// The growable ledger; plain C heap, so recording never recurses into it.
struct entry_array {
    mem_info* items;
    int used;
    int capacity;
};

static mem_collector __mc_global;
static int fail_countdown = -1;

mem_collector* mc_global()
{
    return &__mc_global;
}

void mc_fail_after(int n)
{
    fail_countdown = n < 0 ? -1 : n;
}

// True when the armed test failure hits this allocation.
static bool injected_failure()
{
    if (fail_countdown < 0)
        return false;
    if (fail_countdown-- == 0) {
        fail_countdown = -1;
        return true;
    }
    return false;
}

mem_collector::mem_collector() : total(0), peak(0), count(0), entries(nullptr)
{
    entries = static_cast<entry_array*>(calloc(1, sizeof(entry_array)));
    if (!entries)
        ELOG(EL_MINDEBUG, "mem_collector::mem_collector(): unable to allocate memblocks list");
}

mem_collector::~mem_collector()
{
    release_entries();
}

bool mc_injected_failure()
{
    return injected_failure();
}

void* mem_collector::_mc_new(size_t size, const char* file, int line)
{
    void* p = injected_failure() ? nullptr : ::operator new(size, std::nothrow);
    if (!p)
        errorlog(file, line, EL_MINDEBUG, "allocation failed: %s (%d) size=%zu", file ? file : "", line, size);
    return p;
}

void* mem_collector::_mc_new_array(size_t size, const char* file, int line)
{
    void* p = injected_failure() ? nullptr : ::operator new[](size, std::nothrow);
    if (!p)
        errorlog(file, line, EL_MINDEBUG, "allocation failed: %s (%d) size=%zu", file ? file : "", line, size);
    return p;
}

void mem_collector::mc_delete(void* p)
{
    ::operator delete(p);
}

void* mem_collector::mc_realloc(void* p, size_t size)
{
    void* n = ::operator new(size ? size : 1, std::nothrow);
    if (!n)
        return nullptr;
    if (p) {
        mem_info* e = get_entry(p);
        // Without a ledger entry the heap knows how large the old block is.
        size_t old = e ? (size_t)e->size : platform_block_size(p);
        memcpy(n, p, old < size ? old : size);
        if (e) {
            total += (int)size - e->size;
            if (total > peak)
                peak = total;
            e->ptr = n;
            e->size = (int)size;
        }
        ::operator delete(p);
    }
    return n;
}

void mem_collector::add_entry(void* p, int size, const char* file, int line)
{
    if (!entries)
        return;
    total += size;
    ++count;
    if (total > peak)
        peak = total;
    if (line == -1)
        return;
    if (entries->used == entries->capacity) {
        int cap = entries->capacity ? entries->capacity * 2 : 64;
        void* grown = realloc(entries->items, (size_t)cap * sizeof(mem_info));
        if (!grown)
            return;
        entries->items = static_cast<mem_info*>(grown);
        entries->capacity = cap;
    }
    mem_info& e = entries->items[entries->used++];
    e.ptr = p;
    e.size = size;
    snprintf(e.file, sizeof e.file, "%s", file ? file : "");
    e.line = line;
}

int mem_collector::del_entry(void* p)
{
    if (!entries)
        return -1;
    for (int i = 0; i < entries->used; ++i) {
        if (entries->items[i].ptr == p) {
            total -= entries->items[i].size;
            memmove(&entries->items[i], &entries->items[i + 1],
                    (size_t)(entries->used - i - 1) * sizeof(mem_info));
            --entries->used;
            return 0;
        }
    }
    return -1;
}

mem_info* mem_collector::get_entry(void* p)
{
    if (!entries)
        return nullptr;
    for (int i = 0; i < entries->used; ++i)
        if (entries->items[i].ptr == p)
            return &entries->items[i];
    return nullptr;
}

void mem_collector::logall()
{
    if (!entries || entries->used == 0)
        return;
    ELOG(EL_MINDEBUG, "mem_collector: %d entries left", entries->used);
    for (int i = 0; i < entries->used; ++i) {
        const mem_info& e = entries->items[i];
        char desc[256];
        _set_entry_str(desc, static_cast<char*>(e.ptr), e.size);
        ELOG(EL_MINDEBUG, "%s(%d) %s", e.file, e.line, desc);
    }
}

char* mem_collector::_set_entry_str(char* _str, char* _buf, int n)
{
    CHECK_PTR(_str, nullptr);
    CHECK_PTR(_buf, nullptr);
    if (n > 16)
        n = 16;
    if (n < 0)
        n = 0;
    unsigned char first[4] = {0, 0, 0, 0};
    memcpy(first, _buf, n < 4 ? (size_t)n : 4);
    int word = (int)((unsigned)first[0] | (unsigned)first[1] << 8 | (unsigned)first[2] << 16 | (unsigned)first[3] << 24);
    char hex[128];
    dump_hex_line(hex, _buf, n, (char*)"");
    snprintf(_str, 256, "0x%08" PRIxPTR "[%d bytes]=(char=%c, int=%d, hex=0x%x, buf=%s)", (uintptr_t)_buf, n,
             n ? first[0] : ' ', word, (unsigned)word, hex);
    return _str;
}

void mem_collector::release_entries()
{
    if (!entries)
        return;
    free(entries->items);
    free(entries);
    entries = nullptr;
}

int mc_init::count = 0;

mc_init::mc_init()
{
    if (count == 0) {
        __mc_global.total = 0;
        __mc_global.peak = 0;
        __mc_global.count = 0;
    }
    ++count;
}

mc_init::~mc_init()
{
    if (--count == 0) {
        __mc_global.logall();
        __mc_global.release_entries();
    }
}

}  // namespace vantrel

void* operator new(size_t size, const std::nothrow_t&, const char* file, int line) noexcept
{
    return vantrel::mc_global()->_mc_new(size, file, line);
}

void* operator new[](size_t size, const std::nothrow_t&, const char* file, int line) noexcept
{
    return vantrel::mc_global()->_mc_new_array(size, file, line);
}

void* operator new(size_t size, const char* file, int line) noexcept
{
    return vantrel::mc_global()->_mc_new(size, file, line);
}

void operator delete(void* p, const char*, int) noexcept
{
    ::operator delete(p);
}

void operator delete(void* p, const std::nothrow_t&, const char*, int) noexcept
{
    ::operator delete(p);
}

void operator delete[](void* p, const std::nothrow_t&, const char*, int) noexcept
{
    ::operator delete[](p);
}
