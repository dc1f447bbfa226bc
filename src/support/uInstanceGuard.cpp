#include "uInstanceGuard.h"

#include <algorithm>
#include <climits>

namespace {

// Rectangle sides may lie anywhere in 32 bits; the differences and halves are taken in 64.
int32_t Clamp32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

} // namespace

TPoint CenteredOrigin(int32_t width, int32_t height, const TRect& rect) {
    int64_t rectWidth = int64_t(rect.Right) - rect.Left;
    int64_t rectHeight = int64_t(rect.Bottom) - rect.Top;
    return {Clamp32(rect.Left + (rectWidth - width) / 2), Clamp32(rect.Top + (rectHeight - height) / 2)};
}

void FitToWorkAreas(int32_t& width, int32_t& height, int32_t frameWidth, int32_t frameHeight,
                    const std::vector<TRect>& workAreas) {
    int64_t minWidth = INT32_MAX, minHeight = INT32_MAX;
    for (const TRect& area : workAreas) {
        minWidth = std::min(minWidth, int64_t(area.Right) - area.Left);
        minHeight = std::min(minHeight, int64_t(area.Bottom) - area.Top);
    }
    if (minWidth - frameWidth < width) width = Clamp32(minWidth - frameWidth);
    if (height > minHeight - frameHeight) height = Clamp32(minHeight - frameHeight);
}
