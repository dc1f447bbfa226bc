#include "uDoctor.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include <nlohmann/json.hpp>

#include "app/uContentLoader.h"
#include "app/uRunFolder.h"
#include "store/uExeAdder.h"
#include "support/uPathSafety.h"
#include "support/uSysUtils.h"
#include "uCodePage.h"

namespace {

// Collects the few settings the doctor needs, as the runtime's loader hands them out.
class TDoctorTarget : public TContentTarget {
public:
    std::string Guid, MovieName, Required;
    void SetContentGuid(const std::string& v) override { Guid = v; }
    void SetLoopMovie(bool) override {}
    void SetAllowRightClick(bool) override {}
    void SetMovieMenu(bool) override {}
    void SetMovieQuality(int32_t) override {}
    void SetExtraFlashVars(const std::string&) override {}
    void SetMovieBackgroundColor(int32_t) override {}
    void SetMovieFileName(const std::string& v) override { MovieName = v; }
    void WriteMovie(const TContentItem&) override {}
    void SetThrottlePreview(bool) override {}
    void SetRequiredFlashVersion(const std::string& v) override { Required = v; }
    void SetTerminateOnMouseMove(bool) override {}
    void SetTerminateOnKeyDown(bool) override {}
    void SetShowMouseCursor(bool) override {}
    void SetMonitorLayout(uint8_t) override {}
    void SetNoPlayerText(const std::string&) override {}
    void SetNoPlayerLink(const std::string&) override {}
    void WriteExtraFile(const std::string&, const TContentItem&) override {}
    void SetMovieScale(const std::string&) override {}
};

uint16_t ReadMachine(TStream& file) {
    const int64_t size = file.GetSize();
    if (size < 64) return 0;
    file.SetPosition(0);
    if (StreamReadByte(file) != 'M' || StreamReadByte(file) != 'Z') return 0;
    file.SetPosition(60);
    const int64_t header = StreamReadInt32(file);
    if (header < 0 || header > size - 6) return 0;
    file.SetPosition(header);
    if (StreamReadInt32(file) != 0x4550) return 0; // "PE\0\0"
    const uint8_t low = StreamReadByte(file);
    return static_cast<uint16_t>(low | StreamReadByte(file) << 8);
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// UTF-16 of either byte order to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    auto unit = [&](size_t at) {
        const auto a = static_cast<uint8_t>(bytes[at]), b = static_cast<uint8_t>(bytes[at + 1]);
        return static_cast<uint32_t>(bigEndian ? a << 8 | b : b << 8 | a);
    };
    for (size_t at = 0; at + 1 < bytes.size(); at += 2) {
        uint32_t code = unit(at);
        if (code >= 0xD800 && code <= 0xDBFF && at + 3 < bytes.size() && unit(at + 2) >= 0xDC00 &&
            unit(at + 2) <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unit(at + 2) - 0xDC00);
            at += 2;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        AppendUtf8(out, code);
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = LowerAscii(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// A run of %XX escapes stands for the bytes of UTF-8, as RFC 3986 and today's browsers write non-ASCII names; a run
// that is no UTF-8 is read the older way, each %XX the character of that number (U+0080 to U+00FF, in UTF-8 here).
// The shell escapes only ASCII in file URLs, where both readings agree.
std::string Unescaped(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        std::string bytes;
        for (; i + 2 < text.size() && text[i] == '%' && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0;
             i += 3)
            bytes += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
        if (bytes.empty()) {
            out += text[i++];
        } else if (IsValidUtf8(bytes)) {
            out += bytes;
        } else {
            for (const char byte : bytes)
                AppendUtf8(out, static_cast<unsigned char>(byte));
        }
    }
    return out;
}

// Whether path begins with prefix at a boundary: the prefix ends in a separator, or the path ends or has one next.
bool CoversPath(std::string_view prefix, std::string_view path, char separator, bool anyCase) {
    if (prefix.size() > path.size()) return false;
    const std::string_view head = path.substr(0, prefix.size());
    if (anyCase ? !EqualNoCase(head, prefix) : head != prefix) return false;
    return prefix.empty() || prefix.back() == separator || path.size() == prefix.size() ||
           path[prefix.size()] == separator;
}

bool IsBareLocalPath(std::string_view pattern) {
    const bool drive = pattern.size() >= 2 && pattern[1] == ':' &&
                       ((pattern[0] >= 'A' && pattern[0] <= 'Z') || (pattern[0] >= 'a' && pattern[0] <= 'z'));
    return drive || pattern.substr(0, 2) == "\\\\";
}

std::string NoBackslashes(std::string_view text) {
    std::string out(text);
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

bool HostCovers(std::string_view pattern, std::string_view host) {
    if (pattern == "*") return true;
    if (pattern.substr(0, 2) == "*.") {
        const std::string_view domain = pattern.substr(2);
        return EqualNoCase(host, domain) ||
               (host.size() > domain.size() && EqualNoCase(host.substr(host.size() - domain.size()), domain) &&
                host[host.size() - domain.size() - 1] == '.');
    }
    return EqualNoCase(pattern, host);
}

const char* ResultName(TFindingResult result) {
    switch (result) {
    case TFindingResult::Ok:
        return "ok";
    case TFindingResult::Blocks:
        return "will not play";
    case TFindingResult::Unknown:
        return "cannot tell";
    case TFindingResult::Note:
        break;
    }
    return "note";
}

const char* VerdictName(TVerdict verdict) {
    switch (verdict) {
    case TVerdict::Plays:
        return "plays";
    case TVerdict::WillNotPlay:
        return "will not play";
    case TVerdict::CannotTell:
        break;
    }
    return "cannot tell";
}

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

const char* const ControlKey = "HKCR\\CLSID\\{D27CDB6E-AE6D-11CF-96B8-444553540000}\\InprocServer32";

// The judgement, one check after the other; a check that cannot go on without what an earlier one found stops.
class TJudge {
public:
    TJudge(const TScreenSaverFacts& file, const TMachineFacts* machine) : F(file), M(machine) {}

    TDoctorReport Run() {
        if (JudgeFile() && M) JudgeMachine();
        if (!M && F.Error.empty())
            Add("windows", TFindingResult::Unknown,
                "the player, its allow list and Windows' settings can only be checked on Windows: run "
                "mutone-pack.exe doctor there");
        R.Verdict = TVerdict::Plays;
        for (const TFinding& finding : R.Findings) {
            if (finding.Result == TFindingResult::Blocks) R.Verdict = TVerdict::WillNotPlay;
            if (finding.Result == TFindingResult::Unknown && R.Verdict == TVerdict::Plays)
                R.Verdict = TVerdict::CannotTell;
        }
        return std::move(R);
    }

private:
    void Add(const char* check, TFindingResult result, std::string text) {
        R.Findings.push_back({check, result, std::move(text)});
    }

    const char* Bits() const { return F.Machine == MachineX64 ? "64-bit" : "32-bit"; }

    bool JudgeFile() {
        if (!F.Error.empty()) {
            Add("file", TFindingResult::Blocks, F.FileName + ": " + F.Error);
            return false;
        }
        if (F.Machine == MachineX86) {
            Add("file.architecture", TFindingResult::Ok, "a 32-bit screensaver (x86)");
        } else if (F.Machine == MachineX64) {
            Add("file.architecture", TFindingResult::Ok, "a 64-bit screensaver (x64)");
        } else if (F.Machine == 0) {
            Add("file.architecture", TFindingResult::Blocks, "not a Windows program");
            return false;
        } else {
            Add("file.architecture", TFindingResult::Blocks,
                "a program for another processor (machine " + Hex32(F.Machine) + "), not for x86 or x64");
            return false;
        }
        if (!F.HasStore) {
            Add("file.content", TFindingResult::Blocks, "carries no content: it is the screensaver program alone");
            return false;
        }
        Add("file.identity", TFindingResult::Note,
            F.ContentGuid.empty() ? "no content id: every run plays from a freshly named folder"
                                  : "content id " + F.ContentGuid + ", movie file " + F.MovieFileName);
        Add("file.required_version", TFindingResult::Note,
            CompareVersions(F.RequiredFlashVersion, "0") == 0
                ? std::string("the content asks for no particular Flash Player version")
                : "the content requires Flash Player " + F.RequiredFlashVersion + " or later");
        return true;
    }

    void JudgeMachine() {
        if (F.Machine == MachineX64 && !M->Is64BitWindows) {
            Add("windows.architecture", TFindingResult::Blocks, "a 64-bit screensaver does not run on 32-bit Windows");
            return;
        }
        JudgeStart();
        if (!M->TempPathFitsCodePage)
            Add("temp", TFindingResult::Blocks,
                "this user's temporary directory has characters the system's code page lacks, so the screensaver "
                "cannot make its folder there; point TEMP to a folder whose name it can hold");
        if (JudgeControl()) JudgeVersion();
    }

    void JudgeStart() {
        const TStartFacts& s = M->Start;
        if (s.PolicyActive && Trim(*s.PolicyActive) == "0")
            Add("start.policy", TFindingResult::Blocks,
                "a policy turns the screensaver off (ScreenSaveActive is 0 under HKCU\\Software\\Policies\\Microsoft\\"
                "Windows\\Control Panel\\Desktop)");
        if (s.PolicyScreenSaver && !s.PolicyScreenSaver->empty() && !s.ChosenIsThisFile)
            Add("start.policy", TFindingResult::Blocks,
                "a policy makes Windows start " + *s.PolicyScreenSaver + ", not this screensaver");
        if (s.PolicyActive || (s.PolicyScreenSaver && !s.PolicyScreenSaver->empty())) return;
        if (s.UserActive && Trim(*s.UserActive) == "0")
            Add("start.user", TFindingResult::Note,
                "the screensaver is turned off for this user (ScreenSaveActive is 0): turn it on in the Screen Saver "
                "Settings");
        if (!s.UserScreenSaver || s.UserScreenSaver->empty())
            Add("start.user", TFindingResult::Note,
                "no screensaver is chosen for this user: choose this one in the Screen Saver Settings");
        else if (!s.ChosenIsThisFile)
            Add("start.user", TFindingResult::Note,
                "Windows starts " + *s.UserScreenSaver + " for this user, not this screensaver");
        else
            Add("start.user", TFindingResult::Ok, "Windows starts this screensaver for this user");
    }

    bool JudgeControl() {
        const TControlFacts& c = M->Control;
        const std::string view = M->Is64BitWindows ? std::string(" (the ") + Bits() + " registry view)" : "";
        if (!c.Registered) {
            Add("control.registered", TFindingResult::Blocks,
                std::string("no Flash Player control is registered for ") + Bits() + " programs: " + ControlKey + view +
                    " is missing");
            if (c.RegisteredInOtherView)
                Add("control.other_architecture", TFindingResult::Blocks,
                    std::string("a control is registered for ") + (F.Machine == MachineX64 ? "32-bit" : "64-bit") +
                        " programs only, which a " + Bits() + " screensaver cannot use");
            return false;
        }
        Add("control.registered", TFindingResult::Ok, std::string("the control is registered: ") + c.ServerPath);
        if (!c.FileExists) {
            Add("control.file", TFindingResult::Blocks, "the registered control file does not exist: " + c.ServerPath);
            return false;
        }
        switch (c.Creation) {
        case TCreation::Created:
            Add("control.instance", TFindingResult::Ok, "an instance of the control can be created");
            break;
        case TCreation::Failed:
            Add("control.instance", TFindingResult::Blocks,
                "an instance of the control cannot be created (" + Hex32(c.CreationResult) + ")");
            return false;
        case TCreation::NotTried:
            Add("control.instance", TFindingResult::Note,
                std::string("not tried whether an instance can be created: a ") + Bits() +
                    " control cannot be loaded into this tool, which is of the other architecture");
            break;
        }
        return true;
    }

    void JudgeVersion() {
        const std::string& version = M->Control.FileVersion;
        const std::string shown = version.empty() ? "no version" : "version " + version;
        if (!FlashVersionOk(version)) return;
        switch (PlayerKindOf(version)) {
        case TPlayerKind::Unrestricted:
            Add("control.version", TFindingResult::Ok,
                "Flash Player " + version + " plays content without an allow list (releases up to 32.0.0.344)");
            return;
        case TPlayerKind::BlocksAfterEol:
            Add("control.version", TFindingResult::Note,
                "Flash Player " + version +
                    " blocks content after 2021-01-12 unless the allow list of its mms.cfg covers it");
            break;
        case TPlayerKind::AllowListOnly:
            Add("control.version", TFindingResult::Note,
                "Flash Player " + version + " (" +
                    (CompareVersions(version, "50") >= 0 ? "the enterprise edition" : "a regional edition") +
                    ") plays only content the allow list of its mms.cfg covers");
            break;
        case TPlayerKind::Unknown:
            Add("control.version", TFindingResult::Unknown,
                "the control has " + shown +
                    ", of no Flash Player this tool knows: whether it needs an allow list "
                    "cannot be told");
            return;
        }
        JudgeAllowList();
    }

    bool FlashVersionOk(const std::string& version) {
        if (VersionAtLeast(version, F.RequiredFlashVersion)) return true;
        Add("content.required_version", TFindingResult::Blocks,
            "the content requires Flash Player " + F.RequiredFlashVersion + ", the control is " +
                (version.empty() ? std::string("of no version") : version) + ": the screensaver stays black");
        return false;
    }

    void JudgeAllowList() {
        std::vector<std::string> lines;
        const std::string url = M->MovieUrl;
        if (!M->ConfigBytes) {
            Add("mms.exists", TFindingResult::Blocks, "there is no " + M->ConfigPath + ": the player blocks the movie");
            lines.push_back("EnableAllowList=1");
        } else {
            const TMmsConfig config = ParseMmsConfig(*M->ConfigBytes);
            if (!config.EnableAllowList) {
                Add("mms.enable", TFindingResult::Blocks,
                    M->ConfigPath +
                        " does not turn the allow list on (EnableAllowList=1): the player blocks the movie");
                lines.push_back("EnableAllowList=1");
            }
            bool covered = false;
            for (const std::string& pattern : config.Patterns) {
                const TCoverage coverage = PatternCovers(pattern, url, M->MoviePath, config.InsecureLocalPathMatching);
                if (coverage == TCoverage::Covers) {
                    covered = true;
                    Add("mms.pattern", TFindingResult::Ok, "AllowListUrlPattern=" + pattern + " covers " + url);
                } else if (coverage == TCoverage::BarePathIgnored) {
                    Add("mms.pattern", TFindingResult::Note,
                        "AllowListUrlPattern=" + pattern +
                            " is a bare path, which the player ignores unless "
                            "EnableInsecureAllowListLocalPathMatching=1;"
                            " a file:/// URL needs no such switch");
                }
            }
            if (!covered)
                Add("mms.covered", TFindingResult::Blocks,
                    "no AllowListUrlPattern in " + M->ConfigPath + " covers the movie's URL " + url);
            if (config.RootMovieOnly)
                Add("mms.root_only", TFindingResult::Note,
                    "AllowListRootMovieOnly=1: only the main movie is checked, not the movies it loads");
            if (covered) {
                if (!lines.empty()) R.FixFile = M->ConfigPath;
                R.FixLines = lines;
                return;
            }
        }
        lines.push_back("AllowListUrlPattern=" + M->RunFolderUrl);
        R.FixFile = M->ConfigPath;
        R.FixLines = lines;
        Add("mms.other_folders", TFindingResult::Note,
            "the preview and the settings dialog play from other folders of the temporary directory: "
            "AllowListUrlPattern=" +
                M->TempFolderUrl + " covers those too, but lets every movie there play");
    }

    const TScreenSaverFacts& F;
    const TMachineFacts* M;
    TDoctorReport R;
};

} // namespace

TScreenSaverFacts ReadScreenSaverFacts(const std::string& fileName) {
    TScreenSaverFacts facts;
    facts.FileName = fileName;
    try {
        TFileReadStream file(fileName);
        facts.Machine = ReadMachine(file);
        file.SetPosition(0);
        TStoreReader store(file);
        facts.HasStore = store.Count() > 0;
        TDoctorTarget target;
        TContentReader reader(target);
        reader.ApplyItems(store);
        reader.Finish();
        facts.ContentGuid = target.Guid;
        facts.RequiredFlashVersion = target.Required;
        // The runtime's own choice when the content names no usable file.
        facts.MovieFileName = target.MovieName;
        if (!IsSafeFileName(facts.MovieFileName) || IsRunFolderMarkerName(facts.MovieFileName))
            facts.MovieFileName = facts.ContentGuid.empty() ? "movie.swf" : facts.ContentGuid + ".swf";
    } catch (const Exception& e) {
        facts.Error = e.Message();
    } catch (const std::exception& e) {
        facts.Error = e.what();
    }
    return facts;
}

TPlayerKind PlayerKindOf(std::string_view version) {
    if (CompareVersions(version, "0") == 0) return TPlayerKind::Unknown;
    if (CompareVersions(version, "32.0.0.344") <= 0) return TPlayerKind::Unrestricted;
    if (CompareVersions(version, "33") < 0) return TPlayerKind::BlocksAfterEol;
    if (CompareVersions(version, "35") < 0) return TPlayerKind::AllowListOnly;
    if (CompareVersions(version, "50") >= 0 && CompareVersions(version, "51") < 0) return TPlayerKind::AllowListOnly;
    return TPlayerKind::Unknown;
}

TMmsConfig ParseMmsConfig(std::string_view bytes) {
    std::string text;
    if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")
        text = Utf16ToUtf8(bytes.substr(2), bytes[0] == '\xFE');
    else
        text = bytes.substr(0, 3) == "\xEF\xBB\xBF" ? bytes.substr(3) : bytes;
    TMmsConfig config;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::string trimmed = Trim(line);
        const size_t equals = trimmed.find('=');
        if (trimmed.empty() || trimmed[0] == '#' || equals == std::string::npos) continue;
        const std::string name = Trim(trimmed.substr(0, equals));
        const std::string value = Trim(trimmed.substr(equals + 1));
        if (EqualNoCase(name, "EnableAllowList")) config.EnableAllowList = value == "1";
        if (EqualNoCase(name, "EnableInsecureAllowListLocalPathMatching"))
            config.InsecureLocalPathMatching = value == "1";
        if (EqualNoCase(name, "AllowListRootMovieOnly")) config.RootMovieOnly = value == "1";
        if (EqualNoCase(name, "AllowListUrlPattern") && !value.empty()) config.Patterns.push_back(value);
    }
    return config;
}

TCoverage PatternCovers(std::string_view pattern, std::string_view url, std::string_view path, bool insecureLocal) {
    if (IsBareLocalPath(pattern)) {
        if (!insecureLocal) return TCoverage::BarePathIgnored;
        return CoversPath(NoBackslashes(pattern), NoBackslashes(path), '\\', true) ? TCoverage::Covers
                                                                                   : TCoverage::DoesNotCover;
    }
    const size_t patternScheme = pattern.find("://");
    const size_t urlScheme = url.find("://");
    if (patternScheme == std::string_view::npos || urlScheme == std::string_view::npos) return TCoverage::DoesNotCover;
    const std::string_view scheme = url.substr(0, urlScheme);
    if (pattern.substr(0, patternScheme) != "*" && !EqualNoCase(pattern.substr(0, patternScheme), scheme))
        return TCoverage::DoesNotCover;
    const std::string_view patternRest = pattern.substr(patternScheme + 3);
    const std::string_view urlRest = url.substr(urlScheme + 3);
    const size_t patternSlash = std::min(patternRest.find('/'), patternRest.size());
    const size_t urlSlash = std::min(urlRest.find('/'), urlRest.size());
    if (!HostCovers(patternRest.substr(0, patternSlash), urlRest.substr(0, urlSlash))) return TCoverage::DoesNotCover;
    const bool fileScheme = EqualNoCase(scheme, "file");
    return CoversPath(Unescaped(patternRest.substr(patternSlash)), Unescaped(urlRest.substr(urlSlash)), '/', fileScheme)
               ? TCoverage::Covers
               : TCoverage::DoesNotCover;
}

TDoctorReport JudgeScreenSaver(const TScreenSaverFacts& file, const TMachineFacts* machine) {
    return TJudge(file, machine).Run();
}

std::string DoctorText(const TDoctorReport& report) {
    std::string text;
    for (const TFinding& finding : report.Findings)
        text += std::string(ResultName(finding.Result)) + ": " + finding.Text + "\n";
    if (!report.FixLines.empty()) {
        text += "fix: add these lines to " + report.FixFile +
                " (as an administrator; create the file if it is missing and save it as UTF-8; this tool never "
                "writes it):\n";
        for (const std::string& line : report.FixLines)
            text += "    " + line + "\n";
    }
    return text + "verdict: " + VerdictName(report.Verdict) + "\n";
}

std::string DoctorJson(const TDoctorReport& report) {
    nlohmann::ordered_json json;
    json["verdict"] = VerdictName(report.Verdict);
    json["findings"] = nlohmann::ordered_json::array();
    for (const TFinding& finding : report.Findings)
        json["findings"].push_back(
            {{"check", finding.Check}, {"result", ResultName(finding.Result)}, {"text", finding.Text}});
    if (!report.FixLines.empty()) json["fix"] = {{"file", report.FixFile}, {"lines", report.FixLines}};
    // Paths from the registry need not be valid UTF-8: replaced, never a failure.
    return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

int DoctorExitCode(TVerdict verdict) {
    switch (verdict) {
    case TVerdict::Plays:
        return 0;
    case TVerdict::WillNotPlay:
        return 1;
    case TVerdict::CannotTell:
        break;
    }
    return 2;
}

int RunDoctor(const std::string& file, bool json, std::string& output) {
    std::string target = file;
#ifdef _WIN32
    if (target.empty()) target = ChosenScreenSaver();
#endif
    TDoctorReport report;
    if (target.empty()) {
#ifdef _WIN32
        report.Findings.push_back({"file", TFindingResult::Unknown,
                                   "no FILE given and no screensaver chosen for this user: name the screensaver"});
#else
        report.Findings.push_back({"file", TFindingResult::Unknown,
                                   "no FILE given: the screensaver Windows starts is known only on Windows"});
#endif
        report.Verdict = TVerdict::CannotTell;
    } else {
        const TScreenSaverFacts facts = ReadScreenSaverFacts(target);
#ifdef _WIN32
        const TMachineFacts machine = facts.Error.empty() ? GatherMachineFacts(facts) : TMachineFacts{};
        report = JudgeScreenSaver(facts, &machine);
#else
        report = JudgeScreenSaver(facts, nullptr);
#endif
    }
    output = json ? DoctorJson(report) : DoctorText(report);
    return DoctorExitCode(report.Verdict);
}
