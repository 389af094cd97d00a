// The logic layer's share of the receive path: naming a frame and building
// its log line, cutting the serial byte stream, reading candump lines.
#include "candump_reader.h"
#include "frame_naming.h"
#include "receive_ring.h"
#include "serial_framing.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

using namespace tervix;

namespace {

// A fixed mix of frames over every function code, data lengths 0..8.
std::vector<std::vector<std::uint8_t>> MixedPackets(std::size_t count)
{
    std::mt19937 rng(7);
    std::vector<std::vector<std::uint8_t>> packets;
    for (std::size_t i = 0; i < count; ++i) {
        std::vector<std::uint8_t> data(rng() % 9);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(rng());
        packets.push_back(MakePacket(rng() & 0x7FF, data));
    }
    return packets;
}

void BM_ClassifyAndLogLine(benchmark::State& state)
{
    const auto packets = MixedPackets(1024);
    std::string line;
    line.reserve(128);
    std::size_t i = 0;
    for (auto _ : state) {
        const ByteView message(packets[i++ & 1023]);
        line.clear();
        AppendLogLine(line, message, ClassifyMessage(message));
        benchmark::DoNotOptimize(line.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("items = frames");
}
BENCHMARK(BM_ClassifyAndLogLine);

void BM_SerialFraming(benchmark::State& state)
{
    std::vector<std::uint8_t> stream;
    for (const auto& p : MixedPackets(4096))
        stream.insert(stream.end(), p.begin(), p.end());
    ReceiveRing ring;
    std::size_t delivered = 0;
    ring.SetHandler([&delivered](int) { ++delivered; });
    SerialFraming framing;
    for (auto _ : state) {
        framing.Feed(stream, ring);
        benchmark::DoNotOptimize(delivered);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.size()));
    state.SetItemsProcessed(state.iterations() * 4096);
    state.SetLabel("items = frames");
}
BENCHMARK(BM_SerialFraming);

class CountingSink : public CandumpSink {
public:
    void Frame(std::uint64_t, ByteView message) override { bytes += message.size(); }
    void Skipped(std::uint64_t, std::string_view) override { ++skipped; }
    std::size_t bytes = 0;
    std::size_t skipped = 0;
};

void BM_CandumpReader(benchmark::State& state)
{
    std::string text;
    for (const auto& p : MixedPackets(4096)) {
        char head[48];
        std::snprintf(head, sizeof head, "(1436509052.249713) can0 %03X#", PacketIdentifier(p));
        text += head;
        for (std::size_t k = kPacketHeaderSize; k < p.size(); ++k) {
            std::snprintf(head, sizeof head, "%02X", p[k]);
            text += head;
        }
        text += '\n';
    }
    CountingSink sink;
    for (auto _ : state) {
        ReadCandumpText(text, sink);
        benchmark::DoNotOptimize(sink.bytes);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
    state.SetItemsProcessed(state.iterations() * 4096);
    state.SetLabel("items = lines");
}
BENCHMARK(BM_CandumpReader);

} // namespace
