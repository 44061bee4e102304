// Writes the seed corpora of both fuzzers, so no binary seed is kept in
// the repository:
//   fuzz_seeds DIR   ->  DIR/devicemsg/*  single datagrams
//                        DIR/receive/*    record sequences (see fuzz_receive.cpp)
#include "devicemsg.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
namespace fs = std::filesystem;

Bytes Encode(const DeviceMsg& msg)
{
    Bytes buf(DEVMSG_MAX_SIZE);
    int nPos = 0;
    buf.resize(std::size_t(EncodeDeviceMsg(buf.data(), nPos, msg)));
    return buf;
}

DeviceMsg Header(std::int8_t nType, std::int8_t nStatus = DS_OK)
{
    DeviceMsg msg{};
    msg.type = nType;
    msg.status = nStatus;
    return msg;
}

Bytes DeviceInfo(const char* pszSerial, const char* pszMac, const char* pszIp)
{
    DeviceMsg msg = Header(DM_DEVICE_INFO);
    PutTextField(msg.body.deviceInfo.serial, sizeof msg.body.deviceInfo.serial, pszSerial);
    PutTextField(msg.body.deviceInfo.mac, sizeof msg.body.deviceInfo.mac, pszMac);
    PutTextField(msg.body.deviceInfo.ip, sizeof msg.body.deviceInfo.ip, pszIp);
    return Encode(msg);
}

Bytes LoginInfo(const char* pszUser, std::int32_t nPort)
{
    DeviceMsg msg = Header(DM_LOGIN_INFO);
    PutTextField(msg.body.loginInfo.userName, sizeof msg.body.loginInfo.userName, pszUser);
    msg.body.loginInfo.webPort = nPort;
    return Encode(msg);
}

// One record of the receive fuzzer's input (see fuzz_receive.cpp).
Bytes Record(const Bytes& datagram, std::uint8_t nFlags = 0, std::uint8_t nClick = 0, int nLength = -2)
{
    const unsigned nField = nLength == -1 ? 0xFFFFu : unsigned(nLength == -2 ? int(datagram.size()) : nLength);
    Bytes out{nFlags, nClick, std::uint8_t(nField), std::uint8_t(nField >> 8)};
    out.insert(out.end(), datagram.begin(), datagram.end());
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

void Write(const fs::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                std::streamsize(bytes.size()));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const fs::path msgDir = fs::path(argv[1]) / "devicemsg";
    const fs::path recvDir = fs::path(argv[1]) / "receive";
    fs::create_directories(msgDir);
    fs::create_directories(recvDir);

    std::vector<std::pair<std::string, Bytes>> singles;
    const std::int8_t kTypes[] = {DM_DISCOVER,    DM_SET_IP,       DM_GET_LOGIN,      DM_REBOOT,
                                  DM_GET_FLASHINFO, DM_PUT_FLASHINFO, DM_DEVICE_INFO,  DM_SET_IP_ACK,
                                  DM_LOGIN_INFO,  DM_REBOOT_ACK,   DM_FLASHINFO,      DM_PUT_FLASHINFO_ACK};
    for (const std::int8_t nType : kTypes) {
        const std::string name = "type" + std::to_string(int(std::uint8_t(nType)));
        DeviceMsg msg = Header(nType);
        for (int i = 0; i < FLASHINFO_SIZE; ++i)
            msg.body.image[i] = std::uint8_t(i * 13 + 1);
        if (nType == DM_DISCOVER)
            msg.body.magic = DISCOVER_MAGIC;
        PutTextField(msg.password, DEVMSG_PASSWORD_SIZE, "secret");
        const Bytes ok = Encode(msg);
        singles.emplace_back(name + "-ok", ok);
        singles.emplace_back(name + "-short", Bytes(ok.begin(), ok.end() - 1));
        singles.emplace_back(name + "-header", Bytes(ok.begin(), ok.begin() + DEVMSG_HEADER_SIZE));
        for (const int nStatus : {int(DS_BAD_PASSWORD), int(DS_VERSION_MISMATCH), 0x80}) {
            Bytes error = ok;
            error[11] = std::uint8_t(nStatus);
            singles.emplace_back(name + "-status" + std::to_string(nStatus), error);
        }
    }
    singles.emplace_back("device-texts", DeviceInfo("NV-0001-ABCDEFGHIJKLMNOPQ", "00:1a:2B:00:00:0F", "10.200.1.15"));
    singles.emplace_back("device-empty", DeviceInfo("", "", ""));
    singles.emplace_back("login-admin", LoginInfo("admin", 80));
    singles.emplace_back("login-odd", LoginInfo("a&b#c%d+e", 65535));
    singles.emplace_back("login-port0", LoginInfo("admin", 0));
    singles.emplace_back("login-port-big", LoginInfo("admin", 65536));
    singles.emplace_back("login-port-neg", LoginInfo("admin", -1));
    Bytes oversize(9300, 0x5A);
    oversize[0] = std::uint8_t(DM_FLASHINFO);
    oversize[11] = 0;
    singles.emplace_back("oversize", oversize);
    singles.emplace_back("empty", Bytes());
    singles.emplace_back("one-byte", Bytes{0x20});
    Bytes garbage(300);
    std::uint32_t nState = 12345;
    for (unsigned char& b : garbage)
        b = std::uint8_t((nState = nState * 1103515245u + 12345u) >> 16);
    singles.emplace_back("garbage", garbage);

    for (const auto& [name, bytes] : singles) {
        Write(msgDir / name, bytes);
        Write(recvDir / name, Record(bytes, name.rfind("type36", 0) == 0 ? 8 : 0));
    }

    // Sequences: the list filling and refreshing, boxes opening inside boxes,
    // receive errors, foreign ports, a clicked row before a login reply.
    const Bytes dev1 = DeviceInfo("NV-1", "00:1A:2B:00:00:01", "10.200.1.1");
    const Bytes dev2 = DeviceInfo("NV-2", "00:1A:2B:00:00:02", "10.200.1.2");
    const Bytes dev2b = DeviceInfo("NV-2b", "00:1a:2b:00:00:02", "10.200.9.2");
    Bytes bad = Encode(Header(DM_SET_IP_ACK));
    bad[11] = DS_BAD_PASSWORD;
    DeviceMsg image = Header(DM_FLASHINFO);
    std::memset(image.body.image, 0xA5, FLASHINFO_SIZE);
    Write(recvDir / "seq-list", Cat({Record(dev2), Record(dev1), Record(dev2b), Record(dev1, 32), Record(dev2)}));
    Write(recvDir / "seq-nested", Cat({Record(bad, 6), Record(bad, 6), Record(Encode(Header(DM_REBOOT_ACK)), 6),
                                       Record(bad, 6), Record(bad, 6), Record(dev1)}));
    Write(recvDir / "seq-errors", Cat({Record({}, 2, 0, -1), Record(oversize, 2), Record({}, 0, 0, 0),
                                       Record(dev1, 1), Record(bad, 1)}));
    Write(recvDir / "seq-login", Cat({Record(dev1), Record(dev2), Record(LoginInfo("admin", 8080), 16, 1),
                                      Record(LoginInfo("root", 80), 0, 2)}));
    // Past the list's block size: bursts of 300 numbered MACs each.
    const Bytes dev3 = DeviceInfo("NV-3", "00:1A:2B:00:00:03", "10.200.1.3");
    Write(recvDir / "seq-burst", Cat({Record(dev1, 128), Record(dev2, 128), Record(dev2b), Record(dev3, 1, 3)}));
    // Backlogs in the endpoint's queue, handed on later or at the end.
    Write(recvDir / "seq-held", Cat({Record(dev1, 64), Record(bad, 64), Record(oversize, 64), Record({}, 64, 0, -1),
                                     Record(Encode(image), 72), Record(dev2), Record(Encode(image), 192),
                                     Record(dev3)}));
    // Seven images held, two handed on, an eighth fits only once the queue
    // moves what is left to its front.
    Bytes queue;
    for (int i = 0; i < 7; ++i)
        queue = Cat({queue, Record(Encode(image), 64)});
    Write(recvDir / "seq-queue", Cat({queue, Record(dev1), Record(dev2), Record(Encode(image), 64), Record(dev3)}));
    Write(recvDir / "seq-image", Cat({Record(Encode(image), 8), Record(Encode(image), 0), Record(bad, 2),
                                      Record(Encode(image), 8)}));
    return 0;
}
