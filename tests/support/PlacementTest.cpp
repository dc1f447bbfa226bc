#include <climits>

#include <gtest/gtest.h>

#include "support/uInstanceGuard.h"

namespace {

TEST(SupportPlacement, CenteredOrigin) {
    struct Row {
        int32_t Width, Height;
        TRect Rect;
        TPoint Origin;
    };
    const Row rows[] = {
        {300, 200, {0, 0, 800, 600}, {250, 200}},
        {301, 201, {0, 0, 800, 600}, {249, 199}},
        {800, 600, {0, 0, 800, 600}, {0, 0}},
        {1001, 601, {0, 0, 800, 600}, {-100, 0}}, // -201/2 and -1/2 truncate toward zero
        {300, 200, {-1024, 0, 0, 768}, {-662, 284}},
        {300, 200, {800, 100, 2080, 1024}, {1290, 462}},
        {0, 0, {10, 10, 11, 11}, {10, 10}},
    };
    for (const Row& row : rows) {
        TPoint origin = CenteredOrigin(row.Width, row.Height, row.Rect);
        EXPECT_EQ(origin, row.Origin) << row.Width << "x" << row.Height << " -> " << origin.X << "," << origin.Y;
    }
}

TEST(SupportPlacement, CenteredOriginDoesNotOverflow) {
    TPoint origin = CenteredOrigin(0, 0, {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX});
    EXPECT_EQ(origin, (TPoint{-1, -1}));
}

TEST(SupportPlacement, FitToWorkAreas) {
    struct Row {
        const char* Name;
        std::vector<TRect> Areas;
        int32_t Width, Height, FrameWidth, FrameHeight;
        int32_t FitWidth, FitHeight;
    };
    const std::vector<TRect> wideShortAndNarrowTall = {{0, 0, 1920, 400}, {1920, 0, 2520, 1200}};
    const std::vector<TRect> threeMonitors = {{0, 0, 800, 600}, {-1024, 0, 0, 768}, {800, 0, 2080, 1024}};
    const Row rows[] = {
        {"fits already", {{0, 0, 1024, 768}}, 640, 480, 8, 30, 640, 480},
        {"too wide", {{0, 0, 1024, 768}}, 2000, 480, 8, 30, 1016, 480},
        {"too high", {{0, 0, 1024, 768}}, 640, 900, 8, 30, 640, 738},
        {"exactly at the edge", {{0, 0, 1024, 768}}, 1016, 738, 8, 30, 1016, 738},
        {"one over the edge", {{0, 0, 1024, 768}}, 1017, 739, 8, 30, 1016, 738},
        {"clamped by different monitors", wideShortAndNarrowTall, 1000, 1000, 10, 40, 590, 360},
        {"wide and short content", wideShortAndNarrowTall, 1500, 100, 10, 40, 590, 100},
        {"narrow and tall content", wideShortAndNarrowTall, 100, 1000, 10, 40, 100, 360},
        {"three monitors", threeMonitors, 1280, 1024, 16, 39, 784, 561},
        {"no monitors: unchanged", {}, 5000, 5000, 16, 39, 5000, 5000},
        {"negative frame allowance", {{0, 0, 100, 100}}, 150, 150, -20, -20, 120, 120},
    };
    for (const Row& row : rows) {
        int32_t width = row.Width, height = row.Height;
        FitToWorkAreas(width, height, row.FrameWidth, row.FrameHeight, row.Areas);
        EXPECT_EQ(width, row.FitWidth) << row.Name;
        EXPECT_EQ(height, row.FitHeight) << row.Name;
    }
}

// The least a form offers CenterInRect: size accessors and SetBounds.
struct TPlainForm {
    int32_t FLeft = 7, FTop = 9, FWidth = 301, FHeight = 201;
    int Bounds = 0;
    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
        FLeft = left, FTop = top, FWidth = width, FHeight = height;
        ++Bounds;
    }
};

TEST(SupportPlacement, CenterInRectMovesTheFormOnly) {
    TPlainForm form;
    CenterInRect(form, TRect{0, 0, 800, 600});
    EXPECT_EQ(form.FLeft, 249);
    EXPECT_EQ(form.FTop, 199);
    EXPECT_EQ(form.FWidth, 301);
    EXPECT_EQ(form.FHeight, 201);
    EXPECT_EQ(form.Bounds, 1);
}

} // namespace
