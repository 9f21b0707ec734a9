// The trueSpace reader, and every conversion of whatever it accepted: meshes
// with their materials, models, animations, and the verbose dump.
#include "fuzz_util.h"
#include "kdbase/d_list.h"
#include "mediaman/ts/ts_file.h"
#include "primitives/material.h"
#include "primitives/model.h"
#include "world/animation.h"

using namespace vantrel;

static void release_skins(model_t* m)
{
    for (int k = 0; k < m->nchildren; ++k)
        release_skins(m->children[k]);
    delete_skin_mats(&m->skin);
    delete[] m->skin;
    m->skin = nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static vantrel_fuzz::quiet_log quiet;
    FILE* f = vantrel_fuzz::as_stream(data, size);
    if (!f)
        return 0;
    CTrueSpaceFile ts;
    ts.SetFILE(f);
    if (ts.read_all()) {
        d_list mats(1), meshes(1), anims(1);
        ts.read_mesh_l(".*", &meshes, &mats);
        for (long i = 0; i < ts.groups.count; ++i) {
            model_t m;
            if (ts.read_model((unsigned int)i, &m) == 0)
                release_skins(&m);
            CSAnimation a;
            ts.read_CSAnimation((unsigned int)i, &a);
        }
        ts.read_CSAnimation_l(".*", &anims);
        FILE* out = fopen("/dev/null", "w");
        if (out) {
            ts.PrintInfo(out, true);
            fclose(out);
        }
    }
    return 0;
}
