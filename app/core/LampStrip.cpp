#include "app/core/LampStrip.h"

#include <algorithm>

namespace {

// Whether the centre of pixel (x, y) of a box w x h lies inside the ellipse the box bounds.
// Compared in integers, scaled by 2 so that pixel centres fall on whole numbers.
bool InsideEllipse(std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h) {
    if (x < 0 || y < 0 || x >= w || y >= h) {
        return false;
    }
    const std::int64_t dx = 2 * x + 1 - w;
    const std::int64_t dy = 2 * y + 1 - h;
    return dx * dx * h * h + dy * dy * w * w <= w * w * h * h;
}

} // namespace

LampStrip::LampStrip() {
    // Outside the filled rectangle nothing is ever shown; black makes a stray copy obvious.
    pixels_.rgb.fill(ColorLampOutline);
    const PixelRect area = ValidArea();
    for (int y = area.top; y < area.top + area.height; ++y) {
        for (int x = area.left; x < area.left + area.width; ++x) {
            pixels_.rgb[static_cast<std::size_t>(y * Width + x)] = ColorStripBackground;
        }
    }
}

PixelRect LampStrip::LampBox(int n) {
    return PixelRect{18, Top + 18 * (n - 1), 10, 10};
}

PixelRect LampStrip::ValidArea() {
    const std::int32_t right = std::min(Left + Width, Width);
    const std::int32_t bottom = std::min(Top + Height, Height);
    return PixelRect{Left, Top, right - Left, bottom - Top};
}

void LampStrip::DrawLamp(int n, LampColor color) {
    if (n < 1 || n > LampCount) {
        return;
    }
    // No toolkit to draw with here, so the ellipse is rasterised by hand as a Windows ellipse
    // with a one-pixel pen fills its box: pixels whose centre is inside, those at the edge (a
    // neighbour outside) in the outline's black.
    const PixelRect box = LampBox(n);
    std::lock_guard<std::mutex> guard(lock_);
    for (int y = 0; y < box.height; ++y) {
        for (int x = 0; x < box.width; ++x) {
            if (!InsideEllipse(x, y, box.width, box.height)) {
                continue;
            }
            const bool edge = !InsideEllipse(x - 1, y, box.width, box.height) ||
                              !InsideEllipse(x + 1, y, box.width, box.height) ||
                              !InsideEllipse(x, y - 1, box.width, box.height) ||
                              !InsideEllipse(x, y + 1, box.width, box.height);
            const int px = box.left + x;
            const int py = box.top + y;
            pixels_.rgb[static_cast<std::size_t>(py * Width + px)] =
                edge ? ColorLampOutline : color;
        }
    }
}

LampStrip::Pixels LampStrip::Snapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    return pixels_;
}
