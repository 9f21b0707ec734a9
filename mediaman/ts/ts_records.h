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
    T* items;
    long count;

    ts_array() : items(nullptr), count(0), capacity(0) {}
    ~ts_array() { clear(); }
    ts_array(const ts_array&) = delete;
    ts_array& operator=(const ts_array&) = delete;

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
    void clear()
    {
        delete[] items;
        items = nullptr;
        count = capacity = 0;
    }
    bool has(long i) const { return i >= 0 && i < count; }
    T& operator[](long i) const { return items[i]; }

private:
    long capacity;
};

/// A table of records it owns: clear() and the destructor delete them. A
/// record given to add() is owned by the table only when add() succeeds.
template <class T>
class ts_table : public ts_array<T*> {
public:
    ~ts_table() { clear(); }
    void clear()
    {
        for (long i = 0; i < this->count; ++i)
            delete this->items[i];
        ts_array<T*>::clear();
    }
};

/// The 20-byte header in front of every chunk.
struct TS_HEADER {
    char type[5];  ///< four characters and a terminator
    uint16_t major;
    uint16_t minor;
    int32_t id;
    int32_t parent_id;
    int32_t size;  ///< bytes of data after the header
};

/// What a kept chunk was decoded into: which table its data_index points into.
enum ts_kind {
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

struct TS_FILE_CHUNK {
    TS_HEADER header;
    ts_kind kind;
    long data_index;          ///< position of the record in the table of its kind
    ts_array<long> children;  ///< chunk indices, filled by the hierarchy pass
    long file_pos;            ///< of the header
};

/// A text of at most 1024 characters, kept zero-terminated.
struct TS_STRING {
    uint16_t length;
    char* text;  ///< length + 1 characters; never null once read
    TS_STRING() : length(0), text(nullptr) {}
    ~TS_STRING() { delete[] text; }
    TS_STRING(const TS_STRING&) = delete;
    TS_STRING& operator=(const TS_STRING&) = delete;
    const char* str() const { return text ? text : ""; }
};

struct TS_NAME {
    uint16_t dupecount;
    TS_STRING string;
};

/// Local axes as read (centre, X, Y, Z direction) and as a matrix: identity,
/// then X, Y, Z directions and the centre in elements 0-2, 4-6, 8-10, 12-14.
struct TS_LAXES {
    float raw[12];
    float m[16];
};

/// A 3x4 transform: the 12 floats read in order, then 0, 0, 0, 1.
struct TS_POSITION {
    float m[16];
};

/// Groups and bones share one layout.
struct TS_GROUP {
    long chunk;  ///< index of the chunk it was read from
    TS_NAME name;
    TS_LAXES axes;
    TS_POSITION position;
};
typedef TS_GROUP TS_BONE;

struct TS_UNIT {
    long chunk;
    uint16_t unit;
};

struct TS_AXES {
    long chunk;
    TS_POSITION position;
};

struct TS_VERTEX_LIST {
    int32_t count;
    float* xyz;  ///< 3 * count
    TS_VERTEX_LIST() : count(0), xyz(nullptr) {}
    ~TS_VERTEX_LIST() { delete[] xyz; }
};

struct TS_UV_VERTEX_LIST {
    int32_t count;
    float* uv;  ///< 2 * count
    TS_UV_VERTEX_LIST() : count(0), uv(nullptr) {}
    ~TS_UV_VERTEX_LIST() { delete[] uv; }
};

struct TS_FACE_VERTICES {
    int32_t vertex;
    int32_t uv_vertex;
};

struct TS_FACE_LIST {
    uint8_t flags;
    uint16_t ncorners;
    uint16_t material;
    TS_FACE_VERTICES* corners;
    TS_FACE_LIST() : flags(0), ncorners(0), material(0), corners(nullptr) {}
    ~TS_FACE_LIST() { delete[] corners; }
};

struct TS_POLYGONAL_DATA {
    long chunk;
    TS_HEADER header;
    TS_NAME name;
    TS_LAXES axes;
    TS_POSITION position;
    TS_VERTEX_LIST vertices;
    TS_UV_VERTEX_LIST uv_vertices;
    int32_t nfaces;        ///< stored faces (holes excluded)
    TS_FACE_LIST* faces;   ///< nfaces
    int32_t draw_flags;
    uint16_t radiosity_quality;
    TS_POLYGONAL_DATA() : chunk(-1), nfaces(0), faces(nullptr), draw_flags(0), radiosity_quality(0) {}
    ~TS_POLYGONAL_DATA() { delete[] faces; }
};

/// Map records of a material: tag[0] is 0 when the map is absent.
struct TS_MATERIAL_ENVIRONMENT_MAP_DATA {
    char tag[2];
    char flag;
    TS_STRING path;
};

struct TS_MATERIAL_TEXTURE_MAP_DATA {
    char tag[2];
    char flag;
    TS_STRING path;
    float offset[2];
    float repeat[2];
};

struct TS_MATERIAL_BUMP_MAP_DATA {
    char tag[2];
    char flag;
    TS_STRING path;
    float offset[2];
    float repeat[2];
    float amplitude;
};

struct TS_MATERIAL {
    long chunk;
    uint16_t number;
    char shader_type;
    char facet_type;
    char facet_angle;
    float color[4];
    float ambient;
    float specular;
    float highlight;
    float refraction;
    TS_MATERIAL_ENVIRONMENT_MAP_DATA env;
    TS_MATERIAL_TEXTURE_MAP_DATA texture;
    TS_MATERIAL_BUMP_MAP_DATA bump;
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

struct TS_SHADER_PARAM {
    TS_STRING name;
    int32_t type;
    int32_t i;                 ///< 1, 2, 5, 6 (bool: 0/1), 33, 34, 45
    float f[4];                ///< 3: f[0]; 7, 8, 9: f[0..2]; 49: f[0..3]
    unsigned char raw[8];      ///< 4
    TS_STRING s;               ///< 10; the blending parameter of 11
    uint8_t validity;          ///< 11
    TS_GENERIC_SHADER_DATA* shader;  ///< 11 with validity set; owned
    float blend;               ///< 11
    TS_SHADER_PARAM();
    ~TS_SHADER_PARAM();
    TS_SHADER_PARAM(const TS_SHADER_PARAM&) = delete;
    TS_SHADER_PARAM& operator=(const TS_SHADER_PARAM&) = delete;
};

struct TS_GENERIC_SHADER_DATA {
    uint8_t shader_class;
    TS_STRING name;
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
    long chunk;
    TS_GENERIC_SHADER_DATA slots[4];
};

struct TS_KEYFRAME {
    float frame;
    float acceleration;
    float tension, continuity, bias;  ///< 0 without spline parameters
    float value[12];                  ///< by channel type: 4 (Rotate), 3 (Move), 12 (Scale)
};

struct TS_CHANNEL {
    long chunk;
    TS_STRING name;
    TS_STRING type;
    uint16_t flags;
    uint16_t nkeyframes;
    TS_KEYFRAME* keyframes;
    TS_CHANNEL() : chunk(-1), flags(0), nkeyframes(0), keyframes(nullptr) {}
    ~TS_CHANNEL() { delete[] keyframes; }
};

struct TS_JDOF_LIMITS {
    uint16_t flags;
    float stiffness, min, max;
};

/// Degree-of-freedom bits in record order; 8 has no record.
enum { TS_JOINT_NLIMITS = 6 };
extern VANTREL_API const uint16_t ts_joint_dof_bits[TS_JOINT_NLIMITS];

struct TS_JOINT {
    long chunk;
    TS_NAME name;
    TS_LAXES axes;
    TS_POSITION position;
    float connector1[3], connector2[3], xdir[3], ydir[3], dir1[3], dir2[3], up[3];
    uint16_t dof;
    TS_JDOF_LIMITS limits[TS_JOINT_NLIMITS];  ///< by bit, those present
    TS_STRING linked1, linked2;
};

/// A chunk kept only for ts_loadallchunks, or of no known kind: its bytes.
struct TS_RAW_CHUNK {
    long chunk;
    int32_t size;
    unsigned char* data;  ///< size bytes; null for size 0
    TS_RAW_CHUNK() : chunk(-1), size(0), data(nullptr) {}
    ~TS_RAW_CHUNK() { delete[] data; }
};

}  // namespace vantrel
/// @}
