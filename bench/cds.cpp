// CDS container throughput: many small chunks, and large embedded files read
// back as sub-files, each next to a plain fread of the same container file.
// The counter x_fread is the reader's time over fread's, both timed in each
// iteration; the fastest of each is compared, since other work on the machine
// only ever adds time. Where there is a target the ratios are to stay within
// it. The machine is shared: run with --benchmark_repetitions=5
// --benchmark_report_aggregates_only=true and take the medians.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <string>
#include <vector>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "mediaman/cds/cds.h"

using namespace vantrel;

namespace {

const int small_chunks = 200000;
const int small_payload = 1024;
const int small_groups = 100;
const int big_files = 3;
const long big_size = 10L << 20;
const int block = 64 << 10;

// A small chunk: the object's name is its id, the payload a fixed block.
struct blob : groupable_t {
    char bytes[small_payload];
};

// Keeps every chunk read as a blob, or only reads its payload, or only the
// first 16 bytes of it (the reader skips the rest).
enum class use { keep, read, part };
struct blob_io : chunk_io {
    use how;
    char scratch[small_payload];
    explicit blob_io(use _how = use::keep) : chunk_io("BLOB"), how(_how) { objects.delete_elements = 1; }
    int read(cds& c, chunk_header& h) override
    {
        if (how != use::keep) {
            c.Read(scratch, how == use::read ? small_payload : 16);
            return 0;
        }
        blob* b = KD_NEW blob;
        if (!b)
            return -1;
        b->set_name(h.id);
        c.Read(b->bytes, small_payload);
        c.set_group(b);
        objects.insert(b);
        return 0;
    }
    int write(cds& c, groupable_t* o) override
    {
        long size_pos = c.write_header("BLOB", 0, o->name);
        long start = c.GetPos();
        c.Write(static_cast<blob*>(o)->bytes, small_payload);
        return c.write_size_at_pos(size_pos, start);
    }
};

void fill_small(cds& c);
void fill_big(cds& c, const std::vector<std::string>& sources);

// The source files and both containers, made once per run.
struct fixture {
    std::string dir;
    std::string small_path, big_path;
    std::vector<std::string> sources;

    fixture()
    {
        set_logfile("/dev/null");
        char templ[] = "/tmp/vantrel-bench-XXXXXX";
        dir = mkdtemp(templ);
        small_path = dir + "/small.cds";
        big_path = dir + "/big.cds";
        std::vector<char> data(block);
        for (int i = 0; i < big_files; ++i) {
            sources.push_back(dir + "/file" + std::to_string(i) + ".bin");
            FILE* f = fopen(sources.back().c_str(), "wb");
            for (long done = 0; done < big_size; done += block) {
                for (int k = 0; k < block; ++k)
                    data[k] = (char)(k * 31 + done + i);
                fwrite(data.data(), 1, block, f);
            }
            fclose(f);
        }
        cds small, big;
        fill_small(small);
        fill_big(big, sources);
        if (small.create(small_path.c_str()) < 0 || big.create(big_path.c_str()) < 0)
            fprintf(stderr, "cannot write the containers in %s\n", dir.c_str());
    }
    ~fixture()
    {
        std::string cmd = "rm -rf '" + dir + "'";
        if (system(cmd.c_str()) != 0)
            fprintf(stderr, "cannot remove %s\n", dir.c_str());
    }
};

fixture& fx()
{
    static fixture f;
    return f;
}

// 200,000 chunks of 1 KiB in a hundred groups.
void fill_small(cds& c)
{
    blob_io* io = KD_NEW blob_io;
    c.init();
    add_type(c.types, io);
    c.delete_type_objects();
    cds_group_t* groups[small_groups];
    for (int g = 0; g < small_groups; ++g)
        groups[g] = c.add_group(("group" + std::to_string(g)).c_str());
    for (int i = 0; i < small_chunks; ++i) {
        blob* b = KD_NEW blob;
        b->set_name(("chunk" + std::to_string(i)).c_str());
        memset(b->bytes, i, sizeof b->bytes);
        b->parent = groups[i % small_groups];
        io->objects.insert(b);
    }
}

void fill_big(cds& c, const std::vector<std::string>& sources)
{
    c.init();
    c.delete_type_objects();
    for (const std::string& s : sources) {
        chunk_entry_t* e = KD_NEW chunk_entry_t;
        e->set_name(s.c_str());
        c.chunk_file.objects.insert(e);
    }
}

long file_size(const std::string& path)
{
    FILE* f = fopen(path.c_str(), "rb");
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    fclose(f);
    return n;
}

// Wall and processor time of a pass, from construction to stop(): stop()
// gives the wall seconds and leaves the processor time in cpu, so that what
// runs after it (freeing what the pass made) is left out of both.
struct stopwatch {
    std::chrono::steady_clock::time_point t0 = std::chrono::steady_clock::now();
    std::clock_t c0 = std::clock();
    static inline double cpu = 0;
    double stop()
    {
        cpu = (double)(std::clock() - c0);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
};

// Reads the whole file with fread in blocks, as the baseline: seconds.
double fread_all(const std::string& path)
{
    static std::vector<char> buf(block);
    stopwatch w;
    FILE* f = fopen(path.c_str(), "rb");
    while (f && fread(buf.data(), 1, buf.size(), f) > 0)
        benchmark::DoNotOptimize(buf.data());
    if (f)
        fclose(f);
    return w.stop();
}

// Runs one timed pass of work (returning its seconds from a stopwatch, or a
// negative value on failure) per iteration next to fread of the same file,
// and reports the ratios of the fastest of each in wall and processor time.
// With own_part, a pass of it is timed in each iteration too: the part of the
// work that is not the reader's (the objects a host makes of the chunks), and
// x_fread_reader is what the work takes beyond it, over fread.
template <typename F, typename G>
void against_fread(benchmark::State& state, const std::string& path, double target, F work, G own_part)
{
    double best = 1e30, anchor = 1e30, best_cpu = 1e30, anchor_cpu = 1e30, own = 1e30;
    auto plain = [&] {
        anchor = std::min(anchor, fread_all(path));
        anchor_cpu = std::min(anchor_cpu, stopwatch::cpu);
        own = std::min(own, own_part());
    };
    bool work_first = true;
    for (auto _ : state) {
        // The order alternates: what runs first may pay for what ran before.
        if (!work_first)
            plain();
        double t = work();
        if (t < 0) {
            state.SkipWithError("read failed");
            return;
        }
        best = std::min(best, t);
        best_cpu = std::min(best_cpu, stopwatch::cpu);
        if (work_first)
            plain();
        work_first = !work_first;
        state.SetIterationTime(t);
    }
    state.counters["x_fread"] = best / anchor;
    // The same in processor time, which other work on the machine disturbs less.
    state.counters["x_fread_cpu"] = anchor_cpu > 0 ? best_cpu / anchor_cpu : 0;
    // Where the host's own part is timed, the target is for the reader's part.
    if (own > 0)
        state.counters["x_fread_reader"] = (best - own) / anchor;
    if (target > 0)
        state.counters[own > 0 ? "target_reader" : "target"] = target;
    state.SetBytesProcessed(state.iterations() * file_size(path));
}

template <typename F> void against_fread(benchmark::State& state, const std::string& path, double target, F work)
{
    against_fread(state, path, target, work, [] { return 0.0; });
}

void BM_small_chunks_write(benchmark::State& state)
{
    cds c;
    fill_small(c);
    std::string out = fx().dir + "/small_w.cds";
    for (auto _ : state)
        if (c.create(out.c_str()) < 0)
            state.SkipWithError("write failed");
    state.SetBytesProcessed(state.iterations() * file_size(out));
}
BENCHMARK(BM_small_chunks_write)->Unit(benchmark::kMillisecond)->Iterations(2);

// What keeping costs without any file: the objects blob_io makes for the
// same chunks (name, payload copied from memory, list entry): seconds.
double make_objects()
{
    static char payload[small_payload];
    stopwatch w;
    d_list objects(1);
    char name[32];
    for (int i = 0; i < small_chunks; ++i) {
        blob* b = KD_NEW blob;
        if (!b)
            return -1.0;
        snprintf(name, sizeof name, "chunk%d", i);
        b->set_name(name);
        memcpy(b->bytes, payload, small_payload);
        objects.insert(b);
    }
    benchmark::DoNotOptimize(objects.first);
    return w.stop();
}

// load of the whole container, keeping every chunk as an object, reading
// the payloads, or reading a little of each. Keeping them, the objects alone
// are timed next to it: x_fread_reader is the reader's own part, which the
// target is for.
void small_chunks_read(benchmark::State& state, use how)
{
    bool keep = how == use::keep;
    auto pass = [how, keep] {
        stopwatch w;
        cds c;
        c.init();
        blob_io* io = KD_NEW blob_io(how);
        add_type(c.types, io);
        int r = c.load(fx().small_path.c_str());
        c.delete_type_objects();
        int kept = io->objects.count;
        double t = w.stop();
        bool ok = r == 0 && c.chunk_grou.objects.count == small_groups && kept == (keep ? small_chunks : 0);
        return ok ? t : -1.0;
    };
    if (keep)
        against_fread(state, fx().small_path, 2.0, pass, make_objects);
    else
        against_fread(state, fx().small_path, 2.0, pass);
}
BENCHMARK_CAPTURE(small_chunks_read, keeping_objects, use::keep)
    ->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();
BENCHMARK_CAPTURE(small_chunks_read, reading_only, use::read)
    ->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();
BENCHMARK_CAPTURE(small_chunks_read, reading_16_bytes_of_each, use::part)
    ->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();

void BM_embedded_files_write(benchmark::State& state)
{
    cds c;
    fill_big(c, fx().sources);
    std::string out = fx().dir + "/big_w.cds";
    for (auto _ : state)
        if (c.create(out.c_str()) < 0)
            state.SkipWithError("write failed");
    state.SetBytesProcessed(state.iterations() * file_size(out));
}
BENCHMARK(BM_embedded_files_write)->Unit(benchmark::kMillisecond);

// Opens every embedded file as a sub-file and reads it in blocks.
void BM_embedded_files_read(benchmark::State& state)
{
    cds c;
    c.init();
    int r = c.load(fx().big_path.c_str());
    c.delete_type_objects();
    if (r < 0) {
        state.SkipWithError("load failed");
        return;
    }
    std::vector<char> buf(block);
    against_fread(state, fx().big_path, 1.1, [&] {
        stopwatch w;
        for (d_node* n = c.chunk_file.objects.first; n; n = n->next) {
            CFile f;
            if (c.open_file(f, static_cast<chunk_entry_t*>(n->object)->name) < 0)
                return -1.0;
            for (long left = f.GetSize(); left > 0; left -= block)
                f.Read(buf.data(), left < block ? (int)left : block);
            benchmark::DoNotOptimize(buf.data());
        }
        return w.stop();
    });
}
BENCHMARK(BM_embedded_files_read)->Unit(benchmark::kMillisecond)->Iterations(10)->UseManualTime();

}  // namespace
