#include <gtest/gtest.h>

#include "mediaman/object3dfile.h"
#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

// The smallest implementation: a file of one light and nothing else.
struct one_light : object3dfile {
    int opened = 0;
    int open(const char* filename) override { return Open(filename, OM_RB) ? (++opened, 0) : -1; }
    int read_mesh_l(const char*, d_list*, d_list*) override { return -1; }
    int read_model_l(const char*, d_list*) override { return -1; }
    int read_CSAnimation_l(const char*, d_list*) override { return -1; }
    int read_light_t_l(const char*, d_list*) override { return 0; }
    int read_mesh(unsigned int, mesh_t*, d_list*) override { return -1; }
    int read_model(unsigned int, model_t*) override { return -1; }
    int read_CSAnimation(unsigned int, CSAnimation*) override { return -1; }
    int read_light_t(unsigned int index, light_t*) override { return index == 0 ? 0 : -1; }
    int get_stat(int which) override { return which == 0 ? 1 : 0; }
    void dump_stats(FILE* out, const char* tabs) override { fprintf(out, "%slights: 1\n", tabs); }
};

class object3dfile_test : public vantrel_test::log_test {};

TEST_F(object3dfile_test, an_implementation_is_a_file_and_an_object)
{
    std::string p = write_file("scene.bin", "x");
    unknown* u = nullptr;
    {
        one_light* f = new one_light;
        object3dfile* o = f;
        EXPECT_EQ(o->open(p.c_str()), 0);
        EXPECT_TRUE(o->IsOpen());
        light_t l;
        EXPECT_EQ(o->read_light_t(0, &l), 0);
        EXPECT_EQ(o->read_light_t(1, &l), -1);
        EXPECT_EQ(o->get_stat(0), 1);
        u = f;
    }
    delete u;  // the whole file goes through its object base
}

}  // namespace
