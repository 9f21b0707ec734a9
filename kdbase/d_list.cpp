#include "kdbase/d_list.h"

#include <atomic>
#include <cstring>
#include <new>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

d_list::d_list(int _delete_elements)
{
    init_list(_delete_elements);
}

d_list::~d_list()
{
    delete_nodes();
}

void d_list::init_list(int _delete_elements)
{
    first = last = nullptr;
    count = 0;
    delete_elements = _delete_elements;
}

namespace {

// List nodes come from blocks of NODE_BLOCK nodes, so a node costs its 32
// bytes and no heap header: lists of millions of entries (visible sets) stay
// small. Freed nodes are chained through their next pointer and used again;
// when the last node is freed, every block but the newest goes back to the
// heap. One lock for all threads. Sanitizer builds give every node its own
// allocation instead, so that a node used after its removal is reported.
#ifndef VANTREL_NODE_POOL
#define VANTREL_NODE_POOL 1
#endif
enum { NODE_BLOCK = 2048 };

struct node_block {
    node_block* older;
    d_node nodes[NODE_BLOCK];
};

struct node_pool {
    std::atomic_flag lock = ATOMIC_FLAG_INIT;
    node_block* blocks = nullptr;  // the newest first
    int unused = 0;                // nodes of the newest block never handed out
    d_node* free_nodes = nullptr;
    long live = 0;

    void acquire()
    {
        while (lock.test_and_set(std::memory_order_acquire)) {
        }
    }
    void release() { lock.clear(std::memory_order_release); }
} pool;

void* take_node()
{
    if (!VANTREL_NODE_POOL)
        return KD_NEW char[sizeof(d_node)];
    if (mc_injected_failure()) {
        ELOG(EL_MINDEBUG, "allocation failed: %s (%d) size=%zu", __FILE__, __LINE__, sizeof(d_node));
        return nullptr;
    }
    pool.acquire();
    void* n = nullptr;
    if (pool.free_nodes) {
        n = pool.free_nodes;
        pool.free_nodes = pool.free_nodes->next;
    } else {
        if (pool.unused == 0) {
            // Raw memory: the nodes are made in place when handed out.
            char* raw = KD_NEW char[sizeof(node_block)];
            if (!raw) {
                pool.release();
                return nullptr;
            }
            node_block* b = reinterpret_cast<node_block*>(raw);
            b->older = pool.blocks;
            pool.blocks = b;
            pool.unused = NODE_BLOCK;
        }
        n = &pool.blocks->nodes[NODE_BLOCK - pool.unused--];
    }
    ++pool.live;
    pool.release();
    return n;
}

void give_node(d_node* n)
{
    if (!VANTREL_NODE_POOL) {
        delete[] reinterpret_cast<char*>(n);
        return;
    }
    pool.acquire();
    if (--pool.live == 0) {
        while (pool.blocks->older) {
            node_block* b = pool.blocks->older;
            pool.blocks->older = b->older;
            delete[] reinterpret_cast<char*>(b);
        }
        pool.unused = NODE_BLOCK;
        pool.free_nodes = nullptr;
    } else {
        n->next = pool.free_nodes;
        pool.free_nodes = n;
    }
    pool.release();
}

template <class T>
d_node* make_node(T element, d_node* prev)
{
    void* m = take_node();
    return m ? new (m) d_node(element, prev) : nullptr;
}

}  // namespace

// Links a node made for an element at the tail; -1 when it could not be made.
static int append_node(d_list* l, d_node* n)
{
    if (!n)
        return -1;
    (l->last ? l->last->next : l->first) = n;
    l->last = n;
    ++l->count;
    return 0;
}

int d_list::insert(unknown* o)
{
    return o ? append_node(this, make_node(o, last)) : -1;
}

int d_list::insert(void* d)
{
    return d ? append_node(this, make_node(d, last)) : -1;
}

void* d_list::remove(d_node* n)
{
    if (!n)
        return nullptr;
    if (n == first) {
        first = n->next;
        if (first)
            first->prev = nullptr;
        else
            last = nullptr;
    } else if (n == last) {
        last = n->prev;
        if (last)
            last->next = nullptr;
        else
            first = nullptr;
    } else {
        n->prev->next = n->next;
        n->next->prev = n->prev;
    }
    unknown* o = n->object;
    void* d = n->data;
    give_node(n);
    --count;
    if (delete_elements) {
        if (o)
            delete o;
        else
            ::operator delete(d);  // data elements of an owning list come from a non-array new
        return nullptr;
    }
    return d ? d : static_cast<void*>(o);
}

void* d_list::remove(unknown* o)
{
    return remove(get_node(o));
}

void* d_list::remove(void* d)
{
    return remove(get_node(d));
}

void* d_list::remove(int index)
{
    return remove(get_node_at_index(index));
}

d_node* d_list::get_node(unknown* o)
{
    // No node holds a null element (insert refuses them); a data node's null
    // object must not match.
    if (!o)
        return nullptr;
    for (d_node* n = first; n; n = n->next)
        if (n->object == o)
            return n;
    return nullptr;
}

d_node* d_list::get_node(void* d)
{
    if (!d)
        return nullptr;
    for (d_node* n = first; n; n = n->next)
        if (n->data == d)
            return n;
    return nullptr;
}

d_node* d_list::get_node_at_index(int i)
{
    if (i < 0)
        return nullptr;
    d_node* n = first;
    for (; n && i > 0; --i)
        n = n->next;
    return n;
}

void d_list::delete_nodes()
{
    while (first)
        remove(first);
    first = last = nullptr;
}

int d_list::cat(d_list* other)
{
    if (!other)
        return 0;
    // Count first: appending a list to itself takes its original elements once.
    int n = other->count;
    d_node* node = other->first;
    for (int i = 0; i < n && node; ++i, node = node->next) {
        int rc = node->object ? insert(node->object) : insert(node->data);
        if (rc != 0)
            return -1;
    }
    return 0;
}

void* make_array(d_list* l, int size)
{
    if (size < 1 || !l || l->count == 0) {
        ELOG(EL_MINDEBUG, "make_vert_array(): invalid parameters");
        return nullptr;
    }
    char* a = KD_NEW char[(size_t)l->count * (size_t)size];
    if (!a)
        return nullptr;
    char* dst = a;
    for (d_node* n = l->first; n; n = n->next, dst += size)
        memcpy(dst, n->object ? static_cast<void*>(n->object) : n->data, (size_t)size);
    return a;
}

void** make_ref_array(d_list* _elements, bool terminate)
{
    CHECK_PTR(_elements, nullptr);
    int n = _elements->count + (terminate ? 1 : 0);
    if (n == 0) {
        ELOG(EL_MINDEBUG, "make_ref_array(): invalid parameters");
        return nullptr;
    }
    void** a = KD_NEW void*[(size_t)n];
    if (!a)
        return nullptr;
    int i = 0;
    for (d_node* node = _elements->first; node; node = node->next)
        a[i++] = node->object ? static_cast<void*>(node->object) : node->data;
    if (terminate)
        a[i] = nullptr;
    return a;
}

int get_nelements(void** _ra)
{
    CHECK_PTR(_ra, 0);
    int n = 0;
    while (_ra[n])
        ++n;
    return n;
}

int make_list(d_list* _list, void** _ra)
{
    CHECK_PTR(_list, -1);
    CHECK_PTR(_ra, -1);
    for (; *_ra; ++_ra)
        if (_list->insert(static_cast<unknown*>(*_ra)) != 0)
            return -1;
    return 0;
}

}  // namespace vantrel
