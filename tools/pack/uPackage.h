// Packages for installing a screensaver: a setup program (NSIS) and an MSI package (WiX, built with wixl), made
// from the manifest after the screensaver is built as the build command builds it.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// What both packages say about the screensaver. Texts are UTF-8; the codes are name-based UUIDs in braces.
struct TPackageInfo {
    std::string Name;     // the product's name, as Add/Remove Programs lists it
    std::string Version;  // four dotted numbers
    std::string Company;  // may be empty
    std::string FileName; // the installed file's name, "Name.scr"
    std::string Source;   // the built screensaver, relative to the tool's working folder
    std::string Output;   // the package the tool writes, relative to its working folder
    bool X64 = false;
    std::string UpgradeCode; // the same for every version of one screensaver
    std::string ProductCode; // one per version and architecture
};

struct TPackageRequest {
    std::string Input; // a manifest, or a movie
    std::string Setup; // the setup program to write; empty: none
    std::string Msi;   // the MSI package to write; empty: none
    std::string Runtime;
    std::string Arch; // as build's
    std::string Makensis; // empty: makensis on the PATH
    std::string Wixl;     // empty: wixl on the PATH
    std::vector<std::string> Sets;
};

// The package command: 0 when every package asked for was written, 1 when anything was wrong (each problem on err
// naming its file and field; no package written or replaced).
int RunPackage(const TPackageRequest& request, std::ostream& out, std::ostream& err);

// The name made a file name Windows keeps as written: reserved and control characters become '_', trailing dots
// and spaces go, a device name gets a '_' behind it; "screensaver" when nothing is left.
std::string SafeFileName(std::string_view name);
