// Alerts and the user-interface seam.
//
// Every modal box the utility shows, every modal dialog it runs and the
// browser launch go through one CUiSeam. The program installs CWidgetUi,
// which shows real Qt windows; tests install a recorder, so no test ever
// blocks on a modal window and none needs a display.
//
// The boxes run nested event loops: replies, time-outs and refreshes go on
// while one is open and can open boxes of their own. Two rules keep that
// bounded: at most MAX_MODAL_DEPTH modal windows are open at once (a box past
// that is not shown, a question past it counts as No), and while a
// "SendTo Error" box is open a further send error is not shown, so a failing
// discovery timer cannot stack boxes.
#pragma once

#include <QString>
#include <QStringList>

class QDialog;
class QUrl;

constexpr int MAX_MODAL_DEPTH = 4;

class CUiSeam {
public:
    virtual ~CUiSeam() = default;

    // An OK box with the exclamation icon, captioned with the program name.
    virtual void MessageBox(const QString& strText) = 0;
    // A Yes/No box; true for Yes.
    virtual bool AskYesNo(const QString& strText) = 0;
    // Hands the URL to the default browser; false when that cannot be started.
    virtual bool OpenUrl(const QUrl& url) = 0;
    // Runs a modal dialog; IDOK or IDCANCEL.
    virtual int RunDialog(QDialog& dialog) = 0;
    // Asks for a file to save (bSave) or to open; the full path, or an empty
    // text when the user cancels. The first filter is the initial one.
    virtual QString GetFileName(bool bSave, const QStringList& filters, const QString& strDefaultSuffix) = 0;
};

// The widget seam used by the program.
class CWidgetUi : public CUiSeam {
public:
    void MessageBox(const QString& strText) override;
    bool AskYesNo(const QString& strText) override;
    bool OpenUrl(const QUrl& url) override;
    int RunDialog(QDialog& dialog) override;
    QString GetFileName(bool bSave, const QStringList& filters, const QString& strDefaultSuffix) override;
};

// The seam in use; CWidgetUi unless a test installed its own.
CUiSeam& UiSeam();
// Installs pUi (nullptr restores the widget seam); returns the previous one.
CUiSeam* SetUi(CUiSeam* pUi);

// Shows text nId (or "LoadString Error" when the table lacks it) in an OK box.
void ShowAlert(unsigned nId);
// Asks text nId as a Yes/No question; true for Yes.
bool AskQuestion(unsigned nId);

// Runs a modal dialog through the seam; IDCANCEL when the cap is reached.
int RunModalDialog(QDialog& dialog);
// Runs a file dialog through the seam; empty when cancelled or past the cap.
QString RunFileDialog(bool bSave, const QStringList& filters, const QString& strDefaultSuffix);
// Shows a text that is not in the string table (a file system's own error
// message) in the same OK box as ShowAlert.
void ShowText(const QString& strText);

// Number of modal windows open right now through the seam.
int ModalDepth();

// Counts one modal window for as long as it lives; Entered() is false when
// the cap is reached and the window must not be opened.
class CModalScope {
public:
    CModalScope();
    ~CModalScope();
    CModalScope(const CModalScope&) = delete;
    CModalScope& operator=(const CModalScope&) = delete;
    bool Entered() const { return m_bEntered; }

private:
    bool m_bEntered;
};
