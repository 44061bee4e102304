// CIPAddressCtrl: typing, reading and writing the address, focus and size.
#include "addressfields.h"
#include "ipaddressctrl.h"
#include "keys.h"
#include "testmain.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

// Buttons before and after the control, in tab order.
struct CWindow {
    QWidget m_window;
    QPushButton* m_btnBefore = new QPushButton(&m_window);
    CIPAddressCtrl* m_ip = new CIPAddressCtrl(&m_window);
    QPushButton* m_btnAfter = new QPushButton(&m_window);

    CWindow()
    {
        m_btnBefore->setObjectName(QStringLiteral("Before"));
        m_btnAfter->setObjectName(QStringLiteral("After"));
        auto* pLayout = new QVBoxLayout(&m_window);
        for (QWidget* pWidget : std::initializer_list<QWidget*>{m_btnBefore, m_ip, m_btnAfter})
            pLayout->addWidget(pWidget);
        m_window.show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&m_window));
    }
};

TEST(Typing, FieldsFollowTheKeys)
{
    const struct {
        const char* pszKeys;
        bool bPreset; // 1.2.3.4 in the control, entered by Tab
        const char* pszShown;
        const char* pszFocusAfter;
    } cases[] = {
        {"10.200.1.7", false, "10.200.1.7", "field3"},
        {"300", false, "255...", "field1"},
        {"1234", false, "123.4..", "field1"},
        {"12<3", false, "132...", "field0"}, // only a digit typed at the end moves on
        {"1 2 3 4", false, "1.2.3.4", "field3"},
        {"1..2", false, "1.2..", "field1"}, // a dot in a blank field does nothing
        {"a1-b", false, "1...", "field0"},
        {"255.255.255.2559", false, "255.255.255.255", "field3"},
        {"10.>1.2", false, "10..1.2", "field3"},
        {"1.2\b\b3", false, "13...", "field0"},
        {"1.2.<<9", false, "1.92..", "field1"},
        {"9.8", true, "9.8.3.4", "field1"},
        {"192.168.0.20", true, "192.168.0.20", "field3"}, // a dot right after a third digit only ends the field
        {"\b", true, ".2.3.4", "field0"},
        {"~>~>>7", true, "..37.4", "field2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszKeys);
        CWindow w;
        if (c.bPreset)
            w.m_ip->SetAddress(1, 2, 3, 4);
        w.m_ip->setFocus(Qt::TabFocusReason);
        TypeKeys(c.pszKeys);
        EXPECT_EQ(FieldText(*w.m_ip), QLatin1String(c.pszShown));
        EXPECT_EQ(FocusName(), QLatin1String(c.pszFocusAfter));
    }
}

TEST(Address, SetClearAndRead)
{
    using F = CIPAddressCtrl&;
    const struct {
        const char* pszName;
        void (*set)(CIPAddressCtrl&);
        const char* pszShown;
        int nFilled;
        quint32 dwAddress;
    } cases[] = {
        {"zero shows four zeros", [](F ip) { ip.SetAddress(0); }, "0.0.0.0", 4, 0},
        {"first octet most significant", [](F ip) { ip.SetAddress(0xC0A80014); }, "192.168.0.20", 4, 0xC0A80014},
        {"cleared", [](F ip) { ip.SetAddress(1, 2, 3, 4); ip.ClearAddress(); }, "...", 0, 0},
        {"a blank field is not counted and reads 0", [](F ip) { ip.SetAddress(10, 9, 1, 2); ip.Field(1)->clear(); },
         "10..1.2", 3, 0x0A000102},
        // An octet over 255 shows as the 255 that is read, however it is set.
        {"300 set by the program", [](F ip) { ip.SetAddress(10, 9, 1, 2); ip.Field(1)->setText("300"); },
         "10.255.1.2", 4, 0x0AFF0102},
        {"300 set over the accessibility bus",
         [](F ip) {
             ip.SetAddress(10, 9, 1, 2);
             QAccessible::queryAccessibleInterface(ip.Field(2))->setText(QAccessible::Value, "300");
         },
         "10.9.255.2", 4, 0x0A09FF02},
        {"300 replacing a field's text over the bus",
         [](F ip) {
             ip.SetAddress(10, 9, 1, 2);
             QAccessible::queryAccessibleInterface(ip.Field(3))->editableTextInterface()->replaceText(0, 1, "300");
         },
         "10.9.1.255", 4, 0x0A0901FF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CIPAddressCtrl ip;
        c.set(ip);
        EXPECT_EQ(FieldText(ip), QLatin1String(c.pszShown));
        quint32 dwAddress = 0xDEADBEEF;
        EXPECT_EQ(ip.GetAddress(dwAddress), c.nFilled);
        EXPECT_EQ(dwAddress, c.dwAddress);
        quint8 n[4] = {9, 9, 9, 9};
        EXPECT_EQ(ip.GetAddress(n[0], n[1], n[2], n[3]), c.nFilled);
        EXPECT_EQ(quint32(n[0]) << 24 | quint32(n[1]) << 16 | quint32(n[2]) << 8 | n[3], c.dwAddress);
        EXPECT_EQ(ip.IsBlank(), c.nFilled == 0);
    }
    CIPAddressCtrl ip;
    EXPECT_TRUE(ip.IsBlank());
    EXPECT_EQ(ip.Field(-1), nullptr);
    EXPECT_EQ(ip.Field(4), nullptr);
}

// Tab enters at the first field and leaves from any field; Shift+Tab likewise.
TEST(Focus, TheControlIsOneTabStop)
{
    CWindow w;
    w.m_btnBefore->setFocus();
    QStringList order;
    for (const char* pszKeys : {"\t", "\t", "^", "^", "\t", "1.", "\t", "^", ".", "^"}) {
        TypeKeys(pszKeys);
        order << FocusName();
    }
    EXPECT_EQ(order, (QStringList{"field0", "After", "field0", "Before", "field0", "field1", "After", "field0",
                                  "field1", "Before"}));
}

TEST(Size, EveryFieldShowsThreeDigitsAtAnyFont)
{
    for (int nPoints : {6, 9, 14, 28}) {
        SCOPED_TRACE(nPoints);
        CIPAddressCtrl ip;
        QFont font = ip.font();
        font.setPointSize(nPoints);
        ip.setFont(font);
        ip.show();
        ip.resize(ip.sizeHint());
        const QFontMetrics fm(font);
        int nRightmost = -1;
        for (int i = 0; i < CIPAddressCtrl::FIELD_COUNT; ++i) {
            const QRect rect = ip.Field(i)->geometry();
            EXPECT_GE(rect.width(), fm.horizontalAdvance(QStringLiteral("888")) + 4) << i;
            EXPECT_GE(rect.height(), fm.height()) << i;
            EXPECT_GT(rect.left(), nRightmost) << i;
            EXPECT_TRUE(ip.rect().contains(rect)) << i;
            nRightmost = rect.right();
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    return RunTests(argc, argv);
}
