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

// Receive errors keep no bytes.
qint64 StoredLength(qint64 nLength)
{
    return nLength >= 1 && nLength <= DEVMSG_BUF_SIZE ? nLength : 0;
}
} // namespace

void CDatagramQueue::Reserve(qint64 nBytes)
{
    if (m_nTail + nBytes <= m_nCapacity)
        return;
    const qint64 nUsed = m_nTail - m_nHead;
    if (m_nHead > 0 && nUsed + nBytes <= m_nCapacity) {
        std::memmove(m_pBuffer.get(), m_pBuffer.get() + m_nHead, std::size_t(nUsed));
        m_nHead = 0;
        m_nTail = nUsed;
        return;
    }
    qint64 nCapacity = m_nCapacity ? m_nCapacity * 2 : 64 * 1024;
    while (nCapacity < nUsed + nBytes)
        nCapacity *= 2;
    auto pBuffer = std::make_unique<unsigned char[]>(std::size_t(nCapacity));
    if (nUsed > 0)
        std::memcpy(pBuffer.get(), m_pBuffer.get() + m_nHead, std::size_t(nUsed));
    m_pBuffer = std::move(pBuffer);
    m_nCapacity = nCapacity;
    m_nHead = 0;
    m_nTail = nUsed;
}

void CDatagramQueue::SetLimit(qint64 nBytes)
{
    QMutexLocker lock(&m_mutex);
    m_nLimit = nBytes;
}

bool CDatagramQueue::Push(const unsigned char* pData, const DatagramInfo& info)
{
    const qint64 nStored = StoredLength(info.nLength);
    const RecordHeader header{info.nLength < 0 ? -1 : qint32(qMin<qint64>(info.nLength, DEVMSG_BUF_SIZE + 1)),
                              info.nPort, 0, info.nSenderIp, info.nInterface};
    QMutexLocker lock(&m_mutex);
    Reserve(RECORD_HEADER_SIZE + nStored);
    std::memcpy(m_pBuffer.get() + m_nTail, &header, sizeof header);
    if (nStored > 0)
        std::memcpy(m_pBuffer.get() + m_nTail + RECORD_HEADER_SIZE, pData, std::size_t(nStored));
    m_nTail += RECORD_HEADER_SIZE + nStored;
    if (m_nTail - m_nHead >= m_nLimit)
        m_bPaused = true;
    return m_bPaused;
}

bool CDatagramQueue::Pop(unsigned char* pBuf, DatagramInfo& info, bool& bMore, bool& bResume)
{
    QMutexLocker lock(&m_mutex);
    bMore = bResume = false;
    if (m_nHead == m_nTail)
        return false;
    RecordHeader header;
    std::memcpy(&header, m_pBuffer.get() + m_nHead, sizeof header);
    const qint64 nStored = StoredLength(header.nLength);
    if (nStored > 0)
        std::memcpy(pBuf, m_pBuffer.get() + m_nHead + RECORD_HEADER_SIZE, std::size_t(nStored));
    m_nHead += RECORD_HEADER_SIZE + nStored;
    if (m_nHead == m_nTail) {
        m_nHead = m_nTail = 0;
        bResume = m_bPaused;
        m_bPaused = false;
    }
    info.nLength = header.nLength;
    info.nPort = header.nPort;
    info.nSenderIp = header.nSenderIp;
    info.nInterface = header.nInterface;
    bMore = m_nTail > m_nHead;
    return true;
}

bool CDatagramQueue::IsPaused() const
{
    QMutexLocker lock(&m_mutex);
    return m_bPaused;
}

qint64 CDatagramQueue::Bytes() const
{
    QMutexLocker lock(&m_mutex);
    return m_nTail - m_nHead;
}
