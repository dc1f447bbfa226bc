#include <windows.h>

#include "uInstanceGuard.h"

#include <utility>

#include "forms/Callbacks.h"

namespace {

// The module's two variables, made on first use so that start-up code of other modules may already call in.
std::string& InstanceName() {
    static std::string name;
    return name;
}
UniqueMutex& InstanceMutex() {
    static UniqueMutex mutex;
    return mutex;
}

BOOL CALLBACK CollectWorkArea(HMONITOR monitor, HDC, LPRECT, LPARAM data) noexcept {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (!GetMonitorInfoA(monitor, &info)) return TRUE;
    const RECT& work = info.rcWork;
    try {
        reinterpret_cast<std::vector<TRect>*>(data)->push_back({work.left, work.top, work.right, work.bottom});
    } catch (...) {
        return FALSE; // the areas found so far are all there is room for
    }
    return TRUE;
}

} // namespace

bool CreateUniqueMutex(UniqueMutex& mutex, const std::string& name) {
    mutex.reset();
    if (UniqueHandle existing(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str())); existing) return false;
    UniqueMutex created(CreateMutexA(nullptr, FALSE, name.c_str()));
    // Another instance may create the mutex between the look and the creation; the system then hands back
    // that one's mutex. Holding it would let both instances run.
    if (created && GetLastError() == ERROR_ALREADY_EXISTS) return false;
    mutex = std::move(created);
    return static_cast<bool>(mutex);
}

void CloseUniqueMutex(UniqueMutex& mutex) {
    mutex.reset();
}

bool CheckSingleInstance(const std::string& name) {
    InstanceName() = name;
    return CreateUniqueMutex(InstanceMutex(), name);
}

void ReleaseSingleInstance() {
    CloseUniqueMutex(InstanceMutex());
}

const std::string& InstanceMutexName() {
    return InstanceName();
}

bool HoldsInstanceMutex() {
    return static_cast<bool>(InstanceMutex());
}

void SetTopMost(HWND window, unsigned extraFlags) {
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, extraFlags | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
}

void SetControlTopMost(HWND control, unsigned extraFlags) {
    SetTopMost(control, extraFlags);
}

std::vector<TRect> MonitorWorkAreas() {
    std::vector<TRect> areas;
    EnumDisplayMonitors(nullptr, nullptr, SystemCallback(CollectWorkArea), reinterpret_cast<LPARAM>(&areas));
    return areas;
}

void FitToSmallestWorkArea(int32_t& width, int32_t& height, int32_t frameWidth, int32_t frameHeight) {
    FitToWorkAreas(width, height, frameWidth, frameHeight, MonitorWorkAreas());
}

void CenterInRect(HWND form, const TRect& rect) {
    RECT bounds;
    if (!GetWindowRect(form, &bounds)) return;
    TPoint origin = CenteredOrigin(bounds.right - bounds.left, bounds.bottom - bounds.top, rect);
    SetWindowPos(form, nullptr, origin.X, origin.Y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
