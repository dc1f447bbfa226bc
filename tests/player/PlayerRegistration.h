// Registers the stand-in player as the in-process server of the Flash control's class in the Wine prefix, and
// removes it again. Wine 8 reads HKEY_CLASSES_ROOT from HKLM\Software\Classes only, so that is where it goes.
#pragma once

#include <windows.h>

#include <string>

inline constexpr char StandInClassKey[] = "Software\\Classes\\CLSID\\{D27CDB6E-AE6D-11CF-96B8-444553540000}";

// True when the class key now names dllPath as its server, apartment-threaded.
inline bool RegisterStandInPlayer(const std::string& dllPath) {
    HKEY key = nullptr;
    const std::string path = std::string(StandInClassKey) + "\\InprocServer32";
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    static const char model[] = "Apartment";
    bool ok = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(dllPath.c_str()),
                             static_cast<DWORD>(dllPath.size() + 1)) == ERROR_SUCCESS &&
              RegSetValueExA(key, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(model), sizeof model) ==
                  ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

// True when the class key is gone (also when it was never there).
inline bool UnregisterStandInPlayer() {
    LSTATUS status = RegDeleteTreeA(HKEY_LOCAL_MACHINE, StandInClassKey);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}
