// The harness promises a monitor layout (MUTONE_MONITORS); the display tests depend on Windows seeing it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

struct TMonitor {
    RECT Rect;
    RECT Work;
    bool Primary;
    std::string Device;
};

BOOL CALLBACK AddMonitor(HMONITOR handle, HDC, LPRECT, LPARAM data) {
    MONITORINFOEXA info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoA(handle, &info))
        reinterpret_cast<std::vector<TMonitor>*>(data)->push_back(
            {info.rcMonitor, info.rcWork, (info.dwFlags & MONITORINFOF_PRIMARY) != 0, info.szDevice});
    return TRUE;
}

std::vector<TMonitor> EnumMonitors() {
    std::vector<TMonitor> monitors;
    EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&monitors));
    return monitors;
}

std::string Text(const RECT& r) {
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
           std::to_string(r.bottom);
}

// What the harness lays out: with three, a smaller primary at the origin, one monitor left of it and a larger
// one right of it, all top-aligned.
std::vector<std::string> ExpectedRects(int count) {
    if (count == 1) return {"0 0 1024 768"};
    return {"-1024 0 0 768", "0 0 800 600", "800 0 2080 1024"};
}

TEST(Monitors, WindowsSeesTheHarnessLayout) {
    const int count = HarnessMonitors();
    ASSERT_TRUE(count == 1 || count == 3) << "MUTONE_MONITORS must be set by scripts/wine-env.sh";
    EXPECT_EQ(GetSystemMetrics(SM_CMONITORS), count);

    const std::vector<TMonitor> monitors = EnumMonitors();
    std::vector<std::string> rects;
    for (const TMonitor& m : monitors)
        rects.push_back(Text(m.Rect));
    std::sort(rects.begin(), rects.end(),
              [](const std::string& a, const std::string& b) { return std::stoi(a) < std::stoi(b); });
    EXPECT_EQ(rects, ExpectedRects(count));

    ASSERT_EQ(std::count_if(monitors.begin(), monitors.end(), [](const TMonitor& m) { return m.Primary; }), 1);
    for (const TMonitor& m : monitors) {
        if (m.Primary) {
            EXPECT_EQ(Text(m.Rect).rfind("0 0 ", 0), 0u) << "primary not at the origin";
        }
        EXPECT_EQ(Text(m.Work), Text(m.Rect)) << "no work area is set on the root window";
    }
    if (count == 3) {
        EXPECT_TRUE(std::any_of(monitors.begin(), monitors.end(), [](const TMonitor& m) { return m.Rect.left < 0; }));
    }

    const RECT virtualScreen = {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                                GetSystemMetrics(SM_XVIRTUALSCREEN) + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                                GetSystemMetrics(SM_YVIRTUALSCREEN) + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    EXPECT_EQ(Text(virtualScreen), count == 1 ? "0 0 1024 768" : "-1024 0 2080 1024");
}

// Later tests read the layout through the probe, so its report must match what this process sees.
TEST(Monitors, ProbeReportsTheSameLayout) {
    std::ostringstream expected;
    expected << "monitors " << GetSystemMetrics(SM_CMONITORS) << "\n"
             << "virtual " << GetSystemMetrics(SM_XVIRTUALSCREEN) << " " << GetSystemMetrics(SM_YVIRTUALSCREEN) << " "
             << GetSystemMetrics(SM_CXVIRTUALSCREEN) << " " << GetSystemMetrics(SM_CYVIRTUALSCREEN) << "\n";
    for (const TMonitor& m : EnumMonitors())
        expected << "monitor " << Text(m.Rect) << " work " << Text(m.Work) << " primary " << (m.Primary ? 1 : 0) << " "
                 << m.Device << "\n";

    const TProcessResult result = RunAndCapture(Quoted(ExeDirectory() + "monitorprobe.exe"));
    EXPECT_EQ(result.ExitCode, 0u);
    EXPECT_EQ(result.Output, expected.str());
}

} // namespace
