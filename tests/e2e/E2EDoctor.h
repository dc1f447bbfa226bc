// mutone-pack doctor as a test runs it: its JSON report and exit code, and the stand-in players built at the
// versions of the kinds of player it tells apart.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

#include "E2EContent.h"
#include "PEBuilder.h"
#include "TestSupport.h"

namespace e2e {

struct TDoctorRun {
    uint32_t Exit = 0;
    std::string Output;
    nlohmann::json Report; // discarded when the output was no JSON
    bool HasText(const std::string& part) const {
        for (const auto& finding : Report.value("findings", nlohmann::json::array()))
            if (finding.value("text", "").find(part) != std::string::npos) return true;
        return false;
    }
    // The result ("ok", "will not play", "cannot tell" or "note") of the first finding of a check; empty when there is
    // none.
    std::string ResultOf(const std::string& check) const {
        for (const auto& finding : Report.value("findings", nlohmann::json::array()))
            if (finding.value("check", "") == check) return finding.value("result", "");
        return {};
    }
};

// Runs "mutone-pack doctor --json screensaver" in folder; an output that is no JSON fails the test.
inline TDoctorRun RunDoctor(const std::string& tool, const std::string& folder, const std::string& screensaver) {
    const TProcessResult result = RunAndCapture(Quoted(tool) + " doctor --json " + Quoted(screensaver), folder);
    TDoctorRun run;
    run.Exit = result.ExitCode;
    run.Output = result.Output;
    run.Report = nlohmann::json::parse(result.Output, nullptr, false);
    EXPECT_FALSE(run.Report.is_discarded()) << run.Output;
    return run;
}

// Writes text as the mms.cfg of flashFolder (a system folder's "Macromed\Flash\"), making the folders it needs.
inline void WriteMmsConfig(const std::string& flashFolder, const std::string& text) {
    CreateDirectoryA((flashFolder + "..").c_str(), nullptr);
    CreateDirectoryA(flashFolder.c_str(), nullptr);
    WriteFileBytes(flashFolder + "mms.cfg", Bytes(text));
}

// The stand-in player of a file version, as tests/player builds it into folder.
inline std::string VersionedPlayer(const std::string& folder, std::string version) {
    for (char& c : version)
        if (c == '.') c = '_';
    return folder + "/mutone_player_" + version + ".dll";
}

} // namespace e2e
