// What a screen reader is told of the page, the New IP Address dialog and
// the message boxes, read through QAccessible as the platform bridges read it.
#include "alerts.h"
#include "newipdlg.h"
#include "resource.h"
#include "setupsheet.h"
#include "testmain.h"

#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

namespace {

struct Control {
    const char* pszObject;
    QAccessible::Role role;
    const char* pszName;
    const char* pszLabel; // the label that names it, if any
};

QAccessibleInterface* Accessible(const QWidget& window, const char* pszObject)
{
    auto* pWidget = window.findChild<QWidget*>(QLatin1String(pszObject));
    return pWidget ? QAccessible::queryAccessibleInterface(pWidget) : nullptr;
}

void ExpectControls(const QWidget& window, std::initializer_list<Control> controls)
{
    for (const Control& c : controls) {
        SCOPED_TRACE(c.pszObject);
        QAccessibleInterface* pControl = Accessible(window, c.pszObject);
        ASSERT_NE(pControl, nullptr);
        EXPECT_EQ(pControl->role(), c.role);
        EXPECT_EQ(pControl->text(QAccessible::Name), c.pszName);
        EXPECT_FALSE(pControl->state().invisible);
        if (!c.pszLabel)
            continue;
        QAccessibleInterface* pLabel = Accessible(window, c.pszLabel);
        ASSERT_NE(pLabel, nullptr);
        const auto labelled = pLabel->relations(QAccessible::Labelled);
        ASSERT_EQ(labelled.size(), 1);
        EXPECT_EQ(labelled[0].first, pControl) << "label-for";
    }
}

// Every interface below pWindow, a table's cells aside, that is hidden or
// takes focus without a name; and the focusable ones' names.
void Sweep(QAccessibleInterface* pIface, QStringList& problems, QStringList& names)
{
    const QString strName = pIface->text(QAccessible::Name);
    if (pIface->state().invisible)
        problems << "hidden: " + strName;
    if (pIface->state().focusable)
        (strName.trimmed().isEmpty() ? problems : names) << strName;
    if (pIface->role() == QAccessible::Table || pIface->role() == QAccessible::PageTabList)
        return;
    for (int i = 0; i < pIface->childCount(); ++i)
        Sweep(pIface->child(i), problems, names);
}

QStringList FocusableNames(QWidget& window)
{
    QStringList problems, names;
    Sweep(QAccessible::queryAccessibleInterface(&window), problems, names);
    EXPECT_EQ(problems, QStringList());
    return names;
}

TEST(Accessibility, PageNamesEveryControlByItsLabelAndHidesSaveAndLoad)
{
    CSetupSheet sheet(QStringLiteral("Norvane Setup"));
    CChooseDlg& page = sheet.m_pageChoose;
    page.AddDevice({}, "NV10000001", "00:1A:2B:00:00:01", "10.200.1.1");
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));

    ExpectControls(page, {{"IDC_DEVICE_LIST", QAccessible::Table, "Select Norvane in the following list", "labelSelect"},
                          {"IDC_PASSWORD", QAccessible::EditableText, "Admin.'s Password", "labelPassword"},
                          {"IDC_SELECTED_IP", QAccessible::Grouping, "Selected IP Address", "labelSelectedIp"},
                          {"field0", QAccessible::EditableText, "first octet", nullptr},
                          {"field3", QAccessible::EditableText, "fourth octet", nullptr},
                          {"IDC_START_CONFIG", QAccessible::Button, "Start Configuration", nullptr},
                          {"IDC_CHANGE_IP", QAccessible::Button, "Change IP Addr", nullptr},
                          {"IDC_REBOOT", QAccessible::Button, "Reboot ...", nullptr}});
    EXPECT_EQ(FocusableNames(sheet),
              (QStringList{"Choose", "Select Norvane in the following list", "Admin.'s Password", "Start Configuration",
                           "Selected IP Address", "first octet", "second octet", "third octet", "fourth octet",
                           "Change IP Addr", "Reboot ...", "Choose", "OK", "Cancel", "Apply"}));

    // Hidden by the page, and so neither among its children nor shown.
    QAccessibleInterface* pPage = QAccessible::queryAccessibleInterface(&page);
    for (const char* pszHidden : {"IDC_SAVE_FLASHINFO", "IDC_LOAD_FLASHINFO", "groupFastConfig"}) {
        QAccessibleInterface* pIface = Accessible(page, pszHidden);
        ASSERT_NE(pIface, nullptr) << pszHidden;
        EXPECT_TRUE(pIface->state().invisible) << pszHidden;
        EXPECT_EQ(pPage->indexOfChild(pIface), -1) << pszHidden;
    }

    // A row's cells say their columns.
    QAccessibleTableInterface* pTable = Accessible(page, "IDC_DEVICE_LIST")->tableInterface();
    ASSERT_NE(pTable, nullptr);
    int nColumn = 0;
    for (const char* pszColumn : {"MAC Address", "IP Address", "Serial Number"}) {
        EXPECT_EQ(pTable->columnDescription(nColumn), pszColumn);
        EXPECT_EQ(pTable->cellAt(0, nColumn)->text(QAccessible::Description), pszColumn);
        ++nColumn;
    }
    EXPECT_EQ(pTable->cellAt(0, 1)->text(QAccessible::Name), "10.200.1.1");
}

// One object focused at a time: the address control, whose first field is
// its focus proxy, leaves the focused state to the field.
TEST(Accessibility, AddressControlLeavesFocusToItsField)
{
    CSetupSheet sheet(QStringLiteral("Norvane Setup"));
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
    sheet.findChild<QWidget*>(QStringLiteral("field0"))->setFocus();
    EXPECT_TRUE(Accessible(sheet, "field0")->state().focused);
    EXPECT_FALSE(Accessible(sheet, "IDC_SELECTED_IP")->state().focused);
}

TEST(Accessibility, NewIpDialogNamesItsAddressByTheLabel)
{
    CNewIpDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    ExpectControls(dlg, {{"IDOK", QAccessible::Button, "OK", nullptr},
                         {"IDCANCEL", QAccessible::Button, "Cancel", nullptr},
                         {"IDC_NEW_IP", QAccessible::Grouping, "Enter New IP Address", "IDC_STATIC"},
                         {"field1", QAccessible::EditableText, "second octet", nullptr}});
    EXPECT_EQ(FocusableNames(dlg).size(), 7);
}

// The real boxes, looked at while open.
TEST(Accessibility, MessageBoxesNameTheirButtonsAndHideNothing)
{
    QStringList names;
    const auto lookThenClose = [&] {
        QTimer::singleShot(0, [&] {
            auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(pBox, nullptr);
            EXPECT_EQ(QAccessible::queryAccessibleInterface(pBox)->role(), QAccessible::AlertMessage);
            names << FocusableNames(*pBox);
            pBox->reject();
        });
    };
    lookThenClose();
    ShowAlert(IDS_INVALID_IP);
    lookThenClose();
    AskQuestion(IDS_CONFIRM_REBOOT);
    EXPECT_TRUE(names.contains("OK") && names.contains("Yes") && names.contains("No")) << names.join('|').toStdString();
}

} // namespace

int main(int argc, char** argv)
{
    return RunTests(argc, argv);
}
