/// @file
/// A minimal pattern matcher for names (mesh and animation selection).
/// @ingroup kdbase
#pragma once
/// @addtogroup kdbase
/// @{

#include "platform/export.h"

namespace vantrel {

/// Ignore case in character comparisons.
enum { REGEX_ICASE = 1 };

/// 1 when pattern matches somewhere in text, else 0. The dialect: "^" and "$"
/// anchor, "." matches any character, a backslash makes the next character
/// literal, "(abc)" is a fixed sequence (no nesting, no alternation), "[abc]"
/// and "[^abc]" are classes without ranges, and an atom may be followed by
/// "*", "{m}", "{m,}" or "{m,n}". Matching is greedy without backtracking; the
/// text may go on after the pattern's end, but running out of text while
/// pieces remain fails. A group, class or quantifier left open runs to the
/// pattern's end; a trailing backslash stands for itself. An empty text never
/// matches. Null arguments log "regex_match(): invalid parameters" -> 0.
VANTREL_API int regex_match(const char* pattern, const char* text, int flags);

}  // namespace vantrel
/// @}
