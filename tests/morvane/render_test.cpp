// The render tree through the recording library: what a frame of a shipped
// level sends, in which order and under which matrices.
#include <set>
#include <vector>

#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "morvane/camera.h"
#include "morvane/light.h"
#include "primitives/material.h"
#include "primitives/model.h"
#include "rlib_fixture.h"
#include "world/entity.h"
#include "world/level.h"

using namespace vantrel;

namespace {

rlib_record_t* g_record;
std::vector<std::pair<int, shader_t*>> g_shader_calls;  // (record index of the next call, shader)

void count_shader(shader_t* s)
{
    g_shader_calls.push_back({g_record->count, s});
}

class render_test : public vantrel_test::rlib_test {
protected:
    level_t level;
    material_t opaque, blended;
    material_t* skin[3] = {&opaque, &blended, nullptr};
    cam3d_t cam;
    rlib_record_t* r = nullptr;

    void SetUp() override
    {
        rlib_test::SetUp();
        ASSERT_EQ(load_rlib(vantrel_test::rlib_path("rlib_record").c_str(), &r_imports, &info), 0);
        g_record = r = record_of(info.handle);
        g_shader_calls.clear();
        for (material_t* m : {&opaque, &blended}) {
            auto* s = KD_NEW color_shader_t;
            s->func = count_shader;
            ASSERT_EQ(m->shaders.insert(s), 0);
        }
        blended.flags = MAT_BLENDED;
        std::string path = vantrel_test::source_dir() + "/data/levels/dog_leg.txt";
        ASSERT_EQ(level.build((char*)path.c_str()), 0);
        for (int i = 0; i < level.stats.nmeshes; ++i)
            for (int p = 0; p < level.meshes[i]->npolys; ++p)
                level.meshes[i]->polys[p].mat = 0;
        level.skin = skin;
        cam.world = &level;
        set_v(cam.wpos.trans_v, 4, 1, 4, 1);  // room A
    }
    void TearDown() override
    {
        level.skin = nullptr;
        rlib_test::TearDown();
    }
    void frame()
    {
        r->count = 0;
        g_shader_calls.clear();
        cam.setup_frame();
        cam.render_frame();
    }
    int index_of(const char* op, int ival, int from = 0)
    {
        for (int i = from; i < r->count; ++i)
            if (!strcmp(r->calls[i].op, op) && r->calls[i].ints[0] == ival)
                return i;
        return -1;
    }
    // The level's polygons that belong to the meshes of these leaves.
    std::set<const void*> polys_of(std::set<int> leaves)
    {
        std::set<const void*> out;
        for (int l : leaves)
            for (int32_t* n = level.i_nodes[l]->meshes; n && *n != -1; ++n)
                for (int p = 0; p < level.meshes[*n]->npolys; ++p)
                    out.insert(&level.meshes[*n]->polys[p]);
        return out;
    }
    int leaf_number(bsp_index_t* leaf)
    {
        for (int i = 0; i < level.stats.ni_nodes; ++i)
            if (level.i_nodes[i] == leaf)
                return i;
        return -1;
    }
    // A deep copy of level mesh i with every polygon of material mat.
    mesh_t* mesh_copy(int i, int mat)
    {
        mesh_t* m = KD_NEW mesh_t;
        EXPECT_EQ(m->duplicate(level.meshes[i]), 0);
        for (int p = 0; p < m->npolys; ++p)
            m->polys[p].mat = mat;
        return m;
    }
    // Push/pop of the model matrix pair up and end where they started.
    void expect_balanced()
    {
        int depth = 0;
        for (int i = 0; i < r->count; ++i) {
            depth += !strcmp(r->calls[i].op, "push_model_m") - !strcmp(r->calls[i].op, "pop_model_m");
            ASSERT_GE(depth, 0) << i;
        }
        EXPECT_EQ(depth, 0);
        float id[16];
        makeIdentityMatrix(id);
        EXPECT_TRUE(are_equal_m(r->calls[r->count - 1].model, id, 0));
    }
};

TEST_F(render_test, level_frame_draws_the_visible_set_opaque_first_and_blended_meshes_whole)
{
    bsp_index_t* leaf = level.get_leaf_at_pos(cam.wpos.trans_v);
    ASSERT_NE(leaf, nullptr);
    // One polygon of a mesh of the camera's leaf is blended: the whole mesh waits.
    mesh_t* glass = level.meshes[leaf->meshes[0]];
    ASSERT_GT(glass->npolys, 1);
    glass->polys[glass->npolys - 1].mat = 1;
    light_t sun, lamp;
    level.lights.insert(static_cast<r_var*>(&sun));
    level.lights.insert(static_cast<r_var*>(&lamp));
    mc_fail_after(0);  // a frame allocates nothing: the next allocation would fail
    frame();
    mc_fail_after(-1);
    EXPECT_FALSE(log_has("allocation failed"));
    level.lights.delete_nodes();
    EXPECT_EQ(r->dropped, 0);

    std::set<int> visible{leaf_number(leaf)};
    for (d_node* n = leaf->visible_leafs.first; n; n = n->next)
        visible.insert((int)(intptr_t)n->data);
    std::set<const void*> allowed = polys_of(visible), drawn;
    const int off = index_of("depth_mask", 0), on = index_of("depth_mask", 1);
    ASSERT_GE(off, 0);
    ASSERT_GT(on, off);
    std::vector<int> lights;
    int poly_calls = 0, prev_mat = -1;
    bool reset = true;  // the skin changed: the next polygon runs its shaders
    size_t k = 0;       // the next shader call
    for (int i = 0; i < r->count; ++i) {
        const rlib_call_t& c = r->calls[i];
        if (!strcmp(c.op, "set_light"))
            lights.push_back(c.ptr == static_cast<unknown*>(static_cast<r_var*>(&sun)) ? 0 : 1);
        if (strcmp(c.op, "render_poly"))
            continue;
        drawn.insert(c.ptr);
        ++poly_calls;
        EXPECT_TRUE(allowed.count(c.ptr)) << "a polygon outside the visible set, call " << i;
        const bool of_glass = c.ptr >= glass->polys && c.ptr < glass->polys + glass->npolys;
        EXPECT_EQ(of_glass, i > off && i < on) << i;
        // Shader functions run once per run of the same material: before the
        // first polygon of each run, never inside one.
        int ran = 0;
        for (; k < g_shader_calls.size() && g_shader_calls[k].first <= i; ++k)
            ++ran;
        const int mat = static_cast<const n_poly*>(c.ptr)->mat;
        reset = reset || (i > off && prev_mat != -1 && c.ptr == glass->polys);
        EXPECT_EQ(ran, mat != prev_mat || reset ? 1 : 0) << i;
        prev_mat = mat;
        reset = false;
    }
    EXPECT_EQ(lights, (std::vector<int>{0, 1}));
    EXPECT_EQ(drawn.size(), allowed.size());
    // Room C, round the dog-leg, is not in the visible set of room A.
    float c_pos[4] = {16, 1, 16, 1};
    int c_leaf = leaf_number(level.get_leaf_at_pos(c_pos));
    ASSERT_FALSE(visible.count(c_leaf));
    EXPECT_EQ(cam.stats.counters[STAT_POLYS], poly_calls);
    expect_balanced();
    EXPECT_EQ(cam.stats.counters[STAT_MATS], (int)g_shader_calls.size());

    // Without visible sets every open leaf is drawn, room C too.
    cam.d_all_leaves = true;
    frame();
    std::set<const void*> all;
    for (int i = 0; i < r->count; ++i)
        if (!strcmp(r->calls[i].op, "render_poly"))
            all.insert(r->calls[i].ptr);
    for (const void* p : polys_of({c_leaf}))
        EXPECT_TRUE(all.count(p));
    EXPECT_EQ(cam._state.leaves_drawn, level.stats.empty);
}

TEST_F(render_test, entities_draw_with_their_chain_of_matrices_past_the_transparent_limit_in_their_render_mode)
{
    entity_t e;
    make_translate_m(e.model.matrix, 0, 0, 100);
    ASSERT_EQ(e.model.alloc_meshes(1), 0);
    e.model.meshes[0] = mesh_copy(0, 0);
    make_translate_m(e.model.meshes[0]->matrix, 1, 0, 0);
    e.model.children = KD_NEW model_t*[1];
    e.model.nchildren = 1;
    model_t* child = e.model.children[0] = KD_NEW model_t;
    make_rotate_m(child->matrix, 0, 90, 0);
    ASSERT_EQ(child->alloc_meshes(1), 0);
    child->meshes[0] = mesh_copy(1, 1);  // blended, with the parent's skin
    e.model.skin = skin;
    level.ents.insert(&e);

    for (float x : {4.0f, -100.0f}) {  // inside room A, then outside the level
        cam.wpos.trans_v[0] = x;
        frame();
        float parent_m[16], expect_m[16], child_m[16];
        multmatrix_mr(expect_m, e.model.matrix, e.model.meshes[0]->matrix);
        multmatrix_mr(child_m, e.model.matrix, child->matrix);
        multmatrix_mr(parent_m, child_m, child->meshes[0]->matrix);
        int entity_polys = 0, level_polys = 0;
        const int off = index_of("depth_mask", 0);
        for (int i = 0; i < r->count; ++i) {
            const rlib_call_t& c = r->calls[i];
            if (strcmp(c.op, "render_poly"))
                continue;
            const n_poly* p = static_cast<const n_poly*>(c.ptr);
            if (p >= e.model.meshes[0]->polys && p < e.model.meshes[0]->polys + e.model.meshes[0]->npolys) {
                EXPECT_TRUE(are_equal_m(c.model, expect_m, 1e-5f)) << "Mesh * Model";
                ++entity_polys;
            } else if (p >= child->meshes[0]->polys && p < child->meshes[0]->polys + child->meshes[0]->npolys) {
                EXPECT_TRUE(are_equal_m(c.model, parent_m, 1e-4f)) << "Mesh * Child * Parent";
                EXPECT_GT(i, off);
                ++entity_polys;
            } else {
                ++level_polys;
            }
        }
        EXPECT_EQ(entity_polys, e.model.meshes[0]->npolys + child->meshes[0]->npolys);
        EXPECT_EQ(level_polys > 0, x > 0) << x;
        EXPECT_GE(off, 0);
        expect_balanced();
    }
    level.ents.delete_nodes();

    // Transparent meshes beyond the limit are drawn at once, with one message.
    entity_t many;
    const int n = TRANS_MESHES_MAX + 3;
    ASSERT_EQ(many.model.alloc_meshes(n), 0);
    for (int i = 0; i < n; ++i)
        many.model.meshes[i] = mesh_copy(0, 1);
    many.model.skin = skin;
    level.ents.insert(&many);
    cam.stats.counters[STAT_MESHES] = 0;
    for (int round = 0; round < 2; ++round) {
        frame();
        EXPECT_EQ(cam._state.deferred_count, 0);
    }
    int messages = 0;
    for (const std::string& line : log_lines())
        messages += line.find("more than 1024 transparent meshes") != std::string::npos;
    EXPECT_EQ(messages, 1);
    EXPECT_EQ(cam.stats.counters[STAT_MESHES], 2 * n);
    level.ents.delete_nodes();

    // The render mode follows the distance ahead.
    cam.rmode_count = 3;
    const float ranges[3][2] = {{0, 10}, {10, 50}, {50, 1000}};
    for (int i = 0; i < 3; ++i)
        cam.rmodes[i].minz = ranges[i][0], cam.rmodes[i].maxz = ranges[i][1];
    makeIdentityMatrix(cam.orient.trans_m);  // looking down -z
    set_v(cam.wpos.trans_v, 0, 0, 0, 1);
    const struct { float z; int mode; } cases[] = {{-5, 0}, {-20, 1}, {-60, 2}, {30, 2}, {-2000, 2}};
    cam.setup_frame();
    mesh_t m;
    for (const auto& c : cases) {
        m.matrix[14] = c.z;
        cam.set_rmode(&m);
        EXPECT_EQ(cam._state.cur_rmode, c.mode) << c.z;
    }

    // _render_bbox: each corner's axes reach its three neighbours.
    bbox_t box;
    set_v(box.min, -1, 0, 2, 0);
    set_v(box.max, 3, 5, 4, 0);
    r->count = 0;
    _render_bbox(&box, 0);
    ASSERT_EQ(r->count, 8);
    for (int i = 0; i < 8; ++i)
        for (int a = 0; a < 3; ++a)
            for (int k = 0; k < 3; ++k) {
                const float* f = r->calls[i].floats;
                float end = f[12 + k] + f[a * 4 + k];
                EXPECT_TRUE(end == box.min[k] || end == box.max[k]);
                EXPECT_EQ(f[a * 4 + k] != 0, a == k);
            }
}

}  // namespace
