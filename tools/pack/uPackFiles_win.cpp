#include <windows.h>

#include "forms/Handles.h"
#include "uPackFiles.h"

std::string ToolExecutablePath() {
    char buffer[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) return {};
    return std::string(buffer, n);
}

bool SameFile(const std::string& a, const std::string& b) {
    const auto identity = [](const std::string& name, BY_HANDLE_FILE_INFORMATION& info) {
        // No access rights needed to ask who a file is; backup semantics let a folder be asked as well.
        UniqueFileHandle file(CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        return file && GetFileInformationByHandle(file.get(), &info);
    };
    BY_HANDLE_FILE_INFORMATION ia, ib;
    return identity(a, ia) && identity(b, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

bool RenameOver(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFile(const std::string& fileName) {
    return DeleteFileA(fileName.c_str()) != 0;
}

std::optional<int64_t> RegularFileSize(const std::string& fileName) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(fileName.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return static_cast<int64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

bool CreateDirectories(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    std::string trimmed = path;
    while (trimmed.size() > 1 && IsPathSeparator(trimmed.back()))
        trimmed.pop_back();
    const std::string parent = DirectoryOf(trimmed);
    if (!parent.empty() && parent != trimmed && !CreateDirectories(parent)) return false;
    return CreateDirectoryA(trimmed.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool RemoveEmptyFolder(const std::string& path) {
    return RemoveDirectoryA(path.c_str()) != 0;
}

bool CreateNewFolder(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool SetModificationTime(const std::string& fileName, int64_t unixTime) {
    UniqueFileHandle file(CreateFileA(fileName.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    // FILETIME counts 100 ns from 1601; the Unix epoch lies 11644473600 s later.
    const auto ticks = static_cast<uint64_t>((unixTime + 11644473600LL) * 10000000LL);
    FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    return SetFileTime(file.get(), nullptr, &time, &time) != 0;
}

std::string FindProgram(const std::string& name) {
    if (name.empty()) return {};
    if (name.find_first_of("\\/:") != std::string::npos) return RegularFileSize(name) ? name : std::string();
    char found[MAX_PATH * 4];
    const DWORD n = SearchPathA(nullptr, name.c_str(), ".exe", sizeof found, found, nullptr);
    return n > 0 && n < sizeof found ? std::string(found, n) : std::string();
}

namespace {

// One argument as the C runtime's parser takes it back: quoted, with backslashes doubled only where they stand
// in front of a quote.
std::string QuotedArgument(const std::string& arg) {
    std::string quoted(1, '"');
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted += '"';
}

} // namespace

int RunProgram(const std::vector<std::string>& args, const std::string& folder, const std::string& logFile) {
    if (args.empty()) return -1;
    std::string commandLine;
    for (const std::string& arg : args)
        commandLine += (commandLine.empty() ? "" : " ") + QuotedArgument(arg);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    UniqueFileHandle log(CreateFileA(logFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    UniqueFileHandle input(
        CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
    if (!log || !input) return -1;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = log.get();
    startup.hStdError = log.get();
    PROCESS_INFORMATION process{};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(args[0].c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, folder.c_str(),
                        &startup, &process))
        return -1;
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.hProcess, &code))
        return -1;
    return static_cast<int>(code);
}
