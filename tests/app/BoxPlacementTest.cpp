// Where a box opens, over screens of many sizes and scales: beside the dialog, else above or
// below it, else at the screen's edge farthest from the lamps, and never over another box, the
// lamps or the status line while the screen has room.

#include "app/core/BoxPlacement.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The main dialog as a window manager frames it: a border of 1 and a title bar of 26 around
// its 310 x 125 client area, the lamps at (15, 20) and the status line at (152, 88) in it.
constexpr int DialogWidth = 312;
constexpr int DialogHeight = 152;
constexpr int C = -1; // the dialog centred on the screen

// What the box leaves uncovered.
enum InView { Both, LampsOnly, StatusOnly };

struct Row {
    const char* name;
    int screenWidth; // in the screen's own pixels
    int screenHeight;
    double scale;
    int panel; // a bar along the top that windows may not cover
    int dialogX;
    int dialogY;
    std::vector<PixelRect> open;
    int width;
    int height;
    BoxPosition expected;
    InView inView;
};

// Boxes already open in two of the rows.
const std::vector<PixelRect> Beside{{1124, 464, 260, 100}};
const std::vector<PixelRect> AtFarEdge{{140, 74, 260, 100}};

// clang-format off
const Row Rows[] = {
    // name               screen    scale bar dialog    open      box       opens at     in view
    {"FullHdBeside",      1920, 1080, 1,   0, C, C,     {},       260, 100, {1124, 464}, Both},
    {"UhdAtScale2",       3840, 2160, 2,   0, C, C,     {},       260, 100, {1124, 464}, Both},
    {"DialogAtRightEdge", 1920, 1080, 1,   0, 1588, 464, {},      260, 100, {1320, 464}, Both},
    {"BelowTheFirstBox",  1920, 1080, 1,   0, C, C,     Beside,   260, 100, {1124, 572}, Both},
    {"PanelAlongTheTop",  1366, 768,  1,  32, C, C,     {},       260, 100, {847, 324},  Both},
    {"SxgaAtScale1.5",    1280, 1024, 1.5, 0, C, C,     {},       260, 100, {590, 265},  Both},
    {"VgaBelow",          640,  480,  1,   0, C, C,     {},       260, 100, {164, 324},  Both},
    {"WideBoxOnSvga",     800,  600,  1,   0, C, C,     {},       420, 150, {244, 384},  Both},
    {"DialogLowOnSvga",   800,  600,  1,   0, 244, 440, {},       260, 100, {244, 332},  Both},
    {"XgaAtScale2Below",  1024, 768,  2,   0, C, C,     {},       260, 100, {100, 276},  Both},
    // 400 x 300 to lay out on: no room around the dialog, so the right edge, above the status.
    {"SvgaAtScale2",      800,  600,  2,   0, C, C,     {},       260, 100, {140, 74},   Both},
    // A second box there keeps clear of the first and of the lamps, not of the status line.
    {"SvgaAtScale2Again", 800,  600,  2,   0, C, C,     AtFarEdge, 260, 100, {140, 182}, LampsOnly},
    // A box almost as wide as the screen cannot miss the lamps.
    {"TinyScreen",        320,  240,  1,   0, C, C,     {},       300, 100, {20, 44}, StatusOnly},
};
// clang-format on

BoxScene SceneOf(const Row& row) {
    const int width = static_cast<int>(row.screenWidth / row.scale);
    const int height = static_cast<int>(row.screenHeight / row.scale);
    const int x = row.dialogX == C ? (width - DialogWidth) / 2 : row.dialogX;
    const int y =
        row.dialogY == C ? row.panel + (height - row.panel - DialogHeight) / 2 : row.dialogY;
    return {{0, row.panel, width, height - row.panel},
            {x, y, DialogWidth, DialogHeight},
            {x + 1 + 15, y + 26 + 20, 15, 85},
            {x + 1 + 152, y + 26 + 88, 144, 17},
            row.open};
}

TEST(BoxPlacement, LeavesTheLampsAndTheOtherBoxesInViewOnEveryScreen) {
    for (const Row& row : Rows) {
        SCOPED_TRACE(row.name);
        const BoxScene scene = SceneOf(row);
        const BoxPosition at = PlaceBox(scene, row.width, row.height);
        EXPECT_EQ(at, row.expected) << at.x << "," << at.y;

        const PixelRect box{at.x, at.y, row.width, row.height};
        const PixelRect& screen = scene.screen;
        EXPECT_TRUE(box.left >= screen.left && box.top >= screen.top &&
                    box.left + box.width <= screen.left + screen.width &&
                    box.top + box.height <= screen.top + screen.height);
        EXPECT_EQ(!Overlaps(box, scene.lamps), row.inView != StatusOnly);
        EXPECT_EQ(!Overlaps(box, scene.status), row.inView != LampsOnly);
        for (const PixelRect& other : scene.open) {
            EXPECT_FALSE(Overlaps(box, other)) << other.left << "," << other.top;
        }
    }
}

} // namespace
