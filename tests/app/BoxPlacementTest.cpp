// Where a box opens, over screens of many sizes and scales: beside the dialog, else above or
// below it, else at the screen's edge farthest from the lamps, and never over another box, the
// lamps or the status line while the screen has room.

#include "app/core/BoxPlacement.h"
#include "tests/support/CaseName.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

// The main dialog as a window manager frames it: a border of 1 and a title bar of 26 around
// its 310 x 125 client area, the lamps at (15, 20) and the status line at (152, 88) in it.
constexpr int DialogWidth = 312;
constexpr int DialogHeight = 152;

struct PlacementCase {
    std::string name;
    int screenWidth; // in the screen's own pixels
    int screenHeight;
    double scale;
    int panel = 0;                       // a bar along the top that windows may not cover
    std::optional<BoxPosition> dialog{}; // where the user put it; centred when not given
    std::vector<PixelRect> open{};
    int width = 260;
    int height = 100;
    BoxPosition expected{};
    bool lampsClear = true;
    bool statusClear = true;
    friend void PrintTo(const PlacementCase& c, std::ostream* out) { *out << c.name; }
};

BoxScene SceneOf(const PlacementCase& c) {
    BoxScene scene;
    const int width = static_cast<int>(c.screenWidth / c.scale);
    const int height = static_cast<int>(c.screenHeight / c.scale);
    scene.screen = {0, c.panel, width, height - c.panel};
    const BoxPosition d = c.dialog.value_or(
        BoxPosition{(width - DialogWidth) / 2, c.panel + (height - c.panel - DialogHeight) / 2});
    scene.dialog = {d.x, d.y, DialogWidth, DialogHeight};
    scene.lamps = {d.x + 1 + 15, d.y + 26 + 20, 15, 85};
    scene.status = {d.x + 1 + 152, d.y + 26 + 88, 144, 17};
    scene.open = c.open;
    return scene;
}

bool Inside(const PixelRect& box, const PixelRect& screen) {
    return box.left >= screen.left && box.top >= screen.top &&
           box.left + box.width <= screen.left + screen.width &&
           box.top + box.height <= screen.top + screen.height;
}

class Placement : public testing::TestWithParam<PlacementCase> {};

TEST_P(Placement, LeavesTheLampsAndTheOtherBoxesInView) {
    const PlacementCase& c = GetParam();
    const BoxScene scene = SceneOf(c);
    const BoxPosition at = PlaceBox(scene, c.width, c.height);
    EXPECT_EQ(at, c.expected) << at.x << "," << at.y;

    const PixelRect box{at.x, at.y, c.width, c.height};
    EXPECT_TRUE(Inside(box, scene.screen));
    EXPECT_EQ(!Overlaps(box, scene.lamps), c.lampsClear);
    EXPECT_EQ(!Overlaps(box, scene.status), c.statusClear);
    for (const PixelRect& other : scene.open) {
        EXPECT_FALSE(Overlaps(box, other)) << other.left << "," << other.top;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Screens, Placement,
    testing::Values(
        PlacementCase{.name = "FullHdRightOfTheDialog",
                      .screenWidth = 1920,
                      .screenHeight = 1080,
                      .scale = 1,
                      .expected = {1124, 464}},
        PlacementCase{.name = "UhdAtScale2LikeFullHd",
                      .screenWidth = 3840,
                      .screenHeight = 2160,
                      .scale = 2,
                      .expected = {1124, 464}},
        PlacementCase{.name = "DialogAtTheRightEdgeBoxLeftOfIt",
                      .screenWidth = 1920,
                      .screenHeight = 1080,
                      .scale = 1,
                      .dialog = BoxPosition{1588, 464},
                      .expected = {1320, 464}},
        PlacementCase{.name = "SecondBoxBesideTheDialogBelowTheFirst",
                      .screenWidth = 1920,
                      .screenHeight = 1080,
                      .scale = 1,
                      .open = {{1124, 464, 260, 100}},
                      .expected = {1124, 572}},
        PlacementCase{.name = "PanelAlongTheTop",
                      .screenWidth = 1366,
                      .screenHeight = 768,
                      .scale = 1,
                      .panel = 32,
                      .expected = {847, 324}},
        PlacementCase{.name = "Sxga1280x1024AtScale1Point5",
                      .screenWidth = 1280,
                      .screenHeight = 1024,
                      .scale = 1.5,
                      .expected = {590, 265}},
        PlacementCase{.name = "Vga640x480BelowTheDialog",
                      .screenWidth = 640,
                      .screenHeight = 480,
                      .scale = 1,
                      .expected = {164, 324}},
        PlacementCase{.name = "WideBoxOnSvgaBelowTheDialog",
                      .screenWidth = 800,
                      .screenHeight = 600,
                      .scale = 1,
                      .width = 420,
                      .height = 150,
                      .expected = {244, 384}},
        PlacementCase{.name = "DialogLowOnSvgaBoxAboveIt",
                      .screenWidth = 800,
                      .screenHeight = 600,
                      .scale = 1,
                      .dialog = BoxPosition{244, 440},
                      .expected = {244, 332}},
        PlacementCase{.name = "Xga1024x768AtScale2BelowTheDialog",
                      .screenWidth = 1024,
                      .screenHeight = 768,
                      .scale = 2,
                      .expected = {100, 276}},
        // 400 x 300 to lay out on: no room around the dialog, so the right edge, far from the
        // lamps, above the status line.
        PlacementCase{.name = "Svga800x600AtScale2AtTheFarEdge",
                      .screenWidth = 800,
                      .screenHeight = 600,
                      .scale = 2,
                      .expected = {140, 74}},
        // A second box there can keep clear of the first and of the lamps, not of the status.
        PlacementCase{.name = "Svga800x600AtScale2SecondBoxGivesUpTheStatusLine",
                      .screenWidth = 800,
                      .screenHeight = 600,
                      .scale = 2,
                      .open = {{140, 74, 260, 100}},
                      .expected = {140, 182},
                      .statusClear = false},
        // A box almost as wide as the screen cannot miss the lamps.
        PlacementCase{.name = "TinyScreenFarEdgeOverTheLamps",
                      .screenWidth = 320,
                      .screenHeight = 240,
                      .scale = 1,
                      .width = 300,
                      .expected = {20, 44},
                      .lampsClear = false}),
    CaseName());

} // namespace
