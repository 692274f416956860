#pragma once
// Where a box of the main dialog opens on the screen. A box reports on the lamps and the status
// line, so it must leave them in view: beside the dialog where the screen has room, else above or
// below it, else against the screen's edge farthest from the lamps, clear of the lamps and the
// status line where that edge leaves room for it. A box never opens over another open box while
// any of those places has room.

#include "app/core/LampStrip.h"

#include <vector>

// Between the dialog and a box beside it, and between two boxes.
inline constexpr int BoxGap = 8;

// Rectangles in screen pixels, window frames included.
struct BoxScene {
    PixelRect screen; // the part of the screen that windows may cover
    PixelRect dialog;
    PixelRect lamps;
    PixelRect status;
    std::vector<PixelRect> open; // the boxes open now
};

struct BoxPosition {
    int x;
    int y;
    bool operator==(const BoxPosition&) const = default;
};

// The top-left corner of a box of width x height.
BoxPosition PlaceBox(const BoxScene& scene, int width, int height);

bool Overlaps(const PixelRect& a, const PixelRect& b);
