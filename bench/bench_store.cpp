// Reading a large item from the content store, against zlib's own one-call inflate of the same payload, and the
// buffer inflater's growth of its output block against the fixed-step growth it replaced.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

void BM_ReadExeItems(benchmark::State& state) {
    const TBenchData& d = Data(state.range(0));
    double readSeconds = 0, uncompressSeconds = 0;
    TItemTypes items;
    for (auto _ : state) {
        const auto start = Clock::now();
        ReadExeItems(d.StoreFile, items);
        benchmark::DoNotOptimize(items[0].Data);
        FreeExeItems(items);
        readSeconds += Seconds(start, Clock::now());

        // The reference runs in the same iteration, so both see the same state of the machine.
        state.PauseTiming();
        const auto refStart = Clock::now();
        Uncompress(d);
        uncompressSeconds += Seconds(refStart, Clock::now());
        state.ResumeTiming();
    }
    SetCommonCounters(state, d);
    state.counters["vs_uncompress"] = readSeconds / uncompressSeconds;
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
MUTONE_BENCH(BM_Uncompress);
MUTONE_BENCH(BM_InflateBuffer);
MUTONE_BENCH(BM_InflateFixedStep);
MUTONE_BENCH(BM_InflateFixedStepCopying);
MUTONE_BENCH(BM_InflateDoubling);
MUTONE_BENCH(BM_InflateDoublingCopying);

} // namespace

BENCHMARK_MAIN();
