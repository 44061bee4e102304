#include "setupsheet.h"

#include "alerts.h"
#include "devicemsg.h"
#include "resource.h"

#include <QDialogButtonBox>
#include <QHostAddress>
#include <QPushButton>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

CSetupSheet::CSetupSheet(const QString& strCaption, QWidget* pParent, int nSelectPage) : QDialog(pParent)
{
    setWindowTitle(strCaption);
    m_hIcon = QIcon(QStringLiteral(":/norvane.png"));

    m_pageChoose.m_pSheet = this;
    m_pTabs = new QTabWidget(this);
    m_pTabs->addTab(&m_pageChoose, m_pageChoose.windowTitle());
    m_pTabs->setCurrentIndex(nSelectPage);

    // OK, Cancel and Apply; no Help button.
    m_pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    m_pButtons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("IDOK"));
    m_pButtons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("IDCANCEL"));
    // The page never reports a change, so there is never anything to apply.
    m_pButtons->button(QDialogButtonBox::Apply)->setObjectName(QStringLiteral("ID_APPLY_NOW"));
    m_pButtons->button(QDialogButtonBox::Apply)->setEnabled(false);
    connect(m_pButtons, &QDialogButtonBox::accepted, this, &CSetupSheet::accept);
    connect(m_pButtons, &QDialogButtonBox::rejected, this, &CSetupSheet::reject);

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(m_pTabs);
    pLayout->addWidget(m_pButtons);
    pLayout->setSizeConstraint(QLayout::SetFixedSize);

    m_strUserName = QStringLiteral("admin");
    m_nWebPort = 80;
}

CSetupSheet::~CSetupSheet()
{
    // The page is a member: take it out of the tab widget before the base
    // class deletes its children.
    m_pTabs->removeTab(m_pTabs->indexOf(&m_pageChoose));
    m_pageChoose.setParent(nullptr);
}

int CSetupSheet::DoModal()
{
    OnInitDialog();
    return exec();
}

bool CSetupSheet::OnInitDialog()
{
    if (m_bInitialised)
        return true;
    m_bInitialised = true;
    m_pageChoose.OnInitDialog();
    m_pageChoose.OnSetActive();
    setWindowIcon(m_hIcon);
    InitByteOrder();
    return true;
}

QPushButton* CSetupSheet::GetDlgItem(int nId) const
{
    switch (nId) {
    case IDOK:
        return m_pButtons->button(QDialogButtonBox::Ok);
    case IDCANCEL:
        return m_pButtons->button(QDialogButtonBox::Cancel);
    case ID_APPLY_NOW:
        return m_pButtons->button(QDialogButtonBox::Apply);
    default:
        return nullptr;
    }
}

void CSetupSheet::accept()
{
    if (!m_pageChoose.OnKillActive())
        return;
    m_pageChoose.OnApply();
    QDialog::accept();
}

QByteArray CSetupSheet::FormatLoginUrl() const
{
    // User name (it comes from the network) and password are percent-encoded:
    // verbatim, an '&', '#', '%' or '+' would cut them short or add
    // parameters of their own. Both travel as the 8-bit text the appliance
    // knows them by.
    return "http://" + m_strDeviceIp.toLatin1() + ':' + QByteArray::number(m_nWebPort) +
           "/cgi-bin/qx_login-act.cgi?USER_NAME=" + m_strUserName.toLatin1().toPercentEncoding() +
           "&USER_PASSWD=" + m_strPassword.toLatin1().toPercentEncoding();
}

void CSetupSheet::LaunchWebLogin()
{
    // The address may be a row's IP text as an appliance reported it: only a
    // dotted-decimal address becomes the host, or a hostile reply could send
    // the password elsewhere or cut the URL short.
    const QHostAddress addr(m_strDeviceIp);
    const bool bDotted = addr.protocol() == QAbstractSocket::IPv4Protocol && addr.toString() == m_strDeviceIp;
    const QByteArray url = FormatLoginUrl();
    // Only a very long password makes the URL longer than the buffer it was
    // always formatted into; such a URL is not launched.
    if (!bDotted || url.size() > LOGIN_URL_BUF_SIZE - 1 ||
        !UiSeam().OpenUrl(QUrl::fromEncoded(url, QUrl::StrictMode)))
        ShowAlert(IDS_BROWSER_ERROR);
}
