// mutone-pack doctor run as its users run it, against a screensaver the tool packed, with the stand-in control
// registered at each kind of player version and the allow list file of the 32-bit control written or not.
#include <gtest/gtest.h>

#include "E2EContent.h"
#include "E2EDoctor.h"
#include "E2EProbe.h"
#include "PEBuilder.h"
#include "PlayerRegistration.h"
#include "SWFBuilder.h"

using namespace e2e;

namespace {

const char* const Guid = "{6B1C2D3E-4F50-4A61-8B72-9C8D7E6F5A4B}";

std::string PlayerOf(const std::string& version) {
    return VersionedPlayer(MUTONE_PLAYER_DIR, version);
}

class E2EDoctor : public ::testing::Test {
protected:
    void SetUp() override {
        char system[MAX_PATH], temp[MAX_PATH];
        GetSystemDirectoryA(system, MAX_PATH);
        FConfigFolder = std::string(system) + "\\Macromed\\Flash\\";
        GetTempPathA(MAX_PATH, temp);
        char longTemp[MAX_PATH];
        GetLongPathNameA(temp, longTemp, MAX_PATH);
        FRunFolder = std::string(longTemp) + Guid + "\\";
        WriteFileBytes(FFolder.Path() + "clip.swf", BuildSWF(SimpleMovie(550, 400, 0, false)));
        ASSERT_EQ(Tool("build clip.swf --set id=" + std::string(Guid) + " -o Clip.scr"), 0u);
        ASSERT_EQ(Tool("build clip.swf --set id=" + std::string(Guid) +
                       " --set movie.required_flash_version=99.0 -o Newer.scr"),
                  0u);
    }
    void TearDown() override {
        DeleteFileA((FConfigFolder + "mms.cfg").c_str());
        UnregisterStandInPlayer();
        EXPECT_TRUE(RegisterStandInPlayer(MUTONE_PLAYER_PATH)) << "the other tests need the default player back";
    }

    // Runs the tool in the test folder; its exit code.
    uint32_t Tool(const std::string& arguments) {
        return RunAndCapture(Quoted(MUTONE_PACK_PATH) + " " + arguments, FFolder.Path()).ExitCode;
    }

    TDoctorRun Doctor(const std::string& screensaver = "Clip.scr") {
        return RunDoctor(MUTONE_PACK_PATH, FFolder.Path(), screensaver);
    }

    void WriteConfig(const std::string& text) { WriteMmsConfig(FConfigFolder, text); }

    TTempFolder FFolder;
    std::string FConfigFolder, FRunFolder;
};

TEST_F(E2EDoctor, EachPlayerVersionWithoutAllowList) {
    const struct {
        const char* Version;
        const char* Verdict;
        DWORD Exit;
    } cases[] = {{"10.0.45.2", "plays", 0},
                 {"32.0.0.344", "plays", 0},
                 {"32.0.0.465", "will not play", 1},
                 {"34.0.0.376", "will not play", 1},
                 {"50.0.20.1", "will not play", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Version);
        ASSERT_TRUE(RegisterStandInPlayer(PlayerOf(c.Version)));
        const TDoctorRun run = Doctor();
        EXPECT_EQ(run.Report["verdict"], c.Verdict) << run.Report.dump(1);
        EXPECT_EQ(run.Exit, c.Exit);
        EXPECT_TRUE(run.HasText(c.Version)) << "the version the control file carries";
    }
}

TEST_F(E2EDoctor, TheAllowListOfTheRegionalEdition) {
    ASSERT_TRUE(RegisterStandInPlayer(PlayerOf("34.0.0.376")));
    const std::string runUrl = ShellFileUrl(FRunFolder);
    ASSERT_FALSE(runUrl.empty());
    // mms.cfg is UTF-8, whatever the system's code page.
    const std::string barePath = AnsiToUtf8(FRunFolder);

    WriteConfig("EnableAllowList=1\r\nAllowListUrlPattern=file:///C:/elsewhere/\r\n");
    TDoctorRun run = Doctor();
    EXPECT_EQ(run.Report["verdict"], "will not play") << run.Report.dump(1);
    EXPECT_EQ(run.Exit, 1u);
    EXPECT_EQ(run.Report["fix"]["lines"], nlohmann::json::array({"AllowListUrlPattern=" + runUrl}))
        << run.Report.dump(1);

    // The line it names is the one that makes the movie play.
    WriteConfig("EnableAllowList=1\r\nAllowListUrlPattern=" + runUrl + "\r\n");
    run = Doctor();
    EXPECT_EQ(run.Report["verdict"], "plays") << run.Report.dump(1);
    EXPECT_EQ(run.Exit, 0u);

    WriteConfig("EnableAllowList=1\r\nAllowListUrlPattern=" + barePath + "\r\n");
    run = Doctor();
    EXPECT_EQ(run.Report["verdict"], "will not play") << run.Report.dump(1);
    EXPECT_TRUE(run.HasText("EnableInsecureAllowListLocalPathMatching=1"));

    WriteConfig("EnableAllowList=1\r\nEnableInsecureAllowListLocalPathMatching=1\r\nAllowListUrlPattern=" + barePath +
                "\r\n");
    run = Doctor();
    EXPECT_EQ(run.Report["verdict"], "plays") << run.Report.dump(1);
}

TEST_F(E2EDoctor, NoUsableControlOrTooOldForTheContent) {
    ASSERT_TRUE(UnregisterStandInPlayer());
    TDoctorRun run = Doctor();
    EXPECT_EQ(run.Report["verdict"], "will not play") << run.Report.dump(1);
    EXPECT_TRUE(run.HasText("no Flash Player control is registered"));

    ASSERT_TRUE(RegisterStandInPlayer(FFolder.Path() + "gone.dll"));
    run = Doctor();
    EXPECT_EQ(run.Report["verdict"], "will not play") << run.Report.dump(1);
    EXPECT_TRUE(run.HasText("does not exist"));

    ASSERT_TRUE(RegisterStandInPlayer(PlayerOf("32.0.0.344")));
    run = Doctor("Newer.scr");
    EXPECT_EQ(run.Report["verdict"], "will not play") << run.Report.dump(1);
    EXPECT_TRUE(run.HasText("requires Flash Player 99.0"));
}

} // namespace
