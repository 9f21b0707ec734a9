#include "kdbase/r_struct.h"

#include <cinttypes>
#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

static r_var* var_of(d_node* n)
{
    return static_cast<r_var*>(n->object);
}

r_struct::r_struct(bool owning) : list(owning ? 1 : 0) {}

template <class T>
int r_struct::add_var(const char* name, T v)
{
    if (get_var(name)) {
        ELOG(EL_MINOR, "r_struct::_add_var(): %s is already part of the structure", name);
        return -1;
    }
    r_var* var = KD_NEW r_var(name, v);
    // A text whose copy failed leaves the variable undefined.
    if (!var || var->type == r_undefined) {
        delete var;
        ELOG(EL_MINOR, "r_struct::_add_var(): unable to create r_var %s", name);
        return -1;
    }
    if (list.insert(static_cast<unknown*>(var)) != 0) {
        ELOG(EL_MINOR, "r_struct::_add_var(): unable to add r_var %s", name);
        delete var;
        return -1;
    }
    return 0;
}

int r_struct::add(const char* name, char v) { return add_var(name, v); }
int r_struct::add(const char* name, unsigned char v) { return add_var(name, v); }
int r_struct::add(const char* name, unsigned short v) { return add_var(name, v); }
int r_struct::add(const char* name, int v) { return add_var(name, v); }
int r_struct::add(const char* name, unsigned int v) { return add_var(name, v); }
int r_struct::add(const char* name, float v) { return add_var(name, v); }
int r_struct::add(const char* name, const char* v) { return add_var(name, v); }
int r_struct::add(const char* name, void* v) { return add_var(name, v); }
int r_struct::add(const char* name, r_struct* v) { return add_var(name, v); }

int r_struct::add(r_var* v)
{
    if (!v) {
        ELOG(EL_MINDEBUG, "add(r_var *): invalid parameters");
        return -1;
    }
    if (get_var(v->name)) {
        ELOG(EL_MINOR, "add(r_var *): r_var %s already exist", v->name);
        return -1;
    }
    return list.insert(static_cast<unknown*>(v));
}

r_var* r_struct::get_var(const char* name)
{
    if (!name)
        return nullptr;
    for (d_node* n = list.first; n; n = n->next) {
        r_var* v = var_of(n);
        if (v->name && strncmp(v->name, name, 1024) == 0)
            return v;
    }
    return nullptr;
}

r_var* r_struct::operator[](const char* name)
{
    r_var* v = get_var(name);
    if (!v) {
        ELOG(EL_MINDEBUG, "r_struct::[]: %s not found", name ? name : "(null)");
        ELOG(EL_CRITICAL, "Error running program.");
    }
    return v;
}

int r_struct::size()
{
    int total = 0;
    for (d_node* n = list.first; n; n = n->next)
        total += var_of(n)->size();
    return total;
}

int r_struct::copy(r_struct* src)
{
    if (!src || src == this)
        return 0;
    if (!owning()) {
        ELOG(EL_MINDEBUG, "r_struct::copy(): the structure does not own its variables");
        return -1;
    }
    empty();
    for (d_node* n = src->list.first; n; n = n->next) {
        r_var* from = var_of(n);
        r_var* v = create_r_var(from->name, (int)from->count);
        if (!v)
            return -1;
        if (v->copy(from) != 0 || list.insert(static_cast<unknown*>(v)) != 0) {
            delete v;
            return -1;
        }
    }
    return 0;
}

void r_struct::empty()
{
    list.delete_nodes();
}

void print_r_struct(r_struct* _s, FILE* f)
{
    if (!_s) {
        printf("print_r_struct(): _s is NULL\n");
        return;
    }
    if (!f)
        return;
    fprintf(f, "+++r_struct (size=%d)\n", _s->size());
    for (d_node* n = _s->list.first; n; n = n->next) {
        fprintf(f, "+ ");
        print_r_var(var_of(n), f);
    }
    fprintf(f, "---end r_struct\n");
}

void dump_rs(r_struct* _s)
{
    if (!_s) {
        printf("print_r_struct(): _s is NULL\n");
        return;
    }
    printf("+++list=%" PRIxPTR " num_nodes=%d\n", (uintptr_t)&_s->list, _s->list.count);
    for (d_node* n = _s->list.first; n; n = n->next) {
        printf("n=%" PRIxPTR " n->next=%" PRIxPTR " n->object=%" PRIxPTR "\n", (uintptr_t)n, (uintptr_t)n->next,
               (uintptr_t)n->object);
        print_r_var(var_of(n), stdout);
    }
    printf("---\n");
}

}  // namespace vantrel
