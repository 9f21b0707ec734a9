// The published object of the README's configuration example: a player with
// an int "health", a 4-float "pos" and a text "title". Shared by the tests
// and the script benchmark.
#pragma once

#include "base_script/script_var.h"

namespace vantrel_test {

class player_t : public vantrel::script_var {
public:
    vantrel::r_var health, pos, title;
    float xyz[4] = {0, 0, 0, 0};

    player_t()
    {
        name = "player";
        stride = sizeof(player_t);
        health.set(0, 0);
        pos.set_storage(xyz, sizeof xyz);
        add(&health, "health", vantrel::r_int, 1);
        add(&pos, "pos", vantrel::r_float, 4);
        add(&title, "title", vantrel::r_string, 1);
    }
};

}  // namespace vantrel_test
