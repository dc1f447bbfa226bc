#include "uDialogLayout.h"

#include <algorithm>

namespace {

constexpr int32_t Gap = 4;
constexpr int32_t SideMargin = 16;

} // namespace

void LayOutDialog(TDialogLayout& layout, const std::vector<TRect>& workAreas) {
    const int32_t w = layout.ContentWidth, h = layout.ContentHeight;
    int32_t frameHeight = layout.FrameHeight;
    for (const TLayoutControl* control : {&layout.Label, &layout.Button})
        if (control->Visible) frameHeight += control->Height + Gap;

    int32_t width = w, height = h;
    FitToWorkAreas(width, height, layout.FrameWidth, frameHeight, workAreas);
    layout.ContentResized = width != w || height != h;
    if (layout.ContentResized && w > 0 && h > 0) {
        // The orientation of the content, not the side that was limited, decides which side is recomputed.
        if (h < w)
            height = static_cast<int32_t>(int64_t{width} * h / w);
        else
            width = static_cast<int32_t>(int64_t{height} * w / h);
    }
    layout.ContentWidth = std::max(width, 0);
    layout.ContentHeight = std::max(height, 0);

    int32_t clientWidth = layout.ContentWidth;
    for (const TLayoutControl* control : {&layout.Label, &layout.Button})
        if (control->Visible) clientWidth = std::max(clientWidth, control->Width + SideMargin);

    int32_t y = -Gap;
    const auto place = [&](int32_t controlWidth, int32_t controlHeight, int32_t& left, int32_t& top) {
        left = (clientWidth - controlWidth) / 2;
        top = y + Gap;
        y = top + controlHeight;
    };
    place(layout.ContentWidth, layout.ContentHeight, layout.ContentLeft, layout.ContentTop);
    for (TLayoutControl* control : {&layout.Label, &layout.Button})
        if (control->Visible) place(control->Width, control->Height, control->Left, control->Top);
    layout.ClientWidth = clientWidth;
    layout.ClientHeight = y + Gap;
}
