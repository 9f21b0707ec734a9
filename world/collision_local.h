// Shared by the collision code of world/: a wall polygon carried into the
// unit-sphere space of an ellipsoid on scratch arrays, so that level
// vertices (often shared between polygons) are never moved.
#pragma once

#include "primitives/n_poly.h"

namespace vantrel {

class sphere_poly {
public:
    n_poly poly;  // points at the scratch arrays, owns nothing

    sphere_poly() = default;
    ~sphere_poly();
    sphere_poly(const sphere_poly&) = delete;
    sphere_poly& operator=(const sphere_poly&) = delete;

    // poly = wall with its positions divided by radius and its normal
    // multiplied by radius, renormalised: the normal of the scaled plane
    // (dividing it, as for positions, would tilt a slanted wall). The caller
    // has checked wall and radius. 0, or -1 when the arrays cannot be had.
    int set(n_poly* wall, const float* radius);

private:
    enum { LOCAL = 16 };
    mrv_vertex local_va[LOCAL];
    uint32_t local_vi[LOCAL];
    mrv_vertex* heap_va = nullptr;
    uint32_t* heap_vi = nullptr;
};

// The normal of wall in the unit-sphere space of radius (see sphere_poly::set).
void sphere_normal(const n_poly* wall, const float* radius, float* out);

// Where the unit sphere at p moving along the unit direction dir first
// touches poly (both in unit-sphere space): at the plane contact point when
// that lies inside the polygon, else at the closest point of its edges.
struct sweep_t {
    float h;       // height of the centre above the plane (< 0: behind it)
    float s;       // travel before the touch; 0 when the sphere already reaches it
    float rank;    // s, or for a contact already reached, its distance - 1 (<= 0):
                   // the deeper the contact, the smaller
};
// True when the move runs into the polygon; false when it misses it or the
// centre is behind the plane (h < 0).
bool sweep_sphere(n_poly* poly, const float* p, const float* dir, sweep_t* out);

}  // namespace vantrel
