// The receive path between the socket and the handlers: the read loop and
// the queue, against a stand-in for the system's socket.
#include "datagramqueue.h"
#include "devicemsg.h"
#include "portableudp.h"

#include <QUdpSocket>

#include <gtest/gtest.h>

#ifdef Q_OS_LINUX
#include "linuxudp.h"

#include <net/if.h>
#endif

#include <algorithm>
#include <deque>
#include <tuple>
#include <stdexcept>

namespace {

// A socket as Windows shows it: a read with nothing pending fails with an
// error that is not a temporary one. nFailures reads fail while datagrams
// still wait.
class CFakeSource : public CDatagramSource {
public:
    bool HasPending() override { return m_nFailures > 0 || !m_pending.empty(); }
    void Read(unsigned char* pBuf, qint64 nMax, DatagramInfo& info) override
    {
        // A drain that does not stop at "nothing pending" would read on forever.
        if (++m_nReads > 100)
            throw std::runtime_error("the drain kept reading a socket with nothing pending");
        if (m_nFailures > 0 || m_pending.empty()) {
            m_nFailures = qMax(0, m_nFailures - 1);
            info.nLength = -1;
            return;
        }
        const QByteArray bytes = m_pending.front();
        m_pending.pop_front();
        std::memcpy(pBuf, bytes.constData(), std::size_t(qMin<qint64>(bytes.size(), nMax)));
        info.nLength = bytes.size();
        info.nPort = DEVICE_PORT;
    }

    std::deque<QByteArray> m_pending;
    int m_nFailures = 0;
    int m_nReads = 0;
};

std::vector<qint64> PopLengths(CDatagramQueue& queue)
{
    std::vector<qint64> lengths;
    unsigned char buf[DEVMSG_BUF_SIZE];
    while (const auto popped = queue.Pop(buf))
        lengths.push_back(popped->info.nLength);
    return lengths;
}

TEST(ReadLoop, DrainEndsWhenNothingIsPendingAndQueuesNoFailedRead)
{
    CFakeSource source;
    source.m_pending = {QByteArray(70, 'a'), QByteArray(12, 'b'), QByteArray(8204, 'c')};
    CPortableUdp udp(source);
    CDatagramQueue queue;
    EXPECT_EQ(DrainDatagrams(udp, queue), 3);
    EXPECT_EQ(source.m_nReads, 3);
    EXPECT_EQ(PopLengths(queue), (std::vector<qint64>{70, 12, 8204}));

    // Nothing pending: no read at all.
    EXPECT_EQ(DrainDatagrams(udp, queue), 0);
    EXPECT_EQ(source.m_nReads, 3);
}

TEST(ReadLoop, AFailedReadWithDatagramsPendingEndsTheDrain)
{
    CFakeSource source;
    source.m_pending = {QByteArray(70, 'a')};
    source.m_nFailures = 1000;
    CPortableUdp udp(source);
    CDatagramQueue queue;
    EXPECT_EQ(DrainDatagrams(udp, queue), 1);
    EXPECT_EQ(source.m_nReads, 1);
    EXPECT_EQ(PopLengths(queue), (std::vector<qint64>{-1}));
}

TEST(ReadLoop, DrainStopsWhenTheQueuePausesTheReader)
{
    CFakeSource source;
    source.m_pending.assign(10, QByteArray(100, 'a'));
    CDatagramQueue queue;
    queue.SetLimit(250);
    CPortableUdp udp(source);
    const int nQueued = DrainDatagrams(udp, queue);
    EXPECT_TRUE(queue.IsPaused());
    EXPECT_EQ(source.m_pending.size() + std::size_t(nQueued), 10u);
    EXPECT_LT(nQueued, 10);
}

// The pause and the resume are both decided by the queue under its lock:
// the push that reaches the limit pauses, and the pop that empties a paused
// queue, and only that one, tells its caller to resume the reader.
TEST(DatagramQueue, PausesAtItsLimitAndThePopThatEmptiesItResumes)
{
    CDatagramQueue queue;
    queue.SetLimit(1000);
    const QByteArray bytes(300, 'x');
    const auto* pBytes = reinterpret_cast<const unsigned char*>(bytes.constData());
    const DatagramInfo sent{300, DEVICE_PORT, 0x0AC80101, 7};
    int nPushed = 1;
    while (!queue.Push(pBytes, sent))
        ++nPushed;
    EXPECT_GE(queue.Bytes(), 1000);
    EXPECT_TRUE(queue.IsPaused());
    EXPECT_TRUE(queue.Push(pBytes, {-1, 9, 0, 0})); // still paused, should a read race the pause
    ++nPushed;

    unsigned char buf[DEVMSG_BUF_SIZE];
    std::optional<PoppedDatagram> popped;
    for (int i = 0; i < nPushed; ++i) {
        popped = queue.Pop(buf);
        ASSERT_TRUE(popped);
        const bool bLast = i == nPushed - 1;
        EXPECT_EQ(popped->bMore, !bLast);
        EXPECT_EQ(popped->bResume, bLast);
        EXPECT_EQ(queue.IsPaused(), !bLast);
    }
    EXPECT_EQ(popped->info.nLength, -1);
    EXPECT_EQ(popped->info.nPort, 9);
    EXPECT_FALSE(queue.Pop(buf));

    // Below the limit nothing pauses, and emptying resumes nothing.
    EXPECT_FALSE(queue.Push(pBytes, sent));
    popped = queue.Pop(buf);
    ASSERT_TRUE(popped);
    EXPECT_FALSE(popped->bResume);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(buf), 300), bytes);
    const DatagramInfo& info = popped->info;
    EXPECT_EQ(std::tuple(info.nLength, info.nPort, info.nSenderIp, info.nInterface),
              std::tuple(qint64(300), DEVICE_PORT, quint32(0x0AC80101), 7));
}

// A backlog of many bursts' worth comes back whole and in order, twice over
// (the second time in reused memory): runs of each size, every run longer
// than 64 KiB, so that records of each size meet the end of a block.
TEST(DatagramQueue, ALargeBacklogComesBackWholeAndInOrder)
{
    std::vector<qint64> lengths;
    for (qint64 nLength : {70, 1, DEVMSG_BUF_SIZE, -1, DEVMSG_BUF_SIZE + 1, 12, 8204})
        lengths.insert(lengths.end(), std::size_t(128 * 1024 / (std::clamp<qint64>(nLength, 1, DEVMSG_BUF_SIZE) + 16)),
                       nLength);
    const int N = int(lengths.size());
    CDatagramQueue queue;
    std::vector<unsigned char> bytes(DEVMSG_BUF_SIZE);
    for (quint32 nRound = 0; nRound < 2; ++nRound) {
        for (int i = 0; i < N; ++i) {
            std::fill(bytes.begin(), bytes.end(), static_cast<unsigned char>(i));
            ASSERT_FALSE(queue.Push(bytes.data(), {lengths[std::size_t(i)], quint16(i), nRound, i}));
        }
        unsigned char buf[DEVMSG_BUF_SIZE];
        for (int i = 0; i < N; ++i) {
            const auto popped = queue.Pop(buf);
            ASSERT_TRUE(popped);
            const DatagramInfo& info = popped->info;
            ASSERT_EQ(std::tuple(info.nLength, info.nPort, info.nSenderIp, info.nInterface),
                      std::tuple(lengths[std::size_t(i)], quint16(i), nRound, i));
            const qint64 nKept = info.nLength <= DEVMSG_BUF_SIZE ? qMax<qint64>(info.nLength, 0) : 0;
            ASSERT_TRUE(std::all_of(buf, buf + nKept, [&](unsigned char c) { return c == (i & 0xFF); })) << i;
            ASSERT_EQ(popped->bMore, i < N - 1);
        }
        EXPECT_EQ(queue.Bytes(), 0);
    }
}

#ifdef Q_OS_LINUX
// Each record carries what the batched read learnt: length (a datagram too
// long for any message stands out), sender, and the interface it came in on.
TEST(BatchedRead, RecordsCarryLengthSenderAndInterface)
{
    CLinuxUdp udp;
    ASSERT_TRUE(udp.Open(1 << 20));
    QUdpSocket peer;
    ASSERT_TRUE(peer.bind(QHostAddress(QHostAddress::LocalHost), 0));
    const std::vector<qint64> sizes = {70, 0, DEVMSG_BUF_SIZE, DEVMSG_BUF_SIZE + 100};
    for (qint64 nSize : sizes)
        ASSERT_EQ(peer.writeDatagram(QByteArray(nSize, 'x'), QHostAddress(QHostAddress::LocalHost), udp.LocalPort()),
                  nSize);
    // Loopback delivers within the send.
    CDatagramQueue queue;
    EXPECT_EQ(DrainDatagrams(udp, queue), 4);
    unsigned char buf[DEVMSG_BUF_SIZE];
    for (qint64 nSize : sizes) {
        const auto popped = queue.Pop(buf);
        ASSERT_TRUE(popped);
        const DatagramInfo& info = popped->info;
        EXPECT_EQ(info.nLength, qMin<qint64>(nSize, DEVMSG_BUF_SIZE + 1));
        EXPECT_EQ(info.nPort, peer.localPort());
        EXPECT_EQ(info.nSenderIp, 0x7F000001u);
        EXPECT_EQ(info.nInterface, int(if_nametoindex("lo")));
    }
    EXPECT_EQ(DrainDatagrams(udp, queue), 0);
}
#endif

} // namespace
