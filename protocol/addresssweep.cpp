#include "addresssweep.h"

#include "devicesocket.h"
#include "interfaces.h"

#include <algorithm>
#include <cmath>

CAddressSweep::CAddressSweep(CDeviceSocket& socket) : m_socket(socket)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CAddressSweep::OnTick);
}

void CAddressSweep::Start(const CAddressRanges& ranges, int nRate)
{
    m_ranges = ranges;
    m_nRate = std::max(1, nRate);
    m_skip = LocalSubnetEdges();
    m_nNext = m_nSent = m_nFailed = 0;
    m_dCredit = 1; // the first request at once
    m_clock.start();
    m_nLastNs = 0;
    // Ticks no closer than 1 ms (the timer's grain) and no further apart
    // than the burst allowed; at a low rate one request per tick.
    m_timer.start(std::clamp(1000 / m_nRate, 1, SWEEP_BURST_MS));
    OnTick();
}

void CAddressSweep::Stop()
{
    m_timer.stop();
}

bool CAddressSweep::HasSent(quint32 nAddress) const
{
    const qint64 nIndex = m_ranges.IndexOf(nAddress);
    return nIndex >= 0 && quint64(nIndex) < m_nNext;
}

void CAddressSweep::OnTick()
{
    const qint64 nNowNs = m_clock.nsecsElapsed();
    const double dBurst = std::max(1.0, m_nRate * SWEEP_BURST_MS / 1000.0);
    m_dCredit = std::min(dBurst, m_dCredit + double(nNowNs - m_nLastNs) * m_nRate / 1e9);
    m_nLastNs = nNowNs;
    QList<quint32> batch;
    const quint64 nCount = m_ranges.Count();
    while (m_dCredit >= 1 && m_nNext < nCount) {
        const quint32 nAddress = m_ranges.At(m_nNext++);
        if (m_skip.contains(nAddress))
            continue;
        batch.append(nAddress);
        m_dCredit -= 1;
    }
    if (!batch.isEmpty()) {
        const int nSent = m_socket.SendDiscoverTo(batch);
        m_nSent += quint64(nSent);
        m_nFailed += quint64(batch.size() - nSent);
    }
    if (m_nNext >= nCount) {
        m_timer.stop();
        emit Finished();
    }
}
