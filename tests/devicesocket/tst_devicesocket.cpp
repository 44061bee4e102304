// The datagram endpoint against a peer socket on port 8400, inside the
// private network segment.
#include "devicesocket.h"
#include "privatesegment.h"
#include "recorder.h"
#include "simprocess.h"
#include "waitfor.h"

#include <QApplication>
#include <QEventLoop>
#include <QNetworkDatagram>
#include <QThread>
#include <QUdpSocket>

#include <gtest/gtest.h>

namespace {

QByteArray Hex(const char* psz)
{
    return QByteArray::fromHex(psz);
}

// Header of a reply: type, ten password bytes, status.
QByteArray Header(int nType, int nStatus)
{
    QByteArray bytes(12, '\0');
    bytes[0] = char(nType);
    bytes[11] = char(nStatus);
    return bytes;
}

QByteArray Field(const char* psz, int nWidth)
{
    QByteArray bytes(psz);
    bytes.resize(nWidth, '\0');
    return bytes;
}

QByteArray DeviceInfo(const char* pszSerial, const char* pszMac, const char* pszIp, int nStatus = 0)
{
    return Header(0x20, nStatus) + Field(pszSerial, 24) + Field(pszMac, 18) + Field(pszIp, 16);
}

class DeviceSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_peer.bind(QHostAddress::AnyIPv4, DEVICE_PORT, QUdpSocket::ShareAddress));
        ASSERT_TRUE(m_socket.Create());
        m_socket.Setup(&m_replies);
    }

    // Sends bytes to the endpoint from the peer (source port 8400) or from
    // another port.
    void Reply(const QByteArray& bytes, QUdpSocket* pFrom = nullptr)
    {
        QUdpSocket& from = pFrom ? *pFrom : m_peer;
        ASSERT_EQ(from.writeDatagram(bytes, QHostAddress(QHostAddress::LocalHost), m_socket.LocalPort()),
                  bytes.size());
    }

    // Next request the peer saw.
    QNetworkDatagram Request()
    {
        EXPECT_TRUE(WaitFor([&] { return m_peer.hasPendingDatagrams(); }));
        return m_peer.receiveDatagram(DEVMSG_BUF_SIZE + 1);
    }

    bool WaitCalls(qsizetype n)
    {
        return WaitFor([&] { return m_replies.m_calls.size() >= n; });
    }

    // Lets whatever is in flight arrive, so "nothing happened" means something.
    void Settle()
    {
        Reply(Header(0x23, 0));
        ASSERT_TRUE(WaitFor([&] { return m_replies.m_calls.contains(QStringLiteral("OnRebootDone")); }));
        m_replies.m_calls.removeAll(QStringLiteral("OnRebootDone"));
    }

    CRecorderUi m_ui;
    CRecordingReplies m_replies;
    QUdpSocket m_peer;
    CDeviceSocket m_socket;
};

TEST_F(DeviceSocketTest, RequestsGoOutWithExactBytesAndDestinations)
{
    struct Case {
        const char* pszName;
        std::function<int(CDeviceSocket&)> send;
        const char* pszDest;
        QByteArray expected;
    };
    QByteArray image(FLASHINFO_SIZE, '\0');
    for (int i = 0; i < FLASHINFO_SIZE; ++i)
        image[i] = char(i * 13 + 5);
    const auto* pImage = reinterpret_cast<const unsigned char*>(image.constData());

    const std::vector<Case> cases = {
        {"discover", [](CDeviceSocket& s) { return s.SendDiscover(); }, "255.255.255.255",
         Hex("10" "00000000000000000000" "00" "474f5258")},
        {"set ip", [](CDeviceSocket& s) { return s.SendSetIp("pw", "00:1A:2B:00:00:01", "10.200.9.9"); },
         "255.255.255.255",
         Hex("11" "70770000000000000000" "00") + Field("00:1A:2B:00:00:01", 18) + Field("10.200.9.9", 16)},
        {"reboot, five-character password", [](CDeviceSocket& s) { return s.SendReboot("abcde", "10.200.7.9"); },
         "10.200.7.9", Hex("13" "61626364650000000000" "00")},
        {"login, ten-character password fills the field",
         [](CDeviceSocket& s) { return s.SendGetLogin("0123456789", "10.200.7.10"); }, "10.200.7.10",
         Hex("12" "30313233343536373839" "00")},
        {"get flashinfo, twelve characters go out as ten",
         [](CDeviceSocket& s) { return s.SendGetFlashInfo("0123456789AB", "10.200.7.11"); }, "10.200.7.11",
         Hex("14" "30313233343536373839" "00")},
        {"put flashinfo carries the image unchanged",
         [pImage](CDeviceSocket& s) { return s.SendPutFlashInfo("", "10.200.7.12", pImage); }, "10.200.7.12",
         Hex("15" "00000000000000000000" "00") + image},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(c.send(m_socket), 1);
        const QNetworkDatagram request = Request();
        EXPECT_EQ(request.data(), c.expected);
        EXPECT_EQ(request.destinationAddress(), QHostAddress(QString::fromLatin1(c.pszDest)));
        EXPECT_EQ(request.destinationPort(), DEVICE_PORT);
        EXPECT_EQ(request.senderPort(), m_socket.LocalPort());
    }
    EXPECT_TRUE(m_ui.m_messages.isEmpty());
}

TEST_F(DeviceSocketTest, FailedSendsShowSendToErrorAndReturnZero)
{
    CDeviceSocket unopened;
    EXPECT_EQ(unopened.SendDiscover(), 0);
    EXPECT_EQ(unopened.SendReboot("pw", "10.200.7.9"), 0);
    EXPECT_EQ(m_socket.SendReboot("pw", "not a host!"), 0);
    EXPECT_EQ(m_socket.SendReboot("pw", ""), 0);
    EXPECT_EQ(m_socket.SendGetLogin("pw", "::1"), 0);
    EXPECT_EQ(m_ui.m_messages, QStringList(5, QStringLiteral("SendTo Error")));
}

TEST_F(DeviceSocketTest, RepliesReachTheirHandlers)
{
    QByteArray login = Header(0x22, 0) + Field("operator", 10) + Hex("901f0000");
    QByteArray flash = Header(0x24, 0);
    for (int i = 0; i < FLASHINFO_SIZE; ++i)
        flash += char(255 - i % 251);

    Reply(DeviceInfo("NV-000001", "00:1A:2B:00:00:01", "10.200.1.1"));
    Reply(Header(0x21, 0));
    Reply(login);
    Reply(Header(0x23, 0));
    Reply(flash);
    Reply(Header(0x25, 0));
    // A user name that fills its field has no terminator; the port follows.
    Reply(Header(0x22, 0) + "ABCDEFGHIJ" + Hex("ffffffff"));
    ASSERT_TRUE(WaitCalls(7));
    EXPECT_EQ(m_replies.m_calls, (QStringList{"AddDevice NV-000001|00:1A:2B:00:00:01|10.200.1.1", "OnSetIpDone",
                                              "OnLoginInfo operator|8080", "OnRebootDone", "OnFlashInfo",
                                              "OnPutFlashInfoDone", "OnLoginInfo ABCDEFGHIJ|-1"}));
    EXPECT_EQ(m_replies.m_lastImage, flash.mid(12));
    EXPECT_TRUE(m_ui.m_messages.isEmpty());
}

TEST_F(DeviceSocketTest, StatusDecidesBeforeType)
{
    Reply(DeviceInfo("NV-1", "00:1A:2B:00:00:01", "10.200.1.1", 4));
    Reply(Header(0x23, 0xFF));
    Reply(Header(0x10, 0) + Hex("474f5258")); // a request type: nobody handles it
    Reply(Header(0x30, 0));                   // unknown type
    Reply(Header(0x10, 2) + Hex("474f5258"));
    Reply(Header(0x30, 2));
    // Regression: a wrong-password reply that carries only its header was
    // dropped as too short for its type, and the user saw "No Response !!!".
    Reply(Header(0x22, 1));
    Reply(Header(0x24, 1));
    Settle();
    EXPECT_EQ(m_replies.m_calls, (QStringList{"OnStatusError 4", "OnStatusError -1", "OnStatusError 2",
                                              "OnStatusError 2", "OnStatusError 1", "OnStatusError 1"}));
}

TEST_F(DeviceSocketTest, BadDatagramsAreDroppedWithoutCallingTheOwner)
{
    QUdpSocket wrongPort;
    ASSERT_TRUE(wrongPort.bind(QHostAddress::AnyIPv4, 0));
    Reply(DeviceInfo("NV-1", "00:1A:2B:00:00:01", "10.200.1.1"), &wrongPort);
    // Shorter than their layouts: nothing undefined is decoded, no cut image saved.
    Reply(DeviceInfo("NV-1", "00:1A:2B:00:00:01", "10.200.1.1").left(69));
    Reply(Header(0x24, 0) + QByteArray(100, 'x'));
    Reply(Header(0x22, 0).left(11));
    Reply(Hex("20"));
    Settle();
    EXPECT_TRUE(m_replies.m_calls.isEmpty());
    EXPECT_TRUE(m_ui.m_messages.isEmpty());

    Reply(QByteArray());
    Reply(QByteArray(DEVMSG_BUF_SIZE + 1, '\x20'));
    Settle();
    EXPECT_EQ(m_ui.m_messages, QStringList(2, QStringLiteral("ReceiveFrom error")));
    EXPECT_TRUE(m_replies.m_calls.isEmpty());
}

TEST_F(DeviceSocketTest, LargestMessageFitsTheBuffer)
{
    // 9216 bytes is still a datagram the endpoint takes; its type decides.
    QByteArray big = Header(0x25, 0);
    big.resize(DEVMSG_BUF_SIZE, '\0');
    Reply(big);
    ASSERT_TRUE(WaitCalls(1));
    EXPECT_EQ(m_replies.m_calls, QStringList{"OnPutFlashInfoDone"});
    EXPECT_TRUE(m_ui.m_messages.isEmpty());
}

// An owner whose status handler opens a box, as the page does.
class CAlertingReplies : public CRecordingReplies {
public:
    void OnStatusError(int nStatus) override
    {
        CRecordingReplies::OnStatusError(nStatus);
        ShowAlert(110);
    }
};

TEST_F(DeviceSocketTest, DatagramsKeepFlowingWhileAHandlerShowsABox)
{
    CAlertingReplies owner;
    m_socket.Setup(&owner);
    bool bSawNestedReply = false;
    m_ui.onMessage = [&](const QString&) {
        // The box is "open": a discovery reply arriving now must still be handled.
        if (owner.m_calls.size() > 1)
            return;
        Reply(DeviceInfo("NV-2", "00:1A:2B:00:00:02", "10.200.1.2"));
        bSawNestedReply = WaitFor([&] { return owner.m_calls.size() >= 2; });
    };
    Reply(Header(0x23, 1));
    ASSERT_TRUE(WaitFor([&] { return owner.m_calls.size() >= 2; }));
    EXPECT_TRUE(bSawNestedReply);
    EXPECT_EQ(owner.m_calls, (QStringList{"OnStatusError 1", "AddDevice NV-2|00:1A:2B:00:00:02|10.200.1.2"}));
}

TEST_F(DeviceSocketTest, BurstSurvivesABusyThread)
{
    constexpr int N = 2000;
    for (int i = 0; i < N; ++i) {
        const QByteArray mac = QStringLiteral("00:1A:2B:00:%1:%2").arg(i / 256, 2, 16, QChar('0')).arg(i % 256, 2, 16, QChar('0')).toLatin1();
        Reply(DeviceInfo("NV", mac.constData(), "10.200.1.1"));
    }
    QThread::msleep(200);
    EXPECT_TRUE(WaitCalls(N));
    EXPECT_EQ(m_replies.m_calls.size(), N);
}

TEST(DeviceSocketSim, DiscoveryListsEveryAppliance)
{
    CRecorderUi ui;
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--count", "3"})) << qPrintable(sim.Output());
    CRecordingReplies replies;
    CDeviceSocket socket;
    ASSERT_TRUE(socket.Create());
    socket.Setup(&replies);
    EXPECT_EQ(socket.SendDiscover(), 1);
    ASSERT_TRUE(WaitFor([&] { return replies.m_calls.size() >= 3; }));
    QThread::msleep(100);
    QCoreApplication::processEvents();
    ASSERT_EQ(replies.m_calls.size(), 3);
    QStringList ips;
    for (const QString& call : replies.m_calls) {
        ASSERT_TRUE(call.startsWith("AddDevice "));
        const QStringList parts = call.mid(10).split('|');
        ASSERT_EQ(parts.size(), 3);
        EXPECT_TRUE(sim.Output().contains(QStringLiteral("mac=%1 ip=%2 serial=%3").arg(parts[1], parts[2], parts[0])))
            << qPrintable(call);
        ips << parts[2];
    }
    ips.sort();
    EXPECT_EQ(ips, (QStringList{"10.200.1.1", "10.200.1.2", "10.200.1.3"}));
    EXPECT_TRUE(ui.m_messages.isEmpty());
}

} // namespace

int main(int argc, char** argv)
{
    RequirePrivateSegmentOrExit();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
