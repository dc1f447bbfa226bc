// Test program: prints the monitors Windows reports, for tests that check the display layout they run on.
//
//   monitors <SM_CMONITORS>
//   virtual <x> <y> <width> <height>
//   monitor <left> <top> <right> <bottom> work <left> <top> <right> <bottom> primary <0|1> <device>
//
// One "monitor" line per monitor in EnumDisplayMonitors order.
#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

namespace {

BOOL CALLBACK PrintMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM) {
    MONITORINFOEXA info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoA(monitor, &info)) {
        std::printf("error GetMonitorInfoA failed (%lu)\n", GetLastError());
        return TRUE;
    }
    const RECT& r = info.rcMonitor;
    const RECT& w = info.rcWork;
    std::printf("monitor %ld %ld %ld %ld work %ld %ld %ld %ld primary %d %s\n", r.left, r.top, r.right, r.bottom,
                w.left, w.top, w.right, w.bottom, (info.dwFlags & MONITORINFOF_PRIMARY) ? 1 : 0, info.szDevice);
    return TRUE;
}

} // namespace

int main() {
    _setmode(_fileno(stdout), _O_BINARY);
    std::printf("monitors %d\n", GetSystemMetrics(SM_CMONITORS));
    std::printf("virtual %d %d %d %d\n", GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN));
    if (!EnumDisplayMonitors(nullptr, nullptr, PrintMonitor, 0)) {
        std::printf("error EnumDisplayMonitors failed (%lu)\n", GetLastError());
        return 1;
    }
    return 0;
}
