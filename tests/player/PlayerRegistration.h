// Registers the stand-in player as the in-process server of the Flash control's class in the Wine prefix, and
// removes it again. Wine 8 reads HKEY_CLASSES_ROOT from HKLM\Software\Classes only, so that is where it goes.
#pragma once

#include <windows.h>

#include <string>

inline constexpr char StandInClassKey[] = "Software\\Classes\\CLSID\\{D27CDB6E-AE6D-11CF-96B8-444553540000}";

// True when the class key now names dllPath as its server, apartment-threaded. view KEY_WOW64_64KEY registers a
// 64-bit player from a 32-bit program: 64-bit processes read the other registry view than 32-bit ones.
inline bool RegisterStandInPlayer(const std::string& dllPath, REGSAM view = 0) {
    HKEY key = nullptr;
    const std::string path = std::string(StandInClassKey) + "\\InprocServer32";
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    static const char model[] = "Apartment";
    bool ok = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(dllPath.c_str()),
                             static_cast<DWORD>(dllPath.size() + 1)) == ERROR_SUCCESS &&
              RegSetValueExA(key, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(model), sizeof model) ==
                  ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

// True when the class key is gone from the view (also when it was never there).
inline bool UnregisterStandInPlayer(REGSAM view = 0) {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, StandInClassKey, 0, DELETE | KEY_READ | KEY_WRITE | view, &key);
    if (status == ERROR_SUCCESS) {
        status = RegDeleteTreeA(key, nullptr);
        RegCloseKey(key);
        if (status == ERROR_SUCCESS) status = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, StandInClassKey, view, 0);
    }
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}
