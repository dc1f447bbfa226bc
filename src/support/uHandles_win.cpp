#include <windows.h>

#include <string>

#include "uHandles.h"

void THandleTraits::Close(Type handle) {
    CloseHandle(handle);
}

void TFileHandleTraits::Close(Type handle) {
    CloseHandle(handle);
}

void TMutexTraits::Close(Type handle) {
    ReleaseMutex(handle);
    CloseHandle(handle);
}

void THKeyTraits::Close(Type key) {
    RegCloseKey(key);
}

void THModuleTraits::Close(Type module) {
    FreeLibrary(module);
}

void THHookTraits::Close(Type hook) {
    UnhookWindowsHookEx(hook);
}

UniqueHModule LoadSystemLibrary(const char* name) {
    char folder[MAX_PATH] = {};
    UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return UniqueHModule();
    std::string path = std::string(folder) + "\\" + name;
    return UniqueHModule(LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}
