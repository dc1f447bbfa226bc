// Configure mode with content, from outside: the settings dialog's layout worked out from the rules (content on
// top, 4 pixels between the controls and below the last, centred in the widest of them + 16, the dialog centred
// in the work area of the main form's monitor), the ways to close it, the link opened in a registered browser,
// a movie as content, and hostile content names that must not reach outside the run's own folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "BMPBuilder.h"
#include "E2EContent.h"
#include "E2EProbe.h"
#include "PEBuilder.h"
#include "SWFBuilder.h"
#include "app/uContentKeys.h"
#include "forms/FileStream.h"
#include "store/uExeAdder.h"
#include "support/uSysUtils.h"

using namespace e2e;

namespace {

const char* const Guid = "{0B7E3C52-91D4-4A6B-8E2F-5C1A9D3B7F60}";
const wchar_t* const CloseCaption = L"\x9589\x3058\x308B(&C)";

// A picture in three colour bands, so that a screenshot shows where it sits and whether it was scaled.
std::vector<uint8_t> BandedPicture(int32_t width, int32_t height) {
    std::vector<uint32_t> pixels(static_cast<size_t>(width * height));
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            pixels[static_cast<size_t>(y * width + x)] = y < height / 3       ? 0xCC3311
                                                         : y < 2 * height / 3 ? 0x22AA44
                                                                              : 0x1144CC;
    return BuildBMP(MakeBitmap(pixels, width, height, 24, false));
}

RECT ClientRectOnScreen(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    return client;
}

// A child's rectangle relative to its parent's client area.
RECT ChildRect(HWND child) {
    RECT rect = WindowRect(child);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

HWND ChildOfClass(HWND parent, const std::string& className) {
    for (HWND child : Children(parent))
        if (ClassOf(child) == className) return child;
    return nullptr;
}

HWND ButtonOf(HWND dialog) {
    for (HWND child : Children(dialog))
        if (TextOfW(child) == CloseCaption) return child;
    return nullptr;
}

// The work area of the monitor that holds the point, as the system reports it.
RECT WorkAreaAt(POINT point) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoA(MonitorFromPoint(point, MONITOR_DEFAULTTONEAREST), &info);
    return info.rcWork;
}

// Saves the screen's pixels under rect as a 24-bit BMP file, an artefact for people to look at.
void SaveScreenshot(const RECT& rect, const std::string& path) {
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    std::vector<uint8_t> bits(stride * static_cast<size_t>(height));
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), bits.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER header{0x4D42, static_cast<DWORD>(14 + 40 + bits.size()), 0, 0, 14 + 40};
    std::vector<uint8_t> file(reinterpret_cast<uint8_t*>(&header), reinterpret_cast<uint8_t*>(&header) + 14);
    file.insert(file.end(), reinterpret_cast<uint8_t*>(&info.bmiHeader),
                reinterpret_cast<uint8_t*>(&info.bmiHeader) + 40);
    file.insert(file.end(), bits.begin(), bits.end());
    WriteFileBytes(path, file);
}

// A value under HKEY_LOCAL_MACHINE, put back as it was (absent or its old text) when destroyed; keys it had to
// create are deleted again.
class TMachineRegistryText {
public:
    TMachineRegistryText(const std::string& key, const std::string& data) : FKey(key) {
        HKEY handle = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) == ERROR_SUCCESS) {
            char old[1024];
            DWORD size = sizeof old, type = 0;
            FExisted =
                RegQueryValueExA(handle, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(old), &size) == ERROR_SUCCESS;
            if (FExisted) FOld.assign(old, size && old[size - 1] == 0 ? size - 1 : size);
            RegCloseKey(handle);
        } else {
            FCreated = true;
        }
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr);
        RegSetValueExA(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1));
        RegCloseKey(handle);
    }
    ~TMachineRegistryText() {
        HKEY handle = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FKey.c_str(), 0, KEY_WRITE, &handle) != ERROR_SUCCESS) return;
        if (FExisted)
            RegSetValueExA(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(FOld.c_str()),
                           static_cast<DWORD>(FOld.size() + 1));
        else
            RegDeleteValueA(handle, nullptr);
        RegCloseKey(handle);
        if (FCreated) RegDeleteTreeA(HKEY_LOCAL_MACHINE, FKey.c_str());
    }
    TMachineRegistryText(const TMachineRegistryText&) = delete;
    TMachineRegistryText& operator=(const TMachineRegistryText&) = delete;

private:
    std::string FKey, FOld;
    bool FExisted = false, FCreated = false;
};

// The browser recorder as the default browser, while it exists: what the program opens goes to its record.
struct TRecordingBrowser {
    TMachineRegistryText Client{"Software\\Clients\\StartMenuInternet", "MutoneTestBrowser"};
    TMachineRegistryText Command{"Software\\Clients\\StartMenuInternet\\MutoneTestBrowser\\shell\\open\\command",
                                 Quoted(MUTONE_BROWSER_RECORDER_PATH) + " -nohome \"%1\""};
};

class E2EDialog : public ::testing::Test {
protected:
    void SetUp() override {
        FItems = {
            {"GUID", Bytes(Guid), true},
            {ContentKey(TContentKey::Movie), BuildSWF(SimpleMovie(550, 400, 0x0000FF, false)), true},
            {DialogKey(TDialogKey::Caption), Bytes("Sample Clock settings"), true},
            {DialogKey(TDialogKey::CopyrightText), Bytes("(c) 2026 Example & Sons"), true},
            {DialogKey(TDialogKey::CopyrightLink), Bytes("example.com/clock"), true},
            {DialogKey(TDialogKey::CloseButton), {1}, false},
            {DialogKey(TDialogKey::PictureName), Bytes("logo.bmp"), true},
            {DialogKey(TDialogKey::Picture), BandedPicture(FPictureWidth, FPictureHeight), true},
        };
        FScreenSaver = FFolder.Path() + "Sample.scr";
        FRecord = FFolder.Path() + "player.txt";
        FBrowserRecord = FFolder.Path() + "browser.txt";
    }

    void Set(const std::string& name, std::vector<uint8_t> data) {
        for (TStoreItem& item : FItems)
            if (item.Name == name) {
                item.Data = std::move(data);
                return;
            }
        FItems.push_back({name, std::move(data), true});
    }
    void Remove(const std::string& name) {
        FItems.erase(std::remove_if(FItems.begin(), FItems.end(), [&](const TStoreItem& i) { return i.Name == name; }),
                     FItems.end());
    }

    // Packs the screensaver, starts it in configure mode and waits for the dialog.
    void Open(const std::string& arguments = " /c") {
        std::vector<uint8_t> file = ReadFileBytes(ScreenSaverPath());
        std::vector<uint8_t> store = BuildStore(FItems, 0x5A, static_cast<int64_t>(file.size()));
        file.insert(file.end(), store.begin(), store.end());
        WriteFileBytes(FScreenSaver, file);
        FSaver = TChildProcess::Start(
            Quoted(FScreenSaver) + arguments,
            EnvironmentBlock({{"MUTONE_PLAYER_RECORD", FRecord}, {"MUTONE_BROWSER_RECORD", FBrowserRecord}}));
        FDialog = WaitForProcessWindow(FSaver.Pid(), "TfrmDialog", true);
        ASSERT_NE(FDialog, nullptr) << "no settings dialog appeared";
        ASSERT_TRUE(Drain(FDialog));
    }

    void ExpectEndsWithZero() {
        ASSERT_TRUE(FSaver.WaitForExit()) << "the dialog's program did not end";
        EXPECT_EQ(FSaver.ExitCode(), 0u);
    }

    // The pointer is moved from outside Wine where it can be: a move Wine makes itself can be followed by one
    // back to where the pointer was, which may come between the press and the release and lose the click.
    // The dialog is made the active window first: a click that activates it races Wine's own focus change, which
    // can take the click's press from the window under the pointer.
    void ClickAt(POINT point) {
        if (GetForegroundWindow() != FDialog) SetForegroundWindow(FDialog);
        ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == FDialog; }, 2000));
        ASSERT_TRUE(MovePointerFromOutside(point) || MoveCursorTo(point));
        MouseButton(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
    }

    static POINT CentreOf(const RECT& rect) { return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}; }

    int32_t FPictureWidth = 240, FPictureHeight = 90;
    TTempFolder FFolder;
    std::string FScreenSaver, FRecord, FBrowserRecord;
    std::vector<TStoreItem> FItems;
    TChildProcess FSaver;
    HWND FDialog = nullptr;
};

TEST_F(E2EDialog, LaysOutPictureLinkAndButtonAndCentresOnTheMainFormsMonitor) {
    Open();
    EXPECT_EQ(TextOfA(FDialog), "Sample Clock settings");
    const DWORD style = Style(FDialog);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME)) << std::hex << style;

    HWND picture = ChildOfClass(FDialog, "TImage");
    HWND label = ChildOfClass(FDialog, "TSimpleWebLabelEx");
    HWND button = ButtonOf(FDialog);
    ASSERT_TRUE(picture && label && button);
    EXPECT_EQ(TextOfA(label), "(c) 2026 Example & Sons");
    const RECT labelRect = ChildRect(label);
    const int labelWidth = labelRect.right - labelRect.left, labelHeight = labelRect.bottom - labelRect.top;
    EXPECT_GT(labelWidth, 0);

    // Content 240 x 90 on top; the label (its own size) and the 100 x 20 button below, 4 pixels apart.
    const int clientWidth = std::max({FPictureWidth, labelWidth + 16, 100 + 16});
    const int clientHeight = FPictureHeight + 4 + labelHeight + 4 + 20 + 4;
    const RECT client = ClientRectOnScreen(FDialog);
    EXPECT_EQ(client.right - client.left, clientWidth);
    EXPECT_EQ(client.bottom - client.top, clientHeight);
    EXPECT_EQ(RectText(ChildRect(picture)),
              RectText({(clientWidth - FPictureWidth) / 2, 0, (clientWidth - FPictureWidth) / 2 + FPictureWidth,
                        FPictureHeight}));
    EXPECT_EQ(RectText(labelRect),
              RectText({(clientWidth - labelWidth) / 2, FPictureHeight + 4, (clientWidth - labelWidth) / 2 + labelWidth,
                        FPictureHeight + 4 + labelHeight}));
    const int buttonTop = FPictureHeight + 4 + labelHeight + 4;
    EXPECT_EQ(RectText(ChildRect(button)),
              RectText({(clientWidth - 100) / 2, buttonTop, (clientWidth - 100) / 2 + 100, buttonTop + 20}));

    // The main form sits at its design place (0, 2) on the primary monitor.
    const RECT work = WorkAreaAt({0, 2});
    const RECT window = WindowRect(FDialog);
    const int width = window.right - window.left, height = window.bottom - window.top;
    EXPECT_EQ(window.left, work.left + (work.right - work.left - width) / 2);
    EXPECT_EQ(window.top, work.top + (work.bottom - work.top - height) / 2);

    // The picture is drawn where the layout put it: its top band at its top-left corner.
    const RECT pictureOnScreen = WindowRect(picture);
    EXPECT_TRUE(WaitUntil(
        [&] { return ScreenPixel(pictureOnScreen.left + 2, pictureOnScreen.top + 2) == RGB(0xCC, 0x33, 0x11); }, 3000));
    // Every control has painted once the dialog's thread has handled what was queued; the picture painted first.
    ASSERT_TRUE(Drain(FDialog));
    Sleep(300);
    SaveScreenshot(window, BuiltFile("dialog-screenshot.bmp"));

    PressKey(VK_RETURN);
    ExpectEndsWithZero();
}

struct TCloseCase {
    const char* Name;
    int Way; // 0 Enter, 1 Esc, 2 the close button, 3 the close box
};
void PrintTo(const TCloseCase& c, std::ostream* out) {
    *out << c.Name;
}

class E2EDialogClose : public E2EDialog, public ::testing::WithParamInterface<TCloseCase> {};

TEST_P(E2EDialogClose, EndsTheProgramAndRemovesItsFiles) {
    Open();
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string contentFolder = std::string(temp) + Guid;
    EXPECT_TRUE(DirectoryExists(contentFolder)) << "the movie is written in configure mode too";
    if (GetForegroundWindow() != FDialog) SetForegroundWindow(FDialog);
    ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == FDialog; }, 2000));
    switch (GetParam().Way) {
    case 0:
        PressKey(VK_RETURN);
        break;
    case 1:
        PressKey(VK_ESCAPE);
        break;
    case 2:
        ClickAt(CentreOf(WindowRect(ButtonOf(FDialog))));
        break;
    case 3:
        PostMessageA(FDialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    }
    ExpectEndsWithZero();
    EXPECT_FALSE(DirectoryExists(contentFolder));
}

INSTANTIATE_TEST_SUITE_P(Ways, E2EDialogClose,
                         ::testing::Values(TCloseCase{"Enter", 0}, TCloseCase{"Escape", 1},
                                           TCloseCase{"CloseButton", 2}, TCloseCase{"CloseBox", 3}),
                         [](const ::testing::TestParamInfo<TCloseCase>& param) {
                             return std::string(param.param.Name);
                         });

TEST_F(E2EDialog, WithoutTextOrButtonTheContentStandsAlone) {
    Remove(DialogKey(TDialogKey::CopyrightText));
    Set(DialogKey(TDialogKey::CloseButton), {0});
    Open();
    EXPECT_FALSE(IsWindowVisible(ChildOfClass(FDialog, "TSimpleWebLabelEx")));
    EXPECT_FALSE(IsWindowVisible(ButtonOf(FDialog)));
    const RECT client = ClientRectOnScreen(FDialog);
    EXPECT_EQ(client.right - client.left, FPictureWidth);
    EXPECT_EQ(client.bottom - client.top, FPictureHeight + 4);
    PostMessageA(FDialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    ExpectEndsWithZero();
}

TEST_F(E2EDialog, APictureTooWideForTheSmallestScreenIsScaledDown) {
    // Wider than the narrowest monitor (800 with three monitors, 1024 with one), three times as wide as tall.
    FPictureWidth = 1500;
    FPictureHeight = 500;
    Set(DialogKey(TDialogKey::Picture), BandedPicture(FPictureWidth, FPictureHeight));
    Open();
    int narrowest = INT32_MAX;
    for (const RECT& monitor : MonitorRects()) {
        const RECT work = WorkAreaAt({monitor.left, monitor.top});
        narrowest = std::min<int>(narrowest, work.right - work.left);
    }
    const RECT window = WindowRect(FDialog), client = ClientRectOnScreen(FDialog);
    const int frameWidth = (window.right - window.left) - (client.right - client.left);
    const RECT picture = WindowRect(ChildOfClass(FDialog, "TImage"));
    const int expectedWidth = narrowest - frameWidth;
    EXPECT_EQ(picture.right - picture.left, expectedWidth);
    EXPECT_EQ(picture.bottom - picture.top, expectedWidth * 500 / 1500);
    PressKey(VK_ESCAPE);
    ExpectEndsWithZero();
}

TEST_F(E2EDialog, ClickingTheLinkOrThePictureOpensTheRegisteredBrowser) {
    const TRecordingBrowser browser;
    Open();
    const auto opened = [&] { return RecordLines(FBrowserRecord).size(); };
    ClickAt(CentreOf(WindowRect(ChildOfClass(FDialog, "TSimpleWebLabelEx"))));
    ASSERT_TRUE(WaitUntil([&] { return opened() >= 1; }, StartDeadlineMs)) << "a click on the link opened nothing";
    ClickAt(CentreOf(WindowRect(ChildOfClass(FDialog, "TImage"))));
    ASSERT_TRUE(WaitUntil([&] { return opened() >= 2; }, StartDeadlineMs)) << "a click on the picture opened nothing";
    for (const std::string& line : RecordLines(FBrowserRecord))
        EXPECT_EQ(line.substr(line.size() - std::string(" http://example.com/clock").size()),
                  " http://example.com/clock")
            << line;
    PressKey(VK_ESCAPE);
    ExpectEndsWithZero();
}

// The content's no-player text and link take the copyright line's place only where no player is installed.
TEST_F(E2EDialog, WithoutAPlayerTheNoPlayerTextTakesTheCopyrightLineAndOpensItsLink) {
    const TRecordingBrowser browser;
    Set(ContentKey(TContentKey::NoPlayerText), Bytes("No Flash player here & nothing to play"));
    Set(ContentKey(TContentKey::NoPlayerLink), Bytes("example.com/get-a-player"));
    Open();
    EXPECT_EQ(TextOfA(ChildOfClass(FDialog, "TSimpleWebLabelEx")), "(c) 2026 Example & Sons") << "with a player";
    PressKey(VK_ESCAPE);
    ExpectEndsWithZero();

    TNoPlayerInstalled noPlayer;
    ASSERT_TRUE(noPlayer);
    Open();
    EXPECT_EQ(TextOfA(FDialog), "Sample Clock settings");
    HWND label = ChildOfClass(FDialog, "TSimpleWebLabelEx");
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(IsWindowVisible(label));
    EXPECT_EQ(TextOfA(label), "No Flash player here & nothing to play");
    EXPECT_TRUE(IsWindowVisible(ChildOfClass(FDialog, "TImage"))) << "the picture needs no player";
    ClickAt(CentreOf(WindowRect(label)));
    ASSERT_TRUE(WaitUntil([&] { return !RecordLines(FBrowserRecord).empty(); }, StartDeadlineMs))
        << "a click on the text opened nothing";
    const std::string line = RecordLines(FBrowserRecord).front();
    const std::string expected = " http://example.com/get-a-player";
    EXPECT_EQ(line.substr(line.size() - std::min(line.size(), expected.size())), expected) << line;
    PressKey(VK_ESCAPE);
    ExpectEndsWithZero();
}

TEST_F(E2EDialog, AMovieAsContentPlaysAtItsFrameSizeAndIsDeletedAfterwards) {
    Set(DialogKey(TDialogKey::PictureName), Bytes("intro.SWF"));
    Set(DialogKey(TDialogKey::Picture), BuildSWF(SimpleMovie(320, 180, 0x00FF00, false)));
    Open();
    const auto puts = [&](const std::string& marker) {
        std::vector<std::string> values;
        for (const std::string& line : RecordLines(FRecord))
            if (line.find(marker) != std::string::npos) values.push_back(line);
        return values;
    };
    // The dialog's control is the only one created for the movie by name "intro.SWF".
    std::string movieUrl;
    for (const std::string& line : puts(" put 102 bstr "))
        if (line.find("intro.SWF") != std::string::npos) movieUrl = line.substr(line.find(" bstr ") + 6);
    ASSERT_FALSE(movieUrl.empty()) << "the dialog's movie was never assigned";
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    // The player gets the file's URL (the run's folder, named after the content's identifier, has its braces
    // escaped in it); the shell turns it back into the path.
    const std::string tempUrl = ShellFileUrl(temp);
    ASSERT_EQ(movieUrl.rfind(tempUrl, 0), 0u) << "the movie is written into the temporary directory: " << movieUrl;
    const std::string moviePath = ShellPathOfUrl(movieUrl);
    EXPECT_EQ(ShellFileUrl(moviePath), movieUrl);
    EXPECT_TRUE(FileExists(moviePath));
    bool showAll = false;
    for (const std::string& line : puts(" put 137 bstr "))
        showAll |= line.find("ShowAll") != std::string::npos;
    EXPECT_TRUE(showAll) << "the dialog's movie keeps its aspect ratio";

    // The movie control fills the content area at the movie's frame size.
    HWND movie = nullptr;
    for (HWND child : Children(FDialog))
        if (ClassOf(child) == "MutoneStandInPlayer") movie = child; // the stand-in player's own window
    ASSERT_NE(movie, nullptr);
    const RECT rect = ChildRect(movie);
    EXPECT_EQ(rect.right - rect.left, 320);
    EXPECT_EQ(rect.bottom - rect.top, 180);
    EXPECT_EQ(rect.top, 0);

    PressKey(VK_ESCAPE);
    ExpectEndsWithZero();
    EXPECT_FALSE(FileExists(moviePath)) << "the dialog's movie outlived the program";
}

// A dialog movie whose header the SWF reader rejects: the dialog stays a picture dialog without a movie control,
// configure mode still ends cleanly, and nothing of the run is left.
TEST_F(E2EDialog, AMovieThatCannotBeReadLeavesAnEmptyDialogAndNoFiles) {
    Set("GUID", Bytes("{3D8F1B6A-7C20-4E95-B1A4-0E6D2C8F9A57}"));
    Set(DialogKey(TDialogKey::PictureName), Bytes("broken.swf"));
    Set(DialogKey(TDialogKey::Picture), Bytes("CWS\x08\x10") /* cut short inside the header */);
    const std::string ours = FFolder.Path().substr(0, FFolder.Path().size() - 1);
    const std::set<std::string> before = TempTree(ours);
    Open();
    for (HWND child : Children(FDialog))
        EXPECT_NE(ClassOf(child), "MutoneStandInPlayer") << "a movie control for a movie that cannot be read";
    EXPECT_TRUE(IsWindowVisible(ButtonOf(FDialog)));
    PressKey(VK_ESCAPE);
    ExpectEndsWithZero();
    EXPECT_EQ(TempTree(ours), before) << "the run left something in the temporary directory";
}

// Names from a hostile store: nothing lands outside a folder of the run, nothing is left afterwards, and the
// movie of the run is never replaced by the dialog's.
TEST_F(E2EDialog, HostileContentNamesStayInsideTheRunsFolder) {
    Remove(DialogKey(TDialogKey::Picture));
    Set("GUID", Bytes("{5A0C7E19-2B64-4F3D-A8E1-6C9B0D2F4E73}"));
    const std::string ours = FFolder.Path().substr(0, FFolder.Path().size() - 1);
    const std::set<std::string> before = TempTree(ours);
    const std::string outside = FFolder.Path() + "evil.swf";
    for (const std::string& name :
         {std::string("..\\..\\evil.swf"), outside, std::string("CON.swf"), std::string("a:b.swf"),
          ContentKey(TContentKey::Movie) + ".swf", std::string(Guid) + ".swf"}) {
        SCOPED_TRACE(name);
        Set(DialogKey(TDialogKey::PictureName), Bytes(name));
        Set(DialogKey(TDialogKey::Picture), BuildSWF(SimpleMovie(64, 48, 0x00FF00, false)));
        Open();
        EXPECT_FALSE(FileExists(outside));
        PressKey(VK_ESCAPE);
        ExpectEndsWithZero();
        EXPECT_EQ(TempTree(ours), before) << "the run left something in the temporary directory";
    }
}

} // namespace
