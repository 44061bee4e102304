// Dialog units: window layouts written in units of the dialog font.
//
// Geometry in our .ui files is in dialog units (DLUs): a horizontal unit is a
// quarter of the font's average character width, a vertical unit an eighth of
// its height. ApplyDialogUnits turns it into pixels for the font in use and
// widens the units where a control's text would otherwise be clipped.
#pragma once

#include <QSize>
#include <QSizeF>

class QFont;
class QWidget;

// Pixels per horizontal and per vertical dialog unit for this font.
QSizeF DialogUnitSize(const QFont& font);

// Takes each direct child's geometry as a DLU rectangle (the one loaded from
// the .ui, kept in the child's "dlu" property, so that a later call after a
// font change starts from DLUs again) and sets it in pixels; the window gets
// sizeDlu as its fixed size. When some label, button, edit or address
// control would not show its text whole, the unit of that axis grows for the
// whole window, keeping its proportions. Returns the units applied.
QSizeF ApplyDialogUnits(QWidget* pWindow, QSize sizeDlu);
