// Run mode on a screen scaled to 150 %, in a prefix whose system DPI is 144 (tests/e2e/in-prefix.sh --dpi 144):
// the full-screen form and its movies cover each monitor's physical rectangle, while the preview and the settings
// dialog keep the system's default awareness. This program is per-monitor aware itself, so that what it reads of
// windows, monitors and pixels is physical.
#include <gtest/gtest.h>

#include <algorithm>

#include "E2EContent.h"
#include "E2EProbe.h"
#include "PEBuilder.h"
#include "SWFBuilder.h"
#include "app/uContentKeys.h"
#include "store/uExeAdder.h"
#include "support/uSysUtils.h"

using namespace e2e;

namespace {

const struct TPhysicalObserver {
    TPhysicalObserver() {
        HMODULE shcore = LoadLibraryA("shcore.dll");
        using TSetProcessDpiAwareness = HRESULT(WINAPI*)(int);
        auto set = shcore ? reinterpret_cast<TSetProcessDpiAwareness>(
                                reinterpret_cast<void*>(GetProcAddress(shcore, "SetProcessDpiAwareness")))
                          : nullptr;
        if (set) set(2);
    }
} PhysicalObserver;

constexpr COLORREF MovieColour = RGB(0x20, 0xC0, 0x40);

BOOL CALLBACK AddPlayerWindow(HWND child, LPARAM data) {
    if (ClassOf(child) == "MutoneStandInPlayer")
        reinterpret_cast<std::vector<RECT>*>(data)->push_back(WindowRect(child));
    return TRUE;
}

std::vector<RECT> PlayerWindows(HWND form) {
    std::vector<RECT> rects;
    EnumChildWindows(form, AddPlayerWindow, reinterpret_cast<LPARAM>(&rects));
    std::sort(rects.begin(), rects.end(), [](const RECT& a, const RECT& b) { return a.left < b.left; });
    return rects;
}

class E2EHighDpi : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ParkCursor());
        const std::vector<uint8_t> movie = BuildSWF(SimpleMovie(550, 400, 0x0000FF, false));
        const int32_t colour = static_cast<int32_t>(MovieColour);
        FItems = {
            {"GUID", Bytes("{3A0C5E7B-91D2-4F6A-8B3C-5D7E9F1A2B4C}"), true},
            {ContentKey(TContentKey::MonitorLayout), {2, 0, 0, 0}, false},
            {ContentKey(TContentKey::BackgroundColor),
             {static_cast<uint8_t>(colour), static_cast<uint8_t>(colour >> 8), static_cast<uint8_t>(colour >> 16), 0},
             false},
            {ContentKey(TContentKey::Movie), movie, true},
            {DialogKey(TDialogKey::PictureName), Bytes("intro.swf"), true},
            {DialogKey(TDialogKey::Picture), movie, true},
        };
        std::vector<uint8_t> file = ReadFileBytes(ScreenSaverPath());
        const std::vector<uint8_t> store = BuildStore(FItems, 0x5A, static_cast<int64_t>(file.size()));
        file.insert(file.end(), store.begin(), store.end());
        WriteFileBytes(FScreenSaver, file);
    }

    TChildProcess Start(const std::string& arguments) {
        return TChildProcess::Start(Quoted(FScreenSaver) + " " + arguments,
                                    EnvironmentBlock({{"MUTONE_PLAYER_RECORD", FRecord}}));
    }
    // The awareness each movie control's thread had as the control was made, in creation order.
    std::vector<std::string> Awareness() {
        std::vector<std::string> found;
        for (const std::string& line : RecordLines(FRecord))
            if (const size_t at = line.find(" dpi "); at != std::string::npos) found.push_back(line.substr(at + 5));
        return found;
    }

    TScreenSaverFlagReset FFlag;
    TTempFolder FFolder;
    std::string FScreenSaver = FFolder.Path() + "Sharp.scr";
    std::string FRecord = FFolder.Path() + "player.txt";
    std::vector<TStoreItem> FItems;
};

TEST_F(E2EHighDpi, RunModeCoversEveryMonitorsPhysicalRectangleAndFollowsDisplayChanges) {
    const std::vector<RECT> monitors = MonitorRects();
    ASSERT_EQ(static_cast<int>(monitors.size()), HarnessMonitors());
    const RECT desktop = VirtualScreen();
    ASSERT_EQ(RectText(desktop), HarnessMonitors() == 3 ? "(-1024,0,2080,1024)" : "(0,0,1024,768)")
        << "the observer does not see physical pixels";

    TChildProcess starter = Start("/s");
    ASSERT_TRUE(WaitUntil([&] { return PlayerPuts(FRecord, 102).size() >= monitors.size(); }, StartDeadlineMs));
    TChildProcess runner = RunModeCopy(starter);
    ASSERT_TRUE(runner);
    HWND form = WaitForProcessWindow(runner.Pid(), "TfrmMain", true);
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(Drain(form));

    // One more control than monitors: the check that the Flash control can be created makes one first.
    const std::vector<std::string> awareness = Awareness();
    ASSERT_EQ(awareness.size(), monitors.size() + 1);
    for (const std::string& each : awareness)
        EXPECT_TRUE(each == "permonitorv2" || each == "permonitor") << each;

    EXPECT_EQ(RectText(WindowRect(form)), RectText(desktop));
    std::vector<RECT> expected = monitors;
    std::sort(expected.begin(), expected.end(), [](const RECT& a, const RECT& b) { return a.left < b.left; });
    const std::vector<RECT> players = PlayerWindows(form);
    ASSERT_EQ(players.size(), expected.size());
    for (size_t i = 0; i < players.size(); ++i)
        EXPECT_EQ(RectText(players[i]), RectText(expected[i]));

    // The movies' colour up to each monitor's far corners.
    std::string wrong;
    const bool painted = WaitUntil(
        [&] {
            wrong.clear();
            for (const RECT& m : monitors)
                for (const POINT& p : {POINT{m.left + 2, m.top + 2}, POINT{m.right - 3, m.bottom - 3},
                                       POINT{m.left + 2, m.bottom - 3}, POINT{m.right - 3, m.top + 2}})
                    if (ScreenPixel(p.x, p.y) != MovieColour)
                        wrong += " " + std::to_string(p.x) + "," + std::to_string(p.y);
            return wrong.empty();
        },
        5000);
    EXPECT_TRUE(painted) << "not the movie's colour at" << wrong;

    // Scaling or monitors changed under the running screensaver: it covers the desktop again by itself.
    for (const UINT change : {UINT{WM_DISPLAYCHANGE}, UINT{WM_DPICHANGED}}) {
        SCOPED_TRACE(change);
        ASSERT_TRUE(SetWindowPos(form, nullptr, 10, 10, 300, 200, SWP_NOZORDER | SWP_NOACTIVATE));
        // (Wine maps a rectangle set from another process by the ratio of the two processes' system DPIs.)
        ASSERT_TRUE(WaitUntil([&] { return WindowRect(form).right < 400; }, 2000)) << RectText(WindowRect(form));
        ASSERT_TRUE(SendWithTimeout(form, change, change == WM_DPICHANGED ? MAKEWPARAM(144, 144) : 24, 0));
        EXPECT_EQ(RectText(WindowRect(form)), RectText(desktop));
        EXPECT_EQ(PlayerWindows(form).size(), expected.size());
        ASSERT_TRUE(runner.Running());
    }

    MouseButton(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
    ASSERT_TRUE(runner.WaitForExit());
    ASSERT_TRUE(starter.WaitForExit());
}

TEST_F(E2EHighDpi, PreviewAndSettingsDialogKeepTheSystemsDefault) {
    // A preview host of its own: this program is aware, and the system's own hosts need not be.
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "E2EDpiPreviewHost";
    RegisterClassA(&windowClass);
    HWND host = CreateWindowExA(0, windowClass.lpszClassName, "preview", WS_POPUP | WS_VISIBLE, 200, 150, 152, 112,
                                nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(host, nullptr);
    {
        TChildProcess preview = Start("/p " + std::to_string(reinterpret_cast<uintptr_t>(host)));
        ASSERT_TRUE(WaitUntil([&] { return !PlayerPuts(FRecord, 102).empty(); }, StartDeadlineMs));
        EXPECT_EQ(Awareness(), std::vector<std::string>(2, "unaware")) << "the check's control, then the movie's";
        SendWithTimeout(host, WM_CLOSE, 0, 0);
        DestroyWindow(host);
        EXPECT_TRUE(preview.WaitForExit());
    }
    DeleteFileA(FRecord.c_str());
    {
        TChildProcess configure = Start("/c");
        ASSERT_TRUE(WaitUntil([&] { return Awareness().size() >= 2; }, StartDeadlineMs));
        EXPECT_EQ(Awareness(), std::vector<std::string>(2, "unaware")) << "the check's control, then the dialog's";
    }
}

} // namespace
