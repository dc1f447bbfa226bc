#include "uShockwaveFlashEx.h"

#include <algorithm>

#include "app/uMain.h"
#include "uFlashUtils.h"

namespace {
constexpr uint32_t ThrottleInterval = 50;

HWND MainWindowOf(TfrmMain& form) {
    return form.Handle();
}
} // namespace

// The base creates only the control's object, not its window: no message can reach WndProc before the fields
// below are set.
TShockwaveFlashEx::TShockwaveFlashEx(TfrmMain& owner)
    : TShockwaveFlashEx(&owner, MainWindowOf(owner), owner.ScreenSaver->Mode() == ssmPreview, owner.ThrottlePreview) {}

TShockwaveFlashEx::TShockwaveFlashEx(TComponent* owner, HWND mainWindow, bool preview, bool throttle)
    : TShockwaveFlash(owner), FThrottle(throttle), FPreview(preview), FMainWindow(mainWindow) {}

void TShockwaveFlashEx::WndProc(TMessage& message) {
    try {
        bool pass = std::find(FBlockedMessages.begin(), FBlockedMessages.end(), message.Msg) == FBlockedMessages.end();
        if (message.Msg == WM_TIMER) {
            if (FClosing) {
                pass = false;
            } else if (FPreview) {
                if (!IsWindowVisible(FMainWindow)) {
                    // The preview page is not showing: the movie stands still until it is shown again.
                    pass = false;
                } else if (FThrottle) {
                    // Unsigned arithmetic: the tick count's wrap after 49.7 days does no harm.
                    if (GetTickCount() - FLastTimerTick < ThrottleInterval) Sleep(ThrottleInterval);
                    FLastTimerTick = GetTickCount();
                }
            }
        }
        if (pass)
            TShockwaveFlash::WndProc(message);
        else
            message.Result = 0;
    } catch (...) {
        // The control keeps running whatever went wrong with one message.
    }
}

std::vector<uint32_t> MovieBlockedMessages(TScreenSaverMode mode, bool allowRightClick) {
    std::vector<uint32_t> blocked;
    if (!allowRightClick) blocked.push_back(WM_RBUTTONDOWN);
    if (mode != ssmRun) {
        // Mouse, keyboard, tablet and pen messages.
        static const std::pair<uint32_t, uint32_t> ranges[] = {
            {0x200, 0x20A}, {0x100, 0x108}, {0x2C0, 0x2DF}, {0x380, 0x38F}};
        for (const auto& [first, last] : ranges)
            for (uint32_t msg = first; msg <= last; ++msg)
                blocked.push_back(msg);
    }
    return blocked;
}

TShockwaveFlashEx* CreateMovieControl(TfrmMain& form, TFSCommandEvent onFSCommand) {
    auto* control = new TShockwaveFlashEx(form);
    form.MovieControls.push_back(control);
    try {
        control->OnFSCommand = std::move(onFSCommand);
    } catch (...) {
    }
    try {
        if (IsFlashVersionAtLeast("8.0")) control->DisableLocalSecurity();
    } catch (...) {
    }
    control->FBlockedMessages = MovieBlockedMessages(form.ScreenSaver->Mode(), form.AllowRightClick);
    control->SetParent(&form);
    return control;
}
