// The demo's creatures: the shipped trueSpace models converted by
// vantrel-ts2cds, dressed by the demo step, read back through the media loader.
#include <gtest/gtest.h>

#include <string>

#include "kdbase/mem_collector.h"
#include "tests/common/log_fixture.h"
#include "tools/demo_actors.h"

using namespace vantrel;

namespace {

class demo_media_test : public vantrel_test::log_test {
protected:
    // Converts the kind's shipped file into <name>.model.
    void convert(const vantrel_demo::kind_t& k)
    {
        const std::string in = vantrel_test::source_dir() + "/data/models/" + k.source;
        ASSERT_EQ(vantrel_test::run_program("tools/vantrel-ts2cds", "\"" + in + "\" \"" + path(k.name) + ".model\"", nullptr), 0);
    }
};

TEST_F(demo_media_test, shipped_models_load_with_a_stack_per_mesh_and_a_material_per_number)
{
    if (!vantrel_test::program_built("tools/vantrel-ts2cds"))
        GTEST_SKIP() << "vantrel-ts2cds is not built";
    for (const vantrel_demo::kind_t* k : {&vantrel_demo::spider, &vantrel_demo::molecule}) {
        ASSERT_NO_FATAL_FAILURE(convert(*k));
        model_t* converted = vantrel_demo::read_converted(path(k->name) + ".model", k->name);
        ASSERT_TRUE(converted);
        for (int pass = 0; pass < 2; ++pass)  // again on its own output
            ASSERT_EQ(vantrel_demo::dress_model(dir, *k, 10), 0) << k->name;
        mediaman_t mm;
        model_t m;
        d_list anims(1);
        ASSERT_EQ(mm.read_model((path(k->name) + ".model").c_str(), &m, 0), 0);
        ASSERT_EQ(mm.read_anim((path(k->name) + ".anim").c_str(), &anims, 0), 0);
        ASSERT_EQ(m.nmeshes, converted->nmeshes);
        int used = 0;
        for (int i = 0; i < m.nmeshes; ++i)
            for (int p = 0; p < m.meshes[i]->npolys; ++p)
                used = std::max(used, m.meshes[i]->polys[p].mat + 1);
        EXPECT_TRUE(m.skin && m.skin[used - 1] && !m.skin[used]) << k->name;
        delete converted;
        ASSERT_EQ(anims.count, 2);
        CSAnimation *walk = static_cast<CSAnimation*>(anims.first->object), *turn = static_cast<CSAnimation*>(anims.last->object);
        EXPECT_EQ(walk->m_nStacks + turn->m_nStacks, 2 * m.nmeshes);
        // "turn" lifts the first mesh half way through and puts it back.
        const float y = m.meshes[0]->matrix[13];
        ASSERT_EQ(turn->bind(&m), 0);
        EXPECT_EQ(turn->UpdateFrame(300), 0);
        EXPECT_GT(m.meshes[0]->matrix[13], y + 0.5f);
        EXPECT_EQ(turn->UpdateFrame(300), 0);
        EXPECT_NEAR(m.meshes[0]->matrix[13], y, 1e-3);
        delete_model_skins(&m);
    }
}

TEST_F(demo_media_test, a_missing_container_or_no_memory_fails_cleanly)
{
    EXPECT_EQ(vantrel_demo::dress_model(dir, vantrel_demo::molecule, 10), -1);
    EXPECT_TRUE(log_has("unable to open"));
    if (!vantrel_test::program_built("tools/vantrel-ts2cds"))
        GTEST_SKIP() << "vantrel-ts2cds is not built";
    ASSERT_NO_FATAL_FAILURE(convert(vantrel_demo::molecule));
    const std::string converted = read_file("molecule.model");
    // Every 97th allocation fails in turn, each on the converted container:
    // a failure nothing needs (a stream buffer) still gives files that load.
    for (int n = 0, failed = 1; failed; n += 97) {
        write_file("molecule.model", converted);
        clear_log();
        mc_fail_after(n);
        const int rc = vantrel_demo::dress_model(dir, vantrel_demo::molecule, 10);
        mc_fail_after(-1);
        model_t m;
        EXPECT_TRUE(rc != 0 || mediaman_t().read_model(path("molecule.model").c_str(), &m, 0) == 0) << n;
        delete_model_skins(&m);
        failed = log_has("allocation failed");
        EXPECT_TRUE(failed || rc == 0);
    }
}

}  // namespace
