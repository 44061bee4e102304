// CNewIpDlg: the modal dialog in which the administrator types an
// appliance's new IP address.
//
// SetAddress presets the address, DoModal runs the dialog, and after IDOK
// GetAddress yields what was entered (a blank field as 0). Cancel, Escape
// and the close box leave the preset as it was.
#pragma once

#include "resource.h"

#include <QDialog>
#include <QSize>

class CIPAddressCtrl;
class QPushButton;

class CNewIpDlg : public QDialog {
    Q_OBJECT
public:
    explicit CNewIpDlg(QWidget* pParent = nullptr);

    // First octet most significant.
    void SetAddress(quint8 nField0, quint8 nField1, quint8 nField2, quint8 nField3);
    void GetAddress(quint8& nField0, quint8& nField1, quint8& nField2, quint8& nField3) const;

    // IDOK or IDCANCEL.
    int DoModal();

    void accept() override;

protected:
    void showEvent(QShowEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;

private:
    void OnInitDialog();
    void OnOK();

    quint8 m_nField0 = 0;
    quint8 m_nField1 = 0;
    quint8 m_nField2 = 0;
    quint8 m_nField3 = 0;

public:
    // Public for the tests.
    CIPAddressCtrl* m_ipNew = nullptr;

private:
    QPushButton* m_btnOK = nullptr;
    QSize m_sizeDlu;
    bool m_bRelayoutPosted = false;
};
