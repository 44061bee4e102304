// What the device message codec costs next to a plain memcpy.
//
// For each of the twelve message types: encode ns/message, decode ns/message
// and a memcpy of the message's wire size between two buffers of that size,
// all in the same run. Each figure is the median of five repetitions (real
// time). Record, datagram buffer and memcpy buffers each start on a 64-byte
// boundary. All three are measured a second time with the datagram buffer
// (for memcpy: the destination) 4 bytes past such a boundary, as a datagram
// kept behind a 4-byte aligned header would be: the two sides are then 4
// bytes apart modulo 8. After the usual table, one line per type:
//
//   codec type=0xNN bytes=B encode_ns=E decode_ns=D memcpy_ns=C limit_ns=L goal=met|missed
//         encode_ns_buf4=.. decode_ns_buf4=.. memcpy_ns_buf4=.. limit_ns_buf4=.. goal_buf4=..
//
// (all on one line). The goal: encode and decode each within twice the
// memcpy of the same layout, or within 20 ns for the small types whose memcpy
// takes under 10 ns; limit_ns is the bound that applies. Nothing here opens a
// socket. Google Benchmark flags are accepted (e.g. --benchmark_filter=0x24).
//
//   build/bench/bench_codec
#include "devicemsg.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

namespace {

constexpr std::int8_t kTypes[] = {
    DM_DISCOVER,    DM_SET_IP,     DM_GET_LOGIN,  DM_REBOOT,     DM_GET_FLASHINFO, DM_PUT_FLASHINFO,
    DM_DEVICE_INFO, DM_SET_IP_ACK, DM_LOGIN_INFO, DM_REBOOT_ACK, DM_FLASHINFO,     DM_PUT_FLASHINFO_ACK,
};

constexpr int kRepetitions = 5;
constexpr double kMinTimeSeconds = 0.1;
constexpr std::size_t kLine = 64;
constexpr std::size_t kShiftedBuffer = 4;

std::string TypeName(std::int8_t type)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", unsigned(std::uint8_t(type)));
    return text;
}

// Zeroed heap blocks that start on a 64-byte boundary.
struct AlignedDelete {
    void operator()(unsigned char* block) const { ::operator delete(block, std::align_val_t{kLine}); }
};
using Block = std::unique_ptr<unsigned char[], AlignedDelete>;

Block AllocateBlock(std::size_t size)
{
    Block block(static_cast<unsigned char*>(::operator new(size, std::align_val_t{kLine})));
    std::memset(block.get(), 0, size);
    return block;
}

// A message of this type as the utility or an appliance would fill it.
void FillMessage(DeviceMsg& msg, std::int8_t type)
{
    std::memset(&msg, 0, sizeof msg);
    msg.type = type;
    PutTextField(msg.password, DEVMSG_PASSWORD_SIZE, "admin1234");
    msg.status = DS_OK;
    switch (type) {
    case DM_DISCOVER:
        msg.body.magic = DISCOVER_MAGIC;
        break;
    case DM_SET_IP:
        PutTextField(msg.body.setIp.mac, sizeof msg.body.setIp.mac, "00:1A:2B:3C:4D:5E");
        PutTextField(msg.body.setIp.newIp, sizeof msg.body.setIp.newIp, "192.168.100.201");
        break;
    case DM_PUT_FLASHINFO:
    case DM_FLASHINFO:
        for (int i = 0; i < FLASHINFO_SIZE; ++i)
            msg.body.image[i] = static_cast<unsigned char>(i * 131 + 7);
        break;
    case DM_DEVICE_INFO:
        PutTextField(msg.body.deviceInfo.serial, sizeof msg.body.deviceInfo.serial, "NV-4820-00017731");
        PutTextField(msg.body.deviceInfo.mac, sizeof msg.body.deviceInfo.mac, "00:1A:2B:3C:4D:5E");
        PutTextField(msg.body.deviceInfo.ip, sizeof msg.body.deviceInfo.ip, "192.168.100.17");
        break;
    case DM_LOGIN_INFO:
        PutTextField(msg.body.loginInfo.userName, sizeof msg.body.loginInfo.userName, "operator");
        msg.body.loginInfo.webPort = 8080;
        break;
    default:
        break;
    }
}

// One side of an exchange: a record and a datagram buffer, the buffer
// starting bufferOffset bytes into its block.
struct Exchange {
    explicit Exchange(std::size_t bufferOffset)
        : recordBlock(AllocateBlock(sizeof(DeviceMsg)))
        , bufferBlock(AllocateBlock(bufferOffset + DEVMSG_BUF_SIZE))
        , record(new (recordBlock.get()) DeviceMsg{})
        , buffer(bufferBlock.get() + bufferOffset)
    {
    }

    Block recordBlock;
    Block bufferBlock;
    DeviceMsg* record;
    unsigned char* buffer;
};

void BM_Encode(benchmark::State& state, std::int8_t type, std::size_t bufferOffset)
{
    Exchange exchange(bufferOffset);
    FillMessage(*exchange.record, type);
    int pos = 0;
    const int size = EncodeDeviceMsg(exchange.buffer, pos, *exchange.record);
    if (size != DeviceMsgSize(type)) {
        state.SkipWithError("encode wrote an unexpected size");
        return;
    }
    const std::vector<unsigned char> expected(exchange.buffer, exchange.buffer + size);
    std::memset(exchange.buffer, 0, std::size_t(size));
    unsigned char* buf = exchange.buffer;
    const DeviceMsg* msg = exchange.record;
    for (auto _ : state) {
        benchmark::DoNotOptimize(buf);
        benchmark::DoNotOptimize(msg);
        pos = 0;
        int n = EncodeDeviceMsg(buf, pos, *msg);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(pos);
        benchmark::ClobberMemory();
    }
    if (std::memcmp(exchange.buffer, expected.data(), expected.size()) != 0)
        state.SkipWithError("encode did not write the message");
    state.SetBytesProcessed(state.iterations() * DeviceMsgSize(type));
}

void BM_Decode(benchmark::State& state, std::int8_t type, std::size_t bufferOffset)
{
    auto source = std::make_unique<DeviceMsg>();
    FillMessage(*source, type);
    Exchange exchange(bufferOffset);
    int pos = 0;
    const int size = EncodeDeviceMsg(exchange.buffer, pos, *source);
    pos = 0;
    if (size != DeviceMsgSize(type) || DecodeDeviceMsg(exchange.buffer, pos, *exchange.record) != size
        || std::memcmp(exchange.record, source.get(), std::size_t(size)) != 0) {
        state.SkipWithError("decode did not give back the message");
        return;
    }
    std::memset(exchange.record, 0, sizeof *exchange.record);
    const unsigned char* buf = exchange.buffer;
    DeviceMsg* msg = exchange.record;
    for (auto _ : state) {
        benchmark::DoNotOptimize(buf);
        benchmark::DoNotOptimize(msg);
        pos = 0;
        int n = DecodeDeviceMsg(buf, pos, *msg);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(pos);
        benchmark::ClobberMemory();
    }
    if (std::memcmp(exchange.record, source.get(), std::size_t(size)) != 0)
        state.SkipWithError("decode did not give back the message");
    state.SetBytesProcessed(state.iterations() * DeviceMsgSize(type));
}

// The floor: the message's wire size copied between two buffers of that
// size, the destination starting dstOffset bytes into its block. The size is
// read from a volatile on every pass, so the compiler can neither fold it nor
// choose a fixed-size copy for it. (Not DoNotOptimize on a size assigned in
// the loop: GCC 12 with AddressSanitizer drops that store and copies nothing.)
void BM_Memcpy(benchmark::State& state, std::int8_t type, std::size_t dstOffset)
{
    const std::size_t size = std::size_t(DeviceMsgSize(type));
    Block src = AllocateBlock(size);
    Block dst = AllocateBlock(dstOffset + size);
    for (std::size_t i = 0; i < size; ++i)
        src[i] = static_cast<unsigned char>(i * 131 + 7);
    unsigned char* from = src.get();
    unsigned char* to = dst.get() + dstOffset;
    volatile std::size_t wireSize = size;
    for (auto _ : state) {
        const std::size_t n = wireSize;
        benchmark::DoNotOptimize(from);
        benchmark::DoNotOptimize(to);
        std::memcpy(to, from, n);
        benchmark::ClobberMemory();
    }
    if (std::memcmp(src.get(), dst.get() + dstOffset, size) != 0)
        state.SkipWithError("memcpy did not copy");
    state.SetBytesProcessed(state.iterations() * std::int64_t(size));
}

bool ColourOutput()
{
#if defined(__unix__) || defined(__APPLE__)
    return isatty(STDOUT_FILENO) != 0;
#else
    return false;
#endif
}

// Shows the usual table and keeps one figure per benchmark: the median when
// repetitions ran, otherwise the mean of the runs reported.
class CCollectingReporter : public benchmark::ConsoleReporter {
public:
    CCollectingReporter()
        : ConsoleReporter(ColourOutput() ? OO_ColorTabular : OO_Tabular)
    {
    }

    void ReportRuns(const std::vector<Run>& reports) override
    {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            if (run.error_occurred)
                continue;
            const double ns = run.GetAdjustedRealTime(); // every benchmark here reports in ns
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median")
                    m_median[run.run_name.function_name] = ns;
            } else {
                Sum& sum = m_iterations[run.run_name.function_name];
                sum.total += ns;
                ++sum.count;
            }
        }
    }

    // Negative when the benchmark did not run or failed.
    double Nanoseconds(const std::string& name) const
    {
        if (auto it = m_median.find(name); it != m_median.end())
            return it->second;
        if (auto it = m_iterations.find(name); it != m_iterations.end() && it->second.count > 0)
            return it->second.total / it->second.count;
        return -1.0;
    }

private:
    struct Sum {
        double total = 0.0;
        int count = 0;
    };
    std::map<std::string, double> m_median;
    std::map<std::string, Sum> m_iterations;
};

} // namespace

int main(int argc, char** argv)
{
    for (std::int8_t type : kTypes) {
        const std::string name = TypeName(type);
        const std::string shifted = "/buffer+" + std::to_string(kShiftedBuffer);
        for (auto* bench : {
                 benchmark::RegisterBenchmark(("encode/" + name).c_str(), BM_Encode, type, std::size_t(0)),
                 benchmark::RegisterBenchmark(("decode/" + name).c_str(), BM_Decode, type, std::size_t(0)),
                 benchmark::RegisterBenchmark(("memcpy/" + name).c_str(), BM_Memcpy, type, std::size_t(0)),
                 benchmark::RegisterBenchmark(("encode/" + name + shifted).c_str(), BM_Encode, type, kShiftedBuffer),
                 benchmark::RegisterBenchmark(("decode/" + name + shifted).c_str(), BM_Decode, type, kShiftedBuffer),
                 benchmark::RegisterBenchmark(("memcpy/" + name + shifted).c_str(), BM_Memcpy, type, kShiftedBuffer),
             }) {
            bench->Unit(benchmark::kNanosecond)
                ->Repetitions(kRepetitions)
                ->MinTime(kMinTimeSeconds)
                ->DisplayAggregatesOnly(true);
        }
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    CCollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::fflush(stdout);
    std::printf("\n");
    int missed = 0;
    int missedShifted = 0;
    int reported = 0;
    for (std::int8_t type : kTypes) {
        const std::string name = TypeName(type);
        const std::string shifted = "/buffer+" + std::to_string(kShiftedBuffer);
        const double encodeNs = reporter.Nanoseconds("encode/" + name);
        const double decodeNs = reporter.Nanoseconds("decode/" + name);
        const double memcpyNs = reporter.Nanoseconds("memcpy/" + name);
        if (encodeNs < 0 || decodeNs < 0 || memcpyNs < 0)
            continue; // filtered out or failed
        ++reported;
        const double limitNs = memcpyNs < 10.0 ? 20.0 : 2.0 * memcpyNs;
        const bool met = encodeNs <= limitNs && decodeNs <= limitNs;
        if (!met)
            ++missed;
        std::printf("codec type=%s bytes=%d encode_ns=%.1f decode_ns=%.1f memcpy_ns=%.1f limit_ns=%.1f goal=%s",
                    name.c_str(), DeviceMsgSize(type), encodeNs, decodeNs, memcpyNs, limitNs, met ? "met" : "missed");

        const double encodeShiftedNs = reporter.Nanoseconds("encode/" + name + shifted);
        const double decodeShiftedNs = reporter.Nanoseconds("decode/" + name + shifted);
        const double memcpyShiftedNs = reporter.Nanoseconds("memcpy/" + name + shifted);
        if (encodeShiftedNs >= 0 && decodeShiftedNs >= 0 && memcpyShiftedNs >= 0) {
            const double limitShiftedNs = memcpyShiftedNs < 10.0 ? 20.0 : 2.0 * memcpyShiftedNs;
            const bool metShifted = encodeShiftedNs <= limitShiftedNs && decodeShiftedNs <= limitShiftedNs;
            if (!metShifted)
                ++missedShifted;
            const int k = int(kShiftedBuffer);
            std::printf(" encode_ns_buf%d=%.1f decode_ns_buf%d=%.1f", k, encodeShiftedNs, k, decodeShiftedNs);
            std::printf(" memcpy_ns_buf%d=%.1f limit_ns_buf%d=%.1f goal_buf%d=%s", k, memcpyShiftedNs, k,
                        limitShiftedNs, k, metShifted ? "met" : "missed");
        }
        std::printf("\n");
    }
    std::printf("codec goal missed by %d of %d types; with the buffer %zu bytes off: %d\n", missed, reported,
                kShiftedBuffer, missedShifted);
    return 0;
}
