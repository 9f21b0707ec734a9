// The level compiler measured against its targets, as ratios taken in one run:
//
// - BM_real_level: the whole compile (read, tree, portals, sound visibility)
//   of each real level on one worker: its processor time divided by the
//   reference open compiler's time for the same level on this kind of
//   machine, and its peak resident size divided by the reference's 155 MB
//   (targets: both below 1; processor time rather than wall time, as the
//   machine may be shared), missed sightlines (target 0) and the mean
//   visible set. The ratios are printed as a table at the end. Skipped with
//   a message when ../shared/testdata is missing.
// - BM_vis_against_exhaustive: the average visible set against the one of an
//   exhaustive portal flow on the same tree (target: at most 1.3).
// - BM_generated: tree and portals of generated levels of 1k to 50k polygons
//   (targets: 20k under 3 s, 50k under 10 s, peak under 200 MB at 50k), with
//   the sound visibility time beside them up to 20k; the log-log slope of
//   each phase against the polygon count is printed at the end.
// - BM_point_location: lookups per second in a 10k-polygon level (target:
//   at least 10 million).
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

std::string level_file(const std::string& name, const std::string& text)
{
    std::string path = "/tmp/vantrel-bench-bsp-" + name + ".txt";
    if (FILE* f = fopen(path.c_str(), "w")) {
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
    return path;
}

void quiet_log()
{
    set_logfile("");
    set_log_priority(EL_MINOR);
}

double average_set(solid_bsp_t& t)
{
    long visible = 0;
    for (int k = 0; k < t.stats.ni_nodes; ++k) {
        bsp_index_t* b = t.i_nodes[k];
        if ((b->flags & BN_ISLEAF) && !(b->flags & BN_ISSOLID))
            visible += b->visible_leafs.count;
    }
    return t.stats.empty ? (double)visible / t.stats.empty : 0;
}

// The reference open compiler: map compile and full visibility, one thread.
struct real_level {
    const char* name;
    double reference_s;
} real_levels[] = {
    {"lq_e2m1", 0.02}, {"lqdm1", 1.40}, {"lqdm8", 0.83}, {"lqdm5", 5.30}, {"lq_e1m1", 10.4},
};

const double REFERENCE_PEAK_MB = 155;

// The ratios of the real levels, printed when the program ends.
struct real_report {
    std::map<int, std::string> lines;

    ~real_report()
    {
        if (lines.empty())
            return;
        printf("\nreal levels against the reference compiler (below 1 is better):\n");
        printf("  %-8s %8s %8s %8s %8s %9s %7s\n", "level", "cpu s", "cpu x", "peak MB", "peak x", "mean set",
               "missed");
        for (auto& [k, line] : lines)
            printf("%s\n", line.c_str());
    }
} real_table;

void BM_real_level(benchmark::State& state)
{
    quiet_log();
    const real_level& rl = real_levels[state.range(0)];
    std::string dir = VANTREL_SOURCE_ROOT "/../shared/testdata";
    std::string path = dir + "/levels/" + rl.name + ".polys.txt";
    if (FILE* f = fopen(path.c_str(), "r")) {
        fclose(f);
    } else {
        state.SkipWithError("the real levels are missing (../shared/testdata beside the source root)");
        return;
    }
    state.SetLabel(rl.name);
    for (auto _ : state) {
        double peak = 0, cpu = 0, avg = 0;
        int missed = 0, rc = 0;
        {
            // The peak of this level alone, where the system can tell it.
            platform_reset_peak_memory();
            solid_bsp_t bsp;
            bsp.options.threads = 1;
            double c0 = platform_cpu_seconds();
            rc = bsp.build((char*)path.c_str());
            cpu = platform_cpu_seconds() - c0;
            peak = (double)platform_peak_memory() / (1024.0 * 1024.0);
            if (rc == 0) {
                bsp_vis_check_t vc;
                bsp_check_vis(&bsp, 2000, 1, &vc);
                missed = vc.missed;
                avg = average_set(bsp);
                state.counters["tested"] = vc.tested;
                state.counters["empty"] = bsp.stats.empty;
                state.counters["portals"] = bsp.nportals;
            }
        }
        if (rc != 0) {
            state.SkipWithError("build failed");
            break;
        }
        state.counters["s_cpu"] = cpu;
        state.counters["cpu_ratio"] = cpu / rl.reference_s;
        state.counters["peak_MB"] = peak;
        state.counters["peak_ratio"] = peak / REFERENCE_PEAK_MB;
        state.counters["missed"] = missed;
        state.counters["avg_pvs"] = avg;
        char line[160];
        snprintf(line, sizeof line, "  %-8s %8.2f %8.2f %8.0f %8.2f %9.1f %7d", rl.name, cpu, cpu / rl.reference_s,
                 peak, peak / REFERENCE_PEAK_MB, avg, missed);
        real_table.lines[(int)state.range(0)] = line;
    }
}
BENCHMARK(BM_real_level)->DenseRange(0, 4)->Iterations(1)->Unit(benchmark::kSecond);

// Small levels where following every chain is affordable.
void BM_vis_against_exhaustive(benchmark::State& state)
{
    quiet_log();
    std::string text, name;
    switch (state.range(0)) {
    case 0:
        name = "grid_4x4", text = vantrel_levels::grid_level(4, 4);
        break;
    case 1:
        name = "dog_leg", text = vantrel_levels::dog_leg_level();
        break;
    default:
        name = "arena", text = vantrel_levels::arena_level();
    }
    state.SetLabel(name);
    std::string path = level_file(name, text);
    for (auto _ : state) {
        solid_bsp_t fast, full;
        full.options.exhaustive_vis = true;
        unsigned int t0 = get_milli_uptime();
        int rc = fast.build((char*)path.c_str());
        unsigned int t1 = get_milli_uptime();
        rc |= full.build((char*)path.c_str());
        unsigned int t2 = get_milli_uptime();
        if (rc != 0 || fast.stats.ni_nodes != full.stats.ni_nodes) {
            state.SkipWithError("build failed or trees differ");
            break;
        }
        state.counters["set_ratio"] = average_set(fast) / average_set(full);
        state.counters["avg_pvs"] = average_set(fast);
        state.counters["avg_pvs_exhaustive"] = average_set(full);
        state.counters["s_default"] = (t1 - t0) / 1000.0;
        state.counters["s_exhaustive"] = (t2 - t1) / 1000.0;
    }
    remove(path.c_str());
}
BENCHMARK(BM_vis_against_exhaustive)->DenseRange(0, 2)->Iterations(1)->Unit(benchmark::kSecond);

const char* phase_names[] = {"tree", "portals", "visibility"};
enum { NPHASES = 3 };

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
            if (n >= 2)
                printf("  %-15s %.2f\n", phase_names[ph], (n * sxy - sx * sy) / (n * sxx - sx * sx));
        }
    }
} report;

void BM_generated(benchmark::State& state)
{
    quiet_log();
    int polys = (int)state.range(0);
    std::string path = level_file(std::to_string(polys), vantrel_levels::level_with_polys(polys));
    for (auto _ : state) {
        *bsp_phase_times() = bsp_phase_times_t{};
        platform_reset_peak_memory();
        solid_bsp_t bsp;
        bsp.options.visibility = polys <= 20000;
        unsigned int t0 = get_milli_uptime();
        int rc = bsp.build((char*)path.c_str());
        double wall = (get_milli_uptime() - t0) / 1000.0;
        if (rc != 0) {
            state.SkipWithError("build failed");
            break;
        }
        bsp_phase_times_t* t = bsp_phase_times();
        double tree = t->splitter + t->split;
        report.r[polys] = {tree, t->portal_clip, bsp.options.visibility ? t->visibility : 0};
        state.counters["s_tree"] = tree;
        state.counters["s_portals"] = t->portal_clip;
        state.counters["s_tree_and_portals"] = tree + t->portal_clip;
        state.counters["s_visibility"] = bsp.options.visibility ? t->visibility : -1;
        state.counters["s_wall"] = wall;
        state.counters["empty"] = bsp.stats.empty;
        state.counters["portals"] = bsp.nportals;
        state.counters["peak_MB"] = (double)platform_peak_memory() / (1024.0 * 1024.0);
    }
    remove(path.c_str());
}
BENCHMARK(BM_generated)
    ->Arg(1000)
    ->Arg(5000)
    ->Arg(20000)
    ->Arg(50000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// Point location in a 10,000-polygon level, at random points of its box.
void BM_point_location(benchmark::State& state)
{
    quiet_log();
    static std::unique_ptr<solid_bsp_t> bsp;
    if (!bsp) {
        std::string path = level_file("10000", vantrel_levels::level_with_polys(10000));
        bsp.reset(new solid_bsp_t);
        bsp->options.visibility = false;
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
