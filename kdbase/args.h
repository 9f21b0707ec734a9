/// @file
/// Command-line arguments: "-name value,value" or "-name=value,value" options
/// and single words, from argv or from one line of text.
/// @ingroup kdbase
#pragma once
/// @addtogroup kdbase
/// @{

#include <cstdio>

#include "platform/export.h"

namespace vantrel {

enum { ARGS_MAX = 128, ARGS_MAX_VALUES = 32, ARGS_MAX_NAME = 64 };

/// One parsed argument.
struct VANTREL_API arg_t {
    char* name;                      ///< owned copy, null while unused
    char* values[ARGS_MAX_VALUES];  ///< owned copies; the slot after the last value is null
    int nvalues;                     ///< -1 while the argument has no name
};

/// The arguments of a command line or of one line of text.
class VANTREL_API args_t {
public:
    arg_t args[ARGS_MAX];  ///< the first count are parsed
    int count;  ///< arguments parsed

    args_t();
    ~args_t();
    args_t(const args_t&) = delete;
    args_t& operator=(const args_t&) = delete;

    /// Parses at most 128 words (null words are skipped; more are logged and
    /// ignored). A word beginning with "-" starts an argument and takes the
    /// next word as its values when that does not begin with "-"; any other
    /// word is an argument by itself. "-size 640,480" and "-size=640,480" both
    /// give "size" with the values "640" and "480"; at most 31 values are kept.
    /// Replaces what was parsed before. Returns count, or -1 (logged) for
    /// syntax errors ("invalid syntax near: %s") and failed allocations; the
    /// arguments parsed before the failure stay.
    int parse(int argc, char** _argv);
    /// Splits _line into words with _get_next_token (double quotes group words
    /// and are removed) and parses them as above. _line is not changed.
    int parse(const char* _line);

    /// Finds the argument named _argname (compared up to 64 characters). When
    /// values is not null, copies its value pointers and the null after them
    /// into values (room for 32 pointers; they stay owned by this object).
    /// Returns its number of values, or -1 when absent or _argname is null.
    int get_arg(const char* _argname, char** values) const;
    /// Value i of the named argument, or null (owned by this object).
    char* get_value(const char* name, int i) const;

    /// "%s***%d argument(s) parsed\\n", then per argument
    /// "%s..[%d] %s=(" values separated by "," ") %d value(s)\\n". A null
    /// stream prints nothing.
    void dump_args(FILE* f, const char* tabs) const;

    /// strtok-like: a non-null s starts at s, null goes on after the last word.
    /// Skips blanks, tabs and line ends, then returns the next word, cut in place
    /// at the first blank, tab, carriage return or newline outside double
    /// quotes; the double quotes are removed from the text as they are met.
    /// Null at the end of the text.
    char* _get_next_token(char* s);

    /// Frees every argument; count becomes 0.
    void clear();

private:
    int _parse_arg(const char* _argstr, arg_t* a);
    char* next_token;
};

}  // namespace vantrel
/// @}
