// The one place where the manifest's [product] fields meet the screensaver's resources: string 1 (the name the
// Screen Saver settings list), icon group 100 and the version information.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "store/uPEResources.h"
#include "uManifest.h"

// Longer names are cut off in the settings' drop-down list; the limit is in UTF-16 code units.
inline constexpr size_t MaxProductNameLength = 64;
// Every version string must fit its block's 16-bit length together with the others.
inline constexpr size_t MaxProductTextLength = 256;
// The icon group the screensaver library's dialogs and Explorer look for.
inline constexpr uint16_t ProductIconGroup = 100;

// Checks the fields (texts without control characters, the name's length, the icon file) and, when they change
// what the runtime's resources hold, writes a new resource section into image, the runtime's bytes up to its
// image end. Every problem goes to diagnostics under its field ("runtime" for resources that cannot be read or
// replaced); image is left as it was when there is one. Returns whether image was changed.
bool ApplyProduct(const TProductFields& product, std::vector<uint8_t>& image, const std::string& runtime,
                  TDiagnostics& diagnostics);

// What a screensaver's resources say, texts in UTF-8; empty for an image without resources or with damaged ones.
struct TProductInfo {
    std::optional<std::string> Name, Version, Company, Copyright, Description, ProductName;
    std::vector<TIconImage> Icon;
};
TProductInfo ReadProduct(const std::vector<uint8_t>& image);

// The image of fileName up to its image end, or nothing when it is no Windows program.
std::optional<std::vector<uint8_t>> ReadImageHead(const std::string& fileName);
