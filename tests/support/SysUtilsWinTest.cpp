#include <windows.h>

#include <regex>
#include <set>

#include <gtest/gtest.h>

#include "PEBuilder.h"
#include "TestSupport.h"
#include "forms/Forms.h"
#include "support/uSysUtils.h"

namespace {

const char kUserKey[] = "Software\\MutoneTests\\Support";
const char kClasses[] = "Software\\Classes";

// A file type under HKLM\Software\Classes, which is what HKEY_CLASSES_ROOT reads on Wine (and one of the two
// hives it merges on Windows).
struct TTestType {
    const char* Extension;
    const char* TypeName; // null: the extension has no type name
    const char* Command;  // null: the type has no open command
};

const TTestType kTypes[] = {
    {".mtsquoted", "MutoneTest.Quoted", "\"C:\\Program Files\\Test Browser\\browser.exe\" -nohome \"%1\""},
    {".mtsplain", "MutoneTest.Plain", "C:\\TestBrowser\\browser.exe %1"},
    {".mtsargquoted", "MutoneTest.ArgQuoted", "C:\\TestBrowser\\browser.exe \"%1\""},
    {".mtsunbalanced", "MutoneTest.Unbalanced", "\"C:\\Test Browser\\browser.exe /dde %1"},
    {".mtsnocommand", "MutoneTest.NoCommand", nullptr},
    {".mtsnotype", nullptr, nullptr},
};

void SetString(HKEY root, const std::string& keyPath, const char* name, const std::string& value) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << keyPath;
    EXPECT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void SetRaw(HKEY root, const std::string& keyPath, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
}

class SupportRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        SetString(HKEY_CURRENT_USER, kUserKey, "Padded", " \t  padded value\t \r\n");
        SetString(HKEY_CURRENT_USER, kUserKey, "Long300", std::string(300, 'x'));
        SetString(HKEY_CURRENT_USER, kUserKey, "Fits254", std::string(254, 'y'));
        SetString(HKEY_CURRENT_USER, kUserKey, "Over255", std::string(255, 'z'));
        SetString(HKEY_CURRENT_USER, kUserKey, "Empty", "");
        SetRaw(HKEY_CURRENT_USER, kUserKey, "Binary", REG_BINARY, "hi", 2);
        DWORD number = 0x01020304;
        SetRaw(HKEY_CURRENT_USER, kUserKey, "Number", REG_DWORD, &number, sizeof(number));
        SetString(HKEY_CURRENT_USER, std::string(kUserKey) + "\\Clients\\StartMenuInternet", "", "  Test Browser\t");
        for (const TTestType& type : kTypes) {
            std::string extensionKey = std::string(kClasses) + "\\" + type.Extension;
            if (!type.TypeName) {
                SetString(HKEY_LOCAL_MACHINE, extensionKey, "Content Type", "text/x-test");
                continue;
            }
            SetString(HKEY_LOCAL_MACHINE, extensionKey, "", type.TypeName);
            std::string typeKey = std::string(kClasses) + "\\" + type.TypeName;
            if (type.Command)
                SetString(HKEY_LOCAL_MACHINE, typeKey + "\\shell\\open\\command", "", type.Command);
            else
                SetString(HKEY_LOCAL_MACHINE, typeKey, "", "A type without an open command");
        }
    }
    void TearDown() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\MutoneTests");
        for (const TTestType& type : kTypes) {
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kClasses) + "\\" + type.Extension).c_str());
            if (type.TypeName)
                RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kClasses) + "\\" + type.TypeName).c_str());
        }
    }
};

TEST_F(SupportRegistry, ReadValueReportsDataAndSize) {
    DWORD number = 0;
    uint32_t size = sizeof(number);
    ASSERT_TRUE(RegReadValue(HKEY_CURRENT_USER, kUserKey, "Number", &number, size));
    EXPECT_EQ(number, 0x01020304u);
    EXPECT_EQ(size, 4u);

    char small[2];
    size = sizeof(small);
    EXPECT_FALSE(RegReadValue(HKEY_CURRENT_USER, kUserKey, "Padded", small, size));
    size = sizeof(number);
    EXPECT_FALSE(RegReadValue(HKEY_CURRENT_USER, kUserKey, "Missing", &number, size));
    size = sizeof(number);
    EXPECT_FALSE(RegReadValue(HKEY_CURRENT_USER, "Software\\MutoneTests\\NoSuchKey", "Number", &number, size));
}

TEST_F(SupportRegistry, ReadStringTrimsAndRefusesLongValues) {
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kUserKey, "Padded"), "padded value");
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kUserKey, "Long300"), "");
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kUserKey, "Fits254"), std::string(254, 'y'));
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kUserKey, "Over255"), "");
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kUserKey, "Empty"), "");
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kUserKey, "Missing"), "");
    // Data without a terminating NUL keeps its last character.
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kUserKey, "Binary"), "hi");
}

TEST_F(SupportRegistry, DefaultStringWithAndWithoutTrailingBackslash) {
    std::string path = std::string(kUserKey) + "\\Clients\\StartMenuInternet";
    EXPECT_EQ(RegReadDefaultString(HKEY_CURRENT_USER, path), "Test Browser");
    EXPECT_EQ(RegReadDefaultString(HKEY_CURRENT_USER, path + "\\"), "Test Browser");
    EXPECT_EQ(RegReadDefaultString(HKEY_CURRENT_USER, std::string(kUserKey) + "\\Clients\\"), "");
    EXPECT_EQ(RegReadDefaultString(HKEY_CURRENT_USER, "Software\\MutoneTests\\NoSuchKey\\"), "");
}

TEST_F(SupportRegistry, ShellOpenCommand) {
    struct Row {
        const char* Extension;
        const char* Program;
    };
    const Row rows[] = {
        {"mtsquoted", "\"C:\\Program Files\\Test Browser\\browser.exe\""},
        {"mtsplain", "\"C:\\TestBrowser\\browser.exe\""},
        {"mtsargquoted", "\"C:\\TestBrowser\\browser.exe\""},
        {"mtsunbalanced", "\"C:\\Test Browser\\browser.exe\""},
        {"mtsnocommand", ""},
        {"mtsnotype", ""},
        {"mtsnotregistered", ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(GetShellOpenCommand(row.Extension), row.Program) << row.Extension;
        EXPECT_EQ(GetShellOpenCommand(std::string(".") + row.Extension), row.Program) << row.Extension;
    }
}

// .htm through the prefix's own HTML file type. Wine registers the type (htmlfile, opened by winebrowser) but,
// with mshtml left out of the prefix, not the extension: the test adds the extension when it is missing and
// takes it away again only then.
class SupportHtmType : public ::testing::Test {
protected:
    void SetUp() override {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ".htm", 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            return;
        }
        SetString(HKEY_LOCAL_MACHINE, std::string(kClasses) + "\\.htm", "", "htmlfile");
        FAdded = true;
    }
    void TearDown() override {
        if (FAdded) RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kClasses) + "\\.htm").c_str());
    }
    bool FAdded = false;
};

TEST_F(SupportHtmType, BothSpellingsGiveTheQuotedProgram) {
    char typeName[256] = {};
    DWORD size = sizeof(typeName);
    ASSERT_EQ(RegGetValueA(HKEY_CLASSES_ROOT, ".htm", nullptr, RRF_RT_REG_SZ, nullptr, typeName, &size), ERROR_SUCCESS);
    char command[1024] = {};
    size = sizeof(command);
    if (RegGetValueA(HKEY_CLASSES_ROOT, (std::string(typeName) + "\\shell\\open\\command").c_str(), nullptr,
                     RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, command, &size) != ERROR_SUCCESS)
        GTEST_SKIP() << typeName << " has no open command in this prefix";

    std::string program = GetShellOpenCommand("htm");
    EXPECT_EQ(GetShellOpenCommand(".htm"), program);
    if (std::string(command) == "\"C:\\windows\\system32\\winebrowser.exe\" \"%1\"") {
        EXPECT_EQ(program, "\"C:\\windows\\system32\\winebrowser.exe\"");
    } else {
        // Registered by something else: the program is at least the quoted start of its command.
        ASSERT_GE(program.size(), 3u) << command;
        EXPECT_NE(std::string(command).find(program.substr(1, program.size() - 2)), std::string::npos) << command;
    }
}

std::string EnsureBackslash(std::string path) {
    if (!path.empty() && path.back() != '\\') path += '\\';
    return path;
}

TEST(SupportPaths, FolderAndNameSplitAtTheLastBackslash) {
    struct TCase {
        const char* Path;
        const char* Folder;
        const char* Name;
    } const rows[] = {
        {"C:\\Temp\\movie.swf", "C:\\Temp\\", "movie.swf"},
        {"movie.swf", "", "movie.swf"},
        {"C:\\Temp\\", "C:\\Temp\\", ""},
        {"\\\\server\\share\\a", "\\\\server\\share\\", "a"},
        {"", "", ""},
    };
    for (const TCase& row : rows) {
        EXPECT_EQ(ExtractFilePath(row.Path), row.Folder) << row.Path;
        EXPECT_EQ(ExtractFileName(row.Path), row.Name) << row.Path;
    }
}

TEST(SupportTempFiles, TempFilePathIsTheTemporaryDirectory) {
    std::string folder = TempFilePath("");
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '\\');
    DWORD attributes = GetFileAttributesA(folder.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(TempFilePath("{GUID}"), folder + "{GUID}");
    EXPECT_EQ(TempFilePath("movie.swf"), folder + "movie.swf");
    // The system's temporary path comes from TMP, else TEMP.
    char variable[MAX_PATH] = {};
    if (GetEnvironmentVariableA("TMP", variable, MAX_PATH) || GetEnvironmentVariableA("TEMP", variable, MAX_PATH)) {
        char full[MAX_PATH] = {};
        GetFullPathNameA(variable, MAX_PATH, full, nullptr);
        EXPECT_EQ(CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, folder.c_str(), -1,
                                 EnsureBackslash(full).c_str(), -1),
                  CSTR_EQUAL)
            << folder << " vs " << full;
    }
}

std::string Today() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char date[16];
    wsprintfA(date, "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    return date;
}

TEST(SupportTempFiles, UniqueTempFileNameShape) {
    std::string folder = TempFilePath("");
    std::string before = Today();
    std::string name = UniqueTempFileName("swf");
    std::string after = Today();
    ASSERT_EQ(name.compare(0, folder.size(), folder), 0) << name;
    std::smatch match;
    std::string file = name.substr(folder.size());
    ASSERT_TRUE(std::regex_match(file, match, std::regex(R"((\d{8})-(0|[1-9]\d{0,7})\.swf)"))) << file;
    EXPECT_TRUE(match[1] == before || match[1] == after) << file;
    EXPECT_LT(std::stoll(match[2]), 86400000LL);
    EXPECT_EQ(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES) << "the file is not created";
    EXPECT_NE(UniqueTempFileName(".swf").find(".swf"), std::string::npos);
}

TEST(SupportTempFiles, UniqueFileNameShapeInAFolderWithoutBackslash) {
    TTempDir dir;
    std::string name = UniqueFileName(dir.Path(), "", "_at_");
    ASSERT_EQ(name.compare(0, dir.Path().size() + 1, dir.Path() + "\\"), 0) << name;
    EXPECT_TRUE(std::regex_match(name.substr(dir.Path().size() + 1), std::regex(R"(\d{8}_at_\d{1,8})"))) << name;
}

// Occupies every name of the next stretch of milliseconds, with files and a folder: the name returned must be
// none of them, which it can only be by looking.
TEST(SupportTempFiles, UniqueFileNameNeverReturnsAnExistingName) {
    TTempDir dir;
    std::string folder = dir.Path() + "\\";
    SYSTEMTIME now;
    GetLocalTime(&now);
    int32_t start = ((now.wHour * 60 + now.wMinute) * 60 + now.wSecond) * 1000 + now.wMilliseconds;
    const int32_t kSpan = 1500;
    std::set<std::string> taken;
    for (int32_t ms = start; ms < start + kSpan && ms < 86400000; ++ms) {
        std::string path = FormatUniqueFileName(folder, "tmp", "-", now.wYear, now.wMonth, now.wDay, ms);
        if (ms == start + 1) {
            ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
        } else {
            HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
            CloseHandle(file);
        }
        taken.insert(path);
    }
    SYSTEMTIME called;
    GetLocalTime(&called);
    int32_t calledAt = ((called.wHour * 60 + called.wMinute) * 60 + called.wSecond) * 1000 + called.wMilliseconds;
    std::string name = UniqueFileName(folder, ".tmp", "-");
    EXPECT_EQ(taken.count(name), 0u) << name;
    EXPECT_EQ(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES) << name;
    if (calledAt >= start + kSpan || called.wDay != now.wDay)
        GTEST_SKIP() << "creating the files took the whole stretch; the result was never in danger";
}

// The built library's numbers are those written into its resource script (its file version, 1.2.3.4, differs on
// purpose: only the product version counts); a system library reads the same way.
TEST(SupportVersion, ProductVersionOfABuiltAndASystemLibrary) {
    EXPECT_EQ(GetVersionString(ExeDirectory() + "support_versioned.dll"), "10.0.12.36");
    char system[MAX_PATH];
    const UINT length = GetSystemDirectoryA(system, MAX_PATH);
    const std::string kernel = GetVersionString(std::string(system, length) + "\\kernel32.dll");
    EXPECT_TRUE(std::regex_match(kernel, std::regex(R"(\d+\.\d+\.\d+\.\d+)"))) << kernel;
    EXPECT_NE(kernel, "0.0.0.0");
}

TEST(SupportVersion, FilesWithoutVersionInformation) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    EXPECT_EQ(GetVersionString(self), "");
    TTempDir dir;
    WriteFileBytes(dir.File("plain.txt"), {'n', 'o', ' ', 'v', 'e', 'r', 's', 'i', 'o', 'n'});
    EXPECT_EQ(GetVersionString(dir.File("plain.txt")), "");
    EXPECT_EQ(GetVersionString(dir.File("missing.dll")), "");
    EXPECT_EQ(GetVersionString(""), "");
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeTree(const std::string& root) {
    ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((root + "\\sub").c_str(), nullptr));
    WriteFileBytes(root + "\\movie.swf", {'F', 'W', 'S'});
    WriteFileBytes(root + "\\sub\\extra.bin", {1, 2, 3});
    WriteFileBytes(root + "\\sub\\locked.txt", {'r', 'o'});
    ASSERT_TRUE(SetFileAttributesA((root + "\\sub\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY));
}

TEST(SupportDeleteWithShell, FolderTreeWithAReadOnlyFile) {
    TTempDir dir;
    std::string tree = dir.File("tree");
    MakeTree(tree);
    EXPECT_TRUE(DeleteWithShell(tree));
    EXPECT_FALSE(Exists(tree));
    EXPECT_TRUE(Exists(dir.Path())) << "only the named folder goes";
}

TEST(SupportDeleteWithShell, FolderGivenWithATrailingBackslash) {
    TTempDir dir;
    std::string tree = dir.File("tree");
    MakeTree(tree);
    EXPECT_TRUE(DeleteWithShell(tree + "\\"));
    EXPECT_FALSE(Exists(tree));
}

TEST(SupportDeleteWithShell, SingleFileLeavesItsNeighbours) {
    TTempDir dir;
    WriteFileBytes(dir.File("a.swf"), {1});
    WriteFileBytes(dir.File("a.swf.keep"), {2});
    EXPECT_TRUE(DeleteWithShell(dir.File("a.swf")));
    EXPECT_FALSE(Exists(dir.File("a.swf")));
    EXPECT_TRUE(Exists(dir.File("a.swf.keep")));
}

// A message waiting in the thread's queue, which a pass over pending messages would have taken.
bool MarkerWaiting() {
    MSG msg;
    return PeekMessageA(&msg, nullptr, WM_APP + 9, WM_APP + 9, PM_REMOVE) != FALSE;
}

TEST(SupportDeleteWithShell, MissingPathsAndWildcards) {
    TTempDir dir;
    WriteFileBytes(dir.File("keep.txt"), {1});
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // gives the thread its message queue
    for (const std::string& path : {dir.File("missing"), dir.File("missing") + "\\", dir.File("*"), std::string()}) {
        PostThreadMessageA(GetCurrentThreadId(), WM_APP + 9, 0, 0);
        EXPECT_FALSE(DeleteWithShell(path)) << path;
        EXPECT_TRUE(MarkerWaiting()) << path << ": the shell is not called for a path that does not exist";
    }
    EXPECT_TRUE(Exists(dir.File("keep.txt")));
}

// With the application object, its own loop processes what is pending: a quit request reaches the application.
TEST(SupportDeleteWithShell, TheApplicationProcessesThePendingMessages) {
    TTempDir dir;
    WriteFileBytes(dir.File("x"), {1});
    InitApplication();
    PostThreadMessageA(GetCurrentThreadId(), WM_APP + 9, 0, 0);
    PostQuitMessage(0);
    EXPECT_TRUE(DeleteWithShell(dir.File("x")));
    EXPECT_FALSE(MarkerWaiting());
    EXPECT_TRUE(Application->Terminated());
    DoneApplication();
}

// Without an application object, pending messages are dispatched but a quit request stays for the message loop.
TEST(SupportDeleteWithShell, DefaultMessagePassKeepsTheQuitMessage) {
    TTempDir dir;
    WriteFileBytes(dir.File("x"), {1});
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // gives the thread its message queue
    PostThreadMessageA(GetCurrentThreadId(), WM_APP + 7, 0, 0);
    PostQuitMessage(3);
    EXPECT_TRUE(DeleteWithShell(dir.File("x")));
    // What is left in the queue: only the quit request (which a filtered peek would return regardless).
    std::vector<std::pair<UINT, WPARAM>> left;
    while (left.size() < 10 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        left.emplace_back(msg.message, msg.wParam);
    EXPECT_EQ(left, (std::vector<std::pair<UINT, WPARAM>>{{WM_QUIT, 3}}));
}

} // namespace
