// Decoding BMP and TGA files and converting pixel formats, against the widely
// used single-header decoder stb_image on the same files in the same run; and
// encoding them, against one fwrite of the same bytes (the counter
// x_fwrite is the ratio of the two, timed side by side in each iteration; the
// fastest of each is compared, since other work on the machine only ever adds
// time).
// The files are written once to a temporary directory and read back many
// times, so they come from the page cache.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <unistd.h>

#include "image/image.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_ONLY_TGA
#include "stb_image.h"
#pragma GCC diagnostic pop

using namespace vantrel;

namespace {

const unsigned int opaque = 0xFF000000u;

// A temporary directory removed at exit, with the test files inside.
struct bench_files {
    std::string dir;
    bench_files()
    {
        char tmpl[] = "/tmp/vantrel-bench-image-XXXXXX";
        const char* d = mkdtemp(tmpl);
        dir = d ? d : "/tmp";
    }
    ~bench_files()
    {
        std::string cmd = "rm -rf '" + dir + "'";
        if (dir != "/tmp" && system(cmd.c_str()) != 0)
            fprintf(stderr, "could not remove %s\n", dir.c_str());
    }
    // The file of that format and size, written on first use.
    std::string get(const char* ext, int bits, int size)
    {
        std::string p = dir + "/" + std::to_string(bits) + "_" + std::to_string(size) + ext;
        if (access(p.c_str(), R_OK) == 0)
            return p;
        image_t img;
        img.alloc_bits(size, size, 0xFF0000, 0xFF00, 0xFF, bits == 32 ? opaque : 0);
        unsigned int seed = 12345;
        for (size_t i = 0; i < img.row_size() * (size_t)size; ++i)
            img.bits[i] = (unsigned char)((seed = seed * 1103515245u + 12345u) >> 16);
        unsigned int options = 0;  // rows bottom up in both formats, the common layout
        if (image_write(&img, p.c_str(), &options, nullptr) != 0)
            fprintf(stderr, "could not write %s\n", p.c_str());
        return p;
    }
};

bench_files& files()
{
    static bench_files f;
    return f;
}

void decode(benchmark::State& state, const char* ext, int bits)
{
    std::string p = files().get(ext, bits, (int)state.range(0));
    for (auto _ : state) {
        image_t img;
        if (image_read(&img, p.c_str(), nullptr) != 0)
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(img.bits);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) * state.range(0) * (bits / 8));
}

void decode_stb(benchmark::State& state, const char* ext, int bits)
{
    std::string p = files().get(ext, bits, (int)state.range(0));
    for (auto _ : state) {
        int w, h, n;
        unsigned char* data = stbi_load(p.c_str(), &w, &h, &n, 0);
        if (!data)
            state.SkipWithError("stb_image read failed");
        benchmark::DoNotOptimize(data);
        stbi_image_free(data);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) * state.range(0) * (bits / 8));
}

BENCHMARK_CAPTURE(decode, bmp24, ".bmp", 24)->Arg(512)->Arg(2048);
BENCHMARK_CAPTURE(decode_stb, bmp24, ".bmp", 24)->Arg(512)->Arg(2048);
BENCHMARK_CAPTURE(decode, bmp32, ".bmp", 32)->Arg(512)->Arg(2048);
BENCHMARK_CAPTURE(decode_stb, bmp32, ".bmp", 32)->Arg(512)->Arg(2048);
BENCHMARK_CAPTURE(decode, tga24, ".tga", 24)->Arg(512)->Arg(2048);
BENCHMARK_CAPTURE(decode_stb, tga24, ".tga", 24)->Arg(512)->Arg(2048);
BENCHMARK_CAPTURE(decode, tga32, ".tga", 32)->Arg(512)->Arg(2048);
BENCHMARK_CAPTURE(decode_stb, tga32, ".tga", 32)->Arg(512)->Arg(2048);

// Converting a whole image into a new buffer: 32 bits to 5-5-5, 24 to 32 bits.
void convert(benchmark::State& state, int from_bits, unsigned int r, unsigned int g, unsigned int b, unsigned int a)
{
    int size = (int)state.range(0);
    image_t img;
    img.alloc_bits(size, size, 0xFF0000, 0xFF00, 0xFF, from_bits == 32 ? opaque : 0);
    for (size_t i = 0; i < img.row_size() * (size_t)size; ++i)
        img.bits[i] = (unsigned char)(i * 7);
    bit_fields_t to;
    to.set(r, g, b, a);
    for (auto _ : state) {
        char* out = nullptr;
        if (img.convert(&to, &out) != 0)
            state.SkipWithError("conversion failed");
        benchmark::DoNotOptimize(out);
        delete[] out;
    }
    state.SetItemsProcessed(state.iterations() * size * size);
}

BENCHMARK_CAPTURE(convert, 32_to_16, 32, 0x7C00, 0x03E0, 0x001F, 0)->Arg(512)->Arg(2048);
BENCHMARK_CAPTURE(convert, 24_to_32, 24, 0xFF0000, 0xFF00, 0xFF, opaque)->Arg(512)->Arg(2048);
BENCHMARK_CAPTURE(convert, 24_to_16, 24, 0x7C00, 0x03E0, 0x001F, 0)->Arg(512)->Arg(2048);

// Writing a whole file: image_write, and next to it fopen, one fwrite of the
// bytes it wrote and fclose. The reported time is the writer's; x_fwrite and
// x_fwrite_cpu are to stay within target. The machine is shared: run with
// --benchmark_repetitions=5 --benchmark_report_aggregates_only=true and take
// the medians.
void encode(benchmark::State& state, const char* ext, int bits, unsigned int options, bool rgb = false)
{
    int size = (int)state.range(0);
    image_t img;
    unsigned int red = rgb ? 0xFF : 0xFF0000, blue = rgb ? 0xFF0000 : 0xFF;
    img.alloc_bits(size, size, red, 0xFF00, blue, bits == 32 ? opaque : 0);
    for (size_t i = 0; i < img.row_size() * (size_t)size; ++i)
        img.bits[i] = (unsigned char)(i * 13);
    std::string out = files().dir + "/encoded" + ext, anchor = files().dir + "/anchor" + ext;
    unsigned int o = options;
    if (image_write(&img, out.c_str(), &o, nullptr) != 0) {
        state.SkipWithError("write failed");
        return;
    }
    std::string bytes;
    if (FILE* f = fopen(out.c_str(), "rb")) {
        char buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            bytes.append(buf, n);
        fclose(f);
    }
    using clock = std::chrono::steady_clock;
    // Runs one of the two, keeping the fastest wall and processor time of each.
    auto timed = [](auto work, double& best, double& best_cpu) {
        std::clock_t c0 = std::clock();
        auto t0 = clock::now();
        work();
        double t = std::chrono::duration<double>(clock::now() - t0).count();
        best_cpu = std::min(best_cpu, (double)(std::clock() - c0));
        best = std::min(best, t);
        return t;
    };
    auto write_image = [&] {
        o = options;
        if (image_write(&img, out.c_str(), &o, nullptr) != 0)
            state.SkipWithError("write failed");
    };
    auto write_plain = [&] {
        FILE* f = fopen(anchor.c_str(), "wb");
        if (!f || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
            state.SkipWithError("anchor write failed");
        if (f)
            fclose(f);
    };
    double writer = 1e30, plain = 1e30, writer_cpu = 1e30, plain_cpu = 1e30;
    bool writer_first = true;
    for (auto _ : state) {
        // The order alternates: what runs first after the other's write may
        // pay for some of it.
        if (!writer_first)
            timed(write_plain, plain, plain_cpu);
        state.SetIterationTime(timed(write_image, writer, writer_cpu));
        if (writer_first)
            timed(write_plain, plain, plain_cpu);
        writer_first = !writer_first;
    }
    state.counters["x_fwrite"] = plain > 0 && plain < 1e30 ? writer / plain : 0;
    // The same in processor time, which other work on the machine disturbs less.
    state.counters["x_fwrite_cpu"] = plain_cpu > 0 && plain_cpu < 1e30 ? writer_cpu / plain_cpu : 0;
    state.counters["target"] = 1.3;
    state.SetBytesProcessed(state.iterations() * (int64_t)bytes.size());
}

// Own format bottom up (BMP), own format top down (the TGA default), bottom
// up (TGA), and converting: 32 to 16 bits, 24 to 32, 24 to 16, 32 to 24, and
// red and blue swapped (a 24-bit image in RGB byte order written as BMP).
BENCHMARK_CAPTURE(encode, bmp24, ".bmp", 24, 0)->Arg(512)->Arg(2048)->Arg(1001)->UseManualTime();
BENCHMARK_CAPTURE(encode, tga24_top_down, ".tga", 24, 24)->Arg(512)->Arg(2048)->Arg(1001)->UseManualTime();
BENCHMARK_CAPTURE(encode, tga32_bottom_up, ".tga", 32, 0)->Arg(512)->Arg(2048)->UseManualTime();
BENCHMARK_CAPTURE(encode, bmp32_to_16, ".bmp", 32, 1)->Arg(512)->Arg(2048)->UseManualTime();
BENCHMARK_CAPTURE(encode, tga24_to_32, ".tga", 24, 4)->Arg(512)->Arg(2048)->UseManualTime();
BENCHMARK_CAPTURE(encode, tga24_to_16, ".tga", 24, 1)->Arg(512)->Arg(2048)->UseManualTime();
BENCHMARK_CAPTURE(encode, bmp32_to_24, ".bmp", 32, 2)->Arg(512)->Arg(2048)->UseManualTime();
BENCHMARK_CAPTURE(encode, bmp24_rgb_swapped, ".bmp", 24, 0, true)->Arg(512)->Arg(2048)->UseManualTime();

}  // namespace
