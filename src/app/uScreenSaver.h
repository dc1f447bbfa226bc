// The component that turns its owner form into a Windows screensaver window: it decides the mode from the
// command line, takes over the form's window procedure, sizes and parents the form, installs the input hooks,
// ends the program on input (after the Windows 9x password check) and runs the configure and password modes.
#pragma once

#include <cstdint>
#include <string>

#include "forms/ExtCtrls.h"
#include "forms/Forms.h"
#include "forms/Graphics.h"

#include "uSwitches.h"

class TThreadTimer;

// The name of the mutex that keeps a single full-screen instance.
inline constexpr const char* ScreenSaverMutexName = "9EA00A9F-18F3-4842-82F5-6677E57A79FA";

// The switch letter of this program's first argument ("/C" when there is none).
char GetModeLetter();

// Start-up step, before anything else of the program is made: for /S, start this program again with /E, wait for
// it and end with exit code 0. Returns only when the switch is not S.
void RelaunchForRunSwitch();
// Makes the full-screen copy (/E) per-monitor DPI aware, v2 where the system has it, so that its forms and movies
// are drawn at the screens' own resolution rather than stretched. Every other mode keeps the system's default: a
// preview window is a child of another process's window, and the settings dialog keeps its 96-dpi layout. Must
// run before the process makes its first window; does nothing where the system has no such calls (Vista, 7).
void DecideDpiAwareness();

class TScreenSaver : public TComponent {
public:
    explicit TScreenSaver(TCustomForm* owner);
    ~TScreenSaver() override;

    void Loaded() override;

    bool BitmapNeeded() const { return FBitmap != nullptr; }
    void SetBitmapNeeded(bool value);
    bool TimerEnabled() const { return FTimerEnabled; }
    void SetTimerEnabled(bool value);
    bool ShowMouseCursor() const { return FShowMouseCursor; }
    void SetShowMouseCursor(bool value);
    const std::string& CustomizeFormName() const { return FCustomizeFormName; }
    void SetCustomizeFormName(const std::string& name) { FCustomizeFormName = name; }
    int Interval() const { return FInterval; }
    void SetInterval(int value);
    bool TerminateOnMouseMove() const { return FTerminateOnMouseMove; }
    void SetTerminateOnMouseMove(bool value) { FTerminateOnMouseMove = value; }
    bool TerminateOnKeyDown() const { return FTerminateOnKeyDown; }
    void SetTerminateOnKeyDown(bool value) { FTerminateOnKeyDown = value; }
    bool Visible() const { return FVisible; }
    void SetVisible(bool value);

    TNotifyEvent OnIdle;
    TNotifyEvent OnTimer;
    TNotifyEvent OnTerminate;

    TScreenSaverMode Mode() const { return FMode; }
    HWND PreviewWindow() const { return FPreviewWindow; }
    int LogicalWidth() const { return FLogicalWidth; }
    int LogicalHeight() const { return FLogicalHeight; }
    int MoveCount() const { return FMoveCount; }
    bool Terminating() const { return FTerminating; }

    // Ends the screensaver: OnTerminate, then the main form is closed (or the application ended).
    void DoTerminate();
    // DoTerminate once the Windows 9x screensaver password, where one is set, has been given.
    void TryTerminate();

protected:
    void BeforeDestruction() override;

private:
    void ReleaseHooksAndTimers();
    void AdjustForm();
    void UpdateVisible();
    void KeepOnTop();
    bool DoTimerPaint();
    void SetCanvasMapping(TCanvas& canvas);
    void FormWndProc(TMessage& message);
    void AppIdle(TObject* sender, bool& done);
    void ShowCustomizeForm();
    void ChangePassword();
    void PreviewClosed();
    void ApplyShowMouseCursor();

    static LRESULT CALLBACK MouseHookProc(int code, WPARAM wParam, LPARAM lParam) noexcept;
    static LRESULT CALLBACK KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam) noexcept;

    TTimer* FTimer = nullptr;
    TThreadTimer* FThreadTimer = nullptr;
    TScreenSaverMode FMode = ssmNone;
    HWND FPreviewWindow = nullptr;
    RECT FPreviewRect{};
    TCustomForm* FForm;
    TBitmap* FBitmap = nullptr;
    TWndMethod FSavedWndProc;
    int FLogicalHeight = 0, FLogicalWidth = 0;
    int FMoveCount = 0;
    bool FActive = false;
    bool FUsePassword = false;
    POINT FLastMousePos{0, 0}; // in screen coordinates; where the cursor rested at the start in run mode
    bool FHookedMove = false;  // the move being handled came from the mouse hook, in screen coordinates
    bool FTerminating = false;
    bool FAtRunTime = false;
    int FPreviewWidth = 0, FPreviewHeight = 0;
    HWND FImeWindow = nullptr;
    bool FRestoreImeStatus = false;
    bool FHooksInstalled = false;
    bool FVerifyingPassword = false;
    bool FPainting = false;
    bool FClosingPreview = false;
    bool FReleased = false;

    bool FTimerEnabled = false;
    bool FShowMouseCursor = false;
    std::string FCustomizeFormName;
    int FInterval = 500;
    bool FTerminateOnMouseMove = true;
    bool FTerminateOnKeyDown = true;
    bool FVisible = true;
};

// The application object's own window is hidden, if the application object exists.
void HideApplicationWindow();
