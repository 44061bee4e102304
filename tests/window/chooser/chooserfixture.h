// The started page and a peer on port 8400 that sees each request it sends.
#pragma once

#include "pagetest.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

class ChooserTest : public PageTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_peer.bind(QHostAddress::AnyIPv4, DEVICE_PORT, QUdpSocket::ShareAddress));
        PageTest::SetUp();
        // Sent now, so the real timer cannot fire in the middle of a test.
        m_page.OnTimer(TIMER_FIRST_DISCOVERY);
        EXPECT_FALSE(m_page.IsTimerRunning(TIMER_FIRST_DISCOVERY));
        ExpectRequest(kDiscover);
        ASSERT_TRUE(m_ui.m_messages.isEmpty());
    }

    void ExpectRequest(const QByteArray& expected, const char* pszDest = "255.255.255.255")
    {
        ASSERT_TRUE(WaitFor([&] { return m_peer.hasPendingDatagrams(); }, 1000)) << "nothing was sent";
        const QNetworkDatagram request = m_peer.receiveDatagram(DEVMSG_BUF_SIZE + 1);
        EXPECT_EQ(request.data(), expected);
        EXPECT_EQ(request.destinationAddress(), QHostAddress(QString::fromLatin1(pszDest)));
        EXPECT_EQ(request.destinationPort(), DEVICE_PORT);
    }

    // A discovery as a marker: when it is the next thing the peer sees, the
    // page sent nothing before it.
    void ExpectNothingSent()
    {
        m_page.m_socket.Send(DeviceRequest{});
        ExpectRequest(kDiscover);
        EXPECT_FALSE(m_peer.hasPendingDatagrams());
    }

    QUdpSocket m_peer;
};
