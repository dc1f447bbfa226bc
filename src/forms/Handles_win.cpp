#include <windows.h>

#include "Handles.h"

void THandleTraits::Close(Type handle) noexcept {
    CloseHandle(handle);
}

void TFileHandleTraits::Close(Type handle) noexcept {
    CloseHandle(handle);
}

void TFindHandleTraits::Close(Type search) noexcept {
    FindClose(search);
}

void TMutexTraits::Close(Type handle) noexcept {
    ReleaseMutex(handle);
    CloseHandle(handle);
}

void THKeyTraits::Close(Type key) noexcept {
    RegCloseKey(key);
}

void THModuleTraits::Close(Type module) noexcept {
    FreeLibrary(module);
}

void THHookTraits::Close(Type hook) noexcept {
    UnhookWindowsHookEx(hook);
}

void THWndTraits::Close(Type window) noexcept {
    DestroyWindow(window);
}

void THDCTraits::Close(Type dc) noexcept {
    DeleteDC(dc);
}

void DeleteGdiObject(void* object) noexcept {
    DeleteObject(static_cast<HGDIOBJ>(object));
}

TWindowDC::TWindowDC(HWND window) noexcept : FWindow(window), FDC(GetDC(window)) {}

TWindowDC::~TWindowDC() {
    if (FDC) ReleaseDC(FWindow, FDC);
}

TSelectObject::TSelectObject(HDC dc, void* object) noexcept : FDC(dc), FOld(SelectObject(dc, object)) {}

TSelectObject::~TSelectObject() {
    // HGDI_ERROR, spelled without the macro's sign conversion.
    const HGDIOBJ gdiError = reinterpret_cast<HGDIOBJ>(static_cast<intptr_t>(-1));
    if (FOld && FOld != gdiError) SelectObject(FDC, FOld);
}
