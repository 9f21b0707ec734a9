// A small host program: points the log at a file, reads its command line,
// builds named objects in lists, picks some of them by a name pattern and
// prints what it did.
//   example_host -name demo -size 640,480 [-pattern "^[cl]a.{2}"]
#include <cstdio>

#include "kdbase/args.h"
#include "kdbase/d_list.h"
#include "kdbase/errorlog.h"
#include "kdbase/group.h"
#include "kdbase/mem_collector.h"
#include "kdbase/regex.h"

using namespace vantrel;

int main(int argc, char** argv)
{
    set_logfile("example_host.log");
    set_log_priority(EL_MINDEBUG);

    // The program's own path is not an argument.
    args_t args;
    if (args.parse(argc - 1, argv + 1) < 0) {
        printf("bad command line, see example_host.log\n");
        return 1;
    }
    printf("command line:\n");
    args.dump_args(stdout, "  ");
    const char* name = args.get_value("name", 0);
    char* size[ARGS_MAX_VALUES];
    if (args.get_arg("size", size) == 2)
        printf("window \"%s\" of %s x %s\n", name ? name : "vantrel", size[0], size[1]);

    group_t* level = create_group("level1");
    if (!level) {
        printf("out of memory, see example_host.log\n");
        return 1;
    }
    d_list objects(1);
    const char* names[] = {"door", "lamp", "crate", "ladder"};
    for (const char* n : names) {
        groupable_t* g = KD_NEW groupable_t;
        if (!g)
            break;
        g->set_name(n);
        g->parent = level;
        if (objects.insert(g) != 0) {
            delete g;  // the list did not take it
            break;
        }
    }
    printf("built %d objects in group %s:\n", objects.count, level->name);
    for (d_node* n = objects.first; n; n = n->next)
        static_cast<groupable_t*>(n->object)->dump(stdout, "  ");

    const char* pattern = args.get_value("pattern", 0);
    if (!pattern)
        pattern = "^[cl]a.{2}";
    printf("objects matching \"%s\":", pattern);
    for (d_node* n = objects.first; n; n = n->next) {
        const char* object_name = static_cast<groupable_t*>(n->object)->name;
        if (regex_match(pattern, object_name, REGEX_ICASE))
            printf(" %s", object_name);
    }
    printf("\n");

    ELOG(EL_STATUS, "example_host: %d argument(s), %d object(s) in %s", args.count, objects.count, level->name);
    objects.delete_nodes();
    delete level;
    printf("log written to example_host.log\n");
    return 0;
}
