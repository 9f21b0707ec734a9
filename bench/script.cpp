// Configuration files as a game loads them at start-up and on level changes:
// 10,000-line blocks of simple assignments, of assignments through member
// paths and indexes, and of calls. Target: at least a million simple
// assignments per second on one core.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "base_script/dot_config.h"
#include "base_script/script_sets.h"
#include "base_script/script_var.h"
#include "kdbase/errorlog.h"
#include "tests/base_script/player.h"

using namespace vantrel;
using vantrel_test::player_t;

namespace {

const int lines = 10000;

struct fixture {
    r_struct scope{false};
    dot_script script;
    dot_config cfg;
    player_t player;
    r_var speed{"speed", 0};
    std::string dir, simple, members, calls;

    fixture()
    {
        set_logfile("/dev/null");
        set_log_priority(0);
        script.add_plugin(&cfg);
        script.globals = &scope;
        scope.add(&player);
        scope.add(&speed);
        support_add_funcs(scope);
        dir = (std::filesystem::temp_directory_path() / "vantrel-bench-script").string();
        std::filesystem::create_directories(dir);
        simple = write("simple.ds", [](int i) { return "speed = " + std::to_string(i % 100) + "\n"; });
        members = write("members.ds", [](int i) {
            return "player.pos[" + std::to_string(i % 4) + "] = 1.5\nplayer.health = speed\n";
        });
        calls = write("calls.ds", [](int i) {
            return "set_v(&player.pos, 1.0, 2.0, " + std::to_string(i % 10) + ".5, 0.0)\n";
        });
    }
    ~fixture() { std::filesystem::remove_all(dir); }

    template <class F>
    std::string write(const char* name, F line)
    {
        std::string path = dir + "/" + name, text = ". config\n";
        int statements = 0;
        for (int i = 0; statements < lines; ++i) {
            std::string l = line(i);
            for (char c : l)
                statements += c == '\n';
            text += l;
        }
        text += "./config\n";
        FILE* f = fopen(path.c_str(), "w");
        if (f) {
            fputs(text.c_str(), f);
            fclose(f);
        }
        return path;
    }
};

fixture& fx()
{
    static fixture f;
    return f;
}

void run(benchmark::State& state, const std::string& path)
{
    for (auto _ : state) {
        int r = fx().script.process(path.c_str());
        if (r != 0)
            state.SkipWithError("the script failed");
        benchmark::DoNotOptimize(r);
    }
    state.SetItemsProcessed(state.iterations() * lines);
}

void BM_simple_assignments(benchmark::State& state)
{
    run(state, fx().simple);
}
BENCHMARK(BM_simple_assignments)->Unit(benchmark::kMillisecond);

void BM_member_path_assignments(benchmark::State& state)
{
    run(state, fx().members);
}
BENCHMARK(BM_member_path_assignments)->Unit(benchmark::kMillisecond);

void BM_calls(benchmark::State& state)
{
    run(state, fx().calls);
}
BENCHMARK(BM_calls)->Unit(benchmark::kMillisecond);

}  // namespace
