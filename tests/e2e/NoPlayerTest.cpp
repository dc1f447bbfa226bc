// Run mode on a machine whose Flash control is missing or too old for the content: the black screen stays silent
// unless the content brings a text, which is then drawn in the middle of every monitor; input ends it as ever.
// Configure mode without a player and without a text still shows nothing.
#include <gtest/gtest.h>

#include "E2EContent.h"
#include "E2EProbe.h"
#include "PEBuilder.h"
#include "SWFBuilder.h"
#include "app/uContentKeys.h"
#include "forms/FileStream.h"
#include "forms/Handles.h"
#include "store/uExeAdder.h"
#include "support/uSysUtils.h"

using namespace e2e;

namespace {

const char* const Guid = "{5C0E9A41-7D2B-4F36-A8E1-3B9C6D2F0A74}";
const char* const Text = "This screensaver needs a Flash player";

// How many pixels of the screen under rect are not of the colour, read in one copy: pixel by pixel across
// processes would take seconds. -1 when the screen could not be read.
int PixelsNotOf(COLORREF colour, const RECT& rect) {
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    TWindowDC screen(nullptr);
    UniqueHDC memory(CreateCompatibleDC(screen.get()));
    TGdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(screen.get(), width, height));
    if (!screen || !memory || !bitmap) return -1;
    {
        TSelectObject selected(memory.get(), bitmap.get());
        BitBlt(memory.get(), 0, 0, width, height, screen.get(), rect.left, rect.top, SRCCOPY);
    }
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint32_t> bits(static_cast<size_t>(width) * static_cast<size_t>(height));
    const int lines =
        GetDIBits(memory.get(), bitmap.get(), 0, static_cast<UINT>(height), bits.data(), &info, DIB_RGB_COLORS);
    if (lines != height) return -1;
    // The bits are 0x00RRGGBB, a colour 0x00BBGGRR.
    const uint32_t wanted = uint32_t{GetRValue(colour)} << 16 | uint32_t{GetGValue(colour)} << 8 | GetBValue(colour);
    int count = 0;
    for (uint32_t pixel : bits)
        count += (pixel & 0xFFFFFF) != wanted;
    return count;
}

// The band across a monitor's middle where a centred line of text lies, and a strip along its top edge where
// nothing is drawn.
RECT MiddleOf(const RECT& m) {
    const LONG cx = (m.left + m.right) / 2, cy = (m.top + m.bottom) / 2;
    return {cx - 250, cy - 40, cx + 250, cy + 40};
}
RECT TopOf(const RECT& m) {
    return {m.left + 20, m.top + 10, m.right - 20, m.top + 60};
}

class E2ENoPlayer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ParkCursor()) << "the cursor did not move";
        FItems = {
            {"GUID", Bytes(Guid), true},
            {ContentKey(TContentKey::MonitorLayout), {2, 0, 0, 0}, false},
            {ContentKey(TContentKey::Movie), BuildSWF(SimpleMovie(550, 400, 0x0000FF, false)), true},
        };
        FScreenSaver = FFolder.Path() + "NoPlayer.scr";
        FRecord = FFolder.Path() + "player.txt";
    }

    void Add(TContentKey key, const std::string& text) { FItems.push_back({ContentKey(key), Bytes(text), true}); }

    TChildProcess Start(const std::string& arguments) {
        std::vector<uint8_t> file = ReadFileBytes(ScreenSaverPath());
        std::vector<uint8_t> store = BuildStore(FItems, 0x5A, static_cast<int64_t>(file.size()));
        file.insert(file.end(), store.begin(), store.end());
        WriteFileBytes(FScreenSaver, file);
        return TChildProcess::Start(Quoted(FScreenSaver) + arguments,
                                    EnvironmentBlock({{"MUTONE_PLAYER_RECORD", FRecord}}));
    }

    // Starts run mode and waits until the full-screen form of its copy covers every monitor: until then the
    // harness's coloured root would pass for text.
    void Run() {
        FStarter = Start(" /s");
        ASSERT_TRUE(WaitUntil([&] { return static_cast<bool>(FRunner = RunModeCopy(FStarter)); }, StartDeadlineMs))
            << "no run-mode copy";
        ASSERT_TRUE(WaitUntil(
            [&] {
                for (const RECT& m : MonitorRects())
                    if (PixelsNotOf(Black, TopOf(m)) != 0) return false;
                return true;
            },
            StartDeadlineMs))
            << "the form did not cover every monitor";
    }

    // The monitors with no text in their middle, after waiting for it up to the deadline.
    std::string MonitorsWithoutText(DWORD timeoutMs) {
        std::string missing;
        WaitUntil(
            [&] {
                missing.clear();
                for (const RECT& m : MonitorRects())
                    if (PixelsNotOf(Black, MiddleOf(m)) < 30) missing += " " + RectText(m);
                return missing.empty();
            },
            timeoutMs);
        return missing;
    }

    static std::string AllMonitors() {
        std::string all;
        for (const RECT& m : MonitorRects())
            all += " " + RectText(m);
        return all;
    }

    void EndByClick() {
        MouseButton(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
        ASSERT_TRUE(FRunner.WaitForExit()) << "a click did not end it";
        EXPECT_EQ(FRunner.ExitCode(), 0u);
        ASSERT_TRUE(FStarter.WaitForExit());
    }

    TScreenSaverFlagReset FFlag;
    TTempFolder FFolder;
    std::string FScreenSaver, FRecord;
    std::vector<TStoreItem> FItems;
    TChildProcess FStarter, FRunner;
};

TEST_F(E2ENoPlayer, WithoutAPlayerTheTextIsOnEveryMonitorAndInputStillEndsIt) {
    Add(TContentKey::NoPlayerText, Text);
    Add(TContentKey::NoPlayerLink, "example.com/get-a-player");
    TNoPlayerInstalled noPlayer;
    ASSERT_TRUE(noPlayer);
    Run();
    const std::string missing = MonitorsWithoutText(5000);
    EXPECT_EQ(missing, "") << "no text in the middle of these monitors";
    for (const RECT& m : MonitorRects())
        EXPECT_EQ(PixelsNotOf(Black, TopOf(m)), 0) << "only the text is drawn: " << RectText(m);
    // Nothing was written for a player that is not there.
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    EXPECT_FALSE(DirectoryExists(std::string(temp) + Guid));
    EndByClick();
}

// A player older than the content requires leaves its controls empty: the text is shown in their place.
TEST_F(E2ENoPlayer, APlayerTooOldForTheContentShowsTheTextInsteadOfEmptyControls) {
    Add(TContentKey::NoPlayerText, Text);
    Add(TContentKey::RequiredFlashVersion, "99.0");
    Run();
    EXPECT_EQ(MonitorsWithoutText(5000), "");
    EXPECT_TRUE(PlayerPuts(FRecord, 102).empty()) << "no movie is assigned";
    EndByClick();
}

// Without the content's text nothing changes: a black screen, and no dialog in configure mode.
TEST_F(E2ENoPlayer, WithoutATextTheScreenStaysBlackAndTheDialogAbsent) {
    TNoPlayerInstalled noPlayer;
    ASSERT_TRUE(noPlayer);
    Run();
    EXPECT_EQ(MonitorsWithoutText(1500), AllMonitors()) << "something was drawn on the black screen";
    EndByClick();

    TChildProcess saver = Start(" /c");
    EXPECT_EQ(WaitForProcessWindow(saver.Pid(), "TfrmDialog", true, 3000), nullptr) << "a dialog appeared";
    ASSERT_TRUE(saver.WaitForExit());
    EXPECT_EQ(saver.ExitCode(), 0u);
}

// With a player the movies cover every monitor, and nothing of the text shows through them.
TEST_F(E2ENoPlayer, WithAPlayerTheTextIsNotShown) {
    const COLORREF green = RGB(0, 0xFF, 0);
    FItems.push_back({ContentKey(TContentKey::BackgroundColor), {0, 0xFF, 0, 0}, false});
    Add(TContentKey::NoPlayerText, Text);
    FStarter = Start(" /s");
    ASSERT_TRUE(WaitUntil([&] { return PlayerPuts(FRecord, 102).size() >= MonitorRects().size(); }, StartDeadlineMs))
        << "the movies did not reach the controls";
    std::string uncovered;
    const bool covered = WaitUntil(
        [&] {
            uncovered.clear();
            for (const RECT& m : MonitorRects())
                if (PixelsNotOf(green, MiddleOf(m)) != 0) uncovered += " " + RectText(m);
            return uncovered.empty();
        },
        5000);
    EXPECT_TRUE(covered) << "not the movie's colour alone in the middle of" << uncovered;
    FRunner = RunModeCopy(FStarter);
    ASSERT_TRUE(FRunner);
    EndByClick();
}

} // namespace
