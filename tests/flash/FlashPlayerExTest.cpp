// The dialog's movie control against the stand-in player: what its message filter lets through, the rectangle the
// in-place object is told, and the movie files it writes, loads and deletes.
#include "FlashControlFixture.h"

#include <cstring>

#include "flash/uFlashPlayerEx.h"
#include "forms/FileStream.h"
#include "support/uFileUrl.h"
#include "support/uSysUtils.h"

namespace {

// What the stand-in player records of the URL it was handed: its UTF-8 form.
std::string Utf8Of(const std::wstring& text) {
    std::string utf8(text.size() * 3 + 1, '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(),
                                      static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(static_cast<size_t>(n > 0 ? n : 0));
    return utf8;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TMemoryStream StreamOf(const std::string& bytes) {
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    // The player writes from the stream's start, wherever it stands.
    return stream;
}

// Claims more bytes than it ever yields, as a damaged store item would.
class TShortStream : public TStream {
public:
    int64_t GetSize() override { return 4096; }
    int32_t Read(void* buffer, int32_t count) override {
        if (FGiven >= 10 || count <= 0) return 0;
        std::memset(buffer, 'x', 1);
        ++FGiven;
        return 1;
    }
    int32_t Write(const void*, int32_t) override { return 0; }
    int64_t Seek64(int64_t, TSeekOrigin) override { return 0; }

private:
    int FGiven = 0;
};

class FlashPlayerExTest : public FlashControlTest {
protected:
    void SetUp() override {
        FlashControlTest::SetUp();
        TempFolder = TempFilePath("");
        ASSERT_FALSE(TempFolder.empty());
        Tag = std::to_string(GetCurrentProcessId());
    }
    void TearDown() override {
        for (const std::string& path : Leftovers)
            DeleteFileA(path.c_str());
        FlashControlTest::TearDown();
    }
    TFlashPlayerEx* NewPlayer(bool parented = true) {
        auto* player = new TFlashPlayerEx(Form);
        player->SetBounds(0, 0, 100, 80);
        if (parented) player->SetParent(Form);
        return player;
    }
    std::vector<std::string> MoviePuts() const { return Record("put 102 bstr "); }
    std::string Keep(const std::string& path) {
        Leftovers.push_back(path);
        return path;
    }

    std::string TempFolder;
    std::string Tag;
    std::vector<std::string> Leftovers;
};

TEST_F(FlashPlayerExTest, NoTimerMessageReachesTheMovieBeforeStartPlayAndNoneIsDroppedAfter) {
    TFlashPlayerEx* player = NewPlayer();
    HWND window = player->Handle();
    ASSERT_TRUE(DispatchTimerMessages(window, 4));
    EXPECT_EQ(SendMessageA(window, WM_TIMER, 1, 0), 0);
    EXPECT_EQ(CountMessages(WM_TIMER), 0u);
    EXPECT_TRUE(Record("call 28 ").empty());

    player->StartPlay();
    EXPECT_EQ(Record("call 28 ").size(), 1u);
    ASSERT_TRUE(DispatchTimerMessages(window, 5));
    EXPECT_EQ(CountMessages(WM_TIMER), 5u);
}

TEST_F(FlashPlayerExTest, RightButtonPressIsKeptBackOnlyWithoutMenu) {
    TFlashPlayerEx* player = NewPlayer();
    EXPECT_TRUE(player->ShowMenu());
    player->SetShowMenu(false);
    HWND window = player->Handle();
    for (UINT msg :
         {UINT{WM_RBUTTONDOWN}, UINT{WM_RBUTTONUP}, UINT{WM_LBUTTONDOWN}, UINT{WM_MOUSEMOVE}, UINT{WM_KEYDOWN}})
        SendMessageA(window, msg, 0, 0);
    EXPECT_EQ(CountMessages(WM_RBUTTONDOWN), 0u);
    for (UINT msg : {UINT{WM_RBUTTONUP}, UINT{WM_LBUTTONDOWN}, UINT{WM_MOUSEMOVE}, UINT{WM_KEYDOWN}})
        EXPECT_EQ(CountMessages(msg), 1u) << msg;

    player->SetShowMenu(true);
    SendMessageA(window, WM_RBUTTONDOWN, 0, 0);
    EXPECT_EQ(CountMessages(WM_RBUTTONDOWN), 1u);
}

TEST_F(FlashPlayerExTest, PreviewSleepSpacesCloseTimerMessagesAcrossTheTickWrap) {
    TFlashPlayerEx* player = NewPlayer();
    uint32_t now = 0;
    std::vector<uint32_t> sleptAt;
    player->TickCount = [&] { return now; };
    player->SleepFor = [&](uint32_t ms) {
        sleptAt.push_back(now);
        now += ms;
    };
    HWND window = player->Handle();
    player->StartPlay();
    auto timerAt = [&](uint32_t tick) {
        now = tick;
        SendMessageA(window, WM_TIMER, 1, 0);
    };

    // Off: never a sleep, however close.
    timerAt(1000);
    timerAt(1001);
    EXPECT_TRUE(sleptAt.empty());

    player->SetPreviewSleep(true);
    timerAt(5000); // long after the stamp of 0
    timerAt(5030); // 30 ms: sleeps, and the stamp is taken after the sleep (5080)
    timerAt(5100); // 20 ms after that stamp: sleeps again
    timerAt(5200); // exactly 50 ms after 5150: passes undelayed
    timerAt(0xFFFFFFF0u);
    timerAt(0x00000010u); // 32 ms later across the wrap
    timerAt(0x00000080u); // 62 ms after 0x42
    timerAt(0xFFFFFFE0u);
    timerAt(0x00000030u); // 80 ms later across the wrap: a signed difference would call it early
    EXPECT_EQ(sleptAt, (std::vector<uint32_t>{5030, 5100, 0x10}));
    // The sleep spaces the messages; it never drops one.
    EXPECT_EQ(CountMessages(WM_TIMER), 11u);
}

TEST_F(FlashPlayerExTest, SetBoundsTellsTheInPlaceObjectAtOnceEvenWithoutAWindow) {
    TFlashPlayerEx* player = NewPlayer(false);
    player->SetBounds(10, 20, 200, 100);
    ASSERT_FALSE(Record("SetObjectRects ").empty());
    EXPECT_EQ(Record("SetObjectRects ").back(), "SetObjectRects 10 20 210 120");

    player->SetParent(Form);
    HWND window = player->Handle();
    player->SetBounds(5, 6, 150, 90);
    EXPECT_EQ(Record("SetObjectRects ").back(), "SetObjectRects 5 6 155 96");
    RECT rect;
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, Form->Handle(), reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, 5);
    EXPECT_EQ(rect.top, 6);
    EXPECT_EQ(rect.right, 155);
    EXPECT_EQ(rect.bottom, 96);
}

TEST_F(FlashPlayerExTest, AMovieFromAStreamIsWrittenLoadedAndDeletedWithTheControl) {
    struct TCase {
        std::string Name;
        std::string Expected; // empty: a new name directly in the temporary folder
    };
    CreateDirectoryA((TempFolder + "mutone_movies." + Tag).c_str(), nullptr);
    const std::string fullPath = TempFolder + "mutone_movies." + Tag + "\\given.swf";
    const TCase cases[] = {
        {"dialog." + Tag + ".swf", TempFolder + "dialog." + Tag + ".swf"},
        {fullPath, fullPath},
        {"", ""},
        // Bare names that would leave the temporary folder or name a device.
        {"..", ""},
        {"../up." + Tag + ".swf", ""},
        {"sub/x.swf", ""},
        {"C:drive.swf", ""},
        {"CON.swf", ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        DeleteFileA(RecordPath.c_str());
        TFlashPlayerEx* player = NewPlayer();
        const std::string bytes = "FWS\x08movie for " + c.Name;
        TMemoryStream stream = StreamOf(bytes);
        const std::string path = Keep(player->LoadMovieFromStream(stream, c.Name));
        if (c.Expected.empty()) {
            EXPECT_EQ(ExtractFilePath(path), TempFolder);
            EXPECT_EQ(path.substr(path.size() - 4), ".swf");
        } else {
            EXPECT_EQ(path, c.Expected);
        }
        EXPECT_EQ(ReadFile(path), bytes);
        EXPECT_EQ(player->SWFFileName(), path);
        EXPECT_EQ(MoviePuts(),
                  std::vector<std::string>{"put 102 bstr " + Utf8Of(FileUrlFromPath(AnsiToWide(path)))});

        player->Free();
        EXPECT_FALSE(FileExists(path));
    }
    RemoveDirectoryA((TempFolder + "mutone_movies." + Tag).c_str());
}

TEST_F(FlashPlayerExTest, AFileItDidNotWriteIsNeverReplacedNorDeleted) {
    const std::string foreign = Keep(TempFolder + "foreign." + Tag + ".swf");
    WriteFile(foreign, "someone else's");

    TFlashPlayerEx* player = NewPlayer();
    TMemoryStream stream = StreamOf("FWS movie");
    const std::string path = Keep(player->LoadMovieFromStream(stream, ExtractFileName(foreign)));
    EXPECT_NE(path, foreign);
    EXPECT_EQ(ExtractFilePath(path), TempFolder);
    EXPECT_EQ(path.substr(path.size() - 4), ".swf");
    EXPECT_EQ(ReadFile(path), "FWS movie");
    EXPECT_EQ(ReadFile(foreign), "someone else's");

    // Its own file it may write again under the same name.
    TMemoryStream second = StreamOf("FWS second");
    EXPECT_EQ(player->LoadMovieFromStream(second, path), path);
    EXPECT_EQ(ReadFile(path), "FWS second");

    // A missing file changes nothing; a file loaded without ownership is the caller's.
    player->LoadMovie(TempFolder + "missing." + Tag + ".swf", true);
    EXPECT_EQ(player->SWFFileName(), path);
    player->LoadMovie(foreign, false);
    EXPECT_EQ(player->SWFFileName(), foreign);
    player->Free();
    EXPECT_EQ(ReadFile(foreign), "someone else's");
    // Loading another file without ownership gives up the one it wrote, which then stays.
    EXPECT_TRUE(FileExists(path));
}

TEST_F(FlashPlayerExTest, AFailedWriteLeavesNoFileAndKeepsTheMovie) {
    TFlashPlayerEx* player = NewPlayer();
    TMemoryStream good = StreamOf("FWS good");
    const std::string first = Keep(player->LoadMovieFromStream(good, ""));
    DeleteFileA(RecordPath.c_str());

    TShortStream damaged;
    const std::string name = "damaged." + Tag + ".swf";
    const std::string path = Keep(player->LoadMovieFromStream(damaged, name));
    EXPECT_EQ(path, TempFolder + name);
    EXPECT_FALSE(FileExists(path));
    EXPECT_TRUE(MoviePuts().empty());
    EXPECT_EQ(player->SWFFileName(), first);

    // Into a folder that does not exist: nothing written, nothing loaded.
    TMemoryStream stream = StreamOf("FWS");
    const std::string nowhere = TempFolder + "no-such-folder." + Tag + "\\m.swf";
    EXPECT_EQ(player->LoadMovieFromStream(stream, nowhere), nowhere);
    EXPECT_TRUE(MoviePuts().empty());
    EXPECT_EQ(player->SWFFileName(), first);
    player->Free();
    EXPECT_FALSE(FileExists(first));
}

} // namespace
