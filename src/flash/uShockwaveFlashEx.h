// The main form's movie control: the Flash control wrapper behind a message filter that keeps input away from the
// movie in preview mode, can keep the right button from opening the control's menu, stops the movie's timer while
// the preview is hidden or the program is closing, and can slow that timer in the preview.
#pragma once

#include <windows.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "ShockwaveFlashObjects_TLB.h"

class TShockwaveFlashEx : public TShockwaveFlash {
public:
    // The owner is the main form; the facts of it the filter needs are given: its window, whether it is a preview,
    // whether to throttle.
    TShockwaveFlashEx(TComponent* owner, HWND mainWindow, bool preview, bool throttle);
    std::string ClassName() const override { return "TShockwaveFlashEx"; }

    // Messages that never reach the control; set by CreateMovieControl, unchanged afterwards.
    const std::vector<uint32_t>& BlockedMessages() const { return FBlockedMessages; }
    void SetBlockedMessages(std::vector<uint32_t> messages) { FBlockedMessages = std::move(messages); }
    // Set by the main form's tear-down: from then on timer messages are dropped.
    bool Closing() const { return FClosing; }
    void SetClosing(bool value) { FClosing = value; }
    HWND MainWindow() const { return FMainWindow; }
    bool Preview() const { return FPreview; }
    bool Throttle() const { return FThrottle; }

protected:
    void WndProc(TMessage& message) override;

private:
    std::vector<uint32_t> FBlockedMessages;
    bool FThrottle = false;
    bool FPreview = false;
    HWND FMainWindow = nullptr;
    uint32_t FLastTimerTick = 0;
    bool FClosing = false;
};
