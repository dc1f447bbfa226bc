// Windowed controls: a component with a window handle whose messages pass through a replaceable WindowProc.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "Components.h"
#include "SysUtils.h"

struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

using TWndMethod = std::function<void(TMessage&)>;

using TColor = uint32_t; // 0x00BBGGRR
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clBtnFace = 0x80000000 | COLOR_BTNFACE; // a system colour, resolved when painting

COLORREF ColorToRGB(TColor color);

enum class TAlign { alNone, alClient };

struct TCreateParams {
    std::string Caption;
    DWORD Style = 0;
    DWORD ExStyle = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
    HWND WndParent = nullptr;
    std::string WinClassName;
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

    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& caption);
    TColor Color() const { return FColor; }
    void SetColor(TColor color);

protected:
    virtual void CreateParams(TCreateParams& params);
    virtual void CreateWnd();
    void DestroyHandle();
    // Lays out client-aligned children after the client area changed.
    void AlignControls();
    // Registers the window class (once) and binds the window to this object in WM_NCCREATE.
    static LRESULT CALLBACK InitWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK StdWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND FHandle = nullptr;
    WNDPROC FDefWndProc = DefWindowProcA; // the class procedure of a subclassed standard control
    int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
    bool FVisible = false;
    bool FEnabled = true;
    TWinControl* FParent = nullptr;
    std::vector<TWinControl*> FControls;
    HWND FParentWindow = nullptr;
    TAlign FAlign = TAlign::alNone;
    std::string FCaption;
    TColor FColor = clBtnFace;

private:
    void UpdateBoundsFromWindow();
};
