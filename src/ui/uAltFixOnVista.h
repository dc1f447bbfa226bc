// Repaints a form whose keyboard cues change: on Windows Vista and later, while visual styles are in effect, a
// form about to receive WM_UPDATEUISTATE (Alt pressed, say) is invalidated with all its windowed descendants, which
// would otherwise leave parts drawn without their accelerator underlines or focus rectangles. The hook is
// installed once for the program when it starts, on the thread that starts it, and removed when it ends.
#pragma once

#include <windows.h>

#include <functional>

#include "forms/Controls.h"

// The component that carries the fix into a form; the fix itself does not depend on any instance.
class TAltFixOnVista : public TComponent {
public:
    explicit TAltFixOnVista(TComponent* owner);
};

// True while the hook is installed: from start-up to the end of the program, on version 6.0 and later.
bool AltFixHookInstalled();

// The thread's WH_CALLWNDPROC hook: on WM_UPDATEUISTATE for an application form's own window, with visual styles
// in effect, InvalidateTree on that form. Always passes the call on.
LRESULT CALLBACK AltFixCallWndHook(int code, WPARAM wParam, LPARAM lParam) noexcept;

// Invalidates every windowed control below control, children before their parent, then control itself.
void InvalidateTree(TWinControl* control);

// Whether visual styles are in effect for this program: the theme library (loaded at run time, so the program
// also starts where there is none) says the application is themed and a theme is active. The program's manifest
// asks for common controls 6, which draw with that theme. False when the library or its calls are missing.
bool ThemesInEffect();
// The query the hook uses; ThemesInEffect unless replaced (tests replace it).
extern std::function<bool()> OnThemesInEffect;
