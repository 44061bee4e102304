#include "recorder.h"

#include "devicemsg.h"

void CRecordingReplies::OnLoginInfo(const LoginInfoBody& loginInfo)
{
    const std::string_view user = GetTextField(loginInfo.userName, sizeof loginInfo.userName);
    m_calls << QStringLiteral("OnLoginInfo %1|%2")
                   .arg(QString::fromLatin1(user.data(), qsizetype(user.size())))
                   .arg(loginInfo.webPort);
}

void CRecordingReplies::OnFlashInfo(const unsigned char* pImage)
{
    m_lastImage = QByteArray(reinterpret_cast<const char*>(pImage), FLASHINFO_SIZE);
    m_calls << QStringLiteral("OnFlashInfo");
}
