#include "choosedlg.h"

#include "accessibility.h"
#include "alerts.h"
#include "dialogunits.h"
#include "ipaddressctrl.h"
#include "resource.h"
#include "ui_choosedlg.h"

#include <QHostAddress>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QTimerEvent>

namespace {
constexpr QSize PAGE_SIZE_DLU(267, 318);

// Dotted text as a 32-bit address, first octet most significant; all ones
// when the text is not a dotted-decimal IPv4 address.
quint32 ParseAddress(const QString& strText)
{
    QHostAddress addr;
    if (addr.setAddress(strText) && addr.protocol() == QAbstractSocket::IPv4Protocol)
        return addr.toIPv4Address();
    return 0xFFFFFFFFu;
}
} // namespace

CChooseDlg::CChooseDlg() : m_pUi(std::make_unique<Ui::CChooseDlg>())
{
    // Save, Load and their group are never shown, so never read either.
    ExposeAs(this, QAccessible::Client);
    m_pUi->setupUi(this);
    ApplyDialogUnits(this, PAGE_SIZE_DLU);
    DoDataExchange();
    LabelControl(m_pUi->labelSelect, m_pUi->IDC_DEVICE_LIST);
    LabelControl(m_pUi->labelPassword, m_pUi->IDC_PASSWORD);
    LabelControl(m_pUi->labelSelectedIp, m_pUi->IDC_SELECTED_IP);
    // A reader finds a button by its name; the label's leading space is for the eye.
    m_pUi->IDC_REBOOT->setAccessibleName(m_pUi->IDC_REBOOT->text().trimmed());
    // The password travels as 8-bit text: a character it cannot carry is
    // refused as it is typed rather than sent as another one.
    m_editPassword->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[\\x{1}-\\x{ff}]*")), m_editPassword));

    connect(m_pUi->IDC_CHANGE_IP, &QPushButton::clicked, this, &CChooseDlg::OnChangeIp);
    connect(m_pUi->IDC_START_CONFIG, &QPushButton::clicked, this, &CChooseDlg::OnStartConfig);
    connect(m_pUi->IDC_REBOOT, &QPushButton::clicked, this, &CChooseDlg::OnReboot);
    // Save and Load stay hidden; their handlers answer the buttons' clicks all the same.
    connect(m_pUi->IDC_SAVE_FLASHINFO, &QPushButton::clicked, this, &CChooseDlg::OnSaveFlashInfo);
    connect(m_pUi->IDC_LOAD_FLASHINFO, &QPushButton::clicked, this, &CChooseDlg::OnLoadFlashInfo);
    // A click on a row changes the target, and so do Space and a reader's
    // pick (CDeviceView); moving in the list with the keys does not.
    connect(m_listDevices->View(), &QAbstractItemView::clicked, this,
            [this](const QModelIndex& index) { OnClickDeviceList(index.isValid() ? index.row() : -1); });
    connect(m_listDevices->View(), &CDeviceView::rowPicked, this, &CChooseDlg::OnClickDeviceList);
    connect(m_ipSelected, &CIPAddressCtrl::addressChanged, this, [this] { DescribeTarget(true); });
}

CChooseDlg::~CChooseDlg() = default;

void CChooseDlg::DoDataExchange()
{
    m_btnChangeIp = m_pUi->IDC_CHANGE_IP;
    m_ipSelected = m_pUi->IDC_SELECTED_IP;
    m_listDevices = std::make_unique<CDeviceList>(m_pUi->IDC_DEVICE_LIST);
    m_btnStartConfig = m_pUi->IDC_START_CONFIG;
    m_editPassword = m_pUi->IDC_PASSWORD;
}

bool CChooseDlg::UpdateData(bool bSaveAndValidate)
{
    if (bSaveAndValidate)
        m_strPassword = m_editPassword->text();
    else
        m_editPassword->setText(m_strPassword);
    return true;
}

bool CChooseDlg::OnInitDialog()
{
    UpdateData(false);
    InitDeviceList();
    if (m_socket.Create())
        m_socket.Setup(this);
    else
        ShowAlert(IDS_SOCKET_CREATE_FAILED);
    SetTimer(TIMER_FIRST_DISCOVERY, FIRST_DISCOVERY_MS);
    m_listDevices->View()->setFocus();
    return true;
}

void CChooseDlg::InitDeviceList()
{
    m_listDevices->InitStyle();
    // Three equal columns that fit the list without a horizontal scroll bar.
    m_listDevices->InsertColumns(m_listDevices->FittingColumnWidth());
}

bool CChooseDlg::OnSetActive()
{
    if (QPushButton* pCancel = m_pSheet->GetDlgItem(IDCANCEL))
        pCancel->setEnabled(false);
    SetTimer(TIMER_REFRESH, REFRESH_MS);
    return true;
}

bool CChooseDlg::OnKillActive()
{
    if (!m_pSheet->IsConfigStarted())
        return true;
    if (QPushButton* pCancel = m_pSheet->GetDlgItem(IDCANCEL))
        pCancel->setEnabled(true);
    KillTimer(TIMER_REFRESH);
    return UpdateData(true);
}

bool CChooseDlg::OnApply()
{
    OnOK();
    return true;
}

void CChooseDlg::SetTimer(int nId, int nElapseMs)
{
    // Precise: a coarse timer may run out up to 5% early.
    m_timers[std::size_t(nId - 1)].start(nElapseMs, Qt::PreciseTimer, this);
}

void CChooseDlg::KillTimer(int nId)
{
    m_timers[std::size_t(nId - 1)].stop();
}

bool CChooseDlg::IsTimerRunning(int nId) const
{
    return m_timers[std::size_t(nId - 1)].isActive();
}

void CChooseDlg::timerEvent(QTimerEvent* pEvent)
{
    for (std::size_t i = 0; i < m_timers.size(); ++i) {
        if (m_timers[i].timerId() == pEvent->timerId()) {
            OnTimer(int(i) + 1);
            return;
        }
    }
    QWidget::timerEvent(pEvent);
}

void CChooseDlg::OnTimer(int nIdEvent)
{
    switch (nIdEvent) {
    case TIMER_FIRST_DISCOVERY:
        // Stopped only after the send: while a send-error box is open the
        // timer may fire again and try again.
        SendDiscovery();
        KillTimer(TIMER_FIRST_DISCOVERY);
        break;
    case TIMER_REFRESH:
        m_interfaceOfIp[1] = std::move(m_interfaceOfIp[0]);
        m_interfaceOfIp[0].clear();
        m_listDevices->DeleteAllItems();
        m_nDeviceCount = 0;
        SendDiscovery();
        break;
    case TIMER_REPLY:
    case TIMER_SETIP_REPLY:
        KillTimer(nIdEvent);
        ShowAlert(IDS_NO_RESPONSE);
        break;
    default:
        break;
    }
}

void CChooseDlg::SendDiscovery()
{
    Send({.nType = DM_DISCOVER});
    // A sweep's requests that the system refuses show no box: a range with
    // no route would bring one per address.
    if (!m_scanRanges.IsEmpty())
        m_sweep.Start(m_scanRanges, SWEEP_DEFAULT_RATE);
}

int CChooseDlg::InterfaceOf(const QString& strIp) const
{
    for (const QHash<QString, int>& round : m_interfaceOfIp)
        if (const auto it = round.constFind(strIp); it != round.constEnd())
            return *it;
    return 0;
}

void CChooseDlg::AddDevice(const DeviceOrigin& origin, const QString& strSerial, const QString& strMac,
                           const QString& strIp)
{
    if (origin.nInterface > 0)
        m_interfaceOfIp[0].insert(strIp, origin.nInterface);
    const int nOld = m_listDevices->FindItem(strMac);
    if (nOld >= 0) {
        m_listDevices->DeleteItem(nOld);
        --m_nDeviceCount;
    }
    const int nRow = m_listDevices->InsertItem(strMac);
    ++m_nDeviceCount;
    m_listDevices->SetItemText(nRow, 1, strIp);
    m_listDevices->SetItemText(nRow, 2, strSerial);

    const int nSelected = m_listDevices->FindItem(m_strSelectedMac);
    if (nSelected >= 0) {
        m_listDevices->SelectItem(nSelected);
        m_listDevices->EnsureVisible(nSelected);
    }
}

void CChooseDlg::OnClickDeviceList(int nRow)
{
    if (nRow < 0 || nRow >= m_listDevices->GetItemCount())
        return;
    m_strSelectedMac = m_listDevices->GetItemText(nRow, 0);
    m_strSelectedIp = m_listDevices->GetItemText(nRow, 1);
    ShowTarget();
}

void CChooseDlg::ShowTarget()
{
    {
        const QSignalBlocker picked(m_ipSelected);
        m_ipSelected->SetAddress(ParseAddress(m_strSelectedIp));
    }
    m_listDevices->SetTarget(m_strSelectedMac);
    DescribeTarget(false);
}

void CChooseDlg::DescribeTarget(bool bTyped)
{
    // Whose address the field holds: the list's selection may have moved away from the target's row.
    if (!bTyped)
        m_ipSelected->setAccessibleDescription(QStringLiteral("Address of ") + m_strSelectedMac);
    else if (m_strSelectedMac.isEmpty())
        m_ipSelected->setAccessibleDescription(QStringLiteral("Typed by hand"));
    else
        m_ipSelected->setAccessibleDescription(QStringLiteral("Typed by hand; Change IP Addr still acts on ") +
                                               m_strSelectedMac);
}

void CChooseDlg::ClearListAndSelect(const QString& strIp, const QString& strMac, const QString& strPassword)
{
    m_listDevices->DeleteAllItems();
    m_nDeviceCount = 0;
    m_strSelectedMac = strMac;
    m_strSelectedIp = strIp;
    ShowTarget();
    m_strPassword = strPassword;
    UpdateData(false);
}
