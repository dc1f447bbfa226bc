// The doctor's judgement from tables of facts: which players play the movie, what the allow list covers, what
// Windows' settings change, and what the report and its JSON say.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "uDoctor.h"

namespace {

const char* const Url = "file:///C:/users/a%20b/Temp/%7BID%7D/m.swf";
const char* const Path = "C:\\users\\a b\\Temp\\{ID}\\m.swf";

TEST(DoctorPlayerKind, TellsThePlayersApartByVersion) {
    const std::pair<const char*, TPlayerKind> rows[] = {
        {"10.0.45.2", TPlayerKind::Unrestricted},
        {"32.0.0.344", TPlayerKind::Unrestricted},
        {"32.0.0.371", TPlayerKind::BlocksAfterEol},
        {"32.0.0.445", TPlayerKind::BlocksAfterEol},
        {"32.0.0.465", TPlayerKind::BlocksAfterEol},
        {"33.1.1.620", TPlayerKind::AllowListOnly},
        {"34.0.0.376", TPlayerKind::AllowListOnly},
        {"50.0.20.1", TPlayerKind::AllowListOnly},
        {"", TPlayerKind::Unknown},
        {"0.0.0.0", TPlayerKind::Unknown},
        {"40.0.0.1", TPlayerKind::Unknown},
        {"51.0.0.1", TPlayerKind::Unknown},
    };
    for (const auto& [version, kind] : rows)
        EXPECT_EQ(PlayerKindOf(version), kind) << version;
}

TEST(DoctorMmsConfig, ReadsTheSettingsInEveryEncodingTheFileMayHave) {
    const TMmsConfig utf8 = ParseMmsConfig("\xEF\xBB\xBF# comment\r\n  enableallowlist = 1 \r\nAllowListUrlPattern="
                                           "file:///C:/a/\r\nAllowListRootMovieOnly=0\r\nAllowListUrlPattern = "
                                           "https://*.example.com/\nEnableInsecureAllowListLocalPathMatching=true\n");
    EXPECT_TRUE(utf8.EnableAllowList);
    EXPECT_FALSE(utf8.RootMovieOnly);
    EXPECT_FALSE(utf8.InsecureLocalPathMatching) << "only 1 turns a setting on";
    EXPECT_EQ(utf8.Patterns, (std::vector<std::string>{"file:///C:/a/", "https://*.example.com/"}));

    std::string utf16 = "\xFF\xFE";
    for (char16_t unit : std::u16string(u"EnableAllowList=1\r\nAllowListUrlPattern=file:///C:/\u65E5/\r\n")) {
        utf16 += static_cast<char>(unit & 0xFF);
        utf16 += static_cast<char>(unit >> 8);
    }
    const TMmsConfig wide = ParseMmsConfig(utf16);
    EXPECT_TRUE(wide.EnableAllowList);
    ASSERT_EQ(wide.Patterns.size(), 1u);
    EXPECT_EQ(wide.Patterns[0], "file:///C:/\xE6\x97\xA5/");
}

TEST(DoctorAllowList, CoversByTheDocumentedMatchingRules) {
    struct TRow {
        const char* Pattern;
        bool Insecure;
        TCoverage Expected;
    };
    const TRow rows[] = {
        {"file:///C:/users/a%20b/Temp/", false, TCoverage::Covers},
        {"file:///C:/users/a b/Temp/", false, TCoverage::Covers},
        {"FILE:///c:/Users/A%20B/temp/%7bid%7d/", false, TCoverage::Covers},
        {"file:///C:/users/a%20b/Temp/%7BID%7D/m.swf", false, TCoverage::Covers},
        {"file:///C:/users/a%20b/Temp/%7BID%7D", false, TCoverage::Covers},
        {"file:///C:/users/a%20b/Te", false, TCoverage::DoesNotCover},
        {"file:///C:/users/a%20b/Temp/%7BID%7D/m.swf.bak", false, TCoverage::DoesNotCover},
        {"file:///D:/", false, TCoverage::DoesNotCover},
        {"file://server/C:/users/", false, TCoverage::DoesNotCover},
        {"https:///C:/users/", false, TCoverage::DoesNotCover},
        {"*:///C:/users/", false, TCoverage::Covers},
        {"file://*/", false, TCoverage::Covers},
        {"C:\\users\\a b\\Temp\\", false, TCoverage::BarePathIgnored},
        {"C:\\users\\a b\\Temp\\", true, TCoverage::Covers},
        {"c:/USERS/a b/temp", true, TCoverage::Covers},
        {"C:\\users\\a b\\Tem", true, TCoverage::DoesNotCover},
        {"\\\\server\\share\\", true, TCoverage::DoesNotCover},
    };
    for (const TRow& row : rows)
        EXPECT_EQ(PatternCovers(row.Pattern, Url, Path, row.Insecure), row.Expected) << row.Pattern;

    // Non-ASCII names: escaped UTF-8 (as browsers write them) or an older Latin-1 escape, against the shell's raw
    // UTF-8.
    const std::string yamada = "file:///C:/users/\xE5\xB1\xB1\xE7\x94\xB0/Temp/m.swf";
    EXPECT_EQ(PatternCovers("file:///C:/users/%E5%B1%B1%E7%94%B0/", yamada, "", false), TCoverage::Covers);
    EXPECT_EQ(PatternCovers("file:///C:/users/%e5%b1%b1%E7%94%B0/Temp/m.swf", yamada, "", false), TCoverage::Covers);
    EXPECT_EQ(PatternCovers("file:///C:/users/%E5%B1%B1/", yamada, "", false), TCoverage::DoesNotCover);
    EXPECT_EQ(PatternCovers("file:///C:/users/%E9/", "file:///C:/users/\xC3\xA9/m.swf", "", false), TCoverage::Covers);
    EXPECT_EQ(PatternCovers("file:///C:/users/%E5%B1/", "file:///C:/users/\xC3\xA5\xC2\xB1/m.swf", "", false),
              TCoverage::Covers)
        << "a cut UTF-8 sequence is read as Latin-1";

    EXPECT_EQ(PatternCovers("file://SERVER/share/", "file://server/share/Temp/m.swf", "\\\\server\\share\\Temp\\m.swf",
                            false),
              TCoverage::Covers);
    EXPECT_EQ(
        PatternCovers("\\\\server\\share", "file://server/share/Temp/m.swf", "\\\\server\\share\\Temp\\m.swf", true),
        TCoverage::Covers);
    EXPECT_EQ(PatternCovers("https://*.example.com/", "https://cdn.example.com/a.swf", "", false), TCoverage::Covers);
    EXPECT_EQ(PatternCovers("https://*.example.com/", "https://badexample.com/a.swf", "", false),
              TCoverage::DoesNotCover);
}

TScreenSaverFacts File(const char* required = "0.0.0.0") {
    TScreenSaverFacts f;
    f.FileName = "C:\\shots\\Clock.scr";
    f.Machine = MachineX86;
    f.HasStore = true;
    f.ContentGuid = "{ID}";
    f.MovieFileName = "m.swf";
    f.RequiredFlashVersion = required;
    return f;
}

TMachineFacts Machine(const char* version, std::optional<std::string> config = std::nullopt) {
    TMachineFacts m;
    m.Control.Registered = true;
    m.Control.ServerPath = "C:\\windows\\system32\\Macromed\\Flash\\Flash.ocx";
    m.Control.FileExists = true;
    m.Control.FileVersion = version;
    m.Control.Creation = TCreation::Created;
    m.ConfigPath = "C:\\windows\\system32\\Macromed\\Flash\\mms.cfg";
    m.ConfigBytes = std::move(config);
    m.MovieUrl = Url;
    m.MoviePath = Path;
    m.RunFolderUrl = "file:///C:/users/a%20b/Temp/%7BID%7D/";
    m.TempFolderUrl = "file:///C:/users/a%20b/Temp/";
    m.Start.UserScreenSaver = m.Start.UserActive = "1";
    m.Start.ChosenIsThisFile = true;
    return m;
}

// The result of the first finding of that check; "absent" when there is none.
std::string ResultOf(const TDoctorReport& report, const std::string& check) {
    for (const TFinding& finding : report.Findings)
        if (finding.Check == check)
            return nlohmann::json::parse(DoctorJson({report.Verdict, {finding}, {}, {}}))["findings"][0]["result"];
    return "absent";
}

TEST(DoctorJudge, GivesTheVerdictAndTheFixForEachKindOfPlayer) {
    const std::string on = "EnableAllowList=1\n";
    const std::string covering = "AllowListUrlPattern=file:///C:/users/a%20b/Temp/\n";
    const std::string elsewhere = "AllowListUrlPattern=file:///C:/games/\n";
    const std::string bare = "AllowListUrlPattern=C:\\users\\a b\\Temp\\\n";
    struct TRow {
        const char* Version;
        std::optional<std::string> Config;
        TVerdict Verdict;
        std::vector<std::string> Fix;
    };
    const std::string pattern = "AllowListUrlPattern=file:///C:/users/a%20b/Temp/%7BID%7D/";
    const TRow rows[] = {
        {"10.0.45.2", std::nullopt, TVerdict::Plays, {}},
        {"32.0.0.344", on + elsewhere, TVerdict::Plays, {}},
        {"32.0.0.465", std::nullopt, TVerdict::WillNotPlay, {"EnableAllowList=1", pattern}},
        {"32.0.0.465", "EnableAllowList=0\n" + covering, TVerdict::WillNotPlay, {"EnableAllowList=1"}},
        {"32.0.0.465", on + covering, TVerdict::Plays, {}},
        {"34.0.0.376", on + covering, TVerdict::Plays, {}},
        {"34.0.0.376", on + elsewhere, TVerdict::WillNotPlay, {pattern}},
        {"50.0.20.1", on + bare, TVerdict::WillNotPlay, {pattern}},
        {"50.0.20.1", on + bare + "EnableInsecureAllowListLocalPathMatching=1\n", TVerdict::Plays, {}},
        {"50.0.20.1", std::string(""), TVerdict::WillNotPlay, {"EnableAllowList=1", pattern}},
        {"", std::nullopt, TVerdict::CannotTell, {}},
    };
    for (const TRow& row : rows) {
        const TMachineFacts machine = Machine(row.Version, row.Config);
        const TDoctorReport report = JudgeScreenSaver(File(), &machine);
        EXPECT_EQ(report.Verdict, row.Verdict) << row.Version << " " << row.Config.value_or("(no mms.cfg)") << "\n"
                                               << DoctorText(report);
        EXPECT_EQ(report.FixLines, row.Fix) << row.Version << " " << row.Config.value_or("(no mms.cfg)");
        if (!row.Fix.empty()) {
            EXPECT_EQ(report.FixFile, machine.ConfigPath);
        }
    }
}

TEST(DoctorJudge, TheControlAndTheRequiredVersionDecideFirst) {
    TMachineFacts machine = Machine("10.0.45.2");
    EXPECT_EQ(ResultOf(JudgeScreenSaver(File("11.0"), &machine), "content.required_version"), "will not play");
    EXPECT_EQ(JudgeScreenSaver(File("10.0.45"), &machine).Verdict, TVerdict::Plays);

    machine.Control.Creation = TCreation::Failed;
    machine.Control.CreationResult = 0x80040154;
    TDoctorReport report = JudgeScreenSaver(File(), &machine);
    EXPECT_EQ(ResultOf(report, "control.instance"), "will not play");
    EXPECT_NE(DoctorText(report).find("0x80040154"), std::string::npos);

    machine.Control.FileExists = false;
    EXPECT_EQ(ResultOf(JudgeScreenSaver(File(), &machine), "control.file"), "will not play");

    machine.Control = {};
    machine.Is64BitWindows = true;
    machine.Control.RegisteredInOtherView = true;
    report = JudgeScreenSaver(File(), &machine);
    EXPECT_EQ(report.Verdict, TVerdict::WillNotPlay);
    EXPECT_EQ(ResultOf(report, "control.registered"), "will not play");
    EXPECT_EQ(ResultOf(report, "control.other_architecture"), "will not play");

    // A 64-bit screensaver judged by a tool of the other architecture: the instance is not tried, not failed.
    machine = Machine("50.0.20.1", "EnableAllowList=1\nAllowListUrlPattern=file:///C:/\n");
    machine.Is64BitWindows = true;
    machine.Control.Creation = TCreation::NotTried;
    TScreenSaverFacts file64 = File();
    file64.Machine = MachineX64;
    report = JudgeScreenSaver(file64, &machine);
    EXPECT_EQ(report.Verdict, TVerdict::Plays) << DoctorText(report);
    EXPECT_EQ(ResultOf(report, "control.instance"), "note");
    machine.Is64BitWindows = false;
    EXPECT_EQ(ResultOf(JudgeScreenSaver(file64, &machine), "windows.architecture"), "will not play");
}

TEST(DoctorJudge, WindowsStartsItUnlessAPolicySaysOtherwise) {
    TMachineFacts machine = Machine("10.0.45.2");
    EXPECT_EQ(ResultOf(JudgeScreenSaver(File(), &machine), "start.user"), "ok");
    machine.Start.ChosenIsThisFile = false;
    machine.Start.UserScreenSaver = "C:\\windows\\system32\\other.scr";
    TDoctorReport report = JudgeScreenSaver(File(), &machine);
    EXPECT_EQ(ResultOf(report, "start.user"), "note");
    EXPECT_EQ(report.Verdict, TVerdict::Plays) << "the user may still choose it";

    machine.Start.PolicyActive = "0";
    report = JudgeScreenSaver(File(), &machine);
    EXPECT_EQ(ResultOf(report, "start.policy"), "will not play");
    EXPECT_EQ(DoctorExitCode(report.Verdict), 1);
    machine.Start.PolicyActive = "1";
    machine.Start.PolicyScreenSaver = "C:\\windows\\system32\\corporate.scr";
    EXPECT_EQ(JudgeScreenSaver(File(), &machine).Verdict, TVerdict::WillNotPlay);

    machine = Machine("10.0.45.2");
    machine.TempPathFitsCodePage = false;
    EXPECT_EQ(ResultOf(JudgeScreenSaver(File(), &machine), "temp"), "will not play");
}

TEST(DoctorReport, TextAndJsonSayTheSame) {
    const TMachineFacts machine = Machine("32.0.0.465", "EnableAllowList=1\nAllowListUrlPattern=file:///C:/games/\n");
    const TDoctorReport report = JudgeScreenSaver(File(), &machine);
    const nlohmann::json json = nlohmann::json::parse(DoctorJson(report));
    EXPECT_EQ(json["verdict"], "will not play");
    EXPECT_EQ(json["fix"]["file"], machine.ConfigPath);
    EXPECT_EQ(json["fix"]["lines"],
              nlohmann::json::array({"AllowListUrlPattern=file:///C:/users/a%20b/Temp/%7BID%7D/"}));
    const std::string text = DoctorText(report);
    ASSERT_EQ(json["findings"].size(), static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) - 3)
        << "one line per finding, the fix's two and the verdict\n"
        << text;
    for (const auto& finding : json["findings"])
        EXPECT_NE(text.find(finding["result"].get<std::string>() + ": " + finding["text"].get<std::string>()),
                  std::string::npos);
    EXPECT_NE(text.find("\n    AllowListUrlPattern=file:///C:/users/a%20b/Temp/%7BID%7D/\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 23), "verdict: will not play\n");

    // Without Windows: what the file says, and that the rest cannot be told.
    const TDoctorReport alone = JudgeScreenSaver(File("9.0.115"), nullptr);
    EXPECT_EQ(alone.Verdict, TVerdict::CannotTell);
    EXPECT_EQ(DoctorExitCode(alone.Verdict), 2);
    EXPECT_EQ(ResultOf(alone, "file.architecture"), "ok");
    EXPECT_NE(DoctorText(alone).find("requires Flash Player 9.0.115"), std::string::npos);
    EXPECT_EQ(ResultOf(alone, "windows"), "cannot tell");
}

} // namespace
