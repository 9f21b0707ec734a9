// Published objects for the configuration tests and the script benchmark:
// an int, a 4-float vector and a text under names of the caller's choice.
// player_t is the object of the README's configuration example.
#pragma once

#include "base_script/script_var.h"

namespace vantrel_test {

class published_t : public vantrel::script_var {
public:
    vantrel::r_var i, v, s;  // int, 4 floats, text
    float vec[4] = {0, 0, 0, 0};

    published_t(const char* object, const char* int_name, const char* vec_name, const char* text_name)
    {
        name = object;
        stride = sizeof(published_t);
        i.set(0, 0);
        v.set_storage(vec, sizeof vec);
        add(&i, int_name, vantrel::r_int, 1);
        add(&v, vec_name, vantrel::r_float, 4);
        add(&s, text_name, vantrel::r_string, 1);
    }
};

class player_t : public published_t {
public:
    player_t() : published_t("player", "health", "pos", "title") {}
};

}  // namespace vantrel_test
