// The Windows 9x password services from outside: stand-in libraries planted in the system folder, the messages
// of the password-change mode, and the password check that may keep the screensaver running.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "E2EProbe.h"

using namespace e2e;

namespace {

std::string SystemLibrary(const char* name) {
    return SystemDirectory() + "\\" + name;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM data) {
    if (ClassOf(child) == "Static") reinterpret_cast<std::vector<std::wstring>*>(data)->push_back(TextOfW(child));
    return TRUE;
}

// The message text of a message box: the static control 0xFFFF, or else any static text of the box.
std::vector<std::wstring> MessageTexts(HWND box) {
    std::vector<std::wstring> texts;
    wchar_t text[1024] = {};
    if (GetDlgItemTextW(box, 0xFFFF, text, 1024) > 0) texts.push_back(text);
    EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

std::string Narrow(const std::wstring& text) {
    std::string utf8(text.size() * 4 + 1, '\0');
    utf8.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                                        utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr)));
    return utf8;
}

// --- password change (/a) ---

// No window is shown, however briefly (the configure tests show that the recorder sees a window that is).
TEST(E2EChangePassword, WithTheSystemLibraryEndsSilently) {
    TTempFolder folder;
    const std::string shown = folder.Path() + "shown.txt";
    TShowRecorder recorder;
    ASSERT_TRUE(recorder) << "the show recorder could not be set";
    TChildProcess saver =
        TChildProcess::Start(Quoted(ScreenSaverPath()) + " /a", EnvironmentBlock({{"MUTONE_E2E_SHOWN", shown}}));
    ASSERT_TRUE(saver.WaitForExit()) << "password-change mode did not end";
    EXPECT_EQ(saver.ExitCode(), 0u);
    EXPECT_EQ(RecordLines(shown), std::vector<std::string>{}) << "a window of the program was shown";
}

struct TFakeMpr {
    const char* Name;
    const char* Library;
    const wchar_t* Message;
    std::vector<std::string> Record;
};
void PrintTo(const TFakeMpr& c, std::ostream* out) {
    *out << c.Name;
}

class E2EChangePasswordWith : public ::testing::TestWithParam<TFakeMpr> {};

TEST_P(E2EChangePasswordWith, StandInLibraryShowsTheErrorMessage) {
    TTempFolder folder;
    const std::string record = folder.Path() + "record.txt";
    // Wine prefers its own built-in mpr.dll; an override for this program makes the loader take the planted
    // file. It has to be the registry's: a child's WINEDLLOVERRIDES comes from its parent's Unix environment,
    // whatever the environment block says.
    TUserRegistryValue native("Software\\Wine\\AppDefaults\\mutone.scr\\DllOverrides", "mpr", "native");
    TPlantedFile planted(BuiltFile(GetParam().Library), SystemLibrary("MPR.DLL"));
    TChildProcess saver =
        TChildProcess::Start(Quoted(ScreenSaverPath()) + " /a", EnvironmentBlock({{"MUTONE_E2E_RECORD", record}}));

    HWND box = WaitForProcessWindow(saver.Pid(), "#32770", true);
    ASSERT_NE(box, nullptr) << "no message box appeared; running " << saver.Running() << ", record "
                            << ::testing::PrintToString(RecordLines(record)) << ", windows " << [&] {
                                   std::string list;
                                   for (HWND w : ProcessWindows(saver.Pid(), ""))
                                       list += ClassOf(w) + (IsWindowVisible(w) ? "+ " : "- ");
                                   return list;
                               }();
    const std::vector<std::wstring> texts = MessageTexts(box);
    EXPECT_NE(std::find(texts.begin(), texts.end(), std::wstring(GetParam().Message)), texts.end())
        << "message box texts: " << ::testing::PrintToString([&] {
               std::vector<std::string> utf8;
               for (const std::wstring& t : texts)
                   utf8.push_back(Narrow(t));
               return utf8;
           }());
    EXPECT_EQ(RecordLines(record), GetParam().Record);
    EXPECT_TRUE(saver.Running()) << "the program did not wait for the message to be read";

    HWND ok = GetDlgItem(box, IDOK);
    ASSERT_NE(ok, nullptr) << "the message box has no OK button";
    ASSERT_TRUE(SendWithTimeout(ok, BM_CLICK, 0, 0));
    ASSERT_TRUE(saver.WaitForExit()) << "pressing OK did not end the program";
    EXPECT_EQ(saver.ExitCode(), 0u);
    EXPECT_TRUE(ProcessWindows(saver.Pid(), "").empty());
}

INSTANTIATE_TEST_SUITE_P(Libraries, E2EChangePasswordWith,
                         ::testing::Values(TFakeMpr{"ChangeFails",
                                                    "e2e_mpr_fails.dll",
                                                    L"パスワードの変更に失敗しました",
                                                    {"loaded MPR.DLL", "PwdChangePasswordA SCRSAVE TfrmMain 0 0"}},
                                           TFakeMpr{"EntryMissing",
                                                    "e2e_mpr_without_entry.dll",
                                                    L"パスワードダイアログが表示できませんでした",
                                                    {"loaded MPR.DLL"}}),
                         [](const ::testing::TestParamInfo<TFakeMpr>& param) { return std::string(param.param.Name); });

// --- the password check of run mode ---

POINT MovePoint(int index) {
    const RECT desk = VirtualScreen();
    return {desk.left + 120 + 50 * index, desk.top + 90 + 30 * index};
}

class E2ERunPassword : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ParkCursor()) << "the cursor did not move"; }

    std::string Environment() const { return EnvironmentBlock({{"MUTONE_E2E_RECORD", FRecord}}); }
    size_t Verifications(const std::string& outcome) const {
        const std::vector<std::string> lines = RecordLines(FRecord);
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), "VerifyScreenSavePwd " + outcome));
    }
    static std::string SystemCpl() { return SystemLibrary("Password.CPL"); }
    static void Click() { MouseButton(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP); }

    TScreenSaverFlagReset FFlag;
    TUserRegistryValue FUsePassword{"Control Panel\\Desktop", "ScreenSaveUsePassword", DWORD{1}};
    TTempFolder FFolder;
    std::string FRecord = FFolder.Path() + "record.txt";
};

TEST_F(E2ERunPassword, RejectedPasswordKeepsRunningAndStartsTheMoveCountAgain) {
    auto planted = std::make_unique<TPlantedFile>(BuiltFile("e2e_password_rejects.dll"), SystemCpl());
    TChildProcess saver = TChildProcess::Start(Quoted(ScreenSaverPath()) + " /e", Environment());
    HWND form = WaitForProcessWindow(saver.Pid(), "TfrmMain", true);
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(Drain(form));

    Click();
    ASSERT_TRUE(WaitUntil([&] { return Verifications("rejected") > 0; }, 5000)) << "the password was not checked";
    ASSERT_TRUE(Drain(form));
    ASSERT_TRUE(saver.StaysUp()) << "a rejected password ended the screensaver";
    const size_t rejected = Verifications("rejected");

    for (int move = 0; move < 3; ++move) {
        ASSERT_TRUE(MoveCursorTo(MovePoint(move)));
        ASSERT_TRUE(Drain(form));
        ASSERT_TRUE(saver.StaysUp());
        EXPECT_EQ(Verifications("rejected"), rejected) << "move " << move + 1 << " was not tolerated";
    }
    ASSERT_TRUE(MoveCursorTo(MovePoint(3)));
    EXPECT_TRUE(WaitUntil([&] { return Verifications("rejected") == rejected + 1; }, 5000))
        << "the fourth move did not check the password";
    ASSERT_TRUE(Drain(form));
    ASSERT_TRUE(saver.StaysUp());

    // The library is loaded for every attempt: with one that accepts in its place, the next click ends it.
    planted.reset();
    planted = std::make_unique<TPlantedFile>(BuiltFile("e2e_password_accepts.dll"), SystemCpl());
    Click();
    ASSERT_TRUE(saver.WaitForExit()) << "an accepted password did not end the screensaver";
    EXPECT_EQ(saver.ExitCode(), 0u);
    EXPECT_GE(Verifications("accepted"), 1u);
}

TEST_F(E2ERunPassword, AcceptedPasswordEndsIt) {
    TPlantedFile planted(BuiltFile("e2e_password_accepts.dll"), SystemCpl());
    TChildProcess saver = TChildProcess::Start(Quoted(ScreenSaverPath()) + " /e", Environment());
    HWND form = WaitForProcessWindow(saver.Pid(), "TfrmMain", true);
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(Drain(form));
    Click();
    ASSERT_TRUE(saver.WaitForExit());
    EXPECT_EQ(saver.ExitCode(), 0u);
    EXPECT_EQ(Verifications("accepted"), 1u);
    EXPECT_EQ(Verifications("rejected"), 0u);
}

// A library of that name beside the program (or in its current folder) is never the system's.
TEST_F(E2ERunPassword, LibraryBesideTheProgramIsNeverLoaded) {
    ASSERT_EQ(GetFileAttributesA(SystemCpl().c_str()), INVALID_FILE_ATTRIBUTES) << SystemCpl() << " exists";
    const std::string program = FFolder.Path() + "mutone.scr";
    ASSERT_TRUE(CopyFileA(ScreenSaverPath().c_str(), program.c_str(), FALSE));
    ASSERT_TRUE(
        CopyFileA(BuiltFile("e2e_password_rejects.dll").c_str(), (FFolder.Path() + "Password.CPL").c_str(), FALSE));
    TChildProcess saver = TChildProcess::Start(Quoted(program) + " /e", Environment(), FFolder.Path());
    HWND form = WaitForProcessWindow(saver.Pid(), "TfrmMain", true);
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(Drain(form));
    Click();
    ASSERT_TRUE(saver.WaitForExit()) << "the planted library kept the screensaver running";
    EXPECT_EQ(saver.ExitCode(), 0u);
    EXPECT_EQ(RecordLines(FRecord), std::vector<std::string>{}) << "the planted library was loaded";
}

} // namespace
