// Reports, through its exit code, what the Alt-key fix finds in a process of its own: bit 0 the hook is installed,
// bit 1 IsAppThemed, bit 2 IsThemeActive, bit 3 common controls 6 are in use, bit 4 ThemesInEffect. It carries the
// screensaver's manifest, so that it gets the common controls the screensaver gets.
#include <windows.h>

#include <commctrl.h>
#include <shlwapi.h>
#include <uxtheme.h>

#include "ui/uAltFixOnVista.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    DLLVERSIONINFO version{};
    version.cbSize = sizeof(version);
    HMODULE comctl = GetModuleHandleA("comctl32.dll");
    auto getVersion =
        reinterpret_cast<DLLGETVERSIONPROC>(reinterpret_cast<void*>(GetProcAddress(comctl, "DllGetVersion")));
    const bool version6 = getVersion && SUCCEEDED(getVersion(&version)) && version.dwMajorVersion >= 6;
    return (AltFixHookInstalled() ? 1 : 0) | (IsAppThemed() ? 2 : 0) | (IsThemeActive() ? 4 : 0) | (version6 ? 8 : 0) |
           (ThemesInEffect() ? 16 : 0);
}
