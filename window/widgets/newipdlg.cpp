#include "newipdlg.h"

#include "accessibility.h"
#include "dialogunits.h"
#include "ipaddressctrl.h"
#include "ui_newipdlg.h"

#include <QEvent>
#include <QPushButton>
#include <QShowEvent>

CNewIpDlg::CNewIpDlg(QWidget* pParent)
    : QDialog(pParent)
{
    Ui::CNewIpDlg ui;
    ui.setupUi(this);
    m_ipNew = ui.IDC_NEW_IP;
    m_btnOK = ui.IDOK;
    LabelControl(ui.IDC_STATIC, ui.IDC_NEW_IP);
    // The .ui gives the window size in dialog units too.
    m_sizeDlu = size();
    connect(ui.IDOK, &QPushButton::clicked, this, &CNewIpDlg::OnOK);
    connect(ui.IDCANCEL, &QPushButton::clicked, this, &CNewIpDlg::reject);
    ApplyDialogUnits(this, m_sizeDlu);
}

void CNewIpDlg::SetAddress(quint8 nField0, quint8 nField1, quint8 nField2, quint8 nField3)
{
    m_nField0 = nField0;
    m_nField1 = nField1;
    m_nField2 = nField2;
    m_nField3 = nField3;
}

void CNewIpDlg::GetAddress(quint8& nField0, quint8& nField1, quint8& nField2, quint8& nField3) const
{
    nField0 = m_nField0;
    nField1 = m_nField1;
    nField2 = m_nField2;
    nField3 = m_nField3;
}

int CNewIpDlg::DoModal()
{
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void CNewIpDlg::accept()
{
    OnOK();
}

void CNewIpDlg::showEvent(QShowEvent* pEvent)
{
    QDialog::showEvent(pEvent);
    // Every run starts from the stored address, whether through DoModal,
    // exec() or open(); a spontaneous show is only a restore from minimised.
    if (!pEvent->spontaneous())
        OnInitDialog();
}

void CNewIpDlg::changeEvent(QEvent* pEvent)
{
    QDialog::changeEvent(pEvent);
    const bool bMetrics = pEvent->type() == QEvent::FontChange || pEvent->type() == QEvent::StyleChange;
    if (bMetrics && !m_bRelayoutPosted) {
        // The children take up the new font after the window does; measure once they have.
        m_bRelayoutPosted = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_bRelayoutPosted = false;
                ApplyDialogUnits(this, m_sizeDlu);
            },
            Qt::QueuedConnection);
    }
}

void CNewIpDlg::OnInitDialog()
{
    m_ipNew->SetAddress(m_nField0, m_nField1, m_nField2, m_nField3);
    // Enter at once accepts the preset.
    m_btnOK->setFocus(Qt::OtherFocusReason);
}

void CNewIpDlg::OnOK()
{
    // The number of filled fields does not matter: a blank one is 0.
    m_ipNew->GetAddress(m_nField0, m_nField1, m_nField2, m_nField3);
    QDialog::accept();
}
