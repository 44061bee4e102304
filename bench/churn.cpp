// norvane watch through half an hour of churn: --appliances simulated
// appliances (default 1000) appear, leave, return, move and change serial at
// random, steered on the simulator's --control, while forged replies
// ("forge": a new MAC and address each) and replies in a present
// appliance's name from another host ("claim") come with the rounds. Every
// change lasts long enough to be seen: two rounds for an appearance, a move
// or a serial, --gone-after rounds for a leave. Leaves shorter than that are
// mixed in: back in place they must print nothing, back elsewhere "moved".
//
// The simulator's log is the truth: its broadcast discoveries are the
// rounds, its control lines the changes between them. Replayed, it gives the
// events a watch must print, held against those it printed as multisets:
// missed and spurious ones, each with its round. norvane's resident memory
// is taken as it runs. Kept at its defaults: a 5-second interval, a 2-second
// window, gone after 3 rounds.
//
//   tools/private-segment build/test/bench/bench_churn [--minutes M] [--appliances N] [--seed S]
#include "benchsupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {
constexpr int INTERVAL_MS = 5000;
constexpr int WINDOW_MS = 2000;
constexpr int GONE_AFTER = 3;
constexpr int BELIEVED_AFTER = 2; // rounds running that must hear a claim
// Per round, the chance that an appliance free to change does.
constexpr double CHANGE_CHANCE = 0.05;
constexpr int CLAIM_ROUNDS = 3; // one more than a watch needs to believe it
// At the end nothing changes for as long as the last change needs to show.
constexpr int QUIET_ROUNDS = GONE_AFTER + 2;
constexpr quint32 FIRST_IP = 0x0AC80101; // 10.200.1.1, the simulator's
// Where appliances move to (10.200.128.1 on) and where claims in their name
// come from (10.200.100.1 on): apart from each other and from the addresses
// forged replies take, just after the appliances'.
constexpr quint32 MOVE_FIRST = 0x0AC88001, MOVE_COUNT = 0x7E00;
constexpr quint32 CLAIM_FIRST = 0x0AC86401, CLAIM_COUNT = 254;
constexpr int MAX_LISTED = 20; // missed or spurious events told one by one

QString IpText(quint32 nIp)
{
    return QHostAddress(nIp).toString();
}

// The simulator's MAC of appliance i, as norvane prints it.
QString MacOf(int i)
{
    return QStringLiteral("00:1A:2B:%1:%2:%3")
        .arg(((i + 1) >> 16) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg(((i + 1) >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg((i + 1) & 0xFF, 2, 16, QLatin1Char('0'))
        .toUpper();
}

// The appliances as the controller steers them, a round at a time.
class CChurn {
public:
    CChurn(int nAppliances, quint32 nSeed) : m_vecSteered(std::size_t(nAppliances)), m_random(nSeed)
    {
        for (int i = 0; i < nAppliances; ++i) {
            m_vecSteered[std::size_t(i)].nIp = FIRST_IP + quint32(i);
            m_held.insert(FIRST_IP + quint32(i));
        }
    }

    // The control lines to send once broadcast nRound has been answered,
    // seen from the next round on. bQuiet: no new change, no claim.
    QList<QByteArray> Round(int nRound, bool bQuiet)
    {
        QList<QByteArray> lines;
        if (nRound % 10 == 1)
            lines << "forge " + QByteArray::number(bQuiet ? 10 : m_random.bounded(41));
        if (m_nClaimed >= 0 && (nRound >= m_nClaimEnds || bQuiet)) {
            lines << "claim off";
            m_nClaimed = -1;
        }
        if (m_nClaimed < 0 && !bQuiet)
            Claim(nRound, lines);
        for (int i = 0; i < int(m_vecSteered.size()); ++i) {
            Steered& a = m_vecSteered[std::size_t(i)];
            if (a.nReturnAt == nRound) {
                a.nReturnAt = -1;
                if (m_random.bounded(3) == 0)
                    lines << Move(i);
                lines << "appear " + QByteArray::number(i);
                a.bPresent = true;
                a.nFreeFrom = nRound + BELIEVED_AFTER;
            } else if (!bQuiet && a.nReturnAt < 0 && a.nFreeFrom <= nRound &&
                       m_random.generateDouble() < CHANGE_CHANCE) {
                Change(i, nRound, lines);
            }
        }
        m_nSent += int(lines.size());
        return lines;
    }

    int Sent() const { return m_nSent; }

private:
    struct Steered {
        bool bPresent = false;
        quint32 nIp = 0;
        int nSerials = 0;   // serials given so far
        int nFreeFrom = 0;  // no change before the broadcast of this round
        int nReturnAt = -1; // the round after whose broadcast a short leave ends
    };

    // On a present appliance that is believed where it is, and is left as
    // it is while the claim lasts: while it is silent a claim is a move, to
    // a watch as to anyone, and while it moves two hosts answer in its name.
    void Claim(int nRound, QList<QByteArray>& lines)
    {
        int i = -1;
        for (int nTries = 0; nTries < 20 && i < 0; ++nTries) {
            const int k = m_random.bounded(int(m_vecSteered.size()));
            const Steered& a = m_vecSteered[std::size_t(k)];
            if (a.bPresent && a.nFreeFrom <= nRound && a.nReturnAt < 0)
                i = k;
        }
        if (i < 0)
            return;
        Steered& a = m_vecSteered[std::size_t(i)];
        const quint32 nFrom = CLAIM_FIRST + m_random.bounded(CLAIM_COUNT);
        // Mostly from where it claims to be, as the appliance itself would;
        // else its real address, from elsewhere.
        const quint32 nClaimed = m_random.bounded(3) ? nFrom : a.nIp;
        lines << QStringLiteral("claim %1 %2 %3").arg(i).arg(IpText(nClaimed), IpText(nFrom)).toLatin1();
        m_nClaimed = i;
        m_nClaimEnds = a.nFreeFrom = nRound + CLAIM_ROUNDS;
    }

    void Change(int i, int nRound, QList<QByteArray>& lines)
    {
        Steered& a = m_vecSteered[std::size_t(i)];
        const QByteArray index = QByteArray::number(i);
        a.nFreeFrom = nRound + BELIEVED_AFTER;
        if (!a.bPresent) {
            if (m_random.bounded(2))
                lines << Move(i);
            lines << "appear " + index;
            a.bPresent = true;
            return;
        }
        // Of a hundred: 20 leaves, 10 short ones, 25 moves, 10 moves with a
        // new serial, 35 new serials.
        const int nKind = m_random.bounded(100);
        if (nKind < 30) {
            lines << "leave " + index;
            a.bPresent = false;
            if (nKind < 10)
                a.nReturnAt = nRound + 1 + m_random.bounded(GONE_AFTER - 1);
            else
                a.nFreeFrom = nRound + GONE_AFTER;
            return;
        }
        if (nKind < 65)
            lines << Move(i);
        if (nKind >= 55)
            lines << QStringLiteral("serial %1 C%1-%2").arg(i).arg(++a.nSerials).toLatin1();
    }

    QByteArray Move(int i)
    {
        Steered& a = m_vecSteered[std::size_t(i)];
        quint32 nIp = 0;
        do
            nIp = MOVE_FIRST + m_random.bounded(MOVE_COUNT);
        while (m_held.contains(nIp));
        m_held.remove(a.nIp);
        m_held.insert(nIp);
        a.nIp = nIp;
        return QStringLiteral("move %1 %2").arg(i).arg(IpText(nIp)).toLatin1();
    }

    std::vector<Steered> m_vecSteered;
    QSet<quint32> m_held; // every appliance's address, present or not
    QRandomGenerator m_random;
    int m_nClaimed = -1;
    int m_nClaimEnds = 0;
    int m_nSent = 0; // control lines
};

// Events by "EVENT MAC WHAT", with the rounds each came in.
using EventRounds = QHash<QString, QList<int>>;

QString EventKey(const QString& strEvent, const QString& strMac, const QString& strIp, const QString& strSerial,
                 const QString& strPreviousIp, const QString& strPreviousSerial)
{
    if (strEvent == QLatin1String("appeared"))
        return QStringList{strEvent, strMac, strIp, strSerial}.join(' ');
    if (strEvent == QLatin1String("moved"))
        return QStringList{strEvent, strMac, strIp, "was", strPreviousIp}.join(' ');
    if (strEvent == QLatin1String("changed"))
        return QStringList{strEvent, strMac, strSerial, "was", strPreviousSerial}.join(' ');
    return QStringList{strEvent, strMac}.join(' ');
}

// What the log says happened, round by round.
struct Truth {
    int nRounds = 0;
    QMap<QString, int> changes; // as a round sees them: appear, leave, move, serial, return
    int nTooBrief = 0;          // claims replaced before a second round heard them: 0, or the pacing failed
    qint64 nForged = 0;
    int nClaims = 0;
    EventRounds expected;
    QMap<QString, int> expectedByEvent;
};

// The log replayed up to broadcast nLastRound through a watch that believes
// what two rounds running heard and calls gone what GONE_AFTER rounds did not.
Truth Replay(const QString& strLog, int nAppliances, int nLastRound)
{
    struct Claim {
        quint32 nIp = 0;
        QString strSerial;
        bool operator==(const Claim&) const = default;
    };
    struct Replayed {
        bool bPresent = false; // --absent: all start so
        Claim now, atLastRound;
        bool bPresentAtLastRound = false;
        std::optional<Claim> known, pending;
        int nMissed = 0;
    };
    std::vector<Replayed> vec(static_cast<std::size_t>(nAppliances));
    for (int i = 0; i < nAppliances; ++i)
        vec[std::size_t(i)].now = {FIRST_IP + quint32(i), QStringLiteral("NV%1").arg(10000000 + i + 1)};
    Truth truth;
    int nForge = 0;
    const auto expect = [&](const QString& strEvent, int i, const Claim& c, const Claim& previous) {
        truth.expected[EventKey(strEvent, MacOf(i), IpText(c.nIp), c.strSerial, IpText(previous.nIp),
                                previous.strSerial)]
            .append(truth.nRounds);
        ++truth.expectedByEvent[strEvent];
    };

    QFile log(strLog);
    if (!log.open(QIODevice::ReadOnly))
        return truth;
    while (!log.atEnd() && truth.nRounds < nLastRound) {
        const QList<QByteArray> words = log.readLine().trimmed().split(' ');
        if (words.value(0) == "control") {
            const QByteArray command = words.value(1);
            const QList<QByteArray> range = words.value(2).split('-');
            const int nFirst = range.value(0).toInt(), nLast = range.value(range.size() - 1).toInt();
            for (int i = nFirst; command != "forge" && command != "claim" && i <= nLast && i < nAppliances; ++i) {
                Replayed& r = vec[std::size_t(i)];
                if (command == "appear" || command == "leave")
                    r.bPresent = command == "appear";
                else if (command == "move")
                    r.now.nIp = QHostAddress(QString::fromLatin1(words.value(3))).toIPv4Address();
                else if (command == "serial")
                    r.now.strSerial = QString::fromLatin1(words.mid(3).join(' '));
            }
            if (command == "forge")
                nForge = words.value(2).toInt();
            truth.nClaims += command == "claim" && words.value(2) != "off";
            continue;
        }
        if (words.value(0) != "req" || !words.contains("type=0x10") || !words.contains("to=255.255.255.255"))
            continue;
        ++truth.nRounds;
        truth.nForged += nForge;
        for (int i = 0; i < nAppliances; ++i) {
            Replayed& r = vec[std::size_t(i)];
            if (r.bPresent != r.bPresentAtLastRound)
                ++truth.changes[!r.bPresent ? "leave" : r.known ? "return" : "appear"];
            else if (r.bPresent && r.now.nIp != r.atLastRound.nIp)
                ++truth.changes["move"];
            if (r.bPresent && r.bPresentAtLastRound && r.now.strSerial != r.atLastRound.strSerial)
                ++truth.changes["serial"];
            r.bPresentAtLastRound = r.bPresent;
            r.atLastRound = r.now;

            if (!r.bPresent) {
                truth.nTooBrief += r.pending.has_value();
                r.pending.reset();
                if (r.known && ++r.nMissed >= GONE_AFTER) {
                    expect("gone", i, *r.known, {});
                    r.known.reset();
                }
                continue;
            }
            r.nMissed = 0;
            if (r.known == r.now) {
                r.pending.reset();
            } else if (r.pending != r.now) {
                truth.nTooBrief += r.pending.has_value();
                r.pending = r.now;
            } else {
                if (!r.known)
                    expect("appeared", i, r.now, {});
                else if (r.known->nIp != r.now.nIp)
                    expect("moved", i, r.now, *r.known);
                if (r.known && r.known->strSerial != r.now.strSerial)
                    expect("changed", i, r.now, *r.known);
                r.known = r.now;
                r.pending.reset();
            }
        }
    }
    return truth;
}

struct Comparison {
    int nMissed = 0, nSpurious = 0;
    int nLate = 0; // printed, but after a later round than the one it was due at
};

// Pairs each expected event with one printed alike, in round order; tells
// the first MAX_LISTED of those left over on standard error.
Comparison Compare(const EventRounds& expected, const EventRounds& printed)
{
    Comparison c;
    int nListed = 0;
    const auto tell = [&](const char* pszWhat, const QString& strKey, const char* pszWhen, int nRound) {
        if (nListed++ < MAX_LISTED)
            std::fprintf(stderr, "%s: %s (%s round %d)\n", pszWhat, qPrintable(strKey), pszWhen, nRound);
    };
    QStringList keys = expected.keys() + printed.keys();
    keys.sort();
    keys.removeDuplicates();
    for (const QString& strKey : std::as_const(keys)) {
        const QList<int> due = expected.value(strKey), got = printed.value(strKey);
        const qsizetype nPairs = std::min(due.size(), got.size());
        for (qsizetype k = 0; k < nPairs; ++k)
            c.nLate += got[k] > due[k];
        for (qsizetype k = nPairs; k < due.size(); ++k, ++c.nMissed)
            tell("missed", strKey, "due at", due[k]);
        for (qsizetype k = nPairs; k < got.size(); ++k, ++c.nSpurious)
            tell("spurious", strKey, "printed after", got[k]);
    }
    return c;
}

QString Counts(const QMap<QString, int>& map)
{
    QStringList parts;
    for (auto it = map.begin(); it != map.end(); ++it)
        parts << QStringLiteral("%1=%2").arg(it.key()).arg(*it);
    return parts.join(' ');
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("norvane watch through churn, forged replies and claims; run me inside "
                                     "tools/private-segment.");
    parser.addHelpOption();
    parser.addOptions({{"minutes", "How long to run (default 30).", "M", "30"},
                       {"appliances", "Simulated appliances (default 1000).", "N", "1000"},
                       {"seed", "Seed of the controller's choices (default 1).", "S", "1"}});
    parser.process(app);
    const double dMinutes = parser.value("minutes").toDouble();
    const int nAppliances = parser.value("appliances").toInt();
    if (!(dMinutes > 0) || nAppliances < 1 || nAppliances > 30000) {
        std::fprintf(stderr, "bench_churn: --minutes above 0, --appliances from 1 to 30000\n");
        return 2;
    }
    if (!InPrivateSegment())
        return 2;

    QTemporaryDir dir;
    const QString strLog = dir.filePath("sim.log");
    const QString strDir = QCoreApplication::applicationDirPath();
    QProcess sim;
    if (!StartSimulator(sim, strDir + "/../tools/sim/norvane-sim",
                        {"--count", QString::number(nAppliances), "--absent",
                         QStringLiteral("0-%1").arg(nAppliances - 1), "--control", "-", "--log", strLog}))
        return 1;
    QFile log(strLog);
    QProcess watch;
    watch.start(strDir + "/../cli/norvane", {"watch", "--format", "json"});
    if (!log.open(QIODevice::ReadOnly) || !watch.waitForStarted())
        return 1;

    CChurn churn(nAppliances, parser.value("seed").toUInt());
    EventRounds printed;
    int nRound = 0, nQuietFrom = 0, nLastRound = 0;
    const auto readEvents = [&] {
        while (watch.canReadLine()) {
            const QJsonObject o = QJsonDocument::fromJson(watch.readLine()).object();
            printed[EventKey(o["event"].toString(), o["mac"].toString().toUpper(), o["ip"].toString(),
                             o["serial"].toString(), o["previous_ip"].toString(), o["previous_serial"].toString())]
                .append(nRound);
        }
    };
    const auto countPrinted = [&] {
        qsizetype n = 0;
        for (const QList<int>& rounds : std::as_const(printed))
            n += rounds.size();
        return n;
    };

    const qint64 nRunMs = qint64(dMinutes * 60000);
    const qint64 nSampleMs = std::max<qint64>(10000, nRunMs / 30);
    // norvane's resident memory: at the first round, then every nSampleMs.
    // Flat means the same at a fifth of the run, the appliances all in
    // play, as at its end.
    QList<double> rss;
    double dRssAtFifth = -1;
    QElapsedTimer clock, lastRound;
    clock.start();
    QByteArray logTail;
    while (!nLastRound) {
        watch.waitForReadyRead(50);
        readEvents();
        sim.waitForReadyRead(0);
        const QByteArray simOut = sim.readAllStandardOutput();
        if (simOut.contains("error ") || watch.state() != QProcess::Running || sim.state() != QProcess::Running) {
            std::fprintf(stderr, "bench_churn: the simulator refused a line, or a process ended\n");
            return 1;
        }
        if (nRound > 0 && clock.elapsed() >= nSampleMs * rss.size()) {
            rss << ResidentKiB(watch.processId());
            if (dRssAtFifth < 0 && clock.elapsed() >= nRunMs / 5)
                dRssAtFifth = rss.last();
            std::printf("minute=%.1f round=%d control_lines=%d events=%lld rss_kib=%.0f\n",
                        double(clock.elapsed()) / 60000, nRound, churn.Sent(), static_cast<long long>(countPrinted()),
                        rss.last());
            std::fflush(stdout);
        }
        logTail += log.readAll();
        qsizetype nEnd = 0;
        while (!nLastRound && (nEnd = logTail.indexOf('\n')) >= 0) {
            const QByteArray line = logTail.left(nEnd);
            logTail.remove(0, nEnd + 1);
            if (!line.startsWith("req type=0x10 ") || !line.contains(" to=255.255.255.255 "))
                continue;
            ++nRound;
            lastRound.start();
            const bool bQuiet = clock.elapsed() >= nRunMs - QUIET_ROUNDS * INTERVAL_MS;
            if (bQuiet && !nQuietFrom)
                nQuietFrom = nRound;
            for (const QByteArray& control : churn.Round(nRound, bQuiet))
                sim.write(control + '\n');
            sim.waitForBytesWritten(1000);
            if (bQuiet && nRound - nQuietFrom >= QUIET_ROUNDS)
                nLastRound = nRound;
        }
    }
    // The last round's events come once its window has closed.
    while (lastRound.elapsed() < WINDOW_MS + 1000) {
        watch.waitForReadyRead(50);
        readEvents();
    }
    rss << ResidentKiB(watch.processId());
    kill(pid_t(watch.processId()), SIGTERM);
    watch.waitForFinished(5000);
    readEvents();
    sim.terminate();
    sim.waitForFinished(5000);

    const Truth truth = Replay(strLog, nAppliances, nLastRound);
    const Comparison c = Compare(truth.expected, printed);
    int nChanges = 0, nExpected = 0;
    for (const int n : truth.changes)
        nChanges += n;
    for (const int n : truth.expectedByEvent)
        nExpected += n;
    QMap<QString, int> printedByEvent;
    for (auto it = printed.begin(); it != printed.end(); ++it)
        printedByEvent[it.key().section(' ', 0, 0)] += int(it->size());
    const double dRssMax = *std::max_element(rss.begin(), rss.end());
    std::printf("churn appliances=%d minutes=%.1f rounds=%d changes=%d %s too_brief=%d forged_replies=%lld "
                "claims=%d\n",
                nAppliances, double(clock.elapsed()) / 60000, truth.nRounds, nChanges,
                qPrintable(Counts(truth.changes)), truth.nTooBrief, static_cast<long long>(truth.nForged),
                truth.nClaims);
    std::printf("events expected=%d %s printed=%lld %s missed=%d spurious=%d late=%d\n", nExpected,
                qPrintable(Counts(truth.expectedByEvent)), static_cast<long long>(countPrinted()),
                qPrintable(Counts(printedByEvent)), c.nMissed, c.nSpurious, c.nLate);
    std::printf("memory rss_kib_at_round_1=%.0f rss_kib_at_fifth=%.0f rss_kib_at_end=%.0f rss_kib_max=%.0f "
                "change_fifth_to_end_percent=%+.1f samples=%lld exit=%d\n",
                rss.first(), dRssAtFifth, rss.last(), dRssMax, 100 * (rss.last() - dRssAtFifth) / dRssAtFifth,
                static_cast<long long>(rss.size()), watch.exitCode());
    if (c.nMissed || c.nSpurious) {
        dir.setAutoRemove(false);
        std::fprintf(stderr, "the simulator's log is kept: %s\n", qPrintable(strLog));
    }
    return 0;
}
