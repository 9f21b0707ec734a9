// The animation and level-tree chunk types through a whole container read,
// then what a game does with them: point location, playback, dumps, writing
// back, and the media loader's level and animation reads of the same file.
#include "fuzz_util.h"
#include "mediaman/cds/cds.h"
#include "mediaman/mediaman.h"
#include "world/animation.h"
#include "world/level.h"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static vantrel_fuzz::quiet_log quiet;
    std::string path = vantrel_fuzz::as_file(data, size, ".anim");
    FILE* null = fopen("/dev/null", "w");
    {
        cds c;
        c.init();
        c.load(path.c_str());
        c.delete_type_objects();
        for (d_node* n = get_chunk_io(c.types, "BSPT")->objects.first; n; n = n->next) {
            solid_bsp_t* t = static_cast<solid_bsp_t*>(n->object);
            for (float p : {-1e30f, -1.0f, 0.0f, 3.5f, 1e30f}) {
                float pos[4] = {p, p / 2, -p, 0};
                t->get_leaf_at_pos(pos);
            }
            t->dump(null);
        }
        model_t model;
        model.alloc_meshes(2);
        for (int i = 0; i < 2; ++i)
            model.meshes[i] = new mesh_t;
        for (d_node* n = get_chunk_io(c.types, "ANIM")->objects.first; n; n = n->next) {
            CSAnimation* a = static_cast<CSAnimation*>(n->object);
            a->bind(&model);
            for (unsigned int dt : {0u, 1u, 499u, 4000000000u})
                a->UpdateFrame(dt);
            a->dump(null, "");
        }
        // Embedded files are written from the disk paths they name: none here.
        c.chunk_file.objects.delete_nodes();
        std::string out = path + ".out";
        c.create(out.c_str());
        remove(out.c_str());
    }
    mediaman_t mm;
    level_t level;
    d_list anims(1);
    mm.read_level(path.c_str(), &level, 0);
    mm.read_anim(path.c_str(), &anims, 0);
    fclose(null);
    remove(path.c_str());
    return 0;
}
