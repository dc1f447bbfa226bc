// A screensaver with a packed movie, from outside: the store behind the .scr gives the movie, its settings and an
// extra file; the stand-in player receives them on every monitor; the files lie in the temporary folder while it
// runs and are gone when it ends, by input or by the movie's "quit" command.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "E2EContent.h"
#include "E2EProbe.h"
#include "PEBuilder.h"
#include "SWFBuilder.h"
#include "app/uContentKeys.h"
#include "store/uExeAdder.h"
#include "support/uSysUtils.h"

using namespace e2e;

namespace {

const char* const Guid = "{6F1C2A0E-3B7D-4C55-9A1E-2D4F6B8C0A13}";

std::vector<uint8_t> Int32(int32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class E2EMovie : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ParkCursor()) << "the cursor did not move";
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        FContentFolder = std::string(temp) + Guid + "\\";
        FMovie = BuildSWF(SimpleMovie(550, 400, 0x0000FF, false));
        FItems = {
            {"GUID", Bytes(Guid), true},
            {ContentKey(TContentKey::MovieFileName), Bytes("sample.swf"), true},
            {ContentKey(TContentKey::Loop), {1}, false},
            {ContentKey(TContentKey::FlashVars), Bytes("a=1&b=2"), true},
            {ContentKey(TContentKey::MonitorLayout), Int32(2), false},
            {ContentKey(TContentKey::Movie), FMovie, true},
            {ContentKey(TContentKey::ExtraFileCount), Int32(1), false},
            {ContentKey(TContentKey::ExtraFileName, 0), Bytes("data\\notes.txt"), true},
            {ContentKey(TContentKey::ExtraFileData, 0), Bytes("hello"), true},
        };
        FScreenSaver = FFolder.Path() + "Sample.scr";
        FRecord = FFolder.Path() + "player.txt";
        FTrigger = FFolder.Path() + "trigger.txt";
    }

    // Writes the screensaver with the store of FItems behind it.
    void Pack() {
        std::vector<uint8_t> file = ReadFileBytes(ScreenSaverPath());
        std::vector<uint8_t> store = BuildStore(FItems, 0x5A, static_cast<int64_t>(file.size()));
        file.insert(file.end(), store.begin(), store.end());
        WriteFileBytes(FScreenSaver, file);
    }

    // Packs, starts the screensaver with /s and waits until every movie control has its movie.
    void StartAndWaitForMovies() {
        Pack();
        FStarter = TChildProcess::Start(
            Quoted(FScreenSaver) + " /s",
            EnvironmentBlock({{"MUTONE_PLAYER_RECORD", FRecord}, {"MUTONE_PLAYER_TRIGGER", FTrigger}}));
        const size_t monitors = MonitorRects().size();
        ASSERT_TRUE(WaitUntil([&] { return PutsOf(102).size() >= monitors; }, StartDeadlineMs))
            << "the movie did not reach every control";
        FRunner = RunModeCopy(FStarter);
        ASSERT_TRUE(FRunner) << "no run-mode copy";
    }

    size_t CountOf(const std::string& event) {
        const std::vector<std::string> lines = RecordLines(FRecord);
        return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(event) != std::string::npos;
        }));
    }

    std::vector<std::string> PutsOf(int dispId) { return PlayerPuts(FRecord, dispId); }

    TScreenSaverFlagReset FFlag;
    TTempFolder FFolder;
    std::string FContentFolder, FScreenSaver, FRecord, FTrigger;
    std::vector<uint8_t> FMovie;
    std::vector<TStoreItem> FItems;
    TChildProcess FStarter, FRunner;
};

TEST_F(E2EMovie, PlaysOnEveryMonitorAndLeavesNothingBehind) {
    StartAndWaitForMovies();
    const size_t monitors = MonitorRects().size();
    const std::vector<std::string> movies = PutsOf(102);
    EXPECT_EQ(movies.size(), monitors) << "one control per monitor";
    for (const std::string& movie : movies)
        EXPECT_EQ(movie, "bstr " + ShellFileUrl(FContentFolder + "sample.swf"));
    const std::vector<std::string> vars = PutsOf(170);
    ASSERT_EQ(vars.size(), monitors);
    EXPECT_EQ(vars.front(), "bstr a=1&b=2&mutonemode=normal") << "the content's variables come first";
    EXPECT_EQ(PutsOf(106), std::vector<std::string>(monitors, "bool -1")) << "Loop";
    // Run mode always sets a scale; the content chose none, so every movie gets the default.
    EXPECT_EQ(PutsOf(137), std::vector<std::string>(monitors, "bstr showall"));

    // One instance for the run's checks of the installed control, however many controls it makes, and one per
    // control: every further check of the run is answered without creating another.
    EXPECT_EQ(CountOf(" create "), monitors + 1);

    EXPECT_EQ(ReadFileBytes(FContentFolder + "sample.swf"), FMovie);
    EXPECT_EQ(ReadFileBytes(FContentFolder + "notes.txt"), Bytes("hello")) << "stored folders are dropped";

    MouseButton(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
    ASSERT_TRUE(FRunner.WaitForExit()) << "a click did not end it";
    EXPECT_EQ(FRunner.ExitCode(), 0u);
    ASSERT_TRUE(FStarter.WaitForExit());
    EXPECT_FALSE(Exists(FContentFolder)) << "the temporary folder outlived the screensaver";
    EXPECT_EQ(CountOf(" call 29 "), monitors) << "every movie is stopped";
}

TEST_F(E2EMovie, QuitCommandEndsRunMode) {
    StartAndWaitForMovies();
    const std::string staged = FTrigger + ".new";
    WriteFileBytes(staged, Bytes("QUIT\n\n"));
    ASSERT_TRUE(MoveFileA(staged.c_str(), FTrigger.c_str()));
    ASSERT_TRUE(FRunner.WaitForExit()) << "\"quit\" did not end it";
    EXPECT_EQ(FRunner.ExitCode(), 0u);
    ASSERT_TRUE(FStarter.WaitForExit());
    EXPECT_FALSE(Exists(FContentFolder));
}

// Once the movies have theirs, the run-mode form takes the foreground by itself: keys reach only the thread of the
// active window, where the keyboard hook sits.
TEST_F(E2EMovie, TakesTheForegroundOnceTheMoviesPlay) {
    StartAndWaitForMovies();
    HWND form = nullptr;
    for (HWND window : ProcessWindows(FRunner.Pid(), "TfrmMain"))
        if (IsWindowVisible(window)) form = window;
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == form; }, 5000))
        << "the run-mode form did not take the foreground";
    PressKey('A');
    ASSERT_TRUE(FRunner.WaitForExit()) << "a key did not end it";
    ASSERT_TRUE(FStarter.WaitForExit());
}

// The content can keep input from ending the screensaver and show the cursor; closing the form still ends it.
TEST_F(E2EMovie, ContentThatKeepsInputFromEndingIt) {
    FItems.push_back({ContentKey(TContentKey::EndOnMouse), {0}, false});
    FItems.push_back({ContentKey(TContentKey::EndOnKey), {0}, false});
    FItems.push_back({ContentKey(TContentKey::ShowCursor), {1}, false});
    StartAndWaitForMovies();
    HWND form = nullptr;
    for (HWND window : WindowsOfClassOutside(FStarter.Pid(), "TfrmMain"))
        if (WindowProcess(window) == FRunner.Pid() && IsWindowVisible(window)) form = window;
    ASSERT_NE(form, nullptr);
    if (GetForegroundWindow() != form) SetForegroundWindow(form);
    ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == form; }, 2000));
    CURSORINFO cursor{};
    cursor.cbSize = sizeof cursor;
    ASSERT_TRUE(GetCursorInfo(&cursor));
    EXPECT_EQ(cursor.flags & CURSOR_SHOWING, DWORD{CURSOR_SHOWING}) << "the content asked for the cursor";

    const RECT desk = VirtualScreen();
    for (int move = 0; move < 6; ++move)
        MoveMouseTo(desk.left + 100 + 50 * move, desk.top + 100 + 30 * move);
    MouseButton(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
    PressKey('A');
    // The input has reached the screensaver once the movies have it: the click over one of them, the key from the
    // form, which handled it first. Then everything the form had queued meanwhile is handled too.
    ASSERT_TRUE(
        WaitUntil([&] { return CountOf(" msg 0x0202 ") >= 1 && CountOf(" msg 0x0101 0x41 ") >= 1; }, StartDeadlineMs))
        << "the input never reached the screensaver";
    EXPECT_TRUE(Drain(form));
    EXPECT_TRUE(FRunner.StaysUp()) << "input ended a screensaver whose content said it must not";

    PostMessageA(form, WM_CLOSE, 0, 0);
    ASSERT_TRUE(FRunner.WaitForExit());
    EXPECT_EQ(FRunner.ExitCode(), 0u);
    ASSERT_TRUE(FStarter.WaitForExit());
    EXPECT_FALSE(Exists(FContentFolder));
}

// Three moves to new positions are tolerated wherever the cursor rests when the screensaver starts: the move that
// the window appearing under it gets is none of the user's. The pointer moves from outside Wine, as a user's mouse
// moves it (see MovePointerFromOutside). An ending run stops its movies at once, about two seconds before its
// process is gone, so "still running" is read from the players, once the form has handled the move.
TEST_F(E2EMovie, ThreeMovesAreToleratedWhereverTheCursorRests) {
    const std::vector<RECT> monitors = MonitorRects();
    ASSERT_FALSE(monitors.empty());
    // Each control covers its monitor, so a move over it arrives at the point's offset from the monitor's corner.
    const auto monitorOf = [&](POINT point) {
        for (const RECT& monitor : monitors)
            if (PtInRect(&monitor, point)) return monitor;
        return RECT{};
    };
    // Points well inside the monitors, each at an offset of its own, none of them the desktop's corner.
    const auto pointOn = [&](size_t index, int step) {
        const RECT& monitor = monitors[index % monitors.size()];
        return POINT{monitor.left + 120 + 45 * step, monitor.top + 90 + 35 * step};
    };
    const POINT rest = pointOn(0, 5);
    ASSERT_TRUE(MovePointerFromOutside(rest)) << "xdotool could not move the pointer";
    StartAndWaitForMovies();

    const auto movesAt = [&](POINT point) {
        const RECT monitor = monitorOf(point);
        char move[64];
        std::snprintf(move, sizeof move, " msg 0x0200 0x0 0x%lX",
                      static_cast<unsigned long>(MAKELPARAM(point.x - monitor.left, point.y - monitor.top)));
        return CountOf(move);
    };
    // The window that appeared under the resting cursor gets a move there, which must not count; Wine gives it in
    // most runs, not all, so it is waited for only briefly. It reaches the control under the cursor.
    WaitUntil([&] { return movesAt(rest) > 0; }, 1000);

    const auto stopped = [&] { return CountOf(" call 29 ") > 0; };
    // Waits until the control under point has had the move there and then a message posted after it: the form's
    // copy of the move, posted by its hook before the control had its own, has been handled by then (or it ended).
    const auto delivered = [&](POINT point, int step) {
        if (!WaitUntil([&] { return movesAt(point) > 0 || stopped(); }, StartDeadlineMs)) return false;
        if (stopped()) return true;
        HWND control = WindowFromPoint(point);
        const UINT marker = WM_APP + 0x123;
        if (!control || !PostMessageA(control, marker, static_cast<WPARAM>(step), 0)) return false;
        char handled[64];
        std::snprintf(handled, sizeof handled, " msg 0x%04X 0x%X 0x0", marker, step);
        return WaitUntil([&] { return CountOf(handled) > 0 || stopped(); }, StartDeadlineMs);
    };

    for (int step = 0; step < 3; ++step) {
        const POINT point = pointOn(static_cast<size_t>(step) + 1, step);
        ASSERT_TRUE(MovePointerFromOutside(point));
        ASSERT_TRUE(delivered(point, step)) << "move " << step + 1 << " did not arrive";
        ASSERT_FALSE(stopped()) << "move " << step + 1 << " ended it";
    }
    EXPECT_TRUE(FRunner.Running());
    ASSERT_TRUE(MovePointerFromOutside(pointOn(0, 1)));
    ASSERT_TRUE(WaitUntil(stopped, StartDeadlineMs)) << "the fourth move did not end it";
    ASSERT_TRUE(FRunner.WaitForExit());
    EXPECT_EQ(FRunner.ExitCode(), 0u);
    EXPECT_EQ(CountOf(" call 29 "), monitors.size()) << "every movie is stopped";
}

} // namespace
