// Reading a large item from the content store, whole and streamed, against zlib's own one-call inflate of the same
// payload, and the buffer inflater's growth of its output block against the fixed-step growth it replaced.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <zlib.h>

#include "BenchItems.h"
#include "PEBuilder.h"
#include "store/ZLibEx.h"
#include "store/uExeAdder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_store: %s\n", what.c_str());
    std::exit(1);
}

uint32_t GetUInt32(const Bytes& bytes, size_t at) {
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
           uint32_t{bytes[at + 3]} << 24;
}

struct TBenchData {
    Bytes Original;
    Bytes Compressed; // the item's payload exactly as the store carries it
    std::string StoreFile;
    double Ratio() const { return static_cast<double>(Original.size()) / static_cast<double>(Compressed.size()); }
};

const TTempDir& BenchDir() {
    static TTempDir dir;
    return dir;
}

// Built on first use and kept for the whole run: an executable image with a store of one item behind it.
const TBenchData& Data(int64_t index) {
    static TBenchData data[std::size(Cases)];
    TBenchData& d = data[index];
    if (!d.StoreFile.empty()) return d;

    d.Original = MakeItem(Cases[index]);
    const std::string name = "movie";
    Bytes file = BuildSimplePEImage();
    const size_t imageSize = file.size();
    const Bytes store = BuildStore({{name, d.Original, true}}, 0x5A, static_cast<int64_t>(imageSize));
    file.insert(file.end(), store.begin(), store.end());
    // TotalSize, TrailerFlag, NameKey, ItemCount, the name, its flag, then the stored size and the payload.
    const size_t sizeAt = imageSize + 4 + 1 + 4 + 4 + 4 + name.size() + 1;
    const size_t storedSize = GetUInt32(file, sizeAt);
    d.Compressed.assign(file.begin() + static_cast<ptrdiff_t>(sizeAt + 4),
                        file.begin() + static_cast<ptrdiff_t>(sizeAt + 4 + storedSize));
    d.StoreFile = BenchDir().File(std::string("store-") + std::to_string(index) + ".scr");
    WriteFileBytes(d.StoreFile, file);

    TItemTypes items;
    ReadExeItems(d.StoreFile, items);
    if (items.size() != 1 || items[0].StoredSize != static_cast<int32_t>(d.Compressed.size()) ||
        items[0].Size != static_cast<int32_t>(ItemSize) || std::memcmp(items[0].Data, d.Original.data(), ItemSize) != 0)
        Fail("the store does not read back as written");
    FreeExeItems(items);
    return d;
}

// zlib's one-call inflate into a block allocated at the known size, as a caller that knew the size would do.
void Uncompress(const TBenchData& d) {
    void* block = std::malloc(ItemSize);
    uLongf size = ItemSize;
    if (!block ||
        uncompress(static_cast<Bytef*>(block), &size, d.Compressed.data(), static_cast<uLong>(d.Compressed.size())) !=
            Z_OK ||
        size != ItemSize)
        Fail("uncompress failed");
    benchmark::DoNotOptimize(block);
    std::free(block);
}

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

void SetCommonCounters(benchmark::State& state, const TBenchData& d) {
    state.SetLabel(Cases[state.range(0)].Name);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(ItemSize));
    state.counters["ratio"] = d.Ratio();
}

// CPU time of this thread, user and system: reading the file is part of what the reader costs.
double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs read and zlib's uncompress of the same payload as a pair in every iteration, in alternating order, so
// that both see the same state of the machine (other builds, the CPU's clock) and neither always goes first.
// Counters: cpu_vs_uncompress, the median over the pairs of read CPU time / uncompress CPU time; cpu_sum_ratio,
// the ratio of the sums; vs_uncompress, the ratio of the wall times.
template <typename Read> void PairedWithUncompress(benchmark::State& state, const TBenchData& d, Read read) {
    std::vector<double> ratios;
    double readCpu = 0, refCpu = 0, readWall = 0, refWall = 0;
    bool readFirst = true;
    for (auto _ : state) {
        double pair[2] = {}; // read, reference
        for (int turn = 0; turn < 2; ++turn) {
            const bool reading = (turn == 0) == readFirst;
            if (!reading) state.PauseTiming();
            const auto wallStart = Clock::now();
            const double cpuStart = ThreadCpuSeconds();
            if (reading)
                read();
            else
                Uncompress(d);
            const double cpu = ThreadCpuSeconds() - cpuStart;
            (reading ? readWall : refWall) += Seconds(wallStart, Clock::now());
            pair[reading ? 0 : 1] = cpu;
            if (!reading) state.ResumeTiming();
        }
        readFirst = !readFirst;
        readCpu += pair[0];
        refCpu += pair[1];
        ratios.push_back(pair[0] / pair[1]);
    }
    SetCommonCounters(state, d);
    state.counters["cpu_vs_uncompress"] = Median(ratios);
    state.counters["cpu_sum_ratio"] = readCpu / refCpu;
    state.counters["vs_uncompress"] = readWall / refWall;
}

void BM_ReadExeItems(benchmark::State& state) {
    const TBenchData& d = Data(state.range(0));
    TItemTypes items;
    PairedWithUncompress(state, d, [&] {
        ReadExeItems(d.StoreFile, items);
        benchmark::DoNotOptimize(items[0].Data);
        FreeExeItems(items);
    });
}

// Takes what it is given and keeps nothing, as a file would once written.
class TNullStream : public TStream {
public:
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void* buffer, int32_t count) override {
        benchmark::DoNotOptimize(buffer);
        return count;
    }
    int64_t Seek64(int64_t, TSeekOrigin) override { return 0; }
};

// The item streamed from the store, as the screensaver writes its movie: the same CPU as inflating into memory,
// without the memory.
void BM_StreamItem(benchmark::State& state) {
    const TBenchData& d = Data(state.range(0));
    PairedWithUncompress(state, d, [&] {
        TFileReadStream file(d.StoreFile);
        TStoreReader reader(file);
        TStoreRecord record;
        reader.Next(record);
        TNullStream sink;
        if (reader.CopyData(record, sink) != static_cast<int64_t>(ItemSize)) Fail("the streamed item is short");
    });
}

void BM_Uncompress(benchmark::State& state) {
    const TBenchData& d = Data(state.range(0));
    for (auto _ : state)
        Uncompress(d);
    SetCommonCounters(state, d);
}

void BM_InflateBuffer(benchmark::State& state) {
    const TBenchData& d = Data(state.range(0));
    for (auto _ : state) {
        void* out = nullptr;
        int32_t size = 0;
        InflateBuffer(d.Compressed.data(), static_cast<int32_t>(d.Compressed.size()), out, size, 0);
        if (size != static_cast<int32_t>(ItemSize)) Fail("InflateBuffer gave the wrong size");
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
    SetCommonCounters(state, d);
}

enum class TGrowth { FixedStep, Doubling };

struct TGrowthStats {
    int Steps = 0;
    double MovedBytes = 0; // what an allocator that cannot grow a block in place copies
};

// The buffer inflater with a choice of growth: the old fixed step (the compressed size rounded up to 256 bytes)
// or doubling. With copy set, every growth allocates a new block and copies, as the Win32 heap does for large
// blocks; realloc on glibc remaps the pages of large blocks instead, which hides most of the cost.
size_t InflateGrowing(const Bytes& in, TGrowth growth, bool copy, TGrowthStats& stats) {
    const size_t delta = (in.size() + 255) / 256 * 256;
    size_t capacity = delta;
    uint8_t* block = static_cast<uint8_t*>(std::malloc(capacity));
    z_stream z{};
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = block;
    z.avail_out = static_cast<uInt>(capacity);
    if (!block || inflateInit(&z) != Z_OK) Fail("inflateInit failed");
    int result;
    while ((result = inflate(&z, Z_NO_FLUSH)) != Z_STREAM_END) {
        if (result != Z_OK) Fail("inflate failed");
        const size_t produced = capacity - z.avail_out;
        const size_t grown = growth == TGrowth::FixedStep ? capacity + delta : capacity * 2;
        uint8_t* bigger;
        if (copy) {
            bigger = static_cast<uint8_t*>(std::malloc(grown));
            if (bigger) std::memcpy(bigger, block, produced);
            std::free(block);
        } else {
            bigger = static_cast<uint8_t*>(std::realloc(block, grown));
        }
        if (!bigger) Fail("out of memory");
        block = bigger;
        ++stats.Steps;
        stats.MovedBytes += static_cast<double>(produced);
        z.next_out = block + produced;
        z.avail_out = static_cast<uInt>(grown - produced);
        capacity = grown;
    }
    const size_t total = z.total_out;
    inflateEnd(&z);
    benchmark::DoNotOptimize(block);
    std::free(block);
    return total;
}

void RunGrowing(benchmark::State& state, TGrowth growth, bool copy) {
    const TBenchData& d = Data(state.range(0));
    TGrowthStats stats;
    for (auto _ : state) {
        stats = {};
        if (InflateGrowing(d.Compressed, growth, copy, stats) != ItemSize) Fail("wrong inflated size");
    }
    SetCommonCounters(state, d);
    state.counters["growth_steps"] = stats.Steps;
    if (copy) state.counters["moved_MiB"] = stats.MovedBytes / (1 << 20);
}

void BM_InflateFixedStep(benchmark::State& state) {
    RunGrowing(state, TGrowth::FixedStep, false);
}
void BM_InflateFixedStepCopying(benchmark::State& state) {
    RunGrowing(state, TGrowth::FixedStep, true);
}
void BM_InflateDoubling(benchmark::State& state) {
    RunGrowing(state, TGrowth::Doubling, false);
}
void BM_InflateDoublingCopying(benchmark::State& state) {
    RunGrowing(state, TGrowth::Doubling, true);
}

#define MUTONE_BENCH(fn) BENCHMARK(fn)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)
MUTONE_BENCH(BM_ReadExeItems);
MUTONE_BENCH(BM_StreamItem);
MUTONE_BENCH(BM_Uncompress);
MUTONE_BENCH(BM_InflateBuffer);
MUTONE_BENCH(BM_InflateFixedStep);
MUTONE_BENCH(BM_InflateFixedStepCopying);
MUTONE_BENCH(BM_InflateDoubling);
MUTONE_BENCH(BM_InflateDoublingCopying);

} // namespace

BENCHMARK_MAIN();
