// Move-only owners for the Win32 handle kinds the program holds. Nothing outside these owners closes a handle.
#pragma once

#ifdef _WIN32

#include <cstdint>
#include <utility>

#include "uWinTypes.h"

// One owner template; each handle kind supplies its null value and how it is given back to the system.
template <class Traits> class TUniqueResource {
public:
    using Type = typename Traits::Type;

    TUniqueResource() = default;
    explicit TUniqueResource(Type value) : FValue(value) {}
    TUniqueResource(TUniqueResource&& other) noexcept : FValue(other.release()) {}
    TUniqueResource& operator=(TUniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    TUniqueResource(const TUniqueResource&) = delete;
    TUniqueResource& operator=(const TUniqueResource&) = delete;
    ~TUniqueResource() { reset(); }

    Type get() const { return FValue; }
    explicit operator bool() const { return FValue != Traits::Invalid(); }
    [[nodiscard]] Type release() { return std::exchange(FValue, Traits::Invalid()); }
    void reset(Type value = Traits::Invalid()) {
        Type old = std::exchange(FValue, value);
        if (old != Traits::Invalid()) Traits::Close(old);
    }

private:
    Type FValue = Traits::Invalid();
};

// Kernel objects whose "none" is null: events, mutexes, processes, threads.
struct THandleTraits {
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void Close(Type handle);
};
// File handles from CreateFile, whose "none" is INVALID_HANDLE_VALUE.
struct TFileHandleTraits {
    using Type = void*;
    static Type Invalid() { return reinterpret_cast<Type>(static_cast<intptr_t>(-1)); }
    static void Close(Type handle);
};
// A mutex this process may own: released (harmless when not owned) before the handle is closed.
struct TMutexTraits {
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void Close(Type handle);
};
struct THKeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type key);
};
struct THModuleTraits {
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static void Close(Type module);
};

struct THHookTraits {
    using Type = HHOOK;
    static Type Invalid() { return nullptr; }
    static void Close(Type hook);
};

using UniqueHandle = TUniqueResource<THandleTraits>;
using UniqueFileHandle = TUniqueResource<TFileHandleTraits>;
using UniqueMutex = TUniqueResource<TMutexTraits>;
using UniqueHKey = TUniqueResource<THKeyTraits>;
using UniqueHModule = TUniqueResource<THModuleTraits>;
using UniqueHHook = TUniqueResource<THHookTraits>;

// A library of the system folder, loaded by full path: never through the search path, where a planted library of
// the same name beside the program would win. Empty when it cannot be loaded.
UniqueHModule LoadSystemLibrary(const char* name);

#endif
