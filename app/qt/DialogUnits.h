#pragma once
// Dialog templates measure in dialog units, which scale with the dialog's font: a horizontal
// unit is a quarter of the font's average character width, a vertical one an eighth of its
// height. Forms keep each control's template rectangle in the property "dialogUnits", and in
// "baseUnits" the character size their template font has on Windows at 96 DPI. The layout uses
// those, not the font that happens to be installed: the lamps stand at fixed pixels, and the
// labels must stay beside them.

#include <QRect>
#include <QSize>

class QWidget;

struct DialogBaseUnits {
    int charWidth;  // average width of the letters A to Z and a to z, rounded
    int charHeight; // the font's line height
};

// The dialog's "baseUnits" property.
DialogBaseUnits BaseUnitsOf(const QWidget* dialog);

QRect DialogUnitsToPixels(const QRect& units, const DialogBaseUnits& base);
QSize DialogUnitsToPixels(const QSize& units, const DialogBaseUnits& base);

// Sizes the dialog's client area from its "dialogSize" property and places every child that
// carries a "dialogUnits" rectangle, with the dialog's base units.
void ApplyDialogUnits(QWidget* dialog);

// The child whose "controlId" property is id, or null.
QWidget* FindControl(const QWidget* dialog, int id);
