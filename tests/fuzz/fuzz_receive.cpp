// Fuzzes the whole receive path: datagram bytes through the endpoint's
// queue and HandleDatagram into the chooser page's reply handlers, with a
// recording seam in place of boxes, file dialogs and the browser.
//
// The page is never initialised, so it has neither socket nor timers and
// nothing can be sent; it still runs only inside tools/private-segment.
//
// The input is a sequence of records [flags][click][length lo][length hi][bytes]:
//   length  0xFFFF: a failed read (-1, no bytes); otherwise taken modulo
//           9301 (so oversize datagrams are reachable) and cut to the bytes left
//   click   n > 0: row n-1 is clicked before the datagram arrives
//   flags   bit 0     sent from port 8401 instead of 8400
//           bits 1-2  datagrams delivered from inside each box this one opens,
//                     as the nested event loop of a real box does
//           bit 3     the save dialog answers with the image file
//           bit 4     the browser cannot be started
//           bit 5     the list is emptied first, as a refresh does (without its send)
//           bit 6     held: queued without handing the oldest datagram on
//           bit 7     burst: a device reply arrives 300 times, the copies' MAC
//                     texts starting with their number, so the list grows past
//                     its block size (at most two such bursts an input); any
//                     other datagram 8 times, enough to outgrow the queue's
//                     first buffer
// Datagrams still queued at the end are handed on then.
#include "alerts.h"
#include "choosedlg.h"
#include "datagramqueue.h"
#include "devicelist.h"
#include "devicemsg.h"
#include "privatesegment.h"
#include "recorder.h"
#include "resource.h"
#include "setupsheet.h"
#include "stringtable.h"
#include "testfiles.h"

#include <QApplication>
#include <QHostAddress>
#include <QTableView>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

namespace {

constexpr int MAX_FUZZ_LENGTH = 9300;
const QString kPassword = QStringLiteral("a&b#c%d+e f=\xe4");

void Require(bool bOk, const char* pszWhat, const QString& strDetail = {})
{
    if (bOk)
        return;
    std::fprintf(stderr, "fuzz_receive: %s %s\n", pszWhat, qPrintable(strDetail));
    std::abort();
}

QByteArray Field(const unsigned char* p, int nWidth)
{
    const void* pEnd = std::memchr(p, 0, std::size_t(nWidth));
    return QByteArray(reinterpret_cast<const char*>(p),
                      pEnd ? qsizetype(static_cast<const unsigned char*>(pEnd) - p) : nWidth);
}

// The web port of a login reply, least significant byte first.
qint32 WebPort(const unsigned char* p)
{
    return qint32(quint32(p[22]) | quint32(p[23]) << 8 | quint32(p[24]) << 16 | quint32(p[25]) << 24);
}

struct Frame {
    const unsigned char* pData;
    qint64 nLength;
    std::uint8_t nFlags;
    int nDepth;              // modal windows open when it arrived
    qsizetype nSavedAt = -1; // message count when the save dialog answered
};

CSetupSheet* g_pSheet = nullptr;
QTemporaryDir* g_pDir = nullptr;
QString g_strImage;
std::vector<Frame*> g_frames;
const std::uint8_t* g_pNext = nullptr;
const std::uint8_t* g_pEnd = nullptr;
int g_nBursts = 0;

// The endpoint's queue, and what it must give back, oldest first: length
// as popped, source port, bytes.
struct Queued {
    qint64 nLength;
    quint16 nPort;
    QByteArray bytes;
};
CDatagramQueue* g_pQueue = nullptr;
std::deque<Queued> g_queued;

// The endpoint's receive counts as they must be; never reset, as its own are not.
DeviceReceiveStats g_expected;

CChooseDlg& Page()
{
    return g_pSheet->m_pageChoose;
}

void Feed();

class CFuzzUi : public CRecorderUi {
public:
    CFuzzUi()
    {
        onMessage = [](const QString&) {
            for (int n = (g_frames.back()->nFlags >> 1) & 3; n > 0 && g_pNext < g_pEnd; --n)
                Feed();
        };
    }
    void MessageBox(const QString& strText) override
    {
        Require(ModalDepth() <= MAX_MODAL_DEPTH, "box past the modal cap");
        CRecorderUi::MessageBox(strText);
    }
    bool AskYesNo(const QString&) override
    {
        Require(false, "a reply asked a question");
        return false;
    }
    int RunDialog(QDialog&) override
    {
        Require(false, "a reply ran a dialog");
        return IDCANCEL;
    }
    QString GetFileName(bool bSave, const QStringList& filters, const QString& strSuffix) override
    {
        Require(ModalDepth() <= MAX_MODAL_DEPTH, "file dialog past the modal cap");
        Require(bSave, "a reply asked for a file to open");
        Frame& frame = *g_frames.back();
        m_fileAnswers.clear();
        if (frame.nFlags & 8) {
            m_fileAnswers << g_strImage;
            frame.nSavedAt = m_messages.size();
        }
        return CRecorderUi::GetFileName(bSave, filters, strSuffix);
    }
    // The URL goes to an appliance's address and carries the replying
    // appliance's user name and port and our password, each intact, whatever
    // bytes the replies held.
    bool OpenUrl(const QUrl& url) override
    {
        const Frame& frame = *g_frames.back();
        const unsigned char* p = frame.pData;
        Require(frame.nLength >= 26 && p[0] == DM_LOGIN_INFO && p[11] == 0, "browser launched by another reply");
        const qint32 nPort = WebPort(p);
        const QString strUrl = QString::fromLatin1(url.toEncoded()) + QLatin1Char(' ') + url.errorString();
        Require(nPort >= 1 && nPort <= 65535, "browser launched for a web port out of range");
        Require(url.isValid() && url.scheme() == QLatin1String("http") && url.port() == nPort &&
                    url.path() == QLatin1String("/cgi-bin/qx_login-act.cgi"),
                "login URL malformed:", strUrl);
        const QHostAddress host(url.host());
        Require(host.protocol() == QAbstractSocket::IPv4Protocol && host.toString() == url.host(),
                "login URL host is no IPv4 address:", strUrl);
        const QHostAddress selected(Page().m_strSelectedIp);
        if (selected.protocol() == QAbstractSocket::IPv4Protocol && selected.toString() == Page().m_strSelectedIp)
            Require(url.host() == Page().m_strSelectedIp, "login URL names another host:", strUrl);
        const QList<QByteArray> items = url.query(QUrl::FullyEncoded).toLatin1().split('&');
        Require(items.size() == 2 && items[0].startsWith("USER_NAME=") && items[1].startsWith("USER_PASSWD=") &&
                    QByteArray::fromPercentEncoding(items[0].mid(10)) == Field(p + 12, 10) &&
                    QByteArray::fromPercentEncoding(items[1].mid(12)) == kPassword.toLatin1(),
                "login URL parameters altered:", strUrl);
        m_bOpenUrlSucceeds = !(frame.nFlags & 16);
        return CRecorderUi::OpenUrl(url);
    }
};

CFuzzUi* g_pUi = nullptr;

// Rows strictly ascending by MAC text, case ignored, so none twice; the
// page's count agrees.
void CheckList()
{
    const CDeviceList& list = *Page().m_listDevices;
    const int nRows = list.GetItemCount();
    Require(Page().m_nDeviceCount == nRows, "device count differs from the rows");
    for (int i = 1; i < nRows; ++i)
        Require(QString::compare(list.GetItemText(i - 1, 0), list.GetItemText(i, 0), Qt::CaseInsensitive) < 0,
                "rows out of MAC order or one MAC twice");
}

// What one datagram must have done, judged from its bytes alone.
void CheckEffect(const Frame& frame, quint16 nPort, qsizetype nMessages, std::size_t nUrls, qsizetype nDialogs,
                 int nRows)
{
    const qint64 n = frame.nLength;
    const unsigned char* p = frame.pData;
    const bool bBoxes = frame.nDepth < MAX_MODAL_DEPTH;
    const auto firstBox = [&](unsigned nId) {
        Require(!bBoxes || (g_pUi->m_messages.size() > nMessages && g_pUi->m_messages[nMessages] == Text(nId)),
                "a reply did not show its box");
    };
    if (n < 1 || n > DEVMSG_BUF_SIZE)
        return firstBox(IDS_RECEIVE_ERROR);
    if (nPort == DEVICE_PORT && n >= DEVMSG_HEADER_SIZE && p[11] != 0) {
        static const unsigned kStatus[] = {0, IDS_STATUS_BAD_PASSWORD, IDS_STATUS_BAD_REQUEST,
                                           IDS_STATUS_INTERNAL_ERROR, IDS_STATUS_VERSION_MISMATCH};
        return firstBox(p[11] <= 4 ? kStatus[p[11]] : IDS_STATUS_OTHER);
    }
    if (nPort != DEVICE_PORT || n < DEVMSG_HEADER_SIZE || p[0] < 0x20 || p[0] > 0x25 ||
        n < DeviceMsgSize(std::int8_t(p[0]))) {
        Require(g_pUi->m_messages.size() == nMessages && g_pUi->m_urls.size() == nUrls &&
                    g_pUi->m_fileDialogs.size() == nDialogs && Page().m_listDevices->GetItemCount() == nRows,
                "an ignored datagram had an effect");
        return;
    }
    switch (p[0]) {
    case 0x20: {
        const CDeviceList& list = *Page().m_listDevices;
        const QString strMac = QString::fromLatin1(Field(p + 36, 18));
        const int nRow = list.FindItem(strMac);
        Require(nRow >= 0 && list.GetItemText(nRow, 0) == strMac &&
                    list.GetItemText(nRow, 1) == QString::fromLatin1(Field(p + 54, 16)) &&
                    list.GetItemText(nRow, 2) == QString::fromLatin1(Field(p + 12, 24)),
                "device row missing or its texts wrong");
        Require(g_pUi->m_messages.size() == nMessages, "a device reply showed a box");
        break;
    }
    case 0x21: return firstBox(IDS_SET_IP_DONE);
    case 0x23: return firstBox(IDS_REBOOT_DONE);
    case 0x25: return firstBox(IDS_LOAD_DONE);
    case 0x22: {
        if (WebPort(p) < 1 || WebPort(p) > 65535)
            return firstBox(IDS_OLD_DEVICE_VERSION);
        Require(g_pUi->m_urls.size() > nUrls || g_pUi->m_messages.size() > nMessages || !bBoxes,
                "a login reply launched no browser and said nothing");
        break;
    }
    case 0x24:
        Require(!bBoxes || g_pUi->m_fileDialogs.size() > nDialogs, "an image reply asked for no file");
        // Saved without complaint: the file holds exactly the image bytes.
        if (frame.nSavedAt >= 0 && g_pUi->m_messages.size() == frame.nSavedAt)
            Require(ReadFile(g_strImage) == QByteArray(reinterpret_cast<const char*>(p + 12), FLASHINFO_SIZE),
                    "saved image differs from the reply's");
        break;
    default: break;
    }
}

// The class the endpoint must count a datagram in.
void Count(const unsigned char* p, qint64 n, quint16 nPort)
{
    if (n < 1 || n > DEVMSG_BUF_SIZE)
        ++g_expected.nReceiveErrors;
    else if (nPort != DEVICE_PORT)
        ++g_expected.nWrongPort;
    else if (n < DEVMSG_HEADER_SIZE || (p[11] == 0 && n < DeviceMsgSize(std::int8_t(p[0]))))
        ++g_expected.nTooShort;
    else if (p[11] != 0)
        ++g_expected.nStatusErrors;
    else if (p[0] >= 0x20 && p[0] <= 0x25)
        ++g_expected.nReplies;
    else
        ++g_expected.nIgnored;
}

void CheckStats()
{
    const DeviceReceiveStats& stats = Page().m_socket.Stats();
    Require(stats.nReceiveErrors == g_expected.nReceiveErrors && stats.nWrongPort == g_expected.nWrongPort &&
                stats.nTooShort == g_expected.nTooShort && stats.nStatusErrors == g_expected.nStatusErrors &&
                stats.nReplies == g_expected.nReplies && stats.nIgnored == g_expected.nIgnored,
            "receive counts wrong");
}

// Hands the oldest queued datagram to the endpoint, as its dispatch does.
void Deliver(std::uint8_t nFlags)
{
    unsigned char buf[DEVMSG_BUF_SIZE];
    const std::optional<PoppedDatagram> popped = g_pQueue->Pop(buf);
    Require(popped.has_value() == !g_queued.empty(), "queue lost or invented a datagram");
    if (!popped)
        return;
    const auto [info, bMore, bResume] = *popped;
    const Queued expected = std::move(g_queued.front());
    g_queued.pop_front();
    const qint64 nLength = info.nLength;
    const quint16 nPort = info.nPort;
    Require(nLength == expected.nLength && nPort == expected.nPort && bMore == !g_queued.empty() && !bResume &&
                (nLength < 1 || nLength > DEVMSG_BUF_SIZE ||
                 std::memcmp(buf, expected.bytes.constData(), std::size_t(nLength)) == 0),
            "queue gave back another datagram");

    // Exactly the datagram's bytes: a read past its length is an ASan report.
    const qint64 nStored = nLength >= 1 && nLength <= DEVMSG_BUF_SIZE ? nLength : 0;
    auto pData = std::make_unique<unsigned char[]>(std::size_t(nStored));
    std::memcpy(pData.get(), buf, std::size_t(nStored));

    Frame frame{pData.get(), nLength, nFlags, ModalDepth()};
    const qsizetype nMessages = g_pUi->m_messages.size();
    const std::size_t nUrls = g_pUi->m_urls.size();
    const qsizetype nDialogs = g_pUi->m_fileDialogs.size();
    const int nRows = Page().m_listDevices->GetItemCount();
    Count(pData.get(), nLength, nPort);
    g_frames.push_back(&frame);
    Page().m_socket.HandleDatagram(pData.get(), nLength, nPort);
    g_frames.pop_back();

    Require(ModalDepth() == frame.nDepth, "modal depth not restored");
    CheckEffect(frame, nPort, nMessages, nUrls, nDialogs, nRows);
    if (g_frames.empty()) // counted once the handler returns, nested ones first
        CheckStats();
}

// Takes the next record off the input: queues its datagram (or a burst of
// them) and, unless held, hands the oldest one on.
void Feed()
{
    if (g_pEnd - g_pNext < 4) {
        g_pNext = g_pEnd;
        return;
    }
    const std::uint8_t nFlags = g_pNext[0];
    const int nClick = g_pNext[1];
    const unsigned nField = unsigned(g_pNext[2]) | unsigned(g_pNext[3]) << 8;
    g_pNext += 4;
    qint64 nLength = -1;
    if (nField != 0xFFFF)
        nLength = std::min<qint64>(nField % (MAX_FUZZ_LENGTH + 1), g_pEnd - g_pNext);
    QByteArray bytes(reinterpret_cast<const char*>(g_pNext), qsizetype(std::max<qint64>(nLength, 0)));
    g_pNext += bytes.size();
    const quint16 nPort = (nFlags & 1) ? DEVICE_PORT + 1 : DEVICE_PORT;

    CChooseDlg& page = Page();
    if (nFlags & 32)
        page.ClearListAndSelect(page.m_strSelectedIp, page.m_strSelectedMac, page.m_strPassword);
    if (nClick > 0)
        page.OnClickDeviceList(nClick - 1);

    const bool bDevice = bytes.size() >= 38 && std::uint8_t(bytes[0]) == DM_DEVICE_INFO;
    const bool bBurst = (nFlags & 128) && (!bDevice || g_nBursts < 2);
    g_nBursts += bBurst && bDevice ? 1 : 0;
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (int i = 0; i < (bBurst ? (bDevice ? 300 : 8) : 1); ++i) {
        if (bBurst && bDevice) {
            bytes[36] = kDigits[i / 36];
            bytes[37] = kDigits[i % 36];
        }
        const auto* pBytes = reinterpret_cast<const unsigned char*>(bytes.constData());
        Require(!g_pQueue->Push(pBytes, {nLength, nPort, 0, 0}) && g_pQueue->Bytes() > 0,
                "queue paused the reader, or holds nothing");
        const qint64 nPopped = nLength < 0 ? -1 : std::min<qint64>(nLength, DEVMSG_BUF_SIZE + 1);
        g_queued.push_back({nPopped, nPort, nPopped <= DEVMSG_BUF_SIZE ? bytes : QByteArray()});
        if (!(nFlags & 64))
            Deliver(nFlags);
    }
    CheckList();
}

// The page as after Start Configuration on a listed appliance, list empty.
void Reset()
{
    Page().ClearListAndSelect(QStringLiteral("10.200.1.2"), QStringLiteral("00:1A:2B:00:00:02"), kPassword);
    g_pSheet->m_nWebPort = 80;
    g_pSheet->m_strUserName = QStringLiteral("admin");
    g_pSheet->m_strDeviceIp.clear();
    g_pSheet->m_strDeviceMac.clear();
    g_pSheet->m_strPassword.clear();
    g_pSheet->m_bConfigStarted = false;
    // The hidden list's deferred layout work, which would otherwise wait
    // for an event loop that never runs.
    QCoreApplication::processEvents();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    RequirePrivateSegmentOrExit();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_receive";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv); // lives as long as the process

    g_pDir = new QTemporaryDir;
    Require(g_pDir->isValid(), "no temporary directory");
    g_strImage = g_pDir->filePath(QStringLiteral("image.cfg"));
    std::atexit([] { delete g_pDir; });

    // Constructed, never initialised: no socket, no timers. Replies reach
    // the page all the same, and the list is set up as start-up sets it.
    g_pSheet = new CSetupSheet(Text(IDS_SHEET_CAPTION));
    Page().m_socket.Setup(&Page());
    Require(!Page().m_socket.IsOpen(), "the page opened a socket");
    CDeviceList& list = *Page().m_listDevices;
    list.InitStyle();
    list.InsertColumns(list.View()->frameGeometry().width() / 3);

    // Qt's lazily built caches filled now (glyphs of every Latin-1
    // character, the address field's validator, selection): filled by some
    // later input, they would look like its leak and set off a heap scan.
    Reset();
    QString strAll;
    for (int c = 1; c < 256; ++c)
        strAll += QChar(c);
    Page().AddDevice({}, strAll, strAll, strAll);
    Page().AddDevice({}, strAll, Page().m_strSelectedMac, QStringLiteral("10.200.1.2"));
    Page().OnClickDeviceList(0);
    list.View()->resizeColumnsToContents();
    list.View()->resizeRowsToContents();
    Reset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    // Every input starts from Reset(): Initialize and each input end with it.
    CChooseDlg& page = Page();
    CFuzzUi ui;
    CDatagramQueue queue;
    g_pUi = &ui;
    g_pQueue = &queue;
    g_nBursts = 0;
    g_pNext = pData;
    g_pEnd = pData + nSize;
    while (g_pNext < g_pEnd)
        Feed();
    while (!g_queued.empty())
        Deliver(0);
    CheckList();
    Require(queue.Bytes() == 0, "queue not empty after the last datagram");
    Require(ModalDepth() == 0 && ui.m_nMaxDepth <= MAX_MODAL_DEPTH, "modal depth");
    Require(!page.m_socket.IsOpen(), "the page opened a socket");
    g_pUi = nullptr;
    g_pQueue = nullptr;
    // Left as found, so that no input leaves memory behind it for the next
    // one: libFuzzer would take that for a leak and scan the heap each time.
    Reset();
    return 0;
}
