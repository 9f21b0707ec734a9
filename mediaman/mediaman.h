/// @file
/// The media loader: models, skins (material lists), animations, levels and
/// images by file name. A name is looked up first among the embedded files of
/// the mounted CDS containers, in order, and otherwise on disk, so a game's
/// media can ship as a few containers while loose files still work.
///
/// Kinds of file by extension (compared exactly, case-sensitive):
///   read_model  ".model" a CDS model, ".scn"/".obj" a trueSpace model;
///   read_anim   ".anim" CDS animations, ".scn"/".obj" a trueSpace animation;
///   anything else is refused ("%s: unsupported model format" / "%s:
///   unsupported animation format"), trueSpace ".cob" files among them: the
///   converter tool (vantrel-ts2cds) turns those into containers.
/// read_skin and read_level read CDS files whatever their extension;
/// read_image picks the codec by the extension of the name asked for.
///
/// Results are 0 or -1; each failure is logged once where it is found (the
/// messages for the user's files at EL_MINOR). Null arguments give the
/// invalid-pointer message naming the parameter.
///
/// Ownership: the loader holds no file open between calls and owns nothing it
/// returns. A CDS-based read that fails leaves the caller's objects exactly as
/// they were (nothing is handed over before the last step, and the shaders
/// it had added to textures are taken off again); everything read from the
/// file dies with the container. The trueSpace model path fills the caller's
/// model directly and may leave it partly filled on failure.
///
/// Mounting: a container is opened, initialised and read (cds::open, init,
/// read_all, which registers its embedded files) by the caller, who keeps it
/// open and owns it while it is mounted; for example
///     cds* c = new cds; c->init(); c->load("media.cds"); c->delete_type_objects();
///     loader.mount(c);
/// @ingroup mediaman
#pragma once
/// @addtogroup mediaman
/// @{

#include "kdbase/cfile.h"
#include "kdbase/d_list.h"

namespace vantrel {

class cds;
class image_t;
class level_t;
class material_t;
class model_t;
class solid_bsp_t;

/// Bits of the flags of the read operations (other bits are ignored).
enum {
    MM_LOAD_TEXTURES = 1,      ///< read_skin: load the textures of the skin's materials
    MM_IGNORE_TEX_ERRORS = 2,  ///< read_skin, load_skin_textures: a texture that fails does not fail the call
    MM_NO_SKIN = 4,            ///< read_model: attach no skin and load no textures
};
/// Slots of the container array, the terminating null included.
enum { MM_MAX_CONTAINERS = 32 };

/// The loader: mounted containers searched before the disk, and the texture
/// shaders it has filled. Owns neither (see the file's description).
class VANTREL_API mediaman_t {
public:
    /// Mounted containers, in search order, ending with a null entry. Not
    /// owned, never opened or closed here.
    cds* containers[MM_MAX_CONTAINERS];
    /// The texture shaders (tex_shader_t) whose images this loader read, in
    /// reading order (a shader read twice is listed twice). Not owned: they
    /// belong to the materials that were returned; do not use an entry after
    /// deleting its material.
    d_list textures;

    /// Nothing mounted, no textures listed.
    mediaman_t();
    mediaman_t(const mediaman_t&) = delete;
    mediaman_t& operator=(const mediaman_t&) = delete;

    /// Appends an opened and read container behind the mounted ones. 0, or -1
    /// when 31 are mounted already ("too many containers").
    int mount(cds* _container);

    /// Opens _fname in f: as a read-only view of the first mounted container
    /// holding an embedded file of exactly that name ("/tex/x.tga" for x.tga in
    /// group tex), else the file on disk for binary reading. -1 with "unable to
    /// find %s".
    int open_file(CFile& f, const char* _fname);

    /// A model into _model, which takes over the model's name, matrix, meshes
    /// and (unless flags has MM_NO_SKIN) skin. A CDS model needs a "MODL"
    /// chunk ("%s: no model found"; the first is used); its skin is the file's
    /// "MATL" chunks in file order or, without them, the CDS file a "TEXT"
    /// chunk names relative to the model's directory ("%s: two skins
    /// specified. using first one." when there are both); its textures are
    /// loaded once, failures failing the read unless flags has
    /// MM_IGNORE_TEX_ERRORS. A trueSpace model is the file's first group with
    /// its child models, each with a skin of its own (none with MM_NO_SKIN),
    /// texture failures ignored. The skin arrays and their materials become
    /// the caller's (delete_model_skins releases them).
    int read_model(const char* _fname, model_t* _model, int flags);
    /// Appends the animations of the file to _anims in file order (all the
    /// "ANIM" chunks of a CDS file, "%s: no animations found" without; the
    /// first group's animation of a trueSpace file). The caller owns them.
    int read_anim(const char* _fname, d_list* _anims, int flags);
    /// *_skin = a new null-terminated array of all the "MATL" materials of a
    /// CDS file in file order ("%s: no skin found" without); with
    /// MM_LOAD_TEXTURES their textures are loaded (load_skin_textures with
    /// flags). The caller owns the array and the materials.
    int read_skin(const char* _fname, material_t*** _skin, int flags);
    /// A CDS level into _level: the first "BSPT" tree ("%s: unable to find
    /// level"), all the "MESH" meshes in file order as its mesh table ("%s:
    /// level has no geometry"; a leaf naming a mesh beyond them: "%s: mesh
    /// number %d of node %d beyond the %d meshes"), and as its skin the
    /// material library that a "TEXT" chunk names relative to the level's
    /// directory ("%s: no material library found"), read with its textures,
    /// texture failures ignored. The level's old tree and mesh table are
    /// released; its old skin is left to the caller, as are ents, lights and
    /// the forces. flags is not used.
    int read_level(const char* _fname, level_t* _level, int flags);
    /// Decodes the image _fname (BMP or TGA by its extension) into _image,
    /// which is then named _fname. flags is not used. On failure the image is
    /// unchanged.
    int read_image(const char* _fname, image_t* _image, int flags);

    /// Loads the image of every texture shader of _mat (named by its
    /// texture's name) and lists the shader in textures. The first image that
    /// fails fails the call ("unable to add texture to list" when listing fails).
    int load_mat_textures(material_t* _mat);
    /// load_mat_textures for each material of the null-terminated skin; with
    /// MM_IGNORE_TEX_ERRORS a failing material does not fail the call.
    int load_skin_textures(material_t**& _skin, int flags);

    /// The CDS path of read_model, whatever the name's extension; the caller's
    /// model is unchanged on failure.
    int _cds_read_model(const char* _fname, model_t* _model, int flags);
    /// The CDS path of read_anim, whatever the name's extension; nothing is
    /// appended on failure.
    int _cds_read_anim(const char* _fname, d_list* _anims, int flags);
    ///@{
    /// The trueSpace paths: the file's first group (index 0). The model is
    /// filled in place, so a failure may leave it partly filled (what the
    /// failing conversion made below it is released).
    int _ts_read_model(const char* _fname, model_t* _model, int flags);
    int _ts_read_anim(const char* _fname, d_list* _anims, int flags);
    ///@}
    /// Loads the textures of the skins of _model and of its child models,
    /// failures ignored (as with MM_IGNORE_TEX_ERRORS).
    void _load_model_textures(model_t* _model);

private:
    int _open_cds(cds& c, const char* _fname);
    int _read_named_skin(cds& c, const char* _fname, material_t*** skin, int flags);
    void _forget_textures(int count);
};

/// Deletes the skins (materials and arrays) of _model and of its child models,
/// leaving each skin null. Null _model: logged.
VANTREL_API void delete_model_skins(model_t* _model);

/// Writes a compiled level as a container that read_level accepts: the tree
/// as "BSPT", its mesh table as "MESH" chunks in table order (meshes whose
/// polygons keep vertex arrays of their own are written unified), and a
/// "TEXT" chunk holding _matlib, the material library's file name relative to
/// the container. 0, or -1 for a tree without nodes or meshes, or when the
/// container cannot be written.
VANTREL_API int write_level(const char* _fname, solid_bsp_t* _level, const char* _matlib);

}  // namespace vantrel
/// @}
