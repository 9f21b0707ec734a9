/// @file
/// Materials: named lists of shaders, each shader one drawing pass with a
/// blend function: colour shaders with lighting colours, texture shaders with
/// an image, wrapping and a texture matrix. Polygons and meshes name a
/// material by its number in the skin (a null-terminated material list) in
/// force when they are drawn. Reading and writing them is the media side's.
/// @ingroup primitives
#pragma once
/// @addtogroup primitives
/// @{

#include <cstdint>
#include <cstdio>

#include "image/image.h"
#include "kdbase/d_list.h"
#include "kdbase/group.h"

namespace vantrel {

/// A texture image. Its name is the path of the image file; loaders set the
/// name from the stored path and load the pixels separately.
class VANTREL_API texture_t : public image_t {};

/// One slot a renderer may use to remember what it made of an object (a
/// texture or display-list id). Nothing here reads or writes it.
class VANTREL_API cacheable_t {
public:
    /// The renderer's id for the object; 0 when it has none.
    int32_t cache_id;

    cacheable_t() : cache_id(0) {}
};

class shader_t;
/// Called by the renderer with the shader each time its material becomes current.
typedef void (*shader_func_t)(shader_t*);

/// The common part of every shader. The blend factors are values of the render
/// library's blend-factor constants ("GL_SRC_ALPHA" and the like), which it
/// registers as named constants. A new shader blends opaquely: 1 and 0, the
/// values OpenGL gives GL_ONE and GL_ZERO.
class VANTREL_API shader_t : public groupable_t, public cacheable_t {
public:
    /// Source blend factor.
    int32_t blend_src;
    /// Destination blend factor.
    int32_t blend_dst;
    shader_func_t func;  ///< null: nothing to call

    shader_t();
    /// The groupable_t dump, then "%sblend_src=%d blend_dst=%d func=0x%x\\n".
    /// Nothing for a null stream or prefix.
    void dump(FILE* f, const char* tabs) override;
};

/// Lighting colours (RGBA). A new one is white with OpenGL's default lighting
/// material: ambient (0.2, 0.2, 0.2, 1), diffuse (0.8, 0.8, 0.8, 1), specular
/// and emission (0, 0, 0, 1), shininess 0.
class VANTREL_API color_shader_t : public shader_t {
public:
    /// Base colour.
    float color[4];
    /// Ambient reflectance.
    float ambient[4];
    /// Diffuse reflectance.
    float diffuse[4];
    /// Specular reflectance.
    float specular[4];
    /// Specular exponent.
    float shininess;
    /// Emitted light.
    float emission[4];

    color_shader_t();
    /// "%scolor_shader_t:\\n", the shader_t dump, each colour through dump_v
    /// and "%sshininess=%f\\n".
    void dump(FILE* f, const char* tabs) override;
};

/// A texture pass. tex_param, wrap_u and wrap_v are the render library's
/// values, stored and handed on only (a new shader has 0). The shader owns its
/// texture; tex_matrix starts as the identity.
class VANTREL_API tex_shader_t : public shader_t {
public:
    /// Texture parameter of the render library.
    int32_t tex_param;
    /// Wrapping mode along u.
    int32_t wrap_u;
    /// Wrapping mode along v.
    int32_t wrap_v;
    /// The image; owned.
    texture_t texture;
    /// Texture-coordinate transform (translation in elements 12-14).
    float tex_matrix[16];

    tex_shader_t();
    /// "%stex_shader_t:\\n", the shader_t dump, "%swrap_u=%d wrap_v=%d\\n",
    /// "%s--texture:\\n", the texture's image dump and the matrix.
    void dump(FILE* f, const char* tabs) override;
};

/// Bit 0 of material_t::flags: some shader blends with alpha.
enum { MAT_BLENDED = 1 };

/// A named list of shaders in drawing order. The list owns the shaders:
/// deleting the material deletes them.
class VANTREL_API material_t : public groupable_t {
public:
    uint32_t flags;  ///< MAT_BLENDED; other bits are kept and printed only
    d_list shaders;  ///< of shader_t, owned

    material_t();
    material_t(const material_t&) = delete;
    material_t& operator=(const material_t&) = delete;

    /// Sets MAT_BLENDED when a shader's blend_src or blend_dst equals the value
    /// of one of the named constants "GL_SRC_ALPHA", "GL_ONE_MINUS_SRC_ALPHA",
    /// "GL_DST_ALPHA", "GL_ONE_MINUS_DST_ALPHA", looked up at each call. Never
    /// clears the bit. A name not registered logs its lookup failure and
    /// matches no factor.
    void set_flags();
};

/// Shortens the path (the name) of every texture shader's texture of _mat
/// by the leading _basepath (trunc_path); colour shaders are left alone.
/// Null arguments log the invalid-pointer message (_mat, _basepath).
VANTREL_API void trunc_tex_paths(material_t* _mat, const char* _basepath);
/// trunc_tex_paths on every material of _mats (null: "_mats" logged).
VANTREL_API void trunc_tex_paths_l(d_list* _mats, const char* _basepath);

/// The groupable_t dump, "%sflags=%x\\n", "%sshaders:\\n" and each shader's dump
/// with the prefix followed by two spaces. Nothing for null arguments.
VANTREL_API void dump_material_t(FILE* f, material_t* mat, const char* tabs);

/// Deletes every material of the null-terminated list *skin (a model's or a
/// level's skin) and sets each entry to null; the array itself is not freed.
/// Null skin or *skin: nothing happens.
VANTREL_API void delete_skin_mats(material_t*** skin);

}  // namespace vantrel
/// @}
