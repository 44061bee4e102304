// Device messages: the record of one request or reply, and its wire codec.
//
// Every exchange with an appliance is one UDP datagram holding one message
// from its first byte: a 12-byte header (type, 10-byte password, status) and
// a body whose layout depends on the type. 32-bit integers travel least
// significant byte first on every host. The codec is a set of free functions
// over a caller's buffer and a caller-held position; it allocates nothing,
// tests no bounds and has no Qt dependency, so the utility, the simulator,
// the benchmarks and the fuzzers all link it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Message types. The reply to request 0x1n is 0x2n.
enum : std::int8_t {
    DM_DISCOVER = 0x10,
    DM_SET_IP = 0x11,
    DM_GET_LOGIN = 0x12,
    DM_REBOOT = 0x13,
    DM_GET_FLASHINFO = 0x14,
    DM_PUT_FLASHINFO = 0x15,

    DM_DEVICE_INFO = 0x20,
    DM_SET_IP_ACK = 0x21,
    DM_LOGIN_INFO = 0x22,
    DM_REBOOT_ACK = 0x23,
    DM_FLASHINFO = 0x24,
    DM_PUT_FLASHINFO_ACK = 0x25,
};

// The type of the reply that answers a request of this type.
constexpr std::int8_t ReplyTypeOf(std::int8_t nRequestType)
{
    return static_cast<std::int8_t>(nRequestType + 0x10);
}

// Reply status codes; every request carries DS_OK.
enum : std::int8_t {
    DS_OK = 0,
    DS_BAD_PASSWORD = 1,
    DS_BAD_REQUEST = 2,
    DS_INTERNAL_ERROR = 3,
    DS_VERSION_MISMATCH = 4,
};

constexpr std::uint16_t DEVICE_PORT = 8400;
constexpr int DEVMSG_BUF_SIZE = 9216;
constexpr int FLASHINFO_SIZE = 8192;
constexpr std::uint32_t DISCOVER_MAGIC = 0x58524F47; // "GORX" on the wire

constexpr int DEVMSG_PASSWORD_SIZE = 10;
constexpr int DEVMSG_HEADER_SIZE = 12;
constexpr int DEVMSG_MAX_SIZE = DEVMSG_HEADER_SIZE + FLASHINFO_SIZE;

struct SetIpBody {
    char mac[18];
    char newIp[16];
};

struct DeviceInfoBody {
    char serial[24];
    char mac[18];
    char ip[16];
};

struct LoginInfoBody {
    char userName[10];
    std::int32_t webPort;
};

struct DeviceMsg {
    std::int8_t type;
    char password[DEVMSG_PASSWORD_SIZE];
    std::int8_t status;
    union {
        std::uint32_t magic;
        SetIpBody setIp;
        unsigned char image[FLASHINFO_SIZE];
        DeviceInfoBody deviceInfo;
        LoginInfoBody loginInfo;
    } body;
};

// True on a host that stores integers most significant byte first, known
// when compiling: nothing has to run before the first message is built.
extern bool g_bSwapLong;

// Sets g_bSwapLong from this host again.
void InitByteOrder();
std::uint32_t SwapLong(std::uint32_t value);

void PutByte(unsigned char* buf, int& pos, std::uint8_t value);
void GetByte(const unsigned char* buf, int& pos, std::uint8_t& value);
void PutLong(unsigned char* buf, int& pos, std::uint32_t value);
void GetLong(const unsigned char* buf, int& pos, std::uint32_t& value);
void PutBytes(unsigned char* buf, int& pos, const void* src, int count);
void GetBytes(const unsigned char* buf, int& pos, void* dst, int count);

// Both return the bytes the message occupies from the position at entry, or
// 0 for a type they do not know (the position is then left where it was).
int EncodeDeviceMsg(unsigned char* buf, int& pos, const DeviceMsg& msg);
int DecodeDeviceMsg(const unsigned char* buf, int& pos, DeviceMsg& msg);

// Size of a message of this type on the wire; 0 for an unknown type.
int DeviceMsgSize(std::int8_t type);

// Text fields: fixed width, zero-terminated when shorter than the field,
// never read past the field's width.
void PutTextField(char* field, int width, std::string_view text);
std::string_view GetTextField(const char* field, int width);
