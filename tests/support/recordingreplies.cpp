#include "recordingreplies.h"

#include "devicemsg.h"

void CRecordingReplies::OnFlashInfo(const DeviceOrigin& origin, const unsigned char* pImage)
{
    Heard(origin);
    m_lastImage = QByteArray(reinterpret_cast<const char*>(pImage), FLASHINFO_SIZE);
    m_calls << QStringLiteral("OnFlashInfo");
}
