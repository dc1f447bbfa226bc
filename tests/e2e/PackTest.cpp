// Screensavers made by the Windows build of mutone-pack from a manifest, played: what the manifest says reaches
// the stand-in player, and the additional files lie beside the movie.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include <zlib.h>

#include "BMPBuilder.h"
#include "E2EContent.h"
#include "E2EProbe.h"
#include "PEBuilder.h"
#include "SWFBuilder.h"
#include "store/uExeAdder.h"

using namespace e2e;

namespace {

const char* const Guid = "{2D5E8F10-4A6B-4C3D-8E9F-0A1B2C3D4E5F}";

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
    EXPECT_EQ(PutsOf(102), std::vector<std::string>{"bstr " + ShellFileUrl(FContentFolder + "clock.swf")})
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
    EXPECT_EQ(PutsOf(102), std::vector<std::string>{"bstr " + ShellFileUrl(FContentFolder + Guid + ".swf")});
    EXPECT_EQ(PutsOf(106), std::vector<std::string>{"bool -1"});
    EXPECT_EQ(PutsOf(105), std::vector<std::string>{"i4 1"});
    EndByClick();
}

// A movie the screensaver could once only refuse (it inflated the movie whole, up to 256 MiB): packed and played,
// it reaches the movie's file byte for byte. The bytes compress at about 250:1, so that the test stays fast.
TEST_F(E2EPack, AMovieLargerThan256MiBPlaysWhole) {
    const std::vector<uint8_t> header = BuildSWF(SimpleMovie(550, 400, 0, false));
    const int64_t size = (int64_t{257} << 20) + 1234; // not a whole number of any piece the reader uses
    uLong crc = crc32(0, nullptr, 0);
    {
        TFileStream movie(FFolder.Path() + "big.swf", TFileMode::fmCreate);
        std::vector<uint8_t> piece(1 << 20);
        for (int64_t at = 0; at < size; at += static_cast<int64_t>(piece.size())) {
            const auto n = static_cast<size_t>(std::min<int64_t>(size - at, static_cast<int64_t>(piece.size())));
            // Each MiB has its own bytes: a piece written twice, or one left out, changes the sum.
            for (size_t i = 0; i < n; ++i)
                piece[i] = static_cast<uint8_t>((at + static_cast<int64_t>(i)) % 251 ^ (at >> 20));
            if (at == 0) std::copy(header.begin(), header.end(), piece.begin());
            movie.WriteBuffer(piece.data(), static_cast<int32_t>(n));
            crc = crc32(crc, piece.data(), static_cast<uInt>(n));
        }
    }
    ASSERT_EQ(RunTool("build big.swf --set id=" + std::string(Guid) + " -o Big.scr"), 0u);
    DeleteFileA((FFolder.Path() + "big.swf").c_str()); // 257 MiB less on the disk while the movie is played

    Play(FFolder.Path() + "Big.scr", 1);
    const std::string played = FContentFolder + Guid + ".swf";
    EXPECT_EQ(PutsOf(102), std::vector<std::string>{"bstr " + ShellFileUrl(played)});
    int64_t playedSize = 0;
    uLong playedCrc = crc32(0, nullptr, 0);
    {
        TFileReadStream file(played);
        std::vector<uint8_t> piece(1 << 20);
        for (int32_t n; (n = file.Read(piece.data(), static_cast<int32_t>(piece.size()))) > 0; playedSize += n)
            playedCrc = crc32(playedCrc, piece.data(), static_cast<uInt>(n));
    }
    EXPECT_EQ(playedSize, size);
    EXPECT_EQ(playedCrc, crc);
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
    // Its new resources leave the settings dialog as it was.
    TChildProcess saver = TChildProcess::Start(Quoted(signedFile) + " /c", {});
    HWND dialog = WaitForProcessWindow(saver.Pid(), "TfrmDialog", true);
    ASSERT_NE(dialog, nullptr) << "no settings dialog appeared";
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(saver.WaitForExit());
    EXPECT_EQ(saver.ExitCode(), 0u);
}

} // namespace
