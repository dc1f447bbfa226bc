#include "E2EProbe.h"

#include <shellapi.h>
#include <shlwapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <utility>

#include "PlayerRegistration.h"
#include "forms/Controls.h"
#include "forms/Handles.h"

namespace e2e {

namespace {

[[noreturn]] void Fail(const std::string& call) {
    throw std::runtime_error(call + " failed with error " + std::to_string(GetLastError()));
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

struct TFindWindows {
    DWORD Pid;
    std::string ClassName;
    bool AnyProcessBut;
    std::vector<HWND> Found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM data) {
    auto* find = reinterpret_cast<TFindWindows*>(data);
    const bool samePid = WindowProcess(window) == find->Pid;
    if (samePid != find->AnyProcessBut && (find->ClassName.empty() || ClassOf(window) == find->ClassName))
        find->Found.push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectMonitor(HMONITOR, HDC, LPRECT rect, LPARAM data) {
    reinterpret_cast<std::vector<RECT>*>(data)->push_back(*rect);
    return TRUE;
}

INPUT MouseInput(DWORD flags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    return input;
}

void Send(INPUT* inputs, UINT count) {
    if (SendInput(count, inputs, sizeof(INPUT)) != count) Fail("SendInput");
}

} // namespace

std::string RectText(const RECT& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + ")";
}

std::string ScreenSaverPath() {
    std::string path = MUTONE_SCREENSAVER_PATH;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string BuiltFile(const std::string& name) {
    return ExeDirectory() + name;
}

std::string SystemDirectory() {
    char folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) Fail("GetSystemDirectoryA");
    return folder;
}

RECT VirtualScreen() {
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN), top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

std::vector<RECT> MonitorRects() {
    std::vector<RECT> monitors;
    EnumDisplayMonitors(nullptr, nullptr, CollectMonitor, reinterpret_cast<LPARAM>(&monitors));
    return monitors;
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        PumpMessages();
        if (condition()) return true;
        if (GetTickCount64() >= deadline) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

std::string EnvironmentBlock(const std::map<std::string, std::string>& changes) {
    std::vector<std::string> entries;
    if (char* strings = GetEnvironmentStringsA()) {
        for (const char* entry = strings; *entry; entry += std::strlen(entry) + 1)
            entries.emplace_back(entry);
        FreeEnvironmentStringsA(strings);
    }
    for (const auto& [name, value] : changes) {
        const std::string key = Upper(name) + "=";
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const std::string& e) { return Upper(e.substr(0, key.size())) == key; }),
                      entries.end());
        if (!value.empty()) entries.push_back(name + "=" + value);
    }
    std::string block;
    for (const std::string& entry : entries)
        block += entry + '\0';
    block += '\0';
    return block;
}

// --- TChildProcess ---

TChildProcess TChildProcess::Start(const std::string& commandLine, const std::string& environment,
                                   const std::string& currentDirectory) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string mutableLine = commandLine; // CreateProcessA may write into its command line
    std::string mutableEnvironment = environment;
    if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0,
                        environment.empty() ? nullptr : mutableEnvironment.data(),
                        currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup, &info))
        Fail("CreateProcessA(" + commandLine + ")");
    CloseHandle(info.hThread);
    TChildProcess child;
    child.FProcess = info.hProcess;
    child.FPid = info.dwProcessId;
    return child;
}

TChildProcess TChildProcess::Open(DWORD pid) {
    TChildProcess child;
    child.FProcess = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
    if (!child.FProcess) Fail("OpenProcess");
    child.FPid = pid;
    return child;
}

TChildProcess::TChildProcess(TChildProcess&& other) noexcept
    : FProcess(std::exchange(other.FProcess, nullptr)), FPid(std::exchange(other.FPid, 0)) {}

TChildProcess& TChildProcess::operator=(TChildProcess&& other) noexcept {
    if (this != &other) {
        Terminate();
        FProcess = std::exchange(other.FProcess, nullptr);
        FPid = std::exchange(other.FPid, 0);
    }
    return *this;
}

TChildProcess::~TChildProcess() {
    Terminate();
}

void TChildProcess::Terminate() {
    if (!FProcess) return;
    if (Running()) {
        TerminateProcess(FProcess, 99);
        WaitForSingleObject(FProcess, ExitDeadlineMs);
    }
    CloseHandle(FProcess);
    FProcess = nullptr;
}

bool TChildProcess::Running() const {
    return FProcess && WaitForSingleObject(FProcess, 0) == WAIT_TIMEOUT;
}

bool TChildProcess::WaitForExit(DWORD timeoutMs) const {
    if (!FProcess) return true;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        PumpMessages();
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        const DWORD result = MsgWaitForMultipleObjects(1, &FProcess, FALSE, left, QS_ALLINPUT);
        if (result == WAIT_OBJECT_0) return true;
        if (result == WAIT_TIMEOUT || result == WAIT_FAILED) return false;
    }
}

DWORD TChildProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (FProcess) GetExitCodeProcess(FProcess, &code);
    return code;
}

std::wstring ProcessCommandLine(HANDLE process) {
    using TQuery = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<TQuery>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic{};
    if (!query || query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0) return {};
    // Both processes are 32-bit, so the target's structures have this process's layout.
    PEB peb{};
    RTL_USER_PROCESS_PARAMETERS parameters{};
    if (!ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, nullptr) ||
        !ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters, nullptr))
        return {};
    std::wstring line(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
    if (!ReadProcessMemory(process, parameters.CommandLine.Buffer, line.data(), parameters.CommandLine.Length, nullptr))
        return {};
    return line;
}

// --- windows ---

std::vector<HWND> ProcessWindows(DWORD pid, const std::string& className) {
    TFindWindows find{pid, className, false, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&find));
    return find.Found;
}

HWND WaitForProcessWindow(DWORD pid, const std::string& className, bool visible, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : ProcessWindows(pid, className))
                if (!visible || IsWindowVisible(window)) {
                    found = window;
                    return true;
                }
            return false;
        },
        timeoutMs);
    return found;
}

std::vector<HWND> WindowsOfClassOutside(DWORD pid, const std::string& className) {
    TFindWindows find{pid, className, true, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&find));
    return find.Found;
}

DWORD WindowProcess(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

std::string ClassOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::wstring TextOfW(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

std::string TextOfA(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

RECT WindowRect(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

DWORD Style(HWND window) {
    return static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
}
DWORD ExStyle(HWND window) {
    return static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE));
}

bool SendWithTimeout(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    DWORD_PTR answer = 0;
    const bool answered = SendMessageTimeoutA(window, msg, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &answer) != 0;
    if (result) *result = static_cast<LRESULT>(answer);
    return answered;
}

bool Drain(HWND window) {
    return SendWithTimeout(window, WM_NULL, 0, 0) && SendWithTimeout(window, WM_NULL, 0, 0);
}

// --- input ---

void MoveMouseTo(int x, int y) {
    const RECT desk = VirtualScreen();
    const LONG width = desk.right - desk.left;
    const LONG height = desk.bottom - desk.top;
    INPUT input = MouseInput(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK);
    // The smallest normalised value that maps onto the pixel: the system scales by the desktop size and cuts.
    input.mi.dx = static_cast<LONG>((static_cast<LONGLONG>(x - desk.left) * 65536 + width - 1) / width);
    input.mi.dy = static_cast<LONG>((static_cast<LONGLONG>(y - desk.top) * 65536 + height - 1) / height);
    Send(&input, 1);
}

bool CursorAt(int x, int y) {
    POINT point{};
    return GetCursorPos(&point) && point.x == x && point.y == y;
}

bool MoveCursorTo(POINT point) {
    MoveMouseTo(point.x, point.y);
    return WaitUntil([&] { return CursorAt(point.x, point.y); }, 2000);
}

bool ParkCursor() {
    const RECT desk = VirtualScreen();
    return MoveCursorTo({desk.left, desk.top});
}

bool MovePointerFromOutside(POINT point) {
    // Wine runs a program that is not a Windows one as a Unix process, with this environment (DISPLAY), but gives no
    // handle to wait for: the move is seen when the system has the cursor there.
    const char* const tool = "Z:\\usr\\bin\\xdotool";
    if (GetFileAttributesA(tool) == INVALID_FILE_ATTRIBUTES) return false;
    const RECT desk = VirtualScreen();
    std::string command = std::string(tool) + " mousemove " + std::to_string(point.x - desk.left) + " " +
                          std::to_string(point.y - desk.top);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    if (info.hThread) CloseHandle(info.hThread);
    if (info.hProcess) CloseHandle(info.hProcess);
    return WaitUntil([&] { return CursorAt(point.x, point.y); }, 5000);
}

void MouseButton(DWORD downFlag, DWORD upFlag) {
    INPUT inputs[2] = {MouseInput(downFlag), MouseInput(upFlag)};
    Send(inputs, 2);
}

void MouseWheel(int delta) {
    INPUT input = MouseInput(MOUSEEVENTF_WHEEL);
    input.mi.mouseData = static_cast<DWORD>(delta);
    Send(&input, 1);
}

void PressKey(WORD virtualKey) {
    INPUT inputs[2]{};
    for (INPUT& input : inputs) {
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = virtualKey;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC));
    }
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    Send(inputs, 2);
}

// --- screen ---

COLORREF ScreenPixel(int x, int y) {
    HDC screen = GetDC(nullptr);
    const COLORREF colour = GetPixel(screen, x, y);
    ReleaseDC(nullptr, screen);
    return colour;
}

std::vector<POINT> SamplePoints() {
    std::vector<POINT> points;
    for (const RECT& m : MonitorRects()) {
        const LONG w = m.right - m.left, h = m.bottom - m.top;
        points.push_back({m.left + w / 2, m.top + h / 2});
        points.push_back({m.left + w / 5, m.top + h - h / 6});
        points.push_back({m.right - w / 5 - 1, m.top + h / 6});
    }
    return points;
}

namespace {
DWORD RunSpiProbe(const std::string& arguments) {
    TChildProcess probe = TChildProcess::Start("\"" + BuiltFile("e2e_spi_probe.exe") + "\"" + arguments);
    if (!probe.WaitForExit()) throw std::runtime_error("e2e_spi_probe did not end");
    return probe.ExitCode();
}
} // namespace

bool ScreenSaverRunningFlag() {
    const DWORD answer = RunSpiProbe("");
    if (answer > 1) throw std::runtime_error("e2e_spi_probe could not read the flag");
    return answer == 1;
}

void ClearScreenSaverRunningFlag() {
    if (RunSpiProbe(" clear") != 0) throw std::runtime_error("e2e_spi_probe could not clear the flag");
}

// --- planted things ---

TTempFolder::TTempFolder() {
    char base[MAX_PATH] = {};
    if (!GetTempPathA(MAX_PATH, base)) Fail("GetTempPathA");
    for (unsigned attempt = 0;; ++attempt) {
        std::string candidate = std::string(base) + "mutone-e2e-" + std::to_string(GetCurrentProcessId()) + "-" +
                                std::to_string(GetTickCount64()) + "-" + std::to_string(attempt);
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            FPath = candidate + "\\";
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS || attempt > 100) Fail("CreateDirectoryA");
    }
}

TTempFolder::~TTempFolder() {
    std::string from = FPath.substr(0, FPath.size() - 1);
    from += '\0'; // the shell wants a double-terminated list
    SHFILEOPSTRUCTA operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    SHFileOperationA(&operation);
}

TPlantedFile::TPlantedFile(const std::string& source, const std::string& target) : FTarget(target) {
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA(target.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        // What was there goes back under its own spelling ("mpr.dll", not "MPR.DLL").
        FRestoreAs = target.substr(0, target.find_last_of('\\') + 1) + found.cFileName;
        FBackup = target + ".e2e-backup";
        if (!CopyFileA(target.c_str(), FBackup.c_str(), FALSE)) Fail("CopyFileA(backup of " + target + ")");
        DeleteFileA(target.c_str());
    }
    if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) Fail("CopyFileA(" + source + " -> " + target + ")");
    FPlanted = true;
}

TPlantedFile::~TPlantedFile() {
    if (!FPlanted) return;
    DeleteFileA(FTarget.c_str());
    if (!FBackup.empty()) MoveFileExA(FBackup.c_str(), FRestoreAs.c_str(), MOVEFILE_REPLACE_EXISTING);
}

TUserRegistryValue::TUserRegistryValue(const std::string& key, const std::string& value, DWORD data)
    : FKey(key), FValue(value) {
    Set(REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
}

TUserRegistryValue::TUserRegistryValue(const std::string& key, const std::string& value, const std::string& data)
    : FKey(key), FValue(value) {
    Set(REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), static_cast<DWORD>(data.size() + 1));
}

void TUserRegistryValue::Set(DWORD type, const BYTE* data, DWORD size) {
    // The outermost key that does not exist yet: everything from there down is this object's to delete.
    for (size_t end = 0; end != std::string::npos;) {
        end = FKey.find('\\', end + 1);
        const std::string prefix = FKey.substr(0, end);
        HKEY existing = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, prefix.c_str(), 0, KEY_READ, &existing) != ERROR_SUCCESS) {
            FCreatedRoot = prefix;
            break;
        }
        RegCloseKey(existing);
    }
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, FKey.c_str(), 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS)
        Fail("RegCreateKeyExA(" + FKey + ")");
    DWORD oldSize = 0;
    if (RegQueryValueExA(handle, FValue.c_str(), nullptr, &FOldType, nullptr, &oldSize) == ERROR_SUCCESS) {
        FOldData.resize(oldSize);
        FExisted =
            RegQueryValueExA(handle, FValue.c_str(), nullptr, &FOldType, FOldData.data(), &oldSize) == ERROR_SUCCESS;
    }
    const LONG status = RegSetValueExA(handle, FValue.c_str(), 0, type, data, size);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS) Fail("RegSetValueExA(" + FValue + ")");
}

TUserRegistryValue::~TUserRegistryValue() {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, FKey.c_str(), 0, KEY_SET_VALUE, &handle) != ERROR_SUCCESS) return;
    if (FExisted)
        RegSetValueExA(handle, FValue.c_str(), 0, FOldType, FOldData.data(), static_cast<DWORD>(FOldData.size()));
    else
        RegDeleteValueA(handle, FValue.c_str());
    RegCloseKey(handle);
    if (!FCreatedRoot.empty()) {
        // Wine's RegDeleteTreeA empties the key but leaves the key itself.
        RegDeleteTreeA(HKEY_CURRENT_USER, FCreatedRoot.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, FCreatedRoot.c_str());
    }
}

TShowRecorder::TShowRecorder() : FLibrary(LoadLibraryA(BuiltFile("e2e_show_recorder.dll").c_str())) {
    const auto proc =
        FLibrary ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(FLibrary, "ShowRecorderHook")))
                 : nullptr;
    if (proc) FHook = SetWindowsHookExA(WH_CALLWNDPROC, proc, FLibrary, 0);
}

TShowRecorder::~TShowRecorder() {
    if (FHook) UnhookWindowsHookEx(FHook);
    if (FLibrary) FreeLibrary(FLibrary);
}

std::vector<std::string> RecordLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

namespace {

// ANSI names throughout, as the screensaver makes them: std::filesystem would convert them in the C runtime's
// locale, not the system's code page, and lose every double-byte name.
void AddTree(const std::string& folder, const std::string& except, std::set<std::string>& entries) {
    WIN32_FIND_DATAA found;
    UniqueFindHandle search(FindFirstFileA((folder + "*").c_str(), &found));
    if (!search) return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = folder + name;
        // Test programs running beside this one (they share the temporary directory) keep their files in
        // folders of their own; only what the screensaver may have written counts.
        if (path.rfind(except, 0) == 0 || name.rfind("mutone-test-", 0) == 0) continue;
        entries.insert(path);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) AddTree(path + "\\", except, entries);
    } while (FindNextFileA(search.get(), &found));
}

} // namespace

std::set<std::string> TempTree(const std::string& except) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::set<std::string> entries;
    AddTree(temp, except, entries);
    return entries;
}

std::vector<std::string> PlayerPuts(const std::string& record, int dispId) {
    std::vector<std::string> values;
    const std::string marker = " put " + std::to_string(dispId) + " ";
    for (const std::string& line : RecordLines(record)) {
        const size_t at = line.find(marker);
        if (at != std::string::npos) values.push_back(line.substr(at + marker.size()));
    }
    return values;
}

TNoPlayerInstalled::TNoPlayerInstalled() : FRemoved(UnregisterStandInPlayer()) {}

TNoPlayerInstalled::~TNoPlayerInstalled() {
    RegisterStandInPlayer(MUTONE_PLAYER_PATH);
}

TChildProcess RunModeCopy(const TChildProcess& starter) {
    // Only a child of the starter: the copy of an earlier test may still be ending, its form not yet gone.
    std::map<DWORD, DWORD> parents;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        parents[entry.th32ProcessID] = entry.th32ParentProcessID;
    CloseHandle(snapshot);
    for (HWND window : WindowsOfClassOutside(starter.Pid(), "TfrmMain"))
        if (parents[WindowProcess(window)] == starter.Pid()) return TChildProcess::Open(WindowProcess(window));
    return {};
}

namespace {

BOOL CALLBACK TakeForm(HWND child, LPARAM data) {
    if (ClassOf(child) != "TfrmMain") return TRUE;
    *reinterpret_cast<HWND*>(data) = child;
    return FALSE;
}

} // namespace

HWND FindChildForm(HWND host) {
    HWND form = nullptr;
    EnumChildWindows(host, TakeForm, reinterpret_cast<LPARAM>(&form));
    return form;
}

HWND WaitForChildForm(HWND host) {
    HWND form = nullptr;
    WaitUntil([&] { return (form = FindChildForm(host)) != nullptr && IsWindowVisible(form); }, StartDeadlineMs);
    return form;
}

namespace {

std::wstring Utf8ToWide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string WideToUtf8(const std::wstring& text) {
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), length, nullptr, nullptr);
    return utf8;
}

} // namespace

std::string AnsiToUtf8(const std::string& text) {
    return WideToUtf8(AnsiToWide(text));
}

std::string ShellPathOfUrl(const std::string& url) {
    // The URL is UTF-8, as the player's record has it; the path comes back in the ANSI code page.
    wchar_t path[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    if (PathCreateFromUrlW(Utf8ToWide(url).c_str(), path, &size, 0) != S_OK) return {};
    return WideToAnsi(path);
}

std::string ShellFileUrl(const std::string& path) {
    wchar_t url[MAX_PATH * 4] = {};
    DWORD size = MAX_PATH * 4;
    if (UrlCreateFromPathW(AnsiToWide(path).c_str(), url, &size, 0) != S_OK) return {};
    return WideToUtf8(url);
}

} // namespace e2e
