// The datagram endpoint against a peer socket on port 8400, inside the
// private network segment.
#include "coremain.h"
#include "devicesocket.h"
#include "msgbytes.h"
#include "recordingreplies.h"
#include "waitfor.h"

#include <QNetworkDatagram>
#include <QThread>
#include <QUdpSocket>

#include <cerrno>
#include <functional>

namespace {

QByteArray Hex(const char* psz)
{
    return QByteArray::fromHex(psz);
}

// Each test runs on both read paths: batched (where the system has it) and
// QUdpSocket's, a datagram at a time.
class DeviceSocketTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_peer.bind(QHostAddress::AnyIPv4, DEVICE_PORT, QUdpSocket::ShareAddress));
        if (GetParam())
            m_socket.UsePortableReceive();
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
        Reply(Msg(0x23));
        ASSERT_TRUE(WaitFor([&] { return m_replies.m_calls.contains(QStringLiteral("OnRebootDone")); }));
        m_replies.m_calls.removeAll(QStringLiteral("OnRebootDone"));
    }

    CRecordingReplies m_replies;
    QUdpSocket m_peer;
    CDeviceSocket m_socket;
};

TEST_P(DeviceSocketTest, RequestsGoOutWithExactBytesAndDestinations)
{
    struct Case {
        const char* pszName;
        DeviceRequest request;
        const char* pszDest;
        QByteArray expected;
    };
    QByteArray image(FLASHINFO_SIZE, '\0');
    for (int i = 0; i < FLASHINFO_SIZE; ++i)
        image[i] = char(i * 13 + 5);

    const std::vector<Case> cases = {
        {"discover", {}, "255.255.255.255", Hex("10" "00000000000000000000" "00" "474f5258")},
        {"set ip", {.nType = DM_SET_IP, .strPassword = "pw", .strMac = "00:1A:2B:00:00:01", .strNewIp = "10.200.9.9"},
         "255.255.255.255",
         Hex("11" "70770000000000000000" "00") + TextField("00:1A:2B:00:00:01", 18) + TextField("10.200.9.9", 16)},
        {"reboot, five-character password", {.nType = DM_REBOOT, .strPassword = "abcde", .strDeviceIp = "10.200.7.9"},
         "10.200.7.9", Hex("13" "61626364650000000000" "00")},
        {"login, ten-character password fills the field",
         {.nType = DM_GET_LOGIN, .strPassword = "0123456789", .strDeviceIp = "10.200.7.10"}, "10.200.7.10",
         Hex("12" "30313233343536373839" "00")},
        {"get flashinfo, twelve characters go out as ten",
         {.nType = DM_GET_FLASHINFO, .strPassword = "0123456789AB", .strDeviceIp = "10.200.7.11"}, "10.200.7.11",
         Hex("14" "30313233343536373839" "00")},
        {"put flashinfo carries the image unchanged",
         {.nType = DM_PUT_FLASHINFO, .strDeviceIp = "10.200.7.12", .image = image}, "10.200.7.12",
         Hex("15" "00000000000000000000" "00") + image},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_TRUE(m_socket.Send(c.request));
        EXPECT_EQ(m_socket.ErrorString(), "");
        const QNetworkDatagram request = Request();
        EXPECT_EQ(request.data(), c.expected);
        EXPECT_EQ(request.destinationAddress(), QHostAddress(QString::fromLatin1(c.pszDest)));
        EXPECT_EQ(request.destinationPort(), DEVICE_PORT);
        EXPECT_EQ(request.senderPort(), m_socket.LocalPort());
    }
}

// A send that fails says why, and the next one that leaves forgets it.
TEST_P(DeviceSocketTest, FailedSendsReturnFalseSayWhyAndShowNothing)
{
    const auto reboot = [](const char* pszTo, int nInterface = 0) {
        return DeviceRequest{.nType = DM_REBOOT, .strPassword = "pw", .strDeviceIp = pszTo, .nInterface = nInterface};
    };
    CDeviceSocket unopened;
    for (const DeviceRequest& request : {DeviceRequest{}, reboot("10.200.7.9")}) {
        EXPECT_FALSE(unopened.Send(request));
        EXPECT_EQ(unopened.ErrorString(), "the socket is not open");
    }
    for (const char* pszTo : {"not a host!", "", "::1"}) {
        EXPECT_FALSE(m_socket.Send(reboot(pszTo)));
        EXPECT_EQ(m_socket.ErrorString(), QStringLiteral("no IPv4 address for \"%1\"").arg(pszTo));
    }
    EXPECT_FALSE(m_socket.Send({.nType = DM_PUT_FLASHINFO, .strDeviceIp = "10.200.7.9", .image = QByteArray(100, 'x')}));
    EXPECT_EQ(m_socket.ErrorString(), "a configuration image is 8192 bytes, not 100");
#ifdef Q_OS_LINUX
    // The system's own reason: out of an interface that does not exist,
    // nothing leaves at all (QUdpSocket words it its own way).
    EXPECT_FALSE(m_socket.Send(reboot("10.200.7.9", 999999)));
    EXPECT_FALSE(m_socket.ErrorString().isEmpty());
    if (!GetParam()) {
        EXPECT_EQ(m_socket.ErrorString(), qt_error_string(ENODEV));
    }
#endif
    EXPECT_TRUE(m_socket.Send(reboot("10.200.7.9")));
    EXPECT_EQ(m_socket.ErrorString(), "");
    EXPECT_EQ(Request().data(), Hex("13" "70770000000000000000" "00"));
}

TEST_P(DeviceSocketTest, RepliesReachTheirHandlers)
{
    QByteArray login = Msg(0x22) + TextField("operator", 10) + Hex("901f0000");
    QByteArray flash = Msg(0x24);
    for (int i = 0; i < FLASHINFO_SIZE; ++i)
        flash += char(255 - i % 251);

    Reply(DeviceInfo("NV-000001", "00:1A:2B:00:00:01", "10.200.1.1"));
    Reply(Msg(0x21));
    Reply(login);
    Reply(Msg(0x23));
    Reply(flash);
    Reply(Msg(0x25) + QByteArray(DEVMSG_BUF_SIZE - DEVMSG_HEADER_SIZE, '\0')); // the largest datagram taken
    // A user name that fills its field has no terminator; the port follows.
    Reply(Msg(0x22) + "ABCDEFGHIJ" + Hex("ffffffff"));
    ASSERT_TRUE(WaitCalls(7));
    EXPECT_EQ(m_replies.m_calls, (QStringList{"AddDevice NV-000001|00:1A:2B:00:00:01|10.200.1.1", "OnSetIpDone",
                                              "OnLoginInfo operator|8080", "OnRebootDone", "OnFlashInfo",
                                              "OnPutFlashInfoDone", "OnLoginInfo ABCDEFGHIJ|-1"}));
    EXPECT_EQ(m_replies.m_lastImage, flash.mid(12));
    // Each call is told who sent its reply.
    ASSERT_EQ(m_replies.m_origins.size(), 7u);
    for (const DeviceOrigin& origin : m_replies.m_origins) {
        EXPECT_EQ(origin.addr, QHostAddress(QHostAddress::LocalHost));
        EXPECT_EQ(origin.nPort, DEVICE_PORT);
    }
}

TEST_P(DeviceSocketTest, StatusDecidesBeforeType)
{
    Reply(DeviceInfo("NV-1", "00:1A:2B:00:00:01", "10.200.1.1", 4));
    Reply(Msg(0x23, "", 0xFF));
    Reply(Msg(0x10) + Hex("474f5258")); // a request type: nobody handles it
    Reply(Msg(0x30));                   // unknown type
    Reply(Msg(0x10, "", 2) + Hex("474f5258"));
    Reply(Msg(0x30, "", 2));
    // Regression: a wrong-password reply that carries only its header was
    // dropped as too short for its type, and the user saw "No Response !!!".
    Reply(Msg(0x22, "", 1));
    Reply(Msg(0x24, "", 1));
    Settle();
    EXPECT_EQ(m_replies.m_calls, (QStringList{"OnStatusError 4", "OnStatusError -1", "OnStatusError 2",
                                              "OnStatusError 2", "OnStatusError 1", "OnStatusError 1"}));
}

TEST_P(DeviceSocketTest, BadDatagramsAreDroppedWithoutCallingTheOwner)
{
    QUdpSocket wrongPort;
    ASSERT_TRUE(wrongPort.bind(QHostAddress::AnyIPv4, 0));
    Reply(DeviceInfo("NV-1", "00:1A:2B:00:00:01", "10.200.1.1"), &wrongPort);
    // Shorter than their layouts: nothing undefined is decoded, no cut image saved.
    Reply(DeviceInfo("NV-1", "00:1A:2B:00:00:01", "10.200.1.1").left(69));
    Reply(Msg(0x24) + QByteArray(100, 'x'));
    Reply(Msg(0x22).left(11));
    Reply(Hex("20"));
    Settle();
    EXPECT_TRUE(m_replies.m_calls.isEmpty());

    m_replies.m_origins.clear();
    Reply(QByteArray());
    Reply(QByteArray(DEVMSG_BUF_SIZE + 1, '\x20'));
    Settle();
    EXPECT_EQ(m_replies.m_calls, (QStringList{"OnReceiveError empty",
                                              "OnReceiveError more than 9216 bytes, longer than any message"}));
    // Each names its sender, as an ignored reply does.
    ASSERT_GE(m_replies.m_origins.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(m_replies.m_origins[i].addr, QHostAddress(QHostAddress::LocalHost));
        EXPECT_EQ(m_replies.m_origins[i].nPort, DEVICE_PORT);
    }
    // A failed read brings no datagram, so no sender: the queue's 0.0.0.0 is not passed on as one.
    m_socket.HandleDatagram(nullptr, -1, DeviceOrigin{QHostAddress(quint32(0)), 0, 0});
    EXPECT_EQ(m_replies.m_calls.last(), "OnReceiveError a read of the socket failed");
    EXPECT_TRUE(m_replies.m_origins.back().addr.isNull());
}

// An owner that takes replies only from one sender, as the command line does.
class CPickyReplies : public CRecordingReplies {
public:
    bool AcceptReply(const DeviceOrigin& origin, int nType, int nStatus) override
    {
        m_calls << QStringLiteral("from %1:%2 type %3 status %4")
                       .arg(origin.addr.toString())
                       .arg(origin.nPort)
                       .arg(nType, 0, 16)
                       .arg(nStatus);
        return origin.addr == m_addrTaken;
    }
    QHostAddress m_addrTaken;
};

TEST_P(DeviceSocketTest, TheOwnerSeesEachSenderAndMayRefuseIt)
{
    CPickyReplies owner;
    m_socket.Setup(&owner);
    Reply(Msg(0x23, "", 1));
    ASSERT_TRUE(WaitFor([&] { return !owner.m_calls.isEmpty(); }));
    owner.m_addrTaken = QHostAddress(QHostAddress::LocalHost);
    Reply(Msg(0x23));
    ASSERT_TRUE(WaitFor([&] { return owner.m_calls.size() >= 3; }));
    EXPECT_EQ(owner.m_calls, (QStringList{"from 127.0.0.1:8400 type 23 status 1", "from 127.0.0.1:8400 type 23 status 0",
                                          "OnRebootDone"}));
    EXPECT_EQ(m_socket.Stats().nRefused, 1u);
}

// An owner whose status handler runs the event loop inside it, as the
// page's box does while it is open.
class CAlertingReplies : public CRecordingReplies {
public:
    void OnStatusError(const DeviceOrigin& origin, int nStatus) override
    {
        CRecordingReplies::OnStatusError(origin, nStatus);
        whileOpen();
    }
    std::function<void()> whileOpen;
};

TEST_P(DeviceSocketTest, DatagramsKeepFlowingWhileAHandlerShowsABox)
{
    CAlertingReplies owner;
    m_socket.Setup(&owner);
    bool bSawNestedReply = false;
    owner.whileOpen = [&] {
        // The box is "open": a discovery reply arriving now must still be handled.
        if (owner.m_calls.size() > 1)
            return;
        Reply(DeviceInfo("NV-2", "00:1A:2B:00:00:02", "10.200.1.2"));
        bSawNestedReply = WaitFor([&] { return owner.m_calls.size() >= 2; });
    };
    Reply(Msg(0x23, "", 1));
    ASSERT_TRUE(WaitFor([&] { return owner.m_calls.size() >= 2; }));
    EXPECT_TRUE(bSawNestedReply);
    EXPECT_EQ(owner.m_calls, (QStringList{"OnStatusError 1", "AddDevice NV-2|00:1A:2B:00:00:02|10.200.1.2"}));
}

// Regression: a datagram already waiting when a handler opened its box
// stayed queued until the box was closed.
TEST_P(DeviceSocketTest, WaitingDatagramsAreHandedOnInsideAnOpenBox)
{
    CAlertingReplies owner;
    m_socket.Setup(&owner);
    bool bHandedOn = false;
    owner.whileOpen = [&] { bHandedOn = WaitFor([&] { return owner.m_calls.size() == 2; }, 1000); };
    const QByteArray waiting = DeviceInfo("NV-2", "00:1A:2B:00:00:02", "10.200.1.2");
    Reply(Msg(0x23, "", 1));
    Reply(waiting);
    // Both queued before this thread takes the first.
    const qint64 nBoth = DEVMSG_HEADER_SIZE + waiting.size(); // more than either record alone
    for (QDeadlineTimer deadline(5000); m_socket.QueuedBytes() < nBoth; QThread::msleep(1))
        ASSERT_FALSE(deadline.hasExpired());
    ASSERT_TRUE(WaitFor([&] { return owner.m_calls.size() == 2; }));
    EXPECT_TRUE(bHandedOn);
}

TEST_P(DeviceSocketTest, BurstSurvivesABusyThread)
{
    constexpr int N = 2000;
    for (int i = 0; i < N; ++i)
        Reply(DeviceInfo("NV", "00:1A:2B:00:00:01", "10.200.1.1"));
    QThread::msleep(200);
    EXPECT_TRUE(WaitCalls(N));
    EXPECT_EQ(m_replies.m_calls.size(), N);
}

TEST_P(DeviceSocketTest, AFullQueuePausesTheReaderAndEmptyingItResumes)
{
    m_socket.SetQueueLimit(4 * 70);
    constexpr int N = 40;
    for (int i = 0; i < N; ++i)
        Reply(DeviceInfo("NV", "00:1A:2B:00:00:01", "10.200.1.1"));
    // This thread takes nothing off the queue while it waits here.
    QDeadlineTimer deadline(5000);
    while (!m_socket.IsReceivePaused() && !deadline.hasExpired())
        QThread::msleep(1);
    EXPECT_TRUE(m_socket.IsReceivePaused());
    EXPECT_TRUE(WaitCalls(N));
    EXPECT_EQ(m_replies.m_calls.size(), N);
    EXPECT_FALSE(m_socket.IsReceivePaused());
}

// Where the system reports the datagrams it dropped for want of buffer, the
// endpoint counts them: with the reader paused, a small buffer drops most
// of a burst, and each datagram is either handled or counted.
TEST_P(DeviceSocketTest, DatagramsTheSystemDroppedAreCounted)
{
#ifdef Q_OS_LINUX
    if (GetParam())
        GTEST_SKIP() << "QUdpSocket does not tell";
#else
    GTEST_SKIP() << "the system does not tell";
#endif
    CDeviceSocket small;
    small.SetReceiveBufferRequest(4096);
    small.SetQueueLimit(1);
    ASSERT_TRUE(small.Create());
    small.Setup(&m_replies);
    const auto send = [&](const char* pszSerial) {
        const QByteArray reply = DeviceInfo(pszSerial, "00:1A:2B:00:00:01", "10.200.1.1");
        ASSERT_EQ(m_peer.writeDatagram(reply, QHostAddress(QHostAddress::LocalHost), small.LocalPort()),
                  reply.size());
    };
    constexpr int N = 300;
    for (int i = 0; i < N; ++i)
        send("NV");
    // The system tells with the next datagram it keeps: send one once the
    // buffer has room, again should it have had none.
    int nSent = N;
    const QString strMarker = QStringLiteral("AddDevice MARK|00:1A:2B:00:00:01|10.200.1.1");
    do {
        send("MARK");
        ++nSent;
    } while (!WaitFor([&] { return m_replies.m_calls.contains(strMarker); }, 500) && nSent < N + 20);
    EXPECT_GT(small.Stats().nSystemDrops, 0u);
    EXPECT_EQ(quint64(m_replies.m_calls.size()) + small.Stats().nSystemDrops, quint64(nSent));
    EXPECT_EQ(m_socket.Stats().nSystemDrops, 0u);
}

INSTANTIATE_TEST_SUITE_P(ReadPaths, DeviceSocketTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Portable" : "Batched";
                         });

} // namespace

int main(int argc, char** argv)
{
    return RunCoreSegmentTests(argc, argv);
}
