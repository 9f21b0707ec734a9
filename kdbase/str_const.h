// A named integer constant, as published to scripts and configuration files.
#pragma once

namespace vantrel {

// Arrays of constants end with an entry whose name is the empty text (value -1).
struct str_const_t {
    const char* name;
    int value;
};

}  // namespace vantrel
