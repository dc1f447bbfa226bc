#include <windows.h>

#include <shellapi.h>

#include <vector>

#include "forms/Forms.h"
#include "forms/Handles.h"
#include "uPathSafety.h"
#include "uSysUtils.h"

namespace {

// The index of the last character of text, stepping over double-byte characters, whose trail byte may be a
// backslash; npos for an empty text.
size_t LastCharStart(const std::string& text) {
    size_t last = std::string::npos;
    for (size_t i = 0; i < text.size(); ++i) {
        last = i;
        if (IsDBCSLeadByte(static_cast<BYTE>(text[i])) && i + 1 < text.size()) ++i;
    }
    return last;
}

size_t LastBackslash(const std::string& text) {
    size_t found = std::string::npos;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\')
            found = i;
        else if (IsDBCSLeadByte(static_cast<BYTE>(text[i])) && i + 1 < text.size())
            ++i;
    }
    return found;
}

bool EndsWithBackslash(const std::string& text) {
    size_t last = LastCharStart(text);
    return last != std::string::npos && last == text.size() - 1 && text[last] == '\\';
}

std::string IncludeTrailingBackslash(const std::string& path) {
    return path.empty() || EndsWithBackslash(path) ? path : path + '\\';
}

std::string ExcludeTrailingBackslash(const std::string& path) {
    return EndsWithBackslash(path) ? path.substr(0, path.size() - 1) : path;
}

std::string FullPathName(const std::string& path) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0) return {};
        if (length < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(length);
    }
}

void PeekPendingMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        // The quit message belongs to whoever runs the message loop: put it back and stop.
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

HWND ShellOwnerWindow() {
    if (!Application) return nullptr;
    TCustomForm* form = Application->ActiveForm();
    return form ? form->Handle() : Application->Handle();
}

} // namespace

bool RegReadValue(HKEY root, const std::string& keyPath, const std::string& valueName, void* data, uint32_t& size) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return false;
    UniqueHKey key(opened);
    DWORD dataSize = size;
    LONG status = RegQueryValueExA(key.get(), valueName.c_str(), nullptr, nullptr, static_cast<BYTE*>(data), &dataSize);
    size = dataSize;
    return status == ERROR_SUCCESS;
}

std::string RegReadString(HKEY root, const std::string& keyPath, const std::string& valueName) {
    char buffer[255];
    uint32_t size = sizeof(buffer);
    if (!RegReadValue(root, keyPath, valueName, buffer, size) || size > sizeof(buffer)) return {};
    // A string value normally ends in its NUL, but the registry does not enforce it: drop the last byte only
    // when it is that NUL, so an unterminated value keeps its last character.
    if (size > 0 && buffer[size - 1] == '\0') --size;
    return Trim(std::string_view(buffer, size));
}

std::string RegReadDefaultString(HKEY root, const std::string& keyPath) {
    return RegReadString(root, RemoveTrailingChar(keyPath, '\\'), "");
}

std::string GetShellOpenCommand(const std::string& extension) {
    std::string ext = extension.find('.') == std::string::npos ? "." + extension : extension;
    std::string typeName = RegReadDefaultString(HKEY_CLASSES_ROOT, ext);
    // Without a type name the key below would be "\shell\open\command": no file type at all.
    if (typeName.empty()) return {};
    std::string command = RegReadDefaultString(HKEY_CLASSES_ROOT, typeName + "\\shell\\open\\command");
    if (command.empty()) return {};
    return ExtractOpenCommandProgram(command);
}

std::string ExtractFilePath(const std::string& path) {
    const size_t at = LastBackslash(path);
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

std::string ExtractFileName(const std::string& path) {
    const size_t at = LastBackslash(path);
    return at == std::string::npos ? path : path.substr(at + 1);
}

std::string TempFilePath(const std::string& name) {
    // Usually the 260 characters the system documents; a longer TMP is read whole rather than cut.
    std::vector<char> buffer(MAX_PATH);
    DWORD length = 0;
    for (;;) {
        length = GetTempPathA(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) return {};
        if (length < buffer.size()) break;
        buffer.resize(length + 1);
    }
    return IncludeTrailingBackslash(std::string(buffer.data(), length)) + name;
}

std::string UniqueFileName(const std::string& directory, const std::string& extension, const std::string& separator) {
    std::string folder = IncludeTrailingBackslash(directory);
    for (;;) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        int32_t msOfDay = ((now.wHour * 60 + now.wMinute) * 60 + now.wSecond) * 1000 + now.wMilliseconds;
        std::string candidate =
            FormatUniqueFileName(folder, extension, separator, now.wYear, now.wMonth, now.wDay, msOfDay);
        // A folder of that name blocks the name as surely as a file does.
        if (GetFileAttributesA(candidate.c_str()) == INVALID_FILE_ATTRIBUTES) return candidate;
    }
}

std::string UniqueTempFileName(const std::string& extension) {
    std::string folder = TempFilePath("");
    if (folder.empty()) return {};
    return UniqueFileName(folder, extension, "-");
}

std::string GetVersionString(const std::string& fileName) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(fileName.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<char> info(size);
    if (!GetFileVersionInfoA(fileName.c_str(), 0, size, info.data())) return {};
    void* block = nullptr;
    UINT blockSize = 0;
    if (!VerQueryValueA(info.data(), "\\", &block, &blockSize) || !block || blockSize < sizeof(VS_FIXEDFILEINFO))
        return {};
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block);
    return std::to_string(HIWORD(fixed->dwProductVersionMS)) + "." + std::to_string(LOWORD(fixed->dwProductVersionMS)) +
           "." + std::to_string(HIWORD(fixed->dwProductVersionLS)) + "." +
           std::to_string(LOWORD(fixed->dwProductVersionLS));
}

bool DeleteWithShell(const std::string& path) {
    if (path.empty() || GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    // The shell wants a full path; and with the trailing backslash gone, "C:\" would become "C:", the current
    // folder of drive C. Roots are never deleted.
    std::string target = ExcludeTrailingBackslash(FullPathName(path));
    if (IsRootPath(target)) return false;

    std::string from = target;
    from.push_back('\0'); // the list's second NUL; c_str() supplies the first
    SHFILEOPSTRUCTA operation{};
    operation.hwnd = ShellOwnerWindow();
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    int result = SHFileOperationA(&operation);

    if (Application)
        Application->ProcessMessages();
    else
        PeekPendingMessages();
    return result == 0;
}

namespace {

using TDisableRedirection = BOOL(WINAPI*)(PVOID*);
using TRevertRedirection = BOOL(WINAPI*)(PVOID);

template <class T> T Kernel32Entry(const char* name) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel ? reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(kernel, name))) : nullptr;
}

} // namespace

TFsRedirectionOff::TFsRedirectionOff() {
    // 32-bit Windows has the calls too, and they fail there: nothing is turned off, nothing turned back on.
    if (auto disable = Kernel32Entry<TDisableRedirection>("Wow64DisableWow64FsRedirection"))
        FActive = disable(&FOldValue) != FALSE;
}

TFsRedirectionOff::~TFsRedirectionOff() {
    if (!FActive) return;
    if (auto revert = Kernel32Entry<TRevertRedirection>("Wow64RevertWow64FsRedirection")) revert(FOldValue);
}

UniqueHModule LoadSystemLibrary(const char* name) {
    char folder[MAX_PATH] = {};
    UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return UniqueHModule();
    std::string path = std::string(folder) + "\\" + name;
    return UniqueHModule(LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}
