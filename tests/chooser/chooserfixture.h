// A set-up sheet with its chooser page started, a recorder for every box,
// and a peer socket on port 8400 that sees each request the page sends.
#pragma once

#include "choosedlg.h"
#include "devicemsg.h"
#include "ipaddressctrl.h"
#include "recorder.h"
#include "resource.h"
#include "setupsheet.h"
#include "waitfor.h"

#include <QLineEdit>
#include <QNetworkDatagram>
#include <QStringList>
#include <QUdpSocket>
#include <QtEndian>

#include <gtest/gtest.h>

// A fixed-width text field: the text, zero-padded (or cut) to nWidth bytes.
inline QByteArray Text(const QByteArray& text, int nWidth)
{
    QByteArray bytes = text;
    bytes.resize(nWidth, '\0');
    return bytes;
}

// A message header: type, ten password bytes, status.
inline QByteArray Msg(int nType, const char* pszPassword = "", int nStatus = 0)
{
    return QByteArray(1, char(nType)) + Text(pszPassword, DEVMSG_PASSWORD_SIZE) + QByteArray(1, char(nStatus));
}

inline QByteArray LoginReply(const QByteArray& userName, qint32 nPort)
{
    QByteArray port(4, '\0');
    qToLittleEndian(nPort, port.data());
    return Msg(DM_LOGIN_INFO) + Text(userName, 10) + port;
}

inline const QByteArray kDiscover = Msg(DM_DISCOVER) + QByteArray::fromHex("474f5258");

class ChooserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_peer.bind(QHostAddress::AnyIPv4, DEVICE_PORT, QUdpSocket::ShareAddress));
        m_sheet.OnInitDialog();
        ASSERT_TRUE(m_page.m_socket.IsOpen());
        // The first discovery goes out now, so its real timer cannot fire
        // in the middle of a test.
        m_page.OnTimer(TIMER_FIRST_DISCOVERY);
        EXPECT_FALSE(m_page.IsTimerRunning(TIMER_FIRST_DISCOVERY));
        ExpectBroadcast(kDiscover);
        ASSERT_TRUE(m_ui.m_messages.isEmpty());
    }

    // Feeds one reply from port 8400 through the receive path.
    void Reply(const QByteArray& bytes)
    {
        m_page.m_socket.HandleDatagram(reinterpret_cast<const unsigned char*>(bytes.constData()), bytes.size(),
                                       DEVICE_PORT);
    }

    QNetworkDatagram Request()
    {
        EXPECT_TRUE(WaitFor([&] { return m_peer.hasPendingDatagrams(); }, 1000));
        return m_peer.receiveDatagram(DEVMSG_BUF_SIZE + 1);
    }

    void ExpectRequest(const QByteArray& expected, const char* pszDest)
    {
        const QNetworkDatagram request = Request();
        EXPECT_EQ(request.data().toHex(), expected.toHex());
        EXPECT_EQ(request.destinationAddress(), QHostAddress(QString::fromLatin1(pszDest)));
        EXPECT_EQ(request.destinationPort(), DEVICE_PORT);
    }

    void ExpectBroadcast(const QByteArray& expected) { ExpectRequest(expected, "255.255.255.255"); }

    // Sends a discovery as a marker: when it is the next thing the peer sees,
    // the page sent nothing before it.
    void ExpectNothingSent()
    {
        const bool bFirstRunning = m_page.IsTimerRunning(TIMER_FIRST_DISCOVERY);
        m_page.OnTimer(TIMER_FIRST_DISCOVERY);
        EXPECT_EQ(Request().data().toHex(), kDiscover.toHex());
        EXPECT_FALSE(m_peer.hasPendingDatagrams());
        if (bFirstRunning)
            m_page.SetTimer(TIMER_FIRST_DISCOVERY, FIRST_DISCOVERY_MS);
    }

    // Each row as "MAC|IP|serial".
    QStringList Rows() const
    {
        QStringList rows;
        for (int i = 0; i < m_page.m_listDevices->GetItemCount(); ++i)
            rows << QStringLiteral("%1|%2|%3").arg(m_page.m_listDevices->GetItemText(i, 0),
                                                   m_page.m_listDevices->GetItemText(i, 1),
                                                   m_page.m_listDevices->GetItemText(i, 2));
        return rows;
    }

    QList<int> SelectedRows() const
    {
        QList<int> rows;
        for (int i = 0; i < m_page.m_listDevices->GetItemCount(); ++i)
            if (m_page.m_listDevices->IsSelected(i))
                rows << i;
        return rows;
    }

    // The address field as its four texts joined by dots ("10.200..1").
    static QString FieldText(const CIPAddressCtrl* pCtrl)
    {
        QStringList fields;
        for (int i = 0; i < CIPAddressCtrl::FIELD_COUNT; ++i)
            fields << pCtrl->Field(i)->text();
        return fields.join('.');
    }
    static void SetFieldText(CIPAddressCtrl* pCtrl, const QString& strText)
    {
        const QStringList fields = strText.split('.');
        for (int i = 0; i < CIPAddressCtrl::FIELD_COUNT; ++i)
            pCtrl->Field(i)->setText(fields.value(i));
    }
    QString Field() const { return FieldText(m_page.m_ipSelected); }
    void SetField(const QString& strText) { SetFieldText(m_page.m_ipSelected, strText); }

    QLineEdit* Password() const { return m_page.findChild<QLineEdit*>(QStringLiteral("IDC_PASSWORD")); }

    CRecorderUi m_ui;
    QUdpSocket m_peer;
    CSetupSheet m_sheet{QStringLiteral("Norvane Setup v1.2")};
    CChooseDlg& m_page = m_sheet.m_pageChoose;
};
