// Run mode from outside: /s starts the copy that covers the desktop, input ends it, a second one gives way.
#include <gtest/gtest.h>

#include <cstdio>

#include "E2EProbe.h"

using namespace e2e;

namespace {

std::string Hex(unsigned long value) {
    char text[16];
    snprintf(text, sizeof text, "%06lx", value);
    return text;
}

// Distinct points inside the virtual desktop, away from its origin.
POINT MovePoint(int index) {
    const RECT desk = VirtualScreen();
    return {desk.left + 100 + 60 * index, desk.top + 80 + 40 * index};
}

// The visible full-screen form of the run-mode copy: a TfrmMain of a process other than the one the test started.
HWND WaitForRelaunchedForm(const TChildProcess& starter) {
    HWND form = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : WindowsOfClassOutside(starter.Pid(), "TfrmMain"))
                if (IsWindowVisible(window) && WindowProcess(window) != GetCurrentProcessId()) {
                    form = window;
                    return true;
                }
            return false;
        },
        StartDeadlineMs);
    return form;
}

class E2ERunMode : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ParkCursor()) << "the cursor did not move"; }
    TScreenSaverFlagReset FFlag;
};

TEST_F(E2ERunMode, SlashSRunsACopyThatCoversTheDesktopAndEndsOnTheFourthMove) {
    const std::vector<POINT> samples = SamplePoints();
    for (const POINT& p : samples)
        ASSERT_EQ(ScreenPixel(p.x, p.y), RootColour) << "something already covers " << p.x << "," << p.y;
    ASSERT_FALSE(ScreenSaverRunningFlag());
    // The layout the harness promises, so that "every monitor" means three of them where it says three.
    ASSERT_EQ(static_cast<int>(MonitorRects().size()), HarnessMonitors());
    const char* const expectedDesktop = HarnessMonitors() == 3 ? "(-1024,0,2080,1024)" : "(0,0,1024,768)";
    ASSERT_EQ(RectText(VirtualScreen()), expectedDesktop);

    TChildProcess starter = TChildProcess::Start(Quoted(ScreenSaverPath()) + " /s");
    HWND form = WaitForRelaunchedForm(starter);
    ASSERT_NE(form, nullptr) << "no run-mode form appeared";
    TChildProcess runner = TChildProcess::Open(WindowProcess(form));

    // The starter waits for the copy it started with /E.
    EXPECT_TRUE(starter.Running());
    const std::string path = ScreenSaverPath();
    EXPECT_EQ(ProcessCommandLine(runner.Handle()), L"\"" + std::wstring(path.begin(), path.end()) + L"\" /E");

    EXPECT_EQ(RectText(WindowRect(form)), expectedDesktop);
    const DWORD style = Style(form);
    EXPECT_TRUE(style & WS_POPUP) << Hex(style);
    EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME | WS_BORDER | WS_DLGFRAME | WS_CHILD), 0u) << Hex(style);
    EXPECT_TRUE(ExStyle(form) & WS_EX_TOPMOST) << Hex(ExStyle(form));
    EXPECT_TRUE(ScreenSaverRunningFlag());

    // Covered on every monitor.
    std::string uncovered;
    const bool black = WaitUntil(
        [&] {
            uncovered.clear();
            for (const POINT& p : samples)
                if (COLORREF c = ScreenPixel(p.x, p.y); c != Black)
                    uncovered += " " + std::to_string(p.x) + "," + std::to_string(p.y) + "=" + Hex(c);
            return uncovered.empty();
        },
        5000);
    EXPECT_TRUE(black) << "not black at" << uncovered;

    // No taskbar button: the application window is a hidden tool window and owns the form.
    const std::vector<HWND> applications = ProcessWindows(runner.Pid(), "TApplication");
    ASSERT_EQ(applications.size(), 1u);
    EXPECT_TRUE(ExStyle(applications[0]) & WS_EX_TOOLWINDOW);
    EXPECT_FALSE(IsWindowVisible(applications[0]));
    EXPECT_EQ(GetWindow(form, GW_OWNER), applications[0]);

    // Keys reach only the thread of the active window, and the screensaver's keyboard hook is a hook of its
    // own thread: a form that does not take the foreground cannot be ended by a key.
    EXPECT_EQ(GetForegroundWindow(), form) << "the run-mode form did not become the foreground window";

    // The cursor is hidden; the system reports the show count of the foreground thread, the form's.
    if (GetForegroundWindow() != form) SetForegroundWindow(form);
    ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == form; }, 2000));
    CURSORINFO cursor{};
    cursor.cbSize = sizeof cursor;
    ASSERT_TRUE(GetCursorInfo(&cursor));
    EXPECT_EQ(cursor.flags & CURSOR_SHOWING, 0u) << "the cursor is showing";

    for (int move = 0; move < 3; ++move) {
        ASSERT_TRUE(MoveCursorTo(MovePoint(move)));
        ASSERT_TRUE(Drain(form));
        ASSERT_TRUE(runner.StaysUp()) << "ended after move " << move + 1;
    }
    ASSERT_TRUE(MoveCursorTo(MovePoint(3)));
    ASSERT_TRUE(runner.WaitForExit()) << "the fourth move did not end the screensaver";
    EXPECT_EQ(runner.ExitCode(), 0u);
    ASSERT_TRUE(starter.WaitForExit());
    EXPECT_EQ(starter.ExitCode(), 0u);
    EXPECT_FALSE(ScreenSaverRunningFlag());
}

struct TEndingInput {
    const char* Name;
    void (*Send)();
};
void PrintTo(const TEndingInput& input, std::ostream* out) {
    *out << input.Name;
}

class E2ERunModeEndsOn : public E2ERunMode, public ::testing::WithParamInterface<TEndingInput> {};

TEST_P(E2ERunModeEndsOn, InputAtOnce) {
    TChildProcess runner = TChildProcess::Start(Quoted(ScreenSaverPath()) + " /e");
    HWND form = WaitForProcessWindow(runner.Pid(), "TfrmMain", true);
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(Drain(form));
    ASSERT_TRUE(runner.StaysUp()) << "ended before any input";
    // Keys reach the thread of the active window only. Whether the form takes the foreground by itself is
    // checked in the /s case; here it is given the foreground so that every input kind is tried.
    if (GetForegroundWindow() != form) SetForegroundWindow(form);
    ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == form; }, 2000));
    GetParam().Send();
    ASSERT_TRUE(runner.WaitForExit()) << GetParam().Name << " did not end the screensaver";
    EXPECT_EQ(runner.ExitCode(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, E2ERunModeEndsOn,
    ::testing::Values(TEndingInput{"LeftClick", [] { MouseButton(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP); }},
                      TEndingInput{"RightClick", [] { MouseButton(MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP); }},
                      TEndingInput{"MiddleClick", [] { MouseButton(MOUSEEVENTF_MIDDLEDOWN, MOUSEEVENTF_MIDDLEUP); }},
                      TEndingInput{"Wheel", [] { MouseWheel(WHEEL_DELTA); }},
                      TEndingInput{"LetterKey", [] { PressKey('A'); }},
                      TEndingInput{"ShiftKey", [] { PressKey(VK_SHIFT); }}),
    [](const ::testing::TestParamInfo<TEndingInput>& param) { return std::string(param.param.Name); });

TEST_F(E2ERunMode, SecondSlashSEndsAtOnceAndTheFirstKeepsRunning) {
    TChildProcess first = TChildProcess::Start(Quoted(ScreenSaverPath()) + " /s");
    HWND form = WaitForRelaunchedForm(first);
    ASSERT_NE(form, nullptr);
    TChildProcess runner = TChildProcess::Open(WindowProcess(form));
    ASSERT_TRUE(Drain(form));

    TChildProcess second = TChildProcess::Start(Quoted(ScreenSaverPath()) + " /s");
    ASSERT_TRUE(second.WaitForExit()) << "the second screensaver did not give way";
    EXPECT_EQ(second.ExitCode(), 0u);

    EXPECT_TRUE(runner.Running());
    EXPECT_TRUE(first.Running());
    EXPECT_TRUE(IsWindowVisible(form));
    std::vector<HWND> visibleForms;
    for (HWND window : WindowsOfClassOutside(GetCurrentProcessId(), "TfrmMain"))
        if (IsWindowVisible(window)) visibleForms.push_back(window);
    EXPECT_EQ(visibleForms, std::vector<HWND>{form});
    // The copy that gave way did not run, so it must not have cleared what the running one set.
    EXPECT_TRUE(ScreenSaverRunningFlag());

    MouseButton(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
    ASSERT_TRUE(runner.WaitForExit());
    EXPECT_EQ(runner.ExitCode(), 0u);
    ASSERT_TRUE(first.WaitForExit());
    EXPECT_FALSE(ScreenSaverRunningFlag());
}

} // namespace
