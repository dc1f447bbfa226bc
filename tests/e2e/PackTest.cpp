// Screensavers made by the Windows build of mutone-pack from a manifest, played: what the manifest says reaches
// the stand-in player, and the additional files lie beside the movie.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "BMPBuilder.h"
#include "E2EProbe.h"
#include "PEBuilder.h"
#include "SWFBuilder.h"

using namespace e2e;

namespace {

const char* const Guid = "{2D5E8F10-4A6B-4C3D-8E9F-0A1B2C3D4E5F}";

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

class E2EPack : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ParkCursor()) << "the cursor did not move";
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        FContentFolder = std::string(temp) + Guid + "\\";
        FRecord = FFolder.Path() + "player.txt";
    }

    // Runs the tool as its users do; the runtime is the one beside it.
    DWORD RunTool(const std::string& arguments) {
        TChildProcess tool = TChildProcess::Start(Quoted(MUTONE_PACK_PATH) + " " + arguments, {}, FFolder.Path());
        EXPECT_TRUE(tool.WaitForExit(30000));
        return tool.ExitCode();
    }

    // Starts the screensaver with /s and waits until `controls` movie controls have their movie.
    void Play(const std::string& screensaver, size_t controls) {
        FStarter =
            TChildProcess::Start(Quoted(screensaver) + " /s", EnvironmentBlock({{"MUTONE_PLAYER_RECORD", FRecord}}));
        ASSERT_TRUE(WaitUntil([&] { return PutsOf(102).size() >= controls; }, StartDeadlineMs))
            << "the movie did not reach the controls";
        FRunner = RunModeCopy(FStarter);
        ASSERT_TRUE(FRunner) << "no run-mode copy";
    }

    void EndByClick() {
        MouseButton(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
        ASSERT_TRUE(FRunner.WaitForExit()) << "a click did not end it";
        ASSERT_TRUE(FStarter.WaitForExit());
        EXPECT_FALSE(GetFileAttributesA(FContentFolder.c_str()) != INVALID_FILE_ATTRIBUTES);
    }

    std::vector<std::string> PutsOf(int dispId) { return PlayerPuts(FRecord, dispId); }

    TScreenSaverFlagReset FFlag;
    TTempFolder FFolder;
    std::string FContentFolder, FRecord;
    TChildProcess FStarter, FRunner;
};

TEST_F(E2EPack, AManifestBuiltScreensaverPlaysAsTheManifestSays) {
    const std::vector<uint8_t> movie = BuildSWF(SimpleMovie(550, 400, 0x0000FF, false));
    WriteFileBytes(FFolder.Path() + "clock one.swf", movie);
    CreateDirectoryA((FFolder.Path() + "data").c_str(), nullptr);
    WriteFileBytes(FFolder.Path() + "data\\words.txt", Bytes("one two"));
    WriteFileBytes(FFolder.Path() + "clock.toml", Bytes(std::string(R"(
id = ")") + Guid + R"("
[movie]
file = "clock one.swf"
name = "clock.swf"
loop = false
scale = "exactfit"
quality = "autohigh"
menu = true
background = "#FF0000"
flashvars = { city = "Kyoto", n = 1 }
[screen]
monitors = "first"
[[files]]
path = 'data\words.txt'
)"));
    ASSERT_EQ(RunTool("build clock.toml -o \"My Clock.scr\""), 0u);

    Play(FFolder.Path() + "My Clock.scr", 1);
    EXPECT_EQ(PutsOf(102), std::vector<std::string>{"bstr " + FContentFolder + "clock.swf"})
        << "one control, on the first monitor";
    EXPECT_EQ(PutsOf(170), std::vector<std::string>{"bstr city=Kyoto&n=1&mutonemode=normal"});
    EXPECT_EQ(PutsOf(106), std::vector<std::string>{"bool 0"}) << "Loop";
    EXPECT_EQ(PutsOf(137), std::vector<std::string>{"bstr exactfit"}) << "Scale";
    EXPECT_EQ(PutsOf(105), std::vector<std::string>{"i4 3"}) << "Quality";
    EXPECT_EQ(PutsOf(135), std::vector<std::string>{"bool -1"}) << "Menu";
    EXPECT_EQ(PutsOf(123), std::vector<std::string>{"i4 255"}) << "BackgroundColor, red in the low byte";
    EXPECT_EQ(ReadFileBytes(FContentFolder + "clock.swf"), movie);
    EXPECT_EQ(ReadFileBytes(FContentFolder + "words.txt"), Bytes("one two")) << "beside the movie";
    EndByClick();
}

// Built from a movie alone, with the tool's defaults: looping, high quality, one movie over all monitors.
TEST_F(E2EPack, AMovieAloneBecomesAScreensaver) {
    WriteFileBytes(FFolder.Path() + "clip.swf", BuildSWF(SimpleMovie(550, 400, 0x00FF00, false)));
    ASSERT_EQ(RunTool("build clip.swf --set id=" + std::string(Guid) + " -o Clip.scr"), 0u);
    Play(FFolder.Path() + "Clip.scr", 1);
    EXPECT_EQ(PutsOf(102), std::vector<std::string>{"bstr " + FContentFolder + Guid + ".swf"});
    EXPECT_EQ(PutsOf(106), std::vector<std::string>{"bool -1"});
    EXPECT_EQ(PutsOf(105), std::vector<std::string>{"i4 1"});
    EndByClick();
}

// The settings dialog shows what the manifest's [dialog] says.
TEST_F(E2EPack, TheDialogShowsTheManifestsTexts) {
    WriteFileBytes(FFolder.Path() + "clip.swf", BuildSWF(SimpleMovie(550, 400, 0, false)));
    WriteFileBytes(FFolder.Path() + "about.bmp",
                   BuildBMP(MakeBitmap(std::vector<uint32_t>(120 * 90, 0x3366CC), 120, 90, 24, false)));
    WriteFileBytes(FFolder.Path() + "clock.toml", Bytes(R"(
[movie]
file = "clip.swf"
[dialog]
caption = "My Clock settings"
copyright = "(c) 2024 Ann & Bob"
link = "https://example.com/"
close_button = false
picture = "about.bmp"
)"));
    ASSERT_EQ(RunTool("build clock.toml -o Dialog.scr"), 0u);
    TChildProcess saver = TChildProcess::Start(Quoted(FFolder.Path() + "Dialog.scr") + " /c",
                                               EnvironmentBlock({{"MUTONE_PLAYER_RECORD", FRecord}}));
    HWND dialog = WaitForProcessWindow(saver.Pid(), "TfrmDialog", true);
    ASSERT_NE(dialog, nullptr) << "no settings dialog appeared";
    ASSERT_TRUE(Drain(dialog));
    EXPECT_EQ(TextOfA(dialog), "My Clock settings");
    std::map<std::string, HWND> children;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children[ClassOf(child)] = child;
    ASSERT_TRUE(children.count("TSimpleWebLabelEx") && children.count("TImage"));
    EXPECT_EQ(TextOfA(children["TSimpleWebLabelEx"]), "(c) 2024 Ann & Bob");
    const RECT picture = WindowRect(children["TImage"]);
    EXPECT_EQ(picture.right - picture.left, 120);
    EXPECT_EQ(picture.bottom - picture.top, 90);
    for (const auto& [className, child] : children) {
        if (className == "TSimpleWebLabelEx" || className == "TImage") continue;
        EXPECT_FALSE(IsWindowVisible(child)) << className << ": the close button is hidden";
    }
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(saver.WaitForExit());
    EXPECT_EQ(saver.ExitCode(), 0u);
}

// A signed screensaver, made and signed outside by tests/e2e/signed-screensaver.sh, which names it here.
TEST_F(E2EPack, ASignedScreensaverPlays) {
    const char* signedFile = std::getenv("MUTONE_SIGNED_SCREENSAVER");
    if (!signedFile) GTEST_SKIP() << "run by tests/e2e/signed-screensaver.sh";
    Play(signedFile, 1);
    EXPECT_EQ(PutsOf(170), std::vector<std::string>{"bstr signed=yes&mutonemode=normal"});
    EndByClick();
}

} // namespace
