#include "ExtCtrls.h"

#include "Forms.h"

namespace {
const char* const TimerWindowClass = "TTimerWindow";
}

TTimer::TTimer(TComponent* owner) : TComponent(owner) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    if (!GetClassInfoA(instance, TimerWindowClass, &windowClass)) {
        windowClass.lpfnWndProc = WndProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = TimerWindowClass;
        RegisterClassA(&windowClass);
    }
    FWindow = CreateWindowExA(0, TimerWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    SetWindowLongPtrA(FWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    UpdateTimer();
}

TTimer::~TTimer() {
    FEnabled = false;
    UpdateTimer();
    DestroyWindow(FWindow);
}

void TTimer::SetEnabled(bool value) {
    if (value == FEnabled) return;
    FEnabled = value;
    UpdateTimer();
}

void TTimer::SetInterval(unsigned value) {
    if (value == FInterval) return;
    FInterval = value;
    UpdateTimer();
}

void TTimer::UpdateTimer() {
    KillTimer(FWindow, 1);
    if (FEnabled && FInterval != 0) SetTimer(FWindow, 1, FInterval, nullptr);
}

LRESULT CALLBACK TTimer::WndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != WM_TIMER) return DefWindowProcA(window, msg, wParam, lParam);
    auto* timer = reinterpret_cast<TTimer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    try {
        if (timer && timer->FEnabled && timer->OnTimer) timer->OnTimer(timer);
    } catch (...) {
        if (Application) Application->HandleException(std::current_exception());
    }
    return 0;
}
