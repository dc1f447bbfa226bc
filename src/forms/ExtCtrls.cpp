#include "ExtCtrls.h"

#include "Callbacks.h"
#include "Forms.h"

namespace {
const char* const TimerWindowClass = "TTimerWindow";
}

TTimer::TTimer(TComponent* owner) : TComponent(owner) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    if (!GetClassInfoA(instance, TimerWindowClass, &windowClass)) {
        windowClass.lpfnWndProc = SystemCallback(WndProc);
        windowClass.hInstance = instance;
        windowClass.lpszClassName = TimerWindowClass;
        RegisterClassA(&windowClass);
    }
    FWindow.reset(CreateWindowExA(0, TimerWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr));
    SetWindowLongPtrA(FWindow.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    UpdateTimer();
}

TTimer::~TTimer() {
    FEnabled = false;
    UpdateTimer();
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
    KillTimer(FWindow.get(), 1);
    if (FEnabled && FInterval != 0) SetTimer(FWindow.get(), 1, FInterval, nullptr);
}

LRESULT CALLBACK TTimer::WndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
    if (msg != WM_TIMER) return DefWindowProcA(window, msg, wParam, lParam);
    auto* timer = reinterpret_cast<TTimer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    try {
        if (timer && timer->FEnabled && timer->OnTimer) timer->OnTimer(timer);
    } catch (...) {
        if (Application) Application->HandleException(std::current_exception());
    }
    return 0;
}

// --- TImage ---

TImage::TImage(TComponent* owner) : TWinControl(owner) {
    FVisible = true;
    FCaptureMouse = true;
    FTrackMouse = true;
    FPaintsItself = true;
    SetBounds(0, 0, 105, 105);
    FPicture.OnChange = [this](TObject*) { PictureChanged(); };
}

void TImage::SetAutoSize(bool value) {
    FAutoSize = value;
    if (value) PictureChanged();
}

void TImage::SetStretch(bool value) {
    if (value == FStretch) return;
    FStretch = value;
    Invalidate();
}

void TImage::PictureChanged() {
    if (FAutoSize && !FPicture.Empty()) SetBounds(FLeft, FTop, FPicture.Width(), FPicture.Height());
    Invalidate();
}

void TImage::PaintWindow(HDC dc, const RECT& client) {
    TCanvas canvas(dc);
    RECT covered{0, 0, 0, 0};
    if (!FPicture.Empty()) {
        if (FStretch) {
            canvas.StretchDraw(client, FPicture.Bitmap());
            covered = client;
        } else {
            canvas.Draw(0, 0, FPicture.Bitmap());
            covered = {0, 0, FPicture.Width(), FPicture.Height()};
        }
    }
    // Only what the picture leaves free gets the background, so that the picture does not flicker.
    ExcludeClipRect(dc, covered.left, covered.top, covered.right, covered.bottom);
    FillBackground(dc, client);
}
