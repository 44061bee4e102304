// Wire codec tests. Expected bytes are built from the message layout by hand,
// never by the encoder, so an encoder and decoder that agree on a wrong layout
// still fail here.
#include "devicemsg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A text field as it must look on the wire: the text, then zeros to the width.
Bytes txt(std::string_view s, std::size_t width)
{
    Bytes out(s.begin(), s.end());
    out.resize(width, 0);
    return out;
}

Bytes hdr(unsigned char type, std::string_view password, unsigned char status)
{
    return cat({{type}, txt(password, DEVMSG_PASSWORD_SIZE), {status}});
}

Bytes imagePattern()
{
    Bytes out(FLASHINFO_SIZE);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<unsigned char>(i * 7 + 3);
    return out;
}

template <std::size_t N>
void set(char (&field)[N], std::string_view s)
{
    std::memset(field, 0, N);
    std::memcpy(field, s.data(), std::min(s.size(), N));
}

template <std::size_t N>
std::string raw(const char (&field)[N])
{
    return {field, N};
}

::testing::AssertionResult sameBytes(const void* got, const Bytes& want)
{
    const auto* g = static_cast<const unsigned char*>(got);
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (g[i] != want[i])
            return ::testing::AssertionFailure()
                << "byte " << i << ": got 0x" << std::hex << int(g[i]) << ", want 0x" << int(want[i]);
    }
    return ::testing::AssertionSuccess();
}

void expectSameMsg(const DeviceMsg& got, const DeviceMsg& want)
{
    EXPECT_EQ(got.type, want.type);
    EXPECT_EQ(raw(got.password), raw(want.password));
    EXPECT_EQ(got.status, want.status);
    const auto& g = got.body;
    const auto& w = want.body;
    switch (want.type) {
    case DM_DISCOVER:
        EXPECT_EQ(g.magic, w.magic);
        break;
    case DM_SET_IP:
        EXPECT_EQ(raw(g.setIp.mac), raw(w.setIp.mac));
        EXPECT_EQ(raw(g.setIp.newIp), raw(w.setIp.newIp));
        break;
    case DM_PUT_FLASHINFO:
    case DM_FLASHINFO:
        EXPECT_EQ(0, std::memcmp(g.image, w.image, FLASHINFO_SIZE));
        break;
    case DM_DEVICE_INFO:
        EXPECT_EQ(raw(g.deviceInfo.serial), raw(w.deviceInfo.serial));
        EXPECT_EQ(raw(g.deviceInfo.mac), raw(w.deviceInfo.mac));
        EXPECT_EQ(raw(g.deviceInfo.ip), raw(w.deviceInfo.ip));
        break;
    case DM_LOGIN_INFO:
        EXPECT_EQ(raw(g.loginInfo.userName), raw(w.loginInfo.userName));
        EXPECT_EQ(g.loginInfo.webPort, w.loginInfo.webPort);
        break;
    }
}

DeviceMsg filled(unsigned char byte)
{
    DeviceMsg m;
    std::memset(&m, byte, sizeof m);
    return m;
}

// Garbage in the record before a decode, so a field the decoder skips shows.
DeviceMsg dirtyMsg() { return filled(0xAA); }

struct Row {
    const char* name;
    std::int8_t type;
    const char* password;
    std::int8_t status;
    void (*fillBody)(DeviceMsg&);
    Bytes wire;

    DeviceMsg record() const
    {
        DeviceMsg m = filled(0);
        m.type = type;
        set(m.password, password);
        m.status = status;
        fillBody(m);
        return m;
    }
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

void noBody(DeviceMsg&) {}
void image(DeviceMsg& m) { std::memcpy(m.body.image, imagePattern().data(), FLASHINFO_SIZE); }

// One row per type at least; sizes are those of the hand-built bytes.
const std::vector<Row>& rows()
{
    using M = DeviceMsg&;
    static const std::vector<Row> table = {
        {"DiscoverNoPassword", DM_DISCOVER, "", DS_OK, [](M m) { m.body.magic = DISCOVER_MAGIC; },
         {0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x47, 0x4F, 0x52, 0x58}},
        {"SetIp", DM_SET_IP, "secret", DS_OK,
         [](M m) { set(m.body.setIp.mac, "00:1A:2B:3C:4D:5E"); set(m.body.setIp.newIp, "192.168.1.50"); },
         cat({hdr(0x11, "secret", 0), txt("00:1A:2B:3C:4D:5E", 18), txt("192.168.1.50", 16)})},
        {"SetIpFullWidthFields", DM_SET_IP, "x", DS_OK,
         [](M m) {
             set(m.body.setIp.mac, "AABBCCDDEEFF001122");
             set(m.body.setIp.newIp, "1234567890ABCDEF");
         },
         cat({hdr(0x11, "x", 0), txt("AABBCCDDEEFF001122", 18), txt("1234567890ABCDEF", 16)})},
        {"GetLogin", DM_GET_LOGIN, "pw", DS_OK, noBody, {0x12, 'p', 'w', 0, 0, 0, 0, 0, 0, 0, 0, 0x00}},
        // A full-width password has no terminator and must not spill into the status.
        {"RebootFullWidthPassword", DM_REBOOT, "0123456789", DS_BAD_REQUEST, noBody,
         {0x13, '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 0x02}},
        {"GetFlashInfo", DM_GET_FLASHINFO, "pw", DS_OK, noBody, hdr(0x14, "pw", 0)},
        {"PutFlashInfo", DM_PUT_FLASHINFO, "pw", DS_OK, image, cat({hdr(0x15, "pw", 0), imagePattern()})},
        {"DeviceInfo", DM_DEVICE_INFO, "", DS_OK,
         [](M m) {
             set(m.body.deviceInfo.serial, "NV-2041-000317");
             set(m.body.deviceInfo.mac, "00:1A:2B:3C:4D:5E");
             set(m.body.deviceInfo.ip, "10.0.0.7");
         },
         cat({hdr(0x20, "", 0), txt("NV-2041-000317", 24), txt("00:1A:2B:3C:4D:5E", 18),
              txt("10.0.0.7", 16)})},
        {"SetIpAckBadPassword", DM_SET_IP_ACK, "", DS_BAD_PASSWORD, noBody, hdr(0x21, "", 0x01)},
        {"LoginInfoPort80", DM_LOGIN_INFO, "", DS_OK,
         [](M m) { set(m.body.loginInfo.userName, "admin"); m.body.loginInfo.webPort = 80; },
         cat({hdr(0x22, "", 0), {'a', 'd', 'm', 'i', 'n', 0, 0, 0, 0, 0}, {0x50, 0x00, 0x00, 0x00}})},
        {"LoginInfoNegativePort", DM_LOGIN_INFO, "", DS_OK,
         [](M m) { set(m.body.loginInfo.userName, "operator10"); m.body.loginInfo.webPort = -1; },
         cat({hdr(0x22, "", 0), txt("operator10", 10), {0xFF, 0xFF, 0xFF, 0xFF}})},
        {"LoginInfoPort65536", DM_LOGIN_INFO, "", DS_OK,
         [](M m) { set(m.body.loginInfo.userName, "u"); m.body.loginInfo.webPort = 65536; },
         cat({hdr(0x22, "", 0), txt("u", 10), {0x00, 0x00, 0x01, 0x00}})},
        {"RebootAckInternalError", DM_REBOOT_ACK, "", DS_INTERNAL_ERROR, noBody, hdr(0x23, "", 0x03)},
        {"FlashInfo", DM_FLASHINFO, "", DS_OK, image, cat({hdr(0x24, "", 0), imagePattern()})},
        {"PutFlashInfoAckVersionMismatch", DM_PUT_FLASHINFO_ACK, "", DS_VERSION_MISMATCH, noBody,
         hdr(0x25, "", 0x04)},
    };
    return table;
}

// The fixtures assume this host's byte order has been detected.
class CodecTest : public ::testing::Test {
protected:
    void SetUp() override { InitByteOrder(); }
};

class Wire : public CodecTest, public ::testing::WithParamInterface<Row> {};

TEST_P(Wire, Encodes)
{
    const Row& row = GetParam();
    const int size = int(row.wire.size());
    EXPECT_EQ(DeviceMsgSize(row.type), size);
    for (int start : {0, 5}) {
        SCOPED_TRACE(start);
        Bytes buf(DEVMSG_BUF_SIZE, 0xEE);
        int pos = start;
        EXPECT_EQ(EncodeDeviceMsg(buf.data(), pos, row.record()), size);
        EXPECT_EQ(pos, start + size);
        EXPECT_TRUE(sameBytes(buf.data(), Bytes(std::size_t(start), 0xEE)));
        EXPECT_TRUE(sameBytes(buf.data() + start, row.wire));
        EXPECT_EQ(buf[std::size_t(start + size)], 0xEE) << "wrote past the message";
    }
}

TEST_P(Wire, Decodes)
{
    const Row& row = GetParam();
    const int size = int(row.wire.size());
    for (int start : {0, 5}) {
        SCOPED_TRACE(start);
        const Bytes buf = cat({Bytes(std::size_t(start), 0xEE), row.wire});
        DeviceMsg msg = dirtyMsg();
        int pos = start;
        EXPECT_EQ(DecodeDeviceMsg(buf.data(), pos, msg), size);
        EXPECT_EQ(pos, start + size);
        expectSameMsg(msg, row.record());
    }
}

INSTANTIATE_TEST_SUITE_P(AllTypes, Wire, ::testing::ValuesIn(rows()),
                         [](const auto& info) { return std::string(info.param.name); });

// Every byte of every field non-zero and non-ASCII, so a dropped, shifted or
// sign-mangled byte cannot hide behind zero fill.
TEST_F(CodecTest, RoundTripsEveryTypeWithDenseFields)
{
    for (const Row& r : rows()) {
        SCOPED_TRACE(r.name);
        DeviceMsg msg;
        auto* p = reinterpret_cast<unsigned char*>(&msg);
        for (std::size_t i = 0; i < sizeof msg; ++i)
            p[i] = static_cast<unsigned char>(0x80 + i * 13);
        msg.type = r.type;
        msg.status = std::int8_t(-2);
        if (r.type == DM_LOGIN_INFO)
            msg.body.loginInfo.webPort = INT32_MIN;
        if (r.type == DM_DISCOVER)
            msg.body.magic = 0xFEDCBA98;

        Bytes buf(DEVMSG_BUF_SIZE);
        int pos = 0;
        const int size = EncodeDeviceMsg(buf.data(), pos, msg);
        EXPECT_EQ(size, DeviceMsgSize(r.type));
        DeviceMsg back = dirtyMsg();
        pos = 0;
        EXPECT_EQ(DecodeDeviceMsg(buf.data(), pos, back), size);
        expectSameMsg(back, msg);
    }
}

TEST_F(CodecTest, UnknownTypesAreRefused)
{
    for (const int t : {0x00, 0x16, 0x1F, 0x26, 0x30, 0x7F, 0x80, 0xFF}) {
        SCOPED_TRACE(t);
        const auto type = static_cast<std::int8_t>(t);
        EXPECT_EQ(DeviceMsgSize(type), 0);

        DeviceMsg msg{};
        msg.type = type;
        Bytes buf(DEVMSG_BUF_SIZE);
        int pos = 5;
        EXPECT_EQ(EncodeDeviceMsg(buf.data(), pos, msg), 0);
        EXPECT_EQ(pos, 5);

        // The header is still read, so a caller can report what arrived.
        const Bytes wire = cat({hdr(static_cast<unsigned char>(t), "pw", 0x03), Bytes(64, 0x5C)});
        DeviceMsg got = dirtyMsg();
        pos = 0;
        EXPECT_EQ(DecodeDeviceMsg(wire.data(), pos, got), 0);
        EXPECT_EQ(pos, 0);
        EXPECT_EQ(got.type, type);
        EXPECT_EQ(raw(got.password), std::string("pw\0\0\0\0\0\0\0\0", 10));
        EXPECT_EQ(got.status, 3);
        EXPECT_TRUE(sameBytes(&got.body, Bytes(sizeof got.body, 0xAA)));
    }
}

TEST(TextField, PutTruncatesAndZeroFills)
{
    struct Case {
        std::string_view text;
        int width;
        Bytes want;
    };
    const Case cases[] = {
        {"abc", 6, {'a', 'b', 'c', 0, 0, 0}},
        {"abcdef", 6, {'a', 'b', 'c', 'd', 'e', 'f'}},
        {"abcdefgh", 6, {'a', 'b', 'c', 'd', 'e', 'f'}},
        {"", 4, {0, 0, 0, 0}},
        {std::string_view{}, 4, {0, 0, 0, 0}}, // null data
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        char field[16];
        std::memset(field, 'Z', sizeof field);
        PutTextField(field, c.width, c.text);
        EXPECT_TRUE(sameBytes(field, c.want));
        EXPECT_EQ(field[c.width], 'Z') << "wrote past the field";
    }
}

TEST(TextField, GetStopsAtZeroAndNeverReadsPastWidth)
{
    struct Case {
        std::string field;
        std::string_view want;
    };
    const Case cases[] = {
        {{"abc\0\0\0", 6}, "abc"},
        {{"ab\0def", 6}, "ab"},
        {{"\0bcdef", 6}, ""},
        {"abcdef", "abcdef"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.want));
        const int width = int(c.field.size());
        // A sentinel right after the field must not join the text.
        const std::string wide = c.field + "X";
        EXPECT_EQ(GetTextField(wide.data(), width), c.want);
        // Exactly sized, so the sanitizer catches any read beyond it.
        auto exact = std::make_unique<char[]>(c.field.size());
        std::memcpy(exact.get(), c.field.data(), c.field.size());
        EXPECT_EQ(GetTextField(exact.get(), width), c.want);
    }
}

TEST(ByteOrder, SwapLongReversesBytes)
{
    EXPECT_EQ(SwapLong(0x11223344u), 0x44332211u);
    EXPECT_EQ(SwapLong(0x000000FFu), 0xFF000000u);
    EXPECT_EQ(SwapLong(0x80000001u), 0x01000080u);
}

// No big-endian host is at hand, so the swapped path is forced: with the flag
// set, integers go out as the host holds them reversed, which on a big-endian
// host is least significant byte first.
class SwappedByteOrder : public ::testing::Test {
protected:
    void SetUp() override { g_bSwapLong = true; }
    void TearDown() override { g_bSwapLong = saved_; }

private:
    const bool saved_ = g_bSwapLong;
};

Bytes hostReversed(std::uint32_t value)
{
    Bytes b(4);
    std::memcpy(b.data(), &value, 4);
    std::reverse(b.begin(), b.end());
    return b;
}

TEST_F(SwappedByteOrder, ReversesEveryInteger)
{
    unsigned char four[8] = {};
    int pos = 2;
    PutLong(four, pos, 0x11223344);
    EXPECT_EQ(pos, 6);
    EXPECT_TRUE(sameBytes(four + 2, hostReversed(0x11223344)));
    std::uint32_t value = 0;
    pos = 2;
    GetLong(four, pos, value);
    EXPECT_EQ(value, 0x11223344u);

    DeviceMsg msg{};
    msg.type = DM_DISCOVER;
    msg.body.magic = DISCOVER_MAGIC;
    Bytes buf(DEVMSG_BUF_SIZE);
    pos = 0;
    ASSERT_EQ(EncodeDeviceMsg(buf.data(), pos, msg), 16);
    EXPECT_TRUE(sameBytes(buf.data() + 12, hostReversed(DISCOVER_MAGIC)));

    msg = DeviceMsg{};
    msg.type = DM_LOGIN_INFO;
    msg.body.loginInfo.webPort = 80;
    pos = 0;
    ASSERT_EQ(EncodeDeviceMsg(buf.data(), pos, msg), 26);
    EXPECT_TRUE(sameBytes(buf.data() + 22, hostReversed(80)));
    DeviceMsg back{};
    pos = 0;
    ASSERT_EQ(DecodeDeviceMsg(buf.data(), pos, back), 26);
    EXPECT_EQ(back.body.loginInfo.webPort, 80);
}

} // namespace
