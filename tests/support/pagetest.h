// The set-up sheet with its chooser page started and a recorder for every
// box, for tests that drive the page directly.
#pragma once

#include "addressfields.h"
#include "choosedlg.h"
#include "msgbytes.h"
#include "recorder.h"
#include "resource.h"
#include "setupsheet.h"
#include "testmain.h"
#include "waitfor.h"

#include <QAbstractEventDispatcher>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

// Periods of an object's running timers, shortest first; every one precise.
inline QList<int> TimerPeriods(QObject& object)
{
    QList<int> periods;
    for (const auto& timer : QAbstractEventDispatcher::instance()->registeredTimers(&object)) {
        EXPECT_EQ(timer.timerType, Qt::PreciseTimer);
        periods << timer.interval;
    }
    std::sort(periods.begin(), periods.end());
    return periods;
}

class PageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_sheet.OnInitDialog();
        ASSERT_TRUE(m_page.m_socket.IsOpen());
    }

    // One reply from port 8400, straight into the receive path.
    void Feed(const QByteArray& bytes)
    {
        m_page.m_socket.HandleDatagram(reinterpret_cast<const unsigned char*>(bytes.constData()), bytes.size(),
                                       DEVICE_PORT);
    }

    void Click(const char* pszButton)
    {
        auto* pButton = m_page.findChild<QPushButton*>(QLatin1String(pszButton));
        ASSERT_NE(pButton, nullptr) << pszButton;
        pButton->click();
    }

    QString Field() const { return FieldText(*m_page.m_ipSelected); }
    void SetField(const QString& strText) { SetFieldText(*m_page.m_ipSelected, strText); }
    QLineEdit* Password() const { return m_page.findChild<QLineEdit*>(QStringLiteral("IDC_PASSWORD")); }

    CRecorderUi m_ui;
    CSetupSheet m_sheet{QStringLiteral("Norvane Setup v1.2")};
    CChooseDlg& m_page = m_sheet.m_pageChoose;
};
