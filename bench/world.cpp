// The game world's per-frame work: collision checks of bodies moving through
// a 10,000-polygon level (one body, then many, whose body-against-body search
// makes a pass over E bodies cost O(E^2)), and channel playback as channels
// grow longer (locating the current keyframe is a walk over the keyframes).
//
// Every figure is also given as a ratio to an anchor timed in the same
// process (one point location in the same level), so runs on a loaded or
// different machine compare: "x_anchor" is the cost of one operation in
// point locations.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "kdbase/d_list.h"
#include "kdbase/errorlog.h"
#include "kdbase/kdbase_math.h"
#include "primitives/poly_list.h"
#include "tools/level_gen.h"
#include "world/animation.h"
#include "world/level.h"

using namespace vantrel;

namespace {

using bench_clock = std::chrono::steady_clock;

struct world_fixture {
    level_t level;
    int rows = 0, cols = 0;
    bool ok = false;
    double anchor_ns = 0;  // one point location

    world_fixture()
    {
        set_logfile("/dev/null");
        std::string path = "/tmp/vantrel-bench-world.txt";
        FILE* f = fopen(path.c_str(), "w");
        if (!f)
            return;
        std::string text = vantrel_levels::level_with_polys(10000, &rows, &cols);
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
        d_list meshes(1);
        // The tree is all collisions need; portals would only slow the set-up.
        ok = load_poly_list(path.c_str(), nullptr, &meshes) == 0 && level._add_to_i_nodes(&level.root) == 0 &&
             level._build_solid_bsp(&level.root, &meshes, &level.stats) == 0;
        remove(path.c_str());
        if (ok)
            anchor_ns = time_point_location();
    }

    // Centre of room k of the grid, at half the room height.
    void room_centre(int k, float* out) const
    {
        const vantrel_levels::level_dims d;
        int i = (k / cols) % rows, j = k % cols;
        set_v(out, (float)(j * (d.room + d.tunnel) + d.room / 2), (float)(d.height / 2),
              (float)(i * (d.room + d.tunnel) + d.room / 2), 1);
    }

    double time_point_location()
    {
        std::vector<float> pts(4 * 1024);
        std::mt19937 rng(3);
        for (size_t k = 0; k < pts.size(); k += 4)
            room_centre((int)(rng() % (unsigned)(rows * cols)), &pts[k]);
        const int n = 200000;
        long found = 0;
        auto t0 = bench_clock::now();
        for (int i = 0; i < n; ++i)
            found += level.get_leaf_at_pos(&pts[(size_t)(i & 1023) * 4]) != nullptr;
        double ns = std::chrono::duration<double, std::nano>(bench_clock::now() - t0).count();
        benchmark::DoNotOptimize(found);
        return ns / n;
    }
};

world_fixture& fx()
{
    static world_fixture f;
    return f;
}

// A body that checks collisions before each move, as entities do.
struct bench_body : unknown, physical_body {
    float pos[4];
    level_t* level = nullptr;
    bench_body() { pos_v = pos; }
    void before_move(float* delta) override { level->do_collision_check(this, delta); }
};

// Random moves of up to half a unit: bodies wander and press against walls.
std::vector<float> random_moves(size_t n)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-0.5f, 0.5f);
    std::vector<float> m(4 * n);
    for (size_t k = 0; k < m.size(); k += 4)
        set_v(&m[k], u(rng), u(rng) * 0.2f, u(rng), 0);
    return m;
}

void report(benchmark::State& state, bench_clock::time_point t0, double ops)
{
    double ns = std::chrono::duration<double, std::nano>(bench_clock::now() - t0).count() / ops;
    state.counters["ns_per_op"] = ns;
    state.counters["x_anchor"] = fx().anchor_ns > 0 ? ns / fx().anchor_ns : 0;
    state.SetItemsProcessed((int64_t)ops);
}

void bm_anchor_point_location(benchmark::State& state)
{
    if (!fx().ok) {
        state.SkipWithError("level build failed");
        return;
    }
    float p[4];
    fx().room_centre(0, p);
    for (auto _ : state)
        benchmark::DoNotOptimize(fx().level.get_leaf_at_pos(p));
    state.counters["anchor_ns"] = fx().anchor_ns;
}
BENCHMARK(bm_anchor_point_location);

// E bodies, one per room, each moving once per pass: items are checks.
void bm_collision_checks(benchmark::State& state)
{
    world_fixture& w = fx();
    if (!w.ok) {
        state.SkipWithError("level build failed");
        return;
    }
    int e = (int)state.range(0);
    std::vector<std::unique_ptr<bench_body>> bodies;
    for (int k = 0; k < e; ++k) {
        bodies.emplace_back(new bench_body);
        w.room_centre(k, bodies.back()->pos);
        bodies.back()->level = &w.level;
        set_v(bodies.back()->radius_v, 0.5f, 0.9f, 0.5f, 1);
        w.level.ents.insert(static_cast<unknown*>(bodies.back().get()));
    }
    std::vector<float> moves = random_moves(4096);
    size_t m = 0;
    double checks = 0;
    auto t0 = bench_clock::now();
    for (auto _ : state) {
        for (auto& b : bodies) {
            float d[4];
            copy_v(d, &moves[m]);
            m = (m + 4) & (moves.size() - 1);
            b->move_pos_v(d);
        }
        checks += e;
    }
    report(state, t0, checks);
    state.SetComplexityN(e);
    w.level.ents.delete_nodes();
}
BENCHMARK(bm_collision_checks)->Arg(1)->Arg(10)->Arg(30)->Arg(100)->Arg(300)->Complexity(benchmark::oNSquared);

// One channel of n translation keyframes of 10 ms, played forward 7 ms per
// call and restarted at the end: items are animate calls.
void bm_channel_playback(benchmark::State& state)
{
    int n = (int)state.range(0);
    channel c;
    for (int k = 0; k < n; ++k) {
        auto* kf = new kf_mesh_mtrans_t;
        kf->duration = 10;
        set_v(kf->delta_v, (float)(k % 3), 1, 0, 0);
        c.add_keyframe(kf);
    }
    mesh_t mesh;
    c.bind(&mesh);
    unsigned int total = c.get_duration(), t = 0;
    double calls = 0;
    auto t0 = bench_clock::now();
    for (auto _ : state) {
        t = t + 7 > total ? 0 : t + 7;
        benchmark::DoNotOptimize(c.animate(&mesh, t));
        ++calls;
    }
    report(state, t0, calls);
    state.SetComplexityN(n);
}
BENCHMARK(bm_channel_playback)->Arg(4)->Arg(32)->Arg(256)->Arg(2048)->Complexity(benchmark::oN);

}  // namespace
