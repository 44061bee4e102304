#include "dialogunits.h"

#include "ipaddressctrl.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRect>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

const char* const DLU_PROPERTY = "dlu";

QSizeF UnitSize(const QFontMetrics& fm)
{
    const QString strAlphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const long nAverage = std::lround(fm.horizontalAdvance(strAlphabet) / double(strAlphabet.size()));
    return QSizeF(double(nAverage) / 4.0, fm.height() / 8.0);
}

int ToPixels(int nDlu, double dUnit)
{
    return int(std::lround(nDlu * dUnit));
}

// Widths map on their own rather than as right minus left edge, so that
// controls of equal DLU width come out equally wide wherever they sit.
QRect ToPixels(const QRect& rectDlu, const QSizeF& unit)
{
    return QRect(ToPixels(rectDlu.x(), unit.width()), ToPixels(rectDlu.y(), unit.height()),
                 ToPixels(rectDlu.width(), unit.width()), ToPixels(rectDlu.height(), unit.height()));
}

// The smallest box that shows the child's text whole, or an empty size for a
// widget whose size hint is about something else (a list, a frame).
QSize TextSize(const QWidget* pChild, int nBoxWidth)
{
    if (const auto* pLabel = qobject_cast<const QLabel*>(pChild); pLabel && pLabel->wordWrap())
        return QSize(0, pLabel->heightForWidth(nBoxWidth));
    if (qobject_cast<const QLabel*>(pChild) || qobject_cast<const QAbstractButton*>(pChild)
        || qobject_cast<const QComboBox*>(pChild) || qobject_cast<const QAbstractSpinBox*>(pChild)
        || qobject_cast<const CIPAddressCtrl*>(pChild))
        return pChild->sizeHint();
    if (const auto* pEdit = qobject_cast<const QLineEdit*>(pChild)) {
        // The hint of a line edit asks for 17 characters whatever it holds;
        // the minimum hint holds one widest character, swapped here for the text.
        const QFontMetrics fm = pEdit->fontMetrics();
        const int nWidth = pEdit->minimumSizeHint().width() - fm.maxWidth() + fm.horizontalAdvance(pEdit->displayText());
        return QSize(nWidth, pEdit->sizeHint().height());
    }
    if (const auto* pGroup = qobject_cast<const QGroupBox*>(pChild))
        return pGroup->minimumSizeHint();
    return {};
}

// The unit that makes nDlu units round to at least nPixels.
double UnitToFit(int nPixels, int nDlu)
{
    return (nPixels - 0.49) / nDlu;
}

} // namespace

QSizeF DialogUnitSize(const QFont& font)
{
    return UnitSize(QFontMetrics(font));
}

QSizeF ApplyDialogUnits(QWidget* pWindow, QSize sizeDlu)
{
    pWindow->ensurePolished();
    QList<QWidget*> children;
    for (QWidget* pChild : pWindow->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (pChild->isWindow())
            continue;
        if (!pChild->property(DLU_PROPERTY).isValid())
            pChild->setProperty(DLU_PROPERTY, pChild->geometry());
        children.append(pChild);
    }

    const QSizeF unitFont = UnitSize(pWindow->fontMetrics());
    double dUnitX = unitFont.width();
    double dUnitY = unitFont.height();
    for (const QWidget* pChild : std::as_const(children)) {
        const QRect rectDlu = pChild->property(DLU_PROPERTY).toRect();
        const QSize sizeText = TextSize(pChild, ToPixels(rectDlu.width(), unitFont.width()));
        if (rectDlu.width() > 0)
            dUnitX = std::max(dUnitX, UnitToFit(sizeText.width(), rectDlu.width()));
        if (rectDlu.height() > 0)
            dUnitY = std::max(dUnitY, UnitToFit(sizeText.height(), rectDlu.height()));
    }

    const QSizeF unit(dUnitX, dUnitY);
    for (QWidget* pChild : std::as_const(children))
        pChild->setGeometry(ToPixels(pChild->property(DLU_PROPERTY).toRect(), unit));
    pWindow->setFixedSize(ToPixels(sizeDlu.width(), dUnitX), ToPixels(sizeDlu.height(), dUnitY));
    return unit;
}
