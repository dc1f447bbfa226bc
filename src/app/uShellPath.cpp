#include "uShellPath.h"

#include <windows.h>

#include <shlobj.h>

#include "forms/ComObj.h"
#include "support/uSysUtils.h"

std::string GetShellPath(const std::string& path) {
    ComPtr<IShellFolder> desktop;
    if (FAILED(SHGetDesktopFolder(desktop.put()))) return {};
    int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), length);

    LPITEMIDLIST raw = nullptr;
    if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, wide.data(), nullptr, &raw, nullptr)) || !raw) return {};
    UniqueCoTaskMem<ITEMIDLIST> list(raw);
    char buffer[MAX_PATH] = {};
    BOOL converted = SHGetPathFromIDListA(list.get(), buffer);
    return converted ? Trim(buffer) : std::string();
}

std::string FileNameWithoutExtension(const std::string& path) {
    std::string name = path.substr(path.find_last_of("\\/:") + 1);
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}
