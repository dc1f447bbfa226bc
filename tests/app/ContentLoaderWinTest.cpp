// LoadSettings against the real temporary directory, files and named mutexes: stores appended to a small
// image in a test folder, read by a main form that is never shown.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "PEBuilder.h"
#include "app/uMain.h"
#include "app/uRunFolder.h"
#include "forms/Forms.h"
#include "store/uExeAdder.h"
#include "support/uInstanceGuard.h"
#include "support/uPathSafety.h"

namespace {

std::vector<uint8_t> T(const std::string& text) {
    return {text.begin(), text.end()};
}
std::vector<uint8_t> I(int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

// The system's own answer, not the program's TempFilePath.
std::string TempDirectory() {
    char buffer[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(MAX_PATH, buffer);
    std::string path(buffer, length);
    if (!path.empty() && path.back() != '\\') path += '\\';
    return path;
}

// A fresh identifier per case, so that no case meets another's folder or mutex.
std::string NewGuid() {
    static unsigned counter = 0;
    char text[40];
    std::snprintf(text, sizeof text, "%08lX-%04X-4000-8000-%012lX", GetCurrentProcessId(), ++counter & 0xFFFF,
                  static_cast<unsigned long>(GetTickCount()));
    return text;
}

std::string ReadText(const std::string& path) {
    if (!FileExists(path)) return "<missing>";
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

bool MutexExists(const std::string& name) {
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
    if (mutex) CloseHandle(mutex);
    return mutex != nullptr;
}

class ContentLoaderWin : public ::testing::Test {
protected:
    void SetUp() override {
        InitApplication();
        Form = new TfrmMain(Application);
    }
    void TearDown() override {
        std::error_code ignored;
        for (const std::string& file : Form->TempFiles)
            std::filesystem::remove(file, ignored);
        for (const std::string& path : Cleanup)
            std::filesystem::remove_all(path, ignored);
        if (!Form->TempFolder.empty()) std::filesystem::remove_all(Form->TempFolder, ignored);
        DoneApplication(); // frees the form and with it the content's mutex
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    // Writes an image with the store behind it and has the form load it.
    void Load(const std::vector<TStoreItem>& items) {
        std::vector<uint8_t> file = BuildSimplePEImage();
        const std::vector<uint8_t> store = BuildStore(items, 0x5C, static_cast<int64_t>(file.size()));
        file.insert(file.end(), store.begin(), store.end());
        const std::string exe = Dir.File("content.scr");
        WriteFileBytes(exe, file);
        Form->LoadSettings(exe);
    }

    static std::vector<TStoreItem> ExtraFiles(const std::string& prefix) {
        return {{"ExtraFileCount", I(3)},       {"ExtraFileName0", T(prefix + "a.txt")},
                {"ExtraFileData0", T("alpha")}, {"ExtraFileName1", T("sub\\dir/" + prefix + "b.dat")},
                {"ExtraFileData1", T("beta")},  {"ExtraFileName2", T("aux.txt")},
                {"ExtraFileData2", T("device")}};
    }

    TTempDir Dir;
    TfrmMain* Form = nullptr;
    std::vector<std::string> Cleanup;
    const std::string Temp = TempDirectory();
};

TEST_F(ContentLoaderWin, MovieAndAdditionalFilesLandInTheIdentifiersFolder) {
    const std::string guid = NewGuid();
    std::vector<TStoreItem> items = {{"GUID", T(guid)},
                                     {"MovieFileName", T("main.swf")},
                                     {"Movie", T("FWS movie bytes")},
                                     {"Loop", {1}},
                                     {"StretchMovie", {1}},
                                     {"EndOnMouse", {0}},
                                     {"MonitorLayout", I(2)}};
    const auto extra = ExtraFiles("");
    items.insert(items.end(), extra.begin(), extra.end());
    Load(items);

    const std::string folder = Temp + guid;
    EXPECT_EQ(Form->ContentGuid, guid);
    EXPECT_EQ(Form->TempFolder, folder);
    EXPECT_EQ(Form->MoviePath, folder + "\\main.swf");
    EXPECT_EQ(Form->TempFiles,
              (std::vector<std::string>{folder + "\\main.swf", folder + "\\a.txt", folder + "\\b.dat"}));
    EXPECT_EQ(ReadText(folder + "\\main.swf"), "FWS movie bytes");
    EXPECT_EQ(ReadText(folder + "\\a.txt"), "alpha");
    EXPECT_EQ(ReadText(folder + "\\b.dat"), "beta");
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"main.swf", "a.txt", "b.dat", std::string(RunFolderMarkerName)}));

    EXPECT_TRUE(Form->ContentMutex);
    EXPECT_TRUE(MutexExists(guid));
    EXPECT_TRUE(Form->LoopMovie);
    EXPECT_EQ(Form->MovieScale, "exactfit");
    EXPECT_EQ(Form->RequiredFlashVersion, "0.0.0.0");
    EXPECT_EQ(Form->MonitorLayout, 2);
    EXPECT_FALSE(Form->ScreenSaver->TerminateOnMouseMove());
    EXPECT_TRUE(Form->ScreenSaver->TerminateOnKeyDown());
}

// The identifier's folder is the run's only when nobody else has it: a folder that this program did not make, or
// that a live run holds, is left alone and the run takes a fresh folder; one that a killed run left is taken over.
TEST_F(ContentLoaderWin, AFolderOfTheIdentifiersNameIsTakenOnlyFromADeadRun) {
    enum TInTheWay { Foreign, DeadRun, LiveRun, OtherInstance };
    struct TCase {
        const char* Name;
        TInTheWay Way;
    };
    const TCase cases[] = {{"someone else's folder", Foreign},
                           {"left by a killed run", DeadRun},
                           {"a live run holds it", LiveRun},
                           {"another copy holds the content's mutex", OtherInstance}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TearDown();
        SetUp();
        const std::string guid = NewGuid();
        const std::string folder = Temp + guid;
        Cleanup.push_back(folder);
        // Someone else's files of the names the run would once have used, straight in the temporary directory.
        for (const std::string& name : {guid + ".swf", std::string("a.txt")}) {
            if (FileExists(Temp + name)) continue;
            WriteFileBytes(Temp + name, T("keep me"));
            Cleanup.push_back(Temp + name);
        }
        const std::vector<TStoreItem> items = {
            {"GUID", T(guid)},        {"MovieFileName", T("main.swf")}, {"Movie", T("M")},
            {"ExtraFileCount", I(1)}, {"ExtraFileName0", T("a.txt")},   {"ExtraFileData0", T("alpha")}};
        UniqueMutex other;
        if (c.Way == Foreign) {
            ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
            WriteFileBytes(folder + "\\main.swf", T("theirs"));
        } else if (c.Way == DeadRun || c.Way == LiveRun) {
            // An earlier run of the same content in this process; a killed run's marker is closed by the system.
            Load(items);
            ASSERT_EQ(Form->TempFolder, folder);
            WriteFileBytes(folder + "\\stale.txt", T("old"));
            if (c.Way == DeadRun) Form->TempFolderMarker.reset();
            CloseUniqueMutex(Form->ContentMutex);
            Form->TempFolder.clear(); // so that TearDown leaves the folder to the next form
            Form->TempFiles.clear();
            auto* earlier = Form;
            Form = new TfrmMain(Application);
            if (c.Way == LiveRun) Cleanup.push_back(earlier->TempFolder);
        } else {
            other = UniqueMutex(CreateMutexA(nullptr, FALSE, guid.c_str()));
        }
        Load(items);

        const bool claimed = c.Way == DeadRun;
        EXPECT_EQ(Form->TempFolder == folder, claimed) << Form->TempFolder;
        EXPECT_TRUE(PathIsInside(Temp.substr(0, Temp.size() - 1), Form->TempFolder)) << Form->TempFolder;
        EXPECT_EQ(Form->MoviePath, Form->TempFolder + "\\main.swf");
        EXPECT_EQ(ReadText(Form->MoviePath), "M");
        EXPECT_EQ(ReadText(Form->TempFolder + "\\a.txt"), "alpha");
        EXPECT_EQ(ReadText(Temp + guid + ".swf"), "keep me");
        EXPECT_EQ(ReadText(Temp + "a.txt"), "keep me");
        if (c.Way == Foreign) {
            EXPECT_EQ(ReadText(folder + "\\main.swf"), "theirs");
        } else if (c.Way == DeadRun) {
            EXPECT_FALSE(FileExists(folder + "\\stale.txt")) << "the dead run's files are gone";
        } else if (c.Way == LiveRun) {
            EXPECT_EQ(ReadText(folder + "\\stale.txt"), "old") << "a live run's files stay";
        }
        for (const std::string& file : Form->TempFiles)
            EXPECT_TRUE(PathIsInside(Form->TempFolder, file)) << file;
        EXPECT_EQ(static_cast<bool>(Form->ContentMutex), c.Way != OtherInstance);
    }
}

// Folders of killed runs are removed by the next load, and nothing else is.
TEST_F(ContentLoaderWin, ALoadRemovesTheFoldersOfDeadRunsOnly) {
    const std::vector<TStoreItem> items = {{"Movie", T("M")}};
    Load(items);
    const std::string dead = Form->TempFolder;
    Form->TempFolderMarker.reset();
    Form->TempFolder.clear();
    Form->TempFiles.clear();
    // A folder that only looks like a run's: a file of the marker's name with other text.
    const std::string lookalike = Temp + "mutone-lookalike-" + NewGuid().substr(0, 8);
    ASSERT_TRUE(CreateDirectoryA(lookalike.c_str(), nullptr));
    Cleanup.push_back(lookalike);
    WriteFileBytes(lookalike + "\\" + std::string(RunFolderMarkerName), T("not ours"));

    Form = new TfrmMain(Application);
    Load(items);
    EXPECT_FALSE(DirectoryExists(dead)) << "the killed run's folder is still there";
    EXPECT_TRUE(FileExists(lookalike + "\\" + std::string(RunFolderMarkerName)));
    EXPECT_TRUE(DirectoryExists(Form->TempFolder)) << "the live run's own folder";
}

TEST_F(ContentLoaderWin, AnUnsafeOrMissingIdentifierGetsAFolderOfItsOwn) {
    const std::string escape = "mutone-escape-" + NewGuid().substr(0, 8);
    for (const std::string& guid : {"..\\" + escape, std::string()}) {
        SCOPED_TRACE(guid);
        TearDown();
        SetUp();
        std::vector<TStoreItem> items = {{"Movie", T("M")}};
        if (!guid.empty()) items.insert(items.begin(), {"GUID", T(guid)});
        const auto extra = ExtraFiles("");
        items.insert(items.end(), extra.begin(), extra.end());
        Load(items);

        EXPECT_EQ(Form->ContentGuid, "");
        EXPECT_FALSE(Form->ContentMutex);
        ASSERT_FALSE(Form->TempFolder.empty());
        EXPECT_TRUE(PathIsInside(Temp.substr(0, Temp.size() - 1), Form->TempFolder)) << Form->TempFolder;
        EXPECT_EQ(Form->MoviePath, Form->TempFolder + "\\movie.swf");
        EXPECT_EQ(ReadText(Form->MoviePath), "M");
        EXPECT_EQ(Form->TempFiles.size(), 3u);
        for (const std::string& file : Form->TempFiles)
            EXPECT_TRUE(PathIsInside(Form->TempFolder, file)) << file;
        EXPECT_FALSE(std::filesystem::exists(Temp + "..\\" + escape));
        EXPECT_FALSE(std::filesystem::exists(Temp + "..\\" + escape + ".swf"));
    }
}

TEST_F(ContentLoaderWin, WithoutAMovieNothingIsWritten) {
    const std::string guid = NewGuid();
    std::vector<TStoreItem> items = {{"GUID", T(guid)}, {"RequiredFlashVersion", T("9.0.115")}};
    const auto extra = ExtraFiles(guid + "-");
    items.insert(items.end(), extra.begin(), extra.end());
    Load(items);

    EXPECT_EQ(Form->MoviePath, "");
    EXPECT_EQ(Form->TempFolder, "");
    EXPECT_TRUE(Form->TempFiles.empty());
    EXPECT_FALSE(std::filesystem::exists(Temp + guid));
    EXPECT_FALSE(std::filesystem::exists(guid + "-a.txt")); // not in the current folder either
    EXPECT_TRUE(MutexExists(guid));
    EXPECT_EQ(Form->RequiredFlashVersion, "9.0.115");
    EXPECT_EQ(Form->MovieScale, "showall");
}

TEST_F(ContentLoaderWin, AFileWithoutAStoreLeavesTheDefaults) {
    const std::string exe = Dir.File("plain.exe");
    WriteFileBytes(exe, BuildSimplePEImage());
    Form->LoadSettings(exe);
    EXPECT_EQ(Form->ContentGuid, "");
    EXPECT_TRUE(Form->TempFiles.empty());
    EXPECT_EQ(Form->MovieScale, "showall");
    EXPECT_EQ(Form->RequiredFlashVersion, "0.0.0.0");
}

} // namespace
