// Hosting an ActiveX control in a window of the program: a small OLE container that creates the control by
// class identifier, activates it in place in the parent's window, routes the control's own window messages through
// WindowProc and forwards the control's events to a virtual.
#pragma once

#include <windows.h>

#include <ole2.h>
#include <olectl.h>

#include <string>

#include "ComObj.h"
#include "Controls.h"
#include "SysUtils.h"

// A failed call into a hosted control; ErrorCode is the HRESULT it returned.
class EOleError : public Exception {
public:
    EOleError(const std::string& message, HRESULT errorCode);
    HRESULT ErrorCode() const { return FErrorCode; }

private:
    HRESULT FErrorCode;
};

class TOleControlSite;
class TOleEventSink;

class TOleControl : public TWinControl {
public:
    // Creates the control (in-process) and gives it its client site; raises EOleError when the class cannot be
    // created. The control is activated in place when this control's window is first needed, which needs a parent.
    TOleControl(TComponent* owner, const CLSID& classId, const IID& eventsId);
    ~TOleControl() override;
    std::string ClassName() const override { return "TOleControl"; }

    // The control's IOleObject; valid for the whole life of this object.
    IOleObject* OleObject() const { return FOleObject.get(); }
    // Null until in-place activation.
    IOleInPlaceObject* InPlaceObject() const { return FInPlaceObject.get(); }

    // Property puts through the control's IDispatch. Each raises EOleError when the control refuses the value.
    void SetProperty(DISPID dispId, VARIANT& value);
    void SetIntegerProp(DISPID dispId, int32_t value);
    void SetBooleanProp(DISPID dispId, bool value);
    void SetWideStringProp(DISPID dispId, const std::wstring& value);

    // Tells the in-place object this control's current bounds (in its parent's client coordinates).
    void UpdateObjectRects();

protected:
    void CreateWnd() override;
    void WndProc(TMessage& message) override;
    // An event of the control, arguments in DISPPARAMS order (last argument first). Exceptions are swallowed by
    // the caller.
    virtual void InvokeEvent(DISPID dispId, DISPPARAMS& params);

private:
    friend class TOleControlSite;
    friend class TOleEventSink;
    static LRESULT CALLBACK ControlWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
    HWND ContainerWindow();
    void Unsubclass() noexcept;

    IID FEventsId;
    ComPtr<IOleObject> FOleObject;
    ComPtr<IDispatch> FDispatch;
    ComPtr<IOleInPlaceObject> FInPlaceObject;
    ComPtr<TOleControlSite> FSite;
    ComPtr<TOleEventSink> FEventSink;
    ComPtr<IConnectionPoint> FConnectionPoint;
    DWORD FEventsCookie = 0;
    bool FUpdatingRects = false;
};
