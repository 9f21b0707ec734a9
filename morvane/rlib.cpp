// Loading the render library's operations into the process-wide table.
#include "morvane/rlib.h"

#include <cstring>

#include "kdbase/errorlog.h"
#include "platform/platform.h"

namespace vantrel {

r_imports_t r_imports;

namespace {

// One entry per operation, in table order: its name and how to store the
// looked-up address into its slot.
struct rlib_op_t {
    const char* name;
    void (*store)(r_imports_t* table, void* address);
};

#define RLIB_OP_ENTRY(result, op, params)                            \
    {#op, [](r_imports_t* table, void* address) {                    \
         table->op = reinterpret_cast<result(*) params>(address);    \
     }},
const rlib_op_t rlib_ops[] = {VANTREL_RLIB_OPS(RLIB_OP_ENTRY)};
#undef RLIB_OP_ENTRY

static_assert(sizeof rlib_ops / sizeof rlib_ops[0] == RLIB_OP_COUNT, "the interface has 41 operations");

}  // namespace

int load_rlib(const char* _path, r_imports_t* table, rlib_info_t* info)
{
    CHECK_PTR(_path, -1);
    CHECK_PTR(table, -1);
    CHECK_PTR(info, -1);
    void* handle = platform_load_library(_path);
    if (!handle) {
        ELOG(EL_MAJOR, "Unable to load library %s", _path);
        return -1;
    }
    snprintf(info->path, sizeof info->path, "%s", _path);
    info->handle = handle;
    for (const rlib_op_t& op : rlib_ops) {
        void* address = platform_library_symbol(handle, op.name);
        if (!address) {
            ELOG(EL_MAJOR, "Unable to load function %s", op.name);
            return -1;
        }
        op.store(table, address);
    }
    return 0;
}

void free_rlib(rlib_info_t* info, r_imports_t* table)
{
    if (table)
        *table = r_imports_t();
    if (!info)
        return;
    if (info->handle)
        platform_free_library(info->handle);
    info->handle = nullptr;
    info->path[0] = 0;
}

void get_r_imports(r_imports_t* table)
{
    if (table)
        *table = r_imports;
}

}  // namespace vantrel
