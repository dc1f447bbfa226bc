// mutone-pack build of a 64 MiB movie, against zlib's own one-call compress2 of the same bytes at the same level.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <zlib.h>

#include "BenchItems.h"
#include "PEBuilder.h"
#include "SWFBuilder.h"
#include "store/uExeAdder.h"
#include "uPackCommands.h"

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_pack: %s\n", what.c_str());
    std::exit(1);
}

const TTempDir& BenchDir() {
    static TTempDir dir;
    return dir;
}

struct TBenchData {
    std::vector<uint8_t> Movie; // the file's bytes: an SWF header, then the generated item
    std::string MovieFile, Runtime;
};

// Written on first use and kept for the whole run.
const TBenchData& Data(int64_t index) {
    static TBenchData data[std::size(Cases)];
    TBenchData& d = data[index];
    if (!d.MovieFile.empty()) return d;
    d.Movie = BuildSWF(SimpleMovie(550, 400, 0, false));
    const std::vector<uint8_t> body = MakeItem(Cases[index], ItemSize - d.Movie.size());
    d.Movie.insert(d.Movie.end(), body.begin(), body.end());
    d.MovieFile = BenchDir().File("movie-" + std::to_string(index) + ".swf");
    WriteFileBytes(d.MovieFile, d.Movie);
    d.Runtime = BenchDir().File("runtime.exe");
    WriteFileBytes(d.Runtime, BuildSimplePEImage());
    return d;
}

void Build(const TBenchData& d, bool givenId) {
    std::vector<std::string> args = {"build", d.MovieFile, "-o", BenchDir().File("out.scr"), "--runtime", d.Runtime};
    if (givenId) args.insert(args.end(), {"--set", "id={2F5A0C1E-7B3D-4E8A-9C61-0D4B8E2A7F35}"});
    std::ostringstream out, err;
    if (RunPack(args, out, err) != 0) Fail(err.str());
}

// zlib's one call into a block of compressBound bytes, left uninitialised as a caller would leave it.
size_t Compress2(const TBenchData& d) {
    uLongf size = compressBound(static_cast<uLong>(d.Movie.size()));
    std::unique_ptr<uint8_t[]> out(new uint8_t[size]);
    if (compress2(out.get(), &size, d.Movie.data(), static_cast<uLong>(d.Movie.size()), StoreCompressionLevel) != Z_OK)
        Fail("compress2 failed");
    benchmark::DoNotOptimize(out.get());
    return size;
}

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

void SetCounters(benchmark::State& state, const TBenchData& d, size_t compressed) {
    state.SetLabel(Cases[state.range(0)].Name);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(d.Movie.size()));
    state.counters["ratio"] = static_cast<double>(d.Movie.size()) / static_cast<double>(compressed);
}

// The whole command: reading the manifest (a movie alone here), checking the movie, deriving the identifier
// from the content (a pass over the movie of its own, unless the identifier is given: range(1)), reading the
// runtime, deflating the movie from its file into a new file and renaming it.
void BM_Build(benchmark::State& state) {
    const TBenchData& d = Data(state.range(0));
    const bool givenId = state.range(1) != 0;
    double buildSeconds = 0, compressSeconds = 0;
    size_t compressed = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        Build(d, givenId);
        buildSeconds += Seconds(start, Clock::now());

        // The reference runs in the same iteration, so both see the same state of the machine.
        state.PauseTiming();
        const auto refStart = Clock::now();
        compressed = Compress2(d);
        compressSeconds += Seconds(refStart, Clock::now());
        state.ResumeTiming();
    }
    SetCounters(state, d, compressed);
    if (givenId) state.SetLabel(std::string(Cases[state.range(0)].Name) + ", id given");
    state.counters["vs_compress2"] = buildSeconds / compressSeconds;
}

void BM_Compress2(benchmark::State& state) {
    const TBenchData& d = Data(state.range(0));
    size_t compressed = 0;
    for (auto _ : state)
        compressed = Compress2(d);
    SetCounters(state, d, compressed);
}

BENCHMARK(BM_Build)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Compress2)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
