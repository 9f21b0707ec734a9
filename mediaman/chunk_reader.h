/// @file
/// A generic reader for binary files of nested chunks whose header declares an
/// id and a total length (header, own data and sub-chunks). The header layout
/// is the client's: a reflective structure with at least an "id" and a "size"
/// variable, read field by field in the file's byte order.
/// @ingroup mediaman
#pragma once
/// @addtogroup mediaman
/// @{

#include "kdbase/cfile.h"
#include "kdbase/d_list.h"
#include "kdbase/r_struct.h"
#include "kdbase/unknown.h"

namespace vantrel {

/// Deepest nesting of sub-chunks the reader follows.
enum { CHUNK_MAX_DEPTH = 1024 };

/// One chunk of the tree built while reading.
class VANTREL_API chunk_node : public unknown {
public:
    r_struct header;   ///< a copy of the client's template, filled from the file
    /// The chunk's decoded data, as its processor stored it (set_data or
    /// set_object), or null. The destructor leaves it alone; the reader frees
    /// it with data_deleter when it frees the tree (_delete_hierarchy_data).
    void* data;
    chunk_node* parent;  ///< null for the root
    d_list children;     ///< chunk_node, in file order; owned
    /// Frees data; null when the tree does not own it (data stored directly
    /// without a deleter stays the processor's to free).
    void (*data_deleter)(void*);

    chunk_node();
    ///@{
    /// Deletes the header variables and every child.
    ~chunk_node() override;
    chunk_node(const chunk_node&) = delete;
    chunk_node& operator=(const chunk_node&) = delete;
    ///@}

    /// Stores d as the data; the tree frees it with del (null: not freed).
    /// Data stored before is freed first.
    void set_data(void* d, void (*del)(void*));
    /// Stores an object made with plain KD_NEW T; the tree frees it with
    /// plain delete.
    template <class T> void set_object(T* o)
    {
        set_data(o, [](void* p) { delete static_cast<T*>(p); });
    }
};

/// Reads the own data of the chunks of one id.
class VANTREL_API chunk_proc {
public:
    unsigned short id;  ///< the chunk id this processor reads

    /// A processor of chunks of id _id.
    explicit chunk_proc(unsigned short _id = 0);
    ///@{
    /// Called with f just behind the chunk's header: reads the chunk's own data
    /// (not its sub-chunks), may store a result with node->set_object or
    /// node->set_data. 0 or -1; on -1 the reader frees what was stored.
    virtual int read_data(CFileE& f, chunk_node* node) = 0;
    virtual ~chunk_proc();
    ///@}
};

/// Skips a chunk whole: its own data and all its sub-chunks.
class VANTREL_API default_proc : public chunk_proc {
public:
    /// A processor that skips the chunk.
    explicit default_proc(unsigned short _id = 0);
    /// -1 for a null node ("default_proc::read_data(): invalid parameters"), a
    /// size smaller than the header or one that runs past the end of the file.
    int read_data(CFileE& f, chunk_node* node) override;
};

/// The client of the reader: the header template, the processors and what is
/// done with the finished tree.
class VANTREL_API data_container {
public:
    /// The header template: an "id" (r_ushort16) and a "size" (r_uint32, the
    /// chunk's total length in bytes, header included), in the client's order,
    /// among any further fields.
    r_struct header;
    chunk_proc** procs;  ///< null-terminated, or null; not owned
    /// Used for ids without a processor, or null. Not owned. (The field hides
    /// the class of the same name here: write vantrel::default_proc for it.)
    chunk_proc* default_proc;

    data_container();
    data_container(const data_container&) = delete;
    data_container& operator=(const data_container&) = delete;

    ///@{
    /// Receives the complete tree; -1 on failure. To keep a node's data, copy
    /// the pointer and set node->data to null (it is then the client's, to be
    /// freed as its processor made it): the data left in the tree is freed
    /// with it after this returns.
    virtual int process_tree(chunk_node* root) = 0;
    virtual ~data_container();
    ///@}
    /// The first processor for id, or null.
    chunk_proc* get_chunk_proc(unsigned short id);
};

/// Reads one root chunk with its whole subtree from the current position and
/// hands the tree to dc->process_tree. 0 when it was read and processed, else
/// -1. The tree (and the data left in it) is deleted before returning.
VANTREL_API int read_chunk_file(CFileE& f, data_container* dc);
/// Reads one chunk and its subtree; the caller owns the node. Null on failure
/// (logged), with everything read so far released.
VANTREL_API chunk_node* _read_chunk(CFileE& f, data_container* dc);
/// Unpacks node->header from f: 0 when all of its bytes were read, else -1.
VANTREL_API int _read_chunk_header(CFileE& f, chunk_node* node);
/// Frees the data of node and of all its descendants, each with the deleter
/// its processor gave, and clears data and deleter. The nodes stay.
VANTREL_API void _delete_hierarchy_data(chunk_node* node);

}  // namespace vantrel
/// @}
