// Test doubles: a user-interface seam that records instead of showing
// windows, and an owner that records every reply call of the endpoint.
#pragma once

#include "alerts.h"
#include "devicereplies.h"

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

// Records each reply call as one line, e.g. "AddDevice NV-1|00:1A|10.200.1.1".
class CRecordingReplies : public CDeviceReplies {
public:
    void OnReceiveError(const DeviceOrigin& origin, const QString& strReason) override
    {
        Heard(origin);
        m_calls << QStringLiteral("OnReceiveError ") + strReason;
    }
    void OnStatusError(const DeviceOrigin& origin, int nStatus) override
    {
        Heard(origin);
        m_calls << QStringLiteral("OnStatusError %1").arg(nStatus);
    }
    void AddDevice(const DeviceOrigin& origin, const QString& strSerial, const QString& strMac,
                   const QString& strIp) override
    {
        Heard(origin);
        m_calls << QStringLiteral("AddDevice %1|%2|%3").arg(strSerial, strMac, strIp);
    }
    void OnSetIpDone(const DeviceOrigin& origin) override
    {
        Heard(origin);
        m_calls << QStringLiteral("OnSetIpDone");
    }
    void OnLoginInfo(const DeviceOrigin& origin, const LoginInfo& loginInfo) override
    {
        Heard(origin);
        m_calls << QStringLiteral("OnLoginInfo %1|%2").arg(loginInfo.strUserName).arg(loginInfo.nWebPort);
    }
    void OnRebootDone(const DeviceOrigin& origin) override
    {
        Heard(origin);
        m_calls << QStringLiteral("OnRebootDone");
    }
    void OnFlashInfo(const DeviceOrigin& origin, const unsigned char* pImage) override;
    void OnPutFlashInfoDone(const DeviceOrigin& origin) override
    {
        Heard(origin);
        m_calls << QStringLiteral("OnPutFlashInfoDone");
    }
    void Heard(const DeviceOrigin& origin) { m_origins.push_back(origin); }

    QStringList m_calls;
    std::vector<DeviceOrigin> m_origins; // the sender of each reply call
    QByteArray m_lastImage;
};
