// A stand-in web browser for the tests: appends its command line as one line to the file named by
// MUTONE_BROWSER_RECORD, or else to BrowserRecorder.log beside itself.
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("MUTONE_BROWSER_RECORD", path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        length = GetModuleFileNameA(nullptr, path, sizeof path);
        std::string beside(path, length);
        beside = beside.substr(0, beside.find_last_of('\\') + 1) + "BrowserRecorder.log";
        lstrcpynA(path, beside.c_str(), sizeof path);
    }
    const std::string line = std::string(GetCommandLineA()) + "\n";
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
    return 0;
}
