// The main form's movie control: the Flash control wrapper behind a message filter that keeps input away from the
// movie in preview mode, can keep the right button from opening the control's menu, stops the movie's timer while
// the preview is hidden or the program is closing, and can slow that timer in the preview.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "ShockwaveFlashObjects_TLB.h"
#include "app/uSwitches.h"

class TfrmMain;

class TShockwaveFlashEx : public TShockwaveFlash {
public:
    // Takes its settings from the main form, which becomes its owner.
    explicit TShockwaveFlashEx(TfrmMain& owner);
    // The same with the main form's facts given: its window, whether it is a preview, whether to throttle.
    TShockwaveFlashEx(TComponent* owner, HWND mainWindow, bool preview, bool throttle);
    std::string ClassName() const override { return "TShockwaveFlashEx"; }

    // Messages that never reach the control; filled by CreateMovieControl, unchanged afterwards.
    std::vector<uint32_t> FBlockedMessages;
    bool FThrottle = false;
    bool FPreview = false;
    HWND FMainWindow = nullptr;
    uint32_t FLastTimerTick = 0;
    // Set by the main form's tear-down: from then on timer messages are dropped.
    bool FClosing = false;

protected:
    void WndProc(TMessage& message) override;
};

// The messages a movie control of the given mode keeps from the control: the right button press unless right
// clicks are allowed, and outside run mode every mouse, keyboard, tablet and pen message.
std::vector<uint32_t> MovieBlockedMessages(TScreenSaverMode mode, bool allowRightClick);

// Creates one movie control owned and parented by the main form, appends it to MovieControls, hands its FSCommand
// events to onFSCommand and, for controls of version 8.0 or later, lifts the local security sandbox. Raises
// EOleError when the control cannot be created; the event assignment and the version-dependent call fail silently.
TShockwaveFlashEx* CreateMovieControl(TfrmMain& form, TFSCommandEvent onFSCommand);
