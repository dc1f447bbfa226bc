// Configure mode, an unknown switch, the application title and the window-procedure answers, from outside.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "E2EProbe.h"

using namespace e2e;

namespace {

// --- configure mode ---

struct TConfigureCase {
    const char* Name;
    const char* Arguments;
};
void PrintTo(const TConfigureCase& c, std::ostream* out) {
    *out << c.Name;
}

class E2EConfigure : public ::testing::TestWithParam<TConfigureCase> {};

// Every spelling of configure mode shows the settings dialog, even with no content behind the program, and the
// program ends with it. The dialog is the one window it ever shows, however briefly: the main form never is.
TEST_P(E2EConfigure, ShowsTheSettingsDialogAndEndsWithIt) {
    TTempFolder folder;
    const std::string shown = folder.Path() + "shown.txt";
    TShowRecorder recorder;
    ASSERT_TRUE(recorder) << "the show recorder could not be set";
    TChildProcess saver = TChildProcess::Start(Quoted(ScreenSaverPath()) + GetParam().Arguments,
                                               EnvironmentBlock({{"MUTONE_E2E_SHOWN", shown}}));
    HWND dialog = WaitForProcessWindow(saver.Pid(), "TfrmDialog", true);
    ASSERT_NE(dialog, nullptr) << "no settings dialog appeared";
    ASSERT_TRUE(SendWithTimeout(dialog, WM_SYSCOMMAND, SC_CLOSE, 0));
    ASSERT_TRUE(saver.WaitForExit()) << "closing the dialog did not end configure mode";
    EXPECT_EQ(saver.ExitCode(), 0u);
    const std::vector<std::string> lines = RecordLines(shown);
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), std::set<std::string>{"shown TfrmDialog"});
}

INSTANTIATE_TEST_SUITE_P(Switches, E2EConfigure,
                         ::testing::Values(TConfigureCase{"NoArgument", ""}, TConfigureCase{"SlashC", " /c"},
                                           TConfigureCase{"SlashCWithHandle", " /c:1234"},
                                           TConfigureCase{"DashUpperC", " -C"}, TConfigureCase{"BareC", " c"}),
                         [](const ::testing::TestParamInfo<TConfigureCase>& param) {
                             return std::string(param.param.Name);
                         });

// --- an unknown switch ---

// A screensaver started with an unknown switch: the bare form, up until it is closed.
class E2EUnknownSwitch : public ::testing::Test {
protected:
    void Start(const std::string& program = ScreenSaverPath()) {
        FSaver = TChildProcess::Start(Quoted(program) + " /x");
        FForm = WaitForProcessWindow(FSaver.Pid(), "TfrmMain", true);
        ASSERT_NE(FForm, nullptr) << "no form appeared";
        const std::vector<HWND> applications = ProcessWindows(FSaver.Pid(), "TApplication");
        ASSERT_EQ(applications.size(), 1u);
        FApplication = applications[0];
    }
    void CloseAndExpectEnd() {
        ASSERT_TRUE(SendWithTimeout(FForm, WM_CLOSE, 0, 0));
        ASSERT_TRUE(FSaver.WaitForExit()) << "WM_CLOSE did not end the program";
        EXPECT_EQ(FSaver.ExitCode(), 0u);
    }

    std::unique_ptr<TTempFolder> FFolder; // outlives the process started from it
    TChildProcess FSaver;
    HWND FForm = nullptr;
    HWND FApplication = nullptr;
};

TEST_F(E2EUnknownSwitch, ShowsTheBareFormAtItsDesignBoundsUntilClosed) {
    const POINT inside{88, 90};
    ASSERT_EQ(ScreenPixel(inside.x, inside.y), RootColour) << "something already covers the form's place";
    Start();
    EXPECT_EQ(RectText(WindowRect(FForm)), RectText(RECT{0, 2, 176, 178}));
    EXPECT_EQ(Style(FForm) & (WS_POPUP | WS_CAPTION | WS_THICKFRAME | WS_BORDER | WS_CHILD), DWORD{WS_POPUP})
        << std::hex << "style 0x" << Style(FForm);
    EXPECT_TRUE(ExStyle(FForm) & WS_EX_TOPMOST);
    EXPECT_EQ(GetWindow(FForm, GW_CHILD), nullptr) << "something plays on the form";
    EXPECT_TRUE(WaitUntil([&] { return ScreenPixel(inside.x, inside.y) == Black; }, 5000)) << "the form is not black";
    EXPECT_FALSE(IsWindowVisible(FApplication));
    EXPECT_TRUE(ExStyle(FApplication) & WS_EX_TOOLWINDOW);
    // Only run mode hides the cursor. This is also what makes the run-mode check of the cursor meaningful: the
    // system reports the cursor of the foreground thread, and here it must be showing.
    if (GetForegroundWindow() != FForm) SetForegroundWindow(FForm);
    ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == FForm; }, 2000));
    CURSORINFO cursor{};
    cursor.cbSize = sizeof cursor;
    ASSERT_TRUE(GetCursorInfo(&cursor));
    EXPECT_EQ(cursor.flags & CURSOR_SHOWING, DWORD{CURSOR_SHOWING});
    EXPECT_TRUE(FSaver.StaysUp());
    CloseAndExpectEnd();
}

TEST_F(E2EUnknownSwitch, AnswersTheRequestToStartAScreensaverWithOne) {
    Start();
    LRESULT result = 0;
    ASSERT_TRUE(SendWithTimeout(FForm, WM_SYSCOMMAND, SC_SCREENSAVE, 0, &result));
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(FSaver.StaysUp());
    CloseAndExpectEnd();
}

// The application window comes back hidden when something shows it. The framework timer's tick (every second)
// hides it as well, so this shows that the window is kept hidden, not which of the two ticks did it.
TEST_F(E2EUnknownSwitch, KeepsTheApplicationWindowHidden) {
    Start();
    ASSERT_FALSE(IsWindowVisible(FApplication));
    // Showing a window of another thread waits until that thread has shown it; the worker may hide it again
    // before this thread looks, so it is shown until it is seen.
    bool seen = false;
    for (int attempt = 0; attempt < 50 && !seen; ++attempt) {
        ShowWindow(FApplication, SW_SHOWNA);
        seen = IsWindowVisible(FApplication) != FALSE;
    }
    ASSERT_TRUE(seen) << "the application window could not be shown";
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(FApplication); }, 3000))
        << "the application window stayed visible";
    CloseAndExpectEnd();
}

// The title is the long file name without its extension, also when the program is started by its short name.
TEST_F(E2EUnknownSwitch, TitleIsTheLongFileNameWithoutExtension) {
    FFolder = std::make_unique<TTempFolder>();
    const std::string longPath = FFolder->Path() + "My Long Screen Saver.scr";
    ASSERT_TRUE(CopyFileA(ScreenSaverPath().c_str(), longPath.c_str(), FALSE));
    char shortPath[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameA(longPath.c_str(), shortPath, MAX_PATH), 0u);
    const std::string shortName = std::string(shortPath).substr(std::string(shortPath).find_last_of('\\') + 1);
    ASSERT_EQ(shortName.find(' '), std::string::npos) << "no short name: " << shortPath;
    ASSERT_NE(shortName, "My Long Screen Saver.scr");

    Start(shortPath);
    std::string title;
    EXPECT_TRUE(WaitUntil([&] { return (title = TextOfA(FApplication)) == "My Long Screen Saver"; }, 5000))
        << "title \"" << title << "\" for " << shortPath;
    CloseAndExpectEnd();
}

} // namespace
