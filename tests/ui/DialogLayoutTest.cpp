// The dialog's layout against sizes worked out by hand from the rules: content on top, each further control 4
// pixels below the previous one, 4 pixels below the last, everything centred in the widest of content and
// controls + 16; content fitted to the smallest work area with its aspect ratio restored by its orientation.
#include <gtest/gtest.h>

#include "ui/uDialogLayout.h"

namespace {

const std::vector<TRect> Desktop800 = {{0, 0, 800, 600}};

TDialogLayout Make(int32_t w, int32_t h, bool label, bool button, int32_t labelWidth = 150) {
    TDialogLayout layout;
    layout.ContentWidth = w;
    layout.ContentHeight = h;
    layout.FrameWidth = 6;
    layout.FrameHeight = 25;
    layout.Label = {label, labelWidth, 12};
    layout.Button = {button, 100, 20};
    return layout;
}

} // namespace

TEST(DialogLayout, StacksAndCentresTheControls) {
    struct Row {
        const char* what;
        TDialogLayout in;
        int32_t contentLeft, labelLeft, labelTop, buttonLeft, buttonTop, clientWidth, clientHeight;
    };
    const Row rows[] = {
        {"all three", Make(200, 100, true, true), 0, 25, 104, 50, 120, 200, 144},
        {"no copyright line", Make(200, 100, false, true), 0, 0, 0, 50, 104, 200, 128},
        {"no close button", Make(200, 100, true, false), 0, 25, 104, 0, 0, 200, 120},
        {"content alone", Make(200, 100, false, false), 0, 0, 0, 0, 0, 200, 104},
        {"label wider than the content", Make(50, 50, true, true, 170), 68, 8, 54, 43, 70, 186, 94},
        {"button wider than the content", Make(60, 30, false, true), 28, 0, 0, 8, 34, 116, 58},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TDialogLayout layout = row.in;
        LayOutDialog(layout, Desktop800);
        EXPECT_FALSE(layout.ContentResized);
        EXPECT_EQ(layout.ContentLeft, row.contentLeft);
        EXPECT_EQ(layout.ContentTop, 0);
        if (layout.Label.Visible) {
            EXPECT_EQ(layout.Label.Left, row.labelLeft);
            EXPECT_EQ(layout.Label.Top, row.labelTop);
        }
        if (layout.Button.Visible) {
            EXPECT_EQ(layout.Button.Left, row.buttonLeft);
            EXPECT_EQ(layout.Button.Top, row.buttonTop);
        }
        EXPECT_EQ(layout.ClientWidth, row.clientWidth);
        EXPECT_EQ(layout.ClientHeight, row.clientHeight);
    }
}

TEST(DialogLayout, FitsTheSmallestWorkAreaAndRestoresTheAspectByOrientation) {
    // Smallest width 800 (first monitor) and smallest height 500 (second): each minimum on its own.
    const std::vector<TRect> areas = {{-1024, 0, -224, 1000}, {0, 0, 1200, 500}};
    // Limits with frame 6 x 25 and a visible button (20 + 4): width 794, height 500 - 49 = 451.
    struct Row {
        const char* what;
        int32_t w, h, expectW, expectH;
        bool resized;
    };
    const Row rows[] = {
        {"too wide, wider than tall: height from the cut width", 1000, 300, 794, 238, true},
        {"too wide and too tall, wider than tall: the height may exceed its limit", 1600, 1000, 794, 496, true},
        {"too tall, wider than tall: the height limit is undone", 700, 600, 700, 600, true},
        {"too tall, taller than wide: width from the cut height", 300, 1000, 135, 451, true},
        {"square and too tall: treated as taller than wide", 600, 600, 451, 451, true},
        {"fits", 794, 451, 794, 451, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TDialogLayout layout = Make(row.w, row.h, false, true);
        LayOutDialog(layout, areas);
        EXPECT_EQ(layout.ContentResized, row.resized);
        EXPECT_EQ(layout.ContentWidth, row.expectW);
        EXPECT_EQ(layout.ContentHeight, row.expectH);
        EXPECT_EQ(layout.ClientHeight, row.expectH + 28);
    }
}

TEST(DialogLayout, DegenerateContentAndTinyScreensStaySound) {
    for (auto [w, h] : {std::pair{0, 0}, {0, 900}, {900, 0}, {INT32_MAX, INT32_MAX}}) {
        TDialogLayout layout = Make(w, h, true, true);
        LayOutDialog(layout, {{0, 0, 40, 30}});
        EXPECT_GE(layout.ContentWidth, 0);
        EXPECT_GE(layout.ContentHeight, 0);
        EXPECT_LE(layout.ContentWidth, 34);
    }
}
