// CNewIpDlg: running it modally, its results, tab order and its layout in
// dialog units at small and large fonts.
#include "dialogunits.h"
#include "ipaddressctrl.h"
#include "newipdlg.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <optional>

namespace {

using Octets = std::array<int, 4>;

Octets Result(const CNewIpDlg& dlg)
{
    quint8 n0 = 0, n1 = 0, n2 = 0, n3 = 0;
    dlg.GetAddress(n0, n1, n2, n3);
    return {n0, n1, n2, n3};
}

QStringList Shown(const CNewIpDlg& dlg)
{
    QStringList texts;
    for (int i = 0; i < CIPAddressCtrl::FIELD_COUNT; ++i)
        texts << dlg.m_ipNew->Field(i)->text();
    return texts;
}

QPushButton* Button(const QWidget& dlg, const char* pszName)
{
    return dlg.findChild<QPushButton*>(QLatin1String(pszName));
}

// Names what has focus: a field of the address control or a button's object name.
QString FocusName()
{
    const QWidget* pFocus = QApplication::focusWidget();
    return pFocus ? pFocus->objectName() : QString();
}

// Keys to whatever has focus: '>' Right, '~' Delete, '\t' Tab, '^' Shift+Tab,
// '\r' Return, '\x1b' Escape.
void Type(const char* pszKeys)
{
    QWidget* const pFocus = nullptr;
    for (const char* p = pszKeys; *p; ++p) {
        switch (*p) {
        case '>': QTest::keyClick(pFocus, Qt::Key_Right); break;
        case '~': QTest::keyClick(pFocus, Qt::Key_Delete); break;
        case '\t': QTest::keyClick(pFocus, Qt::Key_Tab); break;
        case '^': QTest::keyClick(pFocus, Qt::Key_Backtab, Qt::ShiftModifier); break;
        case '\r': QTest::keyClick(pFocus, Qt::Key_Return); break;
        case '\x1b': QTest::keyClick(pFocus, Qt::Key_Escape); break;
        default: QTest::keyClick(pFocus, *p); break;
        }
    }
}

// Runs the dialog with DoModal; once it is the active modal window, records
// what it shows and hands it to fnInteract, which must close it.
int RunModal(CNewIpDlg& dlg, const std::function<void(CNewIpDlg&)>& fnInteract, QStringList* pShown = nullptr)
{
    QTimer::singleShot(0, [&] {
        auto* pDlg = qobject_cast<CNewIpDlg*>(QApplication::activeModalWidget());
        if (pDlg != &dlg) {
            ADD_FAILURE() << "the dialog is not the active modal window";
            dlg.reject();
            return;
        }
        EXPECT_TRUE(QTest::qWaitForWindowActive(pDlg));
        if (pShown)
            *pShown = Shown(dlg);
        fnInteract(dlg);
        if (dlg.isVisible()) {
            ADD_FAILURE() << "the interaction left the dialog open";
            dlg.reject();
        }
    });
    return dlg.DoModal();
}

TEST(Run, ResultsAndTheAddressReturned)
{
    struct SCase {
        const char* pszName;
        Octets preset;
        std::function<void(CNewIpDlg&)> fnInteract;
        int nResult;
        Octets result;
    };
    const auto typing = [](const char* pszKeys) { return [pszKeys](CNewIpDlg&) { Type(pszKeys); }; };
    const SCase cases[] = {
        {"OK unchanged gives the zero preset back", {0, 0, 0, 0},
         [](CNewIpDlg& dlg) { Button(dlg, "IDOK")->click(); }, IDOK, {0, 0, 0, 0}},
        {"Enter at once accepts the preset", {192, 168, 0, 20},
         [](CNewIpDlg&) {
             EXPECT_EQ(FocusName(), QStringLiteral("IDOK"));
             Type("\r");
         },
         IDOK, {192, 168, 0, 20}},
        {"a blank field is 0", {0, 0, 0, 0}, typing("\t\t10.~>~1.2\r"), IDOK, {10, 0, 1, 2}},
        {"typed over the preset", {10, 200, 1, 7}, typing("\t\t172.16.5.9\r"), IDOK, {172, 16, 5, 9}},
        {"clicking OK", {10, 200, 1, 7},
         [](CNewIpDlg& dlg) {
             Type("\t\t5");
             QTest::mouseClick(Button(dlg, "IDOK"), Qt::LeftButton);
         },
         IDOK, {5, 200, 1, 7}},
        {"Cancel keeps the preset", {10, 200, 1, 7},
         [](CNewIpDlg& dlg) {
             Type("\t\t99");
             QTest::mouseClick(Button(dlg, "IDCANCEL"), Qt::LeftButton);
         },
         IDCANCEL, {10, 200, 1, 7}},
        {"Escape keeps the preset", {10, 200, 1, 7}, typing("\t\t99\x1b"), IDCANCEL, {10, 200, 1, 7}},
        {"the close box keeps the preset", {10, 200, 1, 7},
         [](CNewIpDlg& dlg) {
             Type("\t\t99");
             dlg.close();
         },
         IDCANCEL, {10, 200, 1, 7}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        CNewIpDlg dlg;
        EXPECT_EQ(Result(dlg), (Octets{0, 0, 0, 0}));
        dlg.SetAddress(quint8(c.preset[0]), quint8(c.preset[1]), quint8(c.preset[2]), quint8(c.preset[3]));
        QStringList shown;
        EXPECT_EQ(RunModal(dlg, c.fnInteract, &shown), c.nResult);
        EXPECT_EQ(shown, (QStringList{QString::number(c.preset[0]), QString::number(c.preset[1]),
                                      QString::number(c.preset[2]), QString::number(c.preset[3])}));
        EXPECT_EQ(Result(dlg), c.result);
    }
}

TEST(Run, EachRunStartsFromTheStoredAddress)
{
    CNewIpDlg dlg;
    dlg.SetAddress(1, 2, 3, 4);
    EXPECT_EQ(RunModal(dlg, [](CNewIpDlg&) { Type("\t\t9.9.9.9\r"); }), IDOK);
    QStringList shown;
    EXPECT_EQ(RunModal(dlg, [](CNewIpDlg&) { Type("\x1b"); }, &shown), IDCANCEL);
    EXPECT_EQ(shown, (QStringList{"9", "9", "9", "9"}));

    // Shown without DoModal, it starts the same way.
    dlg.SetAddress(5, 6, 7, 8);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    EXPECT_EQ(Shown(dlg), (QStringList{"5", "6", "7", "8"}));
    EXPECT_EQ(FocusName(), QStringLiteral("IDOK"));
    dlg.m_ipNew->SetAddress(9, 8, 7, 6);
    dlg.accept();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(Result(dlg), (Octets{9, 8, 7, 6}));
}

TEST(Run, TabOrderIsOkCancelAddress)
{
    CNewIpDlg dlg;
    QStringList order;
    RunModal(dlg, [&](CNewIpDlg&) {
        order << FocusName();
        for (const char* pszKey : {"\t", "\t", "\t", "^", "1.", "^"}) {
            Type(pszKey);
            order << FocusName();
        }
        Type("\x1b");
    });
    EXPECT_EQ(order, (QStringList{"IDOK", "IDCANCEL", "field0", "IDOK", "field0", "field1", "IDCANCEL"}));
}

// Sets the application font for one scope.
struct CAppFont {
    QFont m_fontSaved = QApplication::font();
    explicit CAppFont(int nPoints)
    {
        QFont font = m_fontSaved;
        font.setPointSize(nPoints);
        QApplication::setFont(font);
    }
    ~CAppFont() { QApplication::setFont(m_fontSaved); }
};

// Every control shows its text whole, sits where its DLU rectangle says
// (to the pixel, in one unit per axis) and OK and Cancel stay alike.
void ExpectLaidOut(const CNewIpDlg& dlg)
{
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("New IP Address"));
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
    const double dUnitX = dlg.width() / 169.0;
    const double dUnitY = dlg.height() / 89.0;
    const struct {
        const char* pszName;
        QRect rectDlu;
    } controls[] = {
        {"IDOK", {28, 57, 50, 14}},
        {"IDCANCEL", {91, 57, 50, 14}},
        {"IDC_STATIC", {45, 17, 79, 8}},
        {"IDC_NEW_IP", {35, 31, 100, 15}},
    };
    for (const auto& control : controls) {
        SCOPED_TRACE(control.pszName);
        const QWidget* pControl = dlg.findChild<QWidget*>(QLatin1String(control.pszName));
        ASSERT_NE(pControl, nullptr);
        const QRect rect = pControl->geometry();
        EXPECT_LE(pControl->sizeHint().width(), rect.width());
        EXPECT_LE(pControl->sizeHint().height(), rect.height());
        EXPECT_NEAR(rect.x(), control.rectDlu.x() * dUnitX, 1.0);
        EXPECT_NEAR(rect.y(), control.rectDlu.y() * dUnitY, 1.0);
        EXPECT_NEAR(rect.width(), control.rectDlu.width() * dUnitX, 1.0);
        EXPECT_NEAR(rect.height(), control.rectDlu.height() * dUnitY, 1.0);
    }
    EXPECT_EQ(Button(dlg, "IDOK")->size(), Button(dlg, "IDCANCEL")->size());
    EXPECT_TRUE(Button(dlg, "IDOK")->isDefault());
    EXPECT_EQ(qobject_cast<QLabel*>(dlg.findChild<QWidget*>("IDC_STATIC"))->text(),
              QStringLiteral("Enter New IP Address :"));
}

TEST(Layout, TextFitsAtAnyApplicationFont)
{
    for (int nPoints : {0, 6, 20, 32}) {
        SCOPED_TRACE(nPoints);
        std::optional<CAppFont> font;
        if (nPoints)
            font.emplace(nPoints);
        CNewIpDlg dlg;
        ExpectLaidOut(dlg);
        if (nPoints) {
            const QSizeF unit = DialogUnitSize(dlg.font());
            EXPECT_GE(dlg.width(), std::lround(169 * unit.width()));
            EXPECT_GE(dlg.height(), std::lround(89 * unit.height()));
        }
    }
}

TEST(Layout, FollowsALaterFontChange)
{
    CNewIpDlg dlg;
    const QSize sizeBefore = dlg.size();
    {
        CAppFont font(24);
        EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.width() > sizeBefore.width(); }));
        EXPECT_GT(dlg.height(), sizeBefore.height());
        ExpectLaidOut(dlg);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.size() == sizeBefore; }));
}

TEST(DialogUnits, UnitsGrowOnlyForTextThatWouldBeClipped)
{
    const QString strLong = QStringLiteral("a text far too long for a box ten units wide");
    struct SCase {
        const char* pszName;
        std::function<QWidget*(QWidget*)> fnMake;
        QRect rectDlu;
        bool bWiderX;
        bool bTallerY;
    };
    const SCase cases[] = {
        {"frame", [](QWidget* p) { return new QFrame(p); }, {0, 0, 10, 4}, false, false},
        {"list", [](QWidget* p) { return new QListWidget(p); }, {0, 0, 20, 10}, false, false},
        {"empty edit", [](QWidget* p) { return new QLineEdit(p); }, {0, 0, 30, 14}, false, false},
        {"long edit", [&](QWidget* p) { return new QLineEdit(strLong, p); }, {0, 0, 30, 14}, true, false},
        {"long label", [&](QWidget* p) { return new QLabel(strLong, p); }, {0, 0, 10, 8}, true, false},
        {"wrapped label",
         [&](QWidget* p) {
             auto* pLabel = new QLabel(strLong, p);
             pLabel->setWordWrap(true);
             return pLabel;
         },
         {0, 0, 40, 8}, false, true},
        {"button", [](QWidget* p) { return new QPushButton(QStringLiteral("OK"), p); }, {0, 0, 50, 4}, false, true},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        QWidget window;
        auto* pFrame = new QFrame(&window);
        pFrame->setGeometry(10, 20, 100, 50);
        QWidget* pChild = c.fnMake(&window);
        pChild->setGeometry(c.rectDlu);

        const QSizeF unitFont = DialogUnitSize(window.font());
        const QSizeF unit = ApplyDialogUnits(&window, QSize(200, 100));
        EXPECT_EQ(unit.width() > unitFont.width(), c.bWiderX);
        EXPECT_EQ(unit.height() > unitFont.height(), c.bTallerY);
        EXPECT_EQ(pFrame->geometry(), QRect(std::lround(10 * unit.width()), std::lround(20 * unit.height()),
                                            std::lround(100 * unit.width()), std::lround(50 * unit.height())));
        EXPECT_EQ(window.size(), QSize(std::lround(200 * unit.width()), std::lround(100 * unit.height())));
        if (const auto* pLabel = qobject_cast<QLabel*>(pChild); pLabel && pLabel->wordWrap()) {
            EXPECT_LE(pLabel->heightForWidth(pLabel->width()), pLabel->height());
        } else if (const auto* pEdit = qobject_cast<QLineEdit*>(pChild)) {
            EXPECT_LT(pEdit->fontMetrics().horizontalAdvance(pEdit->text()), pEdit->width());
        } else if (c.bWiderX || c.bTallerY) {
            EXPECT_LE(pChild->sizeHint().width(), pChild->width());
            EXPECT_LE(pChild->sizeHint().height(), pChild->height());
        }

        // A second call starts again from the DLUs, not from the pixels.
        const QRect rectChild = pChild->geometry();
        EXPECT_EQ(ApplyDialogUnits(&window, QSize(200, 100)), unit);
        EXPECT_EQ(pChild->geometry(), rectChild);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
