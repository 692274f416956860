#include "app/qt/DialogUnits.h"

#include <QVariant>
#include <QWidget>

namespace {

// Rounded like the platform's MulDiv, which the template conversion has always used.
int MulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>((product >= 0 ? product + half : product - half) / denominator);
}

} // namespace

DialogBaseUnits BaseUnitsOf(const QWidget* dialog) {
    const QSize units = dialog->property("baseUnits").toSize();
    return {units.width(), units.height()};
}

QRect DialogUnitsToPixels(const QRect& units, const DialogBaseUnits& base) {
    return QRect(MulDiv(units.x(), base.charWidth, 4), MulDiv(units.y(), base.charHeight, 8),
                 MulDiv(units.width(), base.charWidth, 4),
                 MulDiv(units.height(), base.charHeight, 8));
}

QSize DialogUnitsToPixels(const QSize& units, const DialogBaseUnits& base) {
    return QSize(MulDiv(units.width(), base.charWidth, 4),
                 MulDiv(units.height(), base.charHeight, 8));
}

void ApplyDialogUnits(QWidget* dialog) {
    const DialogBaseUnits base = BaseUnitsOf(dialog);
    for (QWidget* child : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const QVariant units = child->property("dialogUnits");
        if (units.isValid()) {
            child->setGeometry(DialogUnitsToPixels(units.toRect(), base));
        }
    }
    dialog->setFixedSize(DialogUnitsToPixels(dialog->property("dialogSize").toSize(), base));
}

QWidget* FindControl(const QWidget* dialog, int id) {
    for (QWidget* child : dialog->findChildren<QWidget*>()) {
        const QVariant value = child->property("controlId");
        if (value.isValid() && value.toInt() == id) {
            return child;
        }
    }
    return nullptr;
}
