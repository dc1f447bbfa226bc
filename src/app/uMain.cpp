#include "uMain.h"

#include "forms/CommandLine.h"
#include "support/uInstanceGuard.h"
#include "uShellPath.h"
#include "ui/uDialog.h"

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

void SetFloatingPointControlWord() {
#if defined(__i386__)
    // All exceptions masked, extended precision, round to nearest.
    const unsigned short controlWord = 0x133F;
    __asm__ volatile("fldcw %0" : : "m"(controlWord));
#elif defined(__x86_64__)
    _mm_setcsr(_mm_getcsr() | _MM_MASK_MASK);
#endif
}

TfrmMain::TfrmMain(TComponent* owner) : TForm(owner) {
    // The stored properties of the form.
    SetName("frmMain");
    SetColor(clBlack);
    SetBorderIcons(0);
    SetCaption("mu:tone ScreenSaver");
    SetBounds(0, 2, 176, 176);
    OnCreate = [this](TObject* sender) { FormCreate(sender); };
    OnShow = [this](TObject* sender) { FormShow(sender); };
    OnDestroy = [this](TObject* sender) { FormDestroy(sender); };

    // Its one component, with its stored properties.
    ScreenSaver = new TScreenSaver(this);
    ScreenSaver->SetCustomizeFormName("frmDialog");
    ScreenSaver->SetInterval(1000);
    ScreenSaver->OnTerminate = [this](TObject* sender) { ScreenSaverTerminate(sender); };
}

void TfrmMain::FormCreate(TObject*) {
    SetFloatingPointControlWord();
    SwitchOffErrorMessages();
    Application->OnException = [](TObject*, std::exception_ptr) {};

    // Without the Flash control, or when the set-up fails, the form is neither shown here nor titled.
    try {
        if (!SetUpMovies()) return;
    } catch (...) {
        Application->HandleException(std::current_exception());
        return;
    }

    if (ScreenSaver->Mode() == ssmPreview || ScreenSaver->Mode() == ssmRun) {
        ShowWindow(Handle(), SW_SHOWNOACTIVATE);
        // The rest of the start waits for the movies, which are assigned when the form is shown.
        StartPending = true;
    } else {
        SetApplicationTitle();
    }
}

void TfrmMain::FinishStart() {
    // Keys reach only the thread of the active window, where the keyboard hook sits: the full-screen form takes
    // the foreground, or key presses would go on to the window that had it.
    if (ScreenSaver->Mode() == ssmRun) SetForegroundWindow(Handle());
    SetApplicationTitle();
}

void TfrmMain::SetApplicationTitle() {
    // Asking the shell loads its libraries.
    Application->SetTitle(FileNameWithoutExtension(GetShellPath(ParamStr(0))));
}

void TfrmMain::FormDestroy(TObject*) {
    ReleaseMovies();
    if (Dialog) std::exchange(Dialog, nullptr)->Free();
    CloseUniqueMutex(ContentMutex);
}

void TfrmMain::ScreenSaverTerminate(TObject*) {
    ReleaseMovies();
}
