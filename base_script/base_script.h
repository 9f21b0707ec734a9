/// @file
/// The tokenizer shared by the script-file and configuration languages: turns a
/// line, or a whole open file, into a list of s_token whose names are the
/// token texts. Each language configures it with a keyword table, an
/// identifier character set and a quote string, and interprets the tokens itself.
/// @ingroup base_script
#pragma once
/// @addtogroup base_script
/// @{

#include <cstdio>

#include "platform/export.h"
#include "kdbase/s_token.h"
#include "kdbase/unknown.h"

namespace vantrel {

class d_list;
struct d_node;

enum {
    BS_MAX_LINE = 2048,   ///< bytes per read from a file, terminator included
    BS_MAX_IDENT = 255,   ///< characters of a keyword token or an identifier run
    BS_MAX_QUOTED = 1024, ///< characters between the quotes of a string token
};

/// Splits script text into tokens: identifier runs of a character class, keywords, quoted strings.
class VANTREL_API base_script : public unknown {
public:
    /// Body of a scanf character class that defines an identifier run
    /// ("_a-zA-Z0-9", "^ \\t\\n"); not owned, null until a language sets it.
    const char* charset;
    /// Null-terminated keyword table in priority order; not owned, null until set.
    s_token** keywords;
    /// The quote string; "\\"" after construction.
    s_token quote;

    base_script();

    /// Recognises one token at the very start of text (no space skipping): a
    /// keyword (first prefix in table order), a quoted string (always closed
    /// with the quote), a number, an identifier run of at most 255 characters,
    /// or else the single character. Returns a new token (caller owns), or null
    /// on failure (logged).
    s_token* get_next_valid_token(const char* text);
    /// Appends the tokens of line to out, skipping blanks and tabs between
    /// them. 0, or -1 (logged); tokens appended before a failure stay in out.
    int tokenize_line(const char* line, d_list* out);
    /// Reads f line by line (at most 2047 characters a line; a line's newline
    /// is kept and becomes a token) and appends every line's tokens to out.
    /// 0 at end of file, -1 on failure (logged); appended tokens stay.
    int tokenize(FILE* f, d_list* out);

private:
    /// The identifier class compiled from charset, rebuilt when charset changes.
    bool ident[256];
    char compiled[BS_MAX_IDENT + 1];
    const char* compiled_from;
    void compile_charset();
    void refresh_charset();
    size_t ident_run(const char* text);
    s_token* next_token(const char* text);
};

/// Removes the node from the list and deletes its token, whether or not the
/// list owns its elements. Null arguments do nothing.
VANTREL_API void delete_token_node(d_list* l, d_node* n);

}  // namespace vantrel
/// @}
