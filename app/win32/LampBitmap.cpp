#include "app/win32/LampBitmap.h"

LampBitmap::~LampBitmap() {
    if (memory_ != nullptr) {
        SelectObject(memory_, previous_);
        DeleteDC(memory_);
    }
    if (bitmap_ != nullptr) {
        DeleteObject(bitmap_);
    }
}

void LampBitmap::Build(HDC client) {
    memory_ = CreateCompatibleDC(client);
    bitmap_ = CreateCompatibleBitmap(client, LampStrip::Width, LampStrip::Height);
    previous_ = SelectObject(memory_, bitmap_);
}

void LampBitmap::CopyTo(HDC dc, const LampStrip::Pixels& pixels) {
    // The core's pixels are 0x00RRGGBB, the layout of a 32-bit DIB; a negative height makes the
    // rows run from the top, as the core keeps them.
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = LampStrip::Width;
    info.bmiHeader.biHeight = -LampStrip::Height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(memory_, 0, 0, LampStrip::Width, LampStrip::Height, 0, 0, 0,
                      LampStrip::Height, pixels.rgb.data(), &info, DIB_RGB_COLORS);
    const PixelRect area = LampStrip::ValidArea();
    BitBlt(dc, area.left, area.top, area.width, area.height, memory_, area.left, area.top, SRCCOPY);
}
