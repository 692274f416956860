// The lamp strip's pixels: where each lamp lands, what a drawing may touch, and how the paint
// handler shows the strip.

#include "app/core/LampStrip.h"
#include "app/qt/CLoaderDlg.h"
#include "app/qt/LampImage.h"
#include "tests/app/DialogFixture.h"

#include <gtest/gtest.h>

#include <QPainter>

namespace {

QRgb Rgb(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFFu;
}
QRgb Rgb(QRgb c) {
    return c & 0xFFFFFFu;
}

TEST(LampStrip, FreshStripIsLightGreyOverItsValidArea) {
    LampStrip strip;
    const QImage image = LampImage(strip.Snapshot());
    EXPECT_EQ(ToQRect(LampStrip::ValidArea()), QRect(QPoint(15, 20), QPoint(29, 104)));
    for (int y = 20; y <= 104; ++y) {
        for (int x = 15; x <= 29; ++x) {
            ASSERT_EQ(Rgb(image, x, y), Rgb(Shown::Grey)) << x << "," << y;
        }
    }
}

TEST(LampStrip, Lamp3FailedChangesOnlyPixelsInsideItsBox) {
    LampStrip strip;
    for (int n : {1, 2, 4, 5}) {
        strip.DrawLamp(n, Shown::Off);
    }
    const QImage before = LampImage(strip.Snapshot());
    strip.DrawLamp(3, Shown::Failed);
    const QImage after = LampImage(strip.Snapshot());

    const QRect box(QPoint(18, 56), QPoint(27, 65)); // (18,56)-(28,66), right and bottom exclusive
    int changed = 0;
    bool touchesLeft = false, touchesRight = false, touchesTop = false, touchesBottom = false;
    for (int y = 0; y < LampStrip::Height; ++y) {
        for (int x = 0; x < LampStrip::Width; ++x) {
            if (before.pixel(x, y) == after.pixel(x, y)) {
                continue;
            }
            ASSERT_TRUE(box.contains(x, y)) << "changed outside the box at " << x << "," << y;
            ++changed;
            touchesLeft |= x == 18;
            touchesRight |= x == 27;
            touchesTop |= y == 56;
            touchesBottom |= y == 65;
        }
    }
    EXPECT_GT(changed, 30);
    // The ellipse reaches every side of its box, with the black outline on the boundary.
    EXPECT_TRUE(touchesLeft && touchesRight && touchesTop && touchesBottom);
    EXPECT_EQ(Rgb(after, 22, 60), Rgb(Shown::Failed));
    EXPECT_EQ(Rgb(after, 18, 60), 0u);
}

TEST(LampStrip, LampsSitEighteenPixelsApart) {
    LampStrip strip;
    for (int n = 1; n <= LampCount; ++n) {
        strip.DrawLamp(n, n % 2 == 1 ? Shown::Lit : Shown::Done);
    }
    const QImage image = LampImage(strip.Snapshot());
    for (int n = 1; n <= LampCount; ++n) {
        const int top = 20 + 18 * (n - 1);
        EXPECT_EQ(ToQRect(LampStrip::LampBox(n)), QRect(18, top, 10, 10));
        EXPECT_EQ(Rgb(image, 22, top + 5), Rgb(n % 2 == 1 ? Shown::Lit : Shown::Done)) << n;
        // Between two lamps the background shows.
        if (n < LampCount) {
            EXPECT_EQ(Rgb(image, 22, top + 13), Rgb(Shown::Grey)) << n;
        }
    }
}

TEST(LampStrip, DialogPaintsStripAtSameCoordinates) {
    PromptScript script;
    CLoaderDlg dialog(script.MakeHost());
    dialog.show();
    const QImage shownBefore = dialog.grab().toImage();
    EXPECT_EQ(Rgb(shownBefore, 22, 25), Rgb(Shown::Off));
    EXPECT_EQ(Rgb(shownBefore, 16, 21), Rgb(Shown::Grey));

    dialog.Link()->Strip().DrawLamp(3, Shown::Failed);
    const QImage shown = dialog.grab().toImage();
    const QImage strip = LampImage(dialog.Link()->Strip().Snapshot());
    const QRect valid = ToQRect(LampStrip::ValidArea());
    for (int y = valid.top(); y <= valid.bottom(); ++y) {
        for (int x = valid.left(); x <= valid.right(); ++x) {
            ASSERT_EQ(Rgb(shown, x, y), Rgb(strip, x, y)) << x << "," << y;
        }
    }
    EXPECT_EQ(Rgb(shown, 22, 61), Rgb(Shown::Failed));
}

} // namespace
