// Cost of the engine's idle pass (the host calls execute far more often than
// the cycle rate), of a script-function call and of a member lookup by name.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "base_script/script_func.h"
#include "engine/cycle_engine.h"

using namespace vantrel;

namespace {

class nop_module : public ce_base_module {
public:
    int execute() override { return 0; }
};

void nop_idle() {}

// Period not elapsed: one clock read, one timer check, the idle call.
void engine_idle_pass(benchmark::State& state)
{
    cycle_engine e;
    e.init();
    e.set_cycle_rate(1);
    e.idle = nop_idle;
    nop_module modules[8];
    for (nop_module& m : modules)
        e.add_module(&m);
    for (auto _ : state)
        benchmark::DoNotOptimize(e.execute());
}
BENCHMARK(engine_idle_pass);

void scale(float* v, float a, float b, float c, float d)
{
    v[0] *= a;
    v[1] *= b;
    v[2] *= c;
    v[3] *= d;
}

void script_function_call(benchmark::State& state)
{
    static script_func f("scale", scale, "v=Fffff");
    float v[4] = {1, 1, 1, 1};
    r_var p("p", v), one("f", 1.0f);
    f.args[0] = (intptr_t)p.word(0);
    for (int k = 1; k <= 4; ++k)
        f.args[k] = (intptr_t)one.word(0);
    f.nargs = 5;
    for (auto _ : state)
        benchmark::DoNotOptimize(f.call());
}
BENCHMARK(script_function_call);

// The last of n members, as the configuration language finds fields.
void member_lookup(benchmark::State& state)
{
    const int n = (int)state.range(0);
    r_struct s;
    static char names[64][24];
    for (int i = 0; i < n; ++i) {
        snprintf(names[i], sizeof names[i], "field_%d", i);
        s.add(names[i], i);
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(s.get_var(names[n - 1]));
}
BENCHMARK(member_lookup)->Arg(8)->Arg(64);

}  // namespace
