#include "devicemsg.h"

#include <bit>
#include <cstring>

bool g_bSwapLong = std::endian::native == std::endian::big;

void InitByteOrder()
{
    g_bSwapLong = std::endian::native == std::endian::big;
}

std::uint32_t SwapLong(std::uint32_t value)
{
    return (value >> 24) | ((value >> 8) & 0x0000FF00u) | ((value << 8) & 0x00FF0000u) | (value << 24);
}

void PutByte(unsigned char* buf, int& pos, std::uint8_t value)
{
    buf[pos++] = value;
}

void GetByte(const unsigned char* buf, int& pos, std::uint8_t& value)
{
    value = buf[pos++];
}

// The four bytes are copied as the host holds them (after the swap), never
// through a cast to a possibly unaligned pointer.
void PutLong(unsigned char* buf, int& pos, std::uint32_t value)
{
    if (g_bSwapLong)
        value = SwapLong(value);
    std::memcpy(buf + pos, &value, 4);
    pos += 4;
}

void GetLong(const unsigned char* buf, int& pos, std::uint32_t& value)
{
    std::memcpy(&value, buf + pos, 4);
    if (g_bSwapLong)
        value = SwapLong(value);
    pos += 4;
}

void PutBytes(unsigned char* buf, int& pos, const void* src, int count)
{
    std::memcpy(buf + pos, src, static_cast<std::size_t>(count));
    pos += count;
}

void GetBytes(const unsigned char* buf, int& pos, void* dst, int count)
{
    std::memcpy(dst, buf + pos, static_cast<std::size_t>(count));
    pos += count;
}

int DeviceMsgSize(std::int8_t type)
{
    switch (type) {
    case DM_DISCOVER:
        return DEVMSG_HEADER_SIZE + 4;
    case DM_SET_IP:
        return DEVMSG_HEADER_SIZE + int(sizeof(SetIpBody));
    case DM_PUT_FLASHINFO:
    case DM_FLASHINFO:
        return DEVMSG_HEADER_SIZE + FLASHINFO_SIZE;
    case DM_DEVICE_INFO:
        return DEVMSG_HEADER_SIZE + int(sizeof(DeviceInfoBody));
    case DM_LOGIN_INFO:
        return DEVMSG_HEADER_SIZE + 10 + 4;
    case DM_GET_LOGIN:
    case DM_REBOOT:
    case DM_GET_FLASHINFO:
    case DM_SET_IP_ACK:
    case DM_REBOOT_ACK:
    case DM_PUT_FLASHINFO_ACK:
        return DEVMSG_HEADER_SIZE;
    default:
        return 0;
    }
}

int EncodeDeviceMsg(unsigned char* buf, int& pos, const DeviceMsg& msg)
{
    const int start = pos;
    PutByte(buf, pos, std::uint8_t(msg.type));
    PutBytes(buf, pos, msg.password, DEVMSG_PASSWORD_SIZE);
    PutByte(buf, pos, std::uint8_t(msg.status));

    switch (msg.type) {
    case DM_DISCOVER:
        PutLong(buf, pos, msg.body.magic);
        break;
    case DM_SET_IP:
        PutBytes(buf, pos, msg.body.setIp.mac, sizeof msg.body.setIp.mac);
        PutBytes(buf, pos, msg.body.setIp.newIp, sizeof msg.body.setIp.newIp);
        break;
    case DM_PUT_FLASHINFO:
    case DM_FLASHINFO:
        PutBytes(buf, pos, msg.body.image, FLASHINFO_SIZE);
        break;
    case DM_DEVICE_INFO:
        PutBytes(buf, pos, msg.body.deviceInfo.serial, sizeof msg.body.deviceInfo.serial);
        PutBytes(buf, pos, msg.body.deviceInfo.mac, sizeof msg.body.deviceInfo.mac);
        PutBytes(buf, pos, msg.body.deviceInfo.ip, sizeof msg.body.deviceInfo.ip);
        break;
    case DM_LOGIN_INFO:
        PutBytes(buf, pos, msg.body.loginInfo.userName, sizeof msg.body.loginInfo.userName);
        PutLong(buf, pos, std::uint32_t(msg.body.loginInfo.webPort));
        break;
    case DM_GET_LOGIN:
    case DM_REBOOT:
    case DM_GET_FLASHINFO:
    case DM_SET_IP_ACK:
    case DM_REBOOT_ACK:
    case DM_PUT_FLASHINFO_ACK:
        break;
    default:
        // The header bytes stay in the buffer but are not counted; the next
        // message written at this position overwrites them.
        pos = start;
        return 0;
    }
    return pos - start;
}

int DecodeDeviceMsg(const unsigned char* buf, int& pos, DeviceMsg& msg)
{
    const int start = pos;
    std::uint8_t byte = 0;
    GetByte(buf, pos, byte);
    msg.type = std::int8_t(byte);
    GetBytes(buf, pos, msg.password, DEVMSG_PASSWORD_SIZE);
    GetByte(buf, pos, byte);
    msg.status = std::int8_t(byte);

    switch (msg.type) {
    case DM_DISCOVER:
        GetLong(buf, pos, msg.body.magic);
        break;
    case DM_SET_IP:
        GetBytes(buf, pos, msg.body.setIp.mac, sizeof msg.body.setIp.mac);
        GetBytes(buf, pos, msg.body.setIp.newIp, sizeof msg.body.setIp.newIp);
        break;
    case DM_PUT_FLASHINFO:
    case DM_FLASHINFO:
        GetBytes(buf, pos, msg.body.image, FLASHINFO_SIZE);
        break;
    case DM_DEVICE_INFO:
        GetBytes(buf, pos, msg.body.deviceInfo.serial, sizeof msg.body.deviceInfo.serial);
        GetBytes(buf, pos, msg.body.deviceInfo.mac, sizeof msg.body.deviceInfo.mac);
        GetBytes(buf, pos, msg.body.deviceInfo.ip, sizeof msg.body.deviceInfo.ip);
        break;
    case DM_LOGIN_INFO: {
        GetBytes(buf, pos, msg.body.loginInfo.userName, sizeof msg.body.loginInfo.userName);
        std::uint32_t port = 0;
        GetLong(buf, pos, port);
        msg.body.loginInfo.webPort = std::int32_t(port);
        break;
    }
    case DM_GET_LOGIN:
    case DM_REBOOT:
    case DM_GET_FLASHINFO:
    case DM_SET_IP_ACK:
    case DM_REBOOT_ACK:
    case DM_PUT_FLASHINFO_ACK:
        break;
    default:
        pos = start;
        return 0;
    }
    return pos - start;
}

void PutTextField(char* field, int width, std::string_view text)
{
    const std::size_t n = text.size() < std::size_t(width) ? text.size() : std::size_t(width);
    if (n > 0) // an empty view may carry a null pointer, which memcpy must not see
        std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, std::size_t(width) - n);
}

std::string_view GetTextField(const char* field, int width)
{
    const void* end = std::memchr(field, 0, std::size_t(width));
    return {field, end ? std::size_t(static_cast<const char*>(end) - field) : std::size_t(width)};
}
