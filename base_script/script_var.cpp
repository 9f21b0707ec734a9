#include "base_script/script_var.h"

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/s_token.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

script_var::script_var() : r_var(nullptr, r_struct_p), r_struct(false), stride(0)
{
    r_var::set(0, static_cast<r_struct*>(this));
}

int script_var::add(r_var* member, const char* _name, r_type t, int _count)
{
    if (!member)
        return 0;
    if (!_name || _count < 1) {
        ELOG(EL_MINDEBUG, "script_var::add(): invalid parameters");
        return -1;
    }
    if (r_type_width(t) * (size_t)_count > member->capacity()) {
        ELOG(EL_MINDEBUG, "script_var::add(): %s has no room for %d elements", _name, _count);
        return -1;
    }
    bool taken = r_struct::get_var(_name) != nullptr;
    char* copy = alloc_str(_name, -1);
    if (!copy) {
        ELOG(EL_MINDEBUG, "script_var::add(): unable to copy the name %s", _name);
        return -1;
    }
    if (member->owns_name)
        delete[] const_cast<char*>(member->name);
    member->name = copy;
    member->owns_name = true;
    member->type = t;
    member->count = (unsigned int)_count;
    if (r_struct::add(member) != 0) {
        if (taken)
            throw member;
        ELOG(EL_MINDEBUG, "script_var::add(): unable to add %s", _name);
        return -1;
    }
    return 0;
}

r_var* script_var::get_var(const char* _name)
{
    if (!_name) {
        ELOG(EL_MINDEBUG, "get_var(char *): invalid parameters");
        return nullptr;
    }
    return r_struct::get_var(_name);
}

script_var* script_var::get_array_element(unsigned int i)
{
    return reinterpret_cast<script_var*>(reinterpret_cast<char*>(this) + (size_t)stride * i);
}

void script_var::empty()
{
    static const char noname[] = "__noname";
    for (d_node* n = list.first; n; n = n->next) {
        r_var* v = static_cast<r_var*>(n->object);
        if (v->owns_name) {
            delete[] const_cast<char*>(v->name);
            v->name = noname;
            v->owns_name = false;
        }
    }
    r_struct::empty();
}

}  // namespace vantrel
