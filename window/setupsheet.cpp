#include "setupsheet.h"

#include "alerts.h"
#include "resource.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QKeyEvent>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

CSetupSheet::CSetupSheet(const QString& strCaption, QWidget* pParent, int nSelectPage) : QDialog(pParent)
{
    setWindowTitle(strCaption);
    // Every size drawn, for Qt to pick the one the title bar, the task bar or
    // the window switcher needs.
    const QDir icons(QStringLiteral(":/icons"));
    for (const QString& strFile : icons.entryList(QDir::Files))
        m_hIcon.addFile(icons.filePath(strFile));

    m_pageChoose.m_pSheet = this;
    m_pTabs = new QTabWidget(this);
    m_pTabs->addTab(&m_pageChoose, m_pageChoose.windowTitle());
    m_pTabs->setCurrentIndex(nSelectPage);
    // The tab frame is a tab stop of its own to a screen reader.
    m_pTabs->setAccessibleName(m_pageChoose.windowTitle());
    // Qt's tab bar lists its scroll arrows to readers even while hidden, as
    // they always are with one tab: at least they never take focus.
    for (QToolButton* pArrow : m_pTabs->tabBar()->findChildren<QToolButton*>())
        pArrow->setFocusPolicy(Qt::NoFocus);

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
    m_bConfigStarted = false;
    m_pageChoose.OnInitDialog();
    m_pageChoose.OnSetActive();
    setWindowIcon(m_hIcon);
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

void CSetupSheet::keyPressEvent(QKeyEvent* pEvent)
{
    // Escape is the Cancel button's key: while the page keeps Cancel
    // disabled, it does nothing either.
    const QPushButton* pCancel = GetDlgItem(IDCANCEL);
    if (pEvent->matches(QKeySequence::Cancel) && pCancel && !pCancel->isEnabled()) {
        pEvent->accept();
        return;
    }
    QDialog::keyPressEvent(pEvent);
}

void CSetupSheet::StartWebLogin(const WebLogin& login)
{
    m_strDeviceIp = login.strDeviceIp;
    m_strDeviceMac = login.strDeviceMac;
    m_strPassword = login.strPassword;
    // Kept even when the port below is refused.
    m_strUserName = login.strUserName;
    if (login.nWebPort < 1 || login.nWebPort > 65535) {
        ShowAlert(IDS_OLD_DEVICE_VERSION);
        return;
    }
    m_nWebPort = login.nWebPort;
    m_bConfigStarted = true;
    LaunchWebLogin();
}

void CSetupSheet::LaunchWebLogin()
{
    const QByteArray url = LoginUrlToOpen(m_strDeviceIp, m_nWebPort, m_strUserName, m_strPassword);
    if (url.isEmpty() || !UiSeam().OpenUrl(QUrl::fromEncoded(url, QUrl::StrictMode)))
        ShowAlert(IDS_BROWSER_ERROR);
}
