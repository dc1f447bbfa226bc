// The doctor's Windows half: what the system says, seen as a screensaver of the file's architecture would see it.
// The tool is one process of one architecture; for the other, registry reads name the view (KEY_WOW64_32KEY or
// KEY_WOW64_64KEY) and file reads turn the file system redirection off, so that "System32" means the 64-bit
// folder. What cannot be seen that way is an instance of a control of the other architecture: it cannot be loaded
// into this process, and the doctor says that it did not try.
#include <ole2.h>
#include <windows.h>

#include <optional>
#include <string>

#include "flash/uFlashIds.h"
#include "forms/ComObj.h"
#include "support/uFileUrl.h"
#include "support/uSysUtils.h"
#include "uDoctor.h"

namespace {

constexpr bool ToolIs64Bit = sizeof(void*) == 8;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& ansi) {
    if (ansi.empty()) return {};
    const int size = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), out.data(), size);
    return out;
}

bool Is64BitWindows() {
    if (ToolIs64Bit) return true;
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// The key's default value in the given registry view; none when the key or value is missing.
std::optional<std::wstring> ReadDefault(HKEY root, const wchar_t* path, REGSAM view) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) return std::nullopt;
    UniqueHKey key(opened);
    wchar_t data[1024] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    std::wstring value(data);
    if (type == REG_EXPAND_SZ) {
        wchar_t expanded[1024] = {};
        if (ExpandEnvironmentStringsW(value.c_str(), expanded, 1024) - 1 < 1024) value = expanded;
    }
    return value;
}

std::string FileVersion(const std::wstring& file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return {};
    std::string block(size, '\0');
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoW(file.c_str(), 0, size, block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || length < sizeof(*info))
        return {};
    return std::to_string(HIWORD(info->dwProductVersionMS)) + "." + std::to_string(LOWORD(info->dwProductVersionMS)) +
           "." + std::to_string(HIWORD(info->dwProductVersionLS)) + "." +
           std::to_string(LOWORD(info->dwProductVersionLS));
}

// At most a megabyte: mms.cfg is a few lines, and the doctor reads no more than it judges.
std::optional<std::string> ReadSmallFile(const std::wstring& path) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::string bytes(1 << 20, '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) return std::nullopt;
    bytes.resize(read);
    return bytes;
}

std::wstring LongFullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH * 2] = {};
    if (GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr) == 0) return path;
    wchar_t longer[MAX_PATH * 2] = {};
    const DWORD length = GetLongPathNameW(full, longer, MAX_PATH * 2);
    return length > 0 && length < MAX_PATH * 2 ? longer : full;
}

std::optional<std::string> UserValue(const char* key, const char* name) {
    std::string value = RegReadString(HKEY_CURRENT_USER, key, name);
    if (value.empty()) return std::nullopt;
    return Utf8(Wide(value));
}

const char* const DesktopKey = "Control Panel\\Desktop";
const char* const PolicyKey = "Software\\Policies\\Microsoft\\Windows\\Control Panel\\Desktop";
const wchar_t* const ControlKeyW = L"CLSID\\{D27CDB6E-AE6D-11cf-96B8-444553540000}\\InprocServer32";

TControlFacts GatherControl(bool screenSaver64, bool windows64) {
    TControlFacts c;
    const REGSAM view = windows64 ? (screenSaver64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY) : 0;
    const std::optional<std::wstring> server = ReadDefault(HKEY_CLASSES_ROOT, ControlKeyW, view);
    if (windows64) {
        const REGSAM other = screenSaver64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
        const std::optional<std::wstring> otherServer = ReadDefault(HKEY_CLASSES_ROOT, ControlKeyW, other);
        c.RegisteredInOtherView = otherServer && !otherServer->empty();
    }
    if (!server || server->empty()) return c;
    c.Registered = true;
    c.ServerPath = Utf8(*server);
    {
        // A 64-bit control's "System32" is the real one, not this 32-bit process's SysWOW64.
        std::optional<TFsRedirectionOff> redirection;
        if (screenSaver64 && !ToolIs64Bit) redirection.emplace();
        c.FileExists = GetFileAttributesW(server->c_str()) != INVALID_FILE_ATTRIBUTES;
        if (c.FileExists) c.FileVersion = FileVersion(*server);
    }
    if (!c.FileExists || screenSaver64 != ToolIs64Bit) return c;
    // As the screensaver asks for it: in-process or local server, the OLE object interface, only S_OK counts.
    const HRESULT initialised = CoInitialize(nullptr);
    {
        ComPtr<IOleObject> instance;
        const HRESULT result =
            CoCreateInstance(CLASS_ShockwaveFlash, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                             IID_FlashOleObject, instance.put_void());
        c.Creation = result == S_OK ? TCreation::Created : TCreation::Failed;
        c.CreationResult = static_cast<uint32_t>(result);
    }
    if (SUCCEEDED(initialised)) CoUninitialize();
    return c;
}

} // namespace

std::string ChosenScreenSaver() {
    std::string chosen = RegReadString(HKEY_CURRENT_USER, PolicyKey, "SCRNSAVE.EXE");
    return chosen.empty() ? RegReadString(HKEY_CURRENT_USER, DesktopKey, "SCRNSAVE.EXE") : chosen;
}

TMachineFacts GatherMachineFacts(const TScreenSaverFacts& file) {
    TMachineFacts m;
    m.Is64BitWindows = Is64BitWindows();
    const bool screenSaver64 = file.Machine == MachineX64;
    m.Control = GatherControl(screenSaver64, m.Is64BitWindows);

    // The folder the control of that architecture reads mms.cfg from.
    wchar_t system[MAX_PATH] = {};
    const UINT length = m.Is64BitWindows && !screenSaver64 ? GetSystemWow64DirectoryW(system, MAX_PATH)
                                                           : GetSystemDirectoryW(system, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        const std::wstring config = std::wstring(system) + L"\\Macromed\\Flash\\mms.cfg";
        m.ConfigPath = Utf8(config);
        std::optional<TFsRedirectionOff> redirection;
        if (screenSaver64 && !ToolIs64Bit) redirection.emplace();
        m.ConfigBytes = ReadSmallFile(config);
    }

    // The path the runtime makes, from its ANSI temporary directory, and the URL it hands the player.
    wchar_t wideTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, wideTemp);
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wideTemp, -1, nullptr, 0, nullptr, &lossy);
    m.TempPathFitsCodePage = !lossy;
    const std::wstring temp = lossy ? std::wstring(wideTemp) : Wide(TempFilePath(""));
    // Content without an id plays from a freshly named folder, like every copy but the full-screen one.
    const std::wstring folder = temp + (file.ContentGuid.empty() ? L"00000000-0" : Wide(file.ContentGuid)) + L"\\";
    const std::wstring movie = folder + Wide(file.MovieFileName);
    m.MoviePath = Utf8(movie);
    m.MovieUrl = Utf8(FileUrlFromPath(movie));
    m.RunFolderUrl = Utf8(FileUrlFromPath(file.ContentGuid.empty() ? temp : folder));
    m.TempFolderUrl = Utf8(FileUrlFromPath(temp));

    m.Start.UserScreenSaver = UserValue(DesktopKey, "SCRNSAVE.EXE");
    m.Start.UserActive = UserValue(DesktopKey, "ScreenSaveActive");
    m.Start.PolicyScreenSaver = UserValue(PolicyKey, "SCRNSAVE.EXE");
    m.Start.PolicyActive = UserValue(PolicyKey, "ScreenSaveActive");
    const std::string chosen = ChosenScreenSaver();
    m.Start.ChosenIsThisFile = !chosen.empty() && lstrcmpiW(LongFullPath(Wide(chosen)).c_str(),
                                                            LongFullPath(Wide(file.FileName)).c_str()) == 0;
    return m;
}
