#include "accessibility.h"

#include <QAccessibleWidget>
#include <QLabel>
#include <QRegularExpression>
#include <QWidget>

namespace {

constexpr char ROLE_PROPERTY[] = "norvaneAccessibleRole";

class CShownChildrenAccessible : public QAccessibleWidget {
public:
    using QAccessibleWidget::QAccessibleWidget;

    int childCount() const override { return int(ShownChildren().size()); }

    QAccessibleInterface* child(int nIndex) const override
    {
        const QList<QWidget*> children = ShownChildren();
        return nIndex >= 0 && nIndex < children.size() ? QAccessible::queryAccessibleInterface(children[nIndex])
                                                       : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* pChild) const override
    {
        return pChild ? int(ShownChildren().indexOf(qobject_cast<QWidget*>(pChild->object()))) : -1;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        // hasFocus() follows the focus proxy: the child that has the focus
        // says so, and a reader must not hear of two objects focused.
        if (widget()->focusProxy())
            state.focused = false;
        return state;
    }

private:
    // A child hidden by the window itself, not one merely not yet shown.
    QList<QWidget*> ShownChildren() const
    {
        QList<QWidget*> children;
        for (QWidget* pChild : widget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (!pChild->isWindow() && !pChild->isHidden())
                children << pChild;
        return children;
    }
};

// Asked for each class of an object's hierarchy, most derived first: answer
// only there, so that Qt's own interfaces serve every other object.
QAccessibleInterface* AccessibleFactory(const QString& strClass, QObject* pObject)
{
    auto* pWidget = qobject_cast<QWidget*>(pObject);
    if (!pWidget || strClass != QLatin1String(pObject->metaObject()->className()))
        return nullptr;
    const QVariant role = pWidget->property(ROLE_PROPERTY);
    if (!role.isValid())
        return nullptr;
    return new CShownChildrenAccessible(pWidget, QAccessible::Role(role.toInt()));
}

} // namespace

void LabelControl(QLabel* pLabel, QWidget* pControl)
{
    pLabel->setBuddy(pControl);
    // Read as a person says it: no mnemonic marker, no colon at the end.
    static const QRegularExpression reMnemonic(QStringLiteral("&(.)"));
    static const QRegularExpression reColon(QStringLiteral("\\s*:\\s*$"));
    QString strName = pLabel->text();
    strName.replace(reMnemonic, QStringLiteral("\\1"));
    strName.remove(reColon);
    pControl->setAccessibleName(strName);
}

void ExposeAs(QWidget* pContainer, QAccessible::Role role)
{
    static const bool s_bInstalled = (QAccessible::installFactory(AccessibleFactory), true);
    Q_UNUSED(s_bInstalled);
    pContainer->setProperty(ROLE_PROPERTY, int(role));
}
