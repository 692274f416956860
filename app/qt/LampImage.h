#pragma once
// The core's lamp strip as the Qt face paints it.

#include "app/core/LampStrip.h"

#include <QImage>
#include <QRect>

QImage LampImage(const LampStrip::Pixels& pixels);

inline QRect ToQRect(const PixelRect& r) {
    return QRect(r.left, r.top, r.width, r.height);
}
