// The 64-bit screensaver as an author makes and a user installs it: built by the Windows mutone-pack with
// --arch x64, copied into System32 of 64-bit Windows, and played there in every mode with the 64-bit stand-in
// player, which only the 64-bit registry view names. This program is 32-bit and runs in a 64-bit Wine prefix of
// its own (the ctest entry starts the harness with --arch win64); it watches the 64-bit processes from outside.
#include <gtest/gtest.h>

#include "E2EProbe.h"
#include "PEBuilder.h"
#include "PlayerRegistration.h"
#include "SWFBuilder.h"
#include "support/uSysUtils.h"

using namespace e2e;

namespace {

const char* const Guid = "{6B0E2D94-51C7-4A3F-9E82-C4D17A5B3E06}";
const char* const FileName = "mutone-x64.scr";

std::string WindowsFolder() {
    char folder[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
    return length && length < MAX_PATH ? folder : "";
}

std::string TempPath() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    return temp;
}

bool IsWow64(HANDLE process) {
    BOOL wow64 = FALSE;
    return IsWow64Process(process, &wow64) && wow64;
}

uint16_t Get16(const std::vector<uint8_t>& bytes, size_t at) {
    return at + 2 <= bytes.size() ? static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8) : 0;
}

class E2EX64 : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(IsWow64(GetCurrentProcess()))
            << "this test needs a 64-bit prefix (scripts/wine-env.sh --arch win64)";
        ASSERT_TRUE(RegisterStandInPlayer(MUTONE_PLAYER64_PATH, KEY_WOW64_64KEY));
        ASSERT_TRUE(ParkCursor());
        FRecord = FFolder.Path() + "player.txt";
        FTempBefore = TempTree(Ours());
    }
    void TearDown() override {
        UnregisterStandInPlayer(KEY_WOW64_64KEY);
        // "Sysnative" names the real System32 to a 32-bit process.
        DeleteFileA((WindowsFolder() + "\\Sysnative\\" + FileName).c_str());
    }

    std::string Ours() const { return FFolder.Path().substr(0, FFolder.Path().size() - 1); }

    // Builds the screensaver with the tool as its users do, into this test's folder.
    void Pack(const std::string& arguments, const std::string& output) {
        WriteFileBytes(FFolder.Path() + "clock.swf", BuildSWF(SimpleMovie(320, 240, 0x00FF00, false)));
        const std::string manifest = std::string("id = \"") + Guid +
                                     "\"\n[movie]\nfile = \"clock.swf\"\nname = \"clock.swf\"\n" +
                                     "[dialog]\ncaption = \"Clock in 64 bits\"\n";
        WriteFileBytes(FFolder.Path() + "clock.toml", std::vector<uint8_t>(manifest.begin(), manifest.end()));
        TChildProcess tool = TChildProcess::Start(
            Quoted(MUTONE_PACK_PATH) + " build clock.toml -o " + Quoted(output) + " " + arguments, {}, FFolder.Path());
        ASSERT_TRUE(tool.WaitForExit(30000));
        ASSERT_EQ(tool.ExitCode(), 0u) << "mutone-pack failed (is mutone64.scr beside it? build win64 first)";
    }

    // The 64-bit screensaver in the real System32; tail bytes behind it (as a signature would add) make it find
    // its content through its own image end.
    void Install(size_t tail) {
        ASSERT_NO_FATAL_FAILURE(Pack("--arch x64", FileName));
        std::vector<uint8_t> file = ReadFileBytes(FFolder.Path() + FileName);
        const size_t nt = Get16(file, 60);
        ASSERT_EQ(Get16(file, nt + 4), 0x8664) << "not an x86-64 program";
        file.insert(file.end(), tail, 0x5A);
        WriteFileBytes(WindowsFolder() + "\\Sysnative\\" + FileName, file);
    }
    std::string Installed() const { return SystemDirectory() + "\\" + FileName; }

    // Started as a 64-bit Windows starts it: by its path, which for System32 a 32-bit process must not redirect.
    TChildProcess Start(const std::string& path, const std::string& arguments) {
        TFsRedirectionOff redirectionOff;
        return TChildProcess::Start(Quoted(path) + arguments,
                                    EnvironmentBlock({{"MUTONE_PLAYER_RECORD", FRecord},
                                                      {"MUTONE_PLAYER_TRIGGER", FFolder.Path() + "trigger.txt"}}));
    }

    // Plays in run mode until the movie's "quit"; what the program asked of the player, in order, without what
    // differs from run to run (times, window handles, the player's path, messages of its timer).
    std::vector<std::string> PlayUntilQuit(const std::string& path) {
        DeleteFileA(FRecord.c_str());
        TChildProcess starter = Start(path, " /s");
        EXPECT_TRUE(WaitUntil([&] { return !Movies().empty(); }, StartDeadlineMs)) << path << Record();
        TChildProcess runner = RunModeCopy(starter);
        const std::string staged = FFolder.Path() + "trigger.new";
        WriteFileBytes(staged, {'q', 'u', 'i', 't', '\n', '\n'});
        EXPECT_TRUE(MoveFileA(staged.c_str(), (FFolder.Path() + "trigger.txt").c_str()));
        EXPECT_TRUE(runner && runner.WaitForExit()) << "\"quit\" did not end " << path;
        ExpectNothingLeft(starter);
        std::vector<std::string> asked;
        for (const std::string& line : RecordLines(FRecord)) {
            const std::string event = line.substr(line.find(' ') + 1);
            for (const char* kind : {"put ", "call ", "fire ", "DoVerb ", "SetClientSite ", "Close ", "InPlace"})
                if (event.rfind(kind, 0) == 0) asked.push_back(event);
        }
        return asked;
    }

    std::vector<std::string> Movies() { return PlayerPuts(FRecord, 102); }
    // What the player saw, for the failure messages.
    std::string Record() {
        std::string text = "\nthe player's record:";
        for (const std::string& line : RecordLines(FRecord))
            text += "\n  " + line;
        return text;
    }

    void ExpectNothingLeft(const TChildProcess& process) {
        ASSERT_TRUE(process.WaitForExit()) << "it did not end";
        EXPECT_EQ(process.ExitCode(), 0u);
        EXPECT_EQ(TempTree(Ours()), FTempBefore) << "the run left files in the temporary directory";
    }

    TScreenSaverFlagReset FFlag;
    TTempFolder FFolder;
    std::string FRecord;
    std::set<std::string> FTempBefore;
};

TEST_F(E2EX64, PlaysFullScreenInAPreviewAndShowsItsDialogFromSystem32) {
    ASSERT_NO_FATAL_FAILURE(Install(0));

    // Full screen: the /s copy starts the /E copy, both 64-bit, and the movie reaches the 64-bit player.
    {
        TChildProcess starter = Start(Installed(), " /s");
        ASSERT_TRUE(WaitUntil([&] { return !Movies().empty(); }, StartDeadlineMs))
            << "the movie never reached the 64-bit player" << Record();
        EXPECT_EQ(Movies().front(), "bstr " + ShellFileUrl(TempPath() + Guid + "\\clock.swf"));
        TChildProcess runner = RunModeCopy(starter);
        ASSERT_TRUE(runner) << "no run-mode copy";
        EXPECT_FALSE(IsWow64(starter.Handle()));
        EXPECT_FALSE(IsWow64(runner.Handle())) << "the run-mode copy is not a 64-bit process";
        MouseButton(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
        ASSERT_TRUE(runner.WaitForExit()) << "a click did not end it";
        EXPECT_EQ(runner.ExitCode(), 0u);
        ExpectNothingLeft(starter);
    }

    // The preview and the dialog read a file with bytes behind its content.
    ASSERT_NO_FATAL_FAILURE(Install(512));
    DeleteFileA(FRecord.c_str());
    {
        TPreviewHost host;
        ASSERT_NE(host.Window(), nullptr);
        TChildProcess saver = Start(Installed(), " /p " + host.Argument());
        HWND form = WaitForChildForm(host.Window());
        ASSERT_NE(form, nullptr) << "no form appeared in the host window";
        EXPECT_EQ(WindowProcess(form), saver.Pid());
        EXPECT_EQ(Style(form), static_cast<DWORD>(WS_CHILD | WS_DISABLED | WS_VISIBLE));
        ASSERT_TRUE(WaitUntil([&] { return !Movies().empty(); }, StartDeadlineMs))
            << "the preview got no movie" << Record();
        ASSERT_TRUE(SendWithTimeout(form, WM_CLOSE, 0, 0));
        ExpectNothingLeft(saver);
    }
    {
        TChildProcess saver = Start(Installed(), " /c");
        HWND dialog = WaitForProcessWindow(saver.Pid(), "TfrmDialog", true);
        ASSERT_NE(dialog, nullptr) << "no settings dialog appeared";
        EXPECT_EQ(TextOfA(dialog), "Clock in 64 bits");
        ASSERT_TRUE(Drain(dialog));
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        ExpectNothingLeft(saver);
    }
}

// The same content in the 32-bit screensaver with the 32-bit player: the 64-bit one sets the same properties and
// calls the same methods by the same interface slots, and takes the movie's command through the same event.
TEST_F(E2EX64, AsksThePlayerWhatThe32BitScreensaverAsks) {
    ASSERT_TRUE(RegisterStandInPlayer(MUTONE_PLAYER_PATH));
    ASSERT_NO_FATAL_FAILURE(Pack("", "mutone-x86.scr"));
    const std::vector<std::string> x86 = PlayUntilQuit(FFolder.Path() + "mutone-x86.scr");
    UnregisterStandInPlayer();
    ASSERT_NO_FATAL_FAILURE(Install(0));
    const std::vector<std::string> x64 = PlayUntilQuit(Installed());
    EXPECT_EQ(x64, x86) << ::testing::PrintToString(x64);
    for (const char* call : {"call 95 DisableLocalSecurity", "call 29 Stop", "call 33 StopPlay"})
        EXPECT_NE(std::find(x64.begin(), x64.end(), call), x64.end()) << "no " << call << " in the record";
    EXPECT_NE(std::find(x64.begin(), x64.end(), "fire quit "), x64.end()) << "the movie's command was not fired";
}

} // namespace
