// The main-thread timer, and the picture control.
#pragma once

#include <windows.h>

#include "Components.h"
#include "Controls.h"
#include "Graphics.h"

// Ticks arrive as WM_TIMER messages of a hidden window of its own.

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
    static LRESULT CALLBACK WndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;

    UniqueHWnd FWindow;
    bool FEnabled = true;
    unsigned FInterval = 1000;
};

// Shows a picture at its top-left corner or scaled into the control; the left button captures the mouse and
// releasing it over the control clicks it.
class TImage : public TWinControl {
public:
    explicit TImage(TComponent* owner);
    std::string ClassName() const override { return "TImage"; }

    TPicture& Picture() { return FPicture; }
    // On: the control takes its picture's size whenever the picture changes; an empty picture keeps the size.
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool value);
    // On: the picture is scaled into the whole client area.
    bool Stretch() const { return FStretch; }
    void SetStretch(bool value);

protected:
    void PaintWindow(HDC dc, const RECT& client) override;

private:
    void PictureChanged();

    TPicture FPicture;
    bool FAutoSize = false;
    bool FStretch = false;
};
