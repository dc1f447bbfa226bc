#include "ShockwaveFlashObjects_TLB.h"

namespace {
// An argument of an event as a wide string, whatever string form the control chose to pass it in.
std::wstring ArgumentText(VARIANT& argument) {
    TOleVariant text;
    std::wstring result;
    if (SUCCEEDED(VariantChangeType(&text, &argument, 0, VT_BSTR)) && text.bstrVal)
        result.assign(text.bstrVal, SysStringLen(text.bstrVal));
    return result;
}
} // namespace

TShockwaveFlash::TShockwaveFlash(TComponent* owner)
    : TOleControl(owner, CLASS_ShockwaveFlash, DIID__IShockwaveFlashEvents) {}

void TShockwaveFlash::SetMovie(const std::wstring& path) {
    SetWideStringProp(DISPID_FlashMovie, path);
}
void TShockwaveFlash::SetMovie(const std::string& path) {
    SetMovie(AnsiToWide(path));
}
void TShockwaveFlash::SetQuality(int32_t quality) {
    SetIntegerProp(DISPID_FlashQuality, quality);
}
void TShockwaveFlash::SetLoop(bool loop) {
    SetBooleanProp(DISPID_FlashLoop, loop);
}
void TShockwaveFlash::SetBackgroundColor(int32_t color) {
    SetIntegerProp(DISPID_FlashBackgroundColor, color);
}
void TShockwaveFlash::SetMenu(bool menu) {
    SetBooleanProp(DISPID_FlashMenu, menu);
}
void TShockwaveFlash::SetScale(const std::wstring& scale) {
    SetWideStringProp(DISPID_FlashScale, scale);
}
void TShockwaveFlash::SetScale(const std::string& scale) {
    SetScale(AnsiToWide(scale));
}
void TShockwaveFlash::SetFlashVars(const std::wstring& vars) {
    SetWideStringProp(DISPID_FlashFlashVars, vars);
}
void TShockwaveFlash::SetFlashVars(const std::string& vars) {
    SetFlashVars(AnsiToWide(vars));
}

void TShockwaveFlash::Play() {
    CallSlot(SlotFlashPlay, "Play");
}
void TShockwaveFlash::Stop() {
    CallSlot(SlotFlashStop, "Stop");
}
void TShockwaveFlash::StopPlay() {
    CallSlot(SlotFlashStopPlay, "StopPlay");
}
void TShockwaveFlash::DisableLocalSecurity() {
    CallSlot(SlotFlashDisableLocalSecurity, "DisableLocalSecurity");
}

void TShockwaveFlash::CallSlot(int slot, const char* name) {
    // These methods take no arguments besides the interface itself, so the slot alone says how to call them.
    using TMethod = HRESULT(STDMETHODCALLTYPE*)(IUnknown*);
    ComPtr<IUnknown> flash;
    HRESULT result = OleObject()->QueryInterface(IID_IShockwaveFlash, flash.put_void());
    if (FAILED(result)) throw EOleError(std::string("The control has no IShockwaveFlash for ") + name, result);
    TMethod method = (*reinterpret_cast<TMethod* const*>(flash.get()))[slot];
    result = method(flash.get());
    if (FAILED(result)) throw EOleError(std::string("IShockwaveFlash::") + name + " failed", result);
}

void TShockwaveFlash::InvokeEvent(DISPID dispId, DISPPARAMS& params) {
    if (dispId != DISPID_FlashOnFSCommand || !OnFSCommand || params.cArgs < 2) return;
    // Arguments arrive last first: args, then command.
    OnFSCommand(ArgumentText(params.rgvarg[1]), ArgumentText(params.rgvarg[0]));
}
