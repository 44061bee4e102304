// CIPAddressCtrl: typing, reading and writing the address, focus and size.
#include "ipaddressctrl.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <array>

namespace {

using Octets = std::array<int, 4>;

// A window holding a button, the control and another button, in that tab order.
struct CWindow {
    QWidget m_window;
    QPushButton* m_btnBefore = new QPushButton(QStringLiteral("Before"), &m_window);
    CIPAddressCtrl* m_ip = new CIPAddressCtrl(&m_window);
    QPushButton* m_btnAfter = new QPushButton(QStringLiteral("After"), &m_window);

    CWindow()
    {
        auto* pLayout = new QVBoxLayout(&m_window);
        pLayout->addWidget(m_btnBefore);
        pLayout->addWidget(m_ip);
        pLayout->addWidget(m_btnAfter);
        m_window.show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&m_window));
    }

    Octets Read(int& nFilled) const
    {
        quint8 n0 = 9, n1 = 9, n2 = 9, n3 = 9;
        nFilled = m_ip->GetAddress(n0, n1, n2, n3);
        return {n0, n1, n2, n3};
    }

    int FocusedField() const
    {
        for (int i = 0; i < CIPAddressCtrl::FIELD_COUNT; ++i)
            if (m_ip->Field(i)->hasFocus())
                return i;
        return -1;
    }
};

// Types into whatever has focus, as a user would: '<' and '>' are the arrow
// keys, '\b' Backspace, '~' Delete, '\t' Tab and '^' Shift+Tab.
void Type(const char* pszKeys)
{
    QWidget* const pFocus = nullptr;
    for (const char* p = pszKeys; *p; ++p) {
        switch (*p) {
        case '<': QTest::keyClick(pFocus, Qt::Key_Left); break;
        case '>': QTest::keyClick(pFocus, Qt::Key_Right); break;
        case '\b': QTest::keyClick(pFocus, Qt::Key_Backspace); break;
        case '~': QTest::keyClick(pFocus, Qt::Key_Delete); break;
        case '\t': QTest::keyClick(pFocus, Qt::Key_Tab); break;
        case '^': QTest::keyClick(pFocus, Qt::Key_Backtab, Qt::ShiftModifier); break;
        default: QTest::keyClick(pFocus, *p); break;
        }
    }
}

TEST(Typing, FieldsFollowTheKeys)
{
    struct SCase {
        const char* pszKeys;
        bool bPreset; // 1.2.3.4 in the control, entered by Tab
        int nFilled;
        Octets octets;
        int nFocusAfter;
    };
    const SCase cases[] = {
        {"10.200.1.7", false, 4, {10, 200, 1, 7}, 3},
        {"300", false, 1, {255, 0, 0, 0}, 1},
        {"1234", false, 2, {123, 4, 0, 0}, 1},
        {"1 2 3 4", false, 4, {1, 2, 3, 4}, 3},
        {"1..2", false, 2, {1, 2, 0, 0}, 1},
        {".", false, 0, {0, 0, 0, 0}, 0},
        {"a1-b", false, 1, {1, 0, 0, 0}, 0},
        {"255.255.255.2559", false, 4, {255, 255, 255, 255}, 3},
        {"10.>1.2", false, 3, {10, 0, 1, 2}, 3},
        {"12>3", false, 2, {12, 3, 0, 0}, 1},
        {"1.2\b\b3", false, 1, {13, 0, 0, 0}, 0},
        {"1.2.<<9", false, 2, {1, 92, 0, 0}, 1},
        {"9.8", true, 4, {9, 8, 3, 4}, 1},
        {"192.168.0.20", true, 4, {192, 168, 0, 20}, 3},
        {"123..4", false, 2, {123, 4, 0, 0}, 1},
        {"\b", true, 3, {0, 2, 3, 4}, 0},
        {"~>~>>7", true, 2, {0, 0, 37, 4}, 2},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszKeys);
        CWindow w;
        if (c.bPreset)
            w.m_ip->SetAddress(1, 2, 3, 4);
        w.m_ip->setFocus(Qt::TabFocusReason);
        Type(c.pszKeys);
        int nFilled = -1;
        EXPECT_EQ(w.Read(nFilled), c.octets);
        EXPECT_EQ(nFilled, c.nFilled);
        EXPECT_EQ(w.FocusedField(), c.nFocusAfter);
    }
}

TEST(Address, SetClearAndRead)
{
    struct SCase {
        const char* pszName;
        void (*set)(CIPAddressCtrl&);
        QStringList texts;
        int nFilled;
        quint32 dwAddress;
    };
    const SCase cases[] = {
        {"zero shows four zeros", [](CIPAddressCtrl& ip) { ip.SetAddress(0); }, {"0", "0", "0", "0"}, 4, 0},
        {"first octet most significant", [](CIPAddressCtrl& ip) { ip.SetAddress(0xC0A80014); },
         {"192", "168", "0", "20"}, 4, 0xC0A80014},
        {"by octets", [](CIPAddressCtrl& ip) { ip.SetAddress(10, 200, 1, 7); }, {"10", "200", "1", "7"}, 4,
         0x0AC80107},
        {"all ones", [](CIPAddressCtrl& ip) { ip.SetAddress(0xFFFFFFFF); }, {"255", "255", "255", "255"}, 4,
         0xFFFFFFFF},
        {"cleared",
         [](CIPAddressCtrl& ip) {
             ip.SetAddress(1, 2, 3, 4);
             ip.ClearAddress();
         },
         {"", "", "", ""}, 0, 0},
        {"blank field reads as 0",
         [](CIPAddressCtrl& ip) {
             ip.SetAddress(10, 9, 1, 2);
             ip.Field(1)->clear();
         },
         {"10", "", "1", "2"}, 3, 0x0A000102},
        {"only the last field",
         [](CIPAddressCtrl& ip) { ip.Field(3)->setText(QStringLiteral("5")); }, {"", "", "", "5"}, 1, 5},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        CIPAddressCtrl ip;
        c.set(ip);
        QStringList texts;
        for (int i = 0; i < CIPAddressCtrl::FIELD_COUNT; ++i)
            texts << ip.Field(i)->text();
        EXPECT_EQ(texts, c.texts);
        quint32 dwAddress = 0xDEADBEEF;
        EXPECT_EQ(ip.GetAddress(dwAddress), c.nFilled);
        EXPECT_EQ(dwAddress, c.dwAddress);
        quint8 n0 = 9, n1 = 9, n2 = 9, n3 = 9;
        EXPECT_EQ(ip.GetAddress(n0, n1, n2, n3), c.nFilled);
        EXPECT_EQ(quint32(n0) << 24 | quint32(n1) << 16 | quint32(n2) << 8 | n3, c.dwAddress);
        EXPECT_EQ(ip.IsBlank(), c.nFilled == 0);
    }
    CIPAddressCtrl ip;
    EXPECT_TRUE(ip.IsBlank());
    EXPECT_EQ(ip.Field(-1), nullptr);
    EXPECT_EQ(ip.Field(4), nullptr);
}

TEST(Focus, TheControlIsOneTabStop)
{
    struct SCase {
        const char* pszName;
        int nStartField; // -1: start on the Before button
        const char* pszKeys;
        const char* pszFocusAfter;
    };
    const SCase cases[] = {
        {"Tab enters at the first field", -1, "\t", "field0"},
        {"Tab from the first field leaves", -1, "\t\t", "After"},
        {"Tab from a later field leaves", 2, "\t", "After"},
        {"Shift+Tab from a later field leaves", 2, "^", "Before"},
        {"Shift+Tab from the first field leaves", 0, "^", "Before"},
        {"Shift+Tab from after enters at the first field", -1, "\t\t^", "field0"},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        CWindow w;
        if (c.nStartField < 0)
            w.m_btnBefore->setFocus();
        else
            w.m_ip->Field(c.nStartField)->setFocus();
        Type(c.pszKeys);
        const QWidget* pFocus = QApplication::focusWidget();
        ASSERT_NE(pFocus, nullptr);
        const QString strFocus = qobject_cast<const QPushButton*>(pFocus)
                                     ? static_cast<const QPushButton*>(pFocus)->text()
                                     : pFocus->objectName();
        EXPECT_EQ(strFocus, QLatin1String(c.pszFocusAfter));
    }
}

TEST(Size, EveryFieldShowsThreeDigitsAtAnyFont)
{
    for (int nPoints : {6, 9, 14, 28}) {
        SCOPED_TRACE(nPoints);
        CIPAddressCtrl ip;
        QFont font = ip.font();
        font.setPointSize(nPoints);
        ip.setFont(font);
        ip.SetAddress(0xFFFFFFFF);
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
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
