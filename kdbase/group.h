/// @file
/// Group membership: an object belongs to at most one named group, and groups
/// form a tree through their own parent.
/// @ingroup kdbase
#pragma once
/// @addtogroup kdbase
/// @{

#include <cstdio>

#include "kdbase/s_token.h"

namespace vantrel {

class group_t;

/// A named object that may belong to a group.
class VANTREL_API groupable_t : public s_token {
public:
    group_t* parent;  ///< not owned; null without a group

    groupable_t();
    /// 0 when names and parents' names agree, -1 otherwise with the reason
    /// logged ("invalid parameters", "unequal names", "unequal parents", "parents differe").
    int compare(groupable_t* g);
    /// Copies the name and shares the parent pointer.
    void copy(groupable_t* _g);
    /// "%sname=%s parent=%s\\n"; a null prefix writes "(invalid groupable)\\n".
    virtual void dump(FILE* f, const char* tabs);
};

/// A group: a named object other objects name as their parent.
class VANTREL_API group_t : public groupable_t {
public:
    /// As groupable_t::copy.
    void copy(group_t* _g);
    /// As groupable_t::dump; a null prefix writes "(invalid group)\\n".
    void dump(FILE* f, const char* tabs) override;
};

/// A new group with that name (caller owns it); null name -> "invalid parameters", null.
VANTREL_API group_t* create_group(const char* name);

}  // namespace vantrel
/// @}
