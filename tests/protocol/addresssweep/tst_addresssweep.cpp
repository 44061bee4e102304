// The sweep's pace, through a real endpoint inside the private segment:
// every 10.200.x.y is local there, so its requests never leave loopback.
#include "addresssweep.h"
#include "coremain.h"
#include "devicesocket.h"
#include "waitfor.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

namespace {

constexpr int RATE = 1000; // a request a millisecond, a tick a millisecond

// A program stopped by SIGSTOP, or a loop held by a long handler, must not
// resume with a flood of everything that fell due meanwhile: the first tick
// after a stall of 300 ms makes up for 20 ms (20 requests), no more and no
// less, and the sweep then goes on at its rate.
TEST(AddressSweep, TheFirstTickAfterAStallMakesUpForTwentyMillisecondsOnly)
{
    CDeviceSocket socket;
    ASSERT_TRUE(socket.Create());
    CAddressSweep sweep(socket);
    CAddressRanges ranges;
    QString strError;
    ASSERT_TRUE(ranges.Add(QStringLiteral("10.200.64.0/18"), strError));
    const auto made = [&] { return sweep.Sent() + sweep.Failed(); };
    sweep.Start(ranges, RATE);
    ASSERT_TRUE(WaitFor([&] { return made() >= 50; }));

    const quint64 nBefore = made();
    QThread::msleep(300);
    // One pass of the loop at a time: each lets the timer fire once.
    const QDeadlineTimer deadline(5000);
    while (made() == nBefore && !deadline.hasExpired())
        QCoreApplication::processEvents();
    const quint64 nBurst = made() - nBefore;
    EXPECT_GE(nBurst, 20u);
    EXPECT_LE(nBurst, 21u);

    const quint64 nAfter = made();
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer::singleShot(200, &loop, &QEventLoop::quit);
    loop.exec();
    const quint64 nDue = quint64(clock.elapsed()) * RATE / 1000;
    const quint64 nPaced = made() - nAfter;
    // Above: what fell due, and a late tick's allowance at most. Below: a
    // loaded machine's late ticks lose little, but never most of it.
    EXPECT_LE(nPaced, nDue + 21);
    EXPECT_GE(nPaced, nDue / 4);
    EXPECT_TRUE(sweep.IsRunning());
}

} // namespace

int main(int argc, char** argv)
{
    return RunCoreSegmentTests(argc, argv);
}
