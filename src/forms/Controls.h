// Windowed controls: a component with a window handle whose messages pass through a replaceable WindowProc.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "Components.h"
#include "Graphics.h"
#include "SysUtils.h"

struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

using TWndMethod = std::function<void(TMessage&)>;

// A WM_COMMAND from a control's window, handed back to that control by its parent.
inline constexpr UINT CN_COMMAND = 0xBC00 + WM_COMMAND;

// Text in the ANSI code page to wide characters and back.
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);

// True when key is the accelerator of caption: the character after its single ampersand ("&&" shows one),
// compared without regard to case.
bool IsAccel(wchar_t key, const std::wstring& caption);

enum class TAlign { alNone, alClient };
enum class TMouseButton { mbLeft, mbRight, mbMiddle };

using TCursor = int;
inline constexpr TCursor crDefault = 0; // the window class's cursor
inline constexpr TCursor crArrow = -2;
inline constexpr TCursor crHandPoint = -21;

struct TCreateParams {
    std::wstring Caption;
    DWORD Style = 0;
    DWORD ExStyle = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
    HWND WndParent = nullptr;
    std::string WinClassName;
    // A system class (BUTTON) whose behaviour the window class takes over, its procedure becoming the default one.
    std::string SuperClassName;
    UINT ClassStyle = CS_DBLCLKS;
    HBRUSH Background = nullptr;
};

class TWinControl : public TComponent {
public:
    explicit TWinControl(TComponent* owner);
    ~TWinControl() override;

    // The class name the window is registered under; derived forms name themselves.
    virtual std::string ClassName() const { return "TWinControl"; }

    HWND Handle();
    bool HandleAllocated() const { return FHandle != nullptr; }
    void HandleNeeded() { Handle(); }
    // The control whose window this is, if any.
    static TWinControl* FindControl(HWND window);

    // Every message of the window passes through WindowProc; components may replace it and must restore
    // the value they found. It starts as WndProc.
    TWndMethod WindowProc;
    virtual void WndProc(TMessage& message);
    // What happens to a message nobody handled: the window class's own procedure.
    virtual void DefaultHandler(TMessage& message);
    // Sends a message straight through WindowProc, as the system would deliver it.
    LRESULT Perform(UINT msg, WPARAM wParam, LPARAM lParam);

    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    int ClientWidth();
    int ClientHeight();
    virtual void SetBounds(int left, int top, int width, int height);
    // Sizes the window so that its client area, inside whatever frame it has, is width x height.
    void SetClientSize(int width, int height);

    bool Visible() const { return FVisible; }
    virtual void SetVisible(bool value);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);

    TWinControl* Parent() const { return FParent; }
    void SetParent(TWinControl* parent);
    // A foreign window to live in (the preview window); makes the control a child window of it.
    HWND ParentWindow() const { return FParentWindow; }
    void SetParentWindow(HWND window);
    // The windowed children, in the order they were given this parent.
    size_t ControlCount() const { return FControls.size(); }
    TWinControl* Controls(size_t index) const { return FControls[index]; }

    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign align);

    // Captions are kept in wide characters: an ANSI caption is converted from the system code page, a wide one
    // (a fixed Japanese text) is shown as it is whatever that code page.
    std::string Caption() const { return WideToAnsi(FCaption); }
    const std::wstring& WideCaption() const { return FCaption; }
    void SetCaption(const std::string& caption);
    void SetCaption(const std::wstring& caption);
    // The background colour; until it is set, a child paints with its parent's.
    TColor Color() const { return FColor; }
    void SetColor(TColor color);
    // The font of the control's text; until it is changed, a child follows its parent's font.
    TFont& Font() { return FFont; }
    bool ParentFont() const { return FParentFont; }
    void SetParentFont(bool value);

    TCursor Cursor() const { return FCursor; }
    void SetCursor(TCursor cursor);

    // Keyboard focus: the tab stops of a form in tab order, each parent's children in their own order.
    bool TabStop() const { return FTabStop; }
    void SetTabStop(bool value);
    int TabOrder() const;
    void SetTabOrder(int order);
    // Every windowed descendant, each before its own children, each parent's children in tab order.
    void GetTabOrderList(std::vector<TWinControl*>& list) const;
    bool CanFocus() const;
    bool Focused() const;
    void SetFocus();

    // Marks the whole client area for repainting.
    void Invalidate();

    TNotifyEvent OnClick;
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;
    // Runs OnClick. A control that captures the mouse clicks itself when the left button is released over it.
    virtual void Click();

    // A key a form offers its controls before it is dispatched: Enter, Esc (focused: this control has the focus);
    // a character, with or without Alt, for accelerators. True when the control acted on it.
    virtual bool DialogKey(WORD key, bool focused);
    virtual bool DialogChar(wchar_t key);

protected:
    virtual void CreateParams(TCreateParams& params);
    virtual void CreateWnd();
    void DestroyHandle();
    // Lays out client-aligned children after the client area changed.
    void AlignControls();
    // Registers the window class (once) and binds the window to this object in WM_NCCREATE.
    static LRESULT CALLBACK InitWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
    static LRESULT CALLBACK StdWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;

    // Notifications after the font or the caption changed, and after the mouse entered or left the window (the
    // leave also while the mouse is captured) and mouse buttons went down or up over it (x, y: client coordinates).
    virtual void FontChanged();
    virtual void CaptionChanged() {}
    virtual void MouseEnter();
    virtual void MouseLeave();
    virtual void MouseDown(TMouseButton button, int x, int y);
    virtual void MouseUp(TMouseButton button, int x, int y);
    bool MouseInControl() const { return FMouseInControl; }
    // The colour the background is painted with: the control's own once set, else its parent's.
    TColor BackgroundColor() const;
    void FillBackground(HDC dc, const RECT& rect);
    // Controls that set FPaintsItself draw their whole client area here, background included, and get no separate
    // erase, so that they do not flicker.
    virtual void PaintWindow(HDC, const RECT&) {}

    HWND FHandle = nullptr;
    WNDPROC FDefWndProc = DefWindowProcW; // the class procedure of a subclassed standard control
    int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
    bool FVisible = false;
    bool FEnabled = true;
    TWinControl* FParent = nullptr;
    std::vector<TWinControl*> FControls;
    std::vector<TWinControl*> FTabList;
    HWND FParentWindow = nullptr;
    TAlign FAlign = TAlign::alNone;
    std::wstring FCaption;
    TColor FColor = clBtnFace;
    bool FParentColor = true;
    // The left button captures the mouse, and its release over the control clicks it.
    bool FCaptureMouse = false;
    // Enter and leave are tracked even when nobody listens to OnMouseEnter and OnMouseLeave.
    bool FTrackMouse = false;
    bool FPaintsItself = false;

private:
    void UpdateBoundsFromWindow();
    void ParentFontChanged();
    void UpdateMouseInControl(POINT screen);
    bool OverControl(POINT screen) const;
    void HandleMouseButton(TMessage& message);

    TFont FFont;
    bool FParentFont = true;
    bool FTakingParentFont = false;
    TCursor FCursor = crDefault;
    // The brush of the last background colour that is not a system colour, kept for the next erase.
    TGdiObject<HBRUSH> FBackgroundBrush;
    TColor FBackgroundBrushColor = 0;
    bool FTabStop = false;
    bool FMouseInControl = false;
    bool FClicking = false;
};
