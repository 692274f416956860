#include "app/LampStrip.h"

#include <QPainter>

LampStrip::LampStrip() : image_(Width, Height, QImage::Format_RGB32) {
    // Outside the filled rectangle nothing is ever shown; black makes a stray copy obvious.
    image_.fill(Qt::black);
    QPainter painter(&image_);
    painter.fillRect(QRect(Left, Top, Width, Height), QColor(ColorStripBackground));
}

QRect LampStrip::LampBox(int n) {
    const int top = Top + 18 * (n - 1);
    return QRect(18, top, 10, 10);
}

QRect LampStrip::ValidArea() {
    return QRect(Left, Top, Width, Height).intersected(QRect(0, 0, Width, Height));
}

void LampStrip::DrawLamp(int n, QRgb color) {
    if (n < 1 || n > LampCount) {
        return;
    }
    // An aliased one-pixel outline covers one pixel beyond the rectangle's right and bottom
    // edges; one less keeps the lamp inside its box.
    const QRect box = LampBox(n);
    const QRect ellipse(box.left(), box.top(), box.width() - 1, box.height() - 1);
    std::lock_guard<std::mutex> guard(lock_);
    QPainter painter(&image_);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::black, 0));
    painter.setBrush(QColor(color));
    painter.drawEllipse(ellipse);
}

void LampStrip::CopyTo(QPainter& painter) const {
    const QRect area = ValidArea();
    std::lock_guard<std::mutex> guard(lock_);
    painter.drawImage(area.topLeft(), image_, area);
}

QImage LampStrip::Snapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    return image_.copy();
}
