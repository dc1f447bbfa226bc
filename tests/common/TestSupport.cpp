#include "TestSupport.h"

#include <windows.h>

#include <cstdlib>
#include <stdexcept>

#include "forms/Forms.h"
#include "forms/Handles.h"

namespace {

[[noreturn]] void Fail(const char* call) {
    throw std::runtime_error(std::string(call) + " failed with error " + std::to_string(GetLastError()));
}

} // namespace

TProcessResult RunAndCapture(const std::string& commandLine, const std::string& currentDirectory) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE rawRead = nullptr, rawWrite = nullptr;
    if (!CreatePipe(&rawRead, &rawWrite, &inheritable, 0)) Fail("CreatePipe");
    UniqueHandle readEnd(rawRead), writeEnd(rawWrite);
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
    if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup, &info))
        Fail("CreateProcessA");
    UniqueHandle process(info.hProcess), thread(info.hThread);
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

int HarnessMonitors() {
    const char* value = std::getenv("MUTONE_MONITORS");
    return value ? std::atoi(value) : 0;
}

bool PumpUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) {
        Application->ProcessMessages();
        if (!done()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return done();
}
