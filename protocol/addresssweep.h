// CAddressSweep: discovery by unicast to every address of some ranges, for
// appliances behind a router, which no broadcast reaches.
//
// The requests are paced from a timer of the owner's event loop, so replies
// go on being handled while the sweep runs. Each tick sends what the rate
// allows for the time since the last one; a tick that comes late may make
// up for at most SWEEP_BURST_MS of it, so a stalled loop never turns into a
// flood.
#pragma once

#include "addressrange.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QTimer>

class CDeviceSocket;

// The rate a sweep goes at unless told otherwise: a /24 in a quarter
// second, a /16 in about a minute, and no router or appliance swamped.
constexpr int SWEEP_DEFAULT_RATE = 1000;
constexpr int SWEEP_BURST_MS = 20;

class CAddressSweep : public QObject {
    Q_OBJECT
public:
    explicit CAddressSweep(CDeviceSocket& socket);

    // Starts over with these ranges at nRate requests per second. The
    // network and broadcast addresses of this host's own subnets are left
    // out: a request there would be a broadcast. The first request goes at
    // once, so a sweep that needs no more ends (Finished) within Start.
    void Start(const CAddressRanges& ranges, int nRate);
    void Stop();
    bool IsRunning() const { return m_timer.isActive(); }

    // Whether this sweep has sent its request to nAddress yet.
    bool HasSent(quint32 nAddress) const;
    // Requests sent so far, and those the system would not take.
    quint64 Sent() const { return m_nSent; }
    quint64 Failed() const { return m_nFailed; }

signals:
    void Finished();

private:
    void OnTick();

    CDeviceSocket& m_socket;
    CAddressRanges m_ranges;
    QSet<quint32> m_skip;
    int m_nRate = SWEEP_DEFAULT_RATE;
    quint64 m_nNext = 0; // index in m_ranges of the next address
    quint64 m_nSent = 0;
    quint64 m_nFailed = 0;
    double m_dCredit = 0; // requests due and not yet sent
    qint64 m_nLastNs = 0;
    QElapsedTimer m_clock;
    QTimer m_timer;
};
