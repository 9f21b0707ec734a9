#include "kdbase/group.h"

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

groupable_t::groupable_t() : parent(nullptr) {}

int groupable_t::compare(groupable_t* g)
{
    if (!g) {
        ELOG(EL_MINDEBUG, "invalid parameters");
        return -1;
    }
    if (*this != *g) {
        ELOG(EL_MINDEBUG, "unequal names");
        return -1;
    }
    if (parent && g->parent) {
        if (*parent != *g->parent) {
            ELOG(EL_MINDEBUG, "unequal parents");
            return -1;
        }
    } else if (parent || g->parent) {
        ELOG(EL_MINDEBUG, "parents differe");
        return -1;
    }
    return 0;
}

void groupable_t::copy(groupable_t* _g)
{
    CHECK_PTR_V(_g);
    set_name(_g->name);
    parent = _g->parent;
}

static void dump_groupable(FILE* f, const char* tabs, groupable_t* g, const char* type)
{
    if (!f)
        return;
    if (!tabs) {
        fprintf(f, "(invalid %s)\n", type);
        return;
    }
    fprintf(f, "%sname=%s parent=%s\n", tabs, g->name ? g->name : "",
            g->parent && g->parent->name ? g->parent->name : "none");
}

void groupable_t::dump(FILE* f, const char* tabs)
{
    dump_groupable(f, tabs, this, "groupable");
}

void group_t::copy(group_t* _g)
{
    CHECK_PTR_V(_g);
    groupable_t::copy(_g);
}

void group_t::dump(FILE* f, const char* tabs)
{
    dump_groupable(f, tabs, this, "group");
}

group_t* create_group(const char* name)
{
    if (!name) {
        ELOG(EL_MINDEBUG, "invalid parameters");
        return nullptr;
    }
    group_t* g = KD_NEW group_t;
    if (g)
        g->set_name(name);
    return g;
}

}  // namespace vantrel
