// Peak memory of the screensaver's load under Wine, by the size of its movie: each screensaver is started with /s
// as Windows starts it, and once the stand-in player holds the movie, the peak resident set of the run-mode copy
// is read from outside; then the movie's "quit" ends it, so that it cleans up after itself.
//
//   bench_load_memory.exe [--runtime SCR] CACHE_FOLDER [ROUNDS] [SIZES_MIB...]   (defaults: 3 rounds, 1 64 512)
//
// The screensavers are built into CACHE_FOLDER once (the 512 MiB movie at 3:1 takes a minute and more to deflate)
// and used again by later runs. Sizes run interleaved, one run after another: 1, 64, 512, 1, 64, 512, ...
// --runtime packs another build of the screensaver (an older one, to compare) instead of this build's.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "BenchItems.h"
#include "E2EProbe.h"
#include "PlayerRegistration.h"
#include "app/uContentKeys.h"
#include "forms/FileStream.h"
#include "forms/Handles.h"
#include "store/uExeAdder.h"
#include "support/uSysUtils.h"

using namespace e2e;

namespace {

const char* const Guid = "{0B7E6C4A-2F1D-4E8B-9A35-7C1D2E3F4A5B}";

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_load_memory: %s failed (error %lu)\n", what.c_str(), GetLastError());
    std::exit(1);
}

std::string KeyName(TContentKey role) {
    for (const TContentKeyInfo& key : ContentKeyTable())
        if (key.Role == role) return DecodeString(key.Enciphered);
    return {};
}

// A movie of any size, generated as it is read: an SWF signature and length, then the case's bytes.
class TGeneratedMovie : public TStream {
public:
    TGeneratedMovie(const TCase& c, int64_t size) : FGenerator(c), FSize(size) {}
    int32_t Read(void* buffer, int32_t count) override {
        const auto n = static_cast<int32_t>(std::clamp<int64_t>(FSize - FPosition, 0, count));
        auto* out = static_cast<uint8_t*>(buffer);
        FGenerator.Fill(out, static_cast<size_t>(n));
        static constexpr uint8_t Signature[4] = {'F', 'W', 'S', 10}; // an uncompressed movie of version 10
        for (int32_t i = 0; i < n && FPosition + i < 8; ++i) {
            const int64_t at = FPosition + i;
            out[i] = at < 4 ? Signature[at] : static_cast<uint8_t>(static_cast<uint64_t>(FSize) >> (8 * (at - 4)));
        }
        FPosition += n;
        return n;
    }
    int32_t Write(const void*, int32_t) override { return 0; }
    int64_t Seek64(int64_t offset, TSeekOrigin origin) override {
        if (origin == TSeekOrigin::soEnd) return FSize + offset;
        return origin == TSeekOrigin::soCurrent ? FPosition + offset : offset;
    }

private:
    TItemGenerator FGenerator;
    int64_t FSize;
    int64_t FPosition = 0;
};

std::string Runtime;
std::string RuntimeTag;

// The packed screensavers are kept per build of the runtime, told apart by its size and the time it was written.
std::string TagOf(const std::string& runtime) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(runtime.c_str(), GetFileExInfoStandard, &data)) Fail("GetFileAttributesExA");
    const uint64_t written = uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 | data.ftLastWriteTime.dwLowDateTime;
    char tag[32];
    std::snprintf(tag, sizeof tag, "%lx-%llx-", static_cast<unsigned long>(data.nFileSizeLow),
                  static_cast<unsigned long long>(written));
    return tag;
}

std::string Packed(const std::string& folder, int mib, size_t caseIndex) {
    const std::string path =
        folder + "\\load-" + RuntimeTag + std::to_string(mib) + "-" + std::to_string(caseIndex) + ".scr";
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return path;
    std::printf("building %s ...\n", path.c_str());
    std::fflush(stdout);
    const std::string partial = path + ".partial";
    {
        TFileStream out(partial, TFileMode::fmCreate);
        TFileStream runtime(Runtime, TFileMode::fmOpenRead);
        const int64_t runtimeSize = runtime.GetSize();
        out.CopyFrom(runtime, runtimeSize);
        TStoreWriter writer(out, 0x2B, runtimeSize);
        const auto text = [&](const std::string& name, const std::string& value) {
            writer.AddItem(name, value.data(), value.size(), true);
        };
        text("GUID", Guid);
        text(KeyName(TContentKey::MovieFileName), "movie.swf");
        const uint8_t layout[4] = {0, 0, 0, 0}; // one movie over the whole desktop
        writer.AddItem(KeyName(TContentKey::MonitorLayout), layout, sizeof layout, false);
        TGeneratedMovie movie(Cases[caseIndex], int64_t{mib} << 20);
        // The screensaver streams its movie to a file, so no bound for items read whole applies.
        writer.AddItem(KeyName(TContentKey::Movie), movie, true, INT64_MAX);
        writer.Finish();
    }
    if (!MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) Fail("MoveFileExA");
    return path;
}

struct TRun {
    double PeakMiB = 0;
    double Seconds = 0; // from the start to the movie in the player's hands
};

std::string FileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Wine's process memory counters do not follow the process (they keep their first values), so the peak is read
// where Linux keeps it: VmHWM, the peak resident set, through Wine's drive for the root folder. Wine gives each
// Windows process a Linux command line of its own Windows one: the processes of a screensaver are found by its
// file name (the starter and the copy it starts; the copy that loads is the larger).
double PeakResidentMiB(const std::string& screenSaver) {
    const std::string name = screenSaver.substr(screenSaver.find_last_of("\\/") + 1);
    double peak = 0;
    WIN32_FIND_DATAA entry;
    UniqueFindHandle find(FindFirstFileA("Z:\\proc\\*", &entry));
    if (!find) Fail("FindFirstFileA(Z:\\proc)");
    do {
        const std::string pid = entry.cFileName;
        if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
        if (FileText("Z:\\proc\\" + pid + "\\cmdline").find(name) == std::string::npos) continue;
        const std::string status = FileText("Z:\\proc\\" + pid + "\\status");
        const size_t at = status.find("VmHWM:");
        if (at != std::string::npos) peak = std::max(peak, std::atof(status.c_str() + at + 6) / 1024);
    } while (FindNextFileA(find.get(), &entry));
    if (peak == 0) Fail("no process of " + name + " in /proc");
    return peak;
}

TRun RunOnce(const std::string& screenSaver, const std::string& scratch) {
    const std::string record = scratch + "\\player.txt", trigger = scratch + "\\trigger.txt";
    DeleteFileA(record.c_str());
    DeleteFileA(trigger.c_str());
    const auto start = std::chrono::steady_clock::now();
    TChildProcess starter =
        TChildProcess::Start(Quoted(screenSaver) + " /s",
                             EnvironmentBlock({{"MUTONE_PLAYER_RECORD", record}, {"MUTONE_PLAYER_TRIGGER", trigger}}));
    if (!WaitUntil([&] { return !PlayerPuts(record, 102).empty(); }, 300000))
        Fail("the movie never reached the player");
    TRun run;
    run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    TChildProcess runner = RunModeCopy(starter);
    if (!runner) Fail("no run-mode copy");
    run.PeakMiB = PeakResidentMiB(screenSaver);

    const std::string staged = trigger + ".new";
    {
        TFileStream file(staged, TFileMode::fmCreate);
        file.WriteBuffer("QUIT\n\n", 6);
    }
    MoveFileA(staged.c_str(), trigger.c_str());
    if (!runner.WaitForExit(60000) || !starter.WaitForExit(60000)) Fail("the screensaver did not end");
    return run;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    Runtime = ScreenSaverPath();
    if (argc > 2 && std::string(argv[1]) == "--runtime") {
        Runtime = argv[2];
        argc -= 2;
        argv += 2;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_load_memory [--runtime SCR] CACHE_FOLDER [ROUNDS] [SIZES_MIB...]\n");
        return 2;
    }
    RuntimeTag = TagOf(Runtime);
    const std::string folder = argv[1];
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::vector<int> sizes;
    for (int i = 3; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {1, 64, 512};
    CreateDirectoryA(folder.c_str(), nullptr);
    if (!RegisterStandInPlayer(MUTONE_PLAYER_PATH)) Fail("RegisterStandInPlayer");
    TTempFolder scratch;

    std::printf("%-7s %8s %14s %14s %12s\n", "ratio", "movie", "peak (MiB)", "over 1 MiB", "to movie (s)");
    for (size_t c = 0; c < std::size(Cases); ++c) {
        std::map<int, std::vector<TRun>> runs;
        for (int mib : sizes)
            Packed(folder, mib, c);
        for (int round = 0; round < rounds; ++round)
            for (int mib : sizes)
                runs[mib].push_back(RunOnce(Packed(folder, mib, c), scratch.Path()));
        const auto peak = [&](int mib) {
            std::vector<double> values;
            for (const TRun& run : runs[mib])
                values.push_back(run.PeakMiB);
            return Median(values);
        };
        for (int mib : sizes) {
            std::vector<double> seconds, peaks;
            for (const TRun& run : runs[mib]) {
                seconds.push_back(run.Seconds);
                peaks.push_back(run.PeakMiB);
            }
            std::printf("%-7s %4d MiB %14.1f %+14.1f %12.2f   (peaks", Cases[c].Name, mib, peak(mib),
                        runs.count(1) ? peak(mib) - peak(1) : 0.0, Median(seconds));
            for (double p : peaks)
                std::printf(" %.1f", p);
            std::printf(")\n");
        }
        std::fflush(stdout);
    }
    UnregisterStandInPlayer();
    return 0;
}
