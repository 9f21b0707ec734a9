// A host that publishes a player object in the shared scope and configures
// it from a script file: the configuration example of the README, complete.
//   configure [SCRIPT]   (default: game.ds beside the program's sources)
#include <cstdio>

#include "base_script/dot_config.h"
#include "base_script/dot_script.h"
#include "base_script/script_sets.h"
#include "base_script/script_var.h"
#include "kdbase/errorlog.h"
#include "kdbase/r_struct.h"

namespace {

// The player: an int, a 4-float position and a text, published by name.
class player_t : public vantrel::script_var {
public:
    vantrel::r_var health, pos, title;
    float pos_v[4] = {0, 0, 0, 0};

    player_t()
    {
        name = "player";
        stride = sizeof(player_t);
        health.set(0, 100);
        pos.set_storage(pos_v, sizeof pos_v);
        add(&health, "health", vantrel::r_int, 1);
        add(&pos, "pos", vantrel::r_float, 4);
        add(&title, "title", vantrel::r_string, 1);
    }
};

// Log lines of status priority and above also go to the terminal.
void show(char* message)
{
    fputs(message, stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    const char* file = argc > 1 ? argv[1] : VANTREL_EXAMPLE_DIR "/game.ds";
    set_logfile("configure.log");
    set_display_status_func(show);

    player_t player;
    vantrel::r_struct shared(false);  // the shared scope refers to objects, never owns them
    vantrel::dot_script script;
    vantrel::dot_config config;  // the "config" plug-in
    script.add_plugin(&config);
    script.globals = &shared;
    vantrel::errorlog_add_funcs(shared);
    vantrel::support_add_funcs(shared);
    shared.add(&player);
    int r = script.process(file);
    printf("process(\"%s\") = %d\n", file, r);
    printf("player.health = %d\nplayer.title = \"%s\"\nplayer.pos = (%g, %g, %g, %g)\n",
           player.health.i_value(), player.title.str_value() ? player.title.str_value() : "",
           player.pos_v[0], player.pos_v[1], player.pos_v[2], player.pos_v[3]);
    shared.empty();
    return r == 0 ? 0 : 1;
}
