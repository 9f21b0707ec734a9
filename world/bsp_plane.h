/// @file
/// A polygon's plane copied out of its vertex array, for the inner loops of the
/// BSP builder and of point location. The tests are the polygon plane tests
/// (p_location_v, p_location_poly) computed the same way, step by step, so the
/// results agree bit for bit; only the pointer chasing and argument checks go.
/// @ingroup world
#pragma once
/// @addtogroup world
/// @{

#include <cmath>
#include <cstring>

#include "platform/platform.h"
#include "primitives/n_poly.h"

namespace vantrel {

/// A plane as a point and a normal, copied from a polygon so that the tests
/// read no vertex arrays.
struct bsp_plane {
    float p0[3];  ///< the first indexed vertex
    float n[3];   ///< the normal

    /// From a usable polygon.
    void set(n_poly* poly)
    {
        memcpy(p0, poly->va[poly->vi[0]].v, sizeof p0);
        memcpy(n, poly->normal, sizeof n);
    }

    /// The signed distance of x.
    double distance(const float* x) const
    {
        return ((double)x[0] - p0[0]) * n[0] + ((double)x[1] - p0[1]) * n[1] + ((double)x[2] - p0[2]) * n[2];
    }

    /// PL_FRONT, PL_BACK, PL_ONPLANE, or PL_INVALID for a NaN distance.
    int side(const float* x) const
    {
        double d = distance(x);
        if (d > PL_EPSILON)
            return PL_FRONT;
        if (d < -PL_EPSILON)
            return PL_BACK;
        if (std::fabs(d) <= PL_EPSILON)
            return PL_ONPLANE;
        return PL_INVALID;
    }

    /// The location of count points (3 floats each) as p_location_poly gives it.
    int locate(const float* pos, int count) const
    {
        return combine_locations(count, [&](int k) { return side(&pos[3 * k]); });
    }
};

/// Adds the processor time of its scope to a phase counter.
struct phase_timer {
    /// The phase counter, in processor seconds; receives the scope's time.
    double& total;
    /// Processor time at construction.
    double start;
    /// Starts timing for the counter t, which must outlive the timer.
    explicit phase_timer(double& t) : total(t), start(platform_cpu_seconds()) {}
    ~phase_timer() { total += platform_cpu_seconds() - start; }
};

}  // namespace vantrel
/// @}
