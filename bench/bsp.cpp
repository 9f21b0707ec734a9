// Level compilation on generated grids of rooms (1k to 20k polygons): processor
// time per phase (the machine may be shared, so wall time says little), tree and portal counts, peak memory, and point location speed. After
// the runs the log-log slope of each phase against the polygon count is
// printed (1 = linear, 2 = quadratic).
//
// Targets: a 10,000-polygon level compiles completely in under 30 s with a
// peak resident size under 1 GB; point location above 5 million queries/s.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "kdbase/errorlog.h"
#include "tools/level_gen.h"
#include "world/solid_bsp.h"

using namespace vantrel;

namespace {

int portal_count;

void on_status(char* message)
{
    long long n = 0;
    if (!strncmp(message, "portals=", 8) && scan_integer(message + 8, &n))
        portal_count = (int)n;
}

std::string level_file(int polys)
{
    std::string path = "/tmp/vantrel-bench-bsp-" + std::to_string(polys) + ".txt";
    FILE* f = fopen(path.c_str(), "w");
    if (f) {
        std::string text = vantrel_levels::level_with_polys(polys);
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
    return path;
}

const char* phase_names[] = {"splitter", "split", "portal_clip", "portal_cleanup", "visibility", "total"};
enum { NPHASES = 6 };

// Seconds per phase by polygon count; the slopes are printed when the
// program ends (the table lives in the reporter, so it outlasts the runs).
struct slope_report {
    std::map<int, std::vector<double>> r;

    ~slope_report()
    {
        if (r.size() < 2)
            return;
        printf("\nlog-log slope of time against polygon count (least squares over %zu sizes):\n", r.size());
        for (int ph = 0; ph < NPHASES; ++ph) {
            double sx = 0, sy = 0, sxx = 0, sxy = 0;
            int n = 0;
            for (auto& [polys, t] : r) {
                if (t[ph] <= 0)
                    continue;
                double x = std::log((double)polys), y = std::log(t[ph]);
                sx += x, sy += y, sxx += x * x, sxy += x * y, ++n;
            }
            if (n < 2)
                continue;
            double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
            printf("  %-15s %.2f\n", phase_names[ph], slope);
        }
    }
} report;

std::map<int, std::vector<double>>& results()
{
    return report.r;
}

void set_up_log()
{
    set_logfile("/tmp/vantrel-bench-bsp.log");
    set_log_priority(EL_STATUS);
    set_display_status_func(on_status);
}

void BM_compile(benchmark::State& state)
{
    set_up_log();
    int polys = (int)state.range(0);
    std::string path = level_file(polys);
    for (auto _ : state) {
        *bsp_phase_times() = bsp_phase_times_t{};
        portal_count = -1;
        solid_bsp_t bsp;
        double t0 = platform_cpu_seconds();
        int rc = bsp.build((char*)path.c_str());
        double total = platform_cpu_seconds() - t0;
        if (rc != 0) {
            state.SkipWithError("build failed");
            break;
        }
        bsp_phase_times_t* t = bsp_phase_times();
        results()[polys] = {t->splitter, t->split, t->portal_clip, t->portal_cleanup, t->visibility, total};
        state.counters["s_splitter"] = t->splitter;
        state.counters["s_split"] = t->split;
        state.counters["s_clip"] = t->portal_clip;
        state.counters["s_cleanup"] = t->portal_cleanup;
        state.counters["s_vis"] = t->visibility;
        state.counters["s_total"] = total;
        state.counters["nodes"] = bsp.stats.ni_nodes;
        state.counters["leaves"] = bsp.stats.empty + bsp.stats.solid;
        state.counters["empty"] = bsp.stats.empty;
        state.counters["out/in"] = (double)bsp.stats.npolys / polys;
        state.counters["portals"] = portal_count;
        long visible = 0;
        for (int k = 0; k < bsp.stats.ni_nodes; ++k) {
            bsp_index_t* b = bsp.i_nodes[k];
            if (FLAG_ISSET(b->flags, BN_ISLEAF) && !FLAG_ISSET(b->flags, BN_ISSOLID))
                visible += b->visible_leafs.count;
        }
        state.counters["avg_pvs"] = bsp.stats.empty ? (double)visible / bsp.stats.empty : 0;
        state.counters["peak_MB"] = (double)platform_peak_memory() / (1024.0 * 1024.0);
    }
    remove(path.c_str());
}
BENCHMARK(BM_compile)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(20000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// Point location in the 10,000-polygon level, at random points of its box.
void BM_point_location(benchmark::State& state)
{
    set_up_log();
    static std::unique_ptr<solid_bsp_t> bsp;
    if (!bsp) {
        std::string path = level_file(10000);
        bsp.reset(new solid_bsp_t);
        int rc = bsp->build((char*)path.c_str());
        remove(path.c_str());
        if (rc != 0) {
            state.SkipWithError("build failed");
            return;
        }
    }
    std::mt19937 rng(7);
    bbox_t& box = bsp->root.bbox;
    std::vector<float> pts(4 * 4096);
    for (size_t k = 0; k < pts.size(); k += 4)
        for (int a = 0; a < 3; ++a)
            pts[k + a] = box.min[a] + (box.max[a] - box.min[a]) * std::uniform_real_distribution<float>(0, 1)(rng);
    size_t k = 0;
    long empty = 0;
    for (auto _ : state) {
        bsp_index_t* leaf = bsp->get_leaf_at_pos(&pts[k]);
        empty += leaf != nullptr;
        benchmark::DoNotOptimize(leaf);
        k = (k + 4) & (pts.size() - 1);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["in_empty"] = (double)empty / (double)state.iterations();
}
BENCHMARK(BM_point_location);

}  // namespace
