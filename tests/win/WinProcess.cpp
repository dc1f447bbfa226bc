#include "WinProcess.h"

#include <windows.h>

#include <stdexcept>

namespace {

class TOwnedHandle {
public:
    TOwnedHandle() = default;
    explicit TOwnedHandle(HANDLE handle) : FHandle(handle) {}
    TOwnedHandle(const TOwnedHandle&) = delete;
    TOwnedHandle& operator=(const TOwnedHandle&) = delete;
    ~TOwnedHandle() { reset(); }
    HANDLE get() const { return FHandle; }
    HANDLE* put() {
        reset();
        return &FHandle;
    }
    void reset() {
        if (FHandle && FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
        FHandle = nullptr;
    }

private:
    HANDLE FHandle = nullptr;
};

[[noreturn]] void Fail(const char* call) {
    throw std::runtime_error(std::string(call) + " failed with error " + std::to_string(GetLastError()));
}

} // namespace

TProcessResult RunAndCapture(const std::string& commandLine) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    TOwnedHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0)) Fail("CreatePipe");
    // Only the write end goes to the child; an inherited read end would keep the pipe from ever reporting EOF.
    if (!SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0)) Fail("SetHandleInformation");

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    std::string mutableLine = commandLine; // CreateProcessA may write into its command line
    if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
        Fail("CreateProcessA");
    TOwnedHandle process(info.hProcess), thread(info.hThread);
    writeEnd.reset();

    TProcessResult result;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        result.Output.append(buffer, got);
    if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) Fail("WaitForSingleObject");
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.get(), &exitCode)) Fail("GetExitCodeProcess");
    result.ExitCode = exitCode;
    return result;
}

std::string ExeDirectory() {
    char path[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) Fail("GetModuleFileNameA");
    std::string directory(path, length);
    return directory.substr(0, directory.find_last_of("\\/") + 1);
}
