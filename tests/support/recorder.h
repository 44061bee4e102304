// A user-interface seam that records instead of showing windows; for the
// window's tests alone, since it brings in the widgets.
#pragma once

#include "alerts.h"

#include <QStringList>
#include <QUrl>

#include <functional>
#include <vector>

// Installs itself as the seam for its lifetime. Boxes return at once unless
// a test hooks onMessage to run something "while the box is open".
class CRecorderUi : public CUiSeam {
public:
    CRecorderUi() { m_pPrevious = SetUi(this); }
    ~CRecorderUi() override { SetUi(m_pPrevious); }

    void MessageBox(const QString& strText) override
    {
        m_messages << strText;
        m_events << strText;
        m_nMaxDepth = std::max(m_nMaxDepth, ModalDepth());
        if (onMessage)
            onMessage(strText);
    }
    bool AskYesNo(const QString& strText) override
    {
        m_questions << strText;
        m_events << QStringLiteral("ask ") + strText;
        m_nMaxDepth = std::max(m_nMaxDepth, ModalDepth());
        return m_bAnswerYes;
    }
    bool OpenUrl(const QUrl& url) override
    {
        m_urls.push_back(url);
        return m_bOpenUrlSucceeds;
    }
    // Without onDialog a dialog is cancelled at once.
    int RunDialog(QDialog& dialog) override
    {
        ++m_nDialogs;
        m_nMaxDepth = std::max(m_nMaxDepth, ModalDepth());
        return onDialog ? onDialog(dialog) : 2;
    }

    // Records the request and answers with the next of m_fileAnswers (an
    // empty text, as from a cancelled dialog, once they run out).
    QString GetFileName(bool bSave, const QStringList& filters, const QString& strDefaultSuffix) override
    {
        m_fileDialogs << QStringLiteral("%1|%2|%3")
                             .arg(bSave ? QStringLiteral("save") : QStringLiteral("open"), filters.join(';'),
                                  strDefaultSuffix);
        m_events << m_fileDialogs.last();
        return m_fileAnswers.isEmpty() ? QString() : m_fileAnswers.takeFirst();
    }

    void Clear()
    {
        m_messages.clear();
        m_events.clear();
        m_questions.clear();
        m_fileDialogs.clear();
        m_fileAnswers.clear();
        m_urls.clear();
    }

    QStringList m_messages;
    // Boxes (their text), questions ("ask TEXT") and file dialogs in the
    // order they came up.
    QStringList m_events;
    QStringList m_fileDialogs;
    QStringList m_fileAnswers;
    QStringList m_questions;
    std::vector<QUrl> m_urls;
    bool m_bAnswerYes = true;
    bool m_bOpenUrlSucceeds = true;
    int m_nMaxDepth = 0;
    int m_nDialogs = 0;
    std::function<void(const QString&)> onMessage;
    std::function<int(QDialog&)> onDialog;

private:
    CUiSeam* m_pPrevious = nullptr;
};
