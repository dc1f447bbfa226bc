#include "uScreenSaver.h"

#include <imm.h>
#include <windowsx.h>

#include <cstring>
#include <utility>

#include "forms/Callbacks.h"
#include "forms/CommandLine.h"
#include "forms/Handles.h"
#include "support/uInstanceGuard.h"
#include "support/uSysUtils.h"
#include "support/uThreadTimer.h"

namespace {

// The hook procedures reach the component through these.
TScreenSaver* CurrentScreenSaver = nullptr;
UniqueHHook MouseHook;
UniqueHHook KeyboardHook;

constexpr UINT WM_KEYHOOK = WM_APP;
constexpr UINT WM_MOUSEHOOK = WM_APP + 1;

bool IsWindows9x() {
    return (GetVersion() & 0x80000000u) != 0;
}

RECT VirtualDesktop() {
    int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN), top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

void ShowErrorMessage(const wchar_t* text) {
    MessageBoxW(nullptr, text, L"Error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

// Reads at most four bytes of a registry value into an integer that starts at 0 (low byte first); 0 when the
// value cannot be read or is longer.
uint32_t ReadSmallRegistryValue(HKEY root, const std::string& key, const std::string& value) {
    uint8_t bytes[4] = {};
    uint32_t size = sizeof(bytes);
    if (!RegReadValue(root, key, value, bytes, size)) return 0;
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

} // namespace

void HideApplicationWindow() {
    if (Application && Application->Handle()) ShowWindow(Application->Handle(), SW_HIDE);
}

char GetModeLetter() {
    return SwitchLetter(ParamCount() >= 1 ? ParamStr(1) : "/C");
}

void RelaunchForRunSwitch() {
    if (GetModeLetter() != 'S') return;
    try {
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        GetStartupInfoA(&startup);
        // Quoted, so that a path with blanks cannot be taken for a shorter program path in front of it.
        std::string commandLine = "\"" + ParamStr(0) + "\" /E";

        OSVERSIONINFOA version{};
        version.dwOSVersionInfoSize = sizeof(version);
        GetVersionExA(&version);
        const bool useToken =
            version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
            (version.dwMajorVersion >= 6 || (version.dwMajorVersion == 5 && version.dwMinorVersion >= 1 &&
                                             std::strcmp(version.szCSDVersion, "Service Pack 2") == 0));

        PROCESS_INFORMATION process{};
        BOOL started = FALSE;
        {
            // Our own path is where the system found us: installed into System32 of 64-bit Windows, this 32-bit
            // program would otherwise be looked for in SysWOW64, where it is not.
            TFsRedirectionOff redirectionOff;
            if (useToken) {
                HANDLE rawToken = nullptr;
                if (OpenProcessToken(GetCurrentProcess(), GENERIC_ALL, &rawToken)) {
                    UniqueHandle token(rawToken);
                    started = CreateProcessAsUserA(token.get(), nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                                   nullptr, nullptr, &startup, &process);
                }
            }
            // Where the token cannot be used, the plain call still starts the copy that does the work.
            if (!started)
                started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                         &startup, &process);
        }
        if (started) {
            UniqueHandle processHandle(process.hProcess);
            UniqueHandle threadHandle(process.hThread);
            // This copy has no window and no application object, so there are no messages to serve while it
            // waits; it ends as soon as the other copy does.
            WaitForSingleObject(processHandle.get(), INFINITE);
        }
    } catch (...) {
        // The starting copy ends with exit code 0 whatever happened.
    }
    ExitProcess(0);
}

void DecideDpiAwareness() {
    if (ModeFromLetter(GetModeLetter()) != ssmRun) return;
    // Looked up, not imported: the calls exist from Windows 8.1 (shcore) and 10 1703 (the context) on.
    const HANDLE perMonitorAwareV2 = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4));
    using TSetProcessDpiAwarenessContext = BOOL(WINAPI*)(HANDLE);
    auto setContext = reinterpret_cast<TSetProcessDpiAwarenessContext>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "SetProcessDpiAwarenessContext")));
    if (setContext && setContext(perMonitorAwareV2)) return;
    // Already aware (as Wine makes every process unless told otherwise): the awareness is set once per process, and
    // loading shcore would only cost the start its time.
    using TIsProcessDPIAware = BOOL(WINAPI*)();
    auto isAware = reinterpret_cast<TIsProcessDPIAware>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "IsProcessDPIAware")));
    if (isAware && isAware()) return;
    UniqueHModule shcore = LoadSystemLibrary("shcore.dll");
    if (!shcore) return;
    using TSetProcessDpiAwareness = HRESULT(WINAPI*)(int);
    auto setAwareness = reinterpret_cast<TSetProcessDpiAwareness>(
        reinterpret_cast<void*>(GetProcAddress(shcore.get(), "SetProcessDpiAwareness")));
    const int processPerMonitorDpiAware = 2;
    if (setAwareness) setAwareness(processPerMonitorDpiAware);
}

TScreenSaver::TScreenSaver(TCustomForm* owner) : TComponent(owner), FForm(owner) {
    SetName("ScreenSaver");
    // No run-time error boxes; the application window stays hidden and shows no main form by itself.
    SwitchOffErrorMessages();
    HideApplicationWindow();
    FAtRunTime = !(ComponentState() & csDesigning);
    if (Application) Application->ShowMainForm = false;

    // The Windows 9x screensaver password.
    FUsePassword = ReadSmallRegistryValue(HKEY_CURRENT_USER, "Control Panel\\Desktop", "ScreenSaveUsePassword") != 0;

    FSavedWndProc = FForm->WindowProc;
    FMoveCount = 0;
    FTerminateOnMouseMove = true;
    FTerminateOnKeyDown = true;
    RECT desktop = VirtualDesktop();
    FLogicalWidth = desktop.right - desktop.left;
    FLogicalHeight = desktop.bottom - desktop.top;

    // The preview window comes from the second argument only.
    if (ParamCount() >= 2) {
        FPreviewWindow = reinterpret_cast<HWND>(ParseWindowHandle(ParamStr(2)));
        // A number that names no window is treated as no window at all: nothing may be parented to it.
        if (FPreviewWindow && !IsWindow(FPreviewWindow)) FPreviewWindow = nullptr;
        if (FPreviewWindow) GetWindowRect(FPreviewWindow, &FPreviewRect);
    }
    FPreviewWidth = FPreviewRect.right - FPreviewRect.left;
    FPreviewHeight = FPreviewRect.bottom - FPreviewRect.top;

    FMode = ModeFromLetter(GetModeLetter());
    switch (FMode) {
    case ssmChangePassword:
        ChangePassword();
        break;
    case ssmRun:
        SetShowMouseCursor(false);
        break;
    case ssmPreview: {
        FForm->SetParentWindow(FPreviewWindow);
        int screenWidth = GetSystemMetrics(SM_CXSCREEN);
        int screenHeight = GetSystemMetrics(SM_CYSCREEN);
        FLogicalWidth = FPreviewWidth ? screenWidth / FPreviewWidth * FPreviewWidth : 0;
        FLogicalHeight = FPreviewHeight ? screenHeight / FPreviewHeight * FPreviewHeight : 0;
        break;
    }
    default:
        break;
    }

    FActive = FAtRunTime && (FMode == ssmNone || FMode == ssmPreview || FMode == ssmRun);
    if (FActive) {
        HideApplicationWindow();
        if (FMode == ssmRun) SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, TRUE, nullptr, 0);
    }

    CurrentScreenSaver = this;

    if (FAtRunTime) {
        FForm->WindowProc = [this](TMessage& message) { FormWndProc(message); };
        if (Application) Application->OnIdle = [this](TObject* sender, bool& done) { AppIdle(sender, done); };
        if (FMode == ssmPreview) SetWindowLongA(FForm->Handle(), GWL_STYLE, WS_CHILD | WS_DISABLED);
        if (FMode == ssmRun) {
            // A window that appears under a resting cursor gets a mouse move at once: only changes from where the
            // cursor rests now count as moves of the user (in screen coordinates, as every move is compared).
            POINT cursor;
            if (GetCursorPos(&cursor)) FLastMousePos = cursor;
            FHooksInstalled = true;
            MouseHook.reset(SetWindowsHookExA(WH_MOUSE, SystemCallback(MouseHookProc), nullptr, GetCurrentThreadId()));
            KeyboardHook.reset(
                SetWindowsHookExA(WH_KEYBOARD, SystemCallback(KeyboardHookProc), nullptr, GetCurrentThreadId()));
        }
    }

    // The IME status window is closed while the screensaver runs and reopened afterwards unless the
    // language bar was set to hide it.
    FVisible = true;
    // The thread's default IME window, asked through the application's window: the form's own window is made
    // later, when it is first shown, with the frame and size it keeps, instead of being made here and then
    // reframed and resized over the whole desktop.
    FImeWindow = ImmGetDefaultIMEWnd(Application && Application->Handle() ? Application->Handle() : FForm->Handle());
    FRestoreImeStatus =
        ReadSmallRegistryValue(HKEY_CURRENT_USER, "Software\\Microsoft\\CTF\\LangBar", "ShowStatus") == 0;

    // The framework timer paints; the worker tick keeps the application window hidden.
    FTimer = new TTimer(this);
    FTimer->SetEnabled(false);
    FTimer->SetInterval(500);
    FTimer->OnTimer = [this](TObject*) {
        if (!FTerminating) DoTimerPaint();
    };
    FThreadTimer = new TThreadTimer(this);
    FThreadTimer->SetInterval(100);
    FThreadTimer->SetPriority(TThreadPriority::tpHighest);
    FThreadTimer->UseSyncronize = false;
    FThreadTimer->UseMessage = false;
    // The worker keeps to the application's window as it is now: it never reads the application object.
    FThreadTimer->OnTimer = HideWindowTick(Application ? Application->Handle() : nullptr);
    FThreadTimer->SetEnabled(FActive);

    // A single full-screen instance.
    if (FAtRunTime && FMode == ssmRun && !CheckSingleInstance(ScreenSaverMutexName) && Application)
        Application->Terminate();
}

// What must happen while the owned timers still exist and before they are freed with the component.
void TScreenSaver::ReleaseHooksAndTimers() {
    if (FReleased) return;
    FReleased = true;
    CurrentScreenSaver = nullptr;
    if (FHooksInstalled) {
        KeyboardHook.reset();
        MouseHook.reset();
    }
    if (FTimer) FTimer->SetEnabled(false);
    if (FAtRunTime) FForm->WindowProc = FSavedWndProc;
    if (FTimer) FTimer->Free();
    if (FThreadTimer) FThreadTimer->Free();
    FTimer = nullptr;
    FThreadTimer = nullptr;
}

void TScreenSaver::BeforeDestruction() {
    ReleaseHooksAndTimers();
    TComponent::BeforeDestruction();
}

TScreenSaver::~TScreenSaver() {
    ReleaseHooksAndTimers();
    delete FBitmap;
    if (FRestoreImeStatus && FImeWindow) SendMessageA(FImeWindow, WM_IME_CONTROL, IMC_OPENSTATUSWINDOW, 0);
    // A second copy that gave way to the running one must not clear the flag the running one set.
    if (FMode == ssmRun && HoldsInstanceMutex()) SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, FALSE, nullptr, 0);
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
    if (FAtRunTime) ReleaseSingleInstance();
}

void TScreenSaver::Loaded() {
    TComponent::Loaded();
    if (FAtRunTime) AdjustForm();
}

void TScreenSaver::AdjustForm() {
    if (FForm->BorderStyle() != TFormBorderStyle::bsNone) FForm->SetBorderStyle(TFormBorderStyle::bsNone);
    if (FMode == ssmPreview) {
        FForm->SetBounds(0, 0, FPreviewWidth, FPreviewHeight);
    } else if (FMode == ssmRun) {
        RECT desktop = VirtualDesktop();
        FForm->SetBounds(desktop.left, desktop.top, desktop.right - desktop.left, desktop.bottom - desktop.top);
    }
    if ((FMode == ssmNone || FMode == ssmPreview || FMode == ssmRun) && !FForm->Visible() && FVisible) UpdateVisible();
}

void TScreenSaver::UpdateVisible() {
    if (FVisible) {
        FForm->Show();
        // Posted: the first message to the IME window loads the input method, which need not hold up the movie.
        if (FImeWindow && FTerminateOnKeyDown) PostMessageA(FImeWindow, WM_IME_CONTROL, IMC_CLOSESTATUSWINDOW, 0);
        KeepOnTop();
    } else {
        FForm->Hide();
    }
}

void TScreenSaver::SetVisible(bool value) {
    if (value == FVisible) return;
    FVisible = value;
    UpdateVisible();
}

void TScreenSaver::KeepOnTop() {
    SetControlTopMost(*FForm, 0);
    if (IsWindows9x() && FImeWindow && FTerminateOnKeyDown)
        SendMessageA(FImeWindow, WM_IME_CONTROL, IMC_CLOSESTATUSWINDOW, 0);
    HideApplicationWindow();
}

bool TScreenSaver::DoTimerPaint() {
    if (FPainting) return false;
    FPainting = true;
    struct Guard {
        bool& Flag;
        ~Guard() { Flag = false; }
    } guard{FPainting};

    KeepOnTop();
    if (OnTimer) OnTimer(this);
    if (!FAtRunTime || !FBitmap || !FForm->HandleAllocated()) return false;
    TWindowDC dc(FForm->Handle());
    TCanvas canvas(dc.get());
    SetCanvasMapping(canvas);
    SetCanvasMapping(FBitmap->Canvas());
    canvas.Draw(0, 0, *FBitmap);
    return true;
}

void TScreenSaver::SetCanvasMapping(TCanvas& canvas) {
    const int width = FForm->Width();
    const int height = FForm->Height();
    if (width == 0 || height == 0) return;
    SetMapMode(canvas.Handle(), MM_ANISOTROPIC);
    SetWindowOrgEx(canvas.Handle(), 0, 0, nullptr);
    if (FLogicalHeight != 0) SetWindowExtEx(canvas.Handle(), FLogicalWidth / width, FLogicalHeight / height, nullptr);
}

void TScreenSaver::SetBitmapNeeded(bool value) {
    if (value) {
        if (!FBitmap) FBitmap = new TBitmap();
        FBitmap->SetSize(FLogicalWidth, FLogicalHeight);
    } else {
        delete FBitmap;
        FBitmap = nullptr;
    }
}

void TScreenSaver::SetInterval(int value) {
    FInterval = value;
    if (!FTimer) return;
    FTimer->SetInterval(static_cast<unsigned>(value > 0 ? value : 0));
    FTimer->SetEnabled(value != 0 && FActive);
}

void TScreenSaver::SetTimerEnabled(bool value) {
    FTimerEnabled = value;
    if (FTimer) FTimer->SetEnabled(value && FActive);
}

void TScreenSaver::SetShowMouseCursor(bool value) {
    FShowMouseCursor = value;
    if (FAtRunTime && FMode == ssmRun) ApplyShowMouseCursor();
}

void TScreenSaver::ApplyShowMouseCursor() {
    if (FShowMouseCursor) {
        while (ShowCursor(TRUE) < 0) {
        }
    } else {
        while (ShowCursor(FALSE) > 0) {
        }
    }
}

void TScreenSaver::FormWndProc(TMessage& message) {
    if (FTerminating) {
        FSavedWndProc(message);
        return;
    }
    const UINT msg = message.Msg;
    bool callSaved = true;
    if (msg == WM_MOUSEMOVE) {
        // Positions compare on the screen: the hook's moves (over the movie controls) come in screen coordinates.
        // The form's own moves are read where the cursor was when the message was made: the form may have moved
        // over the desktop since, which would shift its client coordinates.
        const DWORD where = FHookedMove ? static_cast<DWORD>(message.LParam) : GetMessagePos();
        const POINT point{GET_X_LPARAM(where), GET_Y_LPARAM(where)};
        if (FTerminateOnMouseMove && FMode == ssmRun && FMoveCount >= 3) TryTerminate();
        if ((point.x != FLastMousePos.x || point.y != FLastMousePos.y) && FMoveCount < 3) ++FMoveCount;
        FLastMousePos = point;
    } else if (msg >= WM_LBUTTONDOWN && msg <= WM_MOUSEWHEEL) {
        if (FTerminateOnMouseMove && FMode == ssmRun) TryTerminate();
    } else if (msg == WM_KEYDOWN || msg == WM_KEYUP) {
        if (FTerminateOnKeyDown && FMode == ssmRun) TryTerminate();
    } else if (msg == WM_KEYHOOK) {
        FForm->Perform((HIWORD(message.LParam) & KF_UP) ? WM_KEYUP : WM_KEYDOWN, message.WParam, message.LParam);
    } else if (msg == WM_MOUSEHOOK) {
        const bool wasHooked = std::exchange(FHookedMove, true);
        try {
            FForm->Perform(static_cast<UINT>(message.WParam), 0, message.LParam);
        } catch (...) {
            FHookedMove = wasHooked;
            throw;
        }
        FHookedMove = wasHooked;
    } else if (msg == WM_SYSCOMMAND && (message.WParam & 0xFFF0) == SC_SCREENSAVE) {
        message.Result = 1; // a request to start a screensaver while this one runs is swallowed
        callSaved = false;
    } else if (msg == WM_ERASEBKGND) {
        message.Result = 1;
        callSaved = !DoTimerPaint();
    } else if (msg == WM_CLOSE) {
        RECT desktop = VirtualDesktop();
        SetWindowPos(FForm->Handle(), nullptr, desktop.right, desktop.bottom, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        PreviewClosed();
    } else if (msg == WM_DESTROY && FMode == ssmPreview) {
        // The preview window was destroyed without closing this one first, taking this window with it:
        // nothing is left to play in, so the screensaver ends instead of lingering without a window.
        DoTerminate();
    }
    if (callSaved) FSavedWndProc(message);
    if (!FTerminating && msg == WM_PAINT) DoTimerPaint();
    // The monitors or their scaling changed: the suggested rectangle of WM_DPICHANGED is for a window that moved
    // to another monitor, while this one covers them all, so the desktop is read again instead.
    if (!FTerminating && FMode == ssmRun && (msg == WM_DISPLAYCHANGE || msg == WM_DPICHANGED)) {
        RECT desktop = VirtualDesktop();
        FForm->SetBounds(desktop.left, desktop.top, desktop.right - desktop.left, desktop.bottom - desktop.top);
    }
}

LRESULT CALLBACK TScreenSaver::MouseHookProc(int code, WPARAM wParam, LPARAM lParam) noexcept {
    LRESULT result = CallNextHookEx(MouseHook.get(), code, wParam, lParam);
    TScreenSaver* saver = CurrentScreenSaver;
    if (saver && saver->FTerminateOnMouseMove && !saver->FVerifyingPassword && saver->FForm->HandleAllocated()) {
        auto* data = reinterpret_cast<MOUSEHOOKSTRUCT*>(lParam);
        if (data && data->hwnd != saver->FForm->Handle()) {
            // In screen coordinates, as the form reads its own moves, so that positions compare.
            PostMessageA(saver->FForm->Handle(), WM_MOUSEHOOK, wParam,
                         MAKELPARAM(static_cast<WORD>(data->pt.x), static_cast<WORD>(data->pt.y)));
        }
    }
    return result;
}

LRESULT CALLBACK TScreenSaver::KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam) noexcept {
    LRESULT result = CallNextHookEx(KeyboardHook.get(), code, wParam, lParam);
    TScreenSaver* saver = CurrentScreenSaver;
    if (saver && saver->FTerminateOnKeyDown && !saver->FVerifyingPassword && saver->FForm->HandleAllocated())
        PostMessageA(saver->FForm->Handle(), WM_KEYHOOK, wParam, lParam);
    return result;
}

void TScreenSaver::TryTerminate() {
    FVerifyingPassword = true;
    bool ok = true;
    if (FUsePassword) {
        UniqueHModule library = LoadSystemLibrary("Password.CPL");
        if (library) {
            using TVerifyScreenSavePwd = BOOL(WINAPI*)(HWND);
            auto verify = reinterpret_cast<TVerifyScreenSavePwd>(
                reinterpret_cast<void*>(GetProcAddress(library.get(), "VerifyScreenSavePwd")));
            if (verify) {
                const bool remembered = FShowMouseCursor;
                SetShowMouseCursor(true);
                ok = verify(GetFocus()) != FALSE;
                FShowMouseCursor = remembered;
            }
        }
    }
    if (ok) {
        DoTerminate();
    } else {
        if (FAtRunTime && FMode == ssmRun) ApplyShowMouseCursor();
        FMoveCount = 0;
        FVerifyingPassword = false;
    }
}

void TScreenSaver::DoTerminate() {
    FTerminating = true;
    if (FTimer) FTimer->SetEnabled(false); // not yet created when the password-change mode ends the program
    if (OnTerminate) OnTerminate(this);
    if (!Application) return;
    Application->ProcessMessages();
    HideApplicationWindow();
    Application->ProcessMessages();
    if (Application->MainForm())
        Application->MainForm()->Close();
    else
        Application->Terminate();
}

void TScreenSaver::AppIdle(TObject*, bool&) {
    if (FMode == ssmConfigure) {
        Application->OnIdle = nullptr;
        ShowCustomizeForm();
    } else if (OnIdle) {
        OnIdle(this);
    }
}

void TScreenSaver::ShowCustomizeForm() {
    if (FMode != ssmConfigure) return;
    for (size_t i = 0; i < Application->FormCount(); ++i) {
        TCustomForm* form = Application->Forms(i);
        if (_stricmp(form->Name().c_str(), FCustomizeFormName.c_str()) != 0) continue;
        RECT workArea{};
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
        CenterInRect(*form, TRect{workArea.left, workArea.top, workArea.right, workArea.bottom});
        form->Hide();
        form->ShowModal();
        break;
    }
    DoTerminate();
}

void TScreenSaver::ChangePassword() {
    UniqueHModule library = LoadSystemLibrary("MPR.DLL");
    using TPwdChangePassword = DWORD(WINAPI*)(LPCSTR, HWND, DWORD, DWORD);
    TPwdChangePassword change = nullptr;
    if (library)
        change = reinterpret_cast<TPwdChangePassword>(
            reinterpret_cast<void*>(GetProcAddress(library.get(), "PwdChangePasswordA")));
    if (change) {
        if (change("SCRSAVE", FForm->Handle(), 0, 0) != 0) ShowErrorMessage(L"パスワードの変更に失敗しました");
    } else {
        ShowErrorMessage(L"パスワードダイアログが表示できませんでした");
    }
    library.reset();
    DoTerminate();
}

void TScreenSaver::PreviewClosed() {
    if (FClosingPreview) return;
    FClosingPreview = true;
    struct Guard {
        bool& Flag;
        ~Guard() { Flag = false; }
    } guard{FClosingPreview};
    if (FMode != ssmPreview) return;
    if (FForm->ParentWindow()) {
        FForm->SetParentWindow(nullptr);
        if (FAtRunTime) ReleaseSingleInstance();
        DoTerminate();
    }
}
