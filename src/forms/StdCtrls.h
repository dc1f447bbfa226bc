// The text label and the push button.
#pragma once

#include "Controls.h"

// A caption drawn in the label's font and font colour on its parent's background. It has a window of its own, so
// that it sees the mouse enter and leave; the left button captures the mouse, and releasing it over the label
// clicks it.
class TLabel : public TWinControl {
public:
    explicit TLabel(TComponent* owner);
    std::string ClassName() const override { return "TLabel"; }

    // On (the default): the label takes the size of its text, its top-left corner staying where it is.
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool value);
    // On (the default): "&x" underlines x and "&&" shows one ampersand; off: every ampersand shows as it is.
    bool ShowAccelChar() const { return FShowAccelChar; }
    void SetShowAccelChar(bool value);

protected:
    void PaintWindow(HDC dc, const RECT& client) override;
    void FontChanged() override;
    void CaptionChanged() override;
    void AdjustBounds();

private:
    UINT TextFlags() const;

    bool FAutoSize = true;
    bool FShowAccelChar = true;
};

// A push button of the system's BUTTON class.
class TButton : public TWinControl {
public:
    explicit TButton(TComponent* owner);
    std::string ClassName() const override { return "TButton"; }

    // The default button takes Enter when no other button has the focus; the cancel button takes Esc.
    bool Default() const { return FDefault; }
    void SetDefault(bool value);
    bool Cancel() const { return FCancel; }
    void SetCancel(bool value) { FCancel = value; }
    // Given to the parent form when the button is clicked, which ends a modal loop unless it is mrNone.
    int ModalResult() const { return FModalResult; }
    void SetModalResult(int value) { FModalResult = value; }

    void Click() override;
    bool DialogKey(WORD key, bool focused) override;
    bool DialogChar(wchar_t key) override;

protected:
    void CreateParams(TCreateParams& params) override;
    void CreateWnd() override;
    void WndProc(TMessage& message) override;
    void FontChanged() override;

private:
    bool FDefault = false;
    bool FCancel = false;
    int FModalResult = 0;
};
