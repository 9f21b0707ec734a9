/// @file
/// Script files: each line is empty or opens a block of a plug-in language
/// (". config"), which runs to a closing line ("./config") and is handed whole
/// to the plug-in together with the shared scope.
/// @ingroup base_script
#pragma once
/// @addtogroup base_script
/// @{

#include <cstdio>

#include "base_script/base_script.h"

namespace vantrel {

class dot_script;
class r_struct;

/// Limits of the script-file language.
enum {
    /// Room of dot_script::keyword_table.
    DS_MAX_KEYWORDS = 32,
    /// Room of dot_script::plugins.
    DS_MAX_PLUGINS = 16,
    DS_MAX_NESTING = 32,  ///< script files running inside each other ("include")
};

/// A keyword of the script language.
class VANTREL_API dot_keyword : public s_token {
public:
    /// The keyword _name (copied).
    explicit dot_keyword(const char* _name);
    /// Runs the rest of a script line (the keyword token already removed);
    /// f is the open script file, from which a block reads its lines.
    virtual int process(FILE* f, d_list* tokens, dot_script* script) = 0;
};

/// "\\n": an empty line; does nothing.
class VANTREL_API kw_newline : public dot_keyword {
public:
    kw_newline();
    int process(FILE* f, d_list* tokens, dot_script* script) override;
};

/// ".": opens a plug-in block.
class VANTREL_API kw_plugin_start : public dot_keyword {
public:
    s_token end_prefix;  ///< "./": a closing line begins with it and the plug-in name

    kw_plugin_start();
    /// Finds the plug-in named by the first token, reads the block with the
    /// plug-in's tokenizer settings (the script's own are restored afterwards,
    /// whatever happens) and runs it with the rest of the line as arguments.
    /// 0, -1, or the plug-in's failing statement number (1-based in the block).
    int process(FILE* f, d_list* tokens, dot_script* script) override;
};

/// A language that runs blocks of a script file.
class VANTREL_API dot_plugin : public base_script {
public:
    s_token name;       ///< the word after "." that selects this plug-in
    r_struct* scope;    ///< shared scope, not owned; set by the script before each block
    dot_script* script; ///< the running script, not owned; set before each block

    /// A plug-in selected by _name (copied); no scope or script until the
    /// script sets them.
    explicit dot_plugin(const char* _name);
    /// Runs a block: args is what followed the name on the opening line (with
    /// its newline), tokens the block's tokens (not owned by the plug-in; it
    /// may take and delete them). 0, -1, or the 1-based number of the failing
    /// statement.
    virtual int process(d_list* args, d_list* tokens) = 0;
};

/// One script file being run: its own line numbering and the tokenizer
/// settings to return to when it ends.
struct script_context {
    /// The file's path as given to dot_script::process (not owned).
    const char* path;
    int consumed;  ///< lines a block read while its opening line ran
    /// The script's identifier characters when the file began.
    const char* charset;
    /// The script's keyword table when the file began.
    s_token** keywords;
};

/// The script-file language: runs a file line by line, hands each block to the
/// registered plug-in it names, and reports the file line of a failure. Its own
/// tokenizer settings: identifiers run up to a blank, tab or newline.
class VANTREL_API dot_script : public base_script {
public:
    /// The keyword ".", which opens a block.
    kw_plugin_start plugin_start;
    /// The keyword "\\n" of an empty line.
    kw_newline newline;
    s_token* keyword_table[DS_MAX_KEYWORDS];  ///< ".", "\\n", then null
    /// Registered plug-ins (not owned): the list ends at the first null entry
    /// or after the sixteenth.
    dot_plugin* plugins[DS_MAX_PLUGINS];
    r_struct* globals;  ///< the shared scope handed to each plug-in; not owned

    dot_script();
    ~dot_script() override;

    /// Stores p in the first free plug-in slot. 0, or -1 for null p or a full table.
    int add_plugin(dot_plugin* p);

    /// Runs the script file at path (relative to the current directory). 0
    /// when every line succeeded; -1, or the file line number of a failing
    /// plug-in statement, logged as "%s (%d): error running script". Runs
    /// re-entrantly from inside a plug-in, at most 32 files deep.
    int process(const char* path);
    /// Runs one tokenized script line; tokens are consumed (the keyword
    /// deleted, the rest handed on). 0, -1 or a plug-in's statement number.
    int process_line_tokens(FILE* f, d_list* tokens);
    /// The keyword whose text begins the token's text, or null.
    dot_keyword* get_keyword(s_token* t);
    /// The first registered plug-in whose name equals the token, or null.
    dot_plugin* get_plugin(s_token* t);
    /// Tokenizes lines of f into out, with the current settings, up to the
    /// line that begins (after blanks and tabs) with the text of end. 0, or -1
    /// at the end of the file (the block was not closed) or on failure.
    int tokenize_upto(FILE* f, s_token* end, d_list* out);

    /// Files being run, innermost last.
    int depth() const { return ndepth; }

private:
    script_context contexts[DS_MAX_NESTING];
    int ndepth;
};

}  // namespace vantrel
/// @}
