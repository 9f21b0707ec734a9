// The text animation format, then playback and a dump of what was read.
#include "fuzz_util.h"
#include "world/animation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static vantrel_fuzz::quiet_log quiet;
    std::string path = vantrel_fuzz::as_file(data, size, ".anim");
    vantrel::CSAnimation anim;
    if (vantrel::LoadAnimation(path.c_str(), &anim) == 0) {
        vantrel::model_t model;
        model.alloc_meshes(2);
        for (int i = 0; i < 2; ++i)
            model.meshes[i] = new vantrel::mesh_t;
        anim.bind(&model);
        for (unsigned int dt : {0u, 1u, 499u, 4000000000u})
            anim.UpdateFrame(dt);
        anim.SetTime(7);
        if (FILE* f = fopen("/dev/null", "w")) {
            anim.dump(f, "");
            fclose(f);
        }
    }
    remove(path.c_str());
    return 0;
}
