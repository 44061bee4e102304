// The chooser page: the whole working surface of the utility.
//
// CChooseDlg lists the appliances that answer a discovery broadcast (one row
// each: MAC address, IP address, serial number), keeps the list fresh, holds
// the target of every command (the IP field, the MAC text of the row last
// picked, the administrator password), and runs the commands: Change IP,
// Start Configuration, Reboot, and the hidden Save and Load of configuration
// images. It owns the datagram endpoint m_socket, which calls back into the
// reply handlers below on the user-interface thread. It reaches the sheet
// that holds it through m_pSheet, a CPageSheet (pagesheet.h). The list and
// the page's life are in choosedlg.cpp, the commands and their replies in
// choosecommands.cpp.
//
// A command is one request and one running reply timer; there is no queue
// and a reply is matched neither to its request nor to the appliance asked.
// Every outcome is told in a box through ShowAlert. Boxes run nested event
// loops, so replies, time-outs and refreshes go on while one is open.
//
// Timers are driven through OnTimer(id), which tests may call directly.
#pragma once

#include "addresssweep.h"
#include "devicelist.h"
#include "devicereplies.h"
#include "devicesocket.h"
#include "pagesheet.h"

#include <QBasicTimer>
#include <QHash>
#include <QString>
#include <QWidget>

#include <array>
#include <memory>

class CIPAddressCtrl;
class QLineEdit;
class QPushButton;
namespace Ui {
class CChooseDlg;
}

enum : int {
    TIMER_FIRST_DISCOVERY = 1,
    TIMER_REFRESH = 2,
    TIMER_REPLY = 3,
    TIMER_SETIP_REPLY = 4,
};

constexpr int FIRST_DISCOVERY_MS = 500;
constexpr int REFRESH_MS = 5000;
constexpr int REPLY_TIMEOUT_MS = 5000;
// Addresses the window sweeps at most: at the sweep's default rate they
// are all asked within one refresh period.
constexpr quint64 WINDOW_SCAN_MAX_ADDRESSES = 4096;

class CChooseDlg : public QWidget, public CDeviceReplies {
    Q_OBJECT
public:
    CChooseDlg();
    ~CChooseDlg() override;

    // Page life, called by the sheet.
    bool OnInitDialog();
    bool OnSetActive();
    bool OnKillActive();
    void OnOK() {}
    bool OnApply();

    // Copies the password edit into m_strPassword (bSaveAndValidate) or back.
    bool UpdateData(bool bSaveAndValidate = true);

    void OnTimer(int nIdEvent);
    // The row under a mouse click, or picked by Space or a screen reader;
    // -1 when the click hit no row.
    void OnClickDeviceList(int nRow);
    // Empties the list and aims the commands at strIp and strMac with
    // strPassword, as a click on that row and typing the password would: a
    // known state for a test that reuses one page.
    void ClearListAndSelect(const QString& strIp, const QString& strMac, const QString& strPassword);

    // Commands.
    void OnChangeIp();
    void OnStartConfig();
    void OnReboot();
    void OnSaveFlashInfo();
    void OnLoadFlashInfo();

    // Replies, called by m_socket. The page takes each reply whoever sent
    // it; only discovery's sender is kept, for its interface.
    void AddDevice(const DeviceOrigin& origin, const QString& strSerial, const QString& strMac,
                   const QString& strIp) override;
    void OnReceiveError(const DeviceOrigin& origin, const QString& strReason) override;
    void OnStatusError(const DeviceOrigin& origin, int nStatus) override;
    void OnSetIpDone(const DeviceOrigin& origin) override;
    void OnLoginInfo(const DeviceOrigin& origin, const LoginInfo& loginInfo) override;
    void OnRebootDone(const DeviceOrigin& origin) override;
    void OnFlashInfo(const DeviceOrigin& origin, const unsigned char* pImage) override;
    void OnPutFlashInfoDone(const DeviceOrigin& origin) override;

    // Ranges that each discovery also sweeps by unicast (norvane-setup
    // --scan), for appliances behind a router.
    void SetScanRanges(const CAddressRanges& ranges) { m_scanRanges = ranges; }
    const CAddressRanges& ScanRanges() const { return m_scanRanges; }

    // Window timers by id: setting a running id restarts its period.
    void SetTimer(int nId, int nElapseMs);
    void KillTimer(int nId);
    bool IsTimerRunning(int nId) const;

    CPageSheet* m_pSheet = nullptr;
    QString m_strSelectedIp;
    QString m_strSelectedMac;
    CDeviceSocket m_socket;
    int m_nDeviceCount = 0;
    QPushButton* m_btnChangeIp = nullptr;
    CIPAddressCtrl* m_ipSelected = nullptr;
    std::unique_ptr<CDeviceList> m_listDevices;
    QPushButton* m_btnStartConfig = nullptr;
    QString m_strPassword;

protected:
    void timerEvent(QTimerEvent* pEvent) override;

private:
    void DoDataExchange();
    // Sends the request, showing "SendTo Error" when it could not leave.
    void Send(const DeviceRequest& request);
    // The broadcast, and the sweep when there are ranges.
    void SendDiscovery();
    void InitDeviceList();
    // The target in the address field, its row marked, its MAC in the
    // field's description.
    void ShowTarget();
    void DescribeTarget(bool bTyped);
    // Steps of every unicast command up to the address text; false (after
    // its alert) when the address field is incomplete, 0.0.0.0 or another
    // address no request may go to.
    bool CommandAddress(QString& strAddress);
    // The whole of a unicast command of type nType: pull in the password,
    // check the address, then SendToAddress.
    void SendUnicastCommand(std::int8_t nType);
    // The end of every unicast command, its address checked: store the
    // address, send the request there with the password, start TIMER_REPLY.
    void SendToAddress(DeviceRequest request, const QString& strAddress);
    // The interface the appliance at this address last answered discovery
    // on; 0 lets the routes decide.
    int InterfaceOf(const QString& strIp) const;

    std::unique_ptr<Ui::CChooseDlg> m_pUi;
    QLineEdit* m_editPassword = nullptr;
    std::array<QBasicTimer, TIMER_SETIP_REPLY> m_timers; // timer nId at nId - 1
    // Interface of each address's latest discovery reply, this round and the
    // one before: a refresh empties the list, but a command given just then
    // still needs the interface.
    std::array<QHash<QString, int>, 2> m_interfaceOfIp;
    CAddressRanges m_scanRanges;
    CAddressSweep m_sweep{m_socket};
};
