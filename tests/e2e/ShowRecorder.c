/* A global message hook that notes every top-level window a process shows, so that a test can tell "never shown"
   from "shown and hidden again between two looks". The system loads it into each process whose thread sends a
   message while the hook is set; only a process whose MUTONE_E2E_SHOWN names a file writes anything there. */
#include <windows.h>

static void Record(HWND window) {
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("MUTONE_E2E_SHOWN", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    char line[300] = "shown ";
    GetClassNameA(window, line + 6, (int)(sizeof line - 8));
    lstrcatA(line, "\n");
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line, (DWORD)lstrlenA(line), &written, NULL);
    CloseHandle(file);
}

__attribute__((dllexport)) LRESULT CALLBACK ShowRecorderHook(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* message = (const CWPSTRUCT*)lParam;
    if (code == HC_ACTION && message && !(GetWindowLongA(message->hwnd, GWL_STYLE) & WS_CHILD)) {
        /* ShowWindow sends the first, SetWindowPos with SWP_SHOWWINDOW only the second. */
        if ((message->message == WM_SHOWWINDOW && message->wParam) ||
            (message->message == WM_WINDOWPOSCHANGING &&
             (((const WINDOWPOS*)message->lParam)->flags & SWP_SHOWWINDOW) && !IsWindowVisible(message->hwnd)))
            Record(message->hwnd);
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}
