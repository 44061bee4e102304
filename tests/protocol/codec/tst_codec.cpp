// Wire codec tests. Expected bytes are written out by hand, never by the
// encoder, so an encoder and decoder that agree on a wrong layout still fail.
#include "devicemsg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

// A text field as it must look on the wire: the text, then zeros to the width.
std::string txt(std::string_view s, std::size_t width)
{
    std::string out(s);
    out.resize(width, '\0');
    return out;
}

std::string hdr(char type, std::string_view pw, char status) { return type + txt(pw, DEVMSG_PASSWORD_SIZE) + status; }

std::string imagePattern()
{
    std::string out(FLASHINFO_SIZE, '\0');
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = char(i * 7 + 3);
    return out;
}

template <std::size_t N>
void set(char (&field)[N], std::string_view s) { std::memcpy(field, s.data(), std::min(s.size(), N)); }

::testing::AssertionResult sameBytes(const void* got, std::string_view want)
{
    const auto* g = static_cast<const unsigned char*>(got);
    for (std::size_t i = 0; i < want.size(); ++i)
        if (g[i] != static_cast<unsigned char>(want[i]))
            return ::testing::AssertionFailure() << "byte " << i << ": got 0x" << std::hex << int(g[i])
                                                 << ", want 0x" << int(static_cast<unsigned char>(want[i]));
    return ::testing::AssertionSuccess();
}

// Header and the body bytes the type uses; in LoginInfo the port follows padding.
void expectSameMsg(const DeviceMsg& got, const DeviceMsg& want)
{
    static_assert(offsetof(DeviceMsg, body) == DEVMSG_HEADER_SIZE);
    const bool bLogin = want.type == DM_LOGIN_INFO;
    const int n = bLogin ? DEVMSG_HEADER_SIZE + 10 : DeviceMsgSize(want.type);
    EXPECT_TRUE(sameBytes(&got, {reinterpret_cast<const char*>(&want), std::size_t(n)}));
    if (bLogin) {
        EXPECT_EQ(got.body.loginInfo.webPort, want.body.loginInfo.webPort);
    }
}

// Garbage in the record before a decode, so a field the decoder skips shows.
DeviceMsg dirtyMsg()
{
    DeviceMsg m;
    std::memset(&m, 0xAA, sizeof m);
    return m;
}

struct Row {
    const char* name;
    std::int8_t type;
    const char* password;
    std::int8_t status;
    void (*fillBody)(DeviceMsg&);
    std::string wire;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

DeviceMsg record(const Row& row)
{
    DeviceMsg m;
    std::memset(&m, 0, sizeof m);
    m.type = row.type;
    set(m.password, row.password);
    m.status = row.status;
    row.fillBody(m);
    return m;
}

void noBody(DeviceMsg&) {}
void image(DeviceMsg& m) { std::memcpy(m.body.image, imagePattern().data(), FLASHINFO_SIZE); }

// One row per type.
const std::vector<Row>& rows()
{
    using M = DeviceMsg&;
    static const std::vector<Row> table = {
        {"DiscoverNoPassword", DM_DISCOVER, "", DS_OK, [](M m) { m.body.magic = DISCOVER_MAGIC; },
         hdr(0x10, "", 0) + "\x47\x4F\x52\x58"},
        {"SetIp", DM_SET_IP, "secret", DS_OK,
         [](M m) { set(m.body.setIp.mac, "00:1A:2B:3C:4D:5E"); set(m.body.setIp.newIp, "192.168.1.50"); },
         hdr(0x11, "secret", 0) + txt("00:1A:2B:3C:4D:5E", 18) + txt("192.168.1.50", 16)},
        {"GetLogin", DM_GET_LOGIN, "pw", DS_OK, noBody, "\x12pw\0\0\0\0\0\0\0\0\0"s},
        // A full-width password has no terminator and must not spill into the status.
        {"RebootFullWidthPassword", DM_REBOOT, "0123456789", DS_BAD_REQUEST, noBody, "\x13" "0123456789\x02"},
        {"GetFlashInfo", DM_GET_FLASHINFO, "pw", DS_OK, noBody, hdr(0x14, "pw", 0)},
        {"PutFlashInfo", DM_PUT_FLASHINFO, "pw", DS_OK, image, hdr(0x15, "pw", 0) + imagePattern()},
        {"DeviceInfo", DM_DEVICE_INFO, "", DS_OK,
         [](M m) {
             auto& d = m.body.deviceInfo;
             set(d.serial, "NV-2041-000317"); set(d.mac, "00:1A:2B:3C:4D:5E"); set(d.ip, "10.0.0.7");
         },
         hdr(0x20, "", 0) + txt("NV-2041-000317", 24) + txt("00:1A:2B:3C:4D:5E", 18) + txt("10.0.0.7", 16)},
        {"SetIpAckBadPassword", DM_SET_IP_ACK, "", DS_BAD_PASSWORD, noBody, hdr(0x21, "", 0x01)},
        {"LoginInfoPort80", DM_LOGIN_INFO, "", DS_OK,
         [](M m) { set(m.body.loginInfo.userName, "admin"); m.body.loginInfo.webPort = 80; },
         hdr(0x22, "", 0) + txt("admin", 10) + "\x50\0\0\0"s},
        {"RebootAckInternalError", DM_REBOOT_ACK, "", DS_INTERNAL_ERROR, noBody, hdr(0x23, "", 0x03)},
        {"FlashInfo", DM_FLASHINFO, "", DS_OK, image, hdr(0x24, "", 0) + imagePattern()},
        {"PutFlashInfoAckVersionMismatch", DM_PUT_FLASHINFO_ACK, "", DS_VERSION_MISMATCH, noBody, hdr(0x25, "", 4)},
    };
    return table;
}

class Wire : public ::testing::TestWithParam<Row> {};

// At offset 0 and mid-buffer: exact bytes and size, position advanced, nothing around touched.
TEST_P(Wire, EncodesAndDecodes)
{
    const Row& row = GetParam();
    const int size = int(row.wire.size());
    EXPECT_EQ(DeviceMsgSize(row.type), size);
    for (int start : {0, 5}) {
        SCOPED_TRACE(start);
        std::string buf(DEVMSG_BUF_SIZE, '\xEE');
        auto* data = reinterpret_cast<unsigned char*>(buf.data());
        int pos = start;
        EXPECT_EQ(EncodeDeviceMsg(data, pos, record(row)), size);
        EXPECT_EQ(pos, start + size);
        EXPECT_TRUE(sameBytes(data, std::string(std::size_t(start), '\xEE') + row.wire + '\xEE'));

        buf.replace(std::size_t(start), row.wire.size(), row.wire);
        DeviceMsg msg = dirtyMsg();
        pos = start;
        EXPECT_EQ(DecodeDeviceMsg(data, pos, msg), size);
        EXPECT_EQ(pos, start + size);
        expectSameMsg(msg, record(row));
    }
}

// Every byte non-zero and non-ASCII, so a dropped, shifted or sign-mangled
// byte cannot hide behind the zero fill of the fixtures.
TEST_P(Wire, RoundTripsDenseFields)
{
    DeviceMsg msg;
    auto* p = reinterpret_cast<unsigned char*>(&msg);
    for (std::size_t i = 0; i < sizeof msg; ++i)
        p[i] = static_cast<unsigned char>(0x80 + i * 13);
    msg.type = GetParam().type;
    msg.status = std::int8_t(-2);
    if (msg.type == DM_LOGIN_INFO)
        msg.body.loginInfo.webPort = INT32_MIN;
    unsigned char buf[DEVMSG_MAX_SIZE];
    int pos = 0;
    const int size = EncodeDeviceMsg(buf, pos, msg);
    EXPECT_EQ(size, int(GetParam().wire.size()));
    DeviceMsg back = dirtyMsg();
    pos = 0;
    EXPECT_EQ(DecodeDeviceMsg(buf, pos, back), size);
    expectSameMsg(back, msg);
}

INSTANTIATE_TEST_SUITE_P(AllTypes, Wire, ::testing::ValuesIn(rows()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CodecTest, UnknownTypesAreRefused)
{
    for (const int n : {0x00, 0x16, 0x1F, 0x26, 0x7F, 0x80, 0xFF}) {
        SCOPED_TRACE(n);
        const char t = char(n);
        DeviceMsg msg{};
        msg.type = t;
        EXPECT_EQ(DeviceMsgSize(msg.type), 0);
        unsigned char buf[DEVMSG_MAX_SIZE];
        int pos = 5;
        EXPECT_EQ(EncodeDeviceMsg(buf, pos, msg), 0);
        EXPECT_EQ(pos, 5);

        // The header is still read, so a caller can report what arrived; the body is left alone.
        const std::string wire = hdr(t, "pw", 3) + std::string(64, '\x5C');
        DeviceMsg got = dirtyMsg();
        pos = 0;
        EXPECT_EQ(DecodeDeviceMsg(reinterpret_cast<const unsigned char*>(wire.data()), pos, got), 0);
        EXPECT_EQ(pos, 0);
        EXPECT_TRUE(sameBytes(&got, hdr(t, "pw", 3) + std::string(sizeof got.body, '\xAA')));
    }
}

TEST(TextField, PutTruncatesAndZeroFills)
{
    const std::pair<std::string_view, std::string> cases[] = {
        {"abc", "abc\0\0\0"s}, {"abcdefgh", "abcdef"}, {{}, "\0\0\0\0"s}}; // {}: null data
    for (const auto& [text, want] : cases) {
        SCOPED_TRACE(want);
        char field[16];
        std::memset(field, 'Z', sizeof field);
        PutTextField(field, int(want.size()), text);
        EXPECT_EQ(std::string(field, want.size() + 1), want + 'Z') << "wrong bytes, or wrote past the field";
    }
}

TEST(TextField, GetStopsAtZeroAndNeverReadsPastWidth)
{
    const std::pair<std::string, std::string_view> cases[] = {
        {"ab\0def"s, "ab"}, {"\0bcdef"s, ""}, {"abcdef", "abcdef"}};
    for (const auto& [field, want] : cases) {
        SCOPED_TRACE(std::string(want));
        // A sentinel right after the field must not join the text.
        EXPECT_EQ(GetTextField((field + "X").c_str(), int(field.size())), want);
        // Sized exactly, so the sanitizer catches a read beyond it.
        auto exact = std::make_unique<char[]>(field.size());
        std::memcpy(exact.get(), field.data(), field.size());
        EXPECT_EQ(GetTextField(exact.get(), int(field.size())), want);
    }
}

// No big-endian host is at hand, so the swapped path is forced: integers then
// go out as the host holds them reversed.
TEST(SwappedByteOrder, ReversesEveryInteger)
{
    struct Swapped {
        Swapped() { g_bSwapLong = true; }
        ~Swapped() { InitByteOrder(); }
    } swapped;
    EXPECT_EQ(SwapLong(0x11223344u), 0x44332211u);
    for (const Row& r : rows()) {
        if (r.type != DM_DISCOVER && r.type != DM_LOGIN_INFO)
            continue;
        SCOPED_TRACE(r.name);
        const DeviceMsg msg = record(r);
        const auto value = r.type == DM_DISCOVER ? msg.body.magic : std::uint32_t(msg.body.loginInfo.webPort);
        std::string reversed(4, '\0');
        std::memcpy(reversed.data(), &value, 4);
        std::reverse(reversed.begin(), reversed.end());
        unsigned char buf[DEVMSG_MAX_SIZE];
        int pos = 0;
        const int size = EncodeDeviceMsg(buf, pos, msg);
        ASSERT_EQ(size, int(r.wire.size()));
        EXPECT_TRUE(sameBytes(buf + size - 4, reversed));
        DeviceMsg back = dirtyMsg();
        pos = 0;
        ASSERT_EQ(DecodeDeviceMsg(buf, pos, back), size);
        expectSameMsg(back, msg);
    }
}

} // namespace
