// A complete module library: counts its passes in a published member, and
// counts its creations and destructions in words 4 and 3 of the shared block.
#include <cstring>

#include "engine/cycle_engine.h"

using namespace vantrel;

namespace {

class good_module_t : public ce_base_module {
public:
    int runs;
    r_var runs_v;
    good_module_t() : runs(0)
    {
        strcpy(name, "good");
        empty();
        stride = (int)sizeof(good_module_t);
        runs_v.set_storage(&runs, sizeof runs);
        add(&runs_v, "runs", r_int, 1);
    }
    int execute() override
    {
        ++runs;
        return 0;
    }
};

}  // namespace

extern "C" VANTREL_EXPORT ce_base_module* create_good_module(uintptr_t* shared)
{
    if (shared)
        shared[4] += 1;  // tells the test which block it was given
    return new good_module_t;
}

extern "C" VANTREL_EXPORT void destroy_good_module(ce_base_module* m)
{
    if (m->shared)
        m->shared[3] += 1;
    delete m;
}
