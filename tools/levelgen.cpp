// vantrel-levelgen: writes a level in the polygon list text format.
//   vantrel-levelgen --polys N [FILE]        a grid of rooms with exactly N polygons
//   vantrel-levelgen --grid ROWSxCOLS [FILE] a grid of that many rooms
//   vantrel-levelgen --sample NAME [FILE]    two_rooms, corridor, dog_leg or arena
// Without FILE the level goes to standard output.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/level_gen.h"

using namespace vantrel_levels;

static int usage()
{
    fprintf(stderr,
            "usage: vantrel-levelgen (--polys N | --grid ROWSxCOLS | --sample two_rooms|corridor|dog_leg|arena) "
            "[FILE]\n");
    return 2;
}

static bool parse_count(const char* s, int* out)
{
    char* end = nullptr;
    long v = strtol(s, &end, 10);
    if (end == s || v < 1 || v > 10000000)
        return false;
    *out = (int)v;
    return true;
}

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 4)
        return usage();
    std::string text;
    if (!strcmp(argv[1], "--polys")) {
        int n = 0;
        if (!parse_count(argv[2], &n) || n < 6) {
            fprintf(stderr, "vantrel-levelgen: --polys needs a count of at least 6\n");
            return 2;
        }
        text = level_with_polys(n);
    } else if (!strcmp(argv[1], "--grid")) {
        int rows = 0, cols = 0;
        const char* x = strchr(argv[2], 'x');
        if (!x || !parse_count(std::string(argv[2], (size_t)(x - argv[2])).c_str(), &rows) || !parse_count(x + 1, &cols)) {
            fprintf(stderr, "vantrel-levelgen: --grid needs ROWSxCOLS, for example 4x5\n");
            return 2;
        }
        text = grid_level(rows, cols);
    } else if (!strcmp(argv[1], "--sample")) {
        if (!strcmp(argv[2], "two_rooms"))
            text = two_rooms_level();
        else if (!strcmp(argv[2], "corridor"))
            text = corridor_level();
        else if (!strcmp(argv[2], "dog_leg"))
            text = dog_leg_level();
        else if (!strcmp(argv[2], "arena"))
            text = arena_level();
        else
            return usage();
    } else {
        return usage();
    }
    FILE* f = argc == 4 ? fopen(argv[3], "w") : stdout;
    if (!f) {
        fprintf(stderr, "vantrel-levelgen: cannot write %s\n", argv[3]);
        return 1;
    }
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    if (f != stdout)
        ok = fclose(f) == 0 && ok;
    if (!ok) {
        fprintf(stderr, "vantrel-levelgen: write failed\n");
        return 1;
    }
    return 0;
}
