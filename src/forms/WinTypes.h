// The Win32 handle types the platform-free headers name, declared exactly as <windows.h> declares them (STRICT), so
// that those headers stay free of <windows.h> and its macros. Including <windows.h> afterwards is harmless.
#pragma once

#ifdef _WIN32
struct HKEY__;
typedef struct HKEY__* HKEY;
struct HWND__;
typedef struct HWND__* HWND;
struct HINSTANCE__;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
struct HHOOK__;
typedef struct HHOOK__* HHOOK;
struct HDC__;
typedef struct HDC__* HDC;
#endif
