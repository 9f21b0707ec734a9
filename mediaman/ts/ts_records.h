/// @file
/// The records a trueSpace file is decoded into: one per kept chunk, held by
/// CTrueSpaceFile in one table per kind. Records own their arrays and strings;
/// deleting a record releases everything in it.
/// @ingroup mediaman
#pragma once
/// @addtogroup mediaman
/// @{

#include <cstdint>

#include "kdbase/mem_collector.h"
#include "platform/export.h"

namespace vantrel {

/// A growable array of plain values in tracked memory. add() gives the new
/// element's index, or -1 when the array cannot grow (the array is unchanged).
template <class T>
class ts_array {
public:
    /// The elements (an array allocation, owned); null while empty.
    T* items;
    /// Elements in use.
    long count;

    ///@{
    /// An empty array; the destructor frees the elements' storage.
    ts_array() : items(nullptr), count(0), capacity(0) {}
    ~ts_array() { clear(); }
    ///@}
    ts_array(const ts_array&) = delete;
    ts_array& operator=(const ts_array&) = delete;

    /// Appends a copy of v, doubling the storage when full (8 at first).
    long add(const T& v)
    {
        if (count == capacity) {
            long n = capacity ? capacity * 2 : 8;
            T* grown = KD_NEW T[n];
            if (!grown)
                return -1;
            for (long i = 0; i < count; ++i)
                grown[i] = items[i];
            delete[] items;
            items = grown;
            capacity = n;
        }
        items[count] = v;
        return count++;
    }
    /// Frees the storage; the array is empty afterwards.
    void clear()
    {
        delete[] items;
        items = nullptr;
        count = capacity = 0;
    }
    /// Whether i is the index of an element.
    bool has(long i) const { return i >= 0 && i < count; }
    /// Element i, not checked (see has).
    T& operator[](long i) const { return items[i]; }

private:
    long capacity;
};

/// A table of records it owns: clear() and the destructor delete them. A
/// record given to add() is owned by the table only when add() succeeds.
template <class T>
class ts_table : public ts_array<T*> {
public:
    ///@{
    /// Deletes every record, then empties the table.
    ~ts_table() { clear(); }
    void clear()
    {
        for (long i = 0; i < this->count; ++i)
            delete this->items[i];
        ts_array<T*>::clear();
    }
    ///@}
};

/// The 20-byte header in front of every chunk.
struct TS_HEADER {
    char type[5];  ///< four characters and a terminator
    ///@{
    /// The chunk's version: a reader is chosen by type, major and minor.
    uint16_t major;
    uint16_t minor;
    ///@}
    /// The chunk's id.
    int32_t id;
    /// The id of the chunk this one belongs to.
    int32_t parent_id;
    int32_t size;  ///< bytes of data after the header
};

/// What a kept chunk was decoded into: which table its data_index points into.
enum ts_kind {
    /// raw_chunks: a chunk kept without a reader of its own.
    TS_KIND_RAW,
    TS_KIND_GROUP,
    TS_KIND_POLYGONAL,
    TS_KIND_UNIT,
    TS_KIND_MATERIAL,
    TS_KIND_SHADERS,
    TS_KIND_CHANNEL,
    TS_KIND_BONE,
    TS_KIND_JOINT,
    TS_KIND_AXES,
};

/// One kept chunk of the file.
struct TS_FILE_CHUNK {
    /// The chunk's header as read.
    TS_HEADER header;
    /// The table its record is in.
    ts_kind kind;
    long data_index;          ///< position of the record in the table of its kind
    ts_array<long> children;  ///< chunk indices, filled by the hierarchy pass
    long file_pos;            ///< of the header
};

/// A text of at most 1024 characters, kept zero-terminated.
struct TS_STRING {
    /// Characters of the text as stored (the terminator not counted).
    uint16_t length;
    char* text;  ///< length + 1 characters; never null once read
    TS_STRING() : length(0), text(nullptr) {}
    ~TS_STRING() { delete[] text; }
    TS_STRING(const TS_STRING&) = delete;
    TS_STRING& operator=(const TS_STRING&) = delete;
    /// The text; "" before it was read.
    const char* str() const { return text ? text : ""; }
};

/// An object's name: a text and the number that tells apart objects of the
/// same text (0 for the first). CTrueSpaceFile::convert_name_to_str gives its
/// text form.
struct TS_NAME {
    /// 0, or the number of the duplicate.
    uint16_t dupecount;
    /// The name's text.
    TS_STRING string;
};

/// Local axes as read (centre, X, Y, Z direction) and as a matrix: identity,
/// then X, Y, Z directions and the centre in elements 0-2, 4-6, 8-10, 12-14.
struct TS_LAXES {
    /// The 12 floats as read: centre, then the X, Y and Z directions.
    float raw[12];
    /// The same as a matrix (layout above).
    float m[16];
};

/// A 3x4 transform: the 12 floats read in order, then 0, 0, 0, 1.
struct TS_POSITION {
    /// Row by row: three rows of four as read, then 0, 0, 0, 1.
    float m[16];
};

/// Groups and bones share one layout.
struct TS_GROUP {
    long chunk;  ///< index of the chunk it was read from
    /// The group's (bone's) name.
    TS_NAME name;
    /// Its local axes; a bone's axes place the polygon objects named like it.
    TS_LAXES axes;
    /// Its position.
    TS_POSITION position;
};
/// A "Bone" record: the layout of a group.
typedef TS_GROUP TS_BONE;

/// A "Unit" record.
struct TS_UNIT {
    /// Index of the chunk it was read from.
    long chunk;
    /// The unit value as stored.
    uint16_t unit;
};

/// An "Axes" record.
struct TS_AXES {
    /// Index of the chunk it was read from.
    long chunk;
    /// The transform it holds.
    TS_POSITION position;
};

/// The vertex positions of a polygon object, in trueSpace axes.
struct TS_VERTEX_LIST {
    /// Vertices.
    int32_t count;
    float* xyz;  ///< 3 * count
    TS_VERTEX_LIST() : count(0), xyz(nullptr) {}
    ~TS_VERTEX_LIST() { delete[] xyz; }
};

/// The texture vertices of a polygon object.
struct TS_UV_VERTEX_LIST {
    /// Texture vertices.
    int32_t count;
    float* uv;  ///< 2 * count
    TS_UV_VERTEX_LIST() : count(0), uv(nullptr) {}
    ~TS_UV_VERTEX_LIST() { delete[] uv; }
};

/// One corner of a face.
struct TS_FACE_VERTICES {
    /// Index into the vertex list.
    int32_t vertex;
    /// Index into the texture vertex list.
    int32_t uv_vertex;
};

/// One stored face of a polygon object (holes are not stored).
struct TS_FACE_LIST {
    /// The face's flags as stored; bit 3 (a hole) is never set here.
    uint8_t flags;
    /// Corners of the face.
    uint16_t ncorners;
    /// Index among the object's materials (its "Mat1" children in order).
    uint16_t material;
    /// ncorners corners, in the order stored.
    TS_FACE_VERTICES* corners;
    TS_FACE_LIST() : flags(0), ncorners(0), material(0), corners(nullptr) {}
    ~TS_FACE_LIST() { delete[] corners; }
};

/// A "PolH" record: a polygon object.
struct TS_POLYGONAL_DATA {
    /// Index of the chunk it was read from; -1 until read.
    long chunk;
    /// The chunk's header (its minor version decides the last field).
    TS_HEADER header;
    /// The object's name.
    TS_NAME name;
    /// The local frame the mesh's vertices are re-expressed in.
    TS_LAXES axes;
    /// Places the vertices in the scene.
    TS_POSITION position;
    /// Vertex positions.
    TS_VERTEX_LIST vertices;
    /// Texture coordinates.
    TS_UV_VERTEX_LIST uv_vertices;
    int32_t nfaces;        ///< stored faces (holes excluded)
    TS_FACE_LIST* faces;   ///< nfaces
    /// Kept, not used by the conversions.
    int32_t draw_flags;
    /// Stored only below version 0.8 (else 0); not used.
    uint16_t radiosity_quality;
    TS_POLYGONAL_DATA() : chunk(-1), nfaces(0), faces(nullptr), draw_flags(0), radiosity_quality(0) {}
    ~TS_POLYGONAL_DATA() { delete[] faces; }
};

/// Map records of a material: tag[0] is 0 when the map is absent.
/// The environment map ("e:").
struct TS_MATERIAL_ENVIRONMENT_MAP_DATA {
    /// The tag as read ('e', ':'); zeros when absent.
    char tag[2];
    /// The map's flag as stored.
    char flag;
    /// The image file's path.
    TS_STRING path;
};

/// The texture map ("t:").
struct TS_MATERIAL_TEXTURE_MAP_DATA {
    /// The tag as read ('t', ':'); zeros when absent.
    char tag[2];
    /// The map's flag as stored.
    char flag;
    /// The image file's path (GetTexturePath).
    TS_STRING path;
    /// u and v offsets.
    float offset[2];
    /// u and v repeats.
    float repeat[2];
};

/// The bump map ("b:").
struct TS_MATERIAL_BUMP_MAP_DATA {
    /// The tag as read ('b', ':'); zeros when absent.
    char tag[2];
    /// The map's flag as stored.
    char flag;
    /// The image file's path.
    TS_STRING path;
    /// u and v offsets.
    float offset[2];
    /// u and v repeats.
    float repeat[2];
    /// Relative amplitude.
    float amplitude;
};

/// A "Mat1" record. The conversion uses the colour only; the rest is kept for
/// the queries and dumps.
struct TS_MATERIAL {
    /// Index of the chunk it was read from.
    long chunk;
    /// The material number as stored (not its position among the object's).
    uint16_t number;
    ///@{
    /// Shader and facet type characters, and the facet auto angle.
    char shader_type;
    char facet_type;
    char facet_angle;
    ///@}
    /// Red, green, blue, alpha.
    float color[4];
    ///@{
    /// Ambient and specular factors, highlight size and index of refraction.
    float ambient;
    float specular;
    float highlight;
    float refraction;
    ///@}
    ///@{
    /// The maps; each is present when its tag is set.
    TS_MATERIAL_ENVIRONMENT_MAP_DATA env;
    TS_MATERIAL_TEXTURE_MAP_DATA texture;
    TS_MATERIAL_BUMP_MAP_DATA bump;
    ///@}
};

struct TS_GENERIC_SHADER_DATA;

/// Parameter types of a shader.
enum {
    TS_PARAM_INT = 1,
    TS_PARAM_INT2 = 2,
    TS_PARAM_FLOAT = 3,
    TS_PARAM_RAW8 = 4,
    TS_PARAM_INT5 = 5,
    TS_PARAM_BOOL = 6,
    TS_PARAM_COLOR = 7,
    TS_PARAM_VEC8 = 8,
    TS_PARAM_VEC9 = 9,
    TS_PARAM_STRING = 10,
    TS_PARAM_SHADER = 11,
    TS_PARAM_U16A = 33,
    TS_PARAM_U16B = 34,
    TS_PARAM_U8 = 45,
    TS_PARAM_VEC4 = 49,
};

/// One parameter of a shader: the value member its type selects is set (the
/// type codes beside each member), the others stay 0.
struct TS_SHADER_PARAM {
    /// The parameter's name.
    TS_STRING name;
    /// One of TS_PARAM_* (an unknown type reads no value).
    int32_t type;
    int32_t i;                 ///< 1, 2, 5, 6 (bool: 0/1), 33, 34, 45
    float f[4];                ///< 3: f[0]; 7, 8, 9: f[0..2]; 49: f[0..3]
    unsigned char raw[8];      ///< 4
    TS_STRING s;               ///< 10; the blending parameter of 11
    uint8_t validity;          ///< 11
    TS_GENERIC_SHADER_DATA* shader;  ///< 11 with validity set; owned
    float blend;               ///< 11
    ///@{
    /// Every value 0, no nested shader; the destructor deletes the nested one.
    TS_SHADER_PARAM();
    ~TS_SHADER_PARAM();
    ///@}
    TS_SHADER_PARAM(const TS_SHADER_PARAM&) = delete;
    TS_SHADER_PARAM& operator=(const TS_SHADER_PARAM&) = delete;
};

/// One shader of a shader box: its name (e.g. "plain", "phong", "caligari
/// texture") and its parameters in stored order.
struct TS_GENERIC_SHADER_DATA {
    /// The shader's class as stored.
    uint8_t shader_class;
    /// The shader's name, which decides how the conversion reads it.
    TS_STRING name;
    /// Parameters (16 for a layered shader).
    int32_t nparams;
    TS_SHADER_PARAM* params;  ///< nparams
    TS_GENERIC_SHADER_DATA() : shader_class(0), nparams(0), params(nullptr) {}
    ~TS_GENERIC_SHADER_DATA() { delete[] params; }
    TS_GENERIC_SHADER_DATA(const TS_GENERIC_SHADER_DATA&) = delete;
    TS_GENERIC_SHADER_DATA& operator=(const TS_GENERIC_SHADER_DATA&) = delete;
};

inline TS_SHADER_PARAM::TS_SHADER_PARAM() : type(0), i(0), f{0, 0, 0, 0}, raw{}, validity(0), shader(nullptr), blend(0) {}
inline TS_SHADER_PARAM::~TS_SHADER_PARAM() { delete shader; }

/// Slots: 0 colour, 1 transparency, 2 reflectance, 3 unused by the conversion.
struct TS_SHADERS {
    /// Index of the chunk it was read from.
    long chunk;
    /// The four shaders, by slot.
    TS_GENERIC_SHADER_DATA slots[4];
};

/// One keyframe of a channel.
struct TS_KEYFRAME {
    /// The trueSpace frame number (absolute; 30 frames a second).
    float frame;
    /// Kept, not used by the conversion.
    float acceleration;
    ///@{
    /// Spline parameters, kept and not used by the conversion.
    float tension, continuity, bias;  ///< 0 without spline parameters
    ///@}
    float value[12];                  ///< by channel type: 4 (Rotate), 3 (Move), 12 (Scale)
};

/// A "Chan" record: a keyframe channel of the object it belongs to.
struct TS_CHANNEL {
    /// Index of the chunk it was read from; -1 until read.
    long chunk;
    /// The channel's name (names the stack of its object's first channel).
    TS_STRING name;
    /// "Move", "Rotate", "Scale" or another type (read without values).
    TS_STRING type;
    /// Bit 0: every keyframe carries spline parameters.
    uint16_t flags;
    /// Keyframes.
    uint16_t nkeyframes;
    /// nkeyframes keyframes, in stored order.
    TS_KEYFRAME* keyframes;
    TS_CHANNEL() : chunk(-1), flags(0), nkeyframes(0), keyframes(nullptr) {}
    ~TS_CHANNEL() { delete[] keyframes; }
};

/// The limits of one degree of freedom of a joint.
struct TS_JDOF_LIMITS {
    /// The limits' flags as stored.
    uint16_t flags;
    ///@{
    /// Stiffness and range.
    float stiffness, min, max;
    ///@}
};

/// Degree-of-freedom bits in record order; 8 has no record.
enum { TS_JOINT_NLIMITS = 6 };
/// The bits of TS_JOINT::dof that carry a limits record, in record order:
/// rotation X, Y, Z (1, 2, 4), translation X, Y, Z (16, 32, 64).
extern VANTREL_API const uint16_t ts_joint_dof_bits[TS_JOINT_NLIMITS];

/// A "Join" record. Kept for the dumps; no conversion uses joints.
struct TS_JOINT {
    /// Index of the chunk it was read from.
    long chunk;
    /// The joint's name.
    TS_NAME name;
    /// Its local axes.
    TS_LAXES axes;
    /// Its position.
    TS_POSITION position;
    ///@{
    /// Connector 1 and 2 positions, X and Y directions, connector 1 and 2
    /// directions and the up vector (3 floats each).
    float connector1[3], connector2[3], xdir[3], ydir[3], dir1[3], dir2[3], up[3];
    ///@}
    /// The degree-of-freedom set (bits of ts_joint_dof_bits, and 8).
    uint16_t dof;
    TS_JDOF_LIMITS limits[TS_JOINT_NLIMITS];  ///< by bit, those present
    ///@{
    /// The names of the two linked objects.
    TS_STRING linked1, linked2;
    ///@}
};

/// A chunk kept only for ts_loadallchunks, or of no known kind: its bytes.
struct TS_RAW_CHUNK {
    /// Index of the chunk it was read from; -1 until read.
    long chunk;
    /// Bytes of data.
    int32_t size;
    unsigned char* data;  ///< size bytes; null for size 0
    TS_RAW_CHUNK() : chunk(-1), size(0), data(nullptr) {}
    ~TS_RAW_CHUNK() { delete[] data; }
};

}  // namespace vantrel
/// @}
