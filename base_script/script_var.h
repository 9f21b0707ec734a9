/// @file
/// Script objects: an engine object that is at once a variable (an r_struct_p
/// pointing at its own member list) and a structure of its published fields.
/// A subclass publishes members from its own make_visible(), called from its
/// reset routine after empty().
/// @ingroup base_script
#pragma once
/// @addtogroup base_script
/// @{

#include "kdbase/r_struct.h"

namespace vantrel {

/// An engine object published to scripts: a variable that points at the structure of its members.
class VANTREL_API script_var : public r_var, public r_struct {
public:
    int stride;  ///< sizeof the concrete class, set by its make_visible; 0 before

    ///@{
    /// Variable part "__noname", r_struct_p, count 1, value: its own structure
    /// part, which refers to its members without owning them.
    script_var();
    script_var(const script_var&) = delete;
    script_var& operator=(const script_var&) = delete;
    ///@}

    /// Publishes member under a private copy of _name with type t and _count
    /// elements (the member's storage must hold them: set_storage for arrays).
    /// 0; -1 (logged) when the storage is too small, _count is below 1 or the
    /// name cannot be copied. A name already published throws member (r_var*):
    /// publishing twice is a programming error. A null member does nothing (0).
    int add(r_var* member, const char* _name, r_type t, int _count);
    /// The member of that name or null; a null name logs "get_var(char *): invalid parameters".
    r_var* get_var(const char* _name);
    /// The member of that name; a missing one is fatal (r_struct's operator[]).
    r_var* operator[](const char* _name) { return r_struct::operator[](_name); }
    /// Address of element i of the object's own variable part.
    void* operator[](int i) { return r_var::operator[](i); }
    /// The i-th object of an array of objects of the same class starting here.
    script_var* get_array_element(unsigned int i);
    /// The members' total size.
    int size() { return r_struct::size(); }
    /// Copies as a variable does (r_var::copy).
    int copy(r_var* src) { return r_var::copy(src); }
    /// Copies the members as a structure does (r_struct::copy).
    int copy(r_struct* src) { return r_struct::copy(src); }
    /// Forgets every member and frees the names add gave them.
    void empty();
    /// Publishes nothing; subclasses hide it with their own.
    void make_visible() {}
};

}  // namespace vantrel
/// @}
