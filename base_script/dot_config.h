/// @file
/// The configuration language, the "config" plug-in of script files: each line
/// of a block is a statement that declares shared variables ("dc_add"), sets
/// them from text ("dc_set"), runs further script files ("include"), or is an
/// expression of assignments and calls over variable paths in the shared scope:
///   dc_add speed 1.5
///   cam->viewport[2].width = 640
///   set_v(&light, 1.0, 0.5, 0.0, 1.0)
/// Statements run top to bottom; the first failing one ends the block.
/// @ingroup base_script
#pragma once
/// @addtogroup base_script
/// @{

#include "base_script/dot_script.h"
#include "kdbase/r_struct.h"

namespace vantrel {

class dot_config;
class script_func;
class script_var;
struct call_frame;

/// A keyword of the configuration language: its text and how many tokens may
/// follow it when it begins a statement.
class VANTREL_API kw_config : public s_token {
public:
    /// Fewest tokens that may follow the keyword at the start of a statement.
    int min_args;
    /// Most tokens that may follow it; a statement outside the range fails
    /// with "%s: %s does not take %d arguments".
    int max_args;

    /// The keyword _name (copied) and its argument range.
    kw_config(const char* _name, int _min_args, int _max_args);
    /// Runs a statement begun by this keyword (the keyword token removed).
    /// Does nothing in kw_config: 0.
    virtual int process(d_list* args, dot_config* cfg, void* extra);
};

/// 'dc_add name [value [type]]': declares a variable owned by the plug-in and
/// shares it in the scope.
class VANTREL_API config_dc_add : public kw_config {
public:
    config_dc_add();
    int process(d_list* args, dot_config* cfg, void* extra) override;
};

/// 'dc_set name value': sets a shared variable from text.
class VANTREL_API config_dc_set : public kw_config {
public:
    config_dc_set();
    int process(d_list* args, dot_config* cfg, void* extra) override;
};

/// 'include "file"': runs a script file in the middle of the block.
class VANTREL_API config_include : public kw_config {
public:
    config_include();
    int process(d_list* args, dot_config* cfg, void* extra) override;
};

/// "[": reads an index (a number, or the int value of a variable path) and
/// the tokens up to and including "]" into the int that extra points to.
class VANTREL_API config_index_start : public kw_config {
public:
    config_index_start();
    int process(d_list* tokens, dot_config* cfg, void* extra) override;
};

/// The keywords without a statement of their own.
#define VANTREL_CONFIG_KEYWORD(cls)         \
    class VANTREL_API cls : public kw_config { \
    public:                                 \
        cls();                              \
    };
VANTREL_CONFIG_KEYWORD(config_newline)
VANTREL_CONFIG_KEYWORD(config_comment)
VANTREL_CONFIG_KEYWORD(config_index_end)
VANTREL_CONFIG_KEYWORD(config_dot)
VANTREL_CONFIG_KEYWORD(config_arrow)
VANTREL_CONFIG_KEYWORD(config_equal)
VANTREL_CONFIG_KEYWORD(config_paren_start)
VANTREL_CONFIG_KEYWORD(config_paren_end)
VANTREL_CONFIG_KEYWORD(config_comma)
VANTREL_CONFIG_KEYWORD(config_percent)
VANTREL_CONFIG_KEYWORD(config_ampersand)
#undef VANTREL_CONFIG_KEYWORD

/// Limits of the configuration language.
enum {
    /// Room of dot_config::kw_table.
    DC_MAX_KEYWORDS = 128,
    /// Depth of nested evaluation (chained "=", calls and indexes inside each
    /// other) at which a statement is refused rather than exhausting the stack.
    DC_MAX_NESTING = 200,
};

/// The plug-in. Names are looked up in scope, the shared scope the script
/// hands over: it must not own its variables (r_struct(false)), since the
/// variables "dc_add" declares are owned by store and only listed there. They
/// stay listed until this object is destroyed; the scope must not be used to
/// reach them afterwards.
class VANTREL_API dot_config : public dot_plugin {
public:
    ///@{
    /// The keywords, in table order: "dc_add" (1 to 3 arguments), "dc_set" (2),
    /// "\\n" (ends a statement), "#" (comment to the end of the line), "[" (1 or
    /// more), "]", ".", "->", "=", "(", ")", ",", "%", "&", "include" (1). The
    /// order decides which keyword a text that begins with several matches.
    config_dc_add kw_dc_add;
    config_dc_set kw_dc_set;
    config_newline kw_newline;
    config_comment kw_comment;
    config_index_start kw_index_start;
    config_index_end kw_index_end;
    config_dot kw_dot;
    config_arrow kw_arrow;
    config_equal kw_equal;
    config_paren_start kw_paren_start;
    config_paren_end kw_paren_end;
    config_comma kw_comma;
    config_percent kw_percent;
    config_ampersand kw_ampersand;
    config_include kw_include;
    ///@}
    /// The fifteen keywords above in priority order, then null.
    s_token* kw_table[DC_MAX_KEYWORDS];
    /// The declared variables: not an owning list, but deleted (with their
    /// names) by the destructor.
    r_struct store;

    /// The plug-in "config" with its keyword table and identifier characters
    /// "_a-zA-Z0-9"; texts are quoted with double quotes.
    dot_config();
    ~dot_config() override;

    /// Runs a block (tokens not owned; taken tokens are deleted). 0, the
    /// number (from 1) of the first failing statement, or -1 for bad
    /// arguments or a statement without its newline.
    int process(d_list* _args, d_list* _tokens) override;
    /// Moves the tokens of the next statement from _tokens to _linetoks; the
    /// newline that ends it is deleted. 0, or -1 when no newline comes.
    int glob_statement(d_list* _tokens, d_list* _linetoks);
    /// Runs one statement (its tokens are consumed). 0 or -1.
    int process_line_tokens(d_list* _linetoks);
    /// The keyword whose text begins the token's text, or null.
    kw_config* get_keyword(s_token* t);

    /// Evaluates the front of _expr into element *_index of _lval: literals,
    /// quoted texts, "%" (the variable itself), "&" (the address of an
    /// element), variable paths, calls and "=" chains (right to left). 0 or -1.
    int evaluate_expression(d_list* _expr, r_var* _lval, int* _index);
    /// Resolves the variable path at the front of tokens (name, "[index]",
    /// "(arguments)", "." and "->" members), looking the first name up in
    /// within, or else in scope. Sets *index to the element selected. The
    /// variable, or null (logged). "obj[k].member" takes the k-th object of the
    /// array of script objects that starts at obj, by the object's stride
    /// (its count is not consulted: the host that publishes an object with a
    /// stride vouches for the array); an object with stride 0 is no array.
    r_var* get_rightmost_var(d_list* tokens, int* index, script_var* within);
    /// Binds the arguments after "(" up to ")" and calls _f; stores the result
    /// in _f's variable. The call's status (-1: failed), or -1.
    int _do_function_call(script_func* _f, d_list* _args);
    /// Binds the arguments to _f's argument words; the texts of "s" arguments
    /// are listed in strings (the caller frees them with delete[]). An "F",
    /// "I" or "V" argument must not be null (an empty argument is null). An
    /// "F" or "I" pointer must have a known room that holds what the function
    /// reads or writes there (a vector, a matrix or one int): the rest of the
    /// variable from the element "&" took, the room a pointer variable was
    /// assigned with by a script ("p = &v"), or the vector an "F" function
    /// returns. A pointer of unknown room (set by engine code, not through a
    /// script) is refused. 0 or -1.
    int _set_args(script_func* _f, d_list* _args, d_list& strings);

private:
    friend class nesting_guard;
    int nesting;
    /// Bytes the last evaluated pointer value may reach (-1: unknown, or not a
    /// pointer); checked against what an "F" or "I" argument needs.
    long address_room;
    /// The rooms of pointers scripts stored in variables (pointer_room
    /// records, freed by the destructor): a pointer keeps its room as long as
    /// its variable still holds it.
    d_list pointer_rooms;
    void note_room(r_var* holder, int element, long room);
    long room_of(r_var* holder, int element);
    void forget_rooms();
    bool pointer_fits(script_func* _f, int i, char letter, uintptr_t pointer);
    r_var* resolve_path(d_list* tokens, int* index, r_struct* within);
    ///@{
    /// _set_args into a frame of the call's own, so calls nested in the
    /// argument list do not overwrite it.
    int bind_args(script_func* _f, d_list* _args, d_list& strings, call_frame& frame);
    bool is_quoted(const char* text) const;
    ///@}
};

/// Removes from tokens the run that starts with a token equal to start (from
/// the front when start is null) and ends with the first token equal to end;
/// inclusive removes the two delimiters too. Removed tokens are deleted when
/// the list owns them. 0 when the run was closed or never opened, -1 when end
/// never came (everything after the start is then gone) or for null arguments.
VANTREL_API int remove_delimitted_tokens(d_list* _tokens, s_token* start, s_token* _end, bool inclusive);

}  // namespace vantrel
/// @}
