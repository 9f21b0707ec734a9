#include <gtest/gtest.h>

#include "kdbase/mem_collector.h"
#include "kdbase/str_const.h"
#include "primitives/material.h"
#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

// The render library's values of the four alpha factors. The constant table
// only grows, so this binary registers them once.
const str_const_t gl_alpha_factors[] = {
    {"GL_SRC_ALPHA", 0x302},           {"GL_ONE_MINUS_SRC_ALPHA", 0x303}, {"GL_DST_ALPHA", 0x304},
    {"GL_ONE_MINUS_DST_ALPHA", 0x305}, {"", -1},
};

tex_shader_t* add_tex(material_t& m, const char* path, int src = 1, int dst = 0)
{
    tex_shader_t* t = KD_NEW tex_shader_t;
    t->texture.set_name(path);
    t->blend_src = src;
    t->blend_dst = dst;
    m.shaders.insert(t);
    return t;
}

TEST(material_test, set_flags_marks_alpha_blending_and_never_clears_the_bit)
{
    static bool registered = (add_const_a(gl_alpha_factors), true);
    ASSERT_TRUE(registered);
    // The texture shader's factors; the colour shader before it is opaque.
    const struct {
        int src, dst;
        uint32_t before, after;
    } cases[] = {
        {1, 0, 0, 0}, {7, 0x305, 0, MAT_BLENDED}, {0x302, 0x303, 0, MAT_BLENDED}, {0x304, 0, 0x10, 0x10 | MAT_BLENDED},
        {1, 0, MAT_BLENDED | 0x4, MAT_BLENDED | 0x4}, {-1, -1, 0, 0},
    };
    for (auto& k : cases) {
        material_t m;
        m.flags = k.before;
        m.shaders.insert(KD_NEW color_shader_t);
        add_tex(m, "t.tga", k.src, k.dst);
        m.set_flags();
        EXPECT_EQ(m.flags, k.after) << k.src << "/" << k.dst;
    }
}

class material_log_test : public vantrel_test::log_test {};

TEST_F(material_log_test, texture_paths_lose_the_base_path_and_skins_are_released)
{
    material_t* skin[] = {KD_NEW material_t, KD_NEW material_t, nullptr};
    color_shader_t* c = KD_NEW color_shader_t;
    c->set_name("/data/colour");
    skin[0]->shaders.insert(c);
    tex_shader_t* t1 = add_tex(*skin[0], "/data/tex/a.tga");
    tex_shader_t* t2 = add_tex(*skin[1], "/elsewhere/b.tga");
    ASSERT_EQ(t1->texture.alloc_bits(4, 4, 0xFF0000, 0xFF00, 0xFF, 0), 0);
    d_list mats;
    mats.insert(skin[0]);
    mats.insert(skin[1]);
    trunc_tex_paths_l(&mats, "/data/");
    EXPECT_STREQ(t1->texture.name, "tex/a.tga");
    EXPECT_STREQ(t2->texture.name, "/elsewhere/b.tga");
    EXPECT_STREQ(c->name, "/data/colour");
    trunc_tex_paths(nullptr, "/");
    EXPECT_TRUE(log_has("invalid pointer: _mat="));
    // The materials go with their shaders and textures (the sanitizer build
    // watches for leaks); the array stays.
    material_t** s = skin;
    delete_skin_mats(&s);
    EXPECT_EQ(skin[0], nullptr);
    EXPECT_EQ(skin[1], nullptr);
}

}  // namespace
