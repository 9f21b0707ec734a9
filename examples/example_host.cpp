// A small host program: points the log at a file, builds named objects in
// lists and prints what it did.
#include <cstdio>

#include "kdbase/d_list.h"
#include "kdbase/errorlog.h"
#include "kdbase/group.h"
#include "kdbase/mem_collector.h"

using namespace vantrel;

int main(int argc, char** argv)
{
    (void)argc;
    (void)argv;
    set_logfile("example_host.log");
    set_log_priority(EL_MINDEBUG);

    group_t* level = create_group("level1");
    d_list objects(1);
    const char* names[] = {"door", "lamp", "crate"};
    for (const char* n : names) {
        groupable_t* g = KD_NEW groupable_t;
        g->set_name(n);
        g->parent = level;
        objects.insert(g);
    }
    printf("built %d objects in group %s:\n", objects.count, level->name);
    for (d_node* n = objects.first; n; n = n->next)
        static_cast<groupable_t*>(n->object)->dump(stdout, "  ");
    objects.delete_nodes();
    delete level;
    printf("log written to example_host.log\n");
    return 0;
}
