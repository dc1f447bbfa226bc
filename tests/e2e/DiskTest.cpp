// A run's files on a small temporary volume (tests/e2e/in-prefix.sh --small-temp 256m): content that declares a
// movie far larger than the volume stops writing where the volume keeps its margin, leaves nothing and runs as a
// black screensaver without a movie; a large movie that fits still plays, and one during which the disk fills up
// leaves nothing either.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "E2EContent.h"
#include "E2EProbe.h"
#include "PEBuilder.h"
#include "SWFBuilder.h"
#include "app/uContentKeys.h"
#include "app/uWriteBudget.h"
#include "forms/FileStream.h"
#include "store/uExeAdder.h"
#include "support/uSysUtils.h"

using namespace e2e;

namespace {

constexpr int64_t MiB = int64_t{1} << 20;
// Names the run's folder in the temporary directory.
const char* const Guid = "{5B2D4F6A-8C0E-4A1B-9D3F-7E5C1A9B0D2E}";

std::string TempPath(const std::string& name) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return temp + name;
}

// A movie header followed by zeros up to size: what a store declares, made as it is read instead of held.
class TPaddedMovie : public TStream {
public:
    explicit TPaddedMovie(int64_t size) : FHeader(BuildSWF(SimpleMovie(320, 240, 0x0000FF, false))), FSize(size) {}
    int32_t Read(void* buffer, int32_t count) override {
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(count, FSize - FPosition));
        auto* out = static_cast<uint8_t*>(buffer);
        std::memset(out, 0, static_cast<size_t>(n));
        for (int32_t i = 0; i < n && FPosition + i < static_cast<int64_t>(FHeader.size()); ++i)
            out[i] = FHeader[static_cast<size_t>(FPosition + i)];
        FPosition += n;
        return n;
    }
    int32_t Write(const void*, int32_t) override { return 0; }
    int64_t Seek64(int64_t offset, TSeekOrigin origin) override {
        FPosition = origin == TSeekOrigin::soBeginning ? offset
                    : origin == TSeekOrigin::soEnd     ? FSize + offset
                                                       : FPosition + offset;
        return FPosition;
    }

private:
    std::vector<uint8_t> FHeader;
    int64_t FSize, FPosition = 0;
};

TVolumeSpace TempSpace() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    ULARGE_INTEGER available{}, total{};
    GetDiskFreeSpaceExA(temp, &available, &total, nullptr);
    return {static_cast<int64_t>(available.QuadPart), static_cast<int64_t>(total.QuadPart)};
}

class E2ESmallDisk : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ParkCursor());
        ASSERT_LT(TempSpace().Total, 1024 * MiB) << "the temporary directory is not on the test's small volume";
    }

    // The screensaver with a movie of movieSize bytes, compressed as the tool stores a streamed file.
    void Pack(int64_t movieSize) {
        const std::vector<uint8_t> base = ReadFileBytes(ScreenSaverPath());
        TFileStream out(FScreenSaver, TFileMode::fmCreate);
        out.WriteBuffer(base.data(), static_cast<int32_t>(base.size()));
        TStoreWriter writer(out, 0x5A, static_cast<int64_t>(base.size()));
        writer.AddItem("GUID", Guid, std::strlen(Guid), true);
        TPaddedMovie movie(movieSize);
        writer.AddItem(ContentKey(TContentKey::Movie), movie, true, INT64_MAX);
        writer.Finish();
    }

    // Starts the run, watching the volume's free space until the movies are assigned; returns the least seen.
    int64_t StartAndWatch() {
        std::atomic<bool> done{false};
        std::atomic<int64_t> least{TempSpace().Free};
        std::thread watcher([&] {
            while (!done) {
                least = std::min<int64_t>(least, TempSpace().Free);
                Sleep(0);
            }
        });
        FRunner =
            TChildProcess::Start(Quoted(FScreenSaver) + " /e", EnvironmentBlock({{"MUTONE_PLAYER_RECORD", FRecord}}));
        const bool assigned = WaitUntil([&] { return !PlayerPuts(FRecord, 102).empty(); }, StartDeadlineMs * 2);
        done = true;
        watcher.join();
        EXPECT_TRUE(assigned) << "the movie was never assigned";
        return least;
    }

    // Input ends the run; afterwards the temporary directory is as it was.
    void EndAndCompare(const std::set<std::string>& before) {
        MouseButton(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
        ASSERT_TRUE(FRunner.WaitForExit());
        EXPECT_EQ(FRunner.ExitCode(), 0u);
        EXPECT_EQ(TempTree(Ours()), before);
    }
    std::string Ours() const { return FFolder.Path().substr(0, FFolder.Path().size() - 1); }

    TScreenSaverFlagReset FFlag;
    TTempFolder FFolder;
    std::string FScreenSaver = FFolder.Path() + "Big.scr";
    std::string FRecord = FFolder.Path() + "player.txt";
    TChildProcess FRunner;
};

TEST_F(E2ESmallDisk, AMovieLargerThanTheVolumeStopsAtTheMarginLeavesNothingAndRunsBlack) {
    const TVolumeSpace volume = TempSpace();
    Pack(volume.Total * 2);
    ASSERT_LT(
        GetFileSize(CreateFileA(FScreenSaver.c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr), nullptr),
        static_cast<DWORD>(volume.Total / 100))
        << "the bomb is not small";
    const std::set<std::string> before = TempTree(Ours());
    const int64_t freeBefore = TempSpace().Free;

    const int64_t least = StartAndWatch();
    const int64_t margin = FreeSpaceMargin(volume.Total);
    EXPECT_GE(least, margin - 64 * 1024) << "the run wrote into the margin of " << margin;
    EXPECT_LT(least, freeBefore - (freeBefore - margin) / 2) << "the run did not write at all: the test shows nothing";
    // As without a movie: nothing to play, nothing of the movie left while it runs, black and still running.
    EXPECT_EQ(PlayerPuts(FRecord, 102), std::vector<std::string>{"bstr "});
    EXPECT_GE(TempSpace().Free, freeBefore - MiB);
    for (const std::string& entry : TempTree(Ours()))
        EXPECT_EQ(entry.find(".swf"), std::string::npos) << entry;
    ASSERT_TRUE(FRunner.StaysUp());
    const RECT desk = VirtualScreen();
    EXPECT_TRUE(WaitUntil(
        [&] { return ScreenPixel((desk.left + desk.right) / 2, (desk.top + desk.bottom) / 2) == Black; }, 5000));
    EndAndCompare(before);
}

TEST_F(E2ESmallDisk, ALargeMovieThatFitsPlays) {
    const TVolumeSpace volume = TempSpace();
    const int64_t size = (volume.Free - FreeSpaceMargin(volume.Total)) / 2;
    Pack(size);
    const std::set<std::string> before = TempTree(Ours());
    StartAndWatch();
    const std::vector<std::string> puts = PlayerPuts(FRecord, 102);
    ASSERT_EQ(puts.size(), 1u);
    const std::string path = ShellPathOfUrl(puts[0].substr(5));
    ASSERT_NE(path, "") << puts[0];
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) << path;
    EXPECT_EQ((int64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow, size);
    EndAndCompare(before);
}

TEST_F(E2ESmallDisk, ADiskThatFillsUpWhileTheMovieIsWrittenLeavesNothing) {
    const TVolumeSpace volume = TempSpace();
    // It would fit; another program takes all the room left once 8 MiB of it are written (tests/e2e/in-prefix.sh).
    Pack((volume.Free - FreeSpaceMargin(volume.Total)) / 2);
    const std::set<std::string> before = TempTree(Ours());
    const std::string filler = TempPath("mutone-filler"), filled = TempPath("mutone-filled"),
                      request = TempPath("mutone-fill-when");
    WriteFileBytes(request, std::vector<uint8_t>(Guid, Guid + std::strlen(Guid)));
    StartAndWatch();
    const bool filledUp =
        WaitUntil([&] { return GetFileAttributesA(filled.c_str()) != INVALID_FILE_ATTRIBUTES; }, 2000);
    EXPECT_EQ(PlayerPuts(FRecord, 102), std::vector<std::string>{"bstr "});
    for (const std::string& entry : TempTree(Ours()))
        EXPECT_EQ(entry.find(".swf"), std::string::npos) << entry;
    ASSERT_TRUE(FRunner.StaysUp());
    for (const std::string& file : {request, filler, filled})
        DeleteFileA(file.c_str());
    ASSERT_TRUE(filledUp) << "the disk was never filled: the test shows nothing";
    EndAndCompare(before);
}

} // namespace
