#include "StdCtrls.h"

#include "Forms.h"

// --- TLabel ---

TLabel::TLabel(TComponent* owner) : TWinControl(owner) {
    FVisible = true;
    FCaptureMouse = true;
    FTrackMouse = true;
    FPaintsItself = true;
    AdjustBounds();
}

void TLabel::SetAutoSize(bool value) {
    FAutoSize = value;
    AdjustBounds();
}

void TLabel::SetShowAccelChar(bool value) {
    if (value == FShowAccelChar) return;
    FShowAccelChar = value;
    AdjustBounds();
    Invalidate();
}

UINT TLabel::TextFlags() const {
    return DT_LEFT | DT_EXPANDTABS | (FShowAccelChar ? 0 : DT_NOPREFIX);
}

void TLabel::AdjustBounds() {
    if (!FAutoSize) return;
    // An empty caption still measures one blank, so that an auto-sized label keeps the height of a line.
    const std::wstring text = FCaption.empty() || (FShowAccelChar && FCaption == L"&") ? FCaption + L" " : FCaption;
    RECT rect{0, 0, 0, 0};
    {
        TWindowDC screen(nullptr);
        TSelectObject font(screen.get(), Font().Handle());
        DrawTextW(screen.get(), text.c_str(), static_cast<int>(text.size()), &rect, TextFlags() | DT_CALCRECT);
    }
    SetBounds(FLeft, FTop, rect.right - rect.left, rect.bottom - rect.top);
}

void TLabel::FontChanged() {
    TWinControl::FontChanged();
    AdjustBounds();
}

void TLabel::CaptionChanged() {
    AdjustBounds();
    Invalidate();
}

void TLabel::PaintWindow(HDC dc, const RECT& client) {
    FillBackground(dc, client);
    TSelectObject font(dc, Font().Handle());
    SetTextColor(dc, ColorToRGB(Font().Color()));
    SetBkMode(dc, TRANSPARENT);
    RECT rect = client;
    DrawTextW(dc, FCaption.c_str(), static_cast<int>(FCaption.size()), &rect, TextFlags());
}

// --- TButton ---

TButton::TButton(TComponent* owner) : TWinControl(owner) {
    FVisible = true;
    SetTabStop(true);
    SetBounds(0, 0, 75, 25);
}

void TButton::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.SuperClassName = "BUTTON";
    params.Style |= FDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
}

void TButton::CreateWnd() {
    TWinControl::CreateWnd();
    SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(Font().Handle()), FALSE);
}

void TButton::FontChanged() {
    TWinControl::FontChanged();
    if (HandleAllocated()) SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(Font().Handle()), TRUE);
}

void TButton::SetDefault(bool value) {
    FDefault = value;
    if (HandleAllocated()) SendMessageW(FHandle, BM_SETSTYLE, value ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void TButton::WndProc(TMessage& message) {
    if (message.Msg == CN_COMMAND) {
        if (HIWORD(message.WParam) == BN_CLICKED) Click();
        message.Result = 0;
        return;
    }
    TWinControl::WndProc(message);
}

void TButton::Click() {
    if (TCustomForm* form = GetParentForm(this)) form->SetModalResult(FModalResult);
    TWinControl::Click();
}

bool TButton::DialogKey(WORD key, bool focused) {
    if (!CanFocus()) return false;
    if ((key == VK_RETURN && (focused || FDefault)) || (key == VK_ESCAPE && FCancel)) {
        Click();
        return true;
    }
    return false;
}

bool TButton::DialogChar(wchar_t key) {
    if (!CanFocus() || !IsAccel(key, FCaption)) return false;
    SetFocus();
    Click();
    return true;
}
