// Move-only owners for the handle kinds the program holds, in the lowest layer so that every layer uses them.
// Nothing outside these owners closes, frees, deletes or releases a handle.
#pragma once

#include <cstdint>
#include <utility>

#include "WinTypes.h"

// One owner template; each handle kind supplies its null value and how it is given back to the system.
template <class Traits> class TUniqueResource {
public:
    using Type = typename Traits::Type;

    TUniqueResource() = default;
    explicit TUniqueResource(Type value) noexcept : FValue(value) {}
    TUniqueResource(TUniqueResource&& other) noexcept : FValue(other.release()) {}
    TUniqueResource& operator=(TUniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    TUniqueResource(const TUniqueResource&) = delete;
    TUniqueResource& operator=(const TUniqueResource&) = delete;
    ~TUniqueResource() { reset(); }

    Type get() const noexcept { return FValue; }
    explicit operator bool() const noexcept { return FValue != Traits::Invalid(); }
    [[nodiscard]] Type release() noexcept { return std::exchange(FValue, Traits::Invalid()); }
    void reset(Type value = Traits::Invalid()) noexcept {
        Type old = std::exchange(FValue, value);
        if (old != Traits::Invalid()) Traits::Close(old);
    }

private:
    Type FValue = Traits::Invalid();
};

#ifdef _WIN32

// Kernel objects whose "none" is null: events, mutexes, processes, threads.
struct THandleTraits {
    using Type = void*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type handle) noexcept;
};
// Handles whose "none" is INVALID_HANDLE_VALUE: files from CreateFile.
struct TFileHandleTraits {
    using Type = void*;
    static Type Invalid() noexcept { return reinterpret_cast<Type>(static_cast<intptr_t>(-1)); }
    static void Close(Type handle) noexcept;
};
// A search from FindFirstFile; "none" is INVALID_HANDLE_VALUE as well, but it is ended with FindClose.
struct TFindHandleTraits {
    using Type = void*;
    static Type Invalid() noexcept { return TFileHandleTraits::Invalid(); }
    static void Close(Type search) noexcept;
};
// A mutex this process may own: released (harmless when not owned) before the handle is closed.
struct TMutexTraits {
    using Type = void*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type handle) noexcept;
};
struct THKeyTraits {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type key) noexcept;
};
struct THModuleTraits {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type module) noexcept;
};
struct THHookTraits {
    using Type = HHOOK;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type hook) noexcept;
};
// A window this program made for itself and destroys on the thread that made it.
struct THWndTraits {
    using Type = HWND;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type window) noexcept;
};
// A device context of its own (CreateCompatibleDC), deleted rather than released.
struct THDCTraits {
    using Type = HDC;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type dc) noexcept;
};

// GDI objects (fonts, bitmaps, brushes): all deleted the same way, whatever their handle type.
void DeleteGdiObject(void* object) noexcept;
template <class T> struct TGdiObjectTraits {
    using Type = T;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type object) noexcept { DeleteGdiObject(object); }
};

using UniqueHandle = TUniqueResource<THandleTraits>;
using UniqueFileHandle = TUniqueResource<TFileHandleTraits>;
using UniqueFindHandle = TUniqueResource<TFindHandleTraits>;
using UniqueMutex = TUniqueResource<TMutexTraits>;
using UniqueHKey = TUniqueResource<THKeyTraits>;
using UniqueHModule = TUniqueResource<THModuleTraits>;
using UniqueHHook = TUniqueResource<THHookTraits>;
using UniqueHWnd = TUniqueResource<THWndTraits>;
using UniqueHDC = TUniqueResource<THDCTraits>;
template <class T> using TGdiObject = TUniqueResource<TGdiObjectTraits<T>>;

// A window's device context (GetDC: null is the whole screen's), given back with ReleaseDC. Null when the system
// has none to give.
class TWindowDC {
public:
    explicit TWindowDC(HWND window) noexcept;
    TWindowDC(TWindowDC&& other) noexcept
        : FWindow(std::exchange(other.FWindow, nullptr)), FDC(std::exchange(other.FDC, nullptr)) {}
    TWindowDC& operator=(TWindowDC&&) = delete;
    TWindowDC(const TWindowDC&) = delete;
    TWindowDC& operator=(const TWindowDC&) = delete;
    ~TWindowDC();

    HDC get() const noexcept { return FDC; }
    explicit operator bool() const noexcept { return FDC != nullptr; }

private:
    HWND FWindow;
    HDC FDC;
};

// Selects an object into a device context and puts the one it replaced back when it goes.
class TSelectObject {
public:
    TSelectObject(HDC dc, void* object) noexcept;
    TSelectObject(const TSelectObject&) = delete;
    TSelectObject& operator=(const TSelectObject&) = delete;
    ~TSelectObject();

private:
    HDC FDC;
    void* FOld;
};

#else

// A file descriptor.
struct TFileDescriptorTraits {
    using Type = int;
    static Type Invalid() noexcept { return -1; }
    static void Close(Type fd) noexcept;
};
using UniqueFd = TUniqueResource<TFileDescriptorTraits>;

#endif
