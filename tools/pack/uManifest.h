// The manifest: a small TOML file that names the movie and every setting the screensaver reads. Reading it
// checks names and types; whether the files it names are fit to be packed is the build's concern (uPackBuild).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Where a value was written: a manifest's line and column (both from 1), or only a file name (Line 0) for the
// command line and for files the manifest names.
struct TSourcePos {
    std::string File;
    uint32_t Line = 0;
    uint32_t Column = 0;
};

struct TDiagnostic {
    TSourcePos Where;
    std::string Field; // the manifest key ("movie.loop"); empty for a TOML syntax error
    std::string Message;
    bool Warning = false;
};

class TDiagnostics {
public:
    void Error(const TSourcePos& where, std::string field, std::string message);
    void Warn(const TSourcePos& where, std::string field, std::string message);
    bool HasErrors() const { return FErrors > 0; }
    const std::vector<TDiagnostic>& All() const { return FAll; }

private:
    std::vector<TDiagnostic> FAll;
    int FErrors = 0;
};

// "FILE:LINE:COL: field: message", or "FILE: field: message" without a line; "warning: " in front of a warning's
// message.
std::string FormatDiagnostic(const TDiagnostic& diagnostic);

template <class T> struct TSetting {
    std::optional<T> Value;
    TSourcePos Where;
    std::string Written; // a path as written, in UTF-8; Value holds it as the system takes it
    bool Given() const { return Value.has_value(); }
};

struct TManifestFile {
    TSetting<std::string> Path; // as the system takes it: relative paths resolved against the manifest's folder
    TSetting<std::string> Name; // the stored file name; the path's own file name when not given
    TSourcePos Where;
};

// The author's identity, which goes into the screensaver's own resources rather than its content store, so
// that Windows can read it without running the program. Texts are UTF-8 here and UTF-16 in the resources, so
// they do not depend on the code page.
struct TProductFields {
    TSetting<std::string> Name;        // how Windows lists the screensaver
    TSetting<std::string> Icon;        // a .ico file, resolved like the files' paths
    TSetting<std::string> Version;     // 1 to 4 dotted numbers, each 0 to 65535
    TSetting<std::string> Company;
    TSetting<std::string> Copyright;
    TSetting<std::string> Description; // the name when not given
    TSetting<std::string> ProductName; // the name when not given
};

// Every setting as written (texts still UTF-8), each with where it was given; an absent one stays empty and
// leaves the screensaver's own default in place.
struct TManifest {
    std::string Source; // the manifest, or the movie given in its place
    TSetting<std::string> Id;
    TSetting<int64_t> CodePage;
    TSetting<int32_t> Arch; // an index into ArchNames; x86 when not given

    TProductFields Product;

    TSetting<std::string> MovieFile; // resolved like the files' paths
    TSetting<std::string> MovieName;
    TSetting<bool> Loop;
    TSetting<bool> Stretch; // scale: "exactfit" is true, "showall" false
    TSetting<int32_t> Quality;
    TSetting<bool> Menu;
    TSetting<bool> RightClick;
    TSetting<int32_t> Background; // 0x00BBGGRR
    TSetting<std::string> FlashVars;
    TSetting<std::string> RequiredFlashVersion; // dotted decimal, or "auto"

    TSetting<int32_t> Monitors;
    TSetting<bool> EndOnMouse;
    TSetting<bool> EndOnKey;
    TSetting<bool> ShowCursor;
    TSetting<bool> ThrottlePreview;

    std::vector<TManifestFile> Files;

    TSetting<std::string> Caption;
    TSetting<std::string> Copyright;
    TSetting<std::string> Link;
    TSetting<bool> CloseButton;
    TSetting<std::string> Picture; // resolved like the files' paths

    // What the screensaver tells the user when no usable Flash control is installed; nothing when not given.
    TSetting<std::string> NoPlayerText;
    TSetting<std::string> NoPlayerLink;
};

// The named choices of the settings that have them, in the order of their stored values (0, 1, ...).
inline constexpr const char* QualityNames[] = {"low", "high", "autolow", "autohigh"};
inline constexpr const char* MonitorNames[] = {"span", "first", "each"};
inline constexpr const char* ArchNames[] = {"x86", "x64"};

// Reads a manifest, or takes input as the movie itself when it begins like an SWF file, then applies each
// "key=value" of sets over it (a value that is not TOML is taken as a string; relative paths in them are taken
// from the current folder). Every problem goes to diagnostics; false only when the document itself could not be
// read (a missing file, a TOML syntax error), true otherwise, also when some of its values were wrong.
bool LoadManifest(const std::string& input, const std::vector<std::string>& sets, TManifest& manifest,
                  TDiagnostics& diagnostics);

// application/x-www-form-urlencoded as FlashVars reads it: every byte but A-Z a-z 0-9 - . _ ~ as %XX.
std::string PercentEncode(std::string_view text);

// A TOML basic string literal of UTF-8 text, with the escapes TOML defines.
std::string TomlString(std::string_view text);
