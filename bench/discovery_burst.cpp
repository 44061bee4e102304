// Discovery burst: how fast the real page lists N appliances that all answer
// one discovery at once, against the physical limit of the segment.
//
// For each N, norvane-sim plays N appliances. First a plain recvfrom loop
// takes one burst as the reference (limit_ms: discovery sent to last reply
// received). Then the real page (offscreen) broadcasts a discovery and its
// thread is held busy for 200 ms right after it, as a repaint or a box would
// hold it; ms_to_full_list is the time from the discovery to the list
// holding all N rows, less the time the benchmark itself held the thread. max_stall_ms is the longest the page's event loop went without a
// turn after that; rss_mb the resident memory with the full list.
//
// The page's receive buffer is held to what an ordinary user gets on a stock
// kernel (SO_RCVBUF 212992) unless --large-buffer is given; the reference
// loop always has a large one, as it measures speed, not loss.
//
//   tools/private-segment build/test/bench/bench_discovery_burst [--large-buffer] [N...]
#include "benchsupport.h"
#include "choosedlg.h"
#include "devicemsg.h"
#include "residentmemory.h"
#include "setupsheet.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QTableView>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace {
constexpr int CAPPED_RCVBUF = 212992;
constexpr int BUSY_MS = 200;

// The reference: a bare socket and a recvfrom loop, nothing else. Returns
// the time to the last reply, or -1 when some were lost (pnReceived: how many came).
double RecvfromLimitMs(int nAppliances, int nRcvBuf, int* pnReceived = nullptr)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &nRcvBuf, sizeof nRcvBuf);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);

    DeviceMsg msg{};
    msg.type = DM_DISCOVER;
    msg.body.magic = DISCOVER_MAGIC;
    unsigned char request[DEVMSG_MAX_SIZE];
    int nPos = 0;
    const int nLength = EncodeDeviceMsg(request, nPos, msg);
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(DEVICE_PORT);
    dest.sin_addr.s_addr = htonl(INADDR_BROADCAST);

    QElapsedTimer clock;
    clock.start();
    sendto(fd, request, std::size_t(nLength), 0, reinterpret_cast<sockaddr*>(&dest), sizeof dest);
    unsigned char buf[DEVMSG_BUF_SIZE];
    int nReceived = 0;
    double dLastMs = 0;
    pollfd pfd{fd, POLLIN, 0};
    while (nReceived < nAppliances && poll(&pfd, 1, 1000) > 0) {
        while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
            ++nReceived;
            dLastMs = double(clock.nsecsElapsed()) / 1e6;
        }
    }
    close(fd);
    if (pnReceived)
        *pnReceived = nReceived;
    return nReceived == nAppliances ? dLastMs : -1;
}

// Runs the event loop for a while, asleep whenever it has nothing to do.
void RunEventLoopFor(int nMs)
{
    QEventLoop loop;
    QTimer::singleShot(nMs, &loop, &QEventLoop::quit);
    loop.exec();
}

bool ListSortedAndUnique(CChooseDlg& page)
{
    for (int i = 1; i < page.m_listDevices->GetItemCount(); ++i)
        if (page.m_listDevices->GetItemText(i - 1, 0).compare(page.m_listDevices->GetItemText(i, 0),
                                                               Qt::CaseInsensitive) >= 0)
            return false;
    return true;
}

void RunOne(int nAppliances, int nRcvBuf, const QString& strSim)
{
    QProcess sim;
    if (!StartSimulator(sim, strSim, {"--count", QString::number(nAppliances)})) {
        std::fprintf(stderr, "simulator did not start\n");
        return;
    }

    // The reference measures speed, so it gets a buffer that loses nothing;
    // with the page's buffer it shows what even a bare loop keeps.
    const double dLimitMs = RecvfromLimitMs(nAppliances, DEVICE_RCVBUF_SIZE);
    int nBareKept = 0;
    if (nRcvBuf != DEVICE_RCVBUF_SIZE)
        RecvfromLimitMs(nAppliances, nRcvBuf, &nBareKept);

    CSetupSheet sheet(QStringLiteral("bench"));
    sheet.m_pageChoose.m_socket.SetReceiveBufferRequest(nRcvBuf);
    sheet.show();
    sheet.OnInitDialog();
    CChooseDlg& page = sheet.m_pageChoose;
    page.KillTimer(TIMER_FIRST_DISCOVERY);
    page.KillTimer(TIMER_REFRESH);
    // The window's first paint belongs to start-up, not to the burst.
    RunEventLoopFor(200);

    QElapsedTimer clock;
    clock.start();
    page.m_socket.Send(DeviceRequest{});
    const qint64 nSentNs = clock.nsecsElapsed();
    QThread::msleep(BUSY_MS);
    const qint64 nFreeNs = clock.nsecsElapsed();

    // A fast timer marks every turn the event loop takes.
    double dMaxStallMs = 0;
    qint64 nLastTurnNs = clock.nsecsElapsed();
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 nNow = clock.nsecsElapsed();
        dMaxStallMs = std::max(dMaxStallMs, double(nNow - nLastTurnNs) / 1e6);
        nLastTurnNs = nNow;
    });
    ticker.start(1);
    // The moment the last row goes in, not the next time the loop looks.
    qint64 nFullNs = -1;
    QObject::connect(page.m_listDevices->View()->model(), &QAbstractItemModel::rowsInserted, [&] {
        if (nFullNs < 0 && page.m_listDevices->GetItemCount() >= nAppliances)
            nFullNs = clock.nsecsElapsed();
    });
    // Waiting for events, as a window's loop does: a loop that spun here
    // would take a core from the receiving thread that no window takes.
    while (nFullNs < 0 && clock.nsecsElapsed() - nFreeNs < 10'000'000'000LL)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // Let stragglers in: the list must not grow past N.
    RunEventLoopFor(300);
    ticker.stop();

    const int nListed = page.m_listDevices->GetItemCount();
    const double dFullMs = nFullNs < 0 ? -1 : double(nFullNs - (nFreeNs - nSentNs)) / 1e6;
    std::printf("burst appliances=%d listed=%d ms_to_full_list=%.1f limit_ms=%.1f ratio=%.2f max_stall_ms=%.1f "
                "rss_mb=%.1f\n",
                nAppliances, nListed, dFullMs, dLimitMs, dLimitMs > 0 && dFullMs > 0 ? dFullMs / dLimitMs : -1.0,
                dMaxStallMs, ResidentMiB());
    if (nRcvBuf != DEVICE_RCVBUF_SIZE)
        std::printf("# a bare recvfrom loop with the same buffer kept %d of %d\n", nBareKept, nAppliances);
    if (!ListSortedAndUnique(page) || nListed != page.m_nDeviceCount)
        std::printf("# list out of order, duplicated or miscounted\n");
    std::fflush(stdout);
    sim.terminate();
    sim.waitForFinished(5000);
}
} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (!InPrivateSegment()) {
        std::fprintf(stderr, "run me inside tools/private-segment\n");
        return 3;
    }
    int nRcvBuf = CAPPED_RCVBUF;
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--large-buffer")
            nRcvBuf = DEVICE_RCVBUF_SIZE;
        else
            counts.push_back(std::atoi(argv[i]));
    }
    if (counts.empty())
        counts = {100, 1000, 10000};
    const QString strSim = QCoreApplication::applicationDirPath() + "/../tools/sim/norvane-sim";
    std::printf("# receive buffer requested: %d bytes\n", nRcvBuf);
    for (int n : counts)
        RunOne(n, nRcvBuf, strSim);
    return 0;
}
