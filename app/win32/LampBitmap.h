#pragma once
// The lamp strip as the dialog shows it: a 30 x 105 memory bitmap compatible with the dialog's
// client area, loaded with the core's strip and copied to the screen on WM_PAINT.

#include "app/core/LampStrip.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

class LampBitmap {
public:
    LampBitmap() = default;
    ~LampBitmap();
    LampBitmap(const LampBitmap&) = delete;
    LampBitmap& operator=(const LampBitmap&) = delete;

    // Creates the memory context and the bitmap, compatible with the dialog's client context.
    void Build(HDC client);

    // Loads pixels into the bitmap and copies its filled part to the same place of dc.
    void CopyTo(HDC dc, const LampStrip::Pixels& pixels);

private:
    HDC memory_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};
