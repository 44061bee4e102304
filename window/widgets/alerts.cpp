#include "alerts.h"

#include "resource.h"
#include "stringtable.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>

#include <algorithm>

namespace {
CWidgetUi g_widgetUi;
CUiSeam* g_pUi = &g_widgetUi;
int g_nModalDepth = 0;
bool g_bSendErrorOpen = false;

QString BoxCaption()
{
    // The executable's name, without extension, as the program's name.
    return QCoreApplication::applicationName();
}

// Runs a dialog modally. One that opens over another of these windows steps
// down and to the right of it: each would otherwise be centred on the same
// spot, and a stack of alike boxes would read as one.
int ExecOverOpenWindows(QDialog& dialog)
{
    static QList<const QDialog*> s_open; // innermost last
    if (!s_open.isEmpty()) {
        const QDialog* pBelow = s_open.constLast();
        const int nStep = 2 * dialog.fontMetrics().height();
        const QPoint pos = pBelow->frameGeometry().topLeft() + QPoint(nStep, nStep);
        const QRect rectScreen = pBelow->screen()->availableGeometry();
        dialog.adjustSize();
        dialog.move(std::min(pos.x(), rectScreen.right() + 1 - dialog.width()),
                    std::min(pos.y(), rectScreen.bottom() + 1 - dialog.height()));
    }
    s_open.append(&dialog);
    const int nResult = dialog.exec();
    s_open.removeOne(&dialog);
    return nResult;
}
} // namespace

void CWidgetUi::MessageBox(const QString& strText)
{
    QMessageBox box(QMessageBox::Warning, BoxCaption(), strText, QMessageBox::Ok);
    ExecOverOpenWindows(box);
}

bool CWidgetUi::AskYesNo(const QString& strText)
{
    QMessageBox box(QMessageBox::Warning, BoxCaption(), strText, QMessageBox::Yes | QMessageBox::No);
    return ExecOverOpenWindows(box) == QMessageBox::Yes;
}

bool CWidgetUi::OpenUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

int CWidgetUi::RunDialog(QDialog& dialog)
{
    return ExecOverOpenWindows(dialog) == QDialog::Accepted ? IDOK : IDCANCEL;
}

QString CWidgetUi::GetFileName(bool bSave, const QStringList& filters, const QString& strDefaultSuffix)
{
    QFileDialog dialog;
    dialog.setAcceptMode(bSave ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // Saving replaces a file without asking; opening accepts any name typed,
    // and a name that does not exist fails at the open that follows.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.value(0));
    dialog.setDefaultSuffix(strDefaultSuffix);
    if (ExecOverOpenWindows(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    QString strPath = dialog.selectedFiles().constFirst();
    // Native dialogs do not all add the default suffix themselves.
    const QFileInfo info(strPath);
    if (info.suffix().isEmpty() && !strDefaultSuffix.isEmpty() && (bSave || !info.exists()))
        strPath += QLatin1Char('.') + strDefaultSuffix;
    return strPath;
}

CUiSeam& UiSeam()
{
    return *g_pUi;
}

CUiSeam* SetUi(CUiSeam* pUi)
{
    CUiSeam* pOld = g_pUi;
    g_pUi = pUi ? pUi : &g_widgetUi;
    return pOld;
}

int ModalDepth()
{
    return g_nModalDepth;
}

CModalScope::CModalScope() : m_bEntered(g_nModalDepth < MAX_MODAL_DEPTH)
{
    if (m_bEntered)
        ++g_nModalDepth;
}

CModalScope::~CModalScope()
{
    if (m_bEntered)
        --g_nModalDepth;
}

void ShowAlert(unsigned nId)
{
    const bool bSendError = nId == IDS_SEND_ERROR;
    if (bSendError && g_bSendErrorOpen)
        return;

    CModalScope scope;
    if (!scope.Entered())
        return;
    if (bSendError)
        g_bSendErrorOpen = true;
    UiSeam().MessageBox(Text(nId));
    if (bSendError)
        g_bSendErrorOpen = false;
}

bool AskQuestion(unsigned nId)
{
    CModalScope scope;
    if (!scope.Entered())
        return false;
    return UiSeam().AskYesNo(Text(nId));
}

int RunModalDialog(QDialog& dialog)
{
    CModalScope scope;
    if (!scope.Entered())
        return IDCANCEL;
    return UiSeam().RunDialog(dialog);
}

QString RunFileDialog(bool bSave, const QStringList& filters, const QString& strDefaultSuffix)
{
    CModalScope scope;
    if (!scope.Entered())
        return {};
    return UiSeam().GetFileName(bSave, filters, strDefaultSuffix);
}

void ShowText(const QString& strText)
{
    CModalScope scope;
    if (scope.Entered())
        UiSeam().MessageBox(strText);
}
