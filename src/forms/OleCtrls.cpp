#include "OleCtrls.h"

#include <atomic>
#include <cstdio>
#include <utility>

#include "Callbacks.h"
#include "Forms.h"

namespace {
const char* const OleControlProperty = "mutone.olecontrol";

std::string HResultText(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

void Check(HRESULT result, const char* what) {
    if (FAILED(result)) throw EOleError(std::string(what) + " failed with " + HResultText(result), result);
}

// Reference counting shared by the container's COM objects; they live as long as the control holds them.
class TRefCounted {
protected:
    ULONG DoAddRef() { return ++FRefCount; }
    ULONG DoRelease() {
        ULONG count = --FRefCount;
        if (count == 0) delete this;
        return count;
    }
    virtual ~TRefCounted() = default;

private:
    std::atomic<ULONG> FRefCount{1};
};
} // namespace

EOleError::EOleError(const std::string& message, HRESULT errorCode) : Exception(message), FErrorCode(errorCode) {}

// COM objects die by their own Release, never by a delete through an interface pointer: the interfaces have no
// virtual destructor by design.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// IDispatch without type information: the control calls the site's ambient properties and the event sink by
// dispatch identifier only.
class TDispatchByIdOnly : public IDispatch {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
};

// The container side the control talks to: client site, in-place site and frame, and ambient properties. Its
// back pointer is cleared when the control goes away, so late calls from the control find nothing to act on.
class TOleControlSite : public IOleClientSite,
                        public IOleInPlaceSite,
                        public IOleInPlaceFrame,
                        public IOleControlSite,
                        public TDispatchByIdOnly,
                        private TRefCounted {
public:
    explicit TOleControlSite(TOleControl* control) : FControl(control) {}
    void Detach() { FControl = nullptr; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) noexcept override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite)
            *object = static_cast<IOleClientSite*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite)
            *object = static_cast<IOleInPlaceSite*>(this);
        else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame)
            *object = static_cast<IOleInPlaceFrame*>(this);
        else if (iid == IID_IOleControlSite)
            *object = static_cast<IOleControlSite*>(this);
        else if (iid == IID_IDispatch)
            *object = static_cast<IDispatch*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return DoAddRef(); }
    STDMETHODIMP_(ULONG) Release() noexcept override { return DoRelease(); }

    // IOleClientSite
    STDMETHODIMP SaveObject() noexcept override { return S_OK; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) noexcept override {
        if (moniker) *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) noexcept override {
        if (container) *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() noexcept override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() noexcept override { return E_NOTIMPL; }

    // IOleWindow, shared by the in-place site and the frame: the window the control lives in.
    STDMETHODIMP GetWindow(HWND* window) noexcept override {
        if (!window) return E_POINTER;
        *window = Container();
        return *window ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() noexcept override { return FControl ? S_OK : S_FALSE; }
    STDMETHODIMP OnInPlaceActivate() noexcept override { return S_OK; }
    STDMETHODIMP OnUIActivate() noexcept override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO frameInfo) noexcept override {
        if (!frame || !document || !position || !clip) return E_POINTER;
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        *document = nullptr;
        if (FControl) {
            SetRect(position, FControl->FLeft, FControl->FTop, FControl->FLeft + FControl->FWidth,
                    FControl->FTop + FControl->FHeight);
        } else {
            SetRectEmpty(position);
        }
        *clip = *position;
        if (frameInfo) {
            frameInfo->fMDIApp = FALSE;
            frameInfo->hwndFrame = Container();
            frameInfo->haccel = nullptr;
            frameInfo->cAccelEntries = 0;
        }
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() noexcept override { return S_OK; }
    STDMETHODIMP DiscardUndoState() noexcept override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() noexcept override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) noexcept override { return S_OK; }

    // IOleInPlaceUIWindow and IOleInPlaceFrame: there are no menus or tool bars to share.
    STDMETHODIMP GetBorder(LPRECT) noexcept override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) noexcept override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) noexcept override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) noexcept override { return S_OK; }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) noexcept override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) noexcept override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) noexcept override { return S_FALSE; }

    // IOleControlSite
    STDMETHODIMP OnControlInfoChanged() noexcept override { return S_OK; }
    STDMETHODIMP LockInPlaceActive(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP GetExtendedControl(IDispatch** dispatch) noexcept override {
        if (dispatch) *dispatch = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(LPMSG, DWORD) noexcept override { return S_FALSE; }
    STDMETHODIMP OnFocus(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP ShowPropertyFrame() noexcept override { return E_NOTIMPL; }

    // IDispatch: the ambient properties. A control asks for a few; the ones that matter for a player that runs
    // unattended say "run, not design" and "no UI of our own".
    STDMETHODIMP Invoke(DISPID dispId, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                        UINT*) noexcept override {
        if (!(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
        VariantInit(result);
        switch (dispId) {
        case DISPID_AMBIENT_USERMODE:
        case DISPID_AMBIENT_SUPPORTSMNEMONICS:
            result->vt = VT_BOOL;
            result->boolVal = dispId == DISPID_AMBIENT_USERMODE ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        case DISPID_AMBIENT_UIDEAD:
        case DISPID_AMBIENT_SHOWGRABHANDLES:
        case DISPID_AMBIENT_SHOWHATCHING:
        case DISPID_AMBIENT_DISPLAYASDEFAULT:
            result->vt = VT_BOOL;
            result->boolVal = VARIANT_FALSE;
            return S_OK;
        case DISPID_AMBIENT_BACKCOLOR:
            result->vt = VT_I4;
            result->lVal = FControl ? static_cast<LONG>(ColorToRGB(FControl->Color())) : 0;
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    // The parent's window, which may have to be made first; null when it cannot be.
    HWND Container() noexcept {
        try {
            return FControl ? FControl->ContainerWindow() : nullptr;
        } catch (...) {
            return nullptr;
        }
    }

    TOleControl* FControl;
};

// The control's events arrive here and go on to the control's InvokeEvent.
class TOleEventSink : public TDispatchByIdOnly, private TRefCounted {
public:
    TOleEventSink(TOleControl* control, const IID& eventsId) : FControl(control), FEventsId(eventsId) {}
    void Detach() { FControl = nullptr; }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) noexcept override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == FEventsId) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return DoAddRef(); }
    STDMETHODIMP_(ULONG) Release() noexcept override { return DoRelease(); }
    STDMETHODIMP Invoke(DISPID dispId, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) noexcept override {
        if (result) VariantInit(result);
        if (!FControl) return S_OK;
        DISPPARAMS none{};
        try {
            FControl->InvokeEvent(dispId, params ? *params : none);
        } catch (...) {
            // An event handler's failure is the program's business, not the control's.
            if (Application) Application->HandleException(std::current_exception());
        }
        return S_OK;
    }

private:
    TOleControl* FControl;
    IID FEventsId;
};

#pragma GCC diagnostic pop

// The methods through which the control calls back into the program.
static_assert(noexcept(std::declval<TOleControlSite&>().GetWindow(nullptr)));
static_assert(noexcept(std::declval<TOleControlSite&>().GetWindowContext(nullptr, nullptr, nullptr, nullptr, nullptr)));
static_assert(noexcept(std::declval<TOleControlSite&>().Invoke(0, IID_NULL, 0, 0, nullptr, nullptr, nullptr, nullptr)));
static_assert(noexcept(std::declval<TOleEventSink&>().Invoke(0, IID_NULL, 0, 0, nullptr, nullptr, nullptr, nullptr)));

TOleControl::TOleControl(TComponent* owner, const CLSID& classId, const IID& eventsId)
    : TWinControl(owner), FEventsId(eventsId) {
    // Controls show themselves unless told otherwise.
    FVisible = true;
    Check(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, FOleObject.put_void()),
          "Creating the control");
    *FSite.put() = new TOleControlSite(this);
    try {
        Check(FOleObject->SetClientSite(static_cast<IOleClientSite*>(FSite.get())), "SetClientSite");
        ComPtr<IPersistStreamInit> persist;
        if (SUCCEEDED(FOleObject->QueryInterface(IID_IPersistStreamInit, persist.put_void()))) persist->InitNew();
        Check(FOleObject->QueryInterface(IID_IDispatch, FDispatch.put_void()), "Querying IDispatch");

        ComPtr<IConnectionPointContainer> container;
        if (SUCCEEDED(FOleObject->QueryInterface(IID_IConnectionPointContainer, container.put_void())) &&
            SUCCEEDED(container->FindConnectionPoint(FEventsId, FConnectionPoint.put()))) {
            *FEventSink.put() = new TOleEventSink(this, FEventsId);
            if (FAILED(FConnectionPoint->Advise(static_cast<IDispatch*>(FEventSink.get()), &FEventsCookie))) {
                FEventsCookie = 0;
                FConnectionPoint.reset();
            }
        }
    } catch (...) {
        // The destructor will not run: give the control back its freedom before the exception leaves.
        FSite->Detach();
        if (FEventSink) FEventSink->Detach();
        FConnectionPoint.reset();
        FOleObject->Close(OLECLOSE_NOSAVE);
        FOleObject->SetClientSite(nullptr);
        throw;
    }
}

TOleControl::~TOleControl() {
    // Each step on its own: a control that fails one still gets the others, and nothing leaves a destructor.
    Unsubclass();
    if (FConnectionPoint && FEventsCookie) FConnectionPoint->Unadvise(FEventsCookie);
    FConnectionPoint.reset();
    if (FEventSink) FEventSink->Detach();
    if (FInPlaceObject) FInPlaceObject->InPlaceDeactivate();
    FInPlaceObject.reset();
    if (FOleObject) {
        FOleObject->Close(OLECLOSE_NOSAVE);
        FOleObject->SetClientSite(nullptr);
    }
    if (FSite) FSite->Detach();
    FDispatch.reset();
    FOleObject.reset();
}

HWND TOleControl::ContainerWindow() {
    if (FParent) return FParent->Handle();
    return FParentWindow;
}

void TOleControl::CreateWnd() {
    HWND container = ContainerWindow();
    if (!container) throw EOleError("An OLE control needs a parent window", E_UNEXPECTED);
    RECT position{FLeft, FTop, FLeft + FWidth, FTop + FHeight};
    Check(FOleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(FSite.get()), 0, container,
                             &position),
          "In-place activation");
    Check(FOleObject->QueryInterface(IID_IOleInPlaceObject, FInPlaceObject.put_void()), "Querying IOleInPlaceObject");
    HWND window = nullptr;
    Check(FInPlaceObject->GetWindow(&window), "IOleInPlaceObject::GetWindow");
    if (!window) throw EOleError("The control has no window", E_FAIL);

    // The control's window becomes this control's window: its messages pass through WindowProc first.
    FHandle = window;
    SetPropA(window, OleControlProperty, this);
    FDefWndProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
        window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SystemCallback(&TOleControl::ControlWndProc))));
    if (!FVisible) ShowWindow(window, SW_HIDE);
    for (TWinControl* child : FControls)
        child->HandleNeeded();
}

void TOleControl::Unsubclass() noexcept {
    if (!FHandle) return;
    if (reinterpret_cast<WNDPROC>(GetWindowLongPtrA(FHandle, GWLP_WNDPROC)) == &TOleControl::ControlWndProc)
        SetWindowLongPtrA(FHandle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FDefWndProc));
    RemovePropA(FHandle, OleControlProperty);
    FDefWndProc = DefWindowProcA;
    // The window belongs to the control, which destroys it on deactivation.
    FHandle = nullptr;
}

LRESULT CALLBACK TOleControl::ControlWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
    auto* control = static_cast<TOleControl*>(GetPropA(window, OleControlProperty));
    if (!control) return DefWindowProcA(window, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        // The control destroyed its window: hand the last message on and forget the window.
        WNDPROC previous = control->FDefWndProc;
        control->Unsubclass();
        return CallWindowProcA(previous, window, msg, wParam, lParam);
    }
    TMessage message{msg, wParam, lParam, 0};
    try {
        control->WindowProc(message);
    } catch (...) {
        if (Application) Application->HandleException(std::current_exception());
    }
    return message.Result;
}

void TOleControl::WndProc(TMessage& message) {
    switch (message.Msg) {
    case WM_ERASEBKGND:
        // The control paints itself.
        DefaultHandler(message);
        return;
    case WM_WINDOWPOSCHANGED:
        TWinControl::WndProc(message);
        // Bounds set on the window (SetBounds, alignment) reach the in-place object, which owns its drawing area.
        UpdateObjectRects();
        return;
    default:
        TWinControl::WndProc(message);
    }
}

void TOleControl::UpdateObjectRects() {
    // SetObjectRects moves the control's window again, which comes back here.
    if (!FInPlaceObject || FUpdatingRects) return;
    FUpdatingRects = true;
    RECT rect{FLeft, FTop, FLeft + FWidth, FTop + FHeight};
    FInPlaceObject->SetObjectRects(&rect, &rect);
    FUpdatingRects = false;
}

void TOleControl::InvokeEvent(DISPID, DISPPARAMS&) {}

void TOleControl::SetProperty(DISPID dispId, VARIANT& value) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    EXCEPINFO error{};
    UINT argumentError = 0;
    HRESULT result = FDispatch->Invoke(dispId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                                       &error, &argumentError);
    // The texts the control may have described its refusal with are ours to free.
    UniqueBstr source(error.bstrSource), description(error.bstrDescription), helpFile(error.bstrHelpFile);
    Check(result, ("Setting property " + std::to_string(dispId)).c_str());
}

void TOleControl::SetIntegerProp(DISPID dispId, int32_t value) {
    TOleVariant variant;
    variant.vt = VT_I4;
    variant.lVal = value;
    SetProperty(dispId, variant);
}

void TOleControl::SetBooleanProp(DISPID dispId, bool value) {
    TOleVariant variant;
    variant.vt = VT_BOOL;
    variant.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    SetProperty(dispId, variant);
}

void TOleControl::SetWideStringProp(DISPID dispId, const std::wstring& value) {
    TOleVariant variant;
    variant.vt = VT_BSTR;
    variant.bstrVal = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    if (!variant.bstrVal) throw EOutOfMemory();
    SetProperty(dispId, variant);
}
