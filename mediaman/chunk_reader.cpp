#include "mediaman/chunk_reader.h"

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

chunk_node::chunk_node() : data(nullptr), parent(nullptr), children(1), data_deleter(nullptr) {}

chunk_node::~chunk_node()
{
    header.empty();
    children.delete_nodes();
}

void chunk_node::set_data(void* d, void (*del)(void*))
{
    if (data && data != d && data_deleter)
        data_deleter(data);
    data = d;
    data_deleter = del;
}

chunk_proc::chunk_proc(unsigned short _id) : id(_id) {}

chunk_proc::~chunk_proc() = default;

data_container::data_container() : procs(nullptr), default_proc(nullptr) {}

data_container::~data_container() = default;

chunk_proc* data_container::get_chunk_proc(unsigned short id)
{
    if (!procs)
        return nullptr;
    for (chunk_proc** p = procs; *p; ++p)
        if ((*p)->id == id)
            return *p;
    return nullptr;
}

// The value of an unsigned header field, or -1 when the header has no such
// integer variable (or holds a negative value in a signed one).
static long long header_value(r_struct& h, const char* name)
{
    r_var* v = h.get_var(name);
    if (!v)
        return -1;
    switch (v->type) {
    case r_uint32:
        return v->ui_value();
    case r_ushort16:
        return v->us_value();
    case r_uchar8:
        return v->uc_value();
    case r_char:
    case r_int: {
        int x = v->value();
        return x < 0 ? -1 : x;
    }
    default:
        return -1;
    }
}

default_proc::default_proc(unsigned short _id) : chunk_proc(_id) {}

int default_proc::read_data(CFileE& f, chunk_node* node)
{
    if (!node) {
        ELOG(EL_MINDEBUG, "default_proc::read_data(): invalid parameters");
        return -1;
    }
    long long skip = header_value(node->header, "size") - node->header.size();
    if (skip < 0 || skip > f.GetSize() - f.GetPos()) {
        ELOG(EL_MINDEBUG, "default_proc::read_data(): chunk size does not fit the file");
        return -1;
    }
    return f.Forward((long)skip) ? 0 : -1;
}

int _read_chunk_header(CFileE& f, chunk_node* node)
{
    if (!node) {
        ELOG(EL_MINDEBUG, "_read_chunk_header(): invalid parameters");
        return -1;
    }
    return node->header.unpack(&f) == node->header.size() ? 0 : -1;
}

void _delete_hierarchy_data(chunk_node* node)
{
    if (!node) {
        ELOG(EL_MINDEBUG, "_delete_hierarchy_data(): invalid parameters");
        return;
    }
    // Each block goes back the way its processor made it.
    if (node->data && node->data_deleter)
        node->data_deleter(node->data);
    node->data = nullptr;
    node->data_deleter = nullptr;
    for (d_node* n = node->children.first; n; n = n->next)
        _delete_hierarchy_data(static_cast<chunk_node*>(n->object));
}

static void free_tree(chunk_node* node)
{
    _delete_hierarchy_data(node);
    delete node;
}

static chunk_node* read_node(CFileE& f, data_container* dc, int depth)
{
    if (depth >= CHUNK_MAX_DEPTH) {
        ELOG(EL_MINDEBUG, "_read_chunk(): chunks nested deeper than %d", CHUNK_MAX_DEPTH);
        return nullptr;
    }
    chunk_node* node = KD_NEW chunk_node;
    if (!node) {
        ELOG(EL_MINDEBUG, "_read_chunk(): unable to allocate chunk_node");
        return nullptr;
    }
    if (node->header.copy(&dc->header) < 0) {
        delete node;
        return nullptr;
    }
    long p0 = f.GetPos();
    long long id = -1;
    long long size = -1;
    try {
        if (_read_chunk_header(f, node) < 0)
            throw -1;
        id = header_value(node->header, "id");
        size = header_value(node->header, "size");
        if (id < 0 || size < 0) {
            ELOG(EL_MINDEBUG, "_read_chunk(): the header has no \"id\" or no \"size\"");
            free_tree(node);
            return nullptr;
        }
        long consumed = f.GetPos() - p0;
        if (size < consumed) {
            ELOG(EL_MINDEBUG, "_read_chunk(): chunk not processed correctly: id(%d) size(%d) read(%d)", (int)id,
                 (int)size, (int)consumed);
            free_tree(node);
            return nullptr;
        }
        // The declared length must lie within the file before anything trusts it.
        if (size > f.GetSize() - p0) {
            ELOG(EL_MINDEBUG, "_read_chunk(): reached eof while reading chunk");
            free_tree(node);
            return nullptr;
        }
        chunk_proc* proc = dc->get_chunk_proc((unsigned short)id);
        if (!proc) {
            if (!dc->default_proc) {
                ELOG(EL_MINDEBUG, "_read_chunk(): don't now how to handle chunk %d", (int)id);
                free_tree(node);
                return nullptr;
            }
            if (dc->default_proc->read_data(f, node) < 0) {
                free_tree(node);
                return nullptr;
            }
            return node;
        }
        if (proc->read_data(f, node) < 0) {
            ELOG(EL_MINDEBUG, "_read_chunk(): unable to process chunk %d", (int)id);
            free_tree(node);
            return nullptr;
        }
    } catch (int) {
        if (f.Error()) {
            ELOG(EL_MINOR, "_read_chunk(): error occured while reading file %s", f.Name());
            free_tree(node);
            return nullptr;
        }
        if (f.Eof() || size < 0 || f.GetPos() > p0 + size) {
            ELOG(EL_MINDEBUG, "_read_chunk(): reached eof while reading chunk");
            free_tree(node);
            return nullptr;
        }
    }
    long consumed = f.GetPos() - p0;
    while (size > consumed) {
        chunk_node* child = read_node(f, dc, depth + 1);
        if (!child) {
            free_tree(node);
            return nullptr;
        }
        child->parent = node;
        if (node->children.insert(child) < 0) {
            ELOG(EL_MINDEBUG, "_read_chunk(): unable to add sub chunk %d to chunk %d hierarchy",
                 (int)header_value(child->header, "id"), (int)id);
            free_tree(child);
            free_tree(node);
            return nullptr;
        }
        consumed = f.GetPos() - p0;
    }
    if (size < consumed) {
        ELOG(EL_MINDEBUG, "_read_chunk(): chunk not processed correctly: id(%d) size(%d) read(%d)", (int)id,
             (int)size, (int)consumed);
        free_tree(node);
        return nullptr;
    }
    return node;
}

chunk_node* _read_chunk(CFileE& f, data_container* dc)
{
    if (!dc) {
        ELOG(EL_MINDEBUG, "_read_chunk(): invalid parameters");
        return nullptr;
    }
    return read_node(f, dc, 0);
}

int read_chunk_file(CFileE& f, data_container* dc)
{
    if (!dc) {
        ELOG(EL_MINDEBUG, "read_chunk_file(CFileE): invalid parameters");
        return -1;
    }
    if (!f.IsOpen()) {
        ELOG(EL_MINDEBUG, "read_chunk_file(CFileE): file is not open");
        return -1;
    }
    chunk_node* root = _read_chunk(f, dc);
    if (!root)
        return -1;
    int r = dc->process_tree(root);
    free_tree(root);
    return r < 0 ? -1 : 0;
}

}  // namespace vantrel
