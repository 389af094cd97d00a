#include "candump_reader.h"
#include "hex_text.h"

#include <algorithm>
#include <cstring>

namespace tervix {

namespace {

constexpr std::string_view kNotAFrame = "not a CAN frame";
constexpr std::string_view kFdFrame = "CAN FD frame";
constexpr std::string_view kBadId = "bad identifier";
constexpr std::string_view kIdRange = "identifier out of range";
constexpr std::string_view kTooMuchData = "more than 8 data bytes";
constexpr std::string_view kOddDigits = "odd number of hex digits";
constexpr std::string_view kBadData = "bad data";
constexpr std::string_view kBadRemote = "bad remote frame length";
constexpr std::string_view kTrailing = "unexpected text after the frame";
constexpr std::string_view kTooLong = "line too long";

constexpr std::uint32_t kMaxStandardId = 0x7FF;
constexpr std::uint32_t kMaxExtendedId = 0x1FFFFFFF;
constexpr std::size_t kMaxData = 8;

constexpr bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Takes the next blank-separated token off the front of text.
std::string_view NextToken(std::string_view& text)
{
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    std::size_t end = i;
    while (end < text.size() && !IsBlank(text[end]))
        ++end;
    const std::string_view token = text.substr(i, end - i);
    text.remove_prefix(end);
    return token;
}

// Eight data bytes may carry a raw length code 9..15 after an underscore;
// the bytes on the bus are still eight, so the code is read and dropped.
bool IsLengthCodeSuffix(std::string_view rest, std::size_t length)
{
    if (rest.empty())
        return true;
    if (length != kMaxData || rest.size() != 2 || rest[0] != '_')
        return false;
    const int code = HexDigitValue(rest[1]);
    return code > static_cast<int>(kMaxData);
}

CandumpLineResult Skip(std::string_view reason)
{
    return {CandumpLineKind::Skipped, reason};
}

CandumpLineResult ParseFrameToken(std::string_view token, CandumpPacket& packet)
{
    const std::size_t hash = token.find('#');
    const std::string_view id = token.substr(0, hash);
    std::string_view rest = token.substr(hash + 1);
    if (id.empty())
        return Skip(kNotAFrame);
    if (!rest.empty() && rest[0] == '#')
        return Skip(kFdFrame);

    std::uint32_t identifier = 0;
    for (char c : id) {
        const int v = HexDigitValue(c);
        if (v < 0)
            return Skip(id.size() == 3 || id.size() == 8 ? kBadId : kNotAFrame);
        identifier = (identifier << 4) | static_cast<std::uint32_t>(v);
    }
    if (id.size() != 3 && id.size() != 8)
        return Skip(kBadId);
    const bool extended = id.size() == 8;
    if (identifier > (extended ? kMaxExtendedId : kMaxStandardId))
        return Skip(kIdRange);

    std::uint8_t flags = extended ? kFlagExtended : 0;
    std::size_t length = 0;
    std::size_t dataCount = 0;
    std::uint8_t* data = packet.bytes.data() + kPacketHeaderSize;
    if (!rest.empty() && (rest[0] == 'R' || rest[0] == 'r')) {
        // A remote frame requests a length but carries no data bytes.
        flags |= kFlagRemote;
        rest.remove_prefix(1);
        if (!rest.empty() && rest[0] >= '0' && rest[0] <= '8') {
            length = static_cast<std::size_t>(rest[0] - '0');
            rest.remove_prefix(1);
        }
        if (!IsLengthCodeSuffix(rest, length))
            return Skip(kBadRemote);
    } else {
        std::size_t i = 0;
        while (i < rest.size()) {
            if (rest[i] == '.') {
                ++i;
                continue;
            }
            const int hi = HexDigitValue(rest[i]);
            if (hi < 0)
                break;
            const int lo = i + 1 < rest.size() ? HexDigitValue(rest[i + 1]) : -1;
            if (lo < 0)
                return Skip(kOddDigits);
            if (dataCount == kMaxData)
                return Skip(kTooMuchData);
            data[dataCount++] = static_cast<std::uint8_t>((hi << 4) | lo);
            i += 2;
        }
        length = dataCount;
        if (!IsLengthCodeSuffix(rest.substr(i), length))
            return Skip(kBadData);
    }

    BusFrame frame;
    frame.id = identifier;
    frame.extended = (flags & kFlagExtended) != 0;
    frame.remote = (flags & kFlagRemote) != 0;
    frame.length = static_cast<std::uint8_t>(length);
    std::copy_n(data, dataCount, frame.data.begin());
    packet.size = EncodePacket(frame, packet.bytes.data());
    packet.frame = frame;
    return {CandumpLineKind::Frame, {}};
}

} // namespace

CandumpLineResult ParseCandumpLine(std::string_view line, CandumpPacket& packet)
{
    packet.size = 0;
    std::string_view rest = line;
    std::string_view token = NextToken(rest);
    if (token.empty())
        return {CandumpLineKind::Blank, {}};
    if (token.front() == '(') {
        if (token.size() < 2 || token.back() != ')')
            return Skip(kNotAFrame);
        token = NextToken(rest);
    }
    // The interface name, when there is one, comes before the frame.
    if (!token.empty() && token.find('#') == std::string_view::npos)
        token = NextToken(rest);
    if (token.empty() || token.find('#') == std::string_view::npos)
        return Skip(kNotAFrame);
    const CandumpLineResult result = ParseFrameToken(token, packet);
    if (result.kind != CandumpLineKind::Frame)
        return result;
    // candump -x marks the direction after the frame.
    const std::string_view direction = NextToken(rest);
    if (!(direction.empty() || direction == "R" || direction == "T") || !NextToken(rest).empty()) {
        packet.size = 0;
        return Skip(kTrailing);
    }
    return result;
}

void CandumpReader::Keep(std::string_view piece)
{
    if (carryOverLong_)
        return;
    if (piece.size() > kMaxLine - carrySize_) {
        carryOverLong_ = true;
        carrySize_ = 0;
        return;
    }
    std::memcpy(carry_.data() + carrySize_, piece.data(), piece.size());
    carrySize_ += piece.size();
}

void CandumpReader::EndLine(std::string_view line, bool overLong, CandumpSink& sink)
{
    ++lineNumber_;
    if (overLong || line.size() > kMaxLine) {
        sink.Skipped(lineNumber_, kTooLong);
        return;
    }
    const CandumpLineResult r = ParseCandumpLine(line, packet_);
    if (r.kind == CandumpLineKind::Frame)
        sink.Frame(lineNumber_, packet_.View());
    else if (r.kind == CandumpLineKind::Skipped)
        sink.Skipped(lineNumber_, r.reason);
}

void CandumpReader::Feed(std::string_view chunk, CandumpSink& sink)
{
    while (!chunk.empty()) {
        const void* found = std::memchr(chunk.data(), '\n', chunk.size());
        if (found == nullptr) {
            Keep(chunk);
            return;
        }
        const auto length = static_cast<std::size_t>(static_cast<const char*>(found) - chunk.data());
        const std::string_view piece = chunk.substr(0, length);
        chunk.remove_prefix(length + 1);
        if (carrySize_ == 0 && !carryOverLong_) {
            // The usual case: the whole line lies inside the chunk, no copy.
            EndLine(piece, false, sink);
            continue;
        }
        Keep(piece);
        EndCarriedLine(sink);
    }
}

void CandumpReader::EndCarriedLine(CandumpSink& sink)
{
    const bool overLong = carryOverLong_;
    const std::size_t size = carrySize_;
    carrySize_ = 0;
    carryOverLong_ = false;
    EndLine(std::string_view(carry_.data(), size), overLong, sink);
}

void CandumpReader::Finish(CandumpSink& sink)
{
    if (carrySize_ > 0 || carryOverLong_)
        EndCarriedLine(sink);
}

void ReadCandumpText(std::string_view text, CandumpSink& sink)
{
    CandumpReader reader;
    reader.Feed(text, sink);
    reader.Finish(sink);
}

} // namespace tervix
