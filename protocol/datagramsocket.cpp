#include "datagramsocket.h"

#include "portableudp.h"

#ifdef Q_OS_LINUX
#include "linuxudp.h"
#endif

std::unique_ptr<CDatagramSocket> CreateDatagramSocket(bool bPortable)
{
#ifdef Q_OS_LINUX
    if (!bPortable)
        return std::make_unique<CLinuxUdp>();
#else
    Q_UNUSED(bPortable);
#endif
    return std::make_unique<CPortableUdp>();
}

int DrainDatagrams(CDatagramSocket& socket, CDatagramQueue& queue)
{
    int nQueued = 0;
    for (;;) {
        const int nRead = socket.Read();
        if (nRead < 0) {
            DatagramInfo failed;
            failed.nLength = -1;
            queue.Push(nullptr, failed);
            return nQueued + 1;
        }
        bool bPaused = false;
        for (int i = 0; i < nRead; ++i) {
            const ReceivedDatagram& datagram = socket.Datagram(i);
            // Datagrams already read are queued even past the limit: they
            // cannot go back to the socket.
            bPaused = queue.Push(datagram.pData, datagram.info) || bPaused;
        }
        nQueued += nRead;
        // A short read emptied the socket, as far as one call can tell;
        // whatever came since signals it again.
        if (bPaused || nRead < socket.BatchSize())
            return nQueued;
    }
}
