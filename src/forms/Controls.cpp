#include "Controls.h"

#include <algorithm>

#include "Forms.h"

namespace {
const char* const ObjectProperty = "mutone.control";

TWinControl* ControlOf(HWND window) {
    return static_cast<TWinControl*>(GetPropA(window, ObjectProperty));
}
} // namespace

COLORREF ColorToRGB(TColor color) {
    return (color & 0x80000000) ? GetSysColor(static_cast<int>(color & 0xFF)) : static_cast<COLORREF>(color);
}

TWinControl::TWinControl(TComponent* owner) : TComponent(owner) {
    WindowProc = [this](TMessage& message) { WndProc(message); };
}

TWinControl::~TWinControl() {
    for (TWinControl* child : FControls)
        child->FParent = nullptr;
    SetParent(nullptr);
    DestroyHandle();
}

HWND TWinControl::Handle() {
    if (!FHandle) CreateWnd();
    return FHandle;
}

void TWinControl::CreateParams(TCreateParams& params) {
    params.Caption = FCaption;
    params.Style =
        WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | (FVisible ? WS_VISIBLE : 0) | (FEnabled ? 0 : WS_DISABLED);
    params.X = FLeft;
    params.Y = FTop;
    params.Width = FWidth;
    params.Height = FHeight;
    params.WndParent = FParent ? FParent->Handle() : FParentWindow;
    params.WinClassName = ClassName();
}

void TWinControl::CreateWnd() {
    TCreateParams params;
    CreateParams(params);
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA existing;
    if (!GetClassInfoA(instance, params.WinClassName.c_str(), &existing)) {
        WNDCLASSA windowClass{};
        windowClass.style = params.ClassStyle;
        windowClass.lpfnWndProc = InitWndProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.hbrBackground = params.Background;
        windowClass.lpszClassName = params.WinClassName.c_str();
        if (!RegisterClassA(&windowClass)) throw Exception("Cannot register window class " + params.WinClassName);
    }
    HWND window =
        CreateWindowExA(params.ExStyle, params.WinClassName.c_str(), params.Caption.c_str(), params.Style, params.X,
                        params.Y, params.Width, params.Height, params.WndParent, nullptr, instance, this);
    if (!window) throw Exception("Cannot create window " + params.WinClassName);
    FHandle = window;
    for (TWinControl* child : FControls)
        child->HandleNeeded();
}

void TWinControl::DestroyHandle() {
    if (!FHandle) return;
    HWND window = FHandle;
    DestroyWindow(window); // WM_NCDESTROY clears FHandle
    FHandle = nullptr;
}

LRESULT CALLBACK TWinControl::InitWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* control = static_cast<TWinControl*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetPropA(window, ObjectProperty, control);
        control->FHandle = window;
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StdWndProc));
        return StdWndProc(window, msg, wParam, lParam);
    }
    return DefWindowProcA(window, msg, wParam, lParam);
}

LRESULT CALLBACK TWinControl::StdWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    TWinControl* control = ControlOf(window);
    if (!control) return DefWindowProcA(window, msg, wParam, lParam);
    TMessage message{msg, wParam, lParam, 0};
    try {
        control->WindowProc(message);
    } catch (...) {
        // Nothing may leave a window procedure; the application decides what an exception is worth.
        if (Application) Application->HandleException(std::current_exception());
    }
    if (msg == WM_NCDESTROY) {
        RemovePropA(window, ObjectProperty);
        if (control->FHandle == window) control->FHandle = nullptr;
    }
    return message.Result;
}

void TWinControl::WndProc(TMessage& message) {
    switch (message.Msg) {
    case WM_ERASEBKGND: {
        RECT rect;
        GetClientRect(FHandle, &rect);
        HBRUSH brush = CreateSolidBrush(ColorToRGB(FColor));
        FillRect(reinterpret_cast<HDC>(message.WParam), &rect, brush);
        DeleteObject(brush);
        message.Result = 1;
        return;
    }
    case WM_WINDOWPOSCHANGED:
        DefaultHandler(message);
        UpdateBoundsFromWindow();
        AlignControls();
        return;
    default:
        DefaultHandler(message);
    }
}

void TWinControl::DefaultHandler(TMessage& message) {
    message.Result = CallWindowProcA(FDefWndProc, FHandle, message.Msg, message.WParam, message.LParam);
}

LRESULT TWinControl::Perform(UINT msg, WPARAM wParam, LPARAM lParam) {
    TMessage message{msg, wParam, lParam, 0};
    WindowProc(message);
    return message.Result;
}

int TWinControl::ClientWidth() {
    RECT rect{};
    if (HandleAllocated()) GetClientRect(FHandle, &rect);
    return HandleAllocated() ? rect.right - rect.left : FWidth;
}

int TWinControl::ClientHeight() {
    RECT rect{};
    if (HandleAllocated()) GetClientRect(FHandle, &rect);
    return HandleAllocated() ? rect.bottom - rect.top : FHeight;
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
    FLeft = left;
    FTop = top;
    FWidth = width;
    FHeight = height;
    if (HandleAllocated()) SetWindowPos(FHandle, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    AlignControls();
}

void TWinControl::UpdateBoundsFromWindow() {
    RECT rect;
    if (!GetWindowRect(FHandle, &rect)) return;
    HWND parent = GetParent(FHandle);
    if (parent && (GetWindowLongA(FHandle, GWL_STYLE) & WS_CHILD))
        MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    FLeft = rect.left;
    FTop = rect.top;
    FWidth = rect.right - rect.left;
    FHeight = rect.bottom - rect.top;
}

void TWinControl::AlignControls() {
    for (TWinControl* child : FControls)
        if (child->FAlign == TAlign::alClient) child->SetBounds(0, 0, ClientWidth(), ClientHeight());
}

void TWinControl::SetVisible(bool value) {
    FVisible = value;
    if (HandleAllocated()) ShowWindow(FHandle, value ? SW_SHOWNOACTIVATE : SW_HIDE);
}

void TWinControl::SetEnabled(bool value) {
    FEnabled = value;
    if (HandleAllocated()) EnableWindow(FHandle, value);
}

void TWinControl::SetParent(TWinControl* parent) {
    if (FParent == parent) return;
    if (FParent) {
        auto& siblings = FParent->FControls;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
    FParent = parent;
    if (FParent) {
        FParent->FControls.push_back(this);
        if (HandleAllocated())
            ::SetParent(FHandle, FParent->Handle());
        else if (FParent->HandleAllocated())
            HandleNeeded();
        FParent->AlignControls();
    }
}

void TWinControl::SetParentWindow(HWND window) {
    FParentWindow = window;
    if (!HandleAllocated()) return;
    LONG style = GetWindowLongA(FHandle, GWL_STYLE);
    style = window ? (style | WS_CHILD) & ~WS_POPUP : (style & ~WS_CHILD) | WS_POPUP;
    SetWindowLongA(FHandle, GWL_STYLE, style);
    ::SetParent(FHandle, window);
}

void TWinControl::SetAlign(TAlign align) {
    FAlign = align;
    if (FParent) FParent->AlignControls();
}

void TWinControl::SetCaption(const std::string& caption) {
    FCaption = caption;
    if (HandleAllocated()) SetWindowTextA(FHandle, caption.c_str());
}

void TWinControl::SetColor(TColor color) {
    FColor = color;
    if (HandleAllocated()) InvalidateRect(FHandle, nullptr, TRUE);
}
