/// @file
/// The doubly linked list of the library: holds objects (unknown*) or raw data
/// pointers in insertion order, and owns them when its delete flag is set.
/// @ingroup kdbase
#pragma once
/// @addtogroup kdbase
/// @{

#include "kdbase/unknown.h"

namespace vantrel {

/// One link of a d_list; the list makes and frees its nodes.
struct VANTREL_API d_node {
    /// The next node towards the tail; null at the tail.
    d_node* next;
    /// The node before; null at the head.
    d_node* prev;
    unknown* object;  ///< exactly one of object and data is set
    /// A raw data element (not an object). An owning list frees it with plain
    /// operator delete (no destructor runs): it must come from a non-array new.
    void* data;

    ///@{
    /// A node for an object or a data pointer, linked after _prev (by the caller).
    d_node(unknown* o, d_node* _prev) : next(nullptr), prev(_prev), object(o), data(nullptr) {}
    d_node(void* d, d_node* _prev) : next(nullptr), prev(_prev), object(nullptr), data(d) {}
    ///@}
};

/// A list of objects or data pointers in insertion order. The list owns its
/// nodes; it owns its elements only when delete_elements is set.
class VANTREL_API d_list {
public:
    /// Head node; null for an empty list.
    d_node* first;
    /// Tail node; null for an empty list.
    d_node* last;
    /// Nodes in the list.
    int count;
    int delete_elements;  ///< nonzero: the list owns (deletes) its elements

    /// An empty list; nonzero _delete_elements makes it own its elements.
    explicit d_list(int _delete_elements = 0);
    ~d_list();
    d_list(const d_list&) = delete;
    d_list& operator=(const d_list&) = delete;

    /// Resets to an empty list with the given ownership without freeing the
    /// nodes it held: call delete_nodes first on a list in use.
    void init_list(int _delete_elements);

    ///@{
    /// Append at the tail. 0, or -1 for a null element or a failed allocation.
    int insert(unknown* o);
    int insert(void* d);
    ///@}
    ///@{
    /// Unlink and free the node. An owning list deletes the element and gives
    /// 0; otherwise the element is returned. Null/unmatched: 0, no change.
    void* remove(d_node* n);
    void* remove(unknown* o);
    void* remove(void* d);
    void* remove(int index);
    ///@}
    ///@{
    /// The first node holding o (d); null when none or for a null argument.
    d_node* get_node(unknown* o);
    d_node* get_node(void* d);
    d_node* get_node_at_index(int i);
    ///@}
    /// Removes every node (owned elements are deleted).
    void delete_nodes();
    /// Appends other's elements (shared); 0, or -1 at the first failed insert.
    int cat(d_list* other);
};

/// count * size bytes copied from the elements in order (caller delete[]s).
VANTREL_API void* make_array(d_list* l, int size);
/// The element pointers in order, plus a null entry when terminate (delete[]).
VANTREL_API void** make_ref_array(d_list* _elements, bool terminate);
/// Entries before the first null.
VANTREL_API int get_nelements(void** _ra);
/// Inserts the entries of the null-terminated array as objects; 0 or -1.
VANTREL_API int make_list(d_list* _list, void** _ra);

}  // namespace vantrel
/// @}
