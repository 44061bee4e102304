// The setup sheet: the utility's one window, a modal property sheet with a
// single page, "Choose", and the buttons OK, Cancel and Apply.
//
// The sheet owns the chooser page and holds the web login values that the
// page hands it when an appliance answers Start Configuration; LaunchWebLogin
// then opens the appliance's login page in the default browser.
#pragma once

#include "choosedlg.h"
#include "loginurl.h"

#include <QDialog>
#include <QIcon>
#include <QString>

class QDialogButtonBox;
class QPushButton;
class QTabWidget;

enum : int { ID_APPLY_NOW = 0x3021 };

class CSetupSheet : public QDialog, public CPageSheet {
    Q_OBJECT
public:
    explicit CSetupSheet(const QString& strCaption, QWidget* pParent = nullptr, int nSelectPage = 0);
    ~CSetupSheet() override;

    // Initialises the window (page start-up and activation, icons, byte
    // order) and runs it modally.
    int DoModal();
    bool OnInitDialog();

    QPushButton* GetDlgItem(int nId) const override;
    bool IsConfigStarted() const override { return m_bConfigStarted; }
    void StartWebLogin(const WebLogin& login) override;

    void LaunchWebLogin();

    // Web login values, from the last answer to Start Configuration.
    int m_nWebPort = 80;
    QString m_strUserName;
    bool m_bConfigStarted = false;
    QString m_strDeviceMac;
    QString m_strPassword;
    QString m_strDeviceIp;

    CChooseDlg m_pageChoose;
    QIcon m_hIcon;

public slots:
    void accept() override;

protected:
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    QTabWidget* m_pTabs = nullptr;
    QDialogButtonBox* m_pButtons = nullptr;
    bool m_bInitialised = false;
};
