// The start-up benchmark: how long the screensaver takes from "/s" until its movie is assigned, against a floor of
// the same two process starts that show only a full-screen window (StartupFloor), under the same Wine and display.
//
//   startup_bench [--pairs N] [--trace] [--screensaver PATH] [--floor PATH]
//
// Both programs are started with /s and write to the record file named by MUTONE_PLAYER_RECORD: the stand-in
// player writes "put 102 ..." when a control is given its movie, the floor writes "ready". A run ends, for the
// measurement, when the record holds a movie line for every monitor (the packed content places one control on
// each) or the floor's line. The player records nothing else (MUTONE_PLAYER_RECORD_ONLY), so that the screensaver
// pays for one line per control as the floor pays for its one. The pairs are interleaved, their order alternating,
// so that a drift of the machine reaches both alike; every process is then ended and whatever it left in the
// temporary directory removed. --trace has the player record everything and prints, for every screensaver run,
// when each kind of record line first appeared (the record's writes then count in the times). --screensaver and --floor
// measure other builds (an older screensaver, a floor that imports more) instead of the ones built beside this.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "PEBuilder.h"
#include "PlayerRegistration.h"
#include "SWFBuilder.h"
#include "app/uContentKeys.h"
#include "store/uExeAdder.h"
#include "support/uSysUtils.h"

namespace {

const char* const ContentGuid = "{0B5E3C1D-7A24-4E8F-9C61-2F3A4B5C6D7E}";
constexpr DWORD RunDeadlineMs = 20000;

std::string KeyName(TContentKey role) {
    for (const TContentKeyInfo& key : ContentKeyTable())
        if (key.Role == role) return DecodeString(key.Enciphered);
    return {};
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return value;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string TempDirectory() {
    char path[MAX_PATH];
    GetTempPathA(MAX_PATH, path);
    return path;
}

std::string ReadWholeFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    return text;
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    if (written != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        ExitProcess(1);
    }
}

void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

struct TRun {
    double Ms = 0;
    std::vector<std::pair<std::string, double>> Firsts; // each kind of record line and when it first appeared
};

BOOL CALLBACK CountMonitor(HMONITOR, HDC, LPRECT, LPARAM count) {
    ++*reinterpret_cast<size_t*>(count);
    return TRUE;
}

class TBench {
public:
    TBench(const std::string& screenSaver, const std::string& floor, bool trace) : FFloor(floor) {
        FFolder = TempDirectory() + "mutone-startup-bench";
        RemoveTree(FFolder);
        CreateDirectoryA(FFolder.c_str(), nullptr);
        FRecord = FFolder + "\\record.txt";
        FScreenSaver = FFolder + "\\Bench.scr";
        EnumDisplayMonitors(nullptr, nullptr, CountMonitor, reinterpret_cast<LPARAM>(&FMonitors));

        // One small movie on every monitor, as content usually asks on a multi-monitor desktop.
        const std::vector<TStoreItem> items = {
            {"GUID", Bytes(ContentGuid), true},
            {KeyName(TContentKey::MovieFileName), Bytes("bench.swf"), true},
            {KeyName(TContentKey::MonitorLayout), {2, 0, 0, 0}, false},
            {KeyName(TContentKey::Movie), BuildSWF(SimpleMovie(550, 400, 0x0000FF, false)), true},
        };
        std::vector<uint8_t> file = ReadFileBytes(screenSaver);
        const std::vector<uint8_t> store = BuildStore(items, 0x5A, static_cast<int64_t>(file.size()));
        file.insert(file.end(), store.begin(), store.end());
        WriteWholeFile(FScreenSaver, file);
        SetEnvironmentVariableA("MUTONE_PLAYER_RECORD", FRecord.c_str());
        SetEnvironmentVariableA("MUTONE_PLAYER_RECORD_ONLY", trace ? nullptr : "put 102");
    }
    ~TBench() { RemoveTree(FFolder); }

    TRun Floor() { return Run(FFloor, "ready", 1); }
    TRun ScreenSaver() { return Run(FScreenSaver, "put 102", FMonitors); }
    size_t Monitors() const { return FMonitors; }

private:
    TRun Run(const std::string& program, const std::string& event, size_t count) {
        DeleteFileA(FRecord.c_str());
        std::string commandLine = "\"" + program + "\" /s";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        TRun run;
        const double start = NowMs();
        if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process)) {
            std::fprintf(stderr, "cannot start %s\n", program.c_str());
            ExitProcess(1);
        }
        std::set<std::string> seen;
        std::set<DWORD> pids;
        size_t reached = 0;
        while (reached < count) {
            const double now = NowMs();
            if (now - start > RunDeadlineMs) {
                std::fprintf(stderr, "%s did not reach \"%s\" within %lu ms\n", program.c_str(), event.c_str(),
                             RunDeadlineMs);
                ExitProcess(1);
            }
            reached = 0;
            for (const std::string& line : Lines(ReadWholeFile(FRecord))) {
                const size_t space = line.find(' ');
                if (space == std::string::npos) continue;
                pids.insert(std::strtoul(line.c_str(), nullptr, 10));
                std::string rest = line.substr(space + 1);
                if (rest.compare(0, event.size(), event) == 0) ++reached;
                // "put 102", "call 28", "msg 0x0113": the event with its identifier; other events alone.
                std::string kind = rest.substr(0, rest.find(' '));
                if (kind == "put" || kind == "call" || kind == "msg")
                    kind = rest.substr(0, rest.find(' ', kind.size() + 1));
                if (seen.insert(kind).second) run.Firsts.emplace_back(kind, now - start);
            }
            if (reached < count) Sleep(1);
        }
        run.Ms = NowMs() - start;

        // Ended at once: a window that covers the screen takes Wine seconds to withdraw on a clean exit.
        for (DWORD pid : pids) {
            HANDLE child = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
            if (!child) continue;
            TerminateProcess(child, 0);
            WaitForSingleObject(child, 5000);
            CloseHandle(child);
        }
        if (WaitForSingleObject(process.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 0);
        WaitForSingleObject(process.hProcess, 5000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        RemoveTree(TempDirectory() + ContentGuid);
        SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, FALSE, nullptr, 0);
        return run;
    }

    std::string FFloor, FFolder, FRecord, FScreenSaver;
    size_t FMonitors = 0;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    int pairs = 22;
    bool trace = false;
    std::string floorPath = MUTONE_FLOOR_PATH;
    std::string screenSaverPath = MUTONE_SCREENSAVER_PATH;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--pairs") == 0 && i + 1 < argc)
            pairs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--floor") == 0 && i + 1 < argc)
            floorPath = argv[++i];
        else if (std::strcmp(argv[i], "--screensaver") == 0 && i + 1 < argc)
            screenSaverPath = argv[++i];
        else if (std::strcmp(argv[i], "--trace") == 0)
            trace = true;
        else {
            std::fprintf(stderr, "usage: startup_bench [--pairs N] [--trace] [--screensaver PATH] [--floor PATH]\n");
            return 2;
        }
    }
    if (!RegisterStandInPlayer(MUTONE_PLAYER_PATH)) {
        std::fprintf(stderr, "cannot register the stand-in player\n");
        return 1;
    }
    {
        TBench bench(screenSaverPath, floorPath, trace);
        std::printf("%d pairs, %zu monitor(s), one movie control on each\n", pairs, bench.Monitors());
        // Neither program's first start, with its cold caches, is measured.
        bench.Floor();
        bench.ScreenSaver();
        std::vector<double> floors, screenSavers, ratios;
        for (int pair = 0; pair < pairs; ++pair) {
            TRun floor, screenSaver;
            if (pair % 2 == 0) {
                floor = bench.Floor();
                screenSaver = bench.ScreenSaver();
            } else {
                screenSaver = bench.ScreenSaver();
                floor = bench.Floor();
            }
            floors.push_back(floor.Ms);
            screenSavers.push_back(screenSaver.Ms);
            ratios.push_back(screenSaver.Ms / floor.Ms);
            std::printf("pair %2d: floor %6.1f ms, screensaver %6.1f ms, ratio %.2f\n", pair + 1, floor.Ms,
                        screenSaver.Ms, ratios.back());
            if (trace)
                for (const auto& [kind, ms] : screenSaver.Firsts)
                    std::printf("           %6.1f ms  %s\n", ms, kind.c_str());
            std::fflush(stdout);
        }
        std::printf("median: floor %.1f ms, screensaver %.1f ms; median ratio of the pairs %.2f\n", Median(floors),
                    Median(screenSavers), Median(ratios));
    }
    UnregisterStandInPlayer();
    return 0;
}
