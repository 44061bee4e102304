// What the device message codec costs next to a plain memcpy.
//
// For each of the twelve message types: encode ns/message, decode ns/message
// and a memcpy of the message's wire size between two buffers of that size,
// all in the same run. Each figure is the median of five repetitions (real
// time). After the usual table, one line per type:
//
//   codec type=0xNN bytes=B encode_ns=E decode_ns=D memcpy_ns=C limit_ns=L goal=met|missed
//
// The goal: encode and decode each within twice that memcpy, or within 20 ns
// for the small types whose memcpy takes under 10 ns. Nothing here opens a
// socket. Google Benchmark flags are accepted (e.g. --benchmark_filter).
//
//   build/bench/bench_codec
#include "devicemsg.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::int8_t kTypes[] = {
    DM_DISCOVER,    DM_SET_IP,        DM_GET_LOGIN, DM_REBOOT,     DM_GET_FLASHINFO, DM_PUT_FLASHINFO,
    DM_DEVICE_INFO, DM_SET_IP_ACK,    DM_LOGIN_INFO, DM_REBOOT_ACK, DM_FLASHINFO,     DM_PUT_FLASHINFO_ACK,
};

constexpr int kRepetitions = 5;
constexpr double kMinTimeSeconds = 0.1;

std::string TypeName(std::int8_t type)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", unsigned(std::uint8_t(type)));
    return text;
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

// The caller's side of one exchange: a message record and a datagram buffer,
// on the heap as the endpoint holds them.
struct Workspace {
    DeviceMsg msg;
    unsigned char buf[DEVMSG_BUF_SIZE];
};

void BM_Encode(benchmark::State& state, std::int8_t type)
{
    auto ws = std::make_unique<Workspace>();
    std::memset(ws->buf, 0, sizeof ws->buf);
    FillMessage(ws->msg, type);
    int pos = 0;
    if (EncodeDeviceMsg(ws->buf, pos, ws->msg) != DeviceMsgSize(type)) {
        state.SkipWithError("encode wrote an unexpected size");
        return;
    }
    unsigned char* buf = ws->buf;
    const DeviceMsg* msg = &ws->msg;
    for (auto _ : state) {
        benchmark::DoNotOptimize(buf);
        benchmark::DoNotOptimize(msg);
        pos = 0;
        int n = EncodeDeviceMsg(buf, pos, *msg);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(pos);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * DeviceMsgSize(type));
}

void BM_Decode(benchmark::State& state, std::int8_t type)
{
    auto source = std::make_unique<DeviceMsg>();
    FillMessage(*source, type);
    auto ws = std::make_unique<Workspace>();
    std::memset(ws->buf, 0, sizeof ws->buf);
    std::memset(&ws->msg, 0, sizeof ws->msg);
    int pos = 0;
    const int size = EncodeDeviceMsg(ws->buf, pos, *source);
    pos = 0;
    if (size != DeviceMsgSize(type) || DecodeDeviceMsg(ws->buf, pos, ws->msg) != size
        || std::memcmp(&ws->msg, source.get(), std::size_t(size)) != 0) {
        state.SkipWithError("decode did not give back the message");
        return;
    }
    const unsigned char* buf = ws->buf;
    DeviceMsg* msg = &ws->msg;
    for (auto _ : state) {
        benchmark::DoNotOptimize(buf);
        benchmark::DoNotOptimize(msg);
        pos = 0;
        int n = DecodeDeviceMsg(buf, pos, *msg);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(pos);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * DeviceMsgSize(type));
}

// The floor: the same number of bytes copied between two buffers of exactly
// that size. The size goes through DoNotOptimize on every pass, so the
// compiler can neither fold it nor pick a fixed-size copy for it.
void BM_Memcpy(benchmark::State& state, std::int8_t type)
{
    const std::size_t size = std::size_t(DeviceMsgSize(type));
    std::vector<unsigned char> src(size), dst(size);
    for (std::size_t i = 0; i < size; ++i)
        src[i] = static_cast<unsigned char>(i * 131 + 7);
    unsigned char* from = src.data();
    unsigned char* to = dst.data();
    for (auto _ : state) {
        std::size_t n = size;
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(from);
        benchmark::DoNotOptimize(to);
        std::memcpy(to, from, n);
        benchmark::ClobberMemory();
    }
    if (std::memcmp(src.data(), dst.data(), size) != 0)
        state.SkipWithError("memcpy did not copy");
    state.SetBytesProcessed(state.iterations() * std::int64_t(size));
}

// Shows the usual table and keeps one figure per benchmark: the median when
// repetitions ran, otherwise the mean of the runs reported.
class CCollectingReporter : public benchmark::ConsoleReporter {
public:
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
    InitByteOrder();

    for (std::int8_t type : kTypes) {
        const std::string name = TypeName(type);
        for (auto* bench : {
                 benchmark::RegisterBenchmark(("encode/" + name).c_str(), BM_Encode, type),
                 benchmark::RegisterBenchmark(("decode/" + name).c_str(), BM_Decode, type),
                 benchmark::RegisterBenchmark(("memcpy/" + name).c_str(), BM_Memcpy, type),
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
    for (std::int8_t type : kTypes) {
        const std::string name = TypeName(type);
        const double encodeNs = reporter.Nanoseconds("encode/" + name);
        const double decodeNs = reporter.Nanoseconds("decode/" + name);
        const double memcpyNs = reporter.Nanoseconds("memcpy/" + name);
        if (encodeNs < 0 || decodeNs < 0 || memcpyNs < 0)
            continue; // filtered out or failed
        const double limitNs = memcpyNs < 10.0 ? 20.0 : 2.0 * memcpyNs;
        const bool met = encodeNs <= limitNs && decodeNs <= limitNs;
        if (!met)
            ++missed;
        std::printf("codec type=%s bytes=%d encode_ns=%.1f decode_ns=%.1f memcpy_ns=%.1f limit_ns=%.1f goal=%s\n",
                    name.c_str(), DeviceMsgSize(type), encodeNs, decodeNs, memcpyNs, limitNs,
                    met ? "met" : "missed");
    }
    std::printf("codec goal missed by %d of %zu types\n", missed, std::size(kTypes));
    return 0;
}
