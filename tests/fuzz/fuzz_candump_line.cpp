// Arbitrary text through the candump reader, whole and cut into two chunks
// at a point the input chooses; both must give the same frames and skips.
#include "candump_reader.h"
#include "fuzz_check.h"

#include <string>
#include <string_view>
#include <vector>

using namespace tervix;

namespace {

class RecordingSink : public CandumpSink {
public:
    void Frame(std::uint64_t lineNumber, ByteView message) override
    {
        fuzz::Check(message.size() >= kPacketHeaderSize && message.size() <= kCandumpPacketSize);
        fuzz::Check(message[0] == kPacketMarker);
        // Remote frames carry no data bytes; others say how many they carry.
        if ((message[1] & kFlagRemote) != 0)
            fuzz::Check(message.size() == kPacketHeaderSize);
        else
            fuzz::Check(message.size() == kPacketHeaderSize + (message[1] & 0x0Fu));
        fuzz::DecodeLikeTheWindow(message, line_);
        events.push_back(std::to_string(lineNumber) + ' ' + line_);
    }

    void Skipped(std::uint64_t lineNumber, std::string_view reason) override
    {
        fuzz::Check(!reason.empty());
        events.push_back(std::to_string(lineNumber) + " skipped " + std::string(reason));
    }

    std::vector<std::string> events;

private:
    std::string line_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    RecordingSink whole;
    ReadCandumpText(text, whole);

    RecordingSink split;
    CandumpReader reader;
    const std::size_t cut = size == 0 ? 0 : data[0] * size / 256;
    reader.Feed(text.substr(0, cut), split);
    reader.Feed(text.substr(cut), split);
    reader.Finish(split);
    fuzz::Check(whole.events == split.events);

    CandumpPacket packet;
    const CandumpLineResult r = ParseCandumpLine(text, packet);
    fuzz::Check((r.kind == CandumpLineKind::Frame) == (packet.size >= kPacketHeaderSize));
    return 0;
}
