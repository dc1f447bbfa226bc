// Binds the program's few calls into ole32, oleaut32 and shell32 on first use instead of at load.
//
// Every DLL an executable imports is loaded and started before its first instruction runs, also in the copy that
// Windows starts with /S, which only starts the other copy and waits. These three (with what they import in turn)
// are the costliest of the program's imports and that copy never calls them. The compiler calls an imported
// function through its import slot (the __imp_ symbol of the import library); defining the slots here keeps the
// import library's own, and with them the three DLLs, out of the image. Each slot starts at a stub that loads the
// library, looks the function up, puts it in the slot and calls on: later calls go straight to the system.
//
// Only the executable links this file, so that it keeps the slots the linker would otherwise take from the import
// libraries. A call into one of these DLLs that is not listed here takes the import library's slot and brings the
// DLL back into the import table: the shipped-image test fails when the screensaver imports any of the three.
// Declared with the system's headers and cast to the same type, a listed function cannot drift from its
// declaration; the stack size in the slot's name is what the stdcall decoration of that declaration gives. The
// 64-bit build has one calling convention and decorates no names: its slots are the bare __imp_ names.
#include <windows.h>

#include <ole2.h>
#include <oleauto.h>
#include <shellapi.h>
#include <shlobj.h>

#ifdef _WIN64
#define MUTONE_IMPORT_SLOT(Name, Stack) "__imp_" #Name
#else
#define MUTONE_IMPORT_SLOT(Name, Stack) "__imp__" #Name "@" #Stack
#endif

namespace {

// The function, or null when the library or the function is missing (not on any system the program runs on).
void* Bind(const char* library, const char* name) {
    HMODULE module = LoadLibraryA(library);
    return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}

} // namespace

// One stub and one slot per function: Params and Args spell its parameters, Stack the bytes they take, Failed what
// a call returns when the function cannot be found (the result the function itself gives for a failure).
#define MUTONE_LATE_IMPORT(Library, Ret, Name, Stack, Failed, Params, Args)                                            \
    namespace {                                                                                                        \
    Ret WINAPI Late##Name Params;                                                                                      \
    }                                                                                                                  \
    extern "C" {                                                                                                       \
    decltype(&::Name) LateSlot##Name asm(MUTONE_IMPORT_SLOT(Name, Stack)) = Late##Name;                                \
    }                                                                                                                  \
    namespace {                                                                                                        \
    Ret WINAPI Late##Name Params {                                                                                     \
        auto bound = reinterpret_cast<decltype(&::Name)>(Bind(Library, #Name));                                        \
        if (!bound) return Failed;                                                                                     \
        LateSlot##Name = bound;                                                                                        \
        return bound Args;                                                                                             \
    }                                                                                                                  \
    }

MUTONE_LATE_IMPORT("ole32.dll", HRESULT, CoInitialize, 4, E_FAIL, (LPVOID reserved), (reserved))
MUTONE_LATE_IMPORT("ole32.dll", void, CoUninitialize, 0, void(), (), ())
MUTONE_LATE_IMPORT("ole32.dll", HRESULT, CoCreateInstance, 20, REGDB_E_CLASSNOTREG,
                   (REFCLSID id, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object),
                   (id, outer, context, iid, object))
MUTONE_LATE_IMPORT("ole32.dll", void, CoTaskMemFree, 4, void(), (LPVOID block), (block))

MUTONE_LATE_IMPORT("oleaut32.dll", BSTR, SysAllocStringLen, 8, nullptr, (const OLECHAR* text, UINT length),
                   (text, length))
MUTONE_LATE_IMPORT("oleaut32.dll", void, SysFreeString, 4, void(), (BSTR text), (text))
MUTONE_LATE_IMPORT("oleaut32.dll", UINT, SysStringLen, 4, 0, (BSTR text), (text))
MUTONE_LATE_IMPORT("oleaut32.dll", HRESULT, VariantChangeType, 16, E_FAIL,
                   (VARIANTARG * target, VARIANTARG* source, USHORT flags, VARTYPE type), (target, source, flags, type))
MUTONE_LATE_IMPORT("oleaut32.dll", HRESULT, VariantClear, 4, E_FAIL, (VARIANTARG * value), (value))
MUTONE_LATE_IMPORT("oleaut32.dll", void, VariantInit, 4, void(), (VARIANTARG * value), (value))

MUTONE_LATE_IMPORT("shell32.dll", int, SHFileOperationA, 4, ERROR_PROC_NOT_FOUND, (LPSHFILEOPSTRUCTA operation),
                   (operation))
MUTONE_LATE_IMPORT("shell32.dll", HRESULT, SHGetDesktopFolder, 4, E_FAIL, (IShellFolder * *folder), (folder))
MUTONE_LATE_IMPORT("shell32.dll", BOOL, SHGetPathFromIDListA, 8, FALSE, (PCIDLIST_ABSOLUTE list, LPSTR path),
                   (list, path))
MUTONE_LATE_IMPORT("shell32.dll", HINSTANCE, ShellExecuteA, 24, reinterpret_cast<HINSTANCE>(SE_ERR_DLLNOTFOUND),
                   (HWND window, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT show),
                   (window, verb, file, parameters, directory, show))
