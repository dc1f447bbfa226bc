// Ownership of COM interface pointers and of the apartment a thread joins.
#pragma once

#include <objbase.h>
#include <oleauto.h>

#include <utility>

#include "Handles.h"

template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr& other) : FPtr(other.FPtr) {
        if (FPtr) FPtr->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(FPtr, other.FPtr);
        return *this;
    }
    ~ComPtr() { reset(); }

    T* get() const { return FPtr; }
    T* operator->() const { return FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }
    // Releases what is held first, so that an out-parameter never leaks the previous pointer.
    T** put() {
        reset();
        return &FPtr;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    void reset() {
        if (FPtr) std::exchange(FPtr, nullptr)->Release();
    }

private:
    T* FPtr = nullptr;
};

// CoInitialize for the lifetime of the object; CoUninitialize only when the call succeeded.
class TComApartment {
public:
    TComApartment() : FInitialized(SUCCEEDED(CoInitialize(nullptr))) {}
    ~TComApartment() {
        if (FInitialized) CoUninitialize();
    }
    TComApartment(const TComApartment&) = delete;
    TComApartment& operator=(const TComApartment&) = delete;

private:
    bool FInitialized;
};

// A VARIANT that clears itself.
struct TOleVariant : VARIANT {
    TOleVariant() noexcept { VariantInit(this); }
    ~TOleVariant() { VariantClear(this); }
    TOleVariant(const TOleVariant&) = delete;
    TOleVariant& operator=(const TOleVariant&) = delete;
};

struct TBstrTraits {
    using Type = BSTR;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type text) noexcept { SysFreeString(text); }
};
using UniqueBstr = TUniqueResource<TBstrTraits>;

// Memory the shell or COM allocated for the caller (an item identifier list, a string).
template <class T> struct TCoTaskMemTraits {
    using Type = T*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type memory) noexcept { CoTaskMemFree(memory); }
};
template <class T> using UniqueCoTaskMem = TUniqueResource<TCoTaskMemTraits<T>>;
