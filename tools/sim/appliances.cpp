#include "appliances.h"

#include "ipv4.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = char(std::toupper(static_cast<unsigned char>(c)));
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// The six bytes of a MAC written xx:xx:xx:xx:xx:xx, xx-xx-xx-xx-xx-xx,
// xxxxxxxxxxxx or xxxx.xxxx.xxxx, in any case; false for anything else.
bool ParseMac(std::string_view mac, unsigned (&nBytes)[6])
{
    std::size_t nGroup = 12; // hex digits between separators
    char cSeparator = 0;
    if (mac.size() == 17 && (mac[2] == ':' || mac[2] == '-')) {
        nGroup = 2;
        cSeparator = mac[2];
    } else if (mac.size() == 14) {
        nGroup = 4;
        cSeparator = '.';
    } else if (mac.size() != 12) {
        return false;
    }
    int nDigits[12];
    std::size_t nCount = 0;
    for (std::size_t k = 0; k < mac.size(); ++k) {
        if (k % (nGroup + 1) == nGroup) {
            if (mac[k] != cSeparator)
                return false;
        } else if ((nDigits[nCount++] = HexDigit(mac[k])) < 0) {
            return false;
        }
    }
    for (std::size_t b = 0; b < 6; ++b)
        nBytes[b] = unsigned(nDigits[2 * b] * 16 + nDigits[2 * b + 1]);
    return true;
}

bool UsableAddress(std::uint32_t nIp)
{
    const std::uint32_t nFirst = nIp >> 24;
    return nFirst != 0 && nFirst != 127 && nFirst < 224;
}

void PutDeviceInfo(DeviceInfoBody& body, std::string_view serial, std::string_view mac, std::uint32_t nIp)
{
    PutTextField(body.serial, sizeof body.serial, serial);
    PutTextField(body.mac, sizeof body.mac, mac);
    PutTextField(body.ip, sizeof body.ip, IpText(nIp));
}

// Addresses after the table's, among which forged appliances claim theirs.
constexpr std::uint32_t FORGED_ADDRESSES = 4096;

} // namespace

CApplianceTable::CApplianceTable(const CSimOptions& opts)
    : m_opts(opts), m_vecAppliances(std::size_t(opts.m_nCount) + opts.m_vecExtraIps.size()),
      m_random(opts.m_nSeed ^ 0xF0F0F0F0F0F0F0F0ull)
{
    m_mapByIp.reserve(m_vecAppliances.size());
    for (int i = 0; i < Count(); ++i) {
        const std::uint32_t nIp = i < opts.m_nCount ? opts.m_nFirstIp + std::uint32_t(opts.m_bSameIp ? 0 : i)
                                                    : opts.m_vecExtraIps[std::size_t(i - opts.m_nCount)];
        m_vecAppliances[std::size_t(i)].m_nIp = nIp;
        m_mapByIp.emplace(nIp, i);
    }
    for (const auto& [nFirst, nLast] : opts.m_vecAbsent)
        for (int i = nFirst; i <= nLast; ++i)
            m_vecAppliances[std::size_t(i)].m_bPresent = false;
}

std::string CApplianceTable::MacText(int i) const
{
    const unsigned n = unsigned(m_opts.m_nFirstIndex + i) + 1;
    const unsigned x = (n >> 16) & 0xFF, y = (n >> 8) & 0xFF, z = n & 0xFF;
    // By EMacFormat: colon, dash, bare, dotted.
    static const char* const kFormats[] = {"00:1A:2B:%02X:%02X:%02X", "00-1A-2B-%02X-%02X-%02X", "001A2B%02X%02X%02X",
                                           "001a.2b%02x.%02x%02x"};
    char text[18];
    std::snprintf(text, sizeof text, kFormats[int(m_opts.m_eMacFormat)], x, y, z);
    return text;
}

std::string CApplianceTable::SerialText(int i) const
{
    if (const std::string& strSerial = m_vecAppliances[std::size_t(i)].m_strSerial; !strSerial.empty())
        return strSerial;
    return "NV" + std::to_string(10000000 + m_opts.m_nFirstIndex + i + 1);
}

void CApplianceTable::FormulaImage(int i, unsigned char* pImage) const
{
    std::uint32_t x = (std::uint32_t(m_opts.m_nFirstIndex + i) + 1) * 0x9E3779B9u;
    for (int k = 0; k < FLASHINFO_SIZE; ++k) {
        x = x * 1664525u + 1013904223u;
        pImage[k] = static_cast<unsigned char>(x >> 24);
    }
}

void CApplianceTable::CopyImage(int i, unsigned char* pImage) const
{
    const CAppliance& a = m_vecAppliances[std::size_t(i)];
    if (a.m_pImage)
        std::memcpy(pImage, a.m_pImage.get(), FLASHINFO_SIZE);
    else
        FormulaImage(i, pImage);
}

// Any form of the MAC matches, whichever --mac-format the appliances print.
int CApplianceTable::ApplianceOfMac(std::string_view mac) const
{
    unsigned nBytes[6];
    if (!ParseMac(mac, nBytes))
        return -1;
    if (nBytes[0] != 0x00 || nBytes[1] != 0x1A || nBytes[2] != 0x2B)
        return -1;
    const int n = int((nBytes[3] << 16) | (nBytes[4] << 8) | nBytes[5]) - m_opts.m_nFirstIndex;
    return n >= 1 && n <= Count() ? n - 1 : -1;
}

int CApplianceTable::EncodeReply(int i, std::int8_t nType, std::int8_t nStatus, unsigned char* pBuf) const
{
    DeviceMsg msg;
    std::memset(&msg, 0, sizeof msg);
    msg.type = nType;
    msg.status = nStatus;
    switch (nType) {
    case DM_DEVICE_INFO:
        PutDeviceInfo(msg.body.deviceInfo, SerialText(i), MacText(i), Ip(i));
        break;
    case DM_LOGIN_INFO:
        PutTextField(msg.body.loginInfo.userName, sizeof msg.body.loginInfo.userName, m_opts.m_strUser);
        msg.body.loginInfo.webPort = m_opts.m_nWebPort;
        break;
    case DM_FLASHINFO:
        CopyImage(i, msg.body.image);
        break;
    default:
        break;
    }
    int pos = 0;
    return EncodeDeviceMsg(pBuf, pos, msg);
}

void CApplianceTable::SendReply(int i, std::int8_t nType, std::int8_t nStatus, const ReplyFn& reply) const
{
    unsigned char buf[DEVMSG_MAX_SIZE];
    const int nSize = EncodeReply(i, nType, nStatus, buf);
    reply(Ip(i), buf, nSize);
}

void CApplianceTable::SendBare(std::uint32_t nFromIp, std::int8_t nType, std::int8_t nStatus, int nSize,
                               const ReplyFn& reply) const
{
    unsigned char buf[DEVMSG_MAX_SIZE] = {};
    buf[0] = static_cast<unsigned char>(nType);
    buf[DEVMSG_HEADER_SIZE - 1] = static_cast<unsigned char>(nStatus);
    reply(nFromIp, buf, nSize);
}

void CApplianceTable::HandleRequest(const unsigned char* pData, int nSize, std::uint32_t nToIp,
                                    SimClock::time_point now, const ReplyFn& reply)
{
    if (nSize < DEVMSG_HEADER_SIZE)
        return;
    const auto nType = static_cast<std::int8_t>(pData[0]);
    if (nType < DM_DISCOVER || nType > DM_PUT_FLASHINFO || nSize < DeviceMsgSize(nType))
        return;

    DeviceMsg req;
    int pos = 0;
    DecodeDeviceMsg(pData, pos, req);
    if (nType == DM_DISCOVER && req.body.magic != DISCOVER_MAGIC)
        return;

    const bool bBroadcast = nToIp == IPV4_BROADCAST;
    if (nType == DM_SET_IP) {
        const int i = ApplianceOfMac(GetTextField(req.body.setIp.mac, sizeof req.body.setIp.mac));
        if (i >= 0 && (bBroadcast || Ip(i) == nToIp))
            Answer(i, req, now, reply);
        return;
    }
    if (!bBroadcast) {
        // Copied first: an answer may move an appliance.
        std::vector<int> held;
        for (auto [it, end] = m_mapByIp.equal_range(nToIp); it != end; ++it)
            held.push_back(it->second);
        for (const int i : held)
            Answer(i, req, now, reply);
        return;
    }
    for (int i = 0; i < Count(); ++i) {
        const bool bClaimed = nType == DM_DISCOVER && m_claim.nFromIp && m_claim.i == i;
        if (bClaimed)
            SendClaim(reply);
        Answer(i, req, now, reply);
        if (bClaimed)
            SendClaim(reply);
    }
    if (nType == DM_DISCOVER && m_nForge > 0)
        SendForged(reply);
}

void CApplianceTable::SendClaim(const ReplyFn& reply) const
{
    DeviceMsg msg;
    std::memset(&msg, 0, sizeof msg);
    msg.type = DM_DEVICE_INFO;
    msg.status = DS_OK;
    PutDeviceInfo(msg.body.deviceInfo, SerialText(m_claim.i), MacText(m_claim.i), m_claim.nIp);
    unsigned char buf[DEVMSG_MAX_SIZE];
    int pos = 0;
    reply(m_claim.nFromIp, buf, EncodeDeviceMsg(buf, pos, msg));
}

void CApplianceTable::SendForged(const ReplyFn& reply)
{
    const std::uint64_t nFirst = std::uint64_t(m_opts.m_nFirstIp) + std::uint64_t(m_opts.m_nCount) + 1;
    for (int k = 0; k < m_nForge; ++k) {
        const std::uint64_t nIp = nFirst + m_random.Below(FORGED_ADDRESSES);
        // Beyond the last address, or moved into by an appliance: that one is not sent.
        if (nIp >= IPV4_BROADCAST || !UsableAddress(std::uint32_t(nIp)) || m_mapByIp.count(std::uint32_t(nIp)))
            continue;
        const std::uint32_t nMac = m_random.Below(1u << 24);
        char mac[18], serial[16];
        std::snprintf(mac, sizeof mac, "02:00:00:%02X:%02X:%02X", nMac >> 16, (nMac >> 8) & 0xFF, nMac & 0xFF);
        std::snprintf(serial, sizeof serial, "FORGED%06u", unsigned(m_random.Below(1000000)));
        DeviceMsg msg;
        std::memset(&msg, 0, sizeof msg);
        msg.type = DM_DEVICE_INFO;
        msg.status = DS_OK;
        PutDeviceInfo(msg.body.deviceInfo, serial, mac, std::uint32_t(nIp));
        unsigned char buf[DEVMSG_MAX_SIZE];
        int pos = 0;
        reply(std::uint32_t(nIp), buf, EncodeDeviceMsg(buf, pos, msg));
    }
}

void CApplianceTable::Answer(int i, const DeviceMsg& req, SimClock::time_point now, const ReplyFn& reply)
{
    CAppliance& a = m_vecAppliances[std::size_t(i)];
    if (!a.m_bPresent)
        return;
    if (req.type == DM_DISCOVER && a.m_nSkip > 0) {
        --a.m_nSkip;
        return;
    }
    if (now < a.m_tSilentUntil)
        return;
    const bool bLosable = m_opts.m_nLoseType < 0 ? req.type != DM_DISCOVER : req.type == m_opts.m_nLoseType;
    if (bLosable && a.m_nLost < m_opts.m_nLoseFirst) {
        ++a.m_nLost;
        return;
    }

    const std::int8_t nReplyType = ReplyTypeOf(req.type);
    if (const auto it = m_opts.m_mapStatus.find(req.type); it != m_opts.m_mapStatus.end()) {
        SendBare(a.m_nIp, nReplyType, static_cast<std::int8_t>(it->second),
                 m_opts.m_bShortStatus ? DEVMSG_HEADER_SIZE : DeviceMsgSize(nReplyType), reply);
        return;
    }

    if (req.type != DM_DISCOVER && m_opts.m_bPassword &&
        GetTextField(req.password, DEVMSG_PASSWORD_SIZE) != m_opts.m_strPassword) {
        SendBare(a.m_nIp, nReplyType, DS_BAD_PASSWORD, DEVMSG_HEADER_SIZE, reply);
        return;
    }

    switch (req.type) {
    case DM_DISCOVER:
    case DM_GET_LOGIN:
    case DM_GET_FLASHINFO:
        SendReply(i, nReplyType, DS_OK, reply);
        break;
    case DM_SET_IP:
        SetIp(i, req, reply);
        break;
    case DM_REBOOT:
        SendReply(i, nReplyType, DS_OK, reply);
        a.m_tSilentUntil = now + std::chrono::duration_cast<SimClock::duration>(
                                     std::chrono::duration<double>(m_opts.m_dRebootSeconds));
        break;
    case DM_PUT_FLASHINFO:
        if (!a.m_pImage)
            a.m_pImage = std::make_unique<unsigned char[]>(FLASHINFO_SIZE);
        std::memcpy(a.m_pImage.get(), req.body.image, FLASHINFO_SIZE);
        // Written before the ack leaves, so a test that saw the ack finds the file.
        DumpImage(i);
        SendReply(i, nReplyType, DS_OK, reply);
        break;
    default:
        break;
    }
}

void CApplianceTable::SetIp(int i, const DeviceMsg& req, const ReplyFn& reply)
{
    CAppliance& a = m_vecAppliances[std::size_t(i)];
    std::uint32_t nNewIp = 0;
    if (!ParseIp(GetTextField(req.body.setIp.newIp, sizeof req.body.setIp.newIp), nNewIp) ||
        MoveRefusal(i, nNewIp)) {
        SendBare(a.m_nIp, DM_SET_IP_ACK, DS_BAD_REQUEST, DEVMSG_HEADER_SIZE, reply);
        return;
    }

    // By default the ack leaves from the old address: the appliance answers
    // before it moves.
    if (!m_opts.m_bSetIpAckFromNew)
        SendBare(a.m_nIp, DM_SET_IP_ACK, DS_OK, DEVMSG_HEADER_SIZE, reply);
    if (!m_opts.m_bSetIpNoMove)
        Move(i, nNewIp);
    if (m_opts.m_bSetIpAckFromNew)
        SendBare(nNewIp, DM_SET_IP_ACK, DS_OK, DEVMSG_HEADER_SIZE, reply);
}

const char* CApplianceTable::MoveRefusal(int i, std::uint32_t nNewIp) const
{
    if (!UsableAddress(nNewIp))
        return "unusable address";
    for (auto [it, end] = m_mapByIp.equal_range(nNewIp); it != end; ++it)
        if (it->second != i)
            return "address held by another appliance";
    return nullptr;
}

void CApplianceTable::Move(int i, std::uint32_t nNewIp)
{
    CAppliance& a = m_vecAppliances[std::size_t(i)];
    if (nNewIp == a.m_nIp)
        return;
    const std::uint32_t nOldIp = a.m_nIp;
    for (auto [it, end] = m_mapByIp.equal_range(nOldIp); it != end; ++it) {
        if (it->second == i) {
            m_mapByIp.erase(it);
            break;
        }
    }
    m_mapByIp.emplace(nNewIp, i);
    a.m_nIp = nNewIp;
    if (!m_opts.m_strDumpDir.empty() && DumpImage(i))
        std::remove((m_opts.m_strDumpDir + '/' + IpText(nOldIp) + ".img").c_str());
}

bool CApplianceTable::DumpImage(int i) const
{
    if (m_opts.m_strDumpDir.empty())
        return true;
    unsigned char image[FLASHINFO_SIZE];
    CopyImage(i, image);
    const std::string strPath = m_opts.m_strDumpDir + '/' + IpText(Ip(i)) + ".img";
    // Renamed into place, so a reader never sees half an image.
    const std::string strTemp = strPath + ".tmp";
    std::FILE* pFile = std::fopen(strTemp.c_str(), "wb");
    bool bOk = pFile && std::fwrite(image, 1, sizeof image, pFile) == sizeof image;
    if (pFile && std::fclose(pFile) != 0)
        bOk = false;
    if (bOk && std::rename(strTemp.c_str(), strPath.c_str()) != 0)
        bOk = false;
    if (!bOk)
        std::fprintf(stderr, "norvane-sim: cannot write %s\n", strPath.c_str());
    return bOk;
}

bool CApplianceTable::DumpAll() const
{
    bool bOk = true;
    for (int i = 0; i < Count(); ++i)
        bOk = DumpImage(i) && bOk;
    return bOk;
}
