// What a screen reader hears of the window's controls.
//
// A label beside a control names nothing by itself here: LabelControl ties
// the two (the label-for relation) and gives the control the label's text as
// its accessible name. ExposeAs gives a container the role a reader should
// announce and leaves its hidden children out of the accessibility tree, so
// that controls the window never shows are never read.
#pragma once

#include <QAccessible>

class QLabel;
class QWidget;

void LabelControl(QLabel* pLabel, QWidget* pControl);

// Call before anything asks for pContainer's accessible interface: Qt keeps
// the first one made for an object.
void ExposeAs(QWidget* pContainer, QAccessible::Role role);
