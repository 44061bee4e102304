// Fuzzes the wire codec: any datagram decodes to exactly its type's layout,
// and a decoded message of a known type encodes back to the same bytes.
//
// Buffers are heap blocks of exactly the size the codec may touch, so ASan
// reports a single byte read or written past a message's layout.
#include "devicemsg.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

void Require(bool bOk, const char* pszWhat)
{
    if (bOk)
        return;
    std::fprintf(stderr, "fuzz_devicemsg: %s\n", pszWhat);
    std::abort();
}

// Wire sizes written out here, not taken from the codec, so a codec whose
// decoder and size table drift apart together is still caught.
int LayoutSize(std::uint8_t nType)
{
    switch (nType) {
    case 0x10: return 16;
    case 0x11: return 46;
    case 0x14: case 0x21: case 0x23: case 0x25: case 0x12: case 0x13: return 12;
    case 0x15: case 0x24: return 8204;
    case 0x20: return 70;
    case 0x22: return 26;
    default: return 0;
    }
}

std::unique_ptr<unsigned char[]> Block(int nSize)
{
    return std::make_unique<unsigned char[]>(std::size_t(nSize)); // zero-filled
}

// A text field read back never holds a zero nor runs past its width, and
// writing what was read gives the same text, zero-padded.
void CheckTextField(const char* pField, int nWidth)
{
    const std::string_view text = GetTextField(pField, nWidth);
    Require(text.size() <= std::size_t(nWidth) && text.find('\0') == std::string_view::npos,
            "text field read past its end or holds a zero");
    Require(std::memcmp(text.data(), pField, text.size()) == 0, "text field is not the field's prefix");
    auto pCopy = std::make_unique<char[]>(std::size_t(nWidth));
    std::memset(pCopy.get(), 'x', std::size_t(nWidth));
    PutTextField(pCopy.get(), nWidth, text);
    Require(GetTextField(pCopy.get(), nWidth) == text, "text field does not survive a write");
    for (int i = int(text.size()); i < nWidth; ++i)
        Require(pCopy[std::size_t(i)] == 0, "text field not zero-padded");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    // As the endpoint holds a datagram: at most DEVMSG_BUF_SIZE bytes, the
    // rest of the layout zero; but no byte more than the layout needs.
    const int nLength = int(std::min<std::size_t>(nSize, DEVMSG_BUF_SIZE));
    const std::uint8_t nType = nLength > 0 ? pData[0] : 0;
    const int nLayout = LayoutSize(nType);
    const int nBuf = std::max({nLength, nLayout, DEVMSG_HEADER_SIZE});
    auto pIn = Block(nBuf);
    if (nLength > 0)
        std::memcpy(pIn.get(), pData, std::size_t(nLength));

    Require(DeviceMsgSize(std::int8_t(nType)) == nLayout, "DeviceMsgSize disagrees with the layout");

    DeviceMsg msg;
    int nPos = 0;
    const int nDecoded = DecodeDeviceMsg(pIn.get(), nPos, msg);
    Require(nDecoded == nLayout, "decode size is not the type's layout size");
    Require(nPos == nLayout, "decode left the position off the message end");
    if (nLayout == 0) {
        // Unknown: no bytes counted, but the header is written where asked.
        auto pOut = Block(DEVMSG_HEADER_SIZE);
        int nOutPos = 0;
        Require(EncodeDeviceMsg(pOut.get(), nOutPos, msg) == 0 && nOutPos == 0, "unknown type encoded");
        return 0;
    }
    Require(std::uint8_t(msg.type) == nType && std::uint8_t(msg.status) == pIn[11] &&
                std::memcmp(msg.password, pIn.get() + 1, DEVMSG_PASSWORD_SIZE) == 0,
            "header fields decoded wrongly");

    // Encoded at an offset into a block that ends at the message's end,
    // then decoded from there: the same bytes and the same position.
    const int nOffset = int(nSize % 5);
    auto pOut = Block(nOffset + nLayout);
    int nOutPos = nOffset;
    Require(EncodeDeviceMsg(pOut.get(), nOutPos, msg) == nLayout && nOutPos == nOffset + nLayout,
            "encode size or position wrong");
    Require(std::memcmp(pOut.get() + nOffset, pIn.get(), std::size_t(nLayout)) == 0,
            "decode then encode changed the bytes");

    DeviceMsg again;
    int nAgainPos = nOffset;
    Require(DecodeDeviceMsg(pOut.get(), nAgainPos, again) == nLayout && nAgainPos == nOffset + nLayout,
            "decode at an offset wrong");
    auto pOut2 = Block(nLayout);
    int nOut2Pos = 0;
    EncodeDeviceMsg(pOut2.get(), nOut2Pos, again);
    Require(std::memcmp(pOut2.get(), pIn.get(), std::size_t(nLayout)) == 0, "second round trip changed the bytes");

    switch (msg.type) {
    case DM_DEVICE_INFO:
        CheckTextField(msg.body.deviceInfo.serial, sizeof msg.body.deviceInfo.serial);
        CheckTextField(msg.body.deviceInfo.mac, sizeof msg.body.deviceInfo.mac);
        CheckTextField(msg.body.deviceInfo.ip, sizeof msg.body.deviceInfo.ip);
        break;
    case DM_SET_IP:
        CheckTextField(msg.body.setIp.mac, sizeof msg.body.setIp.mac);
        CheckTextField(msg.body.setIp.newIp, sizeof msg.body.setIp.newIp);
        break;
    case DM_LOGIN_INFO: {
        CheckTextField(msg.body.loginInfo.userName, sizeof msg.body.loginInfo.userName);
        const std::uint32_t nPort = std::uint32_t(pIn[22]) | std::uint32_t(pIn[23]) << 8 |
                                    std::uint32_t(pIn[24]) << 16 | std::uint32_t(pIn[25]) << 24;
        Require(std::uint32_t(msg.body.loginInfo.webPort) == nPort, "web port not read least significant first");
        break;
    }
    case DM_DISCOVER: {
        const std::uint32_t nMagic = std::uint32_t(pIn[12]) | std::uint32_t(pIn[13]) << 8 |
                                     std::uint32_t(pIn[14]) << 16 | std::uint32_t(pIn[15]) << 24;
        Require(msg.body.magic == nMagic, "magic not read least significant first");
        break;
    }
    default:
        break;
    }
    return 0;
}
