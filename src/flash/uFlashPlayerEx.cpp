#include "uFlashPlayerEx.h"

#include "forms/FileStream.h"
#include "support/uFileUrl.h"
#include "support/uPathSafety.h"
#include "support/uSysUtils.h"

namespace {
constexpr uint32_t PreviewSleepInterval = 50;

bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The extension of the last component, with its dot; empty when it has none.
std::string ExtensionOf(const std::string& path) {
    const std::string name = ExtractFileName(path);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

// Where a movie given under fileName is written. A bare name is placed in the temporary folder, and only when it
// is a plain file name: "..", a slash, a drive or a device would lead it elsewhere.
std::string ChosenMovieFileName(const std::string& fileName) {
    if (fileName.empty()) return UniqueTempFileName("swf");
    if (!ExtractFilePath(fileName).empty()) return fileName;
    return IsSafeFileName(fileName) ? TempFilePath(fileName) : UniqueTempFileName("swf");
}

// False, with nothing left behind, when the file cannot be created or written whole.
bool WriteStreamToFile(TStream& stream, const std::string& path) {
    try {
        TFileStream file(path, TFileMode::fmCreate);
        file.CopyFrom(stream, 0);
        return true;
    } catch (...) {
    }
    // Only ever a file this control created: the caller made sure that no other file has this name.
    DeleteFileA(path.c_str());
    return false;
}
} // namespace

TFlashPlayerEx::TFlashPlayerEx(TComponent* owner)
    : TShockwaveFlash(owner), TickCount([] { return static_cast<uint32_t>(GetTickCount()); }),
      SleepFor([](uint32_t milliseconds) { Sleep(milliseconds); }) {}

TFlashPlayerEx::~TFlashPlayerEx() {
    // A file that has gone meanwhile is no error.
    if (FDeleteOnDestroy && FileExists(FSWFFileName)) DeleteFileA(FSWFFileName.c_str());
}

void TFlashPlayerEx::LoadMovie(const std::string& fileName, bool deleteOnDestroy) {
    try {
        if (!FileExists(fileName)) return;
        FDeleteOnDestroy = deleteOnDestroy;
        FSWFFileName = fileName;
        SetMovie(FileUrlFromPath(AnsiToWide(fileName)));
    } catch (...) {
        // The control has no movie, or keeps the one it had.
    }
}

std::string TFlashPlayerEx::LoadMovieFromStream(TStream& stream, const std::string& fileName) {
    std::string path = ChosenMovieFileName(fileName);
    if (path.empty()) return path;
    // Replacing someone else's file would lose it, and this control deletes what it loads this way.
    const bool ownFile = FDeleteOnDestroy && path == FSWFFileName;
    if (!ownFile && PathExists(path)) path = UniqueFileName(ExtractFilePath(path), ExtensionOf(path), "-");
    if (WriteStreamToFile(stream, path)) LoadMovie(path, true);
    return path;
}

void TFlashPlayerEx::StartPlay() {
    FPlaying = true;
    Play();
}

void TFlashPlayerEx::SetBounds(int left, int top, int width, int height) {
    TShockwaveFlash::SetBounds(left, top, width, height);
    // Also before in-place activation, when there is no window whose move would tell the object.
    ComPtr<IOleInPlaceObject> inPlace;
    if (FAILED(OleObject()->QueryInterface(IID_IOleInPlaceObject, inPlace.put_void())) || !inPlace) return;
    RECT rect{Left(), Top(), Left() + Width(), Top() + Height()};
    inPlace->SetObjectRects(&rect, &rect);
}

void TFlashPlayerEx::WndProc(TMessage& message) {
    bool pass = true;
    if (message.Msg == WM_TIMER) {
        pass = FPlaying;
        if (FPreviewSleep) {
            // Unsigned arithmetic: the tick count's wrap after 49.7 days does no harm.
            if (TickCount() - FLastTimerTick < PreviewSleepInterval) SleepFor(PreviewSleepInterval);
            FLastTimerTick = TickCount();
        }
    } else if (message.Msg == WM_RBUTTONDOWN) {
        pass = FShowMenu;
    }
    if (pass)
        TShockwaveFlash::WndProc(message);
    else
        message.Result = 0;
}
