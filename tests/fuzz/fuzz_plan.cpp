// Fuzzes provision's plan reader (ReadPlanFrom): any bytes, as a file or
// as a pipe that hands them over a few at a time.
//
// The input is [piece][cap][plan bytes...]:
//   piece  bytes per read of a pipe, 1 to 255; 0: a file
//   cap    0: the command's 16 MiB; otherwise the plan's size + 8 - (cap & 15)
//          (at least 0), so a plan just under, at and over its cap is read
//          bit 4: addresses checked with --scan 10.200.7.0/24
//
// The read must agree with one of the plan's text decoded at once, as a
// whole file is; a plan over its cap is refused, and one at or under it is
// not. Of the rows:
// every MAC canonical; a plan read without problems has every address
// canonical and one an appliance may have, no MAC or address twice, and
// no password an appliance cannot take.
#include "plan.h"

#include "devicemsg.h"
#include "interfaces.h"
#include "steps.h"
#include "targets.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QSet>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Require(bool bOk, const char* pszWhat, const QString& strDetail = {})
{
    if (bOk)
        return;
    std::fprintf(stderr, "fuzz_plan: %s %s\n", pszWhat, qPrintable(strDetail));
    std::abort();
}

// A pipe: sequential, its size unknown, a few bytes per read.
class CPipe : public QIODevice {
public:
    CPipe(const QByteArray& bytes, int nPiece) : m_bytes(bytes), m_nPiece(nPiece)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* pData, qint64 nMax) override
    {
        const qint64 n = std::min({nMax, qint64(m_bytes.size() - m_nPos), m_nPiece ? qint64(m_nPiece) : nMax});
        std::copy_n(m_bytes.constData() + m_nPos, n, pData);
        m_nPos += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    int m_nPiece;
    qsizetype m_nPos = 0;
};

struct Read {
    bool bRead = false;
    QList<PlanRow> rows;
    QStringList problems;
};

const QString kName = QStringLiteral("plan.csv");

// The interfaces, looked at once for every check as ReadPlan does for a plan.
const CInterfaceSnapshot& Host()
{
    static const CInterfaceSnapshot host;
    return host;
}

Read ReadFrom(QIODevice& device, const CAddressRanges& scan, qint64 nCap)
{
    Read read;
    read.bRead = ReadPlanFrom(device, kName, scan, nCap, read.rows, read.problems);
    return read;
}

bool SameRows(const QList<PlanRow>& a, const QList<PlanRow>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const PlanRow& x, const PlanRow& y) {
        return x.strSource == y.strSource && x.strMac == y.strMac && x.strIp == y.strIp &&
               x.strPassword == y.strPassword && x.nLine == y.nLine;
    });
}

CAddressRanges g_scan;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static int argc = 1;
    static char name[] = "fuzz_plan";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    QString strError;
    Require(g_scan.Add(QStringLiteral("10.200.7.0/24"), strError), "scan range refused", strError);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    if (nSize < 2)
        return 0;
    const int nPiece = pData[0];
    const QByteArray bytes(reinterpret_cast<const char*>(pData + 2), qsizetype(nSize - 2));
    const qint64 nCap = pData[1] ? std::max<qint64>(bytes.size() + 8 - (pData[1] & 15), 0) : MAX_PLAN_BYTES;
    const CAddressRanges scan = (pData[1] & 16) ? g_scan : CAddressRanges();

    QBuffer file;
    file.setData(bytes);
    file.open(QIODevice::ReadOnly);
    CPipe pipe(bytes, nPiece);
    const Read fromPlan = ReadFrom(nPiece ? static_cast<QIODevice&>(pipe) : file, scan, nCap);
    Require(fromPlan.bRead == (bytes.size() <= nCap), "a plan refused, or read, against its cap");
    if (!fromPlan.bRead)
        return 0;

    // The whole text decoded at once, re-encoded behind a byte-order mark
    // so that it is decoded whole again, to the same text.
    QBuffer whole;
    whole.setData("\xEF\xBB\xBF" + TextFromBytes(bytes).toUtf8());
    whole.open(QIODevice::ReadOnly);
    const Read fromText = ReadFrom(whole, scan, whole.size());
    Require(SameRows(fromPlan.rows, fromText.rows) && fromPlan.problems == fromText.problems,
            "read a line at a time otherwise than whole:", fromPlan.problems.join(QLatin1Char('\n')));

    const QList<PlanRow>& rows = fromPlan.rows;
    const bool bClean = fromPlan.problems.isEmpty();
    QSet<QString> macs, ips;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const PlanRow& row = rows[i];
        Require(!row.strMac.isEmpty() && CanonicalMac(row.strMac) == row.strMac, "a MAC not canonical:", row.strMac);
        Require(row.strSource == kName && row.nLine > (i ? rows[i - 1].nLine : 1), "a row's line wrong:",
                row.Where());
        if (!bClean)
            continue;
        Require(!row.strIp.isEmpty() && CanonicalIp(row.strIp) == row.strIp && NewIpRefusal(row.strIp, scan, Host()).isEmpty(),
                "an address no appliance may have accepted:", row.strIp);
        Require(row.strPassword.size() <= DEVMSG_PASSWORD_SIZE &&
                    std::all_of(row.strPassword.begin(), row.strPassword.end(), [](QChar c) { return c.unicode() <= 0xFF; }),
                "a password an appliance cannot take accepted:", row.strPassword);
        Require(!macs.contains(row.strMac) && !ips.contains(row.strIp), "a MAC or address twice:", row.Where());
        macs.insert(row.strMac);
        ips.insert(row.strIp);
    }
    return 0;
}
