#pragma once
// The off-screen picture of the five step lamps. Every thread draws lamps here; only the paint
// handler puts it on the screen, so a half-drawn lamp can never be seen.

#include <array>
#include <cstdint>
#include <mutex>

// A colour as 0x00RRGGBB: the layout of a 32-bit pixel in a Windows DIB and, with the top byte
// set, of a QImage's RGB32 pixel.
using LampColor = std::uint32_t;

constexpr LampColor RgbColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return (static_cast<LampColor>(red) << 16) | (static_cast<LampColor>(green) << 8) | blue;
}

inline constexpr LampColor ColorLampOff = RgbColor(155, 155, 155);
inline constexpr LampColor ColorLampLit = RgbColor(220, 255, 0);
inline constexpr LampColor ColorLampFailed = RgbColor(255, 0, 0);
inline constexpr LampColor ColorLampDone = RgbColor(0, 255, 0);
inline constexpr LampColor ColorLampConnected = RgbColor(0, 0, 255);
inline constexpr LampColor ColorStripBackground = RgbColor(192, 192, 192);
inline constexpr LampColor ColorLampOutline = RgbColor(0, 0, 0);

inline constexpr int LampCount = 5;

// A rectangle in client pixels: right is left + width, exclusive; bottom likewise.
struct PixelRect {
    std::int32_t left;
    std::int32_t top;
    std::int32_t width;
    std::int32_t height;
    bool operator==(const PixelRect&) const = default;
};

class LampStrip {
public:
    // The strip's pixels are the dialog's client pixels: what is drawn at (x, y) shows at (x, y).
    static constexpr std::int32_t Width = 30;
    static constexpr std::int32_t Height = 105;
    static constexpr std::int32_t Left = 15;
    static constexpr std::int32_t Top = 20;

    // The whole picture, row by row from the top.
    struct Pixels {
        std::array<LampColor, Width * Height> rgb{};
        LampColor At(int x, int y) const { return rgb[static_cast<std::size_t>(y * Width + x)]; }
        bool operator==(const Pixels&) const = default;
    };

    LampStrip();

    // Lamp n (1 to 5) as an ellipse in the given colour with a one-pixel black outline.
    void DrawLamp(int n, LampColor color);

    // A copy of the whole picture, taken under the lock: what the paint handler copies.
    Pixels Snapshot() const;

    // The box of lamp n; right and bottom are exclusive.
    static PixelRect LampBox(int n);
    // The filled part of the strip: left 15, top 20, clipped to the picture.
    static PixelRect ValidArea();

private:
    mutable std::mutex lock_;
    Pixels pixels_;
};
