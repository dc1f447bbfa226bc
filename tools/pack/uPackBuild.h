// Building a screensaver: the manifest turned into the items the screensaver reads, checked with the code the
// screensaver itself runs (the SWF reader, the name checks, the store writer), and written behind a copy of the
// runtime.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "app/uContentKeys.h"
#include "uManifest.h"

// The item names the runtime looks for; an indexed key followed by its index.
std::string ContentItemName(TContentKey key, int32_t index = -1);
std::string DialogItemName(TDialogKey key);

// One item as it will be stored: a small value in Data, or a file whose bytes are streamed.
struct TPlannedItem {
    std::string Name;
    std::vector<uint8_t> Data;
    std::string File; // when not empty, the payload is this file's bytes
    bool Compress = true;
    // The screensaver writes the item to a file in pieces (the movie, an additional file), so only the store
    // format bounds its size; any other item it reads whole, up to MaxInflatedSize.
    bool Streamed = false;
    std::string Field; // the manifest field that named File, for messages
};

struct TStorePlan {
    std::string Id;
    bool IdDerived = false;
    std::vector<TPlannedItem> Items; // in store order
    std::vector<std::string> Inputs; // every file read, so that the output never replaces one of them
};

// The items of the manifest in the order the runtime needs them (the identifier and the movie's file name before
// the movie, the additional-file count before the files), texts converted to the manifest's code page. Every
// value the runtime would refuse, rename or fail on is reported; an identifier is derived from the content when
// the manifest gives none. False when there was an error.
bool PlanStore(const TManifest& manifest, TStorePlan& plan, TDiagnostics& diagnostics);

// The runtime as far as its image end: a store behind it (an earlier build) is left out, and so is a signature,
// whose directory entry and the header checksum are cleared.
struct TRuntimeImage {
    std::vector<uint8_t> Head;
    bool HadContent = false;       // something followed the image end
    bool SignatureRemoved = false; // it was signed
    bool ProductApplied = false;   // the [product] fields rewrote its resources
};
// arch (an index into ArchNames) is what the screensaver is to be: a runtime for another processor is an error.
bool ReadRuntimeImage(const std::string& runtime, int32_t arch, TRuntimeImage& image, TDiagnostics& diagnostics);

// The runtime of each architecture, by index into ArchNames.
inline constexpr const char* RuntimeFileNames[] = {"mutone.scr", "mutone64.scr"};
// Where the runtime of arch is looked for beside the tool, in order: the tool's folder, then ../share/mutone.
std::vector<std::string> RuntimeCandidates(const std::string& toolPath, int32_t arch);

// Writes the image and the store to a new file beside output and renames it into place, so that output is either
// complete or untouched. Returns the file's size. Raises EPackError naming output, or naming an item's file and
// field when the store format cannot hold that item.
int64_t WriteScreensaver(const TRuntimeImage& image, const TStorePlan& plan, const std::string& output);

struct TBuildRequest {
    std::string Input; // a manifest, or a movie
    std::string Output;
    std::string Runtime; // empty: the one beside the tool
    std::string Arch;    // "x86" or "x64" over the manifest's arch; empty: the manifest's
    std::vector<std::string> Sets;
};

// What a build read and decided, for commands that go on from the screensaver it wrote.
struct TBuildResult {
    TManifest Manifest;
    std::string Id;
    bool IdDerived = false;
};

// The build command: 0 when the screensaver was written, 1 when anything was wrong (each problem on err as
// "mutone-pack: FILE:LINE:COL: field: message"; nothing written). result, when given, receives the manifest
// and the identifier of a written screensaver.
int RunBuild(const TBuildRequest& request, std::ostream& out, std::ostream& err, TBuildResult* result = nullptr);
