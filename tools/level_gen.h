/// @file
/// Writes levels in the polygon list text format: box rooms on the floor plane
/// (y up) joined by doorway tunnels. Every polygon faces the open space, so a
/// level written here is closed and compiles into a solid BSP tree. Shared by
/// vantrel-levelgen, the BSP benchmark and the world tests; needs nothing from
/// the library.
/// @ingroup tools
#pragma once
/// @addtogroup tools
/// @{

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace vantrel_levels {

/// Heights and sizes of the generated rooms, in world units.
struct level_dims {
    double room = 8.0;         ///< side of a square room
    double height = 4.0;       ///< room height
    double tunnel = 4.0;       ///< length of a doorway tunnel (gap between rooms)
    double door = 2.0;         ///< doorway width
    double door_height = 3.0;  ///< doorway (and tunnel) height
};

/// One wall opening: its centre along the wall; width 0 means no door.
struct door_t {
    /// Position of the door's centre along the wall.
    double centre = 0.0;
    /// Door width; 0: no door.
    double width = 0.0;
};

/// A box room [x0,x1] x [0,height] x [z0,z1] with at most one door per wall.
struct room_t {
    /// Name, written in the room's comment line.
    std::string name;
    ///@{
    /// The room's extent along x and z.
    double x0 = 0, x1 = 0, z0 = 0, z1 = 0;
    ///@}
    ///@{
    door_t west, east, south, north;  ///< x = x0, x = x1, z = z0, z = z1
    ///@}
    int floor_strips = 1;             ///< the floor as this many strips along x
};

/// A room without doors, of one floor strip.
inline room_t make_room(const std::string& name, double x0, double x1, double z0, double z1)
{
    room_t r;
    r.name = name;
    r.x0 = x0, r.x1 = x1, r.z0 = z0, r.z1 = z1;
    return r;
}

/// A doorway tunnel between two rooms: along x (axis 0) or z (axis 2), from a
/// to b on that axis, centred at `centre` on the other horizontal axis.
struct tunnel_t {
    /// Name, written in the tunnel's comment line.
    std::string name;
    /// 0: along x, 2: along z.
    int axis = 0;
    ///@{
    /// Start and end on the axis, and the centre on the other horizontal axis.
    double a = 0, b = 0, centre = 0;
    ///@}
};

/// Collects a level's text: meshes of rectangles, and comment lines.
class level_writer {
public:
    /// A writer for rooms and tunnels of dims d.
    explicit level_writer(const level_dims& d = level_dims()) : dims(d) {}

    /// Appends the comment line "# c".
    void comment(const std::string& c) { text += "# " + c + "\n"; }

    /// An axis-aligned rectangle in the plane axis = lo[axis] (= hi[axis]),
    /// facing +axis when facing > 0 and -axis otherwise.
    void rect(const double lo[3], const double hi[3], int axis, int facing)
    {
        int u = (axis + 1) % 3, v = (axis + 2) % 3;
        double c[4][3];
        for (int k = 0; k < 4; ++k)
            c[k][axis] = lo[axis];
        // (u0,v0) (u1,v0) (u1,v1) (u0,v1): e_u x e_v = e_axis, so this
        // winding faces +axis; reversed it faces -axis.
        const double us[4] = {lo[u], hi[u], hi[u], lo[u]};
        const double vs[4] = {lo[v], lo[v], hi[v], hi[v]};
        for (int k = 0; k < 4; ++k) {
            c[k][u] = us[k];
            c[k][v] = vs[k];
        }
        text += "[poly]\n";
        for (int k = 0; k < 4; ++k) {
            const double* p = c[facing > 0 ? k : 3 - k];
            char line[128];
            snprintf(line, sizeof line, "v %g %g %g\n", p[0], p[1], p[2]);
            text += line;
        }
        text += "[end poly]\n";
        ++polys;
    }

    /// Appends the room as one mesh: floor strips facing up, the ceiling facing
    /// down and the four walls facing in, each cut around its door.
    void add_room(const room_t& r)
    {
        const double h = dims.height;
        comment("room " + r.name);
        text += "[mesh]\n";
        int strips = r.floor_strips < 1 ? 1 : r.floor_strips;
        for (int s = 0; s < strips; ++s) {
            double xa = r.x0 + (r.x1 - r.x0) * s / strips, xb = r.x0 + (r.x1 - r.x0) * (s + 1) / strips;
            double lo[3] = {xa, 0, r.z0}, hi[3] = {xb, 0, r.z1};
            rect(lo, hi, 1, +1);
        }
        {
            double lo[3] = {r.x0, h, r.z0}, hi[3] = {r.x1, h, r.z1};
            rect(lo, hi, 1, -1);
        }
        wall(0, r.x0, r.z0, r.z1, r.west, +1);
        wall(0, r.x1, r.z0, r.z1, r.east, -1);
        wall(2, r.z0, r.x0, r.x1, r.south, +1);
        wall(2, r.z1, r.x0, r.x1, r.north, -1);
        text += "[end mesh]\n";
    }

    /// Appends the tunnel as one mesh: floor, ceiling and two side walls, all
    /// facing in, dims.door wide and dims.door_height high; its ends stay open.
    void add_tunnel(const tunnel_t& t)
    {
        const double w = dims.door / 2, h = dims.door_height;
        int side = t.axis == 0 ? 2 : 0;
        comment("doorway tunnel " + t.name);
        text += "[mesh]\n";
        double lo[3], hi[3];
        lo[t.axis] = t.a, hi[t.axis] = t.b;
        lo[side] = t.centre - w, hi[side] = t.centre + w;
        lo[1] = hi[1] = 0;
        rect(lo, hi, 1, +1);
        lo[1] = hi[1] = h;
        rect(lo, hi, 1, -1);
        lo[1] = 0, hi[1] = h;
        lo[side] = hi[side] = t.centre - w;
        rect(lo, hi, side, +1);
        lo[side] = hi[side] = t.centre + w;
        rect(lo, hi, side, -1);
        text += "[end mesh]\n";
    }

    /// Sizes of rooms, doors and tunnels.
    level_dims dims;
    /// The level text written so far.
    std::string text;
    /// Polygons written so far.
    int polys = 0;

private:
    /// A wall in the plane axis = at, spanning [s0,s1] along the other
    /// horizontal axis, with an optional doorway cut as three convex pieces.
    void wall(int axis, double at, double s0, double s1, const door_t& d, int facing)
    {
        int along = axis == 0 ? 2 : 0;
        double lo[3], hi[3];
        lo[axis] = hi[axis] = at;
        auto piece = [&](double a0, double a1, double y0, double y1) {
            lo[along] = a0, hi[along] = a1, lo[1] = y0, hi[1] = y1;
            rect(lo, hi, axis, facing);
        };
        if (d.width <= 0) {
            piece(s0, s1, 0, dims.height);
            return;
        }
        double d0 = d.centre - d.width / 2, d1 = d.centre + d.width / 2;
        piece(s0, d0, 0, dims.height);
        piece(d1, s1, 0, dims.height);
        piece(d0, d1, dims.door_height, dims.height);
    }
};

/// Polygons of a rows x cols grid with every neighbour joined: 6 per room,
/// 4 more wall pieces and 4 tunnel polygons per doorway.
inline int grid_polys(int rows, int cols)
{
    int doors = rows * (cols - 1) + cols * (rows - 1);
    return 6 * rows * cols + 8 * doors;
}

/// A grid of rows x cols box rooms, each joined to its neighbours by doorway
/// tunnels; extra floor strips (spread over the rooms) add `extra` polygons.
inline std::string grid_level(int rows, int cols, int extra = 0, const level_dims& dims = level_dims(),
                              int* npolys = nullptr)
{
    level_writer w(dims);
    const double pitch = dims.room + dims.tunnel;
    char head[160];
    snprintf(head, sizeof head, "generated grid of %d x %d rooms joined by doorway tunnels", rows, cols);
    w.comment(head);
    int nrooms = rows * cols;
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < cols; ++j) {
            room_t r;
            r.name = std::to_string(i) + "," + std::to_string(j);
            r.x0 = j * pitch, r.x1 = r.x0 + dims.room;
            r.z0 = i * pitch, r.z1 = r.z0 + dims.room;
            door_t dx{r.z0 + dims.room / 2, dims.door}, dz{r.x0 + dims.room / 2, dims.door};
            if (j > 0)
                r.west = dx;
            if (j + 1 < cols)
                r.east = dx;
            if (i > 0)
                r.south = dz;
            if (i + 1 < rows)
                r.north = dz;
            int k = i * cols + j;
            r.floor_strips = 1 + extra / nrooms + (k < extra % nrooms ? 1 : 0);
            w.add_room(r);
            if (j + 1 < cols)
                w.add_tunnel({r.name + " east", 0, r.x1, r.x1 + dims.tunnel, r.z0 + dims.room / 2});
            if (i + 1 < rows)
                w.add_tunnel({r.name + " north", 2, r.z1, r.z1 + dims.tunnel, r.x0 + dims.room / 2});
        }
    }
    if (npolys)
        *npolys = w.polys;
    return w.text;
}

/// The grid level with exactly `target` polygons (at least 6): the largest
/// near-square grid that fits, filled up with floor strips.
inline std::string level_with_polys(int target, int* rows_out = nullptr, int* cols_out = nullptr)
{
    int rows = 1, cols = 1;
    for (;;) {
        int r = rows, c = cols;
        (c <= r ? c : r) += 1;
        if (grid_polys(r, c) > target)
            break;
        rows = r, cols = c;
    }
    if (rows_out)
        *rows_out = rows;
    if (cols_out)
        *cols_out = cols;
    int extra = target - grid_polys(rows, cols);
    return grid_level(rows, cols, extra < 0 ? 0 : extra);
}

/// Two rooms side by side along x, joined by one doorway tunnel.
inline std::string two_rooms_level(const level_dims& d = level_dims())
{
    level_writer w(d);
    w.comment("two rooms joined by a doorway: A west, B east; y is up");
    room_t a = make_room("A", 0, d.room, 0, d.room);
    room_t b = make_room("B", d.room + d.tunnel, 2 * d.room + d.tunnel, 0, d.room);
    a.east = b.west = door_t{d.room / 2, d.door};
    w.add_room(a);
    w.add_tunnel({"A-B", 0, a.x1, b.x0, d.room / 2});
    w.add_room(b);
    return w.text;
}

/// Three rooms in a straight line with aligned doorways: the end rooms see
/// each other through the middle one.
inline std::string corridor_level(const level_dims& d = level_dims())
{
    level_writer w(d);
    w.comment("three rooms in a straight line along x, doorways aligned; y is up");
    const double pitch = d.room + d.tunnel;
    room_t r[3];
    const char* names[3] = {"A", "B", "C"};
    for (int k = 0; k < 3; ++k) {
        r[k].name = names[k];
        r[k].x0 = k * pitch, r[k].x1 = r[k].x0 + d.room, r[k].z0 = 0, r[k].z1 = d.room;
        if (k > 0)
            r[k].west = door_t{d.room / 2, d.door};
        if (k < 2)
            r[k].east = door_t{d.room / 2, d.door};
    }
    w.add_room(r[0]);
    w.add_tunnel({"A-B", 0, r[0].x1, r[1].x0, d.room / 2});
    w.add_room(r[1]);
    w.add_tunnel({"B-C", 0, r[1].x1, r[2].x0, d.room / 2});
    w.add_room(r[2]);
    return w.text;
}

/// A dog-leg: A joins B along x, B joins C along z through a doorway at B's
/// west end, so no line of sight runs from A through both doorways into C.
inline std::string dog_leg_level(const level_dims& d = level_dims())
{
    level_writer w(d);
    w.comment("dog-leg: A -> B along x, then B -> C along z near B's west end; y is up");
    const double pitch = d.room + d.tunnel;
    room_t a = make_room("A", 0, d.room, 0, d.room);
    room_t b = make_room("B", pitch, pitch + d.room, 0, d.room);
    room_t c = make_room("C", pitch, pitch + d.room, pitch, pitch + d.room);
    double bc = b.x0 + d.door / 2 + 0.5;
    a.east = b.west = door_t{d.room / 2, d.door};
    b.north = c.south = door_t{bc, d.door};
    w.add_room(a);
    w.add_tunnel({"A-B", 0, a.x1, b.x0, d.room / 2});
    w.add_room(b);
    w.add_tunnel({"B-C", 2, b.z1, c.z0, bc});
    w.add_room(c);
    return w.text;
}

/// A room of the arena: a box [x0,x1] x [y0,y0+h] x [z0,z1] whose floor and
/// ceiling are tiles of at most `tile` units, with square pillars from floor
/// to ceiling and at most one doorway per wall (width 0: none) of door_h.
struct arena_room {
    ///@{
    /// Extent along x and z, floor height and room height.
    double x0, x1, z0, z1, y0, h;
    ///@}
    ///@{
    /// Centre along the wall and width of the doorway in each wall: west, east, south, north.
    double door_c[4] = {0, 0, 0, 0}, door_w[4] = {0, 0, 0, 0};  ///< west, east, south, north
    ///@}
    /// Height of the doorways.
    double door_h = 0;
    std::vector<std::array<double, 4>> pillars;  ///< x0, x1, z0, z1

    /// A room without doors or pillars.
    arena_room(double _x0, double _x1, double _z0, double _z1, double _y0, double _h)
        : x0(_x0), x1(_x1), z0(_z0), z1(_z1), y0(_y0), h(_h)
    {
    }
};

/// Appends the room as one mesh: floor and ceiling tiles (none under a
/// pillar), the walls cut around their doorways, all facing in, and the
/// pillars' sides facing out.
inline void arena_add_room(level_writer& w, const arena_room& r, double tile)
{
    w.text += "[mesh]\n";
    // Floor and ceiling cells: breaks at the tiles and the pillar sides; a
    // cell under a pillar is left out (it lies in solid space).
    std::vector<double> xs{r.x0, r.x1}, zs{r.z0, r.z1};
    for (double x = r.x0 + tile; x < r.x1 - 1e-6; x += tile)
        xs.push_back(x);
    for (double z = r.z0 + tile; z < r.z1 - 1e-6; z += tile)
        zs.push_back(z);
    for (auto& p : r.pillars) {
        xs.push_back(p[0]), xs.push_back(p[1]);
        zs.push_back(p[2]), zs.push_back(p[3]);
    }
    std::sort(xs.begin(), xs.end());
    std::sort(zs.begin(), zs.end());
    xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
    zs.erase(std::unique(zs.begin(), zs.end()), zs.end());
    for (size_t i = 0; i + 1 < xs.size(); ++i)
        for (size_t j = 0; j + 1 < zs.size(); ++j) {
            double cx = (xs[i] + xs[i + 1]) / 2, cz = (zs[j] + zs[j + 1]) / 2;
            bool under = false;
            for (auto& p : r.pillars)
                under = under || (cx > p[0] && cx < p[1] && cz > p[2] && cz < p[3]);
            if (under)
                continue;
            double lo[3] = {xs[i], r.y0, zs[j]}, hi[3] = {xs[i + 1], r.y0, zs[j + 1]};
            w.rect(lo, hi, 1, +1);
            lo[1] = hi[1] = r.y0 + r.h;
            w.rect(lo, hi, 1, -1);
        }
    // Walls: axis, position, span along the other horizontal axis, facing.
    const int axis[4] = {0, 0, 2, 2}, facing[4] = {+1, -1, +1, -1};
    const double at[4] = {r.x0, r.x1, r.z0, r.z1};
    for (int k = 0; k < 4; ++k) {
        int along = axis[k] == 0 ? 2 : 0;
        double s0 = axis[k] == 0 ? r.z0 : r.x0, s1 = axis[k] == 0 ? r.z1 : r.x1;
        double lo[3], hi[3];
        lo[axis[k]] = hi[axis[k]] = at[k];
        auto piece = [&](double a0, double a1, double y0, double y1) {
            lo[along] = a0, hi[along] = a1, lo[1] = y0, hi[1] = y1;
            w.rect(lo, hi, axis[k], facing[k]);
        };
        if (r.door_w[k] <= 0) {
            piece(s0, s1, r.y0, r.y0 + r.h);
            continue;
        }
        double d0 = r.door_c[k] - r.door_w[k] / 2, d1 = r.door_c[k] + r.door_w[k] / 2;
        piece(s0, d0, r.y0, r.y0 + r.h);
        piece(d1, s1, r.y0, r.y0 + r.h);
        piece(d0, d1, r.y0 + r.door_h, r.y0 + r.h);
    }
    // Pillars face outwards.
    for (auto& p : r.pillars) {
        double a[3] = {p[0], r.y0, p[2]}, b[3] = {p[0], r.y0 + r.h, p[3]};
        w.rect(a, b, 0, -1);
        a[0] = b[0] = p[1];
        w.rect(a, b, 0, +1);
        double c[3] = {p[0], r.y0, p[2]}, d[3] = {p[1], r.y0 + r.h, p[2]};
        w.rect(c, d, 2, -1);
        c[2] = d[2] = p[3];
        w.rect(c, d, 2, +1);
    }
    w.text += "[end mesh]\n";
}

/// Stairs between two doorways: a passage of `width` centred at `centre`
/// along axis (0: x, 2: z) from a to b, its floor rising from y0 to y1 in
/// `steps` equal steps, each step `height` high inside.
inline void arena_add_stairs(level_writer& w, int axis, double a, double b, double centre, double width, double y0,
                             double y1, int steps, double height)
{
    int side = axis == 0 ? 2 : 0;
    w.text += "[mesh]\n";
    for (int k = 0; k < steps; ++k) {
        double s0 = a + (b - a) * k / steps, s1 = a + (b - a) * (k + 1) / steps;
        double fy = y0 + (y1 - y0) * k / (steps - 1 > 0 ? steps - 1 : 1);
        double lo[3], hi[3];
        lo[axis] = s0, hi[axis] = s1, lo[side] = centre - width / 2, hi[side] = centre + width / 2;
        lo[1] = hi[1] = fy;
        w.rect(lo, hi, 1, +1);
        lo[1] = hi[1] = fy + height;
        w.rect(lo, hi, 1, -1);
        lo[1] = fy, hi[1] = fy + height;
        lo[side] = hi[side] = centre - width / 2;
        w.rect(lo, hi, side, +1);
        lo[side] = hi[side] = centre + width / 2;
        w.rect(lo, hi, side, -1);
        if (k == 0)
            continue;
        // The riser below this step faces back down the stairs, the drop of
        // the ceiling above it faces up them.
        double prev = y0 + (y1 - y0) * (k - 1) / (steps - 1 > 0 ? steps - 1 : 1);
        lo[axis] = hi[axis] = s0, lo[side] = centre - width / 2, hi[side] = centre + width / 2;
        lo[1] = prev, hi[1] = fy;
        w.rect(lo, hi, axis, -1);
        lo[1] = prev + height, hi[1] = fy + height;
        w.rect(lo, hi, axis, +1);
    }
    w.text += "[end mesh]\n";
}

/// An arena of realistic shape: three halls at different heights with
/// pillars, joined by stairs, a sealed pocket beside them, all placed
/// thousands of units from the origin (x right, y up, z forward).
inline std::string arena_level(int* npolys = nullptr)
{
    level_writer w;
    w.comment("arena: halls at three heights with pillars, stairs between them, a sealed pocket; y is up");
    const double ox = 2048, oz = -3072, tile = 64, door = 96, dh = 128;
    arena_room a(ox, ox + 512, oz, oz + 512, 0, 192);
    arena_room b(ox + 768, ox + 1280, oz, oz + 512, 64, 160);
    arena_room c(ox + 768, ox + 1280, oz + 768, oz + 1280, 128, 256);
    a.door_h = b.door_h = c.door_h = dh;
    a.door_c[1] = b.door_c[0] = oz + 256, a.door_w[1] = b.door_w[0] = door;
    b.door_c[3] = c.door_c[2] = ox + 1024, b.door_w[3] = c.door_w[2] = door;
    for (double px : {128.0, 352.0})
        for (double pz : {128.0, 352.0})
            a.pillars.push_back({ox + px, ox + px + 32, oz + pz, oz + pz + 32});
    b.pillars.push_back({ox + 900, ox + 932, oz + 100, oz + 132});
    b.pillars.push_back({ox + 1100, ox + 1132, oz + 380, oz + 412});
    for (double px : {832.0, 1184.0})
        for (double pz : {832.0, 1184.0})
            c.pillars.push_back({ox + px, ox + px + 48, oz + pz, oz + pz + 48});
    w.comment("hall A, floor 0");
    arena_add_room(w, a, tile);
    w.comment("stairs A-B");
    arena_add_stairs(w, 0, ox + 512, ox + 768, oz + 256, door, 0, 64, 5, dh);
    w.comment("hall B, floor 64");
    arena_add_room(w, b, tile);
    w.comment("stairs B-C");
    arena_add_stairs(w, 2, oz + 512, oz + 768, ox + 1024, door, 64, 128, 5, dh);
    w.comment("hall C, floor 128");
    arena_add_room(w, c, tile);
    w.comment("a sealed pocket: open space that no portal reaches");
    arena_room p(ox, ox + 48, oz + 900, oz + 932, 0, 32);
    arena_add_room(w, p, tile);
    if (npolys)
        *npolys = w.polys;
    return w.text;
}

}  // namespace vantrel_levels
/// @}
