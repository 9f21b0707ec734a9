// Cost of the math hot loops: transform chains, vertex arrays, interpolation.
#include <benchmark/benchmark.h>

#include <vector>

#include "kdbase/kdbase_math.h"

using namespace vantrel;

namespace {

void matrix_times_matrix(benchmark::State& state)
{
    float a[16], b[16], out[16];
    make_rotate_m(a, 10, 20, 30);
    make_translate_m(b, 1, 2, 3);
    for (auto _ : state) {
        multmatrix_mr(out, a, b);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(matrix_times_matrix);

// A mesh's worth of points through one matrix, as a renderer or loader does.
void matrix_times_vector_array(benchmark::State& state)
{
    const int n = (int)state.range(0);
    std::vector<float> points(4 * (size_t)n), out(4 * (size_t)n);
    for (int i = 0; i < n; ++i)
        set_v(&points[4 * (size_t)i], (float)i, (float)(i % 7), (float)(i % 13), 1);
    float m[16];
    make_rotate_m(m, 10, 20, 30);
    m[12] = 5;
    for (auto _ : state) {
        for (int i = 0; i < n; ++i)
            multmatrix_v3r(&out[4 * (size_t)i], m, &points[4 * (size_t)i]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(matrix_times_vector_array)->Arg(64)->Arg(4096);

void full_vector_array(benchmark::State& state)
{
    const int n = (int)state.range(0);
    std::vector<float> points(4 * (size_t)n, 1.0f), out(4 * (size_t)n);
    float m[16];
    make_rotate_m(m, 10, 20, 30);
    for (auto _ : state) {
        for (int i = 0; i < n; ++i)
            multmatrix_vr(&out[4 * (size_t)i], m, &points[4 * (size_t)i]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(full_vector_array)->Arg(4096);

void quaternion_slerp(benchmark::State& state)
{
    float q1[4] = {0, 0, 0, 1}, q2[4] = {0.5f, 0.5f, 0.5f, 0.5f}, out[4];
    float t = 0;
    for (auto _ : state) {
        slerp_qr(out, q1, q2, t);
        t = t < 1 ? t + 0.001f : 0;
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(quaternion_slerp);

void normalise(benchmark::State& state)
{
    float v[4] = {3, 4, 12, 0}, out[4];
    for (auto _ : state) {
        normalize_vr(out, v);
        v[0] += 0.001f;
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(normalise);

void quaternion_to_matrix(benchmark::State& state)
{
    float q[4] = {0.1825742f, 0.3651484f, 0.5477226f, 0.7302967f}, m[16];
    for (auto _ : state) {
        convert_q2m(m, q);
        convert_m2q(q, m);
        benchmark::DoNotOptimize(q);
    }
}
BENCHMARK(quaternion_to_matrix);

}  // namespace
