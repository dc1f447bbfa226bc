// Functions the system calls back (window, hook and enumeration procedures, thread functions) reach it only through
// SystemCallback, which takes nothing that may throw: an exception must never unwind through the system's frames,
// and a callback that is not noexcept does not compile where it is handed over. Each one catches at its edge.
#pragma once

#include <windows.h>

template <class TResult, class... TArgs>
constexpr auto SystemCallback(TResult(CALLBACK* function)(TArgs...) noexcept) noexcept {
    return function;
}
