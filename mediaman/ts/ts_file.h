/// @file
/// The trueSpace reader: binary little-endian trueSpace object and scene files
/// ("Caligari V00.01BLH") read into chunk records, and those records converted
/// on request into meshes, models, materials and animations. Text and
/// big-endian trueSpace files are refused.
/// @ingroup mediaman
#pragma once
/// @addtogroup mediaman
/// @{

#include <cstdio>
#include <string>

#include "kdbase/r_struct.h"
#include "mediaman/object3dfile.h"
#include "mediaman/ts/ts_records.h"

namespace vantrel {

class material_t;
class color_shader_t;

/// The option shared by every reader: non-zero keeps every chunk, the unknown
/// ones as raw bytes. Default 0.
extern VANTREL_API int ts_loadallchunks;
/// Publishes ts_loadallchunks in opts. 0, or -1 with "unable to add all
/// truespace options" (nothing added).
VANTREL_API int ts_register_options(r_struct& opts);

/// The axis conversion C between trueSpace (z up) and the engine (y up):
/// (x, y, z) becomes (-x, z, y). Matrices use the row-vector layout of the math
/// functions: "C x M" is multmatrix_mr(out, C, M), M applied first.
/// mrv_m = C x transpose(ts_m): a row-major 3x4 trueSpace transform becomes an
/// engine matrix in engine axes.
VANTREL_API void convert_ts_to_mrv_m(const float* _ts_m, float* _mrv_m);
/// ts_m = transpose(C x mrv_m).
VANTREL_API void convert_mrv_to_ts_m(const float* _mrv_m, float* _ts_m);
/// mrv_v = C applied to ts_v (3 components).
VANTREL_API void convert_ts_v_to_mrv_v(const float* _ts_v, float* _mrv_v);
/// The matrix C itself.
VANTREL_API const float* ts_axis_conversion();

/// Object types of GetObjectType.
enum TSObject3D {
    TS_DOES_NOT_EXIST = 0,
    TS_UNKNOWN = 1,
    TS_GROUP_OBJECT = 2,
    TS_UNIT_OBJECT = 3,
    TS_POLYGONAL = 4,
    TS_MATERIAL_OBJECT = 7,
    TS_LIGHT = 9,
    TS_CAMERA = 10,
    TS_ANIMATION = 11,
};

/// Statistics of get_stat.
enum {
    TS_STAT_CHUNKS = 1,
    TS_STAT_MESHES = 2,
    TS_STAT_GROUPS = 3,
    TS_STAT_LIGHTS = 4,
    TS_STAT_CAMERAS = 5,
    TS_STAT_EFFECTS = 6,
    TS_STAT_RAW = 256,
    TS_STAT_MATERIALS = 257,
    TS_STAT_TEXTURES = 258,
    TS_STAT_UNITS = 259,
    TS_STAT_VERTICES = 260,
    TS_STAT_FACES = 261,
    TS_STAT_UV_VERTICES = 262,
    TS_STAT_SHADERS = 263,
    TS_STAT_CHANNELS = 264,
    TS_STAT_BONES = 265,
    TS_STAT_JOINTS = 266,
    TS_STAT_AXES = 267,
};

struct ts_cursor;

/// Reads a file in three passes (header scan, data pass, hierarchy pass) and
/// never goes back to the file afterwards: queries and conversions work on the
/// records, which the reader owns until Close() or destruction. Everything a
/// conversion creates belongs to the caller (the objects and lists passed in).
/// Failures are logged once where detected; int results are 0 / -1, bool
/// results false, queries by chunk index false (or -1) for an invalid file, an
/// index out of range or a chunk of the wrong kind.
class VANTREL_API CTrueSpaceFile : public object3dfile {
public:
    long skipped;        ///< chunks not kept by the header scan
    bool valid;          ///< set by a correct header, cleared by a failed read
    /// The file's first 32 bytes; cleared by Close().
    unsigned char file_header[32];
    long header_count;   ///< chunk headers scanned, "END " included
    long chunk_count;    ///< kept chunks
    /// The kept chunks in file order; a chunk index is a position here.
    ts_table<TS_FILE_CHUNK> chunks;
    ts_array<long> roots;  ///< chunks whose parent was not found
    ///@{
    /// The records of one kind ("PolH", "Grou", "Unit", "Mat1", "ShBx"), in file
    /// order; a chunk's data_index is a position in the table of its kind.
    ts_table<TS_POLYGONAL_DATA> polygonals;
    ts_table<TS_GROUP> groups;
    ts_table<TS_UNIT> units;
    ts_table<TS_MATERIAL> materials;
    ts_table<TS_SHADERS> shaders;
    ///@}
    ts_array<long> textures;  ///< never filled by this reader
    /// The bytes of chunks kept without a reader (ts_loadallchunks).
    ts_table<TS_RAW_CHUNK> raw_chunks;
    ///@{
    /// The records of "Chan", "Bone", "Join" and "Axes" chunks, in file order.
    ts_table<TS_CHANNEL> channels;
    ts_table<TS_BONE> bones;
    ts_table<TS_JOINT> joints;
    ts_table<TS_AXES> axes;
    ///@}

    /// No file, no records, not valid.
    CTrueSpaceFile();
    /// Close(), then the stream is closed.
    ~CTrueSpaceFile() override;

    /// Releases the records of a file read before, opens filename for binary
    /// update (for reading only when it may not be changed) and reads it
    /// (read_all). 0, or -1 when it cannot be opened or read.
    int open(const char* filename) override;
    /// Reads the file already open from its start: header check, header scan,
    /// data pass, hierarchy pass. A chunk whose size runs past the end of the
    /// file, a file that ends inside a chunk, a failing reader, a chunk that is
    /// its own ancestor or chunks nested deeper than 256 levels fail the whole
    /// file; a file cut exactly behind a chunk is read to its end. False for a
    /// file that is not open ("file is not open") or on failure (valid cleared;
    /// the records read so far stay until Close).
    bool read_all();
    /// Frees every record and empties the tables; header_count and chunk_count
    /// become 0, valid is kept and the stream stays open.
    void Close();
    /// The valid flag: true once a correct header was read, until a read fails.
    bool IsValid() const { return valid; }

    // ---- conversions (the caller owns what they create) ----
    /// Polygon object index of the polygonals table into mesh; its materials are
    /// appended to mats. -1 for an index out of range (no message), null
    /// arguments ("read_mesh(): invalid parameters"), a corner outside the
    /// vertex or texture vertex list, or failed allocations: mesh may then be
    /// partly filled, mats holds none of this call's materials.
    int read_mesh(unsigned int index, mesh_t* mesh, d_list* mats) override;
    /// A new mesh for every polygon object whose name matches pattern (an
    /// empty name matches none), appended to meshes in file order, materials
    /// to mats. -1 at the first failure or for null arguments
    /// ("read_mesh_l(): invalid parameters"); what was appended before stays.
    int read_mesh_l(const char* pattern, d_list* meshes, d_list* mats) override;
    /// Group index into model, with its subtree (child models, meshes, one
    /// material list per model level as its skin). -1 for an index out of range
    /// ("index %d exceeds the number of models found"), a null model or a
    /// failing conversion; what this call made below the model is released.
    /// The model owns its children and meshes; the skins are the caller's: at
    /// every model level delete_skin_mats and delete[] of the skin array.
    int read_model(unsigned int index, model_t* model) override;
    /// A new model for every group (nested ones included) whose name matches
    /// pattern, appended to models in file order. -1 at the first failure
    /// ("unable to add model to list" for a failed append; the models
    /// appended before stay).
    int read_model_l(const char* pattern, d_list* models) override;
    /// Group index into anim (what anim held is released first): named like
    /// the group, a child animation per sub-group, one channel stack per bone or
    /// polygon object with channels (named by its first channel), a keyframe
    /// per trueSpace keyframe of "Move" and "Rotate" channels at 30 frames a
    /// second; the range is the whole animation, the time 0. -1 for an index
    /// out of range ("index greater the total number of models"), a null anim,
    /// a Move channel without a bone, a Rotate channel without group and bone
    /// (the invalid-pointer message naming _bone or _group) or a failed
    /// allocation: anim then holds no stacks and no children.
    int read_CSAnimation(unsigned int index, CSAnimation* anim) override;
    /// A new animation for every group whose name matches pattern, appended to
    /// anims in file order. -1 on failure, with nothing appended.
    int read_CSAnimation_l(const char* pattern, d_list* anims) override;
    ///@{
    /// Lights are not decoded: both leave their output alone and return 0.
    int read_light_t(unsigned int index, light_t* light) override;
    int read_light_t_l(const char* pattern, d_list* lights) override;
    ///@}
    /// A new mesh from one record (no bone, material offset 0, no materials),
    /// owned by the caller; null for a null record or on failure.
    mesh_t* create_mesh_from(TS_POLYGONAL_DATA* p);
    /// Sum of the corner counts of the stored faces; -1 for null.
    long total_polygonal_verts(TS_POLYGONAL_DATA* p);

    // ---- statistics and dumps ----
    /// The statistic which (TS_STAT_*); -1 with "get_stat(): CTrueSpaceFile
    /// does not keep statistic %d" for any other value.
    int get_stat(int which) override;
    /// One line per statistic, each behind prefix; the first line gives the
    /// file's size in bytes. Nothing with a null stream or prefix.
    void dump_stats(FILE* out, const char* prefix) override;
    /// dump_stats, then the chunk tree; with verbose also every record.
    void PrintInfo(FILE* out, bool verbose);
    /// The chunk tree, depth first from the roots, one ".." per level; with
    /// verbose also every record. Nothing for a null stream or an invalid file.
    void PrintHierarchy(FILE* out, bool verbose);

    // ---- queries by chunk index ----
    /// First kept chunk with that id, or -1 ("unable to find the chunk for object %d").
    long get_object_chunk(unsigned int id);
    /// Number of roots (chunks whose parent was not found); 0 for an invalid file.
    long GetBaseObjectCount();
    /// Chunk index of the i-th root, or -1.
    long GetBaseObjectID(long i);
    /// Number of children of chunk id, or -1.
    long GetChildCount(long id);
    /// Chunk index of the k-th child of chunk id, or -1.
    long GetChildID(long id, long k);
    /// Index of the chunk holding id among its children, or -1.
    long IsGroup(long id);
    /// The kind of chunk id by its type ("Grou", "PolH", "Unit", "Mat1", "Lght",
    /// "Came", "Chan") and true; TS_UNKNOWN for any other type and
    /// TS_DOES_NOT_EXIST for a bad index, with false.
    bool GetObjectType(long id, TSObject3D& t);
    /// The name string (without dupecount) of a group or polygon object and
    /// true; for other chunks a description of the kind ("Does Not Exist",
    /// "Type( TSUnknown )", "Type( Unit )", "Type( Material )", "Light",
    /// "Camera", "Animation", "Error") and false.
    bool GetObjectName(long id, std::string& s);
    ///@{
    /// Of a group or polygon object: the local axes as read (centre, X, Y, Z
    /// directions: 12 floats) or the position (16 floats). False for other
    /// chunks or a null destination.
    bool GetObjectLocalAxes(long id, float* axes12);
    bool GetObjectPosition(long id, float* pos16);
    ///@}
    /// The value of a "Unit" chunk.
    bool GetObjectUnit(long id, long& u);
    ///@{
    /// Of a polygon object, in trueSpace axes: the vertex count, vertex k (3
    /// floats), the texture vertex count, texture vertex k (2 floats) and the
    /// number of stored faces (holes excluded). False for other chunks, k out of
    /// range or a null destination.
    bool GetVertexCount(long id, unsigned long& n);
    bool GetVertex(long id, unsigned long k, float* xyz);
    bool GetTextureVertexCount(long id, unsigned long& n);
    bool GetTextureVertex(long id, unsigned long k, float* uv);
    bool GetFaceCount(long id, unsigned long& n);
    ///@}
    /// The first three corners of face k (vertex, texture vertex for each; -1
    /// for corners it lacks) and its material index.
    bool GetFace(long id, unsigned long k, long* corners6, long& mat);
    /// All n corners (2n longs; corners must hold them).
    bool GetFace(long id, unsigned long k, long* corners, unsigned short& n, long& mat);
    ///@{
    /// Material queries of a polygon object, whose materials are its "Mat1"
    /// children in order: their number, the number of those with a texture map,
    /// the chunk index of the k-th (-1 when there is none) and its colour (4
    /// floats). False for other chunks or a null destination.
    bool HasMaterial(long id, unsigned long& n);
    bool HasTexture(long id, unsigned long& n);
    long GetMaterialID(long id, long k);
    bool GetMaterialColor(long id, long k, float* rgba);
    ///@}
    ///@{
    /// Lighting values of the k-th material from its record: ambient = the
    /// colour scaled by the ambient factor (alpha kept), diffuse = the colour,
    /// specular = the specular factor in red, green and blue with alpha 1,
    /// shininess = the highlight size, emission = (0, 0, 0, 1).
    bool GetMaterialAmbient(long id, long k, float* rgba);
    bool GetMaterialDiffuse(long id, long k, float* rgba);
    bool GetMaterialSpecular(long id, long k, float* rgba);
    bool GetMaterialShininess(long id, long k, float& shininess);
    bool GetMaterialEmission(long id, long k, float* rgba);
    ///@}
    /// The k-th textured material's texture path, or "Not Found" and false.
    bool GetTexturePath(long id, long k, std::string& s);
    /// The same path without everything up to its last backslash.
    bool GetTextureName(long id, long k, std::string& s);

    /// Text form of a name: "%s,%d" with a non-zero dupecount, else "%s".
    static std::string convert_name_to_str(const TS_NAME& n);

    ///@{
    /// The record of chunk c when it is of kind k, else null.
    TS_POLYGONAL_DATA* polygonal_of(long c);
    TS_GROUP* group_of(long c);
    ///@}

private:
    int ReadGroup_00_01(long chunk, ts_cursor& c);
    int ReadBone_00_05(long chunk, ts_cursor& c);
    int ReadUnit_00_01(long chunk, ts_cursor& c);
    int ReadAxes_00_01(long chunk, ts_cursor& c);
    int ReadRawChunk(long chunk, ts_cursor& c);
    int ReadPolygon_00_06(long chunk, ts_cursor& c);
    int ReadMaterial_00_06(long chunk, ts_cursor& c);
    int ReadShaders_00_00(long chunk, ts_cursor& c);
    int ReadChannel_00_08(long chunk, ts_cursor& c);
    int ReadJoint_00_05(long chunk, ts_cursor& c);

    bool header_ok();
    bool scan_headers(long fsize);
    bool read_chunks();
    bool link_chunks();
    long child_count_of_kind(long chunk, ts_kind k);
    TS_MATERIAL* material_of_child(long id, long k, bool textured);

    ///@{
    /// The conversion of one record; without mats (create_mesh_from) no bone
    /// is looked for, the material offset is 0 and no material is loaded. who
    /// names the caller in messages.
    int _read_mesh(TS_POLYGONAL_DATA* p, mesh_t* mesh, d_list* mats, const char* who);
    int _load_mesh_materials(TS_POLYGONAL_DATA* p, d_list* mats);
    int _load_model_children(long chunk, model_t* model);
    int _load_mat_shaders(material_t* mat, long chunk);
    int _load_child_channels(long chunk, const TS_GROUP* group, const TS_BONE* bone, d_list& stacks);
    int _load_channel_stacks(const TS_GROUP* group, CSAnimation* anim);
    ///@}

    void print_chunk(FILE* out, long c, int depth, bool verbose);

    friend struct ts_readers;
};

}  // namespace vantrel
/// @}
