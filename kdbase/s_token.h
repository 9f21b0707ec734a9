/// @file
/// Named objects and the token helpers.
/// @ingroup kdbase
#pragma once
/// @addtogroup kdbase
/// @{

#include <cstdio>

#include "kdbase/unknown.h"

namespace vantrel {

class d_list;

/// A named object: the base of everything the engine finds by name.
class VANTREL_API s_token : public unknown {
public:
    /// Null, this token's own short-name room, or an owned heap copy
    /// (delete[]); see set_name.
    char* name;

    /// Takes a copy of _name (null: no name), as set_name does.
    explicit s_token(const char* _name = nullptr);
    ~s_token() override;
    s_token(const s_token&) = delete;

    ///@{
    /// Stores a copy of _name: in the token itself when it is shorter than
    /// short_name_room, else on the heap. When a heap copy cannot be allocated
    /// the name becomes the fixed text "out of memory" (not owned). Null
    /// clears (and frees) it.
    void set_name(const char* _name);
    s_token& operator=(const char* _name);
    s_token& operator=(const s_token&) = delete;
    ///@}
    ///@{
    /// Equal when both names are set and their first 255 characters agree;
    /// a missing name logs "s_token::==(): token names not set" and gives false.
    bool operator==(s_token& t);
    bool operator!=(s_token& t);
    ///@}
    /// set_name(_tok->name); null _tok logs the invalid-pointer message.
    void copy(s_token* _tok);

    /// Characters (with the terminating NUL) a name may have to be kept in
    /// the token, without an allocation of its own.
    enum { short_name_room = 24 };

private:
    /// Most names are short ids read by the thousand: they live here.
    char short_name[short_name_room];

    bool owns_name() const;
};

/// A new array holding s (at most max - 1 characters unless max is -1), always
/// terminated; release with delete[]. Null s logs "invalid parameters" -> null.
VANTREL_API char* alloc_str(const char* s, int max);
/// An unnamed token with a name buffer of len + 1 characters (empty). Null on
/// failure, nothing left allocated.
VANTREL_API s_token* alloc_token(int len);
/// The first token of the null-terminated array whose whole name is a prefix of text.
VANTREL_API s_token* get_token(const char* text, s_token** tokens);
/// The first token in the list whose name equals name (up to 255 characters).
VANTREL_API s_token* get_token(const char* name, d_list* tokens);
/// "[%d] %s\\n" per token, then "\\n%d token(s)\\n".
VANTREL_API void dump_token_l(FILE* f, d_list* l);

}  // namespace vantrel
/// @}
