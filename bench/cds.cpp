// CDS container throughput: many small chunks, and large embedded files read
// back as sub-files, each next to a plain fread of the same container file.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "mediaman/cds/cds.h"

using namespace vantrel;

namespace {

const int small_chunks = 10000;
const int small_payload = 32;
const int big_files = 3;
const long big_size = 10L << 20;
const int block = 64 << 10;

// A small chunk: the object's name is its id, the payload a fixed block.
struct blob : groupable_t {
    char bytes[small_payload];
};

struct blob_io : chunk_io {
    blob_io() : chunk_io("BLOB") { objects.delete_elements = 1; }
    int read(cds& c, chunk_header& h) override
    {
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

// 10,000 small chunks in ten groups.
void fill_small(cds& c)
{
    blob_io* io = KD_NEW blob_io;
    c.init();
    add_type(c.types, io);
    c.delete_type_objects();
    cds_group_t* groups[10];
    for (int g = 0; g < 10; ++g)
        groups[g] = c.add_group(("group" + std::to_string(g)).c_str());
    for (int i = 0; i < small_chunks; ++i) {
        blob* b = KD_NEW blob;
        b->set_name(("chunk" + std::to_string(i)).c_str());
        memset(b->bytes, i, sizeof b->bytes);
        b->parent = groups[i % 10];
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

// Reads the whole file with fread in blocks, as the baseline.
void fread_all(benchmark::State& state, const std::string& path)
{
    std::vector<char> buf(block);
    for (auto _ : state) {
        FILE* f = fopen(path.c_str(), "rb");
        size_t n;
        while ((n = fread(buf.data(), 1, buf.size(), f)) > 0)
            benchmark::DoNotOptimize(buf.data());
        fclose(f);
    }
    state.SetBytesProcessed(state.iterations() * file_size(path));
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
BENCHMARK(BM_small_chunks_write)->Unit(benchmark::kMillisecond);

void BM_small_chunks_read(benchmark::State& state)
{
    for (auto _ : state) {
        cds c;
        c.init();
        add_type(c.types, KD_NEW blob_io);
        int r = c.load(fx().small_path.c_str());
        c.delete_type_objects();
        if (r < 0 || c.types[3]->objects.count != small_chunks)
            state.SkipWithError("read failed");
    }
    state.SetBytesProcessed(state.iterations() * file_size(fx().small_path));
}
BENCHMARK(BM_small_chunks_read)->Unit(benchmark::kMillisecond);

void BM_small_chunks_fread(benchmark::State& state)
{
    fread_all(state, fx().small_path);
}
BENCHMARK(BM_small_chunks_fread)->Unit(benchmark::kMillisecond);

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
    for (auto _ : state) {
        for (d_node* n = c.chunk_file.objects.first; n; n = n->next) {
            CFile f;
            if (c.open_file(f, static_cast<chunk_entry_t*>(n->object)->name) < 0) {
                state.SkipWithError("open_file failed");
                return;
            }
            for (long left = f.GetSize(); left > 0; left -= block)
                f.Read(buf.data(), left < block ? (int)left : block);
            benchmark::DoNotOptimize(buf.data());
        }
    }
    state.SetBytesProcessed(state.iterations() * big_files * big_size);
}
BENCHMARK(BM_embedded_files_read)->Unit(benchmark::kMillisecond);

void BM_embedded_files_fread(benchmark::State& state)
{
    fread_all(state, fx().big_path);
}
BENCHMARK(BM_embedded_files_fread)->Unit(benchmark::kMillisecond);

}  // namespace
