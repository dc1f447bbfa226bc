// Helpers of the end-to-end tests: starting the screensaver and ending whatever a test started, finding the
// windows of another process, waiting for conditions with a deadline, real input through SendInput, pixels of
// the screen, and owners for what a test plants in the system (files, registry values, the screensaver flag).
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace e2e {

// Every wait of the tests is bounded by this: long enough for a slow Wine start, short enough to fail fast.
inline constexpr DWORD StartDeadlineMs = 15000;
inline constexpr DWORD ExitDeadlineMs = 10000;
// How long a process that must stay up is watched after the input that must not end it has been handled.
inline constexpr DWORD StaysUpMs = 400;

std::string RectText(const RECT& rect);

// The screensaver under test, as built (a Windows path).
std::string ScreenSaverPath();
// A file built beside the test program.
std::string BuiltFile(const std::string& name);
std::string SystemDirectory();
RECT VirtualScreen();
std::vector<RECT> MonitorRects();

// Lets the windows of this thread (a preview host) answer while the test waits.
void PumpMessages();
// Polls condition every 10 ms, pumping messages, until it holds or the deadline passes; true if it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// The environment of this process with some variables set (an empty value removes one), as a block for
// CreateProcessA.
std::string EnvironmentBlock(const std::map<std::string, std::string>& changes);

// A process the test started or found. Its destructor ends it (TerminateProcess when it is still running), so
// that no test leaves a process behind for the next.
class TChildProcess {
public:
    TChildProcess() = default;
    // Starts commandLine; environment is a block from EnvironmentBlock or empty for this process's own.
    static TChildProcess Start(const std::string& commandLine, const std::string& environment = {},
                               const std::string& currentDirectory = {});
    // Opens a process by id (a copy that the started one started in turn).
    static TChildProcess Open(DWORD pid);
    TChildProcess(TChildProcess&& other) noexcept;
    TChildProcess& operator=(TChildProcess&& other) noexcept;
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;
    ~TChildProcess();

    explicit operator bool() const { return FProcess != nullptr; }
    DWORD Pid() const { return FPid; }
    HANDLE Handle() const { return FProcess; }
    bool Running() const;
    // Waits (pumping messages) for the process to end; true when it did within the deadline.
    bool WaitForExit(DWORD timeoutMs = ExitDeadlineMs) const;
    // The exit code, cut by Wine to its low 8 bits; STILL_ACTIVE while it runs.
    DWORD ExitCode() const;
    // True when the process is still running after a short watch (used after input that must not end it).
    bool StaysUp() const { return !WaitForExit(StaysUpMs); }
    void Terminate();

private:
    HANDLE FProcess = nullptr;
    DWORD FPid = 0;
};

// The command line the process was started with, read from its process parameters.
std::wstring ProcessCommandLine(HANDLE process);

// Top-level windows of a process with the given class (all classes for an empty name).
std::vector<HWND> ProcessWindows(DWORD pid, const std::string& className);
// The first such window that exists (and is visible, if asked) within the deadline; null otherwise.
HWND WaitForProcessWindow(DWORD pid, const std::string& className, bool visible, DWORD timeoutMs = StartDeadlineMs);
// Top-level windows of that class in any process but the given one.
std::vector<HWND> WindowsOfClassOutside(DWORD pid, const std::string& className);
DWORD WindowProcess(HWND window);
std::string ClassOf(HWND window);
std::wstring TextOfW(HWND window);
std::string TextOfA(HWND window);
RECT WindowRect(HWND window);
DWORD Style(HWND window);
DWORD ExStyle(HWND window);
// Sends a message across processes; false when the window does not answer in time.
bool SendWithTimeout(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result = nullptr);
// Returns once the window's thread has handled everything queued for it before the call (two round trips: a
// sent message is handled first, input queued before it is handled in the same pass).
bool Drain(HWND window);

// Real input.
void MoveMouseTo(int x, int y);
bool CursorAt(int x, int y);
// Moves the cursor and waits until the system has it there; false if it never arrives.
bool MoveCursorTo(POINT point);
// The top-left corner of the virtual desktop, which is the client point (0, 0) of a form that covers it: a form
// created under the cursor gets a WM_MOUSEMOVE at once, and at the form's own origin that is no change of position.
bool ParkCursor();
// Moves the X pointer from outside Wine, as a user's mouse does (xdotool, absolute root coordinates), and waits until
// the system has the cursor there; false if the tool could not be run or the cursor never arrived. Unlike SendInput
// from this process, which warps the pointer under a grab of its own, it gives the window under the pointer exactly one
// motion, in order with that window's other X events: a warp's release reaches the window as a move of its own, at
// whatever position was current then.
bool MovePointerFromOutside(POINT point);
void MouseButton(DWORD downFlag, DWORD upFlag);
void MouseWheel(int delta);
void PressKey(WORD virtualKey);

// The colour of a pixel of the screen (virtual-desktop coordinates), 0x00BBGGRR.
COLORREF ScreenPixel(int x, int y);
// What the harness paints on the root window, so that "covered by a black window" can be told apart.
inline constexpr COLORREF RootColour = RGB(0x33, 0x66, 0xcc);
inline constexpr COLORREF Black = RGB(0, 0, 0);
// A few points well inside each monitor.
std::vector<POINT> SamplePoints();

// The system-wide "screensaver running" flag, read (or cleared) by a probe process of its own: Wine keeps the
// flag per process once read, so this process would only ever see its own first reading. Both raise when the
// probe fails.
bool ScreenSaverRunningFlag();
void ClearScreenSaverRunningFlag();

// Clears the system-wide "screensaver running" flag when made and again when destroyed: the flag lives in the
// wineserver and outlasts the process that set it.
class TScreenSaverFlagReset {
public:
    TScreenSaverFlagReset() { ClearScreenSaverRunningFlag(); }
    ~TScreenSaverFlagReset() {
        try {
            ClearScreenSaverRunningFlag();
        } catch (...) {
        }
    }
    TScreenSaverFlagReset(const TScreenSaverFlagReset&) = delete;
    TScreenSaverFlagReset& operator=(const TScreenSaverFlagReset&) = delete;
};

// A folder of its own under the temporary directory, deleted with everything in it.
class TTempFolder {
public:
    TTempFolder();
    ~TTempFolder();
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;
    // The folder with a trailing backslash.
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

// Puts a copy of source at target, keeping whatever was there (file names are case-insensitive, so "MPR.DLL"
// replaces "mpr.dll") and putting it back when destroyed.
class TPlantedFile {
public:
    TPlantedFile(const std::string& source, const std::string& target);
    ~TPlantedFile();
    TPlantedFile(const TPlantedFile&) = delete;
    TPlantedFile& operator=(const TPlantedFile&) = delete;
    bool Planted() const { return FPlanted; }

private:
    std::string FTarget;
    std::string FBackup;
    std::string FRestoreAs;
    bool FPlanted = false;
};

// Sets a value under HKEY_CURRENT_USER and restores the previous state (absent or the old data) when destroyed;
// keys it had to create are deleted again.
class TUserRegistryValue {
public:
    TUserRegistryValue(const std::string& key, const std::string& value, DWORD data);
    TUserRegistryValue(const std::string& key, const std::string& value, const std::string& data);
    ~TUserRegistryValue();
    TUserRegistryValue(const TUserRegistryValue&) = delete;
    TUserRegistryValue& operator=(const TUserRegistryValue&) = delete;

private:
    void Set(DWORD type, const BYTE* data, DWORD size);
    std::string FKey, FValue;
    std::vector<BYTE> FOldData;
    DWORD FOldType = 0;
    bool FExisted = false;
    std::string FCreatedRoot;
};

// Every file and folder under the temporary directory but those under except (a path without a trailing
// backslash), to compare the directory before and after runs.
std::set<std::string> TempTree(const std::string& except);

// While it exists, every process that has MUTONE_E2E_SHOWN in its environment writes "shown <class>" to that file
// for each top-level window it shows (a global hook, loaded into the processes): unlike looking at the windows, it
// misses no window that is shown only briefly.
class TShowRecorder {
public:
    TShowRecorder();
    ~TShowRecorder();
    TShowRecorder(const TShowRecorder&) = delete;
    TShowRecorder& operator=(const TShowRecorder&) = delete;
    explicit operator bool() const { return FHook != nullptr; }

private:
    HMODULE FLibrary = nullptr;
    HHOOK FHook = nullptr;
};

// A borderless visible window like the preview pane of the Display Properties dialog, white so that what covers it
// can be seen. It belongs to this thread; the waits of the tests pump its messages.
class TPreviewHost {
public:
    TPreviewHost() {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        windowClass.lpszClassName = "E2EPreviewHost";
        RegisterClassA(&windowClass); // fails harmlessly when a previous test registered it
        FWindow = CreateWindowExA(0, "E2EPreviewHost", "preview", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 200, 150,
                                  152, 112, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        PumpMessages();
    }
    ~TPreviewHost() { Destroy(); }
    TPreviewHost(const TPreviewHost&) = delete;
    TPreviewHost& operator=(const TPreviewHost&) = delete;

    HWND Window() const { return FWindow; }
    std::string Argument() const { return std::to_string(reinterpret_cast<uintptr_t>(FWindow)); }
    RECT ScreenClientRect() const {
        RECT client{};
        GetClientRect(FWindow, &client);
        MapWindowPoints(FWindow, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
        return client;
    }
    void Destroy() {
        if (FWindow && IsWindow(FWindow)) DestroyWindow(FWindow);
        FWindow = nullptr;
    }

private:
    HWND FWindow = nullptr;
};

// The screensaver's form inside a preview host, or null; the wait gives it the start deadline to appear and show.
HWND FindChildForm(HWND host);
HWND WaitForChildForm(HWND host);

// While it exists the stand-in player is not registered, as on a machine without a Flash control; it is registered
// again afterwards.
class TNoPlayerInstalled {
public:
    TNoPlayerInstalled();
    ~TNoPlayerInstalled();
    TNoPlayerInstalled(const TNoPlayerInstalled&) = delete;
    TNoPlayerInstalled& operator=(const TNoPlayerInstalled&) = delete;
    explicit operator bool() const { return FRemoved; }

private:
    bool FRemoved = false;
};

// Lines of a record file written by the fake system libraries; empty when it does not exist.
std::vector<std::string> RecordLines(const std::string& path);
// The values the stand-in player's record shows put to one property ("bstr ...", "i4 3", "bool -1"), in order.
std::vector<std::string> PlayerPuts(const std::string& record, int dispId);
// An ANSI text (a path of this system) in UTF-8, as files that are UTF-8 whatever the code page hold it.
std::string AnsiToUtf8(const std::string& text);
// The file URL of an ANSI path as the shell makes it (UrlCreateFromPathW), in UTF-8 as the player's record has it.
std::string ShellFileUrl(const std::string& path);
// The ANSI path of a file URL as the shell reads it back (PathCreateFromUrlA); empty when it is none.
std::string ShellPathOfUrl(const std::string& url);
// The run-mode copy that a screensaver started with /s started in turn (its child), found by its main form;
// empty if none.
TChildProcess RunModeCopy(const TChildProcess& starter);

} // namespace e2e
