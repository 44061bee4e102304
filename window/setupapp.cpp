#include "setupapp.h"

#include "alerts.h"
#include "resource.h"
#include "setupsheet.h"
#include "stringtable.h"

#include <QUdpSocket>

bool CSetupApp::SocketInit()
{
    // Qt needs no start-up of its socket layer; the nearest equivalent is
    // whether an IPv4 datagram socket can be opened at all.
    QUdpSocket probe;
    return probe.bind(QHostAddress::AnyIPv4, 0);
}

void CSetupApp::RunSheet(CSetupSheet& sheet)
{
    sheet.DoModal();
}

bool CSetupApp::InitInstance()
{
    if (!SocketInit()) {
        ShowAlert(IDS_SOCKET_STARTUP_FAILED);
        return false;
    }
    QString strCaption;
    LoadString(IDS_SHEET_CAPTION, strCaption);
    CSetupSheet sheet(strCaption, nullptr, 0);
    RunSheet(sheet);
    return false;
}
