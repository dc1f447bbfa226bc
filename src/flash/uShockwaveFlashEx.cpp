#include "uShockwaveFlashEx.h"

#include <algorithm>

namespace {
constexpr uint32_t ThrottleInterval = 50;
} // namespace

// The base creates only the control's object, not its window: no message can reach WndProc before the fields
// below are set.
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
