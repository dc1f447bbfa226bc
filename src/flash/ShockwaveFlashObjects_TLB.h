// The program's wrapper of the Shockwave Flash ActiveX control: the properties it sets by dispatch identifier, the
// methods it calls by slot of the control's dual interface, and the FSCommand event.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "forms/OleCtrls.h"
#include "uFlashIds.h"

// Dispatch identifiers of the control's properties and events.
enum : DISPID {
    DISPID_FlashMovie = 102,
    DISPID_FlashQuality = 105,
    DISPID_FlashLoop = 106,
    DISPID_FlashBackgroundColor = 123,
    DISPID_FlashMenu = 135,
    DISPID_FlashScale = 137,
    DISPID_FlashFlashVars = 170,
    DISPID_FlashOnReadyStateChange = -609,
    DISPID_FlashOnProgress = 1958,
    DISPID_FlashOnFSCommand = 150,
    DISPID_FlashFlashCall = 197,
};

// Slots of IShockwaveFlash's method table, counted from 0 with IUnknown's and IDispatch's seven entries.
enum : int {
    SlotFlashPlay = 28,
    SlotFlashStop = 29,
    SlotFlashStopPlay = 33,
    SlotFlashDisableLocalSecurity = 95,
};

using TFSCommandEvent = std::function<void(const std::wstring& command, const std::wstring& args)>;

class TShockwaveFlash : public TOleControl {
public:
    // Raises EOleError when the control cannot be created (not installed, or refusing the container).
    explicit TShockwaveFlash(TComponent* owner);
    std::string ClassName() const override { return "TShockwaveFlash"; }

    // Each setter raises EOleError when the control refuses the value.
    void SetMovie(const std::wstring& path);
    void SetMovie(const std::string& path); // ANSI code page
    void SetQuality(int32_t quality);
    void SetLoop(bool loop);
    void SetBackgroundColor(int32_t color);
    void SetMenu(bool menu);
    void SetScale(const std::wstring& scale);
    void SetScale(const std::string& scale);
    void SetFlashVars(const std::wstring& vars);
    void SetFlashVars(const std::string& vars);

    // Each raises EOleError with the failing result.
    void Play();
    void Stop();
    void StopPlay();
    void DisableLocalSecurity();

    TFSCommandEvent OnFSCommand;

protected:
    void InvokeEvent(DISPID dispId, DISPPARAMS& params) override;

private:
    void CallSlot(int slot, const char* name);
};
