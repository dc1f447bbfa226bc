// The main form's movie control: what its message filter lets through to the stand-in player, and how the main
// form creates one.
#include "FlashControlFixture.h"

#include "app/uMain.h"
#include "flash/uFlashUtils.h"

namespace {

bool IsInputMessage(uint32_t msg) {
    return (msg >= 0x200 && msg <= 0x20A) || (msg >= 0x100 && msg <= 0x108) || (msg >= 0x2C0 && msg <= 0x2DF) ||
           (msg >= 0x380 && msg <= 0x38F);
}

TEST(MovieBlockedMessages, DependOnModeAndRightClick) {
    struct TCase {
        TScreenSaverMode Mode;
        bool AllowRightClick;
        bool BlocksRightPress;
        bool BlocksInput;
    };
    const TCase cases[] = {
        {ssmRun, true, false, false},    {ssmRun, false, true, false},     {ssmPreview, true, true, true},
        {ssmPreview, false, true, true}, {ssmConfigure, true, true, true}, {ssmNone, false, true, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << int(c.Mode) << " right click " << c.AllowRightClick);
        const std::vector<uint32_t> blocked = MovieBlockedMessages(c.Mode, c.AllowRightClick);
        auto blocks = [&](uint32_t msg) { return std::find(blocked.begin(), blocked.end(), msg) != blocked.end(); };
        EXPECT_EQ(blocks(WM_RBUTTONDOWN), c.BlocksRightPress);
        for (uint32_t msg = 0xF0; msg < 0x3A0; ++msg) {
            if (msg == WM_RBUTTONDOWN) continue;
            EXPECT_EQ(blocks(msg), c.BlocksInput && IsInputMessage(msg)) << msg;
        }
        EXPECT_FALSE(blocks(WM_TIMER));
    }
}

class MovieControlTest : public FlashControlTest {
protected:
    TShockwaveFlashEx* NewMovie(TScreenSaverMode mode, bool allowRightClick, bool throttle = false) {
        auto* movie = new TShockwaveFlashEx(Form, Form->Handle(), mode == ssmPreview, throttle);
        movie->SetBlockedMessages(MovieBlockedMessages(mode, allowRightClick));
        movie->SetBounds(0, 0, 100, 80);
        movie->SetParent(Form);
        return movie;
    }
    size_t CountInputMessages() const {
        size_t count = 0;
        for (const std::string& line : Record("msg "))
            if (IsInputMessage(std::stoul(line.substr(4, 6), nullptr, 16))) ++count;
        return count;
    }
};

TEST_F(MovieControlTest, InPreviewNoInputReachesThePlayerWhetherSentOrPosted) {
    TShockwaveFlashEx* movie = NewMovie(ssmPreview, true);
    HWND window = movie->Handle();
    for (uint32_t msg = 0x100; msg < 0x390; ++msg) {
        if (!IsInputMessage(msg)) continue;
        SendMessageA(window, msg, 0, 0);
        PostMessageA(window, msg, 0, 0);
    }
    const UINT marker = WM_APP + 7;
    PostMessageA(window, marker, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return CountMessages(marker) == 1; }));
    EXPECT_EQ(CountInputMessages(), 0u);
}

TEST_F(MovieControlTest, InRunModeOnlyTheRightButtonPressIsKeptBack) {
    TShockwaveFlashEx* movie = NewMovie(ssmRun, false);
    HWND window = movie->Handle();
    for (UINT msg :
         {UINT{WM_RBUTTONDOWN}, UINT{WM_RBUTTONUP}, UINT{WM_LBUTTONDOWN}, UINT{WM_KEYDOWN}, UINT{WM_MOUSEMOVE}})
        SendMessageA(window, msg, 0, 0);
    EXPECT_EQ(CountMessages(WM_RBUTTONDOWN), 0u);
    EXPECT_EQ(CountMessages(WM_RBUTTONUP), 1u);
    EXPECT_EQ(CountMessages(WM_LBUTTONDOWN), 1u);
    EXPECT_EQ(CountMessages(WM_KEYDOWN), 1u);
}

TEST_F(MovieControlTest, PreviewTimerStandsStillWhileTheMainWindowIsHidden) {
    TShockwaveFlashEx* movie = NewMovie(ssmPreview, true);
    HWND window = movie->Handle();
    ASSERT_TRUE(DispatchTimerMessages(window, 2));
    const size_t shown = CountMessages(WM_TIMER);
    EXPECT_GE(shown, 2u);

    ShowWindow(Form->Handle(), SW_HIDE);
    ASSERT_TRUE(DispatchTimerMessages(window, 5));
    EXPECT_EQ(CountMessages(WM_TIMER), shown);

    ShowWindow(Form->Handle(), SW_SHOWNOACTIVATE);
    ASSERT_TRUE(DispatchTimerMessages(window, 2));
    EXPECT_EQ(CountMessages(WM_TIMER), shown + 2);
}

TEST_F(MovieControlTest, RunModeTimerIgnoresTheMainWindowButStopsWhenClosing) {
    TShockwaveFlashEx* movie = NewMovie(ssmRun, true);
    HWND window = movie->Handle();
    ShowWindow(Form->Handle(), SW_HIDE);
    ASSERT_TRUE(DispatchTimerMessages(window, 3));
    const size_t running = CountMessages(WM_TIMER);
    EXPECT_EQ(running, 3u);

    movie->SetClosing(true);
    ASSERT_TRUE(DispatchTimerMessages(window, 5));
    EXPECT_EQ(CountMessages(WM_TIMER), running);
    // Closing holds back the timer only.
    SendMessageA(window, WM_LBUTTONDOWN, 0, 0);
    EXPECT_EQ(CountMessages(WM_LBUTTONDOWN), 1u);
}

// Timer messages that follow each other at once are spaced 50 ms apart, and none is dropped. Only the lower bound is
// measured: a loaded machine can only make the messages slower.
TEST_F(MovieControlTest, ThrottledPreviewTimerMessagesAreSpacedAndAllPass) {
    TShockwaveFlashEx* movie = NewMovie(ssmPreview, true, true);
    HWND window = movie->Handle();
    SendMessageA(window, WM_TIMER, 1, 0); // the first one is stamped
    const DWORD start = GetTickCount();
    for (int i = 0; i < 3; ++i)
        SendMessageA(window, WM_TIMER, 1, 0);
    EXPECT_GE(GetTickCount() - start, 3 * 50u - 15); // less the tick count's granularity
    EXPECT_EQ(CountMessages(WM_TIMER), 4u);
}

// The main form in the mode of this test program's command line (none: configure mode).
class CreateMovieControlTest : public FlashControlTest {
protected:
    void SetUp() override {
        FlashControlTest::SetUp();
        Main = new TfrmMain(Application);
    }
    TfrmMain* Main = nullptr;
};

TEST_F(CreateMovieControlTest, CreatesAParentedFilteredControlAndLiftsSecurityOnNewPlayers) {
    for (const char* dll : {"mutone_player10.dll", "mutone_player7.dll"}) {
        SCOPED_TRACE(dll);
        const bool recent = std::string(dll) == "mutone_player10.dll";
        ASSERT_TRUE(RegisterStandInPlayer(ExeDirectory() + dll));
        // What the movie set-up learns once per run, here for the player just registered.
        Main->Flash = AskFlashInstallation();
        DeleteFileA(RecordPath.c_str());
        Main->AllowRightClick = !recent;
        std::wstring command;
        TShockwaveFlashEx* movie =
            CreateMovieControl(*Main, [&](const std::wstring& c, const std::wstring&) { command = c; });
        ASSERT_EQ(Main->MovieControls.back(), movie);
        EXPECT_EQ(movie->Owner(), Main);
        EXPECT_EQ(movie->Parent(), Main);
        EXPECT_EQ(GetParent(movie->Handle()), Main->Handle());
        EXPECT_EQ(movie->MainWindow(), Main->Handle());
        EXPECT_EQ(movie->Preview(), Main->ScreenSaver->Mode() == ssmPreview);
        EXPECT_EQ(movie->BlockedMessages(), MovieBlockedMessages(Main->ScreenSaver->Mode(), Main->AllowRightClick));
        EXPECT_EQ(Record("call 95 ").size(), recent ? 1u : 0u);

        RequestFSCommand("quit\n");
        SendMessageA(movie->Handle(), RegisterWindowMessageA("MutonePlayerCheckTrigger"), 0, 0);
        EXPECT_EQ(command, L"quit");
    }
    EXPECT_EQ(Main->MovieControls.size(), 2u);
}

} // namespace
