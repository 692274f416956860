#include "app/qt/TemplateFont.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>
#include <QWidget>

#include <cmath>

namespace {

// Below this the texts are no longer readable; better cut than invisible.
inline constexpr int SmallestPixels = 8;

int PixelsAt96Dpi(qreal points) {
    return static_cast<int>(std::lround(points * 96.0 / 72.0));
}

bool TextsFit(const QWidget* dialog, const QFont& font) {
    const QFontMetrics metrics(font);
    for (const QWidget* control : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        QString text;
        if (const auto* label = qobject_cast<const QLabel*>(control)) {
            text = label->text();
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(control)) {
            text = button->text();
        }
        if (control->isHidden() || text.isEmpty()) {
            continue;
        }
        const QRect room = control->contentsRect();
        if (metrics.horizontalAdvance(text) > room.width() || metrics.height() > room.height()) {
            return false;
        }
    }
    return true;
}

} // namespace

void ApplyTemplateFont(QWidget* dialog, QFont::Weight weight) {
    QFont font = dialog->font();
    font.setWeight(weight);
    for (int pixels = PixelsAt96Dpi(font.pointSizeF()); pixels >= SmallestPixels; --pixels) {
        font.setPixelSize(pixels);
        for (const int stretch : {QFont::Unstretched, QFont::SemiCondensed, QFont::Condensed}) {
            font.setStretch(stretch);
            if (TextsFit(dialog, font)) {
                dialog->setFont(font);
                return;
            }
        }
    }
    dialog->setFont(font);
}
