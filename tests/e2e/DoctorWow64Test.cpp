// mutone-pack doctor on 64-bit Windows, where the 32-bit and the 64-bit control are registered apart (the 32-bit
// one in the WOW6432Node view) and read their mms.cfg from different folders (SysWOW64 and System32). Each case
// sets the other architecture up to give the opposite verdict, so a doctor that reads the wrong view or folder
// fails it. The tool is 32-bit, like this program; it runs in the 64-bit prefix of the x64 tests.
#include <gtest/gtest.h>

#include <algorithm>

#include "E2EContent.h"
#include "E2EDoctor.h"
#include "E2EProbe.h"
#include "PEBuilder.h"
#include "PlayerRegistration.h"
#include "SWFBuilder.h"

using namespace e2e;

namespace {

const char* const Guid = "{2E7A9C41-5B3D-4F68-8D1A-0C6E4B7F9A25}";

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(tolower(c)); });
    return text;
}

class E2EDoctorWow64 : public ::testing::Test {
protected:
    void SetUp() override {
        BOOL wow64 = FALSE;
        ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64) && wow64)
            << "this test needs a 64-bit prefix (scripts/wine-env.sh --arch win64)";
        ASSERT_TRUE(UnregisterStandInPlayer(KEY_WOW64_32KEY));
        ASSERT_TRUE(UnregisterStandInPlayer(KEY_WOW64_64KEY));
        char folder[MAX_PATH] = {};
        ASSERT_GT(GetSystemWow64DirectoryA(folder, MAX_PATH), 0u);
        FConfig32 = std::string(folder) + "\\Macromed\\Flash\\";
        ASSERT_GT(GetWindowsDirectoryA(folder, MAX_PATH), 0u);
        // "Sysnative" names the real System32 to a 32-bit process.
        FConfig64 = std::string(folder) + "\\Sysnative\\Macromed\\Flash\\";
        char temp[MAX_PATH], longTemp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        GetLongPathNameA(temp, longTemp, MAX_PATH);
        FRunUrl = ShellFileUrl(std::string(longTemp) + Guid + "\\");
        ASSERT_FALSE(FRunUrl.empty());

        WriteFileBytes(FFolder.Path() + "clip.swf", BuildSWF(SimpleMovie(550, 400, 0, false)));
        for (const char* arch : {"x86", "x64"}) {
            const TProcessResult built = RunAndCapture(Quoted(MUTONE_PACK_PATH) + " build clip.swf --arch " + arch +
                                                           " --set id=" + Guid + " -o Clip-" + arch + ".scr",
                                                       FFolder.Path());
            ASSERT_EQ(built.ExitCode, 0u) << arch << ": is mutone64.scr beside mutone-pack? build win64 first";
        }
    }
    void TearDown() override {
        DeleteFileA((FConfig32 + "mms.cfg").c_str());
        DeleteFileA((FConfig64 + "mms.cfg").c_str());
        UnregisterStandInPlayer(KEY_WOW64_32KEY);
        UnregisterStandInPlayer(KEY_WOW64_64KEY);
    }

    TDoctorRun Doctor(const std::string& arch) {
        return RunDoctor(MUTONE_PACK_PATH, FFolder.Path(), "Clip-" + arch + ".scr");
    }

    // An mms.cfg whose allow list covers the run folder, in one of the two system folders.
    static void WriteCoveringConfig(const std::string& flashFolder, const std::string& url) {
        WriteMmsConfig(flashFolder, "EnableAllowList=1\r\nAllowListUrlPattern=" + url + "\r\n");
    }

    TTempFolder FFolder;
    std::string FConfig32, FConfig64, FRunUrl;
};

TEST_F(E2EDoctorWow64, TheThirtyTwoBitScreensaverReadsThe32BitViewAndSysWOW64) {
    // The 64-bit view names a player that needs no allow list, and only System32 has one that covers the movie.
    ASSERT_TRUE(RegisterStandInPlayer(VersionedPlayer(MUTONE_PLAYER_DIR, "34.0.0.376"), KEY_WOW64_32KEY));
    ASSERT_TRUE(RegisterStandInPlayer(VersionedPlayer(MUTONE_PLAYER64_DIR, "10.0.45.2"), KEY_WOW64_64KEY));
    WriteCoveringConfig(FConfig64, FRunUrl);
    TDoctorRun run = Doctor("x86");
    EXPECT_EQ(run.Report["verdict"], "will not play") << run.Report.dump(1);
    EXPECT_EQ(run.Exit, 1u);
    EXPECT_TRUE(run.HasText("34.0.0.376")) << "the 32-bit control's version";
    EXPECT_EQ(run.ResultOf("mms.exists"), "will not play") << run.Report.dump(1);
    EXPECT_NE(Lower(run.Report["fix"].value("file", "")).find("\\syswow64\\macromed\\flash\\mms.cfg"),
              std::string::npos)
        << run.Report.dump(1);
    EXPECT_EQ(run.ResultOf("control.instance"), "ok") << "a 32-bit control is created by the 32-bit tool";

    WriteCoveringConfig(FConfig32, FRunUrl);
    run = Doctor("x86");
    EXPECT_EQ(run.Report["verdict"], "plays") << run.Report.dump(1);
    EXPECT_EQ(run.Exit, 0u);
}

TEST_F(E2EDoctorWow64, AControlRegisteredFor64BitsOnlyIsNotUsableByA32BitScreensaver) {
    ASSERT_TRUE(RegisterStandInPlayer(VersionedPlayer(MUTONE_PLAYER64_DIR, "10.0.45.2"), KEY_WOW64_64KEY));
    TDoctorRun run = Doctor("x86");
    EXPECT_EQ(run.Report["verdict"], "will not play") << run.Report.dump(1);
    EXPECT_EQ(run.Exit, 1u);
    EXPECT_EQ(run.ResultOf("control.registered"), "will not play");
    EXPECT_EQ(run.ResultOf("control.other_architecture"), "will not play") << run.Report.dump(1);

    // The same registration serves the 64-bit build of the same content; the 32-bit tool cannot load it to try.
    run = Doctor("x64");
    EXPECT_EQ(run.Report["verdict"], "plays") << run.Report.dump(1);
    EXPECT_EQ(run.Exit, 0u);
    EXPECT_TRUE(run.HasText("10.0.45.2"));
    EXPECT_EQ(run.ResultOf("control.instance"), "note");
}

TEST_F(E2EDoctorWow64, TheSixtyFourBitScreensaverReadsThe64BitViewAndSystem32) {
    ASSERT_TRUE(RegisterStandInPlayer(VersionedPlayer(MUTONE_PLAYER64_DIR, "50.0.20.1"), KEY_WOW64_64KEY));
    ASSERT_TRUE(RegisterStandInPlayer(VersionedPlayer(MUTONE_PLAYER_DIR, "10.0.45.2"), KEY_WOW64_32KEY));
    WriteCoveringConfig(FConfig32, FRunUrl);
    TDoctorRun run = Doctor("x64");
    EXPECT_EQ(run.Report["verdict"], "will not play") << run.Report.dump(1);
    EXPECT_TRUE(run.HasText("50.0.20.1")) << "the 64-bit control's version";
    const std::string fixFile = Lower(run.Report["fix"].value("file", ""));
    EXPECT_NE(fixFile.find("\\system32\\macromed\\flash\\mms.cfg"), std::string::npos) << run.Report.dump(1);

    WriteCoveringConfig(FConfig64, FRunUrl);
    run = Doctor("x64");
    EXPECT_EQ(run.Report["verdict"], "plays") << run.Report.dump(1);
    EXPECT_EQ(run.Exit, 0u);
}

} // namespace
