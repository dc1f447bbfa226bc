// The main-thread timer: ticks arrive as WM_TIMER messages of a hidden window of its own.
#pragma once

#include <windows.h>

#include "Components.h"

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner);
    ~TTimer() override;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    unsigned Interval() const { return FInterval; }
    void SetInterval(unsigned value);
    TNotifyEvent OnTimer;

private:
    void UpdateTimer();
    static LRESULT CALLBACK WndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND FWindow = nullptr;
    bool FEnabled = true;
    unsigned FInterval = 1000;
};
