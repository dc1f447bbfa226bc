// The screensaver's entry point.
#include <windows.h>

#include <commctrl.h>

#include "forms/ComObj.h"
#include "forms/Forms.h"
#include "support/uSysUtils.h"
#include "support/uThreadTimer.h"
#include "uMain.h"
#include "uScreenSaver.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    InitApplication();
    // Windows starts a screensaver with /S; the copy that really runs is started with /E and waited for.
    RelaunchForRunSwitch();
    TComApartment apartment;
    // The shell's deletion shows nothing, but it wants an owner window and the loop to run afterwards.
    OnShellOwnerWindow = [] {
        TCustomForm* form = Application->ActiveForm();
        return form ? form->Handle() : Application->Handle();
    };
    OnProcessMessages = [] { Application->ProcessMessages(); };

    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    Application->ShowMainForm = false;
    // No taskbar button and no Alt+Tab entry.
    HWND applicationWindow = Application->Handle();
    SetWindowLongA(applicationWindow, GWL_EXSTYLE, GetWindowLongA(applicationWindow, GWL_EXSTYLE) | WS_EX_TOOLWINDOW);
    try {
        Application->CreateForm<TfrmMain>();
        Application->Run();
    } catch (...) {
        // The program ends normally whatever left the loop.
    }
    TimerShutdown = true;
    try {
        DoneApplication();
    } catch (...) {
    }
    return 0;
}
