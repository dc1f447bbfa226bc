// Prints what Windows reads from a program's resources, one "key: value" line each, in UTF-8: string 1 as the
// Screen Saver settings load it, the version information, the icon images by size, and whether the header
// checksum is the file's. Exit code 1 when the file cannot be loaded as a data file.
//   resource_probe FILE
#include <windows.h>

#include <imagehlp.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

void Line(const char* key, const std::string& value) {
    std::printf("%s: %s\n", key, value.c_str());
}

std::string IconSize(HICON icon) {
    ICONINFO info{};
    if (!icon || !GetIconInfo(icon, &info)) return "none";
    BITMAP bitmap{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    const LONG height = info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2;
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return std::to_string(bitmap.bmWidth) + "x" + std::to_string(height);
}

std::string Dotted(DWORD high, DWORD low) {
    return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." + std::to_string(HIWORD(low)) + "." +
           std::to_string(LOWORD(low));
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: resource_probe FILE\n");
        return 2;
    }
    const std::wstring file = argv[1];
    HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return 1;
    wchar_t name[256] = {};
    const int length = LoadStringW(module, 1, name, 256);
    Line("name", length > 0 ? Utf8(std::wstring(name, static_cast<size_t>(length))) : "none");

    // Every image of group 100, each as the system picks it for its own size.
    std::string images;
    if (HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(100), MAKEINTRESOURCEW(14))) {
        auto* directory = static_cast<BYTE*>(LockResource(LoadResource(module, group)));
        const WORD count = directory ? *reinterpret_cast<WORD*>(directory + 4) : 0;
        for (WORD i = 0; i < count; ++i) {
            const BYTE* entry = directory + 6 + 14 * i;
            const int size = entry[0] ? entry[0] : 256;
            const int id = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
            HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3));
            HICON icon = image ? CreateIconFromResourceEx(static_cast<BYTE*>(LockResource(LoadResource(module, image))),
                                                          SizeofResource(module, image), TRUE, 0x00030000, size, size,
                                                          LR_DEFAULTCOLOR)
                               : nullptr;
            images += (images.empty() ? "" : " ") + IconSize(icon) + "/" +
                      std::to_string(*reinterpret_cast<const WORD*>(entry + 6)) + "bit";
            if (icon) DestroyIcon(icon);
        }
    }
    Line("icon images", images.empty() ? "none" : images);
    FreeLibrary(module);

    HICON large = nullptr, small = nullptr;
    const UINT groups = ExtractIconExW(file.c_str(), -1, nullptr, nullptr, 0);
    ExtractIconExW(file.c_str(), 0, &large, &small, 1);
    Line("icon groups", std::to_string(groups));
    Line("extracted", "large " + IconSize(large) + ", small " + IconSize(small));
    if (large) DestroyIcon(large);
    if (small) DestroyIcon(small);

    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &handle);
    std::vector<BYTE> version(size);
    if (size && GetFileVersionInfoW(file.c_str(), 0, size, version.data())) {
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT fixedSize = 0;
        if (VerQueryValueW(version.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) && fixed)
            Line("fixed", Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS) + " " +
                              Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
        WORD* translation = nullptr;
        UINT translationSize = 0;
        if (VerQueryValueW(version.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                           &translationSize) &&
            translationSize >= 4) {
            wchar_t prefix[64];
            swprintf(prefix, 64, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
            for (const wchar_t* key : {L"FileVersion", L"ProductVersion", L"CompanyName", L"LegalCopyright",
                                       L"FileDescription", L"ProductName"}) {
                wchar_t* value = nullptr;
                UINT chars = 0;
                const bool found = VerQueryValueW(version.data(), (std::wstring(prefix) + key).c_str(),
                                                  reinterpret_cast<void**>(&value), &chars) &&
                                   value;
                Line(Utf8(key).c_str(), found ? Utf8(value) : "none");
            }
        }
    }

    DWORD header = 0, computed = 0;
    const DWORD result = MapFileAndCheckSumW(file.c_str(), &header, &computed);
    Line("checksum", result == CHECKSUM_SUCCESS ? (header == computed ? "matches the file" : "differs from the file")
                                                : "not computed");
    return 0;
}
