// Finding and starting the default browser against the Wine prefix's registry, with a stand-in browser that
// records the command line it was started with.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ui/uBrowser.h"

namespace {

const char kClientsKey[] = "Software\\Clients\\StartMenuInternet";
const char kClientName[] = "MutoneTestBrowser";
const char kHtmKey[] = "Software\\Classes\\.htm";
const char kHtmType[] = "MutoneTest.htmfile";
const char kHttpCommandKey[] = "Software\\Classes\\http\\shell\\open\\command";

// A key's default value for the length of a test: set to a text or removed, and put back as it was afterwards
// (a key that did not exist is deleted again, with what the test put below it).
class TScopedDefault {
public:
    TScopedDefault(HKEY root, std::string path, std::optional<std::string> value) : FRoot(root), FPath(path) {
        HKEY key;
        FExisted = RegOpenKeyExA(root, FPath.c_str(), 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS;
        if (FExisted) {
            DWORD size = 0;
            if (RegQueryValueExA(key, nullptr, nullptr, &FType, nullptr, &size) == ERROR_SUCCESS) {
                FOld.resize(size);
                FHadValue = RegQueryValueExA(key, nullptr, nullptr, &FType, FOld.data(), &size) == ERROR_SUCCESS;
            }
            RegCloseKey(key);
        }
        Apply(value);
    }
    ~TScopedDefault() {
        if (!FExisted) {
            RegDeleteTreeA(FRoot, FPath.c_str());
            return;
        }
        HKEY key;
        if (RegOpenKeyExA(FRoot, FPath.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
        if (FHadValue)
            RegSetValueExA(key, nullptr, 0, FType, FOld.data(), static_cast<DWORD>(FOld.size()));
        else
            RegDeleteValueA(key, nullptr);
        RegCloseKey(key);
    }
    TScopedDefault(const TScopedDefault&) = delete;
    TScopedDefault& operator=(const TScopedDefault&) = delete;

private:
    void Apply(const std::optional<std::string>& value) {
        HKEY key;
        if (!value) {
            if (RegOpenKeyExA(FRoot, FPath.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
                RegDeleteValueA(key, nullptr);
                RegCloseKey(key);
            }
            return;
        }
        ASSERT_EQ(RegCreateKeyExA(FRoot, FPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS)
            << FPath;
        RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                       static_cast<DWORD>(value->size() + 1));
        RegCloseKey(key);
    }

    HKEY FRoot;
    std::string FPath;
    bool FExisted = false;
    bool FHadValue = false;
    DWORD FType = REG_SZ;
    std::vector<BYTE> FOld;
};

class BrowserWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        RecordPath = std::string(temp) + "mutone_browser_record." + std::to_string(GetCurrentProcessId());
        DeleteFileA(RecordPath.c_str());
        SetEnvironmentVariableA("MUTONE_BROWSER_RECORD", RecordPath.c_str());
        Recorder = ExeDirectory() + "ui_browser_recorder.exe";
        // Nothing of the prefix's own: each test says what is registered.
        Keep(HKEY_LOCAL_MACHINE, kClientsKey, std::nullopt);
        Keep(HKEY_CURRENT_USER, kClientsKey, std::nullopt);
        Keep(HKEY_LOCAL_MACHINE, kHtmKey, std::nullopt);
        Keep(HKEY_LOCAL_MACHINE, kHttpCommandKey, std::nullopt);
    }
    void TearDown() override {
        // Last set, first restored: a key set twice ends as it was before the first.
        while (!Scoped.empty())
            Scoped.pop_back();
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            RegDeleteTreeA(root, (std::string(kClientsKey) + "\\" + kClientName).c_str());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string("Software\\Classes\\") + kHtmType).c_str());
        DeleteFileA(RecordPath.c_str());
    }

    void Keep(HKEY root, const std::string& path, std::optional<std::string> value) {
        Scoped.push_back(std::make_unique<TScopedDefault>(root, path, std::move(value)));
    }
    void RegisterClient(HKEY root, const std::string& command) {
        Keep(root, std::string(kClientsKey) + "\\" + kClientName + "\\shell\\open\\command", command);
    }
    void RegisterHtmProgram(const std::string& command) {
        Keep(HKEY_LOCAL_MACHINE, kHtmKey, std::string(kHtmType));
        Keep(HKEY_LOCAL_MACHINE, std::string("Software\\Classes\\") + kHtmType + "\\shell\\open\\command", command);
    }

    // The first command line the stand-in browser recorded, waiting up to about fifteen seconds for it.
    std::string RecordedCommandLine() const {
        for (int i = 0; i < 300; ++i) {
            std::ifstream file(RecordPath);
            std::string line;
            if (std::getline(file, line) && !line.empty()) return line;
            Sleep(50);
        }
        return {};
    }

    std::string RecordPath;
    std::string Recorder;
    std::vector<std::unique_ptr<TScopedDefault>> Scoped;
};

TEST_F(BrowserWinTest, TheMachinesClientIsStartedWithTheUnquotedNormalisedURL) {
    Keep(HKEY_LOCAL_MACHINE, kClientsKey, std::string(" ") + kClientName + "\t");
    RegisterClient(HKEY_LOCAL_MACHINE, "\"" + Recorder + "\" -osint -url \"%1\"");
    EXPECT_EQ(GetDefaultBrowserCommand(), Recorder);

    OpenURL("www.example.com/a b");
    EXPECT_EQ(RecordedCommandLine(), "\"" + Recorder + "\" http://www.example.com/a%20b");
}

TEST_F(BrowserWinTest, TheUsersClientNameTakesTheMachinesCommand) {
    Keep(HKEY_CURRENT_USER, kClientsKey, std::string(kClientName));
    RegisterClient(HKEY_LOCAL_MACHINE, "\"" + Recorder + "\" \"%1\"");
    // The user's own command for that name is never read.
    RegisterClient(HKEY_CURRENT_USER, "C:\\nowhere\\user.exe %1");
    TBrowser browser(nullptr);
    EXPECT_EQ(browser.BrowserCommand(), Recorder);
}

TEST_F(BrowserWinTest, WithoutAClientTheHtmProgramIsUsedAlsoFromAFolderWithADash) {
    const std::string folder = ExeDirectory() + "Stand-in Browser";
    const std::string program = folder + "\\recorder.exe";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(Recorder.c_str(), program.c_str(), FALSE));
    // A client name without a command counts as none.
    Keep(HKEY_LOCAL_MACHINE, kClientsKey, std::string(kClientName));
    RegisterHtmProgram("\"" + program + "\" -nohome \"%1\"");

    TBrowser browser(nullptr);
    EXPECT_EQ(browser.BrowserCommand(), program);
    browser.SetURL("https://example.org/x");
    browser.Open();
    EXPECT_EQ(RecordedCommandLine(), "\"" + program + "\" https://example.org/x");
    DeleteFileA(program.c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST_F(BrowserWinTest, EnvironmentReferencesInTheCommandAreExpanded) {
    SetEnvironmentVariableA("MUTONE_BROWSER_DIR", ExeDirectory().c_str());
    Keep(HKEY_LOCAL_MACHINE, kClientsKey, std::string(kClientName));
    RegisterClient(HKEY_LOCAL_MACHINE, "\"%MUTONE_BROWSER_DIR%ui_browser_recorder.exe\" %1");
    EXPECT_EQ(GetDefaultBrowserCommand(), Recorder);
    // One that does not fit the command's 260 characters counts as none.
    SetEnvironmentVariableA("MUTONE_BROWSER_DIR", (ExeDirectory() + std::string(300, 'x') + "\\").c_str());
    EXPECT_EQ(GetDefaultBrowserCommand(), "");
    SetEnvironmentVariableA("MUTONE_BROWSER_DIR", nullptr);
}

TEST_F(BrowserWinTest, WithoutAnyBrowserTheShellOpensTheURL) {
    Keep(HKEY_LOCAL_MACHINE, kHttpCommandKey, "\"" + Recorder + "\" \"%1\"");
    TBrowser browser(nullptr);
    EXPECT_EQ(browser.BrowserCommand(), "");
    browser.SetURL("www.example.net");
    EXPECT_EQ(browser.URL(), "http://www.example.net");
    browser.Open();
    EXPECT_NE(RecordedCommandLine().find("http://www.example.net"), std::string::npos) << RecordedCommandLine();
}

TEST_F(BrowserWinTest, AutoOpensANewURLThroughTheShellAtOnce) {
    Keep(HKEY_LOCAL_MACHINE, kHttpCommandKey, "\"" + Recorder + "\" \"%1\"");
    TBrowser browser(nullptr);
    browser.SetAuto(true);
    browser.SetURL("http://example.com/auto");
    EXPECT_NE(RecordedCommandLine().find("http://example.com/auto"), std::string::npos) << RecordedCommandLine();
}

} // namespace
