#pragma once
// The off-screen picture of the five step lamps. Every thread draws lamps here; only the paint
// handler puts it on the screen, so a half-drawn lamp can never be seen.

#include <QImage>
#include <QRgb>

#include <cstdint>
#include <mutex>

class QPainter;

inline constexpr QRgb ColorLampOff = qRgb(155, 155, 155);
inline constexpr QRgb ColorLampLit = qRgb(220, 255, 0);
inline constexpr QRgb ColorLampFailed = qRgb(255, 0, 0);
inline constexpr QRgb ColorLampDone = qRgb(0, 255, 0);
inline constexpr QRgb ColorLampConnected = qRgb(0, 0, 255);
inline constexpr QRgb ColorStripBackground = qRgb(192, 192, 192);

inline constexpr int LampCount = 5;

class LampStrip {
public:
    // The strip's pixels are the dialog's client pixels: what is drawn at (x, y) shows at (x, y).
    static constexpr std::int32_t Width = 30;
    static constexpr std::int32_t Height = 105;
    static constexpr std::int32_t Left = 15;
    static constexpr std::int32_t Top = 20;

    LampStrip();

    // Lamp n (1 to 5) as an ellipse in the given colour with a one-pixel black outline.
    void DrawLamp(int n, QRgb color);

    // Copies the part of the strip that holds pixels to the same place of the painter.
    void CopyTo(QPainter& painter) const;

    // A copy of the whole image, taken under the lock.
    QImage Snapshot() const;

    // The box of lamp n; right and bottom are exclusive.
    static QRect LampBox(int n);
    // The filled part of the strip: left 15, top 20, clipped to the image.
    static QRect ValidArea();

private:
    mutable std::mutex lock_;
    QImage image_;
};
