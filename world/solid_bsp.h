/// @file
/// The solid BSP tree of a level: internal nodes split space by planes taken
/// from level polygons; leaves are empty (open space, holding the polygon
/// fragments that bound it) or solid (inside the walls). Polygons face the open
/// space: the front side of a polygon is empty, its back side solid.
///
/// Failures are logged once where detected (argument checks at EL_MINDEBUG,
/// build failures at EL_MAJOR) and reported as -1, null or false.
/// @ingroup world
#pragma once
/// @addtogroup world
/// @{

#include <cstdint>
#include <cstdio>

#include "kdbase/d_list.h"
#include "kdbase/errorlog.h"
#include "kdbase/group.h"
#include "primitives/mesh.h"
#include "primitives/n_poly.h"

namespace vantrel {

class material_t;

/// Node kind bits in bsp_index_t::flags: only BN_ISLEAF = empty leaf, both =
/// solid leaf, neither = internal node.
enum { BN_ISLEAF = 0x8000, BN_ISSOLID = 0x4000 };
/// Bit of a level polygon's flags: it served (or can no longer serve) as a splitter.
enum { BSP_USED_AS_SPLITTER = 2 };

/// An axis-aligned box; min and max are four-float vectors (w unused, 0).
class VANTREL_API bbox_t {
public:
    /// Smallest x, y, z.
    float min[4];
    /// Largest x, y, z.
    float max[4];

    bbox_t();
    /// Writes (min + max) / 2. Null _center_v: logged.
    void get_center_v(float* _center_v);
};

/// A tree node. For an internal node the polygon part is its plane (one vertex
/// on the plane, and normal).
class VANTREL_API bsp_index_t : public n_poly {
public:
    int32_t front;          ///< node number of the front child, -1 for none
    int32_t back;           ///< node number of the back child, -1 for none
    int32_t* meshes;        ///< empty leaves: mesh numbers ending in -1 (owned, delete[]); else null
    bbox_t bbox;            ///< bounds of the geometry that went into this node
    d_list visible_leafs;   ///< empty leaves: visible leaf numbers as list data (intptr_t), not owned

    ///@{
    /// An empty leaf: no children, no meshes, flags = BN_ISLEAF.
    bsp_index_t();
    ~bsp_index_t() override;
    ///@}

    /// Makes this node's plane: one vertex (_splitter's first indexed vertex)
    /// and _splitter's normal. 0 / -1.
    int set_plane(n_poly* _splitter);
    /// Adds a leaf to the visible set unless present. 0, or -1 for leaf -1 or
    /// a failed insertion.
    int add_visible_leaf(int _visible_leaf);
};

/// Build statistics (ten counters, all zero after construction).
class VANTREL_API solid_bsp_stats_t {
public:
    int32_t npolys;      ///< polygons stored in empty leaves
    int32_t nnodes;      ///< internal nodes
    int32_t nmeshes;     ///< meshes in the tree's mesh table
    int32_t ni_nodes;    ///< entries in the node table
    int32_t solid;       ///< solid leaves
    int32_t empty;       ///< empty leaves
    int32_t nfront;      ///< internal nodes in the front subtree
    int32_t nback;       ///< internal nodes in the back subtree
    int32_t balance;     ///< nfront - nback
    int32_t ndiscarded;  ///< meshes dropped from back lists of used splitters

    solid_bsp_stats_t() { reset(); }
    /// All counters zero.
    void reset();
    /// Adds other's counters to these, one by one.
    void add(solid_bsp_stats_t* other);
    /// Copies other's counters.
    void set(solid_bsp_stats_t* other);
};

/// How build makes the tree, the portals and the visible sets.
enum {
    /// The default: the tree from double-precision fragments with a plane
    /// thickness scaled to the level's coordinates, the true openings between
    /// empty leaves as portals (several per pair where they are separate), and
    /// portal-flow visibility, so no real sightline is missed. A leaf without
    /// portals (a sealed pocket) sees nothing and is logged as a warning.
    BSP_MODE_SOUND = 0,
    /// The rules of select_splitter, _build_solid_bsp, _build_portals and
    /// _build_pvs followed step by step.
    BSP_MODE_LITERAL = 1,
};
/// The splitter search of the sound mode.
enum {
    BSP_SEARCH_BOUNDED = 0,  ///< a spread of candidates scored against a spread of polygons: linear per node
    BSP_SEARCH_FULL = 1,     ///< every unused polygon scored against every polygon: quadratic per node
};

/// Choices for build. The defaults: the sound mode, the bounded search, one
/// visibility worker per processor, with visible sets.
struct solid_bsp_options_t {
    /// BSP_MODE_SOUND or BSP_MODE_LITERAL.
    int mode = BSP_MODE_SOUND;
    /// Splitter search of the sound mode: BSP_SEARCH_BOUNDED or BSP_SEARCH_FULL.
    int search = BSP_SEARCH_BOUNDED;
    int threads = 0;  ///< visibility workers in the sound mode; 0: one per processor
    /// Sound mode: follow every chain of portals to its end without the
    /// shortcuts (step budget, sets of finished portals). Slow; a reference
    /// for measurements.
    bool exhaustive_vis = false;
    /// Sound mode: false builds the tree and portals only (no visible sets).
    bool visibility = true;
};

struct bsp_fast_node;

/// A level's solid BSP tree: the node table, the leaf meshes and each empty
/// leaf's visible set. The tree owns its meshes and every node but the root
/// (held by value), unless its tables came by copy.
class VANTREL_API solid_bsp_t : public group_t {
public:
    mesh_t** meshes;        ///< mesh table (stats.nmeshes entries), owned
    bsp_index_t** i_nodes;  ///< node table (stats.ni_nodes entries); entry 0 is &root
    /// The root node, entry 0 of i_nodes; an empty leaf in a new tree.
    bsp_index_t root;
    /// Statistics of the last build or load.
    solid_bsp_stats_t stats;
    material_t** skin;  ///< level material list, null-terminated; not owned, kept by copy/replace
    solid_bsp_options_t options;  ///< read by build
    int nportals;       ///< portals of the last build
    int nsealed;        ///< sound mode: empty leaves of the last build without portals

    solid_bsp_t();
    ~solid_bsp_t() override;
    solid_bsp_t(const solid_bsp_t&) = delete;
    solid_bsp_t& operator=(const solid_bsp_t&) = delete;

    /// Builds the tree, the portals and the visible sets from world-space
    /// meshes of convex polygons (the meshes are transformed to world space in
    /// place; the caller keeps them), as options.mode says. 0 / -1; after -1
    /// the tree is partial and must not be used (the destructor releases it).
    ///
    /// Point location needs only what the tree stores: each internal node's
    /// plane point and normal (floats), the distance taken in double, and the
    /// fixed PL_EPSILON (on the plane goes to the front). A tree written out
    /// and read back therefore places every point exactly as the one built;
    /// the build's wider plane thickness only decides where polygons go.
    int build(d_list* _meshes);
    /// Loads a polygon list file and builds from it; the level's meshes are
    /// freed as soon as the tree holds its polygons. 0 / -1.
    int build(char* _filename);
    /// The empty leaf holding _pos, or null when _pos lies in solid space (or
    /// the tree is empty of planes and the root is solid).
    bsp_index_t* get_leaf_at_pos(float* _pos);
    /// The portals of the built (or loaded) tree as its mode makes them: the
    /// true openings between empty leaves in the sound mode, those of
    /// _build_portals in the literal mode. Appended to _portals (which should
    /// own its elements) as bsp_portal_t objects carrying their two leaves.
    /// 0, or -1 for a null list, an unbuilt tree or a failure (logged); the
    /// portals appended before a failure stay in the list.
    int get_portals(d_list* _portals);
    /// Shares src's tables, root and statistics (src keeps ownership).
    void copy(solid_bsp_t* _bsp);
    /// copy, then src forgets its tables so that this tree owns them.
    void replace(solid_bsp_t* _bsp);
    /// Meshes, the tree and the statistics.
    void dump(FILE* f);

    /// One level of the recursive build: splits _meshes at the best splitter
    /// into _root's children. 0 / -1.
    int _build_solid_bsp(bsp_index_t* _root, d_list* _meshes, solid_bsp_stats_t* _stats);
    /// Appends a node to the node table: its number, or -1.
    int _add_to_i_nodes(bsp_index_t* _i_node);
    /// Stores deep copies of _meshes in the mesh table and their numbers in the
    /// leaf: the number of polygons stored, or -1.
    int _add_meshes_to_leaf(bsp_index_t* _leaf, d_list* _meshes);
    /// Portals of the subtree of internal node _node, added to _portals (a
    /// list of bsp_portal_t). 0 / -1.
    int _build_portals(int _node, d_list* _portals);
    /// Visible sets of the empty leaves of the subtree at _root, from the
    /// portals. 0 / -1 (also when an empty leaf has no portal).
    int _build_pvs(int _root, d_list* _portals);

private:
    int i_nodes_cap;  ///< allocated entries of i_nodes
    int meshes_cap;   ///< allocated entries of meshes
    bool owns_tables;     ///< false after copy: the source tree frees the tables
    bsp_fast_node* fast;  ///< compact copy of the planes for point location, built on first use
    int fast_count;
    enum { GRID = 32 };
    int32_t* grid;        ///< GRID^3 cells over the root's box: where the walk starts (fast numbering)
    double grid_lo[3], grid_scale[3];

    int _build_solid_bsp(bsp_index_t* _root, d_list* _meshes, solid_bsp_stats_t* _stats, n_poly* _splitter);
    int _build(d_list* _meshes, bool _drop_meshes);
    int _build_sound(d_list* _meshes, bool _drop_meshes);
    void _release();
    void _forget();
    bool _make_fast();
    void _make_grid();
};

/// The process-wide balance weight of the splitter score: stores w unless w
/// is -1 and returns the current value (default 1).
VANTREL_API short BSP_BALANCE_W(short w);
/// The split weight, likewise (default 8).
VANTREL_API short BSP_SPLIT_W(short w);

/// The score of a splitter candidate that leaves front polygons in front, back
/// behind and splits split of them (smaller is better), with the current weights.
VANTREL_API int _splitter_score(int front, int back, int split);

/// Processor seconds spent in each phase of the builds since the counters
/// were last zeroed (process-wide; assign zeros to reset). For measurements.
struct bsp_phase_times_t {
    double splitter;        ///< splitter choice
    double split;           ///< distributing and splitting meshes, storing leaf meshes
    double portal_clip;     ///< making portal squares and cutting them down the tree
    double portal_cleanup;  ///< removing invalid portals
    double visibility;      ///< visible sets
};
/// The process-wide phase counters; never null.
VANTREL_API bsp_phase_times_t* bsp_phase_times();

/// The best splitter among the polygons of _meshes whose used bit is clear
/// (its used bit is then set), or null when none is left or on bad input.
VANTREL_API n_poly* select_splitter(d_list* _meshes);
/// True when every polygon of every mesh of the list has its used bit.
VANTREL_API bool _all_used_as_splitter(d_list* _meshes);
/// Bounds of every indexed vertex of every polygon of _meshes. 0 / -1.
VANTREL_API int get_bounding_box(bbox_t* _bbox, d_list* _meshes);
/// Widens _bbox by the indexed vertices of _poly. 0 / -1.
VANTREL_API int _adjust_bounding_box(bbox_t* _bbox, n_poly* _poly);

/// A visibility check: pairs of points in empty leaves whose segment crosses
/// no polygon of the tree's leaves, and how many of them join leaves that do
/// not list each other.
struct bsp_vis_check_t {
    enum { EXAMPLES = 5 };
    int tested;      ///< clear sightlines sampled
    int missed;      ///< of them, between leaves that do not see each other through open space
    int local;       ///< of the tested, pairs drawn near each other
    int through_solid;  ///< of the tested, not seen and passing through solid space on the way
                        /// (a gap in the level the tree closed); not in missed
    struct {
        float a[3], b[3];
        int leaf_a, leaf_b;
    } example[EXAMPLES];  ///< the first misses
};
/// Samples n clear sightlines (half between any two points, half between
/// nearby points) with a fixed seed and fills *out. 0, or -1 for bad
/// arguments, an unbuilt tree or a failed allocation.
VANTREL_API int bsp_check_vis(solid_bsp_t* _bsp, int n, unsigned int seed, bsp_vis_check_t* out);

///@{
/// Printers.
VANTREL_API void dump_tree_indexes(FILE* _f, bsp_index_t** _i_nodes, int _bi, const char* _tabs);
VANTREL_API void dump_bsp_index(FILE* _f, bsp_index_t** _i_nodes, int _bi, const char* _tabs);
VANTREL_API void dump_tree_stats(FILE* f, solid_bsp_stats_t* stats);
///@}

}  // namespace vantrel
/// @}
