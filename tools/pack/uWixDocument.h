// The MSI package's WiX document for wixl, and the escaping that keeps every text from the manifest a plain text
// in it.
#pragma once

#include <string>
#include <vector>

#include "uPackage.h"

// The document, and the texts it uses. No text of the manifest is written into the document itself: wixl's
// preprocessor expands "$(...)" wherever it stands, escaped or not, so each text goes in as a preprocessor variable
// ("NAME=VALUE" for wixl -D), whose value it inserts as it is, after the XML has been parsed. The component codes
// follow from the upgrade code, the architecture and the installed file's name, so that a later version keeps them
// for the same file.
struct TWixDocument {
    std::string Text;
    std::vector<std::string> Defines;
};
TWixDocument WixDocument(const TPackageInfo& info);

// The features, by their names for ADDLOCAL: the file, and the installing user's current screensaver.
inline constexpr const char* WixMainFeature = "ScreenSaver";
inline constexpr const char* WixCurrentFeature = "MakeCurrent";
