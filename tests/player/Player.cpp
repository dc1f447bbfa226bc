// A stand-in for the Flash ActiveX control, for the tests only: an in-process COM server registered under the
// control's class identifier that keeps the contract the program relies on and writes down everything it is asked
// and every message its window receives.
//
// Record: when MUTONE_PLAYER_RECORD names a file, each event is appended to it as one line
//   "<pid>.<instance> <event> <details>"
// with these events:
//   create <dll path>                      the object was created
//   SetClientSite site|null
//   DoVerb <verb>
//   window <hwnd> parent <hwnd> <l> <t> <r> <b>   its window exists, in the parent's client coordinates
//   SetObjectRects <l> <t> <r> <b>
//   InPlaceDeactivate
//   Close <option>
//   Advise <cookie> / Unadvise <cookie>
//   put <dispid> bool|i4|bstr|vt<n> <value>    a property put (bstr values in UTF-8)
//   call <slot> <name>                     a method of the dual interface
//   msg <id> <wparam> <lparam>             a message reached its window procedure (hexadecimal)
//   fire <command> <args>                  FSCommand went to every advised sink
//   destroy                                the last reference went away
// Each line is written and the file closed again at once, so a reader sees whole lines. MUTONE_PLAYER_RECORD_ONLY, when
// set, lists the events to write by how they begin, separated by commas ("put 102,call 29"); the others are left out,
// so that a benchmark does not measure the record's own file writes.
//
// FSCommand: when MUTONE_PLAYER_TRIGGER names a file and that file exists, the player reads it (UTF-8: the command
// on the first line, the arguments on the second), deletes it and fires FSCommand. It looks on every WM_TIMER of its
// window, and whenever the window receives the registered message "MutonePlayerCheckTrigger". Write the file under
// another name and rename it, so that it is never read half-written.
//
// Failures: MUTONE_PLAYER_FAIL lists events to refuse with E_FAIL, separated by commas: "put<dispid>" or
// "call<slot>" (for instance "put105,call29").
#include <windows.h>

#include <ole2.h>
#include <olectl.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

// COM objects die by their own Release, never by a delete through an interface pointer: the interfaces have no
// virtual destructor by design.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace {

const GUID ClassId = {0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID DualId = {0xD27CDB6C, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID EventsId = {0xD27CDB6D, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr DISPID FSCommandId = 150;
constexpr int SlotCount = 120;
const char* const WindowClassName = "MutoneStandInPlayer";

HINSTANCE Module;
std::atomic<LONG> InstanceCounter{0};

std::string Utf8(const wchar_t* text, UINT length) {
    if (!length) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), result.data(), size, nullptr, nullptr);
    return result;
}

std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
    return result;
}

// In the ANSI code page, for the ANSI file calls. Read as UTF-16 and converted here: Wine's
// GetEnvironmentVariableA cuts a value of double-byte characters to its length in UTF-16 units.
std::string Env(const char* name) {
    wchar_t value[MAX_PATH * 2];
    const DWORD length = GetEnvironmentVariableW(Wide(name).c_str(), value, MAX_PATH * 2);
    if (length == 0 || length >= MAX_PATH * 2) return {};
    char ansi[MAX_PATH * 4];
    const int size =
        WideCharToMultiByte(CP_ACP, 0, value, static_cast<int>(length), ansi, sizeof ansi, nullptr, nullptr);
    return std::string(ansi, static_cast<size_t>(size > 0 ? size : 0));
}

bool ShouldFail(const std::string& event) {
    std::string list = "," + Env("MUTONE_PLAYER_FAIL") + ",";
    return list.find("," + event + ",") != std::string::npos;
}

struct TDual {
    const void* const* Vtbl;
    class TPlayer* Owner;
};
const void* const* DualVtbl();

class TPlayer;
LRESULT CALLBACK PlayerWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

// The connection point of the event interface; a part of its player.
class TEventsPoint : public IConnectionPoint {
public:
    explicit TEventsPoint(TPlayer* owner) : FOwner(owner) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetConnectionInterface(IID* iid) override {
        if (!iid) return E_POINTER;
        *iid = EventsId;
        return S_OK;
    }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override {
        if (connections) *connections = nullptr;
        return E_NOTIMPL;
    }

    struct TSink {
        DWORD Cookie;
        IDispatch* Sink;
    };
    std::vector<TSink> Sinks;
    DWORD NextCookie = 1;

private:
    TPlayer* FOwner;
};

class TPlayer : public IDispatch, public IOleObject, public IOleInPlaceObject, public IConnectionPointContainer {
public:
    TPlayer() : FEvents(this) {
        FDual.Vtbl = DualVtbl();
        FDual.Owner = this;
        char path[MAX_PATH] = "";
        GetModuleFileNameA(Module, path, MAX_PATH);
        FName = std::to_string(GetCurrentProcessId()) + "." + std::to_string(++InstanceCounter);
        Record("create %s", path);
        Record("dpi %s", ThreadDpiAwareness());
    }

    // The awareness of the thread that creates the control, the one its host's windows have; looked up, since
    // systems before Windows 10 do not have the calls.
    static const char* ThreadDpiAwareness() {
        using TGetContext = HANDLE(WINAPI*)();
        using TAreEqual = BOOL(WINAPI*)(HANDLE, HANDLE);
        HMODULE user32 = GetModuleHandleA("user32.dll");
        auto get = reinterpret_cast<TGetContext>(
            reinterpret_cast<void*>(GetProcAddress(user32, "GetThreadDpiAwarenessContext")));
        auto equal = reinterpret_cast<TAreEqual>(
            reinterpret_cast<void*>(GetProcAddress(user32, "AreDpiAwarenessContextsEqual")));
        if (!get || !equal) return "none";
        const HANDLE context = get();
        const char* const names[] = {"unaware", "system", "permonitor", "permonitorv2"};
        for (intptr_t i = 0; i < 4; ++i)
            if (equal(context, reinterpret_cast<HANDLE>(-1 - i))) return names[i];
        return "unknown";
    }

    void Record(const char* format, ...) {
        std::string path = Env("MUTONE_PLAYER_RECORD");
        if (path.empty()) return;
        char line[2048];
        int prefix = std::snprintf(line, sizeof line, "%s ", FName.c_str());
        va_list args;
        va_start(args, format);
        std::vsnprintf(line + prefix, sizeof line - static_cast<size_t>(prefix) - 2, format, args);
        va_end(args);
        if (!Wanted(line + prefix)) return;
        std::string text = std::string(line) + "\r\n";
        HANDLE file =
            CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }

    static bool Wanted(const std::string& event) {
        const std::string only = Env("MUTONE_PLAYER_RECORD_ONLY");
        if (only.empty()) return true;
        for (size_t start = 0; start <= only.size();) {
            const size_t end = std::min(only.find(',', start), only.size());
            if (end > start && event.compare(0, end - start, only, start, end - start) == 0) return true;
            start = end + 1;
        }
        return false;
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch)
            *object = static_cast<IDispatch*>(this);
        else if (iid == DualId)
            *object = &FDual;
        else if (iid == IID_IOleObject)
            *object = static_cast<IOleObject*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject)
            *object = static_cast<IOleInPlaceObject*>(this);
        else if (iid == IID_IConnectionPointContainer)
            *object = static_cast<IConnectionPointContainer*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++FRefCount; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG count = --FRefCount;
        if (count == 0) {
            DestroyPlayerWindow();
            for (auto& sink : FEvents.Sinks)
                sink.Sink->Release();
            Record("destroy");
            delete this;
        }
        return count;
    }

    // IDispatch: property puts by identifier.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID dispId, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        if (!(flags & DISPATCH_PROPERTYPUT) || !params || params->cArgs != 1 || params->cNamedArgs != 1 ||
            params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
            Record("invoke %ld flags %u", static_cast<long>(dispId), flags);
            return DISP_E_MEMBERNOTFOUND;
        }
        const VARIANT& value = params->rgvarg[0];
        switch (value.vt) {
        case VT_BOOL:
            Record("put %ld bool %d", static_cast<long>(dispId), value.boolVal);
            break;
        case VT_I4:
            Record("put %ld i4 %ld", static_cast<long>(dispId), static_cast<long>(value.lVal));
            break;
        case VT_BSTR:
            Record("put %ld bstr %s", static_cast<long>(dispId),
                   Utf8(value.bstrVal, SysStringLen(value.bstrVal)).c_str());
            break;
        default:
            Record("put %ld vt%u", static_cast<long>(dispId), value.vt);
        }
        if (ShouldFail("put" + std::to_string(dispId))) return E_FAIL;
        if (dispId == 123 && value.vt == VT_I4) {
            FBackground = static_cast<COLORREF>(value.lVal) & 0xFFFFFF;
            if (FWindow) InvalidateRect(FWindow, nullptr, TRUE);
        }
        return S_OK;
    }

    HRESULT CallSlot(int slot, const char* name) {
        Record("call %d %s", slot, name);
        return ShouldFail("call" + std::to_string(slot)) ? E_FAIL : S_OK;
    }

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override {
        Record("SetClientSite %s", site ? "site" : "null");
        if (site) site->AddRef();
        if (FSite) FSite->Release();
        FSite = site;
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** site) override {
        if (!site) return E_POINTER;
        *site = FSite;
        if (FSite) FSite->AddRef();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD option) override {
        Record("Close %lu", option);
        InPlaceDeactivate();
        return S_OK;
    }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        if (moniker) *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject** data) override {
        if (data) *data = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT position) override {
        Record("DoVerb %ld", static_cast<long>(verb));
        if (verb != OLEIVERB_INPLACEACTIVATE && verb != OLEIVERB_SHOW && verb != OLEIVERB_UIACTIVATE &&
            verb != OLEIVERB_PRIMARY)
            return OLEOBJ_S_INVALIDVERB;
        if (FWindow) return S_OK;
        if (!site) site = FSite;
        if (!site) return E_INVALIDARG;
        IOleInPlaceSite* inPlaceSite = nullptr;
        if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlaceSite))))
            return E_NOINTERFACE;
        if (inPlaceSite->CanInPlaceActivate() != S_OK) {
            inPlaceSite->Release();
            return E_FAIL;
        }
        inPlaceSite->OnInPlaceActivate();
        HWND siteWindow = nullptr;
        inPlaceSite->GetWindow(&siteWindow);
        if (!parent) parent = siteWindow;
        IOleInPlaceFrame* frame = nullptr;
        IOleInPlaceUIWindow* document = nullptr;
        RECT pos{}, clip{};
        OLEINPLACEFRAMEINFO frameInfo{};
        frameInfo.cb = sizeof frameInfo;
        if (SUCCEEDED(inPlaceSite->GetWindowContext(&frame, &document, &pos, &clip, &frameInfo))) {
            if (frame) frame->Release();
            if (document) document->Release();
        }
        if (position) pos = *position;
        FWindow = CreateWindowExA(0, WindowClassName, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, pos.left, pos.top,
                                  pos.right - pos.left, pos.bottom - pos.top, parent, nullptr, Module, this);
        if (!FWindow) {
            inPlaceSite->OnInPlaceDeactivate();
            inPlaceSite->Release();
            return E_FAIL;
        }
        FInPlaceSite = inPlaceSite;
        Record("window %p parent %p %ld %ld %ld %ld", static_cast<void*>(FWindow), static_cast<void*>(parent),
               static_cast<long>(pos.left), static_cast<long>(pos.top), static_cast<long>(pos.right),
               static_cast<long>(pos.bottom));
        SetTimer(FWindow, 1, 30, nullptr);
        return S_OK;
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override {
        if (verbs) *verbs = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* id) override {
        if (!id) return E_POINTER;
        *id = ClassId;
        return S_OK;
    }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR* type) override {
        if (type) *type = nullptr;
        return OLE_S_USEREG;
    }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return S_OK; }
    STDMETHODIMP GetExtent(DWORD, SIZEL* size) override {
        if (!size) return E_POINTER;
        size->cx = size->cy = 0;
        return S_OK;
    }
    STDMETHODIMP Advise(IAdviseSink*, DWORD* connection) override {
        if (connection) *connection = 0;
        return E_NOTIMPL;
    }
    STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** advise) override {
        if (advise) *advise = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) override {
        if (!status) return E_POINTER;
        *status =
            OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INSIDEOUT | OLEMISC_RECOMPOSEONRESIZE;
        return S_OK;
    }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleWindow and IOleInPlaceObject
    STDMETHODIMP GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = FWindow;
        return FWindow ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() override {
        Record("InPlaceDeactivate");
        DestroyPlayerWindow();
        return S_OK;
    }
    STDMETHODIMP UIDeactivate() override { return S_OK; }
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT) override {
        if (!position) return E_POINTER;
        Record("SetObjectRects %ld %ld %ld %ld", static_cast<long>(position->left), static_cast<long>(position->top),
               static_cast<long>(position->right), static_cast<long>(position->bottom));
        if (FWindow)
            MoveWindow(FWindow, position->left, position->top, position->right - position->left,
                       position->bottom - position->top, TRUE);
        return S_OK;
    }
    STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override {
        if (points) *points = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
        if (!point) return E_POINTER;
        *point = nullptr;
        if (iid != EventsId) return CONNECT_E_NOCONNECTION;
        *point = &FEvents;
        AddRef();
        return S_OK;
    }

    LRESULT WindowMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
        Record("msg 0x%04X 0x%llX 0x%llX", msg, static_cast<unsigned long long>(wParam),
               static_cast<unsigned long long>(lParam));
        static const UINT CheckTriggerMessage = RegisterWindowMessageA("MutonePlayerCheckTrigger");
        if (msg == WM_TIMER || msg == CheckTriggerMessage) {
            CheckTrigger();
            return 0;
        }
        if (msg == WM_ERASEBKGND) return 1;
        if (msg == WM_PAINT) {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            HBRUSH brush = CreateSolidBrush(FBackground);
            FillRect(dc, &paint.rcPaint, brush);
            DeleteObject(brush);
            EndPaint(window, &paint);
            return 0;
        }
        return DefWindowProcA(window, msg, wParam, lParam);
    }

    void WindowGone() { FWindow = nullptr; }

    void Fire(const std::wstring& command, const std::wstring& args) {
        Record("fire %s %s", Utf8(command.data(), static_cast<UINT>(command.size())).c_str(),
               Utf8(args.data(), static_cast<UINT>(args.size())).c_str());
        // A handler may free the control that hosts this player: hold it and the sinks until the call is over.
        AddRef();
        std::vector<TEventsPoint::TSink> sinks = FEvents.Sinks;
        for (auto& sink : sinks)
            sink.Sink->AddRef();
        for (auto& sink : sinks) {
            VARIANT arguments[2];
            arguments[1].vt = VT_BSTR;
            arguments[1].bstrVal = SysAllocStringLen(command.data(), static_cast<UINT>(command.size()));
            arguments[0].vt = VT_BSTR;
            arguments[0].bstrVal = SysAllocStringLen(args.data(), static_cast<UINT>(args.size()));
            DISPPARAMS params{arguments, nullptr, 2, 0};
            sink.Sink->Invoke(FSCommandId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                              nullptr);
            VariantClear(&arguments[0]);
            VariantClear(&arguments[1]);
            sink.Sink->Release();
        }
        Release();
    }

    TDual FDual;

private:
    void DestroyPlayerWindow() {
        if (FWindow) {
            HWND window = FWindow;
            KillTimer(window, 1);
            DestroyWindow(window);
            FWindow = nullptr;
        }
        if (FInPlaceSite) {
            FInPlaceSite->OnInPlaceDeactivate();
            FInPlaceSite->Release();
            FInPlaceSite = nullptr;
        }
    }

    void CheckTrigger() {
        std::string path = Env("MUTONE_PLAYER_TRIGGER");
        if (path.empty() || GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        char buffer[4096];
        DWORD read = 0;
        ReadFile(file, buffer, sizeof buffer, &read, nullptr);
        CloseHandle(file);
        if (!DeleteFileA(path.c_str())) return; // someone else took it
        std::string text(buffer, read);
        size_t end = text.find('\n');
        std::string command = text.substr(0, end);
        std::string args = end == std::string::npos ? std::string() : text.substr(end + 1);
        for (std::string* part : {&command, &args})
            while (!part->empty() && (part->back() == '\r' || part->back() == '\n'))
                part->pop_back();
        Fire(Wide(command), Wide(args));
    }

    virtual ~TPlayer() = default;

    std::atomic<ULONG> FRefCount{1};
    std::string FName;
    IOleClientSite* FSite = nullptr;
    IOleInPlaceSite* FInPlaceSite = nullptr;
    HWND FWindow = nullptr;
    COLORREF FBackground = RGB(0x40, 0x40, 0x40);
    TEventsPoint FEvents;
    friend class TEventsPoint;
};

STDMETHODIMP TEventsPoint::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IConnectionPoint) {
        *object = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}
STDMETHODIMP_(ULONG) TEventsPoint::AddRef() {
    return FOwner->AddRef();
}
STDMETHODIMP_(ULONG) TEventsPoint::Release() {
    return FOwner->Release();
}
STDMETHODIMP TEventsPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    *container = FOwner;
    FOwner->AddRef();
    return S_OK;
}
STDMETHODIMP TEventsPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!sink || !cookie) return E_POINTER;
    IDispatch* dispatch = nullptr;
    // A sink of this interface is a dispatch interface; the real control asks for it by its own identifier.
    if (FAILED(sink->QueryInterface(EventsId, reinterpret_cast<void**>(&dispatch))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))))
        return CONNECT_E_CANNOTCONNECT;
    *cookie = NextCookie++;
    Sinks.push_back({*cookie, dispatch});
    FOwner->Record("Advise %lu", *cookie);
    return S_OK;
}
STDMETHODIMP TEventsPoint::Unadvise(DWORD cookie) {
    FOwner->Record("Unadvise %lu", cookie);
    for (auto it = Sinks.begin(); it != Sinks.end(); ++it) {
        if (it->Cookie == cookie) {
            IDispatch* sink = it->Sink;
            Sinks.erase(it);
            sink->Release();
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

LRESULT CALLBACK PlayerWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* player = static_cast<TPlayer*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(player));
    }
    auto* player = reinterpret_cast<TPlayer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!player) return DefWindowProcA(window, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        player->WindowGone();
        return DefWindowProcA(window, msg, wParam, lParam);
    }
    return player->WindowMessage(window, msg, wParam, lParam);
}

// The dual interface: IUnknown and IDispatch forward to the player; the four methods the program calls by slot
// are recorded; every other slot answers E_NOTIMPL.
HRESULT STDMETHODCALLTYPE DualQueryInterface(TDual* self, REFIID iid, void** object) {
    return self->Owner->QueryInterface(iid, object);
}
ULONG STDMETHODCALLTYPE DualAddRef(TDual* self) {
    return self->Owner->AddRef();
}
ULONG STDMETHODCALLTYPE DualRelease(TDual* self) {
    return self->Owner->Release();
}
HRESULT STDMETHODCALLTYPE DualGetTypeInfoCount(TDual* self, UINT* count) {
    return self->Owner->GetTypeInfoCount(count);
}
HRESULT STDMETHODCALLTYPE DualGetTypeInfo(TDual* self, UINT index, LCID locale, ITypeInfo** info) {
    return self->Owner->GetTypeInfo(index, locale, info);
}
HRESULT STDMETHODCALLTYPE DualGetIDsOfNames(TDual* self, REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) {
    return self->Owner->GetIDsOfNames(iid, names, count, locale, ids);
}
HRESULT STDMETHODCALLTYPE DualInvoke(TDual* self, DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* error, UINT* argumentError) {
    return self->Owner->Invoke(id, iid, locale, flags, params, result, error, argumentError);
}
HRESULT STDMETHODCALLTYPE DualPlay(TDual* self) {
    return self->Owner->CallSlot(28, "Play");
}
HRESULT STDMETHODCALLTYPE DualStop(TDual* self) {
    return self->Owner->CallSlot(29, "Stop");
}
HRESULT STDMETHODCALLTYPE DualStopPlay(TDual* self) {
    return self->Owner->CallSlot(33, "StopPlay");
}
HRESULT STDMETHODCALLTYPE DualDisableLocalSecurity(TDual* self) {
    return self->Owner->CallSlot(95, "DisableLocalSecurity");
}
// Only ever called with the interface alone: the program calls no other slot.
HRESULT STDMETHODCALLTYPE DualNotImplemented(TDual*) {
    return E_NOTIMPL;
}

const void* const* DualVtbl() {
    static const void* table[SlotCount];
    static bool filled = false;
    if (!filled) {
        for (auto& slot : table)
            slot = reinterpret_cast<const void*>(&DualNotImplemented);
        table[0] = reinterpret_cast<const void*>(&DualQueryInterface);
        table[1] = reinterpret_cast<const void*>(&DualAddRef);
        table[2] = reinterpret_cast<const void*>(&DualRelease);
        table[3] = reinterpret_cast<const void*>(&DualGetTypeInfoCount);
        table[4] = reinterpret_cast<const void*>(&DualGetTypeInfo);
        table[5] = reinterpret_cast<const void*>(&DualGetIDsOfNames);
        table[6] = reinterpret_cast<const void*>(&DualInvoke);
        table[28] = reinterpret_cast<const void*>(&DualPlay);
        table[29] = reinterpret_cast<const void*>(&DualStop);
        table[33] = reinterpret_cast<const void*>(&DualStopPlay);
        table[95] = reinterpret_cast<const void*>(&DualDisableLocalSecurity);
        filled = true;
    }
    return table;
}

class TFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is static: it lives as long as the module, which never unloads.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* player = new TPlayer();
        HRESULT result = player->QueryInterface(iid, object);
        player->Release();
        return result;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};
TFactory Factory;

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        Module = instance;
        DisableThreadLibraryCalls(instance);
        WNDCLASSA windowClass{};
        windowClass.style = CS_DBLCLKS;
        windowClass.lpfnWndProc = PlayerWndProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.lpszClassName = WindowClassName;
        RegisterClassA(&windowClass);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID classId, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (classId != ClassId) return CLASS_E_CLASSNOTAVAILABLE;
    return Factory.QueryInterface(iid, object);
}

// Windows created by this module may outlive any one object: the module stays loaded.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return S_FALSE;
}
