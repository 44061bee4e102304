#include "stringtable.h"

#include "devicemsg.h"
#include "resource.h"

namespace {
// Texts are shown exactly as written here, capitals, spaces and all.
constexpr StringEntry kStringTable[] = {
    {IDS_SOCKET_STARTUP_FAILED, "Windows sockets initialization failed."},
    {IDS_SOCKET_CREATE_FAILED, "UDP Socket Creation fails"},
    {IDS_NO_RESPONSE, "No Response !!!"},
    {IDS_INVALID_IP, "Invalid IP Address"},
    {IDS_BAD_IP, "Bad IP Address"},
    {IDS_OLD_DEVICE_VERSION, "The old-version Norvane detected.\nUse Norvane Setup Program v1.0"},
    {IDS_REBOOT_DONE, "Rebooting ... OK."},
    {IDS_STATUS_BAD_PASSWORD, "Invalid Password !!!"},
    {IDS_STATUS_BAD_REQUEST, "Invalid REQUEST !!!"},
    {IDS_STATUS_INTERNAL_ERROR, "Internal Error !!!"},
    {IDS_STATUS_VERSION_MISMATCH, "FlashInfo Version Mismatched Error !!!"},
    {IDS_STATUS_OTHER, "UnKnown Error !!!"},
    {IDS_SET_IP_DONE, "IP Address changed - OK"},
    {IDS_CONFIRM_REBOOT,
     "The selected Norvane will be rebooted. It takes 10 or 20 seconds. Do you want to reboot ... ?"},
    {IDS_CONFIRM_LOAD,
     "After replacing the configuration information, The Norvane will be rebooted. Are you sure?"},
    {IDS_FILE_OPEN_ERROR, "File Open Error"},
    {IDS_LOAD_DONE, "Load FlashInfo ... OK."},
    {IDS_RECEIVE_ERROR, "ReceiveFrom error"},
    {IDS_SEND_ERROR, "SendTo Error"},
    {IDS_BROWSER_ERROR,
     "the Internet Explorer or Netscape Navigator not installed properly in your system."},
    {IDS_SHEET_CAPTION, "Norvane Setup v" NORVANE_VERSION},
};
} // namespace

std::span<const StringEntry> StringTable()
{
    return kStringTable;
}

bool LoadString(unsigned nId, QString& strText)
{
    for (const StringEntry& entry : kStringTable) {
        if (entry.nId == nId) {
            strText = QString::fromLatin1(entry.pszText);
            return true;
        }
    }
    return false;
}

QString Text(unsigned nId)
{
    QString strText;
    if (!LoadString(nId, strText))
        strText = QStringLiteral("LoadString Error");
    return strText;
}

unsigned StatusTextId(int nStatus)
{
    switch (nStatus) {
    case DS_BAD_PASSWORD:
        return IDS_STATUS_BAD_PASSWORD;
    case DS_BAD_REQUEST:
        return IDS_STATUS_BAD_REQUEST;
    case DS_INTERNAL_ERROR:
        return IDS_STATUS_INTERNAL_ERROR;
    case DS_VERSION_MISMATCH:
        return IDS_STATUS_VERSION_MISMATCH;
    default:
        return IDS_STATUS_OTHER;
    }
}
