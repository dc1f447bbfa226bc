// Preview mode from outside: the screensaver lives in a window of the test, as in the Display Properties dialog.
#include <gtest/gtest.h>

#include "E2EProbe.h"

using namespace e2e;

namespace {

class E2EPreview : public ::testing::Test {
protected:
    TPreviewHost FHost;
};

TEST_F(E2EPreview, LivesInTheHostIgnoresInputAndEndsOnClose) {
    ASSERT_NE(FHost.Window(), nullptr);
    TChildProcess saver = TChildProcess::Start(Quoted(ScreenSaverPath()) + " /p " + FHost.Argument());
    HWND form = WaitForChildForm(FHost.Window());
    ASSERT_NE(form, nullptr) << "no form appeared in the host window";
    EXPECT_EQ(WindowProcess(form), saver.Pid());
    EXPECT_EQ(GetParent(form), FHost.Window());
    EXPECT_EQ(Style(form), static_cast<DWORD>(WS_CHILD | WS_DISABLED | WS_VISIBLE))
        << std::hex << "style 0x" << Style(form);
    EXPECT_EQ(RectText(WindowRect(form)), RectText(FHost.ScreenClientRect()));

    // No pixels are compared here: Wine 8 draws no child window that belongs to another process (a plain
    // black child of another process stays invisible as well), so the host's white would show either way.
    const RECT host = FHost.ScreenClientRect();

    // Real input over the preview: moves, a click and a key.
    for (int move = 0; move < 5; ++move) {
        MoveMouseTo(host.left + 10 + 20 * move, host.top + 10 + 15 * move);
        WaitUntil([&] { return CursorAt(host.left + 10 + 20 * move, host.top + 10 + 15 * move); }, 2000);
    }
    MouseButton(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
    PressKey('A');
    // The form is disabled, so the system gives it no input at all: its own handling is tried with messages.
    for (int move = 0; move < 5; ++move)
        PostMessageA(form, WM_MOUSEMOVE, 0, MAKELPARAM(5 + 7 * move, 5 + 3 * move));
    PostMessageA(form, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
    PostMessageA(form, WM_KEYDOWN, 'A', 1);
    ASSERT_TRUE(Drain(form));
    EXPECT_TRUE(saver.StaysUp()) << "input ended the preview";

    // The host closes it.
    ASSERT_TRUE(SendWithTimeout(form, WM_CLOSE, 0, 0));
    ASSERT_TRUE(saver.WaitForExit()) << "WM_CLOSE did not end the preview";
    EXPECT_EQ(saver.ExitCode(), 0u);
    EXPECT_EQ(FindChildForm(FHost.Window()), nullptr);
}

TEST_F(E2EPreview, EndsWhenTheHostIsDestroyed) {
    ASSERT_NE(FHost.Window(), nullptr);
    TChildProcess saver = TChildProcess::Start(Quoted(ScreenSaverPath()) + " /p " + FHost.Argument());
    HWND form = WaitForChildForm(FHost.Window());
    ASSERT_NE(form, nullptr);
    FHost.Destroy();
    ASSERT_TRUE(saver.WaitForExit()) << "the preview outlived its host window";
    EXPECT_EQ(saver.ExitCode(), 0u);
}

// No usable window: without a second argument, or with a number that names no window.
struct TNoHost {
    const char* Name;
    const char* Arguments;
};
void PrintTo(const TNoHost& c, std::ostream* out) {
    *out << c.Name;
}

class E2EPreviewWithout : public ::testing::TestWithParam<TNoHost> {};

TEST_P(E2EPreviewWithout, HostGivesAZeroSizedFormThatEndsWhenClosed) {
    ASSERT_FALSE(IsWindow(reinterpret_cast<HWND>(12345))) << "12345 happens to name a window in this session";
    TChildProcess saver = TChildProcess::Start(Quoted(ScreenSaverPath()) + " " + GetParam().Arguments);
    HWND form = WaitForProcessWindow(saver.Pid(), "TfrmMain", false);
    ASSERT_NE(form, nullptr) << "no form was created";
    ASSERT_TRUE(Drain(form));
    const RECT rect = WindowRect(form);
    EXPECT_EQ(rect.right - rect.left, 0) << RectText(rect);
    EXPECT_EQ(rect.bottom - rect.top, 0) << RectText(rect);
    EXPECT_EQ(GetAncestor(form, GA_PARENT), GetDesktopWindow());
    EXPECT_TRUE(saver.StaysUp()) << "the preview ended by itself";

    ASSERT_TRUE(SendWithTimeout(form, WM_CLOSE, 0, 0));
    ASSERT_TRUE(saver.WaitForExit()) << "WM_CLOSE did not end the preview";
    EXPECT_EQ(saver.ExitCode(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, E2EPreviewWithout,
                         ::testing::Values(TNoHost{"NoHandle", "/p"}, TNoHost{"NotAWindow", "/p 12345"}),
                         [](const ::testing::TestParamInfo<TNoHost>& param) { return std::string(param.param.Name); });

} // namespace
