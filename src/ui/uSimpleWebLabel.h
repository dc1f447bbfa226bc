// A text label that behaves as a web link: coloured and underlined with the hand cursor while hovered, in
// another colour while pressed, and opening its link in the web browser when clicked. TSimpleWebLabel's link is
// its caption; TSimpleWebLabelEx keeps it apart, so that the caption can be any text.
#pragma once

#include <string>

#include "forms/StdCtrls.h"

class TSimpleWebLabel : public TLabel {
public:
    explicit TSimpleWebLabel(TComponent* owner);
    std::string ClassName() const override { return "TSimpleWebLabel"; }

    TColor NormalColor() const { return FNormalColor; }
    // Also gives the font that colour at once when it differs from the current one.
    void SetNormalColor(TColor value);
    TColor OverColor() const { return FOverColor; }
    void SetOverColor(TColor value) { FOverColor = value; }
    TColor ClickingColor() const { return FClickingColor; }
    void SetClickingColor(TColor value) { FClickingColor = value; }

    // The link target; a label without one (empty) does not react to the mouse.
    virtual std::string GetURL() const;
    // Opens the link, unless a click handler is assigned, which then runs instead.
    void Click() override;
    void Loaded() override;

protected:
    void MouseEnter() override;
    void MouseLeave() override;
    void MouseDown(TMouseButton button, int x, int y) override;
    void MouseUp(TMouseButton button, int x, int y) override;

private:
    bool HasLink() const { return !GetURL().empty(); }

    TColor FNormalColor = clBlack;
    TColor FOverColor = 0xFF0000;     // blue
    TColor FClickingColor = 0x0000FF; // red
};

class TSimpleWebLabelEx : public TSimpleWebLabel {
public:
    using TSimpleWebLabel::TSimpleWebLabel;
    std::string ClassName() const override { return "TSimpleWebLabelEx"; }

    const std::string& URL() const { return FURL; }
    void SetURL(const std::string& value) { FURL = value; }
    std::string GetURL() const override { return FURL; }

private:
    std::string FURL;
};
