// The sound build of a solid BSP tree (private to world/): the tree from
// double-precision fragments, the true portals between its empty leaves, and
// portal-flow visibility.
#pragma once

#include "kdbase/d_list.h"
#include "world/bsp_winding_local.h"
#include "world/solid_bsp.h"

namespace vantrel {

// A true opening between two empty leaves, on the plane of the node that
// separates them; the plane's normal points into the front leaf.
struct sound_portal {
    winding3 w;
    dplane plane;
    int front, back;  // node numbers of the two leaves
};

// The portals of a build (owned).
struct sound_portals {
    grow_array<sound_portal*> list;
    // Per node: the box of an empty leaf's cell (min x, y, z, max x, y, z),
    // from every face of it; inverted for other nodes.
    double (*cell)[6] = nullptr;
    ~sound_portals() { clear(); }
    void clear()
    {
        for (int k = 0; k < list.n; ++k)
            delete list[k];
        list.n = 0;
        delete[] cell;
        cell = nullptr;
    }
};

// Builds the tree of t (node table entry 0 already appended) from world-space
// meshes; *eps receives the plane thickness used. 0 / -1 (logged).
int sound_build_tree(solid_bsp_t* t, d_list* meshes, int search, double* eps);
// Every portal of the finished tree and the box of every empty leaf's cell;
// empty leaves that hold no polygon get the bounds of their cell. 0 / -1 (logged).
int sound_build_portals(solid_bsp_t* t, double eps, sound_portals* out);
// The visible sets of every empty leaf from the portals (which it empties
// once it has copied what it needs), on up to `threads`
// workers (0: one per processor); exhaustive follows every chain to its end
// without shortcuts (a slow reference). Leaves without a portal get an empty
// set and are counted in *sealed. 0 / -1 (logged).
int sound_build_vis(solid_bsp_t* t, sound_portals* portals, double eps, int threads, bool exhaustive, int* sealed);

}  // namespace vantrel
