// CNewIpDlg: running it modally, its results, tab order and its layout in
// dialog units at small and large fonts.
#include "addressfields.h"
#include "dialogunits.h"
#include "keys.h"
#include "newipdlg.h"
#include "testmain.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

QString Result(const CNewIpDlg& dlg)
{
    quint8 n[4] = {};
    dlg.GetAddress(n[0], n[1], n[2], n[3]);
    return QStringLiteral("%1.%2.%3.%4").arg(n[0]).arg(n[1]).arg(n[2]).arg(n[3]);
}

QPushButton* Button(const QWidget& dlg, const char* pszName) { return dlg.findChild<QPushButton*>(pszName); }

// Keys as TypeKey types them, but 'O' and 'C' click OK and Cancel, and 'X'
// is the close box.
void Type(std::string_view keys)
{
    for (const char c : keys) {
        QWidget* pWindow = QApplication::activeWindow();
        if (c == 'O' || c == 'C')
            QTest::mouseClick(Button(*pWindow, c == 'O' ? "IDOK" : "IDCANCEL"), Qt::LeftButton);
        else if (c == 'X')
            pWindow->close();
        else
            TypeKey(c);
    }
}

// Runs DoModal; once the dialog is the active modal window, records what it
// shows and types pszKeys, which must close it.
int RunModal(CNewIpDlg& dlg, const char* pszKeys, QString* pShown = nullptr)
{
    QTimer::singleShot(0, [&] {
        EXPECT_EQ(QApplication::activeModalWidget(), &dlg);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dlg));
        if (pShown)
            *pShown = FieldText(*dlg.m_ipNew);
        Type(pszKeys);
        if (dlg.isVisible()) {
            ADD_FAILURE() << "the keys left the dialog open";
            dlg.reject();
        }
    });
    return dlg.DoModal();
}

TEST(Run, ResultsAndTheAddressReturned)
{
    const struct {
        const char* pszName;
        const char* pszPreset;
        const char* pszKeys; // focus starts on OK; two Tabs reach the address
        int nResult;
        const char* pszResult;
    } cases[] = {
        {"Enter at once accepts the preset", "192.168.0.20", "\r", IDOK, "192.168.0.20"},
        {"a blank field is 0", "0.0.0.0", "\t\t10.~>~1.2\r", IDOK, "10.0.1.2"},
        {"clicking OK", "10.200.1.7", "\t\t5O", IDOK, "5.200.1.7"},
        {"Cancel keeps the preset", "10.200.1.7", "\t\t99C", IDCANCEL, "10.200.1.7"},
        {"Escape keeps the preset", "10.200.1.7", "\t\t99\x1b", IDCANCEL, "10.200.1.7"},
        {"the close box keeps the preset", "10.200.1.7", "\t\t99X", IDCANCEL, "10.200.1.7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CNewIpDlg dlg;
        EXPECT_EQ(Result(dlg), QStringLiteral("0.0.0.0"));
        const QStringList preset = QString(c.pszPreset).split('.');
        dlg.SetAddress(preset[0].toUShort(), preset[1].toUShort(), preset[2].toUShort(), preset[3].toUShort());
        QString strShown;
        EXPECT_EQ(RunModal(dlg, c.pszKeys, &strShown), c.nResult);
        EXPECT_EQ(strShown, QLatin1String(c.pszPreset));
        EXPECT_EQ(Result(dlg), QLatin1String(c.pszResult));
    }
}

TEST(Run, EachRunStartsFromTheStoredAddress)
{
    CNewIpDlg dlg;
    dlg.SetAddress(1, 2, 3, 4);
    EXPECT_EQ(RunModal(dlg, "\t\t9.9.9.9\r"), IDOK);
    QString strShown;
    EXPECT_EQ(RunModal(dlg, "\x1b", &strShown), IDCANCEL);
    EXPECT_EQ(strShown, QStringLiteral("9.9.9.9"));

    // Shown without DoModal, it starts the same way, and accept() reads the address too.
    dlg.SetAddress(5, 6, 7, 8);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    EXPECT_EQ(FieldText(*dlg.m_ipNew), QStringLiteral("5.6.7.8"));
    EXPECT_EQ(FocusName(), QStringLiteral("IDOK"));
    dlg.m_ipNew->SetAddress(9, 8, 7, 6);
    dlg.accept();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(Result(dlg), QStringLiteral("9.8.7.6"));
}

TEST(Run, TabOrderIsOkCancelAddress)
{
    CNewIpDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    QStringList order{FocusName()};
    for (const char* pszKeys : {"\t", "\t", "\t", "^", "1.", "^"}) {
        Type(pszKeys);
        order << FocusName();
    }
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

// Every control shows its text whole and sits where its DLU rectangle says,
// to the pixel, in one unit per axis; OK and Cancel stay alike.
void ExpectLaidOut(const CNewIpDlg& dlg)
{
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
    const double dUnitX = dlg.width() / 169.0;
    const double dUnitY = dlg.height() / 89.0;
    const std::pair<const char*, QRect> controls[] = {{"IDOK", {28, 57, 50, 14}},
                                                      {"IDCANCEL", {91, 57, 50, 14}},
                                                      {"IDC_STATIC", {45, 17, 79, 8}},
                                                      {"IDC_NEW_IP", {35, 31, 100, 15}}};
    for (const auto& [pszName, rectDlu] : controls) {
        SCOPED_TRACE(pszName);
        const QWidget* pControl = dlg.findChild<QWidget*>(pszName);
        ASSERT_NE(pControl, nullptr);
        const QRect rect = pControl->geometry();
        EXPECT_LE(pControl->sizeHint().width(), rect.width());
        EXPECT_LE(pControl->sizeHint().height(), rect.height());
        EXPECT_NEAR(rect.x(), rectDlu.x() * dUnitX, 1.0);
        EXPECT_NEAR(rect.y(), rectDlu.y() * dUnitY, 1.0);
        EXPECT_NEAR(rect.width(), rectDlu.width() * dUnitX, 1.0);
        EXPECT_NEAR(rect.height(), rectDlu.height() * dUnitY, 1.0);
    }
    EXPECT_EQ(Button(dlg, "IDOK")->size(), Button(dlg, "IDCANCEL")->size());
    EXPECT_TRUE(Button(dlg, "IDOK")->isDefault());
}

// Built at a font, or switched to it later, the dialog comes out the same.
TEST(Layout, TextFitsAtAnyApplicationFont)
{
    CNewIpDlg dlg;
    const QSize sizeDefault = dlg.size();
    ExpectLaidOut(dlg);
    for (int nPoints : {6, 20, 32}) {
        SCOPED_TRACE(nPoints);
        const CAppFont font(nPoints);
        const CNewIpDlg fresh;
        ExpectLaidOut(fresh);
        const QSizeF unit = DialogUnitSize(fresh.font());
        EXPECT_GE(fresh.width(), std::lround(169 * unit.width()));
        EXPECT_GE(fresh.height(), std::lround(89 * unit.height()));
        EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.size() == fresh.size(); }));
        ExpectLaidOut(dlg);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.size() == sizeDefault; }));
}

TEST(DialogUnits, UnitsGrowOnlyForTextThatWouldBeClipped)
{
    const QString strLong = QStringLiteral("a text far too long for a box ten units wide");
    const struct {
        const char* pszName;
        std::function<QWidget*(QWidget*)> fnMake;
        QRect rectDlu;
        bool bWiderX;
        bool bTallerY;
    } cases[] = {
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        QWidget window;
        auto* pFrame = new QFrame(&window); // no text: follows the units only
        pFrame->setGeometry(10, 20, 100, 50);
        QWidget* pChild = c.fnMake(&window);
        pChild->setGeometry(c.rectDlu);

        const QSizeF unitFont = DialogUnitSize(window.font());
        const QSizeF unit = ApplyDialogUnits(&window, QSize(200, 100));
        EXPECT_EQ(unit.width() > unitFont.width(), c.bWiderX);
        EXPECT_EQ(unit.height() > unitFont.height(), c.bTallerY);
        const auto x = [&](int n) { return int(std::lround(n * unit.width())); };
        const auto y = [&](int n) { return int(std::lround(n * unit.height())); };
        EXPECT_EQ(pFrame->geometry(), QRect(x(10), y(20), x(100), y(50)));
        EXPECT_EQ(window.size(), QSize(x(200), y(100)));
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
    return RunTests(argc, argv);
}
