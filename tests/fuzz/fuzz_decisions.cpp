// Arbitrary frame sequences through the monitor's decisions and through the
// simulated node: every received message, with requests, button presses and
// timer ticks mixed in, at times that move forward by the input's own steps.
// Whatever the bytes, nothing may crash, and what the decoder sends must be
// well-formed packets the node can take back in.
#include "fuzz_check.h"
#include "monitor_decoder.h"
#include "parameter_pages.h"
#include "simulated_unit.h"

#include <optional>

using namespace tervix;

namespace {

// Pages of 0..40 cells that take every value in range.
class Pages final : public ParameterPages {
public:
    int cells = 16;
    int CellCount(int) const override { return cells; }
    bool StoreValue(int, int sub, std::int32_t) override { return sub >= 1 && sub <= cells; }
    bool MarkFailed(int, int sub) override { return sub >= 1 && sub <= cells; }
    bool EnableEdit(int, int sub) override { return sub >= 1 && sub <= cells; }
};

struct Reader {
    const std::uint8_t* p;
    std::size_t n;
    std::uint8_t Byte() { return n ? (--n, *p++) : 0; }
    bool Empty() const { return n == 0; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Reader in{data, size};
    TimePoint now{};
    std::vector<FramePacket> sent;
    MonitorDecoder::Outputs outputs;
    outputs.send = [&](const BusFrame& f) {
        fuzz::Check(f.length <= 8 && f.id <= (f.extended ? 0x1FFFFFFFu : 0x7FFu));
        sent.push_back(EncodePacket(f));
        return Status();
    };
    outputs.log = [](std::string_view line) { fuzz::Check(line.size() < 4096); };
    outputs.message = [](std::string_view, std::string_view) {};
    MonitorDecoder decoder(outputs, now);
    CanopenClient client([&](unsigned, const BusFrame& f, const SdoOutgoing& about) {
        decoder.LogSdoFrame(f, about);
        return outputs.send(f);
    });
    decoder.SetClient(&client);
    Pages pages;
    decoder.SetParameterPages(&pages);

    sim::SimOptions options;
    options.seed = in.Byte();
    options.dropShare = in.Byte() < 32 ? 0.5 : 0.0;
    sim::SimulatedUnit node(options);

    while (!in.Empty()) {
        now += std::chrono::milliseconds(in.Byte());
        const std::uint8_t op = in.Byte();
        switch (op % 8) {
        case 0:
        case 1:
        case 2: {
            // A received message of up to 12 bytes: a packet or adapter text.
            const std::size_t len = in.Byte() % 13;
            std::vector<std::uint8_t> m(len);
            for (auto& b : m)
                b = in.Byte();
            if (op & 0x80 && len > 0)
                m[0] = kPacketMarker;
            decoder.FrameReceived(m, now);
            if (auto frame = DecodePacket(m)) {
                client.Receive(*frame, now);
                node.Receive(*frame, now);
            }
            break;
        }
        case 3: decoder.WatchdogTick(); break;
        case 4:
            decoder.SetGuarding(op & 0x10);
            decoder.GuardTick();
            break;
        case 5: {
            const std::uint32_t object = (std::uint32_t(in.Byte()) << 24) | (std::uint32_t(in.Byte()) << 16) | in.Byte();
            decoder.SetNode(in.Byte() % 130);
            decoder.SetUnitAddress(std::optional<long long>(static_cast<std::int8_t>(in.Byte()) * 3));
            switch (in.Byte() % 5) {
            case 0: decoder.SdoRead(object, now); break;
            case 1: decoder.SdoWrite(object, static_cast<std::int32_t>(object * 2654435761u), now); break;
            case 2: decoder.SdoWriteUnitAddress(object, now); break;
            case 3: decoder.SendRpdo(1 + in.Byte() % 4, object); break;
            default: decoder.NmtStart(); break;
            }
            break;
        }
        case 6:
            pages.cells = in.Byte() % 41;
            decoder.StartReadAll(in.Byte() % 4, now);
            break;
        default:
            decoder.ClearRow(in.Byte() % 4);
            decoder.SetIntegerValues(op & 0x20);
            break;
        }
        // What the decoder sent reaches the node; what the node answers
        // reaches the decoder, as on a bus.
        for (const FramePacket& p : sent)
            if (auto frame = DecodePacket(p))
                node.Receive(*frame, now);
        sent.clear();
        node.Step(now);
        for (const BusFrame& f : node.TakeFrames()) {
            fuzz::Check(f.length <= 8);
            decoder.FrameReceived(EncodePacket(f), now);
            client.Receive(f, now);
        }
        client.Process(now);
    }
    return 0;
}
