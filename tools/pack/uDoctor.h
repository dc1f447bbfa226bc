// mutone-pack doctor: will a screensaver play on this machine, and if not, what to change. The facts are gathered
// in two halves (what the file says, anywhere; what Windows says, in uDoctor_win.cpp) and judged here, without
// the system, so that every judgement can be checked from tables.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr uint16_t MachineX86 = 0x14C;
inline constexpr uint16_t MachineX64 = 0x8664;

// What the screensaver file says about itself.
struct TScreenSaverFacts {
    std::string FileName;
    std::string Error;    // why the file could not be read; empty when it was
    uint16_t Machine = 0; // the image's Machine field; 0 when the file is no executable image
    bool HasStore = false;
    std::string ContentGuid;          // as the runtime uses it: empty when missing or not a safe folder name
    std::string MovieFileName;        // the movie's file name in the run's folder, as the runtime chooses it
    std::string RequiredFlashVersion; // "0.0.0.0" when the content requires none
};

// Reads what the file alone tells. Never raises: a file that cannot be read is described in Error.
TScreenSaverFacts ReadScreenSaverFacts(const std::string& fileName);

enum class TCreation { Created, Failed, NotTried };

// The Flash control as the screensaver's architecture sees it (its registry view and its file system view).
struct TControlFacts {
    bool Registered = false;
    std::string ServerPath; // the registered file (UTF-8)
    bool FileExists = false;
    std::string FileVersion; // empty when the file has no version information
    TCreation Creation = TCreation::NotTried;
    uint32_t CreationResult = 0;        // the HRESULT of a failed creation
    bool RegisteredInOtherView = false; // registered for the other architecture (64-bit Windows only)
};

// Windows' own settings that decide whether it starts a screensaver; none when the value is not set.
struct TStartFacts {
    std::optional<std::string> UserScreenSaver, UserActive, PolicyScreenSaver, PolicyActive;
    bool ChosenIsThisFile = false; // the screensaver Windows starts is the file judged
};

// What Windows says, for the screensaver's architecture and this user. Texts are UTF-8.
struct TMachineFacts {
    bool Is64BitWindows = false;
    TControlFacts Control;
    std::string ConfigPath;                 // the mms.cfg that a control of this architecture reads
    std::optional<std::string> ConfigBytes; // its bytes; none when there is no such file
    // The run's movie as the screensaver hands it to the player, in this user's temporary directory.
    std::string MovieUrl, MoviePath;
    std::string RunFolderUrl;         // the folder of the full-screen run, with a trailing slash
    std::string TempFolderUrl;        // the temporary directory, which holds the folders of every other run
    bool TempPathFitsCodePage = true; // the temporary directory can be named in the system's ANSI code page
    TStartFacts Start;
};

// What a player of that version does with local content.
enum class TPlayerKind {
    Unknown,        // no version, or one this tool knows nothing of
    Unrestricted,   // releases up to 32.0.0.344: plays whatever it is given
    BlocksAfterEol, // later 32.x releases (Windows' own among them): blocks content after 2021-01-12 unless
                    // allow-listed
    AllowListOnly,  // 33.x and 34.x (a regional edition) and 50.x (the enterprise edition): plays allow-listed content
                    // only
};
TPlayerKind PlayerKindOf(std::string_view version);

// The settings of an mms.cfg that decide whether a movie may play. Lines are NAME=VALUE, blanks around either are
// ignored, as are lines starting with '#'; names in any letter case; a setting is on only with the value 1. The
// file may be UTF-8 (with or without a byte order mark) or UTF-16 with a byte order mark.
struct TMmsConfig {
    bool EnableAllowList = false;
    bool InsecureLocalPathMatching = false; // EnableInsecureAllowListLocalPathMatching
    bool RootMovieOnly = false;             // AllowListRootMovieOnly
    std::vector<std::string> Patterns;      // every AllowListUrlPattern, in file order, as UTF-8
};
TMmsConfig ParseMmsConfig(std::string_view bytes);

enum class TCoverage { Covers, DoesNotCover, BarePathIgnored };
// Whether one AllowListUrlPattern lets the movie at url (whose local path is path) play. A URL pattern needs its
// scheme ("*" for any) and host ("" for a local file, "*" for any, "*.name" for the name's subdomains); its path
// covers the URL's path when that begins with it at a folder boundary (a pattern ending in "/" covers the folder
// and below; one without covers that file, or that folder). Scheme, host and, for file URLs, the path compare in
// any ASCII letter case; %XX escapes compare by what they stand for. A pattern that is a bare local path (a drive
// or a share, no scheme) counts only with the insecure local-path switch, and is then compared with the path.
TCoverage PatternCovers(std::string_view pattern, std::string_view url, std::string_view path, bool insecureLocal);

enum class TVerdict { Plays, WillNotPlay, CannotTell };
enum class TFindingResult { Ok, Blocks, Unknown, Note };

struct TFinding {
    std::string Check; // a stable name for scripts, such as "control.registered"
    TFindingResult Result = TFindingResult::Note;
    std::string Text; // plain words, UTF-8
};

struct TDoctorReport {
    TVerdict Verdict = TVerdict::CannotTell;
    std::vector<TFinding> Findings;
    // The lines that would make the player accept the movie, and the file they go into; empty when none are needed.
    std::string FixFile;
    std::vector<std::string> FixLines;
};

// Judges the facts; machine is null where only the file could be read (not on Windows). The verdict is "will not
// play" when any finding blocks, otherwise "cannot tell" when any finding is unknown, otherwise "plays".
TDoctorReport JudgeScreenSaver(const TScreenSaverFacts& file, const TMachineFacts* machine);

// One line per finding, its result first, the fix, then the verdict; or one JSON object with "verdict",
// "findings" (objects with "check", "result" and "text") and, when one is needed, "fix" ("file", "lines").
std::string DoctorText(const TDoctorReport& report);
std::string DoctorJson(const TDoctorReport& report);
// 0 plays, 1 will not play, 2 cannot tell.
int DoctorExitCode(TVerdict verdict);

// The doctor command: the given screensaver, or the one Windows starts for this user when file is empty.
int RunDoctor(const std::string& file, bool json, std::string& output);

#ifdef _WIN32
// The facts Windows gives for the file's architecture; the screensaver Windows starts when file is empty.
TMachineFacts GatherMachineFacts(const TScreenSaverFacts& file);
// The screensaver Windows starts for this user (policy first); empty when none is chosen.
std::string ChosenScreenSaver();
#endif
