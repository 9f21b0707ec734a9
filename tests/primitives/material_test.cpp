#include <gtest/gtest.h>

#include <cstring>

#include "kdbase/mem_collector.h"
#include "kdbase/str_const.h"
#include "primitives/material.h"
#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

// The render library's values of the four alpha factors. The constant table
// only grows, so this binary registers them once.
const str_const_t gl_alpha_factors[] = {
    {"GL_SRC_ALPHA", 0x302},         {"GL_ONE_MINUS_SRC_ALPHA", 0x303}, {"GL_DST_ALPHA", 0x304},
    {"GL_ONE_MINUS_DST_ALPHA", 0x305}, {"", -1},
};

class material_test : public vantrel_test::log_test {
protected:
    void SetUp() override
    {
        log_test::SetUp();
        static bool registered = (add_const_a(gl_alpha_factors), true);
        (void)registered;
    }
};

template <class S>
S* add_shader(material_t& m, int src, int dst, const char* name = nullptr)
{
    S* s = KD_NEW S;
    s->blend_src = src;
    s->blend_dst = dst;
    if constexpr (std::is_same_v<S, tex_shader_t>)
        s->texture.set_name(name);
    else
        s->set_name(name);
    EXPECT_EQ(m.shaders.insert(s), 0);
    return s;
}

TEST_F(material_test, set_flags_marks_alpha_blending_and_never_clears_the_bit)
{
    const struct {
        int src, dst;        // of the second shader; the first is opaque
        uint32_t before, after;
    } cases[] = {
        {1, 0, 0, 0},                             // opaque
        {7, 0x305, 0, MAT_BLENDED},               // GL_ONE_MINUS_DST_ALPHA as destination only
        {0x302, 0x303, 0, MAT_BLENDED},           // the usual alpha blend
        {0x304, 0, 0x10, 0x10 | MAT_BLENDED},     // other bits are kept
        {1, 0, MAT_BLENDED | 0x4, MAT_BLENDED | 0x4},  // set before, kept
        {-1, -1, 0, 0},                           // -1 is no factor
    };
    for (auto& k : cases) {
        material_t m;
        m.flags = k.before;
        add_shader<color_shader_t>(m, 1, 0);
        add_shader<tex_shader_t>(m, k.src, k.dst, "t.tga");
        m.set_flags();
        EXPECT_EQ(m.flags, k.after) << k.src << "/" << k.dst;
    }
}

TEST_F(material_test, texture_paths_lose_the_base_path_and_skins_are_released)
{
    material_t* a = KD_NEW material_t;
    material_t* b = KD_NEW material_t;
    color_shader_t* c = add_shader<color_shader_t>(*a, 1, 0, "/data/colour");
    tex_shader_t* t1 = add_shader<tex_shader_t>(*a, 1, 0, "/data/tex/a.tga");
    tex_shader_t* t2 = add_shader<tex_shader_t>(*b, 1, 0, "/elsewhere/b.tga");
    ASSERT_EQ(t1->texture.alloc_bits(4, 4, 0xFF0000, 0xFF00, 0xFF, 0), 0);
    d_list mats;
    mats.insert(a);
    mats.insert(b);
    trunc_tex_paths_l(&mats, "/data/");
    EXPECT_STREQ(t1->texture.name, "tex/a.tga");
    EXPECT_STREQ(t2->texture.name, "/elsewhere/b.tga");
    EXPECT_STREQ(c->name, "/data/colour");
    trunc_tex_paths(nullptr, "/");
    EXPECT_TRUE(log_has("invalid pointer: _mat="));

    // The skin's materials go with their shaders and textures (the leak
    // checker of the sanitizer build watches); the array stays.
    material_t* skin[] = {a, b, nullptr};
    material_t** s = skin;
    delete_skin_mats(&s);
    EXPECT_EQ(s, skin);
    EXPECT_EQ(skin[0], nullptr);
    EXPECT_EQ(skin[1], nullptr);
}

}  // namespace
