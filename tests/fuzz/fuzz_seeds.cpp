// Writes the seed corpora of the fuzzers, so no binary seed is kept in
// the repository:
//   fuzz_seeds DIR   ->  DIR/devicemsg/*  single datagrams
//                        DIR/receive/*    record sequences (see fuzz_receive.cpp)
//                        DIR/plan/*       plans (see fuzz_plan.cpp)
//                        DIR/cli/*        rounds (see fuzz_cli_receive.cpp)
#include "appliances.h"
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

// Plans, each read a byte at a time and as a whole, under each kind of cap.
void WritePlans(const fs::path& dir)
{
    fs::create_directories(dir);
    const std::pair<const char*, std::string> plans[] = {
        {"plain", "mac,ip\n00:1A:2B:00:00:01,10.200.1.11\n00-1a-2b-00-00-02,10.200.1.12\n"},
        {"passwords-crlf", "IP, password ,Mac\r\n10.200.1.11,\"se,cret\",001A2B000001\r\n\r\n"
                           "10.200.1.12,\"\"\"q\"\" \",001a.2b00.0002\r\n 10.200.1.13 ,,00:1a:2b:00:00:03"},
        {"bom", "\xEF\xBB\xBFmac,ip\n00:1A:2B:00:00:01,10.200.1.11\n"},
        {"utf8-later", "mac,ip,password\n00:1A:2B:00:00:01,10.200.1.11,abc\n00:1A:2B:00:00:02,10.200.1.12,p\xC3\xA4ss\n"
                       "00:1A:2B:00:00:03,10.200.1.13,\xE2\x82\xAC\n"},
        {"latin1", "mac,ip,password\n00:1A:2B:00:00:01,10.200.1.11,p\xE4ss\n\xEF\xBB\xBF\n"},
        {"refusals", "mac,ip,password\n00:1A:2B:00:00:01,10.200.1.11,\n00:1a:2b:00:00:01,10.200.1.11,x\n"
                     "not-a-mac,10.200.1.12,x\n00:1A:2B:00:00:04,10.200.01.4,x\n00:1A:2B:00:00:05,127.0.0.1,x\n"
                     "00:1A:2B:00:00:06,10.200.7.255,elevenchars\n00:1A:2B:00:00:07,\"10.200.1.17\n"
                     "00:1A:2B:00:00:08,10.200.1.18,x,y\n"},
        {"header-refused", "mac,address\n00:1A:2B:00:00:01,10.200.1.11\n"},
        {"header-twice", "mac,ip,mac\n00:1A:2B:00:00:01,10.200.1.11,00:1A:2B:00:00:02\n"},
        {"json", "[\n{\"mac\": \"00:1A:2B:00:00:01\", \"old_ip\": \"10.200.1.1\", \"new_ip\": \"10.200.1.11\"}\n]\n"},
        {"empty", ""},
    };
    for (const auto& [name, text] : plans)
        for (const std::uint8_t nPiece : {0, 1, 7})
            for (const std::uint8_t nCap : {0, 8 | 16, 9}) {
                Bytes bytes{nPiece, nCap};
                bytes.insert(bytes.end(), text.begin(), text.end());
                Write(dir / (std::string(name) + "-" + std::to_string(nPiece) + "-" + std::to_string(nCap)), bytes);
            }
}

// Records of fuzz_cli_receive (see there), from what the simulator sends.
class CRounds {
public:
    CRounds() { m_options.m_nCount = 3; }
    CApplianceTable& Sim() { return m_sim; }

    void Datagram(std::uint32_t nFrom, const Bytes& bytes, std::uint8_t nSource = 7)
    {
        m_out.insert(m_out.end(), {0, nSource});
        if ((nSource & 7) == 7)
            m_out.insert(m_out.end(), {std::uint8_t(nFrom >> 24), std::uint8_t(nFrom >> 16), std::uint8_t(nFrom >> 8),
                                       std::uint8_t(nFrom)});
        m_out.insert(m_out.end(), {std::uint8_t(bytes.size()), std::uint8_t(bytes.size() >> 8)});
        m_out.insert(m_out.end(), bytes.begin(), bytes.end());
    }
    void Op(std::uint8_t nOp) { m_out.push_back(nOp); }
    // A request of the simulator's, its replies as datagrams; an honest
    // appliance's reply to a discovery as the record that has it answer.
    void Ask(std::int8_t nType, std::uint32_t nTo)
    {
        DeviceMsg msg = Header(nType);
        msg.body.magic = DISCOVER_MAGIC;
        const Bytes request = Encode(msg);
        m_sim.HandleRequest(request.data(), int(request.size()), nTo, SimClock::now(),
                            [&](std::uint32_t nFrom, const unsigned char* pData, int nSize) {
                                const Bytes reply(pData, pData + nSize);
                                for (int i = 0; i < m_sim.Count(); ++i) {
                                    Bytes own(DEVMSG_MAX_SIZE);
                                    own.resize(std::size_t(m_sim.EncodeReply(i, DM_DEVICE_INFO, DS_OK, own.data())));
                                    if (nFrom == m_sim.Ip(i) && reply == own)
                                        return Op(std::uint8_t(1 | 4 << i));
                                }
                                Datagram(nFrom, reply);
                            });
    }
    // nRounds rounds of the simulator's answers to a broadcast discovery.
    void Discoveries(int nRounds, std::uint8_t nQuiet = 0)
    {
        for (int i = 0; i < nRounds; ++i) {
            Ask(DM_DISCOVER, 0xFFFFFFFFu);
            Op(std::uint8_t(2 | nQuiet << 2));
        }
    }
    void Write(const fs::path& path, std::uint8_t nSetup)
    {
        m_out.insert(m_out.begin(), nSetup);
        ::Write(path, m_out);
    }

private:
    CSimOptions m_options;
    CApplianceTable m_sim{m_options};
    Bytes m_out;
};

constexpr std::uint32_t kForger = 0x0AC80902; // 10.200.9.2

void WriteCliRounds(const fs::path& dir)
{
    fs::create_directories(dir);
    constexpr std::uint8_t kThree = 3 << 5 | 128, kGoneAfter2 = 1;
    {
        CRounds rounds;
        rounds.Sim().Forge(3);
        rounds.Discoveries(4);
        rounds.Write(dir / "forged", kThree | kGoneAfter2);
    }
    {
        // Another host names appliance 0 as at its own address; then at
        // appliance 0's address.
        CRounds rounds;
        rounds.Sim().Claim(0, kForger, kForger);
        rounds.Discoveries(4);
        rounds.Sim().Claim(0, 0x0AC80101, kForger);
        rounds.Discoveries(2);
        rounds.Write(dir / "claims", kThree | kGoneAfter2);
    }
    {
        // Appliance 0 planned elsewhere: moved, unanswered, tried again.
        CRounds rounds;
        rounds.Discoveries(5);
        rounds.Write(dir / "planned-elsewhere", kThree | 1 << 2);
    }
    {
        // A forged MAC of the plan, claimed three rounds from its address.
        CRounds rounds;
        DeviceMsg msg = Header(DM_DEVICE_INFO);
        PutTextField(msg.body.deviceInfo.serial, sizeof msg.body.deviceInfo.serial, "FORGED000001");
        PutTextField(msg.body.deviceInfo.mac, sizeof msg.body.deviceInfo.mac, "02-00-00-00-00-01");
        PutTextField(msg.body.deviceInfo.ip, sizeof msg.body.deviceInfo.ip, "10.200.9.2");
        for (int i = 0; i < 3; ++i) {
            rounds.Datagram(kForger, Encode(msg));
            rounds.Op(2);
        }
        rounds.Write(dir / "forged-planned", 1 << 5);
    }
    {
        // Quiet appliances go; requests in flight answered by the
        // simulator, from elsewhere, and with an error.
        CRounds rounds;
        rounds.Discoveries(2);
        rounds.Discoveries(3, 2);
        for (std::uint8_t nKind = 0; nKind < 3; ++nKind)
            rounds.Op(std::uint8_t(3 | nKind << 2 | nKind << 5));
        rounds.Ask(DM_GET_LOGIN, 0x0AC80101);
        rounds.Ask(DM_REBOOT, 0x0AC80102);
        Bytes ack = Encode(Header(DM_SET_IP_ACK));
        rounds.Datagram(kForger, ack);
        ack[11] = DS_BAD_PASSWORD;
        rounds.Datagram(0x0AC80301, ack);
        rounds.Datagram(0, Bytes(12), 0x38);
        rounds.Op(2);
        rounds.Op(3 | 3 << 2);
        rounds.Op(3 | 4 << 2 | 1 << 5);
        rounds.Ask(DM_DISCOVER, 0x0AC80101);
        rounds.Datagram(0x0AC80302, ack);
        rounds.Op(2);
        rounds.Write(dir / "requests", kThree);
    }
    {
        // Datagrams no handler takes.
        CRounds rounds;
        rounds.Discoveries(1);
        rounds.Datagram(0, Bytes(9300, 0x20), 3);
        rounds.Datagram(0, DeviceInfo("NV-1", "00:1A:2B:00:00:01", "10.200.9.1"), 3 | 8);
        rounds.Datagram(0, DeviceInfo("NV-1", "00:1A:2B:00:00:01", "10.200.9.1"), 3 | 0x30);
        rounds.Op(0);
        rounds.Op(0);
        rounds.Op(0xFF);
        rounds.Op(0xFF);
        rounds.Op(2);
        rounds.Write(dir / "refused", kThree | 3);
    }
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
    WritePlans(fs::path(argv[1]) / "plan");
    WriteCliRounds(fs::path(argv[1]) / "cli");

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
