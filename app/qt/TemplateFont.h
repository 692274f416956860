#pragma once
// The dialog templates name faces that Linux seldom has ("Arial Black", "MS Sans Serif"). The
// texts are drawn in the template's face where it is installed, else in a stand-in of the same
// weight, at the pixel size the template's point size has at 96 DPI, made narrower or smaller
// only where a text would not fit its control.

#include <QFont>

class QWidget;

// Call after the controls are placed: the fit is judged against their rectangles and the texts
// they hold at that moment.
void ApplyTemplateFont(QWidget* dialog, QFont::Weight weight);
