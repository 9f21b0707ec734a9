#include <gtest/gtest.h>

#include <cfloat>
#include <sstream>
#include <string>

#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "primitives/model.h"
#include "tests/common/log_fixture.h"
#include "tests/primitives/geometry_helpers.h"

using namespace vantrel;
using geometry_test::capture;
using geometry_test::cube_faces;
using geometry_test::make_mesh;

namespace {

class model_test : public vantrel_test::log_test {
protected:
    void TearDown() override
    {
        mc_fail_after(-1);
        log_test::TearDown();
    }
};

mesh_t* new_cube()
{
    mesh_t* m = KD_NEW mesh_t;
    make_mesh(*m, cube_faces());
    return m;
}

// A model with n cube meshes and the given children (taken over).
model_t* new_model(int n, std::initializer_list<model_t*> kids = {})
{
    model_t* m = KD_NEW model_t;
    EXPECT_EQ(m->alloc_meshes(n), 0);
    for (int i = 0; i < n; ++i)
        m->meshes[i] = new_cube();
    if (kids.size()) {
        m->children = KD_NEW model_t*[kids.size()];
        m->nchildren = (int)kids.size();
        int i = 0;
        for (model_t* k : kids)
            m->children[i++] = k;
    }
    return m;
}

TEST_F(model_test, model_matrices_bound_and_push_into_meshes)
{
    model_t m;
    ASSERT_EQ(m.alloc_meshes(2), 0);
    m.meshes[0] = new_cube();
    make_translate_m(m.meshes[0]->matrix, -5, -5, -5);
    float min[3], max[3];
    ASSERT_EQ(m.get_bbox(min, max), 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(min[i], -5);
        EXPECT_EQ(max[i], -4);  // all coordinates negative: the maximum too
    }
    // Child models are not visited.
    m.children = KD_NEW model_t*[1];
    m.nchildren = 1;
    m.children[0] = new_model(1);
    make_translate_m(m.children[0]->meshes[0]->matrix, 100, 0, 0);
    ASSERT_EQ(m.get_bbox(min, max), 0);
    EXPECT_EQ(max[0], -4);

    EXPECT_EQ(m.get_bbox(nullptr, max), -1);
    EXPECT_TRUE(log_has("invalid pointer: _min_v=0"));
    model_t empty;
    EXPECT_EQ(empty.get_bbox(min, max), -1);
    EXPECT_TRUE(log_has("invalid pointer: VALID_MODEL(this)=0"));
    // The matrix is pushed into the meshes.
    model_t* first = new_model(1);
    model_t* second = new_model(1);
    model_t* parent = new_model(1, {first, second});
    // Mesh: scale x by 2; model: translate by (10, 0, 0).
    parent->meshes[0]->matrix[0] = 2;
    make_translate_m(parent->matrix, 10, 0, 0);
    parent->apply_matrix_to_children(nullptr);

    // The mesh transform applies first, then the model's.
    float p[3] = {1, 0, 0}, out[3];
    multmatrix_v3r(out, parent->meshes[0]->matrix, p);
    EXPECT_FLOAT_EQ(out[0], 12);
    float id[16];
    makeIdentityMatrix(id);
    EXPECT_TRUE(are_equal_m(parent->matrix, id, 0));
    // The first child receives the matrix, and resets it for the second.
    EXPECT_FLOAT_EQ(first->meshes[0]->matrix[12], 10);
    EXPECT_TRUE(are_equal_m(second->meshes[0]->matrix, id, 0));

    float given[16];
    make_translate_m(given, 0, 7, 0);
    parent->apply_matrix_to_children(given);
    EXPECT_FLOAT_EQ(parent->meshes[0]->matrix[13], 7);
    EXPECT_TRUE(are_equal_m(given, id, 0));
    delete parent;
}

TEST_F(model_test, copy_shares_replace_takes_over_and_nothing_is_freed_twice)
{
    model_t* src = new_model(2);
    src->set_name("ship");
    make_translate_m(src->matrix, 1, 2, 3);
    material_t* skin[1] = {nullptr};
    src->skin = skin;

    model_t* other = new_model(1);  // its own mesh is released by copy
    ASSERT_EQ(other->copy(src), 0);
    EXPECT_EQ(other->meshes, src->meshes);
    EXPECT_TRUE(other->nmeshes == 2 && other->skin == skin && are_equal_m(other->matrix, src->matrix, 0));
    EXPECT_STREQ(other->name, "ship");
    EXPECT_FALSE(other->owns_meshes());
    delete other;  // leaves the shared meshes to src

    model_t dst;
    ASSERT_EQ(dst.replace(src), 0);
    EXPECT_TRUE(src->meshes == nullptr && src->nmeshes == 0 && src->skin == nullptr);
    EXPECT_EQ(dst.nmeshes, 2);
    delete src;
    EXPECT_EQ(dst.meshes[1]->vasize, 8);

    EXPECT_EQ(dst.copy(nullptr), -1);
    EXPECT_TRUE(log_has("invalid pointer: _m=0"));
    for (const char* steps :
         {"c10 c12 x0", "c10 x1", "c10 c21 x1", "c10 c01 x1", "c10 r21 x1", "c10 r10 x0", "c10 a1 x0"}) {
        SCOPED_TRACE(steps);
        model_t* m[3] = {new_model(1), new_model(2), new_model(3)};
        std::istringstream in(steps);
        for (std::string p; in >> p;) {
            model_t*& d = m[p[1] - '0'];
            model_t* from = p.size() > 2 ? m[p[2] - '0'] : nullptr;
            ASSERT_EQ(p[0] == 'c' ? d->copy(from) : p[0] == 'r' ? d->replace(from) : p[0] == 'a' ? d->alloc_meshes(1) : 0,
                      0);
            if (p[0] == 'x') {
                delete d;
                d = nullptr;
            }
            for (model_t* k : m)  // the meshes left are whole
                for (int i = 0; k && i < k->nmeshes; ++i)
                    EXPECT_TRUE(!k->meshes[i] || k->meshes[i]->vasize == 8);
        }
        for (model_t* k : m)  // owners before the models sharing with them
            delete k;
    }
}

}  // namespace
