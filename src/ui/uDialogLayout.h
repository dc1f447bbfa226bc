// The settings dialog's layout arithmetic: the content fitted to the smallest work area with its aspect ratio
// restored, then content, copyright line and close button stacked and centred. Platform-free, so that it can be
// checked without windows.
#pragma once

#include <cstdint>
#include <vector>

#include "support/uInstanceGuard.h"

struct TLayoutControl {
    bool Visible = false;
    int32_t Width = 0, Height = 0;
    // Filled by the layout.
    int32_t Left = 0, Top = 0;
};

struct TDialogLayout {
    // In: the content's natural size, the frame's allowances (form size minus client size), the two controls
    // below it. Out: the content's size and place, the controls' places, the client size.
    int32_t ContentWidth = 0, ContentHeight = 0;
    int32_t FrameWidth = 0, FrameHeight = 0;
    TLayoutControl Label, Button;
    int32_t ContentLeft = 0, ContentTop = 0;
    bool ContentResized = false;
    int32_t ClientWidth = 0, ClientHeight = 0;
};

// Lays the dialog out for the given work areas (all monitors). Sizes never become negative, and content without
// an area (a side of 0) keeps its fitted size instead of being divided by.
void LayOutDialog(TDialogLayout& layout, const std::vector<TRect>& workAreas);
