#include "uAltFixOnVista.h"

#include "forms/Callbacks.h"
#include "forms/Forms.h"
#include "forms/Handles.h"
#include "support/uSysUtils.h"

namespace {

bool IsVistaOrLater() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    return GetVersionExA(&version) && version.dwMajorVersion >= 6;
}

// Installed while the program's static objects are made, on the thread that makes them, which is the GUI thread;
// removed when they are destroyed.
struct TAltFixHook {
    TAltFixHook() {
        if (IsVistaOrLater())
            Hook.reset(
                SetWindowsHookExA(WH_CALLWNDPROC, SystemCallback(AltFixCallWndHook), nullptr, GetCurrentThreadId()));
    }
    UniqueHHook Hook;
} AltFix;

using TBoolQuery = BOOL(WINAPI*)();

} // namespace

std::function<bool()> OnThemesInEffect = ThemesInEffect;

// Out of line: a form that has the component links this unit, and with it the hook's installation at start-up.
TAltFixOnVista::TAltFixOnVista(TComponent* owner) : TComponent(owner) {}

bool AltFixHookInstalled() {
    return static_cast<bool>(AltFix.Hook);
}

bool ThemesInEffect() {
    // Loaded once and kept for the program's life: the hook asks on every WM_UPDATEUISTATE.
    static const UniqueHModule uxtheme = LoadSystemLibrary("uxtheme.dll");
    if (!uxtheme) return false;
    auto isAppThemed =
        reinterpret_cast<TBoolQuery>(reinterpret_cast<void*>(GetProcAddress(uxtheme.get(), "IsAppThemed")));
    auto isThemeActive =
        reinterpret_cast<TBoolQuery>(reinterpret_cast<void*>(GetProcAddress(uxtheme.get(), "IsThemeActive")));
    return isAppThemed && isThemeActive && isAppThemed() && isThemeActive();
}

void InvalidateTree(TWinControl* control) {
    for (size_t i = 0; i < control->ControlCount(); ++i)
        InvalidateTree(control->Controls(i));
    // Erasing too: the labels and pictures drawn on the control are repainted with it.
    if (control->HandleAllocated()) InvalidateRect(control->Handle(), nullptr, TRUE);
}

LRESULT CALLBACK AltFixCallWndHook(int code, WPARAM wParam, LPARAM lParam) noexcept {
    try {
        const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code >= 0 && message && message->message == WM_UPDATEUISTATE && Application && OnThemesInEffect &&
            OnThemesInEffect()) {
            for (size_t i = 0; i < Application->FormCount(); ++i) {
                TCustomForm* form = Application->Forms(i);
                if (form->HandleAllocated() && form->Handle() == message->hwnd) {
                    InvalidateTree(form);
                    break;
                }
            }
        }
    } catch (...) {
        // Nothing may leave a hook procedure.
    }
    return CallNextHookEx(AltFix.Hook.get(), code, wParam, lParam);
}
