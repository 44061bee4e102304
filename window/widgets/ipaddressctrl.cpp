#include "ipaddressctrl.h"

#include "accessibility.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

namespace {

constexpr int FIELD_DIGITS = 3;
const char* const kFieldNames[CIPAddressCtrl::FIELD_COUNT] = {"first octet", "second octet", "third octet",
                                                             "fourth octet"};
constexpr int FIELD_MAX = 255;
// QLineEdit keeps this many pixels free on each side of its text.
constexpr int EDIT_TEXT_MARGIN = 2;

int FieldValue(const QLineEdit* pField)
{
    return std::min(pField->text().toInt(), FIELD_MAX);
}

void InitFrameOption(const QWidget* pWidget, bool bFocus, QStyleOptionFrame& opt)
{
    opt.initFrom(pWidget);
    opt.rect = pWidget->rect();
    opt.lineWidth = pWidget->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, pWidget);
    opt.midLineWidth = 0;
    opt.state |= QStyle::State_Sunken;
    // initFrom looks only at the focus proxy; any field counts.
    opt.state.setFlag(QStyle::State_HasFocus, bFocus);
}

} // namespace

CIPAddressCtrl::CIPAddressCtrl(QWidget* pParent)
    : QWidget(pParent)
{
    // A reader announces the four fields as one address, named by its label.
    ExposeAs(this, QAccessible::Grouping);
    const QRegularExpression reDigits(QStringLiteral("[0-9]{0,%1}").arg(FIELD_DIGITS));
    for (int i = 0; i < FIELD_COUNT; ++i) {
        auto* pField = new QLineEdit(this);
        pField->setObjectName(QStringLiteral("field%1").arg(i));
        pField->setAccessibleName(QString::fromLatin1(kFieldNames[i]));
        pField->setFrame(false);
        pField->setAlignment(Qt::AlignCenter);
        pField->setMaxLength(FIELD_DIGITS);
        pField->setValidator(new QRegularExpressionValidator(reDigits, pField));
        // The control paints the one panel behind all fields; a field painting
        // its own would cut the frame's shading into pieces.
        QPalette palette = pField->palette();
        palette.setBrush(QPalette::Base, Qt::transparent);
        pField->setPalette(palette);
        // Only the first field is a tab stop; the others are reached by typing or clicking.
        pField->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        pField->installEventFilter(this);
        connect(pField, &QLineEdit::textEdited, this, [this, i] { OnFieldEdited(i); });
        // The range holds however the text is set: typed, by the program, or
        // over the accessibility bus, which bypasses the edits' signals.
        connect(pField, &QLineEdit::textChanged, this, [this, pField] {
            if (pField->text().toInt() > FIELD_MAX)
                pField->setText(QString::number(FIELD_MAX)); // whose textChanged emits
            else
                emit addressChanged();
        });
        m_pFields[i] = pField;
    }
    setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(m_pFields[0]);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    LayoutFields();
}

void CIPAddressCtrl::SetAddress(quint32 dwAddress)
{
    SetAddress(quint8(dwAddress >> 24), quint8(dwAddress >> 16), quint8(dwAddress >> 8), quint8(dwAddress));
}

void CIPAddressCtrl::SetAddress(quint8 nField0, quint8 nField1, quint8 nField2, quint8 nField3)
{
    const quint8 values[FIELD_COUNT] = {nField0, nField1, nField2, nField3};
    for (int i = 0; i < FIELD_COUNT; ++i) {
        const QSignalBlocker blocker(m_pFields[i]);
        m_pFields[i]->setText(QString::number(values[i]));
    }
    emit addressChanged();
}

int CIPAddressCtrl::GetAddress(quint8& nField0, quint8& nField1, quint8& nField2, quint8& nField3) const
{
    quint8* values[FIELD_COUNT] = {&nField0, &nField1, &nField2, &nField3};
    int nFilled = 0;
    for (int i = 0; i < FIELD_COUNT; ++i) {
        *values[i] = quint8(FieldValue(m_pFields[i]));
        if (!m_pFields[i]->text().isEmpty())
            ++nFilled;
    }
    return nFilled;
}

int CIPAddressCtrl::GetAddress(quint32& dwAddress) const
{
    quint8 n0 = 0, n1 = 0, n2 = 0, n3 = 0;
    const int nFilled = GetAddress(n0, n1, n2, n3);
    dwAddress = quint32(n0) << 24 | quint32(n1) << 16 | quint32(n2) << 8 | quint32(n3);
    return nFilled;
}

void CIPAddressCtrl::ClearAddress()
{
    for (QLineEdit* pField : m_pFields) {
        const QSignalBlocker blocker(pField);
        pField->clear();
    }
    emit addressChanged();
}

bool CIPAddressCtrl::IsBlank() const
{
    return std::all_of(m_pFields.begin(), m_pFields.end(),
                       [](const QLineEdit* pField) { return pField->text().isEmpty(); });
}

QLineEdit* CIPAddressCtrl::Field(int nIndex) const
{
    return nIndex >= 0 && nIndex < FIELD_COUNT ? m_pFields[nIndex] : nullptr;
}

QSize CIPAddressCtrl::sizeHint() const
{
    ensurePolished();
    const QFontMetrics fm(font());
    int nDigit = 0;
    for (char c = '0'; c <= '9'; ++c)
        nDigit = std::max(nDigit, fm.horizontalAdvance(QLatin1Char(c)));
    // One more pixel for the text cursor behind the last digit.
    const int nField = FIELD_DIGITS * nDigit + 2 * EDIT_TEXT_MARGIN + 1;
    const QSize sizeContents(FIELD_COUNT * nField + (FIELD_COUNT - 1) * DotWidth(), std::max(fm.height(), 14) + 2);

    QStyleOptionFrame opt;
    InitFrameOption(this, HasFieldFocus(), opt);
    const QSize sizeStyle = style()->sizeFromContents(QStyle::CT_LineEdit, &opt, sizeContents, this);
    // The fields are laid out inside the frame line alone; a style that adds
    // less than that must not squeeze them.
    return sizeStyle.expandedTo(sizeContents + QSize(2 * opt.lineWidth, 2 * opt.lineWidth));
}

QSize CIPAddressCtrl::minimumSizeHint() const
{
    return sizeHint();
}

bool CIPAddressCtrl::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    const int nIndex = FieldIndex(pWatched);
    if (nIndex < 0)
        return QWidget::eventFilter(pWatched, pEvent);
    switch (pEvent->type()) {
    case QEvent::KeyPress:
        return HandleKey(nIndex, static_cast<QKeyEvent*>(pEvent));
    case QEvent::FocusOut:
        if (nIndex == m_nAdvancedTo)
            m_nAdvancedTo = -1;
        update();
        break;
    case QEvent::FocusIn:
        update();
        break;
    default:
        break;
    }
    return false;
}

bool CIPAddressCtrl::focusNextPrevChild(bool bNext)
{
    // Shift+Tab from a later field would stop at the first one, the focus
    // proxy; hide it from the search so the control is left as a whole.
    if (bNext || m_pFields[0]->hasFocus())
        return QWidget::focusNextPrevChild(bNext);
    m_pFields[0]->setFocusPolicy(Qt::ClickFocus);
    const bool bMoved = QWidget::focusNextPrevChild(bNext);
    m_pFields[0]->setFocusPolicy(Qt::StrongFocus);
    return bMoved;
}

void CIPAddressCtrl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOptionFrame opt;
    InitFrameOption(this, HasFieldFocus(), opt);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &opt, &painter, this);

    for (int i = 0; i + 1 < FIELD_COUNT; ++i) {
        const QRect rectField = m_pFields[i]->geometry();
        const QRect rectDot(rectField.right() + 1, rectField.top(), DotWidth(), rectField.height());
        style()->drawItemText(&painter, rectDot, Qt::AlignCenter, palette(), isEnabled(), QStringLiteral("."),
                              QPalette::Text);
    }
}

void CIPAddressCtrl::resizeEvent(QResizeEvent* pEvent)
{
    QWidget::resizeEvent(pEvent);
    LayoutFields();
}

void CIPAddressCtrl::changeEvent(QEvent* pEvent)
{
    QWidget::changeEvent(pEvent);
    if (pEvent->type() == QEvent::FontChange || pEvent->type() == QEvent::StyleChange) {
        updateGeometry();
        LayoutFields();
        update();
    }
}

int CIPAddressCtrl::FieldIndex(const QObject* pObject) const
{
    const auto it = std::find(m_pFields.begin(), m_pFields.end(), pObject);
    return it == m_pFields.end() ? -1 : int(it - m_pFields.begin());
}

bool CIPAddressCtrl::HandleKey(int nIndex, QKeyEvent* pKey)
{
    if (pKey->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QLineEdit* pField = m_pFields[nIndex];
    const bool bFirst = nIndex == 0;
    const bool bLast = nIndex == FIELD_COUNT - 1;
    const bool bAtStart = !pField->hasSelectedText() && pField->cursorPosition() == 0;
    const bool bAtEnd = !pField->hasSelectedText() && pField->cursorPosition() == pField->text().size();
    const bool bJustAdvanced = nIndex == m_nAdvancedTo;
    m_nAdvancedTo = -1;

    switch (pKey->key()) {
    case Qt::Key_Period:
    case Qt::Key_Space:
        // Never inserted. In a blank field it does nothing, so "1..2" cannot
        // skip a field; right after a third digit moved on it ends that
        // field, so "192.168" over a filled address does not skip one either.
        if (!bJustAdvanced && !pField->text().isEmpty() && !bLast)
            EnterField(nIndex + 1, true);
        return true;
    case Qt::Key_Backspace:
    case Qt::Key_Left:
        if (bAtStart && !bFirst) {
            EnterField(nIndex - 1, false);
            m_pFields[nIndex - 1]->end(false);
            return true;
        }
        return false;
    case Qt::Key_Right:
        if (bAtEnd && !bLast) {
            EnterField(nIndex + 1, false);
            m_pFields[nIndex + 1]->home(false);
            return true;
        }
        return false;
    default:
        return false;
    }
}

void CIPAddressCtrl::OnFieldEdited(int nIndex)
{
    QLineEdit* pField = m_pFields[nIndex];
    // Only a digit typed at the end fills the field and moves on; an edit
    // in the middle of a full field stays put.
    const bool bAtEnd = pField->cursorPosition() == pField->text().size();
    if (pField->text().toInt() > FIELD_MAX) {
        pField->setText(QString::number(FIELD_MAX));
        pField->end(false);
    }
    if (bAtEnd && pField->text().size() == FIELD_DIGITS && nIndex + 1 < FIELD_COUNT && pField->hasFocus()) {
        EnterField(nIndex + 1, true);
        m_nAdvancedTo = nIndex + 1;
    }
}

void CIPAddressCtrl::EnterField(int nIndex, bool bSelectAll)
{
    QLineEdit* pField = m_pFields[nIndex];
    pField->setFocus(Qt::OtherFocusReason);
    if (bSelectAll)
        pField->selectAll();
    else
        pField->deselect();
}

void CIPAddressCtrl::LayoutFields()
{
    QStyleOptionFrame opt;
    InitFrameOption(this, false, opt);
    const QRect rectInner = rect().adjusted(opt.lineWidth, opt.lineWidth, -opt.lineWidth, -opt.lineWidth);
    const int nDot = DotWidth();
    const int nFieldSpace = std::max(0, rectInner.width() - (FIELD_COUNT - 1) * nDot);
    for (int i = 0; i < FIELD_COUNT; ++i) {
        // Spreading the remainder keeps every field within a pixel of the others.
        const int nLeft = rectInner.left() + i * nDot + nFieldSpace * i / FIELD_COUNT;
        const int nRight = rectInner.left() + i * nDot + nFieldSpace * (i + 1) / FIELD_COUNT;
        m_pFields[i]->setGeometry(nLeft, rectInner.top(), nRight - nLeft, rectInner.height());
    }
}

int CIPAddressCtrl::DotWidth() const
{
    return fontMetrics().horizontalAdvance(QLatin1Char('.')) + 2;
}

bool CIPAddressCtrl::HasFieldFocus() const
{
    return std::any_of(m_pFields.begin(), m_pFields.end(), [](const QLineEdit* pField) { return pField->hasFocus(); });
}
