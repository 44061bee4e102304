// How much of a discovery burst the endpoint keeps while its thread is busy.
//
// norvane-sim plays N appliances that all answer one discovery at once; the
// thread then sleeps 200 ms, as a repaint or an open box would hold it, and
// only afterwards handles what arrived. Prints the receive buffer the system
// granted and how many replies reached the owner.
//
//   tools/private-segment build/test/bench/bench_endpoint_burst [N] [SIM] [SO_RCVBUF]
#include "devicereplies.h"
#include "benchsupport.h"
#include "devicesocket.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>

namespace {
class CCountingReplies : public CDeviceReplies {
public:
    void OnReceiveError(const DeviceOrigin&, const QString&) override {}
    void OnStatusError(const DeviceOrigin&, int) override {}
    void AddDevice(const DeviceOrigin&, const QString&, const QString&, const QString&) override { ++m_nDevices; }
    void OnSetIpDone(const DeviceOrigin&) override {}
    void OnLoginInfo(const DeviceOrigin&, const LoginInfo&) override {}
    void OnRebootDone(const DeviceOrigin&) override {}
    void OnFlashInfo(const DeviceOrigin&, const unsigned char*) override {}
    void OnPutFlashInfoDone(const DeviceOrigin&) override {}
    int m_nDevices = 0;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (!InPrivateSegment()) {
        std::fprintf(stderr, "run me inside tools/private-segment\n");
        return 3;
    }
    const int nAppliances = argc > 1 ? std::atoi(argv[1]) : 5000;
    const QString strSim = argc > 2 ? QString::fromLocal8Bit(argv[2])
                                    : QCoreApplication::applicationDirPath() + "/../tools/sim/norvane-sim";

    QProcess sim;
    if (!StartSimulator(sim, strSim, {"--count", QString::number(nAppliances)})) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }

    CCountingReplies owner;
    CDeviceSocket socket;
    if (argc > 3)
        socket.SetReceiveBufferRequest(std::atoi(argv[3]));
    if (!socket.Create())
        return 1;
    socket.Setup(&owner);
    socket.Send(DeviceRequest{});
    QThread::msleep(200);

    QElapsedTimer clock;
    clock.start();
    QDeadlineTimer quiet(500);
    int nSeen = 0;
    while (!quiet.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (owner.m_nDevices != nSeen) {
            nSeen = owner.m_nDevices;
            quiet.setRemainingTime(500);
        }
    }
    std::printf("endpoint_burst appliances=%d kept=%d rcvbuf_bytes=%d busy_ms=200\n", nAppliances, owner.m_nDevices,
                socket.ReceiveBufferSize());
    sim.terminate();
    sim.waitForFinished(5000);
    return 0;
}
