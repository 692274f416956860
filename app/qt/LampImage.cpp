#include "app/qt/LampImage.h"

QImage LampImage(const LampStrip::Pixels& pixels) {
    QImage image(LampStrip::Width, LampStrip::Height, QImage::Format_RGB32);
    for (int y = 0; y < LampStrip::Height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < LampStrip::Width; ++x) {
            // RGB32 keeps 0xFF in the top byte.
            line[x] = 0xFF000000u | pixels.At(x, y);
        }
    }
    return image;
}
