// The chooser page's commands and the handlers of their replies (the page
// is declared in choosedlg.h). A command checks its target, sends one
// request and starts a reply timer; a reply stops the timer and tells the
// outcome.
#include "choosedlg.h"

#include "alerts.h"
#include "flashinfofile.h"
#include "interfaces.h"
#include "ipaddressctrl.h"
#include "ipv4text.h"
#include "newipdlg.h"
#include "resource.h"
#include "stringtable.h"

namespace {
// 0.0.0.0, and every address that reaches all appliances at once or none
// (the broadcast, a local subnet's edges, multicast, this host): a request
// sent there would reboot or reconfigure every appliance that shares the
// password. The command line refuses the same.
bool BadAddress(quint32 nIp)
{
    return !UnusableIpv4Reason(nIp).isEmpty();
}

// The file dialog of Save (bSave) or Load: image files first, then all
// files; a name typed without a suffix gets ".cfg".
QString GetImageFileName(bool bSave)
{
    return RunFileDialog(bSave,
                         {QStringLiteral("Lumisk Configuration Files (*.cfg)"), QStringLiteral("All Files (*.*)")},
                         QStringLiteral("cfg"));
}
} // namespace

bool CChooseDlg::CommandAddress(QString& strAddress)
{
    quint32 nIp = 0;
    if (m_ipSelected->GetAddress(nIp) < 4) {
        ShowAlert(IDS_INVALID_IP);
        return false;
    }
    if (BadAddress(nIp)) {
        ShowAlert(IDS_BAD_IP);
        return false;
    }
    strAddress = Ipv4Text(nIp);
    return true;
}

void CChooseDlg::SendUnicastCommand(std::int8_t nType)
{
    UpdateData(true);
    QString strAddress;
    if (CommandAddress(strAddress))
        SendToAddress({.nType = nType}, strAddress);
}

void CChooseDlg::SendToAddress(DeviceRequest request, const QString& strAddress)
{
    m_strSelectedIp = strAddress;
    request.strPassword = m_strPassword;
    request.strDeviceIp = strAddress;
    request.nInterface = InterfaceOf(strAddress);
    Send(request);
    SetTimer(TIMER_REPLY, REPLY_TIMEOUT_MS);
}

void CChooseDlg::OnStartConfig()
{
    SendUnicastCommand(DM_GET_LOGIN);
}

void CChooseDlg::OnReboot()
{
    if (AskQuestion(IDS_CONFIRM_REBOOT))
        SendUnicastCommand(DM_REBOOT);
}

void CChooseDlg::OnChangeIp()
{
    UpdateData(true);
    quint8 nField0 = 0, nField1 = 0, nField2 = 0, nField3 = 0;
    if (m_ipSelected->GetAddress(nField0, nField1, nField2, nField3) < 4) {
        ShowAlert(IDS_INVALID_IP);
        return;
    }

    CNewIpDlg dlg;
    dlg.SetAddress(nField0, nField1, nField2, nField3);
    if (RunModalDialog(dlg) == IDCANCEL)
        return;
    dlg.GetAddress(nField0, nField1, nField2, nField3);
    const quint32 nNewIp = quint32(nField0) << 24 | quint32(nField1) << 16 | quint32(nField2) << 8 | nField3;
    if (BadAddress(nNewIp)) {
        ShowAlert(IDS_BAD_IP);
        return;
    }

    // The appliance is named by the MAC text of the row last clicked; the
    // address field keeps showing the old address.
    m_strSelectedIp = Ipv4Text(nNewIp);
    Send({.nType = DM_SET_IP, .strPassword = m_strPassword, .strMac = m_strSelectedMac, .strNewIp = m_strSelectedIp});
    SetTimer(TIMER_SETIP_REPLY, REPLY_TIMEOUT_MS);
}

void CChooseDlg::OnStatusError(const DeviceOrigin&, int nStatus)
{
    KillTimer(TIMER_REPLY);
    KillTimer(TIMER_SETIP_REPLY);
    ShowAlert(StatusTextId(nStatus));
}

void CChooseDlg::OnReceiveError(const DeviceOrigin&, const QString&)
{
    ShowAlert(IDS_RECEIVE_ERROR);
}

void CChooseDlg::Send(const DeviceRequest& request)
{
    if (!m_socket.Send(request))
        ShowAlert(IDS_SEND_ERROR);
}

void CChooseDlg::OnSetIpDone(const DeviceOrigin&)
{
    KillTimer(TIMER_SETIP_REPLY);
    ShowAlert(IDS_SET_IP_DONE);
}

void CChooseDlg::OnLoginInfo(const DeviceOrigin&, const LoginInfo& loginInfo)
{
    KillTimer(TIMER_REPLY);
    // The login page opens at the page's target, whoever answered.
    m_pSheet->StartWebLogin(
        {m_strSelectedIp, m_strSelectedMac, m_strPassword, loginInfo.strUserName, loginInfo.nWebPort});
}

void CChooseDlg::OnRebootDone(const DeviceOrigin&)
{
    KillTimer(TIMER_REPLY);
    ShowAlert(IDS_REBOOT_DONE);
}

void CChooseDlg::OnSaveFlashInfo()
{
    SendUnicastCommand(DM_GET_FLASHINFO);
}

// Any image reply is saved, asked for or not, from whichever appliance.
void CChooseDlg::OnFlashInfo(const DeviceOrigin&, const unsigned char* pImage)
{
    KillTimer(TIMER_REPLY);
    const QString strPath = GetImageFileName(true);
    if (strPath.isEmpty())
        return;
    QString strError;
    switch (SaveFlashInfoFile(strPath, pImage, strError)) {
    case FlashFileResult::Ok:
        break;
    case FlashFileResult::IoError:
        ShowText(QStringLiteral("An error occurred while writing %1: %2").arg(strPath, strError));
        break;
    default:
        ShowAlert(IDS_FILE_OPEN_ERROR);
        break;
    }
}

void CChooseDlg::OnLoadFlashInfo()
{
    UpdateData(true);
    QString strAddress;
    if (!CommandAddress(strAddress))
        return;
    // Asked only once the address is known to be good.
    if (!AskQuestion(IDS_CONFIRM_LOAD))
        return;
    const QString strPath = GetImageFileName(false);
    if (strPath.isEmpty())
        return;

    unsigned char image[FLASHINFO_SIZE];
    QString strError;
    switch (LoadFlashInfoFile(strPath, image, strError)) {
    case FlashFileResult::Ok:
        break;
    case FlashFileResult::IoError:
        ShowText(QStringLiteral("An error occurred while reading %1: %2").arg(strPath, strError));
        return;
    default:
        ShowAlert(IDS_FILE_OPEN_ERROR);
        return;
    }

    const QByteArray bytes(reinterpret_cast<const char*>(image), FLASHINFO_SIZE);
    SendToAddress({.nType = DM_PUT_FLASHINFO, .image = bytes}, strAddress);
}

void CChooseDlg::OnPutFlashInfoDone(const DeviceOrigin&)
{
    KillTimer(TIMER_REPLY);
    ShowAlert(IDS_LOAD_DONE);
}
