// The main form: the window that covers the desktop in run mode or fills the preview window, owner of the
// screensaver component.
#pragma once

#include "forms/Forms.h"
#include "uScreenSaver.h"

class TfrmMain : public TForm {
public:
    explicit TfrmMain(TComponent* owner);
    std::string ClassName() const override { return "TfrmMain"; }

    TScreenSaver* ScreenSaver;

    void FormCreate(TObject* sender);
    void FormShow(TObject* sender);
    void FormDestroy(TObject* sender);
    void ScreenSaverTerminate(TObject* sender);
};

// Masks every floating-point exception, as the Flash control expects of its host.
void SetFloatingPointControlWord();
