// A 32-bit screensaver that an installer copied into System32 of 64-bit Windows, where Windows starts it by that
// path. A 32-bit process that names System32 is sent to SysWOW64, where the file is not: both the relaunch of the
// /E copy and the reading of the program's own content must see the real System32. This program runs in a 64-bit
// Wine prefix of its own (the ctest entry starts the harness with --arch win64), with the stand-in player
// registered for 32-bit processes.
#include <gtest/gtest.h>

#include <cstring>

#include "E2EContent.h"
#include "E2EProbe.h"
#include "PEBuilder.h"
#include "SWFBuilder.h"
#include "app/uContentKeys.h"
#include "store/uExeAdder.h"
#include "support/uSysUtils.h"

using namespace e2e;

namespace {

const char* const Guid = "{3C9E5A71-0D2B-4F86-A4E3-7B1C9D0E2F58}";
const char* const FileName = "mutone-wow64.scr";

std::string WindowsFolder() {
    char folder[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
    return length && length < MAX_PATH ? folder : "";
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The screensaver with its content, placed into the real System32 only, and removed again.
class TInstalledScreenSaver {
public:
    TInstalledScreenSaver() {
        // "Sysnative" names the real System32 to a 32-bit process without turning redirection off.
        FPlaced = WindowsFolder() + "\\Sysnative\\" + FileName;
        std::vector<uint8_t> file = ReadFileBytes(ScreenSaverPath());
        const std::vector<TStoreItem> items = {
            {"GUID", Bytes(Guid), true},
            {ContentKey(TContentKey::MovieFileName), Bytes("installed.swf"), true},
            {ContentKey(TContentKey::Movie), BuildSWF(SimpleMovie(320, 240, 0x00FF00, false)), true},
        };
        const std::vector<uint8_t> store = BuildStore(items, 0x3C, static_cast<int64_t>(file.size()));
        file.insert(file.end(), store.begin(), store.end());
        WriteFileBytes(FPlaced, file);
    }
    ~TInstalledScreenSaver() { DeleteFileA(FPlaced.c_str()); }
    TInstalledScreenSaver(const TInstalledScreenSaver&) = delete;
    TInstalledScreenSaver& operator=(const TInstalledScreenSaver&) = delete;

    // The path Windows starts it by.
    std::string Path() const { return SystemDirectory() + "\\" + FileName; }

private:
    std::string FPlaced;
};

TEST(E2EWow64, StartsAndPlaysFromSystem32Of64BitWindows) {
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    ASSERT_TRUE(wow64) << "this test needs a 64-bit prefix (scripts/wine-env.sh --arch win64)";
    TScreenSaverFlagReset flag;
    TTempFolder folder;
    ASSERT_TRUE(ParkCursor());
    TInstalledScreenSaver installed;
    ASSERT_FALSE(Exists(installed.Path())) << "a 32-bit process must not see it: it is in System32 only";

    // The guard shows the real System32 while it lives, and only then.
    {
        TFsRedirectionOff redirectionOff;
        ASSERT_TRUE(redirectionOff.Active());
        EXPECT_TRUE(Exists(installed.Path()));
    }
    ASSERT_FALSE(Exists(installed.Path())) << "redirection was not turned back on";

    // Started as a 64-bit Windows starts it: by its System32 path, which that system does not redirect.
    const std::string record = folder.Path() + "player.txt";
    TChildProcess starter;
    {
        TFsRedirectionOff redirectionOff;
        starter = TChildProcess::Start(Quoted(installed.Path()) + " /s",
                                       EnvironmentBlock({{"MUTONE_PLAYER_RECORD", record}}));
    }
    const auto movies = [&] {
        std::vector<std::string> values;
        for (const std::string& line : RecordLines(record))
            if (size_t at = line.find(" put 102 "); at != std::string::npos) values.push_back(line.substr(at + 9));
        return values;
    };
    ASSERT_TRUE(WaitUntil([&] { return !movies().empty(); }, StartDeadlineMs))
        << "the movie never reached the player: the /E copy did not start or found no content";
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string contentFolder = std::string(temp) + Guid;
    EXPECT_EQ(movies().front(), "bstr " + ShellFileUrl(contentFolder + "\\installed.swf"));

    TChildProcess runner;
    for (HWND window : WindowsOfClassOutside(starter.Pid(), "TfrmMain"))
        if (WindowProcess(window) != GetCurrentProcessId()) runner = TChildProcess::Open(WindowProcess(window));
    ASSERT_TRUE(runner) << "no run-mode copy";
    const std::wstring commandLine = ProcessCommandLine(runner.Handle());
    const std::wstring expected = L"\\system32\\" + std::wstring(FileName, FileName + strlen(FileName)) + L"\" /E";
    EXPECT_NE(commandLine.find(expected), std::wstring::npos) << "relaunched by another path";

    MouseButton(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
    ASSERT_TRUE(runner.WaitForExit()) << "a click did not end it";
    EXPECT_EQ(runner.ExitCode(), 0u);
    ASSERT_TRUE(starter.WaitForExit());
    EXPECT_EQ(starter.ExitCode(), 0u);
    EXPECT_FALSE(Exists(contentFolder)) << "the temporary folder outlived the screensaver";
}

} // namespace
