// The settings dialog's movie control: the Flash control wrapper that can write a movie from a stream to a file of
// its own (and deletes that file when destroyed), holds back the movie's timer until it is started, can keep the
// right button from opening the control's menu, can space the movie's timer messages with a 50 ms sleep, and tells
// the in-place object its new rectangle whenever its bounds change.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "ShockwaveFlashObjects_TLB.h"
#include "forms/Classes.h"

class TFlashPlayerEx : public TShockwaveFlash {
public:
    // Raises EOleError when the control cannot be created.
    explicit TFlashPlayerEx(TComponent* owner);
    // Deletes the movie file when this control wrote it.
    ~TFlashPlayerEx() override;
    std::string ClassName() const override { return "TFlashPlayerEx"; }

    // When false, right-button presses never reach the control, so it shows no context menu.
    bool ShowMenu() const { return FShowMenu; }
    void SetShowMenu(bool value) { FShowMenu = value; }
    // When true, timer messages that follow each other within 50 ms are spaced by a 50 ms sleep.
    bool PreviewSleep() const { return FPreviewSleep; }
    void SetPreviewSleep(bool value) { FPreviewSleep = value; }
    // The movie file last loaded; empty until one is.
    const std::string& SWFFileName() const { return FSWFFileName; }

    // Loads an existing file as the movie; deleteOnDestroy says whether this control now owns it. A missing file,
    // or a control that refuses it, changes nothing.
    void LoadMovie(const std::string& fileName, bool deleteOnDestroy);
    // Writes the whole of stream to a file and loads it, owned by this control. An empty or unsafe bare fileName
    // gives a new name in the temporary folder, a bare safe name that name in the temporary folder, a path itself.
    // A file that exists and that this control did not write is never replaced: a new name beside it is used
    // instead. Returns the name written (empty when there is no temporary folder); when writing fails nothing is
    // left on disk and the movie stays as it was.
    std::string LoadMovieFromStream(TStream& stream, const std::string& fileName);
    // Lets timer messages through from now on and starts the movie.
    void StartPlay();
    // Changes the bounds, then gives the in-place object the new rectangle at once (also before activation).
    void SetBounds(int left, int top, int width, int height) override;

    // Where the filter reads the time and how it sleeps; replaceable so that tests need not wait.
    std::function<uint32_t()> TickCount;
    std::function<void(uint32_t milliseconds)> SleepFor;

protected:
    void WndProc(TMessage& message) override;

private:
    bool FShowMenu = true;
    bool FPreviewSleep = false;
    std::string FSWFFileName;
    bool FPlaying = false;
    uint32_t FLastTimerTick = 0;
    bool FDeleteOnDestroy = false;
};
