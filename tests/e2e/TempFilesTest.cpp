// The run's files when runs are killed part-way, as a crash, a power cut or a forced log-off would: after any
// number of killed runs and one clean run, nothing of the killed runs is left in the temporary directory and
// nothing that was there before has changed.
#include <gtest/gtest.h>

#include "E2EContent.h"
#include "E2EProbe.h"
#include "PEBuilder.h"
#include "SWFBuilder.h"
#include "app/uContentKeys.h"
#include "store/uExeAdder.h"
#include "support/uSysUtils.h"

using namespace e2e;

namespace {

class E2ETempFiles : public ::testing::Test {
protected:
    void Pack(const std::string& guid) {
        const std::vector<uint8_t> movie = BuildSWF(SimpleMovie(320, 240, 0x0000FF, false));
        const std::vector<TStoreItem> items = {
            {"GUID", Bytes(guid), true},
            {ContentKey(TContentKey::Movie), movie, true},
            {ContentKey(TContentKey::ExtraFileCount), {1, 0, 0, 0}, false},
            {ContentKey(TContentKey::ExtraFileName, 0), Bytes("notes.txt"), true},
            {ContentKey(TContentKey::ExtraFileData, 0), Bytes("hello"), true},
        };
        std::vector<uint8_t> file = ReadFileBytes(ScreenSaverPath());
        const std::vector<uint8_t> store = BuildStore(items, 0x5A, static_cast<int64_t>(file.size()));
        file.insert(file.end(), store.begin(), store.end());
        WriteFileBytes(FScreenSaver, file);
    }
    TChildProcess Start() {
        return TChildProcess::Start(Quoted(FScreenSaver) + " /e",
                                    EnvironmentBlock({{"MUTONE_PLAYER_RECORD", FRecord}}));
    }
    bool MoviesAssigned() {
        for (const std::string& line : RecordLines(FRecord))
            if (line.find(" put 102 ") != std::string::npos) return true;
        return false;
    }

    TScreenSaverFlagReset FFlag;
    TTempFolder FFolder;
    std::string FScreenSaver = FFolder.Path() + "Killed.scr";
    std::string FRecord = FFolder.Path() + "player.txt";
};

TEST_F(E2ETempFiles, KilledRunsLeaveNothingAfterOneCleanRun) {
    ASSERT_TRUE(ParkCursor());
    const std::string ours = FFolder.Path().substr(0, FFolder.Path().size() - 1);
    // Planted first: a foreign folder and file of the names a run of the second content would once have used.
    const std::string foreignGuid = "{2E4B6D80-1A3C-4E5F-8A7B-9C0D1E2F3A4B}";
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string foreignFolder = std::string(temp) + foreignGuid;
    ASSERT_TRUE(CreateDirectoryA(foreignFolder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    WriteFileBytes(foreignFolder + "\\notes.txt", Bytes("theirs"));
    WriteFileBytes(std::string(temp) + foreignGuid + ".swf", Bytes("theirs too"));
    const std::set<std::string> before = TempTree(ours);

    // Killed at different points of their start, for content with its own folder and for content whose folder is
    // someone else's.
    const DWORD delays[] = {0, 60, 150, 300, 600, 1200};
    for (const std::string& guid : {std::string("{7C1E9A2B-3D4F-4B6A-8C2E-1F0A9B8D7E65}"), foreignGuid}) {
        Pack(guid);
        for (DWORD delay : delays) {
            SCOPED_TRACE(guid + " killed after " + std::to_string(delay) + " ms");
            TChildProcess run = Start();
            Sleep(delay);
            run.Terminate();
            ASSERT_TRUE(run.WaitForExit());
        }
    }
    // The last one killed once its movie was playing.
    DeleteFileA(FRecord.c_str());
    TChildProcess playing = Start();
    ASSERT_TRUE(WaitUntil([&] { return MoviesAssigned(); }, StartDeadlineMs));
    playing.Terminate();
    ASSERT_TRUE(playing.WaitForExit());
    EXPECT_NE(TempTree(ours), before) << "a killed run that played left nothing: the test shows nothing";

    // One clean run, ended by the user.
    DeleteFileA(FRecord.c_str());
    TChildProcess clean = Start();
    ASSERT_TRUE(WaitUntil([&] { return MoviesAssigned(); }, StartDeadlineMs));
    MouseButton(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
    ASSERT_TRUE(clean.WaitForExit());
    EXPECT_EQ(clean.ExitCode(), 0u);

    EXPECT_EQ(TempTree(ours), before);
    EXPECT_EQ(ReadFileBytes(foreignFolder + "\\notes.txt"), Bytes("theirs"));
    EXPECT_EQ(ReadFileBytes(std::string(temp) + foreignGuid + ".swf"), Bytes("theirs too"));
    DeleteWithShell(foreignFolder);
    DeleteFileA((std::string(temp) + foreignGuid + ".swf").c_str());
}

} // namespace
