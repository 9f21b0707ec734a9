// Geometry throughput: vertex sharing of meshes of 1k to 100k polygon vertices
// (expected linear time), and polygon splits per second.
#include <benchmark/benchmark.h>

#include <cmath>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "primitives/mesh.h"

using namespace vantrel;

namespace {

// A square grid of quads, each with its own four corners: every inner corner
// appears four times before unification. nverts is the number of polygon vertices.
void fill_grid(mesh_t& m, int nverts)
{
    int side = (int)std::sqrt(nverts / 4.0);
    int nquads = nverts / 4;
    m._alloc_polys(nquads);
    for (int q = 0; q < nquads; ++q) {
        n_poly& p = m.polys[q];
        p._alloc_verts(4);
        float x = (float)(q % side), y = (float)(q / side);
        const float corner[4][2] = {{x, y}, {x + 1, y}, {x + 1, y + 1}, {x, y + 1}};
        for (int k = 0; k < 4; ++k) {
            mrv_vertex& v = p.va[k];
            v.v[0] = corner[k][0];
            v.v[1] = corner[k][1];
            v.v[2] = 0;
            v.n[0] = v.n[1] = 0;
            v.n[2] = 1;
            v.t[0] = corner[k][0] / side;
            v.t[1] = corner[k][1] / side;
        }
        p.calculate_normal(nullptr);
    }
}

void bm_unify_vertices(benchmark::State& state)
{
    set_logfile("/dev/null");
    int n = (int)state.range(0);
    for (auto _ : state) {
        // Only the unification is measured, not building or freeing the mesh.
        state.PauseTiming();
        mesh_t* m = KD_NEW mesh_t;
        fill_grid(*m, n);
        state.ResumeTiming();
        if (m->unify_vertices() < 0)
            state.SkipWithError("unify_vertices failed");
        benchmark::DoNotOptimize(m->va);
        state.PauseTiming();
        delete m;
        state.ResumeTiming();
    }
    state.SetComplexityN(n);
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(bm_unify_vertices)->Arg(1000)->Arg(10000)->Arg(100000)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);

void bm_split_poly(benchmark::State& state)
{
    set_logfile("/dev/null");
    // An octagon around the origin cut by a slanted plane through it.
    n_poly poly, plane;
    poly._alloc_verts(8);
    for (int k = 0; k < 8; ++k) {
        double a = 2 * M_PI * k / 8;
        mrv_vertex& v = poly.va[k];
        v.v[0] = (float)std::cos(a);
        v.v[1] = (float)std::sin(a);
        v.v[2] = 0;
        v.n[0] = v.n[1] = 0;
        v.n[2] = 1;
        v.t[0] = v.v[0];
        v.t[1] = v.v[1];
    }
    poly.calculate_normal(nullptr);
    plane._alloc_verts(1);
    plane.va[0].v[0] = 0.1f;
    plane.va[0].v[1] = plane.va[0].v[2] = 0;
    plane.normal[0] = 0.8f;
    plane.normal[1] = 0.6f;
    plane.normal[2] = 0;
    for (auto _ : state) {
        n_poly front, back;
        if (split_poly(&poly, &plane, &front, &back) < 0)
            state.SkipWithError("split_poly failed");
        benchmark::DoNotOptimize(front.va);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bm_split_poly);

}  // namespace
