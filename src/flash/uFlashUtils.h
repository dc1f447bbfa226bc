// What the program knows of Flash outside the player: the reader of SWF file headers and, on Windows, the checks
// of the installed Shockwave Flash control.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "forms/SysUtils.h"

class EFlashFileError : public Exception {
    using Exception::Exception;
};

struct TSWFRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;
};

// The header of one SWF movie as far as its frame size, read once by the constructor; holds no file afterwards.
class TSWF {
public:
    // Raises EFlashFileError "\"<path>\" not found" for a missing file, "Invalid format" for a foreign signature or
    // a file too short for its header and frame rectangle; EFOpenError when the file cannot be opened exclusively;
    // EZDecompressionError when the start of a compressed body cannot be inflated.
    explicit TSWF(const std::string& fileName);

    const std::string& FileName() const { return FFileName; }
    bool Compressed() const { return FCompressed; }
    int32_t Version() const { return FVersion; }
    // As the header states it; never compared with the real size.
    uint32_t FileLength() const { return FFileLength; }
    // In pixels: the header's twips divided by 20, truncated toward zero.
    const TSWFRect& FrameRect() const { return FFrameRect; }
    int32_t Width() const { return FFrameRect.Right - FFrameRect.Left; }
    int32_t Height() const { return FFrameRect.Bottom - FFrameRect.Top; }

private:
    std::string FFileName;
    bool FCompressed = false;
    int32_t FVersion = 0;
    uint32_t FFileLength = 0;
    TSWFRect FFrameRect;
};

// The decision of IsFlashVersionAtLeast once the facts are known: a control that cannot be created passes no
// requirement; otherwise the installed version must reach the required one.
bool FlashVersionSatisfies(bool controlAvailable, std::string_view installed, std::string_view required);

// What the system says of the installed control, asked once for a run: the run's checks are all answered from it,
// so that it creates one instance for them however many movie controls it makes.
struct TFlashInstallation {
    bool Available = false;
    std::string Version; // the installed version; empty when the control is not available
    // IsFlashVersionAtLeast as of the moment the system was asked.
    bool VersionAtLeast(std::string_view required) const { return FlashVersionSatisfies(Available, Version, required); }
};

#ifdef _WIN32
// IsFlashControlAvailable and, only when it is, GetInstalledFlashVersion.
TFlashInstallation AskFlashInstallation();
// True when an instance of the control can be created now (COM must be initialised on the thread). Never raises.
bool IsFlashControlAvailable();
// The product version of the control's registered server file; "0.0.0.0" when no such file is registered, empty
// when the file has no version information.
std::string GetInstalledFlashVersion();
bool IsFlashVersionAtLeast(const std::string& required);
#endif
