#include "Controls.h"

#include <windowsx.h>

#include <algorithm>

#include "Callbacks.h"
#include "Forms.h"

namespace {
const char* const ObjectProperty = "mutone.control";

TWinControl* ControlOf(HWND window) {
    return static_cast<TWinControl*>(GetPropA(window, ObjectProperty));
}

// BeginPaint and its EndPaint, also when painting fails: the device context BeginPaint lends comes from a small
// shared cache and must go back.
class TPaintGuard {
public:
    explicit TPaintGuard(HWND window) : FWindow(window) { BeginPaint(window, &FPaint); }
    TPaintGuard(const TPaintGuard&) = delete;
    TPaintGuard& operator=(const TPaintGuard&) = delete;
    ~TPaintGuard() { EndPaint(FWindow, &FPaint); }
    HDC DC() const { return FPaint.hdc; }

private:
    HWND FWindow;
    PAINTSTRUCT FPaint{};
};

HCURSOR CursorHandle(TCursor cursor) {
    switch (cursor) {
    case crHandPoint:
        return LoadCursor(nullptr, IDC_HAND);
    case crArrow:
        return LoadCursor(nullptr, IDC_ARROW);
    default:
        return nullptr;
    }
}
} // namespace

std::wstring AnsiToWide(const std::string& text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string WideToAnsi(const std::wstring& text) {
    if (text.empty()) return {};
    const int length =
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), ansi.data(), length, nullptr, nullptr);
    return ansi;
}

bool IsAccel(wchar_t key, const std::wstring& caption) {
    wchar_t accelerator = 0;
    for (size_t i = 0; i + 1 < caption.size() && !accelerator; ++i) {
        if (caption[i] != L'&') continue;
        if (caption[i + 1] != L'&') accelerator = caption[i + 1];
        ++i;
    }
    if (!accelerator || !key) return false;
    // CharUpperW takes a single character in the low word of its pointer argument.
    const auto upper = [](wchar_t c) {
        return reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(c))));
    };
    return upper(accelerator) == upper(key);
}

TWinControl::TWinControl(TComponent* owner) : TComponent(owner) {
    WindowProc = [this](TMessage& message) { WndProc(message); };
    FFont.OnChange = [this](TObject*) {
        if (!FTakingParentFont) FParentFont = false;
        FontChanged();
    };
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

TWinControl* TWinControl::FindControl(HWND window) {
    return window ? ControlOf(window) : nullptr;
}

void TWinControl::CreateParams(TCreateParams& params) {
    params.Caption = FCaption;
    params.Style = WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | (FVisible ? WS_VISIBLE : 0) |
                   (FEnabled ? 0 : WS_DISABLED) | (FTabStop ? WS_TABSTOP : 0);
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
    const std::wstring className = AnsiToWide(params.WinClassName);
    WNDCLASSW windowClass{};
    windowClass.style = params.ClassStyle;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = params.Background;
    if (!params.SuperClassName.empty()) {
        // The system class's procedure handles what this class does not; its extra bytes come along.
        if (!GetClassInfoW(nullptr, AnsiToWide(params.SuperClassName).c_str(), &windowClass))
            throw Exception("Unknown window class " + params.SuperClassName);
        FDefWndProc = windowClass.lpfnWndProc;
    }
    WNDCLASSW existing;
    if (!GetClassInfoW(instance, className.c_str(), &existing)) {
        windowClass.lpfnWndProc = SystemCallback(InitWndProc);
        windowClass.hInstance = instance;
        windowClass.lpszClassName = className.c_str();
        windowClass.lpszMenuName = nullptr;
        if (!RegisterClassW(&windowClass)) throw Exception("Cannot register window class " + params.WinClassName);
    }
    HWND window = CreateWindowExW(params.ExStyle, className.c_str(), params.Caption.c_str(), params.Style, params.X,
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

LRESULT CALLBACK TWinControl::InitWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
    if (msg == WM_NCCREATE) {
        auto* control = static_cast<TWinControl*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetPropA(window, ObjectProperty, control);
        control->FHandle = window;
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SystemCallback(StdWndProc)));
        return StdWndProc(window, msg, wParam, lParam);
    }
    return DefWindowProcW(window, msg, wParam, lParam);
}

LRESULT CALLBACK TWinControl::StdWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
    TWinControl* control = ControlOf(window);
    if (!control) return DefWindowProcW(window, msg, wParam, lParam);
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
    case WM_ERASEBKGND:
        if (!FPaintsItself) {
            RECT rect;
            GetClientRect(FHandle, &rect);
            FillBackground(reinterpret_cast<HDC>(message.WParam), rect);
        }
        message.Result = 1;
        return;
    case WM_PAINT:
        if (FPaintsItself) {
            TPaintGuard paint(FHandle);
            RECT client;
            GetClientRect(FHandle, &client);
            PaintWindow(paint.DC(), client);
            message.Result = 0;
            return;
        }
        DefaultHandler(message);
        return;
    case WM_WINDOWPOSCHANGED:
        DefaultHandler(message);
        UpdateBoundsFromWindow();
        AlignControls();
        return;
    case WM_COMMAND:
        // A control's notification goes back to the control, which knows what it means.
        if (TWinControl* child = FindControl(reinterpret_cast<HWND>(message.LParam)); child && child != this) {
            message.Result = child->Perform(CN_COMMAND, message.WParam, message.LParam);
            return;
        }
        DefaultHandler(message);
        return;
    case WM_SETCURSOR:
        if (FCursor != crDefault && reinterpret_cast<HWND>(message.WParam) == FHandle &&
            LOWORD(message.LParam) == HTCLIENT) {
            ::SetCursor(CursorHandle(FCursor));
            message.Result = TRUE;
            return;
        }
        DefaultHandler(message);
        return;
    case WM_MOUSEMOVE: {
        DefaultHandler(message);
        POINT point{GET_X_LPARAM(message.LParam), GET_Y_LPARAM(message.LParam)};
        ClientToScreen(FHandle, &point);
        UpdateMouseInControl(point);
        return;
    }
    case WM_MOUSELEAVE: {
        DefaultHandler(message);
        // Tracking also ends when the mouse is captured; only a pointer that really is elsewhere has left.
        POINT point;
        GetCursorPos(&point);
        if (FMouseInControl && !OverControl(point)) {
            FMouseInControl = false;
            MouseLeave();
        }
        return;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
        HandleMouseButton(message);
        return;
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(message.LParam) != FHandle) FClicking = false;
        DefaultHandler(message);
        return;
    default:
        DefaultHandler(message);
    }
}

void TWinControl::HandleMouseButton(TMessage& message) {
    const int x = GET_X_LPARAM(message.LParam), y = GET_Y_LPARAM(message.LParam);
    switch (message.Msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        if (FCaptureMouse) {
            SetCapture(FHandle);
            FClicking = true;
        }
        DefaultHandler(message);
        MouseDown(TMouseButton::mbLeft, x, y);
        return;
    case WM_LBUTTONUP: {
        DefaultHandler(message);
        if (std::exchange(FClicking, false)) {
            if (GetCapture() == FHandle) ReleaseCapture();
            RECT client;
            GetClientRect(FHandle, &client);
            // Capture kept the leave tracking from running; a pointer still over the control must be tracked again.
            POINT screen{x, y};
            ClientToScreen(FHandle, &screen);
            UpdateMouseInControl(screen);
            if (PtInRect(&client, POINT{x, y})) Click();
        }
        MouseUp(TMouseButton::mbLeft, x, y);
        return;
    }
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        DefaultHandler(message);
        MouseDown(message.Msg == WM_RBUTTONDOWN ? TMouseButton::mbRight : TMouseButton::mbMiddle, x, y);
        return;
    default:
        DefaultHandler(message);
        MouseUp(message.Msg == WM_RBUTTONUP ? TMouseButton::mbRight : TMouseButton::mbMiddle, x, y);
    }
}

bool TWinControl::OverControl(POINT screen) const {
    return FHandle && WindowFromPoint(screen) == FHandle;
}

void TWinControl::UpdateMouseInControl(POINT screen) {
    if (!FTrackMouse && !OnMouseEnter && !OnMouseLeave) return;
    const bool over = OverControl(screen);
    if (over) {
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, FHandle, 0};
        TrackMouseEvent(&track);
    }
    if (over == FMouseInControl) return;
    FMouseInControl = over;
    if (over)
        MouseEnter();
    else
        MouseLeave();
}

void TWinControl::DefaultHandler(TMessage& message) {
    // Windows made here are wide; a foreign window taken over by its ANSI procedure (an OLE control's) is not.
    message.Result = IsWindowUnicode(FHandle)
                         ? CallWindowProcW(FDefWndProc, FHandle, message.Msg, message.WParam, message.LParam)
                         : CallWindowProcA(FDefWndProc, FHandle, message.Msg, message.WParam, message.LParam);
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

void TWinControl::SetClientSize(int width, int height) {
    // The frame is measured on the real window: it is whatever the system drew for this style.
    HandleNeeded();
    SetBounds(FLeft, FTop, FWidth - ClientWidth() + width, FHeight - ClientHeight() + height);
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
        for (auto* list : {&FParent->FControls, &FParent->FTabList})
            list->erase(std::remove(list->begin(), list->end(), this), list->end());
    }
    FParent = parent;
    if (FParent) {
        FParent->FControls.push_back(this);
        FParent->FTabList.push_back(this);
        if (FParentFont) ParentFontChanged();
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
    DWORD style = static_cast<DWORD>(GetWindowLongA(FHandle, GWL_STYLE));
    style = window ? (style | WS_CHILD) & ~DWORD{WS_POPUP} : (style & ~DWORD{WS_CHILD}) | WS_POPUP;
    SetWindowLongA(FHandle, GWL_STYLE, static_cast<LONG>(style));
    ::SetParent(FHandle, window);
}

void TWinControl::SetAlign(TAlign align) {
    FAlign = align;
    if (FParent) FParent->AlignControls();
}

void TWinControl::SetCaption(const std::string& caption) {
    SetCaption(AnsiToWide(caption));
}

void TWinControl::SetCaption(const std::wstring& caption) {
    if (caption == FCaption) return;
    FCaption = caption;
    if (HandleAllocated()) SetWindowTextW(FHandle, caption.c_str());
    CaptionChanged();
}

void TWinControl::SetColor(TColor color) {
    FColor = color;
    FParentColor = false;
    Invalidate();
}

TColor TWinControl::BackgroundColor() const {
    return FParentColor && FParent ? FParent->BackgroundColor() : FColor;
}

void TWinControl::FillBackground(HDC dc, const RECT& rect) {
    const TColor color = BackgroundColor();
    HBRUSH brush;
    if (color & 0x80000000) {
        // A system colour's brush belongs to the system, which keeps it in step with the colour scheme.
        brush = GetSysColorBrush(static_cast<int>(color & 0xFF));
    } else {
        if (!FBackgroundBrush || FBackgroundBrushColor != color) {
            FBackgroundBrush.reset(CreateSolidBrush(color));
            FBackgroundBrushColor = color;
        }
        brush = FBackgroundBrush.get();
    }
    FillRect(dc, &rect, brush);
}

void TWinControl::SetParentFont(bool value) {
    FParentFont = value;
    if (value) ParentFontChanged();
}

void TWinControl::ParentFontChanged() {
    if (!FParentFont || !FParent) return;
    FTakingParentFont = true;
    FFont.Assign(FParent->FFont);
    FTakingParentFont = false;
}

void TWinControl::FontChanged() {
    for (TWinControl* child : FControls)
        child->ParentFontChanged();
    Invalidate();
}

void TWinControl::SetCursor(TCursor cursor) {
    if (cursor == FCursor) return;
    FCursor = cursor;
    // The system asks for the cursor only when the mouse moves next; a pointer already over the control sees the
    // new one at once.
    POINT point;
    if (HandleAllocated() && GetCursorPos(&point) && OverControl(point) && !GetCapture())
        SendMessageW(FHandle, WM_SETCURSOR, reinterpret_cast<WPARAM>(FHandle), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
}

void TWinControl::SetTabStop(bool value) {
    FTabStop = value;
    if (!HandleAllocated()) return;
    const LONG style = GetWindowLongW(FHandle, GWL_STYLE);
    SetWindowLongW(FHandle, GWL_STYLE, value ? style | WS_TABSTOP : style & ~WS_TABSTOP);
}

int TWinControl::TabOrder() const {
    if (!FParent) return -1;
    const auto& list = FParent->FTabList;
    return static_cast<int>(std::find(list.begin(), list.end(), this) - list.begin());
}

void TWinControl::SetTabOrder(int order) {
    if (!FParent) return;
    auto& list = FParent->FTabList;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    const size_t at = std::min(static_cast<size_t>(std::max(order, 0)), list.size());
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), this);
}

void TWinControl::GetTabOrderList(std::vector<TWinControl*>& list) const {
    for (TWinControl* control : FTabList) {
        list.push_back(control);
        control->GetTabOrderList(list);
    }
}

bool TWinControl::CanFocus() const {
    for (const TWinControl* control = this; control; control = control->FParent)
        if (!control->FVisible || !control->FEnabled) return false;
    return true;
}

bool TWinControl::Focused() const {
    return FHandle && GetFocus() == FHandle;
}

void TWinControl::SetFocus() {
    if (HandleAllocated()) ::SetFocus(FHandle);
}

void TWinControl::Invalidate() {
    if (HandleAllocated()) InvalidateRect(FHandle, nullptr, TRUE);
}

void TWinControl::Click() {
    if (OnClick) OnClick(this);
}

void TWinControl::MouseEnter() {
    if (OnMouseEnter) OnMouseEnter(this);
}

void TWinControl::MouseLeave() {
    if (OnMouseLeave) OnMouseLeave(this);
}

void TWinControl::MouseDown(TMouseButton, int, int) {}

void TWinControl::MouseUp(TMouseButton, int, int) {}

bool TWinControl::DialogKey(WORD, bool) {
    return false;
}

bool TWinControl::DialogChar(wchar_t) {
    return false;
}
