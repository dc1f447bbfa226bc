/* Stand-ins for the Windows 9x screensaver password services, built in several flavours (see CMakeLists.txt).
   Each appends what happened to it to the file named by MUTONE_E2E_RECORD, so that a test can tell "never
   loaded" from "loaded and answered". */
#include <windows.h>

#include <stdio.h>

static void Record(const char* line) {
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("MUTONE_E2E_RECORD", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line, (DWORD)lstrlenA(line), &written, NULL);
    WriteFile(file, "\n", 1, &written, NULL);
    CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) Record("loaded " FAKE_NAME);
    return TRUE;
}

#if defined(FAKE_PWD_CHANGE_RESULT)
__attribute__((dllexport)) DWORD WINAPI PwdChangePasswordA(LPCSTR regKey, HWND window, DWORD reserved1,
                                                           DWORD reserved2) {
    char line[512];
    char className[64] = "";
    if (window) GetClassNameA(window, className, sizeof className);
    snprintf(line, sizeof line, "PwdChangePasswordA %s %s %lu %lu", regKey ? regKey : "(null)",
             className[0] ? className : "(no window)", (unsigned long)reserved1, (unsigned long)reserved2);
    Record(line);
    return FAKE_PWD_CHANGE_RESULT;
}
#elif defined(FAKE_VERIFY_RESULT)
__attribute__((dllexport)) BOOL WINAPI VerifyScreenSavePwd(HWND window) {
    (void)window;
    Record(FAKE_VERIFY_RESULT ? "VerifyScreenSavePwd accepted" : "VerifyScreenSavePwd rejected");
    return FAKE_VERIFY_RESULT;
}
#else
/* A library of the right name that lacks the entry point the program looks for. */
__attribute__((dllexport)) DWORD WINAPI WNetGetUserA(LPCSTR name, LPSTR user, LPDWORD length) {
    (void)name;
    (void)user;
    (void)length;
    return ERROR_NOT_SUPPORTED;
}
#endif
