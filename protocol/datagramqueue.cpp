#include "datagramqueue.h"

#include "devicemsg.h"

#include <cstring>

namespace {
struct RecordHeader {
    qint32 nLength;
    quint16 nPort;
    quint16 nReserved;
    quint32 nSenderIp;
    qint32 nInterface;
};
constexpr qint64 RECORD_HEADER_SIZE = sizeof(RecordHeader);
// Holds several of the largest records, and hundreds of small ones.
constexpr qint64 BLOCK_SIZE = 64 * 1024;
static_assert(BLOCK_SIZE >= RECORD_HEADER_SIZE + DEVMSG_BUF_SIZE);

// Receive errors keep no bytes.
qint64 StoredLength(qint64 nLength)
{
    return nLength >= 1 && nLength <= DEVMSG_BUF_SIZE ? nLength : 0;
}
} // namespace

void CDatagramQueue::SetLimit(qint64 nBytes)
{
    QMutexLocker lock(&m_mutex);
    m_nLimit = nBytes;
}

bool CDatagramQueue::Push(const unsigned char* pData, const DatagramInfo& info)
{
    const qint64 nStored = StoredLength(info.nLength);
    const qint64 nRecord = RECORD_HEADER_SIZE + nStored;
    const RecordHeader header{info.nLength < 0 ? -1 : qint32(qMin<qint64>(info.nLength, DEVMSG_BUF_SIZE + 1)),
                              info.nPort, 0, info.nSenderIp, info.nInterface};
    QMutexLocker lock(&m_mutex);
    if (m_blocks.empty() || BLOCK_SIZE - m_blocks.back().nTail < nRecord) {
        Block block;
        if (m_spare.empty()) {
            block.pBytes = std::make_unique_for_overwrite<unsigned char[]>(std::size_t(BLOCK_SIZE));
        } else {
            block.pBytes = std::move(m_spare.back());
            m_spare.pop_back();
        }
        m_blocks.push_back(std::move(block));
    }
    Block& block = m_blocks.back();
    std::memcpy(block.pBytes.get() + block.nTail, &header, sizeof header);
    if (nStored > 0)
        std::memcpy(block.pBytes.get() + block.nTail + RECORD_HEADER_SIZE, pData, std::size_t(nStored));
    block.nTail += nRecord;
    m_nBytes += nRecord;
    if (m_nBytes >= m_nLimit)
        m_bPaused = true;
    return m_bPaused;
}

std::optional<PoppedDatagram> CDatagramQueue::Pop(unsigned char* pBuf)
{
    QMutexLocker lock(&m_mutex);
    if (m_blocks.empty())
        return std::nullopt;
    Block& block = m_blocks.front();
    RecordHeader header;
    std::memcpy(&header, block.pBytes.get() + block.nHead, sizeof header);
    const qint64 nStored = StoredLength(header.nLength);
    if (nStored > 0)
        std::memcpy(pBuf, block.pBytes.get() + block.nHead + RECORD_HEADER_SIZE, std::size_t(nStored));
    block.nHead += RECORD_HEADER_SIZE + nStored;
    m_nBytes -= RECORD_HEADER_SIZE + nStored;
    if (block.nHead == block.nTail) {
        m_spare.push_back(std::move(block.pBytes));
        m_blocks.pop_front();
    }
    PoppedDatagram popped;
    if (m_blocks.empty()) {
        popped.bResume = m_bPaused;
        m_bPaused = false;
    }
    popped.info = {header.nLength, header.nPort, header.nSenderIp, header.nInterface};
    popped.bMore = !m_blocks.empty();
    return popped;
}

bool CDatagramQueue::IsPaused() const
{
    QMutexLocker lock(&m_mutex);
    return m_bPaused;
}

qint64 CDatagramQueue::Bytes() const
{
    QMutexLocker lock(&m_mutex);
    return m_nBytes;
}
