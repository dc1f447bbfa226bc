/* The floor of the start-up benchmark: the least a screensaver started with /s can do before it shows anything.
 * Started with /s it starts itself again with /E and waits for that copy, as Windows' screensavers do; the /E copy
 * covers the virtual desktop with a topmost black window and then appends "<pid> ready" to the file named by
 * MUTONE_PLAYER_RECORD, where the benchmark looks for the screensaver's movie in the same way. It runs until its
 * window is closed. Only KERNEL32 and USER32 are asked for anything. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

static LRESULT CALLBACK FloorProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(window, msg, wParam, lParam);
}

static void Record(const char* text) {
    char path[MAX_PATH * 2];
    DWORD length = GetEnvironmentVariableA("MUTONE_PLAYER_RECORD", path, sizeof path);
    if (!length || length >= sizeof path) return;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text, (DWORD)strlen(text), &written, NULL);
    CloseHandle(file);
}

static int Relaunch(void) {
    char path[MAX_PATH];
    char commandLine[MAX_PATH + 8];
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    GetModuleFileNameA(NULL, path, MAX_PATH);
    snprintf(commandLine, sizeof commandLine, "\"%s\" /E", path);
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) return 1;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

static int Cover(HINSTANCE instance) {
    WNDCLASSA windowClass;
    HWND window;
    MSG msg;
    char line[64];
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = FloorProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    windowClass.lpszClassName = "MutoneStartupFloor";
    RegisterClassA(&windowClass);
    window =
        CreateWindowExA(WS_EX_TOPMOST, "MutoneStartupFloor", "floor", WS_POPUP, GetSystemMetrics(SM_XVIRTUALSCREEN),
                        GetSystemMetrics(SM_YVIRTUALSCREEN), GetSystemMetrics(SM_CXVIRTUALSCREEN),
                        GetSystemMetrics(SM_CYVIRTUALSCREEN), NULL, NULL, instance, NULL);
    if (!window) return 1;
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
    snprintf(line, sizeof line, "%lu ready\r\n", GetCurrentProcessId());
    Record(line);
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)previous;
    (void)show;
    return strstr(commandLine, "/E") ? Cover(instance) : Relaunch();
}
