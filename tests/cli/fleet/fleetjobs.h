// A fleet job that plays a script instead of asking an appliance, for the
// runner's and the reporter's tests.
#pragma once

#include "devicemsg.h"
#include "fleet.h"
#include "ipv4text.h"
#include "session.h"

#include <QTimer>

#include <functional>

// The one place these tests make an appliance.
inline Appliance Make(const QString& strMac, const QString& strIp)
{
    quint32 nFrom = 0;
    ParseIpv4(strIp, nFrom);
    return Appliance::Heard(strMac, strIp, "NV" + strMac.right(1), nFrom);
}

inline Appliance At(int n, const QString& strIp)
{
    return Make(QStringLiteral("00:1A:2B:00:00:0%1").arg(n), strIp);
}

inline FleetOptions Options(int nParallel, int nRetries, const QString& strReport = {})
{
    return {QStringLiteral("test"), strReport, {}, nParallel, nRetries, 1000, false};
}

// What the jobs of one run did, in order: "NV1+" an attempt began, "NV1-" it ended.
struct CTrace {
    QStringList log;
    int nInFlight = 0;
    int nMaxInFlight = 0;
    int nOverlaps = 0; // attempts begun while their address was busy
    std::function<void(const QString& strSerial)> onAttempt;
};

// Each attempt plays the next word of its script ("lost", "failed", "ok",
// or "free": the address is freed before the job ends ok); the last word
// repeats. Every attempt holds its address with a request that cannot be
// sent, since the session is never opened.
class CScriptedJob : public CFleetJob {
public:
    CScriptedJob(const Appliance& appliance, CTrace& trace, const QString& strScript)
        : CFleetJob(appliance), m_trace(trace), m_script(strScript.split(QLatin1Char(' ')))
    {
    }

    QJsonObject ReportEntry() const override
    {
        return {{"mac", m_appliance.strMac}, {"outcome", Succeeded() ? "done" : "failed"}, {"error", Error()}};
    }

protected:
    void Attempt(CSession& session, const FleetOptions& options, const Calls& calls) override
    {
        const QString strSerial = m_appliance.strSerial;
        const QString strStep = m_script.value(m_nAttempts - 1, m_script.last());
        m_trace.log << strSerial + "+";
        m_trace.nMaxInFlight = std::max(m_trace.nMaxInFlight, ++m_trace.nInFlight);
        if (m_trace.onAttempt)
            m_trace.onAttempt(strSerial);
        const auto end = [this, strSerial, strStep, end = calls.end] {
            m_trace.log << strSerial + "-";
            --m_trace.nInFlight;
            using EKind = AttemptEnd::EKind;
            end({strStep == "lost" ? EKind::Lost : strStep == "failed" ? EKind::Failed : EKind::Succeeded,
                 strStep == "ok" || strStep == "free" ? QString() : strStep});
        };
        if (session.Busy(m_appliance.strIp)) {
            ++m_trace.nOverlaps;
            QTimer::singleShot(0, end);
            return;
        }
        DeviceRequest request;
        request.nType = DM_GET_LOGIN;
        request.strDeviceIp = m_appliance.strIp;
        session.Start(request, options.nTimeoutMs, [=, free = calls.addressFree](const RequestResult&) {
            if (strStep != "free")
                return end();
            free();
            QTimer::singleShot(0, end);
        });
    }

private:
    CTrace& m_trace;
    QStringList m_script;
};
