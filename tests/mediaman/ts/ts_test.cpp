#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>

#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "mediaman/cds/cds.h"
#include "mediaman/ts/ts_file.h"
#include "primitives/material.h"
#include "primitives/model.h"
#include "world/animation.h"
#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

// ---- building files ----------------------------------------------------------

struct bytes {
    std::string b;
    bytes& u8(int v) { return b += (char)v, *this; }
    bytes& u16(int v) { return u8(v & 0xff).u8((v >> 8) & 0xff); }
    bytes& i32(int32_t v) { return u16(v & 0xffff).u16((uint32_t)v >> 16); }
    bytes& f(std::initializer_list<float> vs)
    {
        for (float x : vs) {
            uint32_t u;
            memcpy(&u, &x, 4);
            i32((int32_t)u);
        }
        return *this;
    }
    bytes& f12(const float* v)
    {
        for (int i = 0; i < 12; ++i)
            f({v[i]});
        return *this;
    }
    bytes& s(const std::string& t) { return u16((int)t.size()), b += t, *this; }
    bytes& name(int dup, const std::string& t) { return u16(dup).s(t); }
    bytes& raw(const std::string& t) { return b += t, *this; }
};

const int data_size = INT32_MIN;
std::string chunk(const char* type, int minor, int id, int parent, const std::string& data, int size = data_size)
{
    return bytes().raw(std::string(type, 4)).u16(0).u16(minor).i32(id).i32(parent)
        .i32(size == data_size ? (int)data.size() : size).raw(data).b;
}

std::string ts_file(const std::string& chunks, const std::string& head = "Caligari V00.01BLH")
{
    return head + std::string(32 - head.size(), ' ') + chunks + chunk("END ", 0, 0, 0, "");
}

const float identity_axes[12] = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
const float identity_pos[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};

std::string group(const std::string& name, const float* axes = identity_axes, int dup = 0)
{
    return bytes().name(dup, name).f12(axes).f12(identity_pos).b;
}

// A polygon object: the corner lists of its faces (a leading -1 marks a hole,
// the rest are vertex indices, texture vertex = vertex) with material = face index.
std::string polh(const std::string& name, int minor, const std::vector<std::vector<int>>& faces,
                 const float* axes = identity_axes, const float* pos = identity_pos, int nverts = 4)
{
    bytes b;
    b.name(0, name);
    b.f12(axes).f12(pos).i32(nverts);
    for (int k = 0; k < nverts; ++k)
        b.f({(float)k, (float)(k * k), (float)(1 - k)});
    b.i32(nverts);
    for (int k = 0; k < nverts; ++k)
        b.f({k / 4.0f, 1 - k / 4.0f});
    b.i32((int)faces.size());
    for (size_t i = 0; i < faces.size(); ++i) {
        bool hole = !faces[i].empty() && faces[i][0] < 0;
        b.u8(hole ? 8 : 0).u16((int)faces[i].size() - hole);
        if (!hole)
            b.u16((int)i);
        for (size_t k = hole; k < faces[i].size(); ++k)
            b.i32(faces[i][k]).i32(faces[i][k]);
    }
    b.i32(0x55);
    if (minor < 8)
        b.u16(3);
    return b.b;
}

// A shader slot (version 0.0 counts, 0.3 trailing u16 when minor is 3).
struct param { std::string name; int type; std::vector<float> f; std::string s = ""; };
std::string slot(const std::string& name, const std::vector<param>& ps, int minor)
{
    bytes b;
    b.u8(1).s(name);
    minor == 0 ? b.u8((int)ps.size()) : b.i32((int)ps.size());
    for (const param& p : ps) {
        b.s(p.name).i32(p.type);
        if (p.type == 10)
            b.s(p.s);
        for (float x : p.f)
            b.f({x});
    }
    if (minor == 3)
        b.u16(0);
    return b.b;
}

std::string mat1(float r, float g, float bl, const std::string& texture = "")
{
    bytes b;
    b.u16(0).u8('P').u8('F').u8(30).f({r, g, bl, 0.25f, 0.1f, 0.2f, 0.3f, 1.5f});
    if (!texture.empty())
        b.raw("t:").u8(1).s(texture).f({0, 0, 1, 1});
    return b.raw("b:").u8(2).s("bump").f({0, 0, 1, 1, 0.5f}).b;
}

void release_skins(model_t* m)
{
    for (int k = 0; k < m->nchildren; ++k)
        release_skins(m->children[k]);
    delete_skin_mats(&m->skin);
    delete[] m->skin;
    m->skin = nullptr;
}

class ts_test : public vantrel_test::log_test {
protected:
    void TearDown() override
    {
        ts_loadallchunks = 0;
        log_test::TearDown();
    }
    bool load(CTrueSpaceFile& f, const std::string& data)
    {
        return f.open(write_file("t.cob", data).c_str()) == 0;
    }
};

// ---- third-party files: an independent scan ---------------------------------------

struct scanned_object {
    std::string name;
    float pos[12];
    std::vector<float> xyz;
    std::vector<std::vector<int>> faces;  // vertex indices, holes left out
};

struct scan_result {
    std::map<std::string, int> kept;  // by type, of the versions the reader decodes
    int chunks = 0, headers = 0, vertices = 0, uvs = 0, faces = 0;
    std::vector<scanned_object> objects;
};

template <class T>
T at(const std::string& d, size_t p)
{
    T v;
    memcpy(&v, d.data() + p, sizeof v);
    return v;
}

scan_result scan(const std::string& d)
{
    scan_result r;
    for (size_t p = 32; p + 20 <= d.size();) {
        std::string type = d.substr(p, 4);
        int minor = at<uint16_t>(d, p + 6), size = at<int32_t>(d, p + 16);
        size_t q = p + 20;
        ++r.headers;
        if ((type == "PolH" && minor == 8) || ((type == "Grou" || type == "Unit") && minor == 1))
            ++r.kept[type], ++r.chunks;
        if (type == "PolH") {
            scanned_object o;
            int dup = at<uint16_t>(d, q), len = at<uint16_t>(d, q + 2);
            o.name = d.substr(q + 4, len) + (dup ? "," + std::to_string(dup) : "");
            q += 4 + len + 48;
            memcpy(o.pos, d.data() + q, 48);
            int nv = at<int32_t>(d, q + 48);
            o.xyz.resize(3 * nv);
            memcpy(o.xyz.data(), d.data() + q + 52, 12 * nv);
            q += 52 + 12 * nv;
            int nuv = at<int32_t>(d, q), nf = at<int32_t>(d, q + 4 + 8 * nuv);
            q += 8 + 8 * nuv;
            r.vertices += nv, r.uvs += nuv;
            for (int k = 0; k < nf; ++k) {
                int flags = (unsigned char)d[q], n = at<uint16_t>(d, q + 1);
                q += (flags & 8) ? 3 : 5;
                std::vector<int> corners;
                for (int i = 0; i < n; ++i)
                    corners.push_back(at<int32_t>(d, q + 8 * i));
                q += 8 * n;
                if (!(flags & 8))
                    o.faces.push_back(corners), ++r.faces;
            }
            r.objects.push_back(o);
        }
        p += 20 + size;
        if (type == "END ")
            break;
    }
    return r;
}

// Every polygon vertex v' satisfies v' . mesh.matrix = C(P v) for the original
// vertex v of the reversed corner.
void expect_mesh_places(mesh_t& mesh, const scanned_object& o)
{
    size_t k = 0;
    for (const auto& face : o.faces) {
        if (face.empty())
            continue;
        ASSERT_LT(k, (size_t)mesh.npolys);
        n_poly& poly = mesh.polys[k++];
        ASSERT_EQ(poly.nverts, (int)face.size());
        for (size_t i = 0; i < face.size(); ++i) {
            const float* v = &o.xyz[3 * face[face.size() - 1 - i]];
            float w[3], want[3], got[4] = {0, 0, 0, 0}, *vp = poly.va[poly.vi[i]].v;
            for (int r = 0; r < 3; ++r)
                w[r] = o.pos[4 * r] * v[0] + o.pos[4 * r + 1] * v[1] + o.pos[4 * r + 2] * v[2] + o.pos[4 * r + 3];
            want[0] = -w[0], want[1] = w[2], want[2] = w[1];
            for (int j = 0; j < 3; ++j)
                got[j] = vp[0] * mesh.matrix[j] + vp[1] * mesh.matrix[4 + j] + vp[2] * mesh.matrix[8 + j] +
                         mesh.matrix[12 + j];
            for (int j = 0; j < 3; ++j)
                ASSERT_NEAR(got[j], want[j], 1e-4) << o.name << " face " << k - 1 << " corner " << i;
        }
    }
    EXPECT_EQ(k, (size_t)mesh.npolys);
}

TEST_F(ts_test, shipped_files_match_an_independent_scan_with_and_without_loadallchunks)
{
    if (vantrel_test::testdata_dir().empty())
        GTEST_SKIP() << "../shared/testdata is absent";
    for (const char* name : {"molecule.cob", "spider_6_6.cob"}) {
        std::string path = vantrel_test::testdata_dir() + "/trueSpace/" + name;
        std::ifstream in(path, std::ios::binary);
        std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        scan_result want = scan(data);
        for (int all : {0, 1}) {
            SCOPED_TRACE(std::string(name) + (all ? " all chunks" : ""));
            ts_loadallchunks = all;
            CTrueSpaceFile f;
            ASSERT_EQ(f.open(path.c_str()), 0);
            EXPECT_EQ(f.header_count, want.headers);
            EXPECT_EQ(f.get_stat(TS_STAT_CHUNKS), all ? want.headers : want.chunks);
            EXPECT_EQ(f.get_stat(TS_STAT_RAW), all ? want.headers - want.chunks : 0);
            EXPECT_EQ(f.skipped, all ? 0 : want.headers - want.chunks);
            EXPECT_EQ(f.get_stat(TS_STAT_MESHES), want.kept["PolH"]);
            EXPECT_EQ(f.get_stat(TS_STAT_GROUPS), want.kept["Grou"]);
            EXPECT_EQ(f.get_stat(TS_STAT_UNITS), want.kept["Unit"]);
            EXPECT_EQ(f.get_stat(TS_STAT_MATERIALS), 0);  // Mat1 0.8 is not decoded
            EXPECT_EQ(f.get_stat(TS_STAT_VERTICES), want.vertices);
            EXPECT_EQ(f.get_stat(TS_STAT_UV_VERTICES), want.uvs);
            EXPECT_EQ(f.get_stat(TS_STAT_FACES), want.faces);
            ASSERT_EQ(f.polygonals.count, (long)want.objects.size());
            for (long i = 0; i < f.polygonals.count; ++i) {
                mesh_t mesh;
                d_list mats;
                ASSERT_EQ(f.read_mesh((unsigned)i, &mesh, &mats), 0);
                EXPECT_EQ(mats.count, 0);
                EXPECT_STREQ(mesh.name, want.objects[i].name.c_str());
                std::string plain;
                EXPECT_TRUE(f.GetObjectName(f.polygonals[i]->chunk, plain));
                EXPECT_EQ(plain, want.objects[i].name.substr(0, want.objects[i].name.find(',')));
                expect_mesh_places(mesh, want.objects[i]);
            }
        }
    }
}

// ---- synthetic files ---------------------------------------------------------------

// Versions not listed are skipped or kept raw and never taken for records.
// Rotated axes and positions place vertices; holes and empty faces drop.
TEST_F(ts_test, unlisted_versions_are_never_records_and_axes_and_positions_place_vertices)
{
    std::string data = ts_file(chunk("PolH", 6, 1, 0, polh("p", 6, {{0, 1, 2}})) +
                               chunk("Mat1", 8, 2, 1, mat1(1, 0, 0)) + chunk("PolH", 7, 3, 0, "xyz"));
    r_struct opts;
    ASSERT_EQ(ts_register_options(opts), 0);
    for (int all : {1, 0}) {  // ending with the default
        opts.get_var("ts_loadallchunks")->set(0, all);
        CTrueSpaceFile f;
        ASSERT_TRUE(load(f, data));
        EXPECT_EQ(f.skipped, all ? 0 : 3);
        EXPECT_EQ(f.get_stat(TS_STAT_RAW), all ? 3 : 0);
        mesh_t mesh;
        d_list mats;
        ASSERT_EQ(f.read_mesh(0, &mesh, &mats), 0);
        EXPECT_EQ(mats.count, 0);  // Mat1 0.8 is not decoded
        EXPECT_EQ(mesh.npolys, 1);
        if (all) {
            EXPECT_EQ(f.raw_chunks[1]->size, 3);
            TSObject3D t;
            EXPECT_TRUE(f.GetObjectType(1, t));
            EXPECT_EQ(t, TS_MATERIAL_OBJECT);
            EXPECT_EQ(f.get_object_chunk(3), 2);
        }
    }

    // Axes centred at (1, 2, 3), turned 90 degrees about z; a position that
    // turns 90 degrees about x and moves by (5, -1, 2).
    const float axes[12] = {1, 2, 3, 0, 1, 0, -1, 0, 0, 0, 0, 1};
    const float pos[12] = {1, 0, 0, 5, 0, 0, -1, -1, 0, 1, 0, 2};
    std::vector<std::vector<int>> faces = {{0, 1, 2}, {-1, 3, 2, 1}, {}, {3, 2, 1, 0}};
    CTrueSpaceFile f;
    ASSERT_TRUE(load(f, ts_file(chunk("PolH", 6, 7, 0, polh("obj", 6, faces, axes, pos)))));
    EXPECT_FALSE(log_has("the reader used"));
    ASSERT_EQ(f.polygonals.count, 1);
    TS_POLYGONAL_DATA* p = f.polygonals[0];
    EXPECT_EQ(p->nfaces, 3);  // the hole is not stored
    EXPECT_EQ(p->radiosity_quality, 3);
    long corners[6], mat;
    ASSERT_TRUE(f.GetFace(0, 2, corners, mat));
    EXPECT_EQ(corners[4], 1);
    EXPECT_EQ(mat, 3);
    scanned_object o{"obj", {}, std::vector<float>(p->vertices.xyz, p->vertices.xyz + 12), {faces[0], faces[3]}};
    memcpy(o.pos, pos, sizeof pos);
    mesh_t mesh;
    d_list mats;
    ASSERT_EQ(f.read_mesh(0, &mesh, &mats), 0);
    expect_mesh_places(mesh, o);
    EXPECT_EQ(mesh.polys[1].mat, 3);
    // A corner beyond the vertex list rejects the object.
    faces[0][1] = 4;
    ASSERT_TRUE(load(f, ts_file(chunk("PolH", 8, 7, 0, polh("bad", 8, faces)))));
    EXPECT_EQ(f.read_mesh(0, &mesh, &mats), -1);
    EXPECT_TRUE(log_has("face 0 corner 1 refers to vertex 4 of 4"));
}

std::string chan(int minor, const std::string& type, int flags, std::initializer_list<float> frames, int id = 0,
                 int parent = 9)
{
    bytes b;
    b.s("ch").s(type).u16(flags).u16((int)frames.size());
    for (float fr : frames) {
        b.f({fr, 0.5f});
        if (flags & 1)
            b.f({1, 2, 3});
        for (int k = 0; k < (type == "Rotate" ? 4 : type == "Move" ? 3 : type == "Scale" ? 12 : 0); ++k)
            b.f({(float)k + 1});
    }
    return chunk("Chan", minor, id ? id : 100 + minor, parent, b.b);
}

// Group 1 (centre (1, 2, 3)) holds group 2 (centre (10, 0, 0)) with a polygon
// object, a polygon object "arm" placed by the bone "arm" (centre (0, 5, 0)).
std::string scene()
{
    const float g1[12] = {1, 2, 3, 1, 0, 0, 0, 1, 0, 0, 0, 1}, g2[12] = {10, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1},
                bone[12] = {0, 5, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::string shbx = slot("plain", {{"color", 7, {1, 0, 0}}}, 0) + slot("c_alpha", {{"a", 3, {0.5f}}}, 0) +
                       slot("phong", {{"ka", 3, {0.2f}}, {"kd", 3, {0.8f}}, {"r", 3, {0.25f}}, {"x", 3, {0}},
                                      {"ks", 7, {1, 1, 1}}}, 0) + slot("none", {}, 0);
    std::string tex = slot("caligari texture", {{"file", 10, {}, "c:\\maps\\wood.bmp"}, {"su", 3, {2}},
                                                {"sv", 3, {2}}, {"ou", 3, {0}}, {"ov", 3, {0}}}, 3) +
                      slot("x", {}, 3) + slot("x", {}, 3) + slot("x", {}, 3);
    return chunk("Grou", 1, 1, 0, group("top", g1)) + chunk("Grou", 1, 2, 1, group("sub", g2)) +
           chunk("PolH", 8, 3, 2, polh("inner", 8, {{0, 1, 2}, {1, 2, 3}})) +
           chunk("Mat1", 6, 30, 3, mat1(0, 1, 0)) + chunk("ShBx", 0, 31, 30, shbx) +
           chunk("Mat1", 6, 32, 3, mat1(0, 0, 1, "c:\\maps\\wood.bmp")) + chunk("ShBx", 3, 33, 32, tex) +
           chunk("PolH", 8, 7, 2, polh("second", 8, {{0, 1, 2}})) + chunk("Mat1", 6, 70, 7, mat1(1, 0, 0)) +
           chunk("Bone", 5, 4, 1, group("arm", bone)) + chunk("PolH", 8, 5, 4, polh("arm", 8, {{2, 1, 0}})) +
           chan(8, "Move", 1, {0, 30}, 40, 4) +
           chunk("Mat1", 6, 50, 5, mat1(1, 1, 1)) + chunk("Unit", 1, 6, 1, bytes().u16(2).b);
}

TEST_F(ts_test, models_gather_subgroups_and_bone_objects_materials_follow_shader_boxes_and_the_converter_flattens)
{
    CTrueSpaceFile f;
    ASSERT_TRUE(load(f, ts_file(scene())));
    EXPECT_EQ(f.GetBaseObjectCount(), 1);
    EXPECT_EQ(f.GetChildCount(0), 3);
    EXPECT_EQ(f.IsGroup(1), 0);
    model_t top;
    ASSERT_EQ(f.read_model(0, &top), 0);
    EXPECT_STREQ(top.name, "top");
    EXPECT_EQ(top.matrix[12], 1);
    ASSERT_EQ(top.nchildren, 1);
    ASSERT_EQ(top.nmeshes, 1);
    model_t* sub = top.children[0];
    EXPECT_EQ(sub->parent, &top);
    float identity[16];
    makeIdentityMatrix(identity);
    EXPECT_TRUE(are_equal_m(sub->matrix, identity, 0));
    ASSERT_EQ(sub->nmeshes, 2);
    // inner: axes centre (0,0,0) in engine axes, less the outer group's translation.
    EXPECT_FLOAT_EQ(sub->meshes[0]->matrix[12], -1);
    EXPECT_FLOAT_EQ(sub->meshes[0]->matrix[14], -3);
    ASSERT_EQ(get_nelements((void**)sub->skin), 3);
    EXPECT_EQ(sub->meshes[0]->polys[1].mat, 1);
    EXPECT_EQ(sub->meshes[1]->polys[0].mat, 2);  // after the two materials of "inner"
    // arm: placed by the bone's centre (0, 5, 0) -> engine (0, 0, 5).
    EXPECT_FLOAT_EQ(top.meshes[0]->matrix[14], 5 - 3);
    ASSERT_EQ(get_nelements((void**)top.skin), 1);
    release_skins(&top);
    EXPECT_EQ(f.read_model(2, &top), -1);
    EXPECT_TRUE(log_has("index 2 exceeds the number of models found"));

    // Materials follow their shader boxes.
    unsigned long n = 0;
    ASSERT_TRUE(f.HasMaterial(2, n));
    EXPECT_EQ(n, 2u);
    std::string s;
    EXPECT_TRUE(f.GetTextureName(2, 0, s));
    EXPECT_EQ(s, "wood.bmp");
    float ambient_q[4], green_ambient[4] = {0, 0.1f, 0, 0.25f};
    ASSERT_TRUE(f.GetMaterialAmbient(2, 0, ambient_q));
    EXPECT_TRUE(are_equal4(ambient_q, green_ambient, 1e-6f));
    EXPECT_FALSE(f.GetMaterialAmbient(2, 2, ambient_q));
    d_list mats(1);
    mesh_t mesh;
    ASSERT_EQ(f.read_mesh(0, &mesh, &mats), 0);
    ASSERT_EQ(mats.count, 2);
    material_t* plain = static_cast<material_t*>(mats.first->object);
    ASSERT_EQ(plain->shaders.count, 1);
    auto* cs = static_cast<color_shader_t*>(plain->shaders.first->object);
    const float color[4] = {1, 0, 0, 0.5f}, ambient[4] = {0.2f, 0, 0, 0.1f}, diffuse[4] = {0.8f, 0, 0, 0.4f};
    EXPECT_TRUE(are_equal4(cs->color, color, 1e-6f));
    EXPECT_TRUE(are_equal4(cs->ambient, ambient, 1e-6f));
    EXPECT_TRUE(are_equal4(cs->diffuse, diffuse, 1e-6f));
    EXPECT_FLOAT_EQ(cs->shininess, 32);
    material_t* textured = static_cast<material_t*>(mats.last->object);
    ASSERT_EQ(textured->shaders.count, 2);
    cs = static_cast<color_shader_t*>(textured->shaders.first->object);
    const float blue[4] = {0, 0, 1, 1};
    EXPECT_TRUE(are_equal4(cs->color, blue, 0));  // the record's colour, alpha 1
    EXPECT_TRUE(are_equal4(cs->ambient, blue, 0));
    auto* ts = static_cast<tex_shader_t*>(textured->shaders.last->object);
    EXPECT_STREQ(ts->texture.name, "c:\\maps\\wood.bmp");
    EXPECT_EQ(ts->tex_matrix[0], 2);
    EXPECT_EQ(ts->tex_matrix[5], -2);
    // Every object, in file order, its materials after those already listed.
    d_list meshes(1);
    ASSERT_EQ(f.read_mesh_l(".*", &meshes, &mats), 0);
    ASSERT_EQ(meshes.count, 3);
    EXPECT_STREQ(static_cast<mesh_t*>(meshes.last->object)->name, "arm");
    EXPECT_EQ(static_cast<mesh_t*>(meshes.last->object)->polys[0].mat, 5);

    // The converter flattens groups into models and renumbers materials.
    if (!vantrel_test::program_built("tools/vantrel-ts2cds"))
        GTEST_SKIP() << "vantrel-ts2cds is not built";
    std::string in = write_file("scene.cob", ts_file(scene())), out = path("scene.cds"), said;
    ASSERT_EQ(vantrel_test::run_program("tools/vantrel-ts2cds", "\"" + in + "\" \"" + out + "\"", &said), 0) << said;
    cds c;
    ASSERT_EQ(c.init(), 0);
    ASSERT_EQ(c.load(out.c_str()), 0);
    c.delete_type_objects();
    d_list& models = get_chunk_io(c.types, "MODL")->objects;
    EXPECT_EQ(get_chunk_io(c.types, "MATL")->objects.count, 4);
    // The arm bone's Move channel makes top's animation; sub has no keyframes.
    d_list& anims = get_chunk_io(c.types, "ANIM")->objects;
    ASSERT_EQ(anims.count, 1) << said;
    EXPECT_STREQ(static_cast<CSAnimation*>(anims.first->object)->name, "top");
    // arm (top's skin first), inner and second after it, in the tree's order.
    const struct {
        const char* name;
        int first_mat;
        float z;
    } want[] = {{"arm", 0, 5}, {"inner", 1, 0}, {"second", 3, 0}};
    ASSERT_EQ(models.count, 3);
    d_node* node = models.first;
    for (const auto& w : want) {
        model_t* m = static_cast<model_t*>(node->object);
        node = node->next;
        EXPECT_STREQ(m->name, w.name);
        ASSERT_EQ(m->nmeshes, 1);
        EXPECT_EQ(m->meshes[0]->polys[0].mat, w.first_mat) << w.name;
        EXPECT_NEAR(m->meshes[0]->matrix[14], w.z, 1e-6) << w.name;
        EXPECT_NEAR(m->meshes[0]->matrix[12], 0, 1e-6) << w.name;
    }
}

// Chunk boundaries of a file built here.
std::vector<size_t> boundaries(const std::string& d)
{
    std::vector<size_t> b = {32};
    for (size_t p = 32; p + 20 <= d.size(); p += 20 + at<int32_t>(d, p + 16))
        b.push_back(p + 20 + at<int32_t>(d, p + 16));
    return b;
}

// Headers other than binary little-endian V00.01, hostile sizes, counts and
// links: the file fails, with a message where one is given.
TEST_F(ts_test, foreign_headers_hostile_sizes_and_truncations_fail_the_file_and_failed_allocations_are_released)
{
    bytes huge_verts, deep;
    huge_verts.name(0, "p").f12(identity_axes).f12(identity_pos).i32(0x7fffffff);
    for (int k = 0; k < 20; ++k)
        deep.u8(1).s("n").u8(1).s("p").i32(11).u8(1);
    const std::string g = chunk("Grou", 1, 1, 0, group("g"));
    const struct { std::string file; const char* message; } cases[] = {
        {ts_file(g, "Caligari V00.01ALH"), "Cannot read file in ASCII format"},
        {ts_file(g, "Caligari V00.01BHL"), "file in big endian, DNE"},
        {ts_file(g, "Caligari V00.02BLH"), nullptr},
        {ts_file(g, "caligari V00.01BLH"), nullptr},
        {ts_file(chunk("Grou", 1, 1, 0, group("g"), 5000)), "declares 5000 bytes"},
        {ts_file(chunk("Grou", 1, 1, 0, group("g"), -1)), "declares -1 bytes"},
        {ts_file(chunk("Grou", 1, 1, 0, "\x01")), "inside a record"},
        {ts_file(chunk("Grou", 1, 1, 0, group(std::string(1025, 'x')))), "string is to big"},
        {ts_file(chunk("PolH", 8, 1, 0, huge_verts.b)), "2147483647 vertices do not fit"},
        {ts_file(chunk("PolH", 8, 1, 0,
                       polh("p", 8, {{0, 1, 2}}).substr(0, 189) + bytes().i32(1).u8(0).u16(60000).u16(0).b)),
         "60000 face corners do not fit"},
        {ts_file(chunk("Grou", 1, 1, 2, group("a")) + chunk("Grou", 1, 2, 1, group("b"))), "is its own ancestor"},
        {ts_file(chunk("ShBx", 0, 1, 0, deep.b)), "nested deeper than 16 levels"},
        {ts_file(chunk("ShBx", 0, 1, 0, bytes().u8(1).s("n").u8(0xff).b)), "declares -1 parameters"},
        {ts_file(chunk("Chan", 8, 1, 0, bytes().s("c").s("Move").u16(0).u16(65535).b)), "inside a record"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        clear_log();
        CTrueSpaceFile f;
        EXPECT_FALSE(load(f, c.file));
        EXPECT_TRUE(c.message ? log_has(c.message) : log_lines().empty());
        model_t m;
        EXPECT_EQ(f.read_model(0, &m), -1);
    }
    // Every truncation fails cleanly unless cut behind a chunk.
    std::string data = ts_file(chunk("Grou", 1, 9, 0, group("g")) + chunk("PolH", 6, 2, 9, polh("p", 6, {{0, 1, 2}})) +
                               chunk("Mat1", 6, 3, 2, mat1(1, 0, 0, "t")) +
                               chunk("ShBx", 3, 4, 3, slot("plain", {{"c", 7, {1, 0, 0}}}, 3) + slot("a", {}, 3) +
                                                          slot("b", {}, 3) + slot("c", {}, 3)) +
                               chan(8, "Move", 1, {0, 30}));
    std::vector<size_t> cuts = boundaries(data);
    for (size_t n = 0; n < data.size(); ++n) {
        CTrueSpaceFile f;
        bool at_boundary = std::find(cuts.begin(), cuts.end(), n) != cuts.end();
        ASSERT_EQ(load(f, data.substr(0, n)), at_boundary) << n;
    }
    // Every failed allocation is released.
    std::string path = write_file("t.cob", ts_file(scene()));
    for (int n = 0; n < 700; ++n) {
        mc_fail_after(n);
        CTrueSpaceFile f;
        model_t m;
        d_list mats(1), meshes(1);
        if (f.open(path.c_str()) == 0 && f.read_model(0, &m) == 0)
            release_skins(&m);
        CSAnimation anim;
        d_list anims(1);
        f.read_CSAnimation(0, &anim);
        f.read_CSAnimation_l(".*", &anims);
        f.read_mesh_l(".*", &meshes, &mats);
        mc_fail_after(-1);
    }
}

// Channels, joints and axes are read by their layouts; the channels below a
// group become its animation.
TEST_F(ts_test, channels_below_a_group_become_an_animation_at_30_frames_a_second)
{
    bytes joint;
    joint.name(0, "j").f12(identity_axes).f12(identity_pos);
    for (int k = 0; k < 21; ++k)
        joint.f({(float)k});
    joint.u16(1 | 8 | 64).u16(7).f({1, 2, 3}).u16(8).f({4, 5, 6}).s("arm").s("body");
    CTrueSpaceFile f;
    ASSERT_TRUE(load(f, ts_file(chunk("Grou", 1, 1, 0, group("walk")) + chunk("Bone", 5, 2, 1, group("leg")) +
                                chan(8, "Move", 1, {0, 30, 45}, 20, 2) + chan(9, "Rotate", 0, {15}, 21, 2) +
                                chan(11, "Scale", 0, {5}, 22, 2) + chunk("Grou", 1, 3, 1, group("sub")) +
                                chunk("PolH", 8, 4, 3, polh("p", 8, {{0, 1, 2}})) + chan(11, "Scale", 0, {1}, 23, 4) +
                                chunk("Grou", 1, 5, 0, group("bad")) +
                                chunk("PolH", 8, 6, 5, polh("q", 8, {{0, 1, 2}})) + chan(8, "Move", 0, {1}, 24, 6) +
                                chunk("Bone", 5, 9, 0, group("arm")) + chan(11, "Other", 0, {5, 6}, 25, 9) +
                                chunk("Join", 5, 26, 9, joint.b) +
                                chunk("Axes", 1, 27, 9, bytes().f12(identity_pos).b))));
    EXPECT_FALSE(log_has("the reader used"));
    ASSERT_EQ(f.channels.count, 6);
    const TS_CHANNEL* ch = f.channels[0];
    EXPECT_EQ(ch->nkeyframes, 3);
    EXPECT_EQ(ch->keyframes[2].frame, 45);
    EXPECT_EQ(ch->keyframes[2].bias, 3);
    EXPECT_EQ(ch->keyframes[2].value[2], 3);
    EXPECT_EQ(f.channels[1]->keyframes[0].value[3], 4);
    EXPECT_EQ(f.channels[5]->nkeyframes, 2);
    ASSERT_EQ(f.joints.count, 1);
    EXPECT_EQ(f.joints[0]->limits[0].flags, 7);
    EXPECT_EQ(f.joints[0]->limits[5].max, 6);
    EXPECT_STREQ(f.joints[0]->linked2.str(), "body");
    EXPECT_EQ(f.get_stat(TS_STAT_AXES), 1);
    CSAnimation a;
    ASSERT_EQ(f.read_CSAnimation(0, &a), 0);
    EXPECT_STREQ(a.name, "walk");
    EXPECT_EQ(a.m_unEndTime, 1500u);
    ASSERT_EQ(a.m_nStacks, 1);
    ASSERT_EQ(a.m_nChildren, 1);
    EXPECT_STREQ(a.m_ppChildren[0]->name, "sub");
    EXPECT_EQ(a.m_ppChildren[0]->m_nStacks, 1);
    channel_stack* stack = a.m_ppStacks[0];
    EXPECT_STREQ(stack->name, "ch");
    ASSERT_EQ(stack->channels.count, 3);
    channel* move = static_cast<channel*>(stack->channels.first->object);
    ASSERT_EQ(move->count(), 3);
    const uint32_t durations[] = {0, 1000, 500};
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(move->kfa[k]->duration, durations[k]);
    const float delta[3] = {-1, 3, 2}, rel_q[4] = {2, 3, 4, 1};
    EXPECT_TRUE(are_equal(static_cast<kf_mesh_mtrans_t*>(move->kfa[0])->delta_v, delta, 0));
    channel* rotate = static_cast<channel*>(stack->channels.first->next->object);
    EXPECT_TRUE(are_equal4(static_cast<kf_mesh_quat_t*>(rotate->kfa[0])->rel_q, rel_q, 0));
    EXPECT_EQ(rotate->kfa[0]->duration, 500u);
    EXPECT_EQ(static_cast<channel*>(stack->channels.last->object)->count(), 0);
    // A polygon object is no bone: its Move channel fails the animation.
    EXPECT_EQ(f.read_CSAnimation(2, &a), -1);
    EXPECT_TRUE(log_has("_bone"));
    EXPECT_EQ(a.m_nStacks, 0);
    d_list anims(1);
    ASSERT_EQ(f.read_CSAnimation_l("^(su)", &anims), 0);
    EXPECT_EQ(anims.count, 1);
    EXPECT_EQ(f.read_CSAnimation_l(".*", &anims), -1);
    EXPECT_EQ(anims.count, 1);
}

}  // namespace
