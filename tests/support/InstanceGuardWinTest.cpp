#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "forms/Forms.h"
#include "support/uInstanceGuard.h"

namespace {

std::string UniqueName(const char* role) {
    return std::string("MutoneSupportTest-") + role + "-" + std::to_string(GetCurrentProcessId());
}

bool MutexExists(const std::string& name) {
    return static_cast<bool>(UniqueHandle(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str())));
}

TEST(SupportMutex, SecondCreationInTheSameProcessFails) {
    std::string name = UniqueName("same");
    UniqueMutex first, second;
    EXPECT_TRUE(CreateUniqueMutex(first, name));
    EXPECT_TRUE(first);
    EXPECT_FALSE(CreateUniqueMutex(second, name));
    EXPECT_FALSE(second);
    CloseUniqueMutex(first);
    EXPECT_FALSE(first);
    // Had the failed call kept a handle, the mutex would still exist now.
    EXPECT_FALSE(MutexExists(name));
    EXPECT_TRUE(CreateUniqueMutex(second, name));
}

TEST(SupportMutex, FailedCreationEmptiesAHeldHandle) {
    std::string name = UniqueName("refill");
    UniqueMutex holder, other;
    ASSERT_TRUE(CreateUniqueMutex(holder, name));
    ASSERT_TRUE(CreateUniqueMutex(other, name + "-other"));
    EXPECT_FALSE(CreateUniqueMutex(other, name));
    EXPECT_FALSE(other);
    EXPECT_FALSE(MutexExists(name + "-other")) << "the handle it held was closed, not leaked";
}

TEST(SupportMutex, CloseOfAnEmptyHandleDoesNothing) {
    UniqueMutex none;
    CloseUniqueMutex(none);
    EXPECT_FALSE(none);
}

TEST(SupportMutex, NamesThatCannotBeMutexes) {
    UniqueMutex mutex;
    // Only the Global\ and Local\ namespaces may precede a backslash.
    EXPECT_FALSE(CreateUniqueMutex(mutex, "No\\Such\\Namespace"));
    EXPECT_FALSE(mutex);
    // An event of that name already exists: the name is taken.
    std::string name = UniqueName("event");
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
    ASSERT_TRUE(event);
    EXPECT_FALSE(CreateUniqueMutex(mutex, name));
    EXPECT_FALSE(mutex);
}

// The mutex is held by another process, which waits until the test lets it go.
class TMutexHolderProcess {
public:
    explicit TMutexHolderProcess(const std::string& mutexName)
        : FReady(CreateEventA(nullptr, TRUE, FALSE, (mutexName + "-ready").c_str())),
          FRelease(CreateEventA(nullptr, TRUE, FALSE, (mutexName + "-release").c_str())) {
        char self[MAX_PATH];
        std::string path(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
        path = path.substr(0, path.rfind('\\') + 1) + "support_mutex_holder.exe";
        std::string commandLine =
            "\"" + path + "\" " + mutexName + " " + mutexName + "-ready " + mutexName + "-release";
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        if (CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &info)) {
            FProcess.reset(info.hProcess);
            UniqueHandle thread(info.hThread);
        }
    }
    ~TMutexHolderProcess() { Finish(); }

    // True once the other process holds the mutex; false when it ended or never started.
    bool WaitUntilHeld() {
        if (!FProcess) return false;
        HANDLE handles[2] = {FReady.get(), FProcess.get()};
        return WaitForMultipleObjects(2, handles, FALSE, 60000) == WAIT_OBJECT_0;
    }
    // Lets it go and waits for the process to end; its exit code (0 when all went well).
    DWORD Finish() {
        if (!FProcess) return FExitCode;
        SetEvent(FRelease.get());
        WaitForSingleObject(FProcess.get(), 60000);
        GetExitCodeProcess(FProcess.get(), &FExitCode);
        FProcess.reset();
        return FExitCode;
    }

private:
    UniqueHandle FReady, FRelease, FProcess;
    DWORD FExitCode = 255;
};

TEST(SupportMutex, MutexHeldByAnotherProcess) {
    std::string name = UniqueName("other");
    TMutexHolderProcess holder(name);
    ASSERT_TRUE(holder.WaitUntilHeld());

    UniqueMutex mutex;
    EXPECT_FALSE(CreateUniqueMutex(mutex, name));
    EXPECT_FALSE(mutex);
    EXPECT_FALSE(CheckSingleInstance(name));
    EXPECT_EQ(InstanceMutexName(), name);
    EXPECT_FALSE(HoldsInstanceMutex());

    EXPECT_EQ(holder.Finish(), 0u);
    EXPECT_TRUE(CreateUniqueMutex(mutex, name)) << "the name is free once the other process is gone";
}

TEST(SupportMutex, SingleInstanceGuard) {
    std::string name = UniqueName("instance");
    ASSERT_TRUE(CheckSingleInstance(name));
    EXPECT_EQ(InstanceMutexName(), name);
    EXPECT_TRUE(HoldsInstanceMutex());
    EXPECT_TRUE(MutexExists(name));
    UniqueMutex second;
    EXPECT_FALSE(CreateUniqueMutex(second, name));
    ReleaseSingleInstance();
    EXPECT_FALSE(HoldsInstanceMutex());
    EXPECT_FALSE(MutexExists(name));
    ReleaseSingleInstance();
    EXPECT_FALSE(HoldsInstanceMutex());
}

struct TWindow {
    HWND Handle = nullptr;
    TWindow(int x, int y, int width, int height, DWORD exStyle = 0) {
        Handle = CreateWindowExA(exStyle | WS_EX_TOOLWINDOW, "STATIC", "support test", WS_POPUP, x, y, width, height,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    ~TWindow() {
        if (Handle) DestroyWindow(Handle);
    }
    RECT Rect() const {
        RECT rect{};
        GetWindowRect(Handle, &rect);
        return rect;
    }
};

bool IsTopMost(HWND window) {
    return GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST;
}

TEST(SupportPlacementWin, SetTopMostKeepsPlaceAndActivation) {
    TWindow window(40, 50, 200, 100);
    ASSERT_TRUE(window.Handle);
    EXPECT_FALSE(IsTopMost(window.Handle));
    SetTopMost(window.Handle, SWP_SHOWWINDOW);
    EXPECT_TRUE(IsTopMost(window.Handle));
    EXPECT_TRUE(IsWindowVisible(window.Handle)) << "extra flags are passed on";
    RECT rect = window.Rect();
    EXPECT_EQ(rect.left, 40);
    EXPECT_EQ(rect.top, 50);
    EXPECT_EQ(rect.right - rect.left, 200);
    EXPECT_EQ(rect.bottom - rect.top, 100);
    EXPECT_NE(GetActiveWindow(), window.Handle);
}

// Anything with a Handle() is a windowed control here, as the forms layer's controls are.
struct THandleOnly {
    HWND FWindow;
    HWND Handle() { return FWindow; }
};
static_assert(requires(TForm & form) { SetControlTopMost(form, 0u); });
static_assert(requires(TForm & form, TRect rect) { CenterInRect(form, rect); });

TEST(SupportPlacementWin, SetControlTopMost) {
    TWindow window(0, 0, 10, 10);
    THandleOnly control{window.Handle};
    SetControlTopMost(control, 0);
    EXPECT_TRUE(IsTopMost(window.Handle));
    EXPECT_FALSE(IsWindowVisible(window.Handle));
}

BOOL CALLBACK AddWorkArea(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    GetMonitorInfoA(monitor, &info);
    reinterpret_cast<std::vector<TRect>*>(data)->push_back(
        {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom});
    return TRUE;
}

std::vector<TRect> EnumeratedWorkAreas() {
    std::vector<TRect> areas;
    EnumDisplayMonitors(nullptr, nullptr, AddWorkArea, reinterpret_cast<LPARAM>(&areas));
    return areas;
}

TEST(SupportPlacementWin, FitToSmallestWorkAreaOfThisDesktop) {
    std::vector<TRect> areas = EnumeratedWorkAreas();
    ASSERT_FALSE(areas.empty());
    EXPECT_EQ(static_cast<int>(areas.size()), GetSystemMetrics(SM_CMONITORS));
    int32_t minWidth = INT32_MAX, minHeight = INT32_MAX;
    for (const TRect& area : areas) {
        minWidth = std::min(minWidth, area.Width());
        minHeight = std::min(minHeight, area.Height());
    }
    int32_t width = 5000, height = 5000;
    FitToSmallestWorkArea(width, height, 16, 39);
    EXPECT_EQ(width, minWidth - 16);
    EXPECT_EQ(height, minHeight - 39);
    width = 100, height = 80;
    FitToSmallestWorkArea(width, height, 16, 39);
    EXPECT_EQ(width, 100);
    EXPECT_EQ(height, 80);
}

TEST(SupportPlacementWin, ThreeMonitorDesktop) {
    if (HarnessMonitors() != 3) GTEST_SKIP() << "needs the three-monitor desktop (MUTONE_MONITORS=3)";
    std::vector<TRect> areas = MonitorWorkAreas();
    ASSERT_EQ(areas.size(), 3u);
    std::sort(areas.begin(), areas.end(), [](const TRect& a, const TRect& b) { return a.Left < b.Left; });
    EXPECT_EQ(areas[0], (TRect{-1024, 0, 0, 768}));
    EXPECT_EQ(areas[1], (TRect{0, 0, 800, 600}));
    EXPECT_EQ(areas[2], (TRect{800, 0, 2080, 1024}));
    int32_t width = 1280, height = 1024;
    FitToSmallestWorkArea(width, height, 16, 39);
    EXPECT_EQ(width, 784);
    EXPECT_EQ(height, 561);
}

// A 301 x 201 window centred on each monitor of the harness's layouts, worked out by hand (halves cut toward 0).
TEST(SupportPlacementWin, CenterInRectOnEveryMonitor) {
    struct TRow {
        TRect Area;
        POINT Origin;
    };
    const std::vector<TRow> rows = HarnessMonitors() == 3 ? std::vector<TRow>{{{-1024, 0, 0, 768}, {-663, 283}},
                                                                              {{0, 0, 800, 600}, {249, 199}},
                                                                              {{800, 0, 2080, 1024}, {1289, 411}}}
                                                          : std::vector<TRow>{{{0, 0, 1024, 768}, {361, 283}}};
    std::vector<TRect> areas = EnumeratedWorkAreas();
    ASSERT_EQ(areas.size(), rows.size());
    std::sort(areas.begin(), areas.end(), [](const TRect& a, const TRect& b) { return a.Left < b.Left; });
    for (size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(areas[i], rows[i].Area);
        TWindow window(5, 5, 301, 201);
        ASSERT_TRUE(window.Handle);
        CenterInRect(window.Handle, areas[i]);
        const RECT rect = window.Rect();
        EXPECT_EQ(rect.left, rows[i].Origin.x) << i;
        EXPECT_EQ(rect.top, rows[i].Origin.y) << i;
        EXPECT_EQ(rect.right - rect.left, 301);
        EXPECT_EQ(rect.bottom - rect.top, 201);
    }
}

TEST(SupportPlacementWin, CenterInRectWithAFormLargerThanTheRect) {
    TWindow window(0, 0, 1101, 801);
    CenterInRect(window.Handle, TRect{-1024, 0, 0, 768});
    RECT rect = window.Rect();
    EXPECT_EQ(rect.left, -1024 - 38); // half of -77, truncated toward zero
    EXPECT_EQ(rect.top, -16);         // half of -33
}

} // namespace
