#include "datagramqueue.h"

#include "devicemsg.h"

#include <cstring>

namespace {
struct RecordHeader {
    qint32 nLength;
    quint16 nPort;
    quint16 nReserved;
    quint32 nAddress;
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

qint64 CDatagramQueue::Push(const unsigned char* pData, qint64 nLength, quint16 nPort, quint32 nAddress)
{
    const qint64 nStored = StoredLength(nLength);
    const RecordHeader header{nLength < 0 ? -1 : qint32(qMin<qint64>(nLength, DEVMSG_BUF_SIZE + 1)), nPort, 0, nAddress};
    QMutexLocker lock(&m_mutex);
    Reserve(RECORD_HEADER_SIZE + nStored);
    std::memcpy(m_pBuffer.get() + m_nTail, &header, sizeof header);
    if (nStored > 0)
        std::memcpy(m_pBuffer.get() + m_nTail + RECORD_HEADER_SIZE, pData, std::size_t(nStored));
    m_nTail += RECORD_HEADER_SIZE + nStored;
    return m_nTail - m_nHead;
}

bool CDatagramQueue::Pop(unsigned char* pBuf, qint64& nLength, quint16& nPort, quint32& nAddress, qint64& nRemaining)
{
    QMutexLocker lock(&m_mutex);
    if (m_nHead == m_nTail) {
        nRemaining = 0;
        return false;
    }
    RecordHeader header;
    std::memcpy(&header, m_pBuffer.get() + m_nHead, sizeof header);
    const qint64 nStored = StoredLength(header.nLength);
    if (nStored > 0)
        std::memcpy(pBuf, m_pBuffer.get() + m_nHead + RECORD_HEADER_SIZE, std::size_t(nStored));
    m_nHead += RECORD_HEADER_SIZE + nStored;
    if (m_nHead == m_nTail)
        m_nHead = m_nTail = 0;
    nLength = header.nLength;
    nPort = header.nPort;
    nAddress = header.nAddress;
    nRemaining = m_nTail - m_nHead;
    return true;
}

qint64 CDatagramQueue::Bytes() const
{
    QMutexLocker lock(&m_mutex);
    return m_nTail - m_nHead;
}
