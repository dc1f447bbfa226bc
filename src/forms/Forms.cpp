#include "Forms.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "Callbacks.h"
#include "Threads.h"

TApplication* Application = nullptr;

void InitApplication() {
    if (!Application) Application = new TApplication();
}

void DoneApplication() {
    if (!Application) return;
    TApplication* application = Application;
    application->Free();
    Application = nullptr;
}

void SwitchOffErrorMessages() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    _set_error_mode(_OUT_TO_STDERR);
    std::set_terminate([] { ExitProcess(3); });
}

// --- TCustomForm ---

TCustomForm* GetParentForm(TWinControl* control) {
    while (control && control->Parent())
        control = control->Parent();
    return dynamic_cast<TCustomForm*>(control);
}

TCustomForm::TCustomForm(TComponent* owner) : TWinControl(owner) {
    SetLoading();
    if (Application) Application->FForms.push_back(this);
}

TCustomForm::~TCustomForm() {
    if (Application) {
        auto& forms = Application->FForms;
        forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
        if (Application->FMainForm == this) Application->FMainForm = nullptr;
    }
}

void TCustomForm::BeforeDestruction() {
    // Not the csDestroying flag: an owner that is being destroyed sets it on everything it owns first.
    if (!std::exchange(FDestroyFired, true)) {
        try {
            if (OnDestroy) OnDestroy(this);
        } catch (...) {
            if (Application) Application->HandleException(std::current_exception());
        }
    }
    TWinControl::BeforeDestruction();
    DestroyHandle();
}

void TCustomForm::EndCreate() {
    Loaded();
    for (size_t i = 0; i < ComponentCount(); ++i)
        Components(i)->Loaded();
    // A component that ended the program while it was being created (a second instance, the password-change
    // dialog) leaves nothing for the form to set up: no content is read and nothing is shown.
    if (Application && Application->TerminateRequested()) {
        FCreating = false;
        FShowPending = false;
        return;
    }
    try {
        if (OnCreate) OnCreate(this);
    } catch (...) {
        if (Application) Application->HandleException(std::current_exception());
    }
    FCreating = false;
    if (FShowPending) {
        FShowPending = false;
        SetVisible(true);
    }
}

DWORD TCustomForm::BorderStyleBits(DWORD& exStyle) const {
    DWORD style = 0;
    exStyle = 0;
    switch (FBorderStyle) {
    case TFormBorderStyle::bsNone:
        style = WS_POPUP;
        break;
    case TFormBorderStyle::bsSingle:
        style = WS_CAPTION | WS_BORDER;
        break;
    case TFormBorderStyle::bsSizeable:
        style = WS_CAPTION | WS_THICKFRAME;
        break;
    case TFormBorderStyle::bsDialog:
        style = WS_POPUP | WS_CAPTION;
        exStyle = WS_EX_DLGMODALFRAME;
        break;
    case TFormBorderStyle::bsToolWindow:
        style = WS_CAPTION;
        exStyle = WS_EX_TOOLWINDOW;
        break;
    }
    if (FBorderStyle != TFormBorderStyle::bsNone) {
        if (FBorderIcons & biSystemMenu) style |= WS_SYSMENU;
        if (FBorderStyle != TFormBorderStyle::bsDialog && FBorderStyle != TFormBorderStyle::bsToolWindow) {
            if (FBorderIcons & biMinimize) style |= WS_MINIMIZEBOX;
            if (FBorderIcons & biMaximize) style |= WS_MAXIMIZEBOX;
        }
    }
    return style;
}

void TCustomForm::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    DWORD exStyle;
    params.Style = WS_CLIPSIBLINGS | WS_CLIPCHILDREN | BorderStyleBits(exStyle) | (Enabled() ? 0 : WS_DISABLED);
    params.ExStyle = exStyle;
    if (FParentWindow) {
        params.Style = (params.Style | WS_CHILD) & ~WS_POPUP;
        params.WndParent = FParentWindow;
    } else {
        // Top-level forms are owned by the hidden application window, so they get no taskbar button of their own.
        params.WndParent = Application ? Application->Handle() : nullptr;
    }
}

// Changes the frame in place rather than recreating the window, so style bits that others set on the window
// (a preview window's exact child style) survive.
void TCustomForm::ApplyBorderStyle() {
    if (!HandleAllocated()) return;
    const DWORD frameBits =
        WS_POPUP | WS_CAPTION | WS_BORDER | WS_THICKFRAME | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_DLGFRAME;
    DWORD exStyle;
    DWORD bits = BorderStyleBits(exStyle);
    DWORD style = static_cast<DWORD>(GetWindowLongA(FHandle, GWL_STYLE));
    if (style & WS_CHILD) bits &= ~WS_POPUP;
    SetWindowLongA(FHandle, GWL_STYLE, static_cast<LONG>((style & ~frameBits) | bits));
    DWORD ex = static_cast<DWORD>(GetWindowLongA(FHandle, GWL_EXSTYLE));
    ex = (ex & ~DWORD{WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE}) | exStyle;
    SetWindowLongA(FHandle, GWL_EXSTYLE, static_cast<LONG>(ex));
    SetWindowPos(FHandle, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void TCustomForm::SetBorderStyle(TFormBorderStyle style) {
    FBorderStyle = style;
    ApplyBorderStyle();
}

void TCustomForm::SetBorderIcons(unsigned icons) {
    FBorderIcons = icons;
    ApplyBorderStyle();
}

void TCustomForm::SetVisible(bool value) {
    if (FCreating) {
        FShowPending = value;
        return;
    }
    if (value == FVisible && (!HandleAllocated() || value == static_cast<bool>(IsWindowVisible(FHandle)))) return;
    FVisible = value;
    if (value) {
        Handle();
        if (OnShow) OnShow(this);
        ShowWindow(FHandle, SW_SHOWNORMAL);
    } else if (HandleAllocated()) {
        ShowWindow(FHandle, SW_HIDE);
    }
}

void TCustomForm::Show() {
    SetVisible(true);
    if (HandleAllocated() && !FCreating)
        SetWindowPos(FHandle, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TCustomForm::Close() {
    if (FModal) {
        FModalResult = mrCancel;
    } else if (Application && Application->MainForm() == this) {
        Application->Terminate();
    } else {
        Hide();
    }
}

namespace {
struct TDisabledWindows {
    std::vector<HWND> Windows;
    HWND Self;
};

BOOL CALLBACK DisableThreadWindow(HWND window, LPARAM data) noexcept {
    auto* state = reinterpret_cast<TDisabledWindows*>(data);
    if (window == state->Self || !IsWindowVisible(window) || !IsWindowEnabled(window)) return TRUE;
    try {
        // Noted before it is disabled: a window that could not be noted would never be enabled again.
        state->Windows.push_back(window);
    } catch (...) {
        return FALSE;
    }
    EnableWindow(window, FALSE);
    return TRUE;
}
} // namespace

int TCustomForm::ShowModal() {
    TDisabledWindows disabled{{}, Handle()};
    // Every other window of this thread is disabled while the modal loop runs, as a modal dialog requires.
    EnumThreadWindows(GetCurrentThreadId(), SystemCallback(DisableThreadWindow), reinterpret_cast<LPARAM>(&disabled));

    FModal = true;
    FModalResult = mrNone;
    Show();
    SetForegroundWindow(FHandle);
    try {
        while (FModalResult == mrNone) {
            Application->HandleMessage();
            if (Application->Terminated()) FModalResult = mrCancel;
        }
    } catch (...) {
        FModal = false;
        for (HWND window : disabled.Windows)
            EnableWindow(window, TRUE);
        throw;
    }
    FModal = false;
    for (HWND window : disabled.Windows)
        EnableWindow(window, TRUE);
    Hide();
    return FModalResult;
}

void TCustomForm::WndProc(TMessage& message) {
    switch (message.Msg) {
    case WM_CLOSE:
        Close(); // the window itself stays; its owner destroys it with the form
        message.Result = 0;
        return;
    case WM_ACTIVATE:
        if (LOWORD(message.WParam) == WA_INACTIVE)
            if (TWinControl* focused = FocusedControl()) FActiveControl = focused;
        TWinControl::WndProc(message);
        return;
    case WM_SETFOCUS:
        // Activation focuses the form's own window; the focus belongs to its control.
        TWinControl::WndProc(message);
        if (FActiveControl && FActiveControl->CanFocus())
            FActiveControl->SetFocus();
        else
            SelectNext(true);
        return;
    default:
        TWinControl::WndProc(message);
    }
}

namespace {
void CollectShown(TWinControl* parent, std::vector<TWinControl*>& controls) {
    for (size_t i = 0; i < parent->ControlCount(); ++i) {
        TWinControl* control = parent->Controls(i);
        if (!control->Visible() || !control->Enabled()) continue;
        controls.push_back(control);
        CollectShown(control, controls);
    }
}

} // namespace

std::vector<TWinControl*> TCustomForm::TabStops() const {
    std::vector<TWinControl*> stops;
    GetTabOrderList(stops);
    std::erase_if(stops, [](TWinControl* control) {
        return !control->TabStop() || !control->CanFocus() || !control->HandleAllocated();
    });
    return stops;
}

TWinControl* TCustomForm::FocusedControl() const {
    TWinControl* focused = FindControl(GetFocus());
    for (TWinControl* control = focused; control; control = control->Parent())
        if (control == this) return focused != this ? focused : nullptr;
    return nullptr;
}

TWinControl* TCustomForm::ActiveControl() const {
    if (TWinControl* focused = FocusedControl()) return focused;
    return FActiveControl;
}

void TCustomForm::SetActiveControl(TWinControl* control) {
    FActiveControl = control;
    if (control && HandleAllocated() && GetActiveWindow() == FHandle && control->CanFocus()) control->SetFocus();
}

bool TCustomForm::SelectNext(bool forward) {
    const std::vector<TWinControl*> stops = TabStops();
    if (stops.empty()) return false;
    const auto current = std::find(stops.begin(), stops.end(), FocusedControl());
    size_t next = 0;
    if (current != stops.end()) {
        const size_t at = static_cast<size_t>(current - stops.begin());
        next = forward ? (at + 1) % stops.size() : (at + stops.size() - 1) % stops.size();
    } else if (!forward) {
        next = stops.size() - 1;
    }
    FActiveControl = stops[next];
    stops[next]->SetFocus();
    return true;
}

bool TCustomForm::HandleDialogMessage(const MSG& msg) {
    if (!HandleAllocated() || !IsWindowEnabled(FHandle)) return false;
    TWinControl* focused = FocusedControl();
    std::vector<TWinControl*> controls;
    CollectShown(this, controls);
    // The focused control is asked first: a focused button takes Enter before the default button does.
    if (focused) {
        controls.erase(std::remove(controls.begin(), controls.end(), focused), controls.end());
        controls.insert(controls.begin(), focused);
    }
    switch (msg.message) {
    case WM_KEYDOWN:
        if (msg.wParam == VK_TAB && GetKeyState(VK_CONTROL) >= 0 && GetKeyState(VK_MENU) >= 0)
            return SelectNext(GetKeyState(VK_SHIFT) >= 0);
        if (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE) {
            for (TWinControl* control : controls)
                if (control->DialogKey(static_cast<WORD>(msg.wParam), control == focused)) return true;
        }
        return false;
    case WM_CHAR:
        if (focused && (SendMessageW(focused->Handle(), WM_GETDLGCODE, msg.wParam, reinterpret_cast<LPARAM>(&msg)) &
                        (DLGC_WANTCHARS | DLGC_WANTALLKEYS)))
            return false;
        [[fallthrough]];
    case WM_SYSCHAR:
        for (TWinControl* control : controls)
            if (control->DialogChar(static_cast<wchar_t>(msg.wParam))) return true;
        return false;
    default:
        return false;
    }
}

// --- TApplication ---

TApplication::TApplication() : TComponent(nullptr) {
    SetMainThread();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = SystemCallback(WndProc);
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIcon(instance, MAKEINTRESOURCE(1));
    windowClass.lpszClassName = "TApplication";
    RegisterClassA(&windowClass);

    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string title = path;
    title = title.substr(title.find_last_of("\\/") + 1);
    title = title.substr(0, title.find_last_of('.'));
    FHandle.reset(CreateWindowExA(0, "TApplication", title.c_str(),
                                  WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                                  GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0, nullptr,
                                  nullptr, instance, nullptr));
}

TApplication::~TApplication() {
    DestroyComponents();
    FHandle.reset();
}

std::string TApplication::Title() const {
    char text[512] = {};
    GetWindowTextA(FHandle.get(), text, sizeof(text));
    return text;
}

void TApplication::SetTitle(const std::string& title) {
    SetWindowTextA(FHandle.get(), title.c_str());
}

TCustomForm* TApplication::ActiveForm() const {
    HWND active = GetActiveWindow();
    for (TCustomForm* form : FForms)
        if (form->HandleAllocated() && form->Handle() == active) return form;
    return nullptr;
}

bool TApplication::IsDialogKey(const MSG& msg) {
    if (msg.message != WM_KEYDOWN && msg.message != WM_CHAR && msg.message != WM_SYSCHAR) return false;
    auto* form = dynamic_cast<TCustomForm*>(TWinControl::FindControl(GetAncestor(msg.hwnd, GA_ROOT)));
    return form && form->HandleDialogMessage(msg);
}

bool TApplication::ProcessMessage(MSG& msg) {
    // Wide throughout, so that characters reach the forms' wide windows whatever the code page.
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    if (msg.message == WM_QUIT) {
        FTerminated = true;
        return true;
    }
    if (IsDialogKey(msg)) return true;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    return true;
}

void TApplication::Idle() {
    bool done = true;
    try {
        // A copy: the handler may replace itself while it runs.
        if (TIdleEvent idle = OnIdle) idle(this, done);
    } catch (...) {
        HandleException(std::current_exception());
    }
    if (CheckSynchronize()) done = false;
    if (done && !FTerminated) WaitMessage();
}

void TApplication::HandleMessage() {
    MSG msg;
    if (!ProcessMessage(msg)) Idle();
}

void TApplication::ProcessMessages() {
    MSG msg;
    while (ProcessMessage(msg)) {
    }
}

void TApplication::Run() {
    if (ShowMainForm && FMainForm) FMainForm->Show();
    while (!FTerminated) {
        try {
            HandleMessage();
        } catch (...) {
            HandleException(std::current_exception());
        }
    }
}

void TApplication::Terminate() {
    FTerminateRequested = true;
    PostQuitMessage(0);
}

void TApplication::HandleException(std::exception_ptr error) noexcept {
    if (!OnException) return;
    try {
        OnException(this, error);
    } catch (...) {
        // A handler that fails in turn has nobody left to tell.
    }
}

LRESULT CALLBACK TApplication::WndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
    if (msg == WM_NULL) {
        try {
            CheckSynchronize();
        } catch (...) {
            // The queue could not be read this time; the next wake-up or idle moment reads it again.
        }
        return 0;
    }
    return DefWindowProcA(window, msg, wParam, lParam);
}
