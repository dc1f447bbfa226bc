#include <windows.h>

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
