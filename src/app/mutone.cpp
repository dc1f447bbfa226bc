// The screensaver's entry point.
#include <windows.h>

#include <commctrl.h>

#include "forms/ComObj.h"
#include "forms/Forms.h"
#include "support/uThreadTimer.h"
#include "uMain.h"
#include "uScreenSaver.h"

namespace {

// Windows starts a screensaver with /S; the copy that really runs is started with /E and waited for. The starting
// copy does nothing else, so it relaunches before any other static object of the program is made (the Alt-key
// fix's hook among them): it creates no window, hook, application object or COM apartment, and the other copy
// starts that much sooner.
// The full-screen copy's DPI awareness is a process-wide decision that the system takes with the first window, so it
// is made here too, before any other static object can make one.
struct TRunSwitchRelaunch {
    TRunSwitchRelaunch() {
        RelaunchForRunSwitch();
        DecideDpiAwareness();
    }
} RunSwitchRelaunch __attribute__((init_priority(101)));

// The settings dialog's controls (and message boxes) in the visual styles of common controls 6. Loaded here, not
// imported: an imported comctl32 starts with the process, also in the copy that only relaunches, where its start-up
// (it brings up the display driver and the theme library) would cost more than everything else that copy does; a
// full-screen run or a preview shows neither, and starts sooner without it. Asked for by name, so that the
// manifest's version 6 is the one found; it stays loaded while the program runs.
void InitCommonControlsForDialog() {
    const char mode = GetModeLetter();
    if (mode == 'E' || mode == 'P') return;
    HMODULE library = LoadLibraryA("comctl32.dll");
    using TInitCommonControlsEx = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    auto init = library ? reinterpret_cast<TInitCommonControlsEx>(
                              reinterpret_cast<void*>(GetProcAddress(library, "InitCommonControlsEx")))
                        : nullptr;
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    if (init) init(&controls);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Nothing leaves the entry point: the program ends normally whatever failed. The apartment outlives the
    // application, whose forms hold the Flash controls.
    TComApartment apartment;
    try {
        InitApplication();
        InitCommonControlsForDialog();

        Application->ShowMainForm = false;
        // No taskbar button and no Alt+Tab entry.
        HWND applicationWindow = Application->Handle();
        SetWindowLongA(applicationWindow, GWL_EXSTYLE,
                       GetWindowLongA(applicationWindow, GWL_EXSTYLE) | WS_EX_TOOLWINDOW);
        Application->CreateForm<TfrmMain>();
        Application->Run();
    } catch (...) {
    }
    TimerShutdown = true;
    try {
        DoneApplication();
    } catch (...) {
    }
    return 0;
}
