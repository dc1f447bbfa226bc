// The single-instance guard (named mutexes) and the placement of windows: the topmost band, fitting a content
// size into the monitors' work areas, centring in a rectangle. Nothing here raises.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <vector>

#include "forms/Handles.h"
#include "forms/WinTypes.h"

// A rectangle in screen pixels, right and bottom exclusive.
struct TRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    constexpr int32_t Width() const { return Right - Left; }
    constexpr int32_t Height() const { return Bottom - Top; }
    friend constexpr bool operator==(const TRect&, const TRect&) = default;
};

struct TPoint {
    int32_t X = 0, Y = 0;
    friend constexpr bool operator==(const TPoint&, const TPoint&) = default;
};

// Where a width x height window goes to be centred in rect: each half of the difference truncated toward zero,
// so a window larger than rect starts before it.
TPoint CenteredOrigin(int32_t width, int32_t height, const TRect& rect);

// Lowers width and height so that a window adding frameWidth x frameHeight around them fits the narrowest and
// the lowest of the work areas (each minimum taken on its own); never raises either value.
void FitToWorkAreas(int32_t& width, int32_t& height, int32_t frameWidth, int32_t frameHeight,
                    const std::vector<TRect>& workAreas);

// Moves a form so that it is centred in rect, its size unchanged. Takes anything with Width(), Height() and
// SetBounds(left, top, width, height), as the forms layer's forms have.
template <class TForm>
requires requires(TForm& form) {
    form.Width();
    form.Height();
    form.SetBounds(0, 0, 0, 0);
}
void CenterInRect(TForm& form, const TRect& rect) {
    auto width = form.Width();
    auto height = form.Height();
    TPoint origin = CenteredOrigin(static_cast<int32_t>(width), static_cast<int32_t>(height), rect);
    form.SetBounds(origin.X, origin.Y, width, height);
}

#ifdef _WIN32
// True when this call created the named mutex, which mutex then holds; false, with mutex empty, when one of that
// name exists already (in any process) or none can be created.
bool CreateUniqueMutex(UniqueMutex& mutex, const std::string& name);
// Releases and closes the mutex when there is one.
void CloseUniqueMutex(UniqueMutex& mutex);

// CreateUniqueMutex for the process-wide instance mutex, remembering the name.
bool CheckSingleInstance(const std::string& name);
// Gives the instance mutex up; harmless when none is held.
void ReleaseSingleInstance();
const std::string& InstanceMutexName();
bool HoldsInstanceMutex();

// Top of the topmost band, position and size unchanged, not activated; extraFlags are further SWP_ flags.
void SetTopMost(HWND window, unsigned extraFlags);
void SetControlTopMost(HWND control, unsigned extraFlags);
// Any windowed control of the forms layer: anything whose Handle() is its window.
template <class TControl>
requires requires(TControl& control) {
    { control.Handle() } -> std::convertible_to<HWND>;
}
void SetControlTopMost(TControl& control, unsigned extraFlags) {
    SetControlTopMost(static_cast<HWND>(control.Handle()), extraFlags);
}

// The work areas of all monitors, in the order the system enumerates them.
std::vector<TRect> MonitorWorkAreas();
// FitToWorkAreas over the work areas of all monitors.
void FitToSmallestWorkArea(int32_t& width, int32_t& height, int32_t frameWidth, int32_t frameHeight);
// Centres a top-level window in rect (screen coordinates), size and z-order unchanged, not activated.
void CenterInRect(HWND form, const TRect& rect);
#endif
