// CPortableUdp: the endpoint's socket through QUdpSocket, read a datagram at
// a time; every system Qt runs on has it.
#pragma once

#include "datagramsocket.h"
#include "devicemsg.h"

#include <memory>

class QUdpSocket;

// The two reads a drain makes of a socket, apart so that a test can play a
// system whose "nothing pending" is not a temporary error.
class CDatagramSource {
public:
    virtual ~CDatagramSource() = default;
    virtual bool HasPending() = 0;
    // Reads one datagram into pBuf (nMax bytes) and says what it was in
    // info: its length (more than nMax when it was cut; -1 when the read
    // failed) and its sender.
    virtual void Read(unsigned char* pBuf, qint64 nMax, DatagramInfo& info) = 0;
};

class CPortableUdp : public CDatagramSocket {
    Q_OBJECT
public:
    CPortableUdp();
    // Reads through source alone, with no socket of its own (tests).
    explicit CPortableUdp(CDatagramSource& source);
    ~CPortableUdp() override;

    bool Open(int nReceiveBuffer) override;
    quint16 LocalPort() const override { return m_nLocalPort; }
    int ReceiveBufferSize() const override { return m_nReceiveBuffer; }
    bool SendTo(const char* pData, int nLength, const QHostAddress& addr, quint16 nPort, int nInterface,
                bool& bRetry) override;
    int Read() override;
    int BatchSize() const override { return 1; }
    const ReceivedDatagram& Datagram(int) const override { return m_received; }
    void Listen(bool bOn) override { m_bListening = bOn; }

private:
    void OnReadyRead();

    std::unique_ptr<QUdpSocket> m_pUdp;
    std::unique_ptr<CDatagramSource> m_pUdpSource;
    CDatagramSource* m_pSource = nullptr;
    quint16 m_nLocalPort = 0;
    int m_nReceiveBuffer = 0;
    bool m_bListening = true;
    ReceivedDatagram m_received;
    // One byte more than any message: a read that fills it found a datagram too long.
    unsigned char m_buf[DEVMSG_BUF_SIZE + 1];
};
