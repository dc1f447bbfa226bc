#include <windows.h>

#include "uSimpleWebLabel.h"

#include "uBrowser.h"

TSimpleWebLabel::TSimpleWebLabel(TComponent* owner) : TLabel(owner) {
    // Leave must reset the label even when nobody listens to the events.
    FTrackMouse = true;
    Font().SetColor(FNormalColor);
}

void TSimpleWebLabel::SetNormalColor(TColor value) {
    if (value == FNormalColor) return;
    FNormalColor = value;
    Font().SetColor(value);
}

std::string TSimpleWebLabel::GetURL() const {
    return Caption();
}

void TSimpleWebLabel::Loaded() {
    TLabel::Loaded();
    Font().SetColor(FNormalColor);
}

void TSimpleWebLabel::MouseEnter() {
    TLabel::MouseEnter();
    if (!HasLink()) return;
    SetCursor(crHandPoint);
    // Coming back in while the button that went down on the label is still held.
    const bool pressed = HandleAllocated() && GetCapture() == FHandle && (GetKeyState(VK_LBUTTON) & 0x8000);
    Font().SetColor(pressed ? FClickingColor : FOverColor);
    Font().SetStyle(fsUnderline);
}

void TSimpleWebLabel::MouseLeave() {
    TLabel::MouseLeave();
    SetCursor(crDefault);
    Font().SetColor(FNormalColor);
    Font().SetStyle(0);
}

void TSimpleWebLabel::MouseDown(TMouseButton button, int x, int y) {
    TLabel::MouseDown(button, x, y);
    if (button == TMouseButton::mbLeft && HasLink()) Font().SetColor(FClickingColor);
}

void TSimpleWebLabel::MouseUp(TMouseButton button, int x, int y) {
    TLabel::MouseUp(button, x, y);
    // The pointer may still be over the label: the hover colour returns only with the next enter.
    if (button == TMouseButton::mbLeft) Font().SetColor(FNormalColor);
}

void TSimpleWebLabel::Click() {
    if (!OnClick) OpenURL(GetURL());
    TLabel::Click();
}
