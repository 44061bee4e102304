// Runs the event loop until a condition holds or a time limit passes.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

template <typename Pred>
bool WaitFor(Pred pred, int nTimeoutMs = 5000)
{
    QDeadlineTimer deadline(nTimeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}
