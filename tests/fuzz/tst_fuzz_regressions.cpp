// Inputs the fuzzers found (tools/fuzz), kept as plain tests named after
// what each one found. Each feeds its datagrams through the endpoint's
// receive path into a sheet that is never initialised: no socket, no timers.
#include "msgbytes.h"
#include "recorder.h"
#include "setupsheet.h"
#include "testmain.h"

#include <QHostAddress>
#include <QUrl>

namespace {

void Receive(CChooseDlg& page, const QByteArray& datagram)
{
    page.m_socket.HandleDatagram(reinterpret_cast<const unsigned char*>(datagram.constData()), datagram.size(),
                                 DEVICE_PORT);
}

// fuzz_receive: a row whose IP text (any 16 bytes an appliance sent) is no
// address was clicked, then a login reply came: the text became the login
// URL's host as it stood. Empty or "10.20..10", the browser got an invalid
// URL; a host name sent the password to that host; "#", "/" or "?" cut the
// URL or moved the password out of its parameter.
TEST(FuzzRegressions, LoginUrlHostFromAClickedRowWithNonAddressIpText)
{
    CRecorderUi ui;
    CSetupSheet sheet(QStringLiteral("Norvane Setup v1.2"));
    CChooseDlg& page = sheet.m_pageChoose;
    page.m_socket.Setup(&page);

    for (const char* pszIp : {"", "10.20..10", "elsewhere.test", "10.200.1.2#", "h/?USER_NAME=x&", "a:1"}) {
        SCOPED_TRACE(pszIp);
        page.ClearListAndSelect({}, {}, QStringLiteral("pw"));
        ui.Clear();
        Receive(page, DeviceInfo("NV-1", "00:1A:2B:00:00:01", pszIp));
        page.OnClickDeviceList(0);
        Receive(page, LoginReply("admin", 8080));

        // Either no browser and a box saying so, or a launch to an address
        // with both parameters intact.
        EXPECT_FALSE(ui.m_urls.empty() && ui.m_messages.isEmpty());
        for (const QUrl& url : ui.m_urls) {
            EXPECT_TRUE(url.isValid()) << url.errorString().toStdString();
            const QHostAddress host(url.host());
            EXPECT_TRUE(host.protocol() == QAbstractSocket::IPv4Protocol && host.toString() == url.host())
                << url.toEncoded().constData();
            EXPECT_EQ(url.port(), 8080);
            EXPECT_EQ(url.query(QUrl::FullyEncoded), QStringLiteral("USER_NAME=admin&USER_PASSWD=pw"));
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    return RunSegmentTests(argc, argv);
}
