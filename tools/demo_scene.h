/// @file
/// A level dressed for looking at: loaded and compiled, its polygons given a
/// checker texture by the way they face (floor, ceiling, walls along x, walls
/// along z) so depth and orientation show in the frames, and a camera path
/// through it. Shared by vantrel-demo, vantrel-view, the render benchmark and
/// the render tests; header only, like level_gen.h.
/// @ingroup tools
#pragma once
/// @addtogroup tools
/// @{

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "mediaman/mediaman.h"
#include "primitives/material.h"
#include "world/level.h"

namespace vantrel_demo {

/// Loads the level at path into level: a container written by
/// "vantrel-bspc --cds" (".cds") through the media loader, else a polygon
/// list compiled here. The container's material library is dropped: the demo
/// dresses the level with a skin of its own. 0 / -1 (logged by the loader or
/// the builder).
inline int load_level(vantrel::level_t* level, const std::string& path)
{
    if (path.size() < 4 || path.compare(path.size() - 4, 4, ".cds") != 0)
        return level->build((char*)path.c_str());
    vantrel::mediaman_t loader;
    if (loader.read_level(path.c_str(), level, 0) != 0)
        return -1;
    vantrel::delete_skin_mats(&level->skin);
    delete[] level->skin;
    level->skin = nullptr;
    return 0;
}

/// Material numbers of the skin, by the way a polygon faces; NMATS counts them.
enum { MAT_FLOOR, MAT_CEILING, MAT_WALL_X, MAT_WALL_Z, NMATS };

/// Four checker materials (8 x 8 texels of two colours) over a colour pass
/// that takes the whole ambient light, so no wall is ever black; skin is the
/// level's material list. The host hands every shader to the render
/// library's "set_shader_func".
class level_skin {
public:
    /// The materials, indexed by MAT_*.
    vantrel::material_t mats[NMATS];
    vantrel::shader_t* shaders[2 * NMATS];  ///< the colour and texture pass of each material
    /// The level's material list: the materials and a null.
    vantrel::material_t* skin[NMATS + 1];

    level_skin()
    {
        // Light and dark texel of each material, RGB.
        static const unsigned char colours[NMATS][2][3] = {
            {{200, 190, 170}, {110, 90, 70}},    ///< floor: sand and brown
            {{170, 170, 185}, {120, 120, 135}},  ///< ceiling: pale slate
            {{170, 60, 50}, {230, 200, 180}},    ///< walls facing x: brick
            {{60, 110, 170}, {200, 220, 235}}};  ///< walls facing z: blue tiles
        for (int m = 0; m < NMATS; ++m) {
            auto* c = KD_NEW vantrel::color_shader_t;
            shaders[2 * m] = c;
            if (c) {
                vantrel::set_v(c->ambient, 1, 1, 1, 1);
                vantrel::set_v(c->diffuse, 0.7f, 0.7f, 0.7f, 1);
                mats[m].shaders.insert(c);
            }
            auto* s = KD_NEW vantrel::tex_shader_t;
            shaders[2 * m + 1] = s;
            skin[m] = &mats[m];
            if (!s)
                continue;  ///< out of memory: an untextured material
            s->tex_param = 0x2600;  ///< nearest texels: crisp squares
            s->texture.alloc_bits(8, 8, 0xFF0000, 0xFF00, 0xFF, 0);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) {
                    const unsigned char* rgb = colours[m][((x / 4) + (y / 4)) & 1];
                    unsigned char* p = s->texture.bits + y * s->texture.row_size() + x * 3;
                    p[0] = rgb[2], p[1] = rgb[1], p[2] = rgb[0];  ///< BGR
                }
            mats[m].shaders.insert(s);
        }
        skin[NMATS] = nullptr;
    }
};

/// The largest extent of the level's bounds (its root node's box).
inline float level_extent(vantrel::level_t* level)
{
    const vantrel::bbox_t& b = level->root.bbox;
    return std::max({b.max[0] - b.min[0], b.max[1] - b.min[1], b.max[2] - b.min[2], 1.0f});
}

/// Gives every polygon of the level's meshes its material by the axis its
/// normal mostly follows, and texture coordinates from its world position on
/// the other two axes (a checker square per twentieth of the level's extent,
/// rounded to whole units). Polygons get vertex arrays of their own, since a
/// corner shared by a floor and a wall needs different coordinates in each.
/// 0 / -1.
inline int dress_level(vantrel::level_t* level, level_skin* skin)
{
    const float square = std::max(1.0f, std::round(level_extent(level) / 20));
    for (int i = 0; i < level->stats.nmeshes; ++i) {
        vantrel::mesh_t* mesh = level->meshes[i];
        for (int k = 0; mesh && k < mesh->npolys; ++k) {
            vantrel::n_poly* p = &mesh->polys[k];
            const int n = p->nverts;
            if (n < 3 || !p->va || !p->vi)
                continue;
            std::vector<vantrel::mrv_vertex> v((size_t)n);
            for (int j = 0; j < n; ++j)
                v[j] = p->va[p->vi[j]];
            if (p->_alloc_verts(n) != 0)
                return -1;
            const float* nv = p->normal;
            const float ax = std::fabs(nv[0]), ay = std::fabs(nv[1]), az = std::fabs(nv[2]);
            const int axis = ay >= ax && ay >= az ? 1 : ax >= az ? 0 : 2;
            p->mat = axis == 1 ? (nv[1] > 0 ? MAT_FLOOR : MAT_CEILING) : axis == 0 ? MAT_WALL_X : MAT_WALL_Z;
            const int u = axis == 0 ? 2 : 0, w = axis == 1 ? 2 : 1;
            for (int j = 0; j < n; ++j) {
                p->va[j] = v[j];
                for (int c = 0; c < 3; ++c)
                    p->va[j].n[c] = nv[c];
                p->va[j].t[0] = v[j].v[u] / (2 * square);  ///< a texture holds 2 x 2 squares
                p->va[j].t[1] = v[j].v[w] / (2 * square);
            }
        }
    }
    level->skin = skin->skin;
    return 0;
}

/// A camera pose: where it is and the way it looks (on the floor plane).
struct pose_t {
    /// The eye's position (w = 1).
    float pos[4];
    float yaw;  ///< degrees; 0 looks down -z, 90 down -x
};

/// Writes the view rotation of the pose into m (row vectors): a point relative
/// to the eye goes into camera axes, x right, y up, looking down -z.
inline void view_rotation(float* m, float yaw)
{
    const float r = yaw * 3.14159265f / 180.0f;
    const float f[3] = {-std::sin(r), 0, -std::cos(r)};  ///< forward
    vantrel::makeIdentityMatrix(m);
    m[0] = -f[2], m[8] = f[0];  ///< right = forward x up
    m[2] = -f[0], m[10] = -f[2];  ///< back
}

/// A path of waypoints walked at constant speed, looking where it goes.
class camera_path {
public:
    /// The waypoints; one point alone: turn round on it.
    std::vector<std::array<float, 3>> points;

    /// Reads "p x y z" lines of the file beside the level (level.txt ->
    /// level.path). False when there is none or it holds fewer than two points.
    bool load(const std::string& level_path)
    {
        std::string path = level_path.substr(0, level_path.rfind('.')) + ".path";
        FILE* f = fopen(path.c_str(), "r");
        if (!f)
            return false;
        char line[256];
        while (fgets(line, sizeof line, f)) {
            std::array<float, 3> p;
            if (sscanf(line, "p %f %f %f", &p[0], &p[1], &p[2]) == 3)
                points.push_back(p);
        }
        fclose(f);
        return points.size() >= 2;
    }
    /// Without a path: stand at the centre of the first open leaf whose box
    /// centre lies in open space and turn round once.
    bool spin_in(vantrel::level_t* level)
    {
        for (int i = 0; i < level->stats.ni_nodes; ++i) {
            vantrel::bsp_index_t* leaf = level->i_nodes[i];
            if (!leaf || !leaf->meshes)
                continue;
            float c[4];
            leaf->bbox.get_center_v(c);
            c[3] = 1;
            if (level->get_leaf_at_pos(c)) {
                points = {{c[0], c[1], c[2]}};
                return true;
            }
        }
        return false;
    }
    /// The pose at t in [0, 1].
    pose_t at(float t) const
    {
        pose_t p{{0, 0, 0, 1}, 0};
        if (points.empty())
            return p;
        if (points.size() == 1) {
            for (int c = 0; c < 3; ++c)
                p.pos[c] = points[0][c];
            p.yaw = 360 * t;
            return p;
        }
        float total = 0;
        for (size_t i = 1; i < points.size(); ++i)
            total += seg_len(i);
        float d = t * total;
        size_t i = 1;
        for (; i + 1 < points.size() && d > seg_len(i); ++i)
            d -= seg_len(i);
        const float s = seg_len(i) > 0 ? std::min(1.0f, d / seg_len(i)) : 0;
        for (int c = 0; c < 3; ++c)
            p.pos[c] = points[i - 1][c] + s * (points[i][c] - points[i - 1][c]);
        // Turn smoothly into the next leg over the last part of this one.
        float yaw = heading(i);
        if (i + 1 < points.size() && s > 0.7f) {
            float next = heading(i + 1);
            float diff = std::remainder(next - yaw, 360.0f);
            yaw += diff * (s - 0.7f) / 0.3f * 0.5f;
        } else if (i > 1 && s < 0.3f) {
            float prev = heading(i - 1);
            float diff = std::remainder(yaw - prev, 360.0f);
            yaw = prev + diff * (0.5f + s / 0.3f * 0.5f);
        }
        p.yaw = yaw;
        return p;
    }

private:
    float seg_len(size_t i) const
    {
        float s = 0;
        for (int c = 0; c < 3; ++c)
            s += (points[i][c] - points[i - 1][c]) * (points[i][c] - points[i - 1][c]);
        return std::sqrt(s);
    }
    /// The yaw that looks along leg i.
    float heading(size_t i) const
    {
        const float dx = points[i][0] - points[i - 1][0], dz = points[i][2] - points[i - 1][2];
        return std::atan2(-dx, -dz) * 180.0f / 3.14159265f;
    }
};

}  // namespace vantrel_demo
/// @}
