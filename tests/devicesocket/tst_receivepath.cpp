// The receive path between the socket and the handlers: the read loop and
// the queue, against a stand-in for the system's socket.
#include "datagramqueue.h"
#include "datagramreceiver.h"
#include "devicemsg.h"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>

namespace {

// A socket as Windows shows it: a read with nothing pending fails with an
// error that is not a temporary one. nFailures reads fail while datagrams
// still wait.
class CFakeSource : public CDatagramSource {
public:
    bool HasPending() override { return m_nFailures > 0 || !m_pending.empty(); }
    qint64 Read(unsigned char* pBuf, qint64 nMax, quint16& nPort) override
    {
        // A drain that does not stop at "nothing pending" would read on forever.
        if (++m_nReads > 100)
            throw std::runtime_error("the drain kept reading a socket with nothing pending");
        if (m_nFailures > 0 || m_pending.empty()) {
            m_nFailures = qMax(0, m_nFailures - 1);
            return -1;
        }
        const QByteArray bytes = m_pending.front();
        m_pending.pop_front();
        std::memcpy(pBuf, bytes.constData(), std::size_t(qMin<qint64>(bytes.size(), nMax)));
        nPort = DEVICE_PORT;
        return bytes.size();
    }

    std::deque<QByteArray> m_pending;
    int m_nFailures = 0;
    int m_nReads = 0;
};

std::vector<qint64> PopLengths(CDatagramQueue& queue)
{
    std::vector<qint64> lengths;
    unsigned char buf[DEVMSG_BUF_SIZE];
    qint64 nLength = 0, nRemaining = 0;
    quint16 nPort = 0;
    while (queue.Pop(buf, nLength, nPort, nRemaining))
        lengths.push_back(nLength);
    return lengths;
}

TEST(ReadLoop, DrainEndsWhenNothingIsPendingAndQueuesNoFailedRead)
{
    CFakeSource source;
    source.m_pending = {QByteArray(70, 'a'), QByteArray(12, 'b'), QByteArray(8204, 'c')};
    CDatagramQueue queue;
    bool bPaused = false;
    EXPECT_EQ(DrainDatagrams(source, queue, bPaused, 1 << 20), 3);
    EXPECT_EQ(source.m_nReads, 3);
    EXPECT_FALSE(bPaused);
    EXPECT_EQ(PopLengths(queue), (std::vector<qint64>{70, 12, 8204}));

    // Nothing pending: no read at all.
    EXPECT_EQ(DrainDatagrams(source, queue, bPaused, 1 << 20), 0);
    EXPECT_EQ(source.m_nReads, 3);
}

TEST(ReadLoop, AFailedReadWithDatagramsPendingEndsTheDrain)
{
    CFakeSource source;
    source.m_pending = {QByteArray(70, 'a')};
    source.m_nFailures = 1000;
    CDatagramQueue queue;
    bool bPaused = false;
    EXPECT_EQ(DrainDatagrams(source, queue, bPaused, 1 << 20), 1);
    EXPECT_EQ(source.m_nReads, 1);
    EXPECT_EQ(PopLengths(queue), (std::vector<qint64>{-1}));
}

} // namespace
