#include "requests.h"

#include "frame_naming.h"
#include "hex_text.h"
#include "number_text.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace tervix {

namespace {

constexpr std::array<std::uint8_t, 4> kPageIndexHigh = {0x21, 0x25, 0x22, 0x2B};

FramePacket Packet(std::uint8_t prefix, unsigned node, std::initializer_list<std::uint8_t> data)
{
    FramePacket p = EncodePacket(CobIdFrame(prefix, node, std::span(data.begin(), data.size())));
    p.reserve(kMaxPacketSize);
    return p;
}

void AppendValueBytes(FramePacket& p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

FramePacket SdoPacket(unsigned node, std::uint8_t command, std::uint32_t object, std::uint32_t value)
{
    const std::uint16_t index = ObjectIndex(object);
    FramePacket p = Packet(kPrefixSdoRequest, node,
                           {command, static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8),
                            ObjectSubIndex(object)});
    p[1] = 8;
    AppendValueBytes(p, value);
    return p;
}

std::string SdoLogHead(std::uint32_t object)
{
    std::string s = "Tx: SDO(";
    AppendHex4(s, ObjectIndex(object));
    s += "sub";
    AppendHex2(s, ObjectSubIndex(object));
    return s;
}

} // namespace

std::optional<long long> ParseDecimal(std::string_view text)
{
    // Blanks around the number are tolerated, as in a typed box.
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    long long v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size())
        return std::nullopt;
    return v;
}

bool CarriesUnit(std::uint32_t object)
{
    const std::uint8_t high = static_cast<std::uint8_t>(object >> 24);
    return high >= 0x21 && high != 0x3F;
}

std::uint32_t SubstituteUnit(std::uint32_t object, std::optional<long long> unitAddress)
{
    if (!CarriesUnit(object) || !unitAddress)
        return object;
    return (object & 0xFF00FFFFu) | (std::uint32_t(static_cast<std::uint8_t>(*unitAddress)) << 16);
}

Request NmtRequest(std::uint8_t command, std::optional<long long> node)
{
    Request r;
    const std::uint8_t data[] = {command, static_cast<std::uint8_t>(node.value_or(0))};
    r.packet = EncodePacket(MakeFrame(0x000, std::span(data, node ? 2 : 1)));
    r.logLine = command == kNmtStart ? "NMT Start" : "NMT Stop";
    return r;
}

Request RpdoRequest(int n, unsigned node, std::uint8_t unitAddress, std::uint32_t value)
{
    static constexpr std::array<std::uint8_t, 4> prefixes = {kPrefixRpdo1, kPrefixRpdo2, kPrefixRpdo3,
                                                             kPrefixRpdo4};
    n = std::clamp(n, 1, 4);
    const auto command = static_cast<std::uint8_t>(value >> 16);
    Request r;
    if (n < 4) {
        r.packet = Packet(prefixes[static_cast<std::size_t>(n - 1)], node, {unitAddress, command, 0x00, 0x00});
    } else if (command == 1) {
        r.packet = Packet(kPrefixRpdo4, node, {0x80, 0x00, 0x00, 0x00});
    } else if (command == 2) {
        r.packet = Packet(kPrefixRpdo4, node, {0x81, 0x33, 0x01, 0x30});
    } else {
        r.packet = Packet(kPrefixRpdo4, node, {0x00, 0x00, 0x00, 0x00});
    }
    r.logLine = "Tx: RPDO";
    AppendDecimal(r.logLine, n);
    r.logLine += "(";
    AppendHexDump(r.logLine, ByteView(r.packet).subspan(4));
    r.logLine += " )";
    return r;
}

Request SdoWriteRequest(unsigned node, std::uint32_t object, std::int32_t value)
{
    Request r;
    r.packet = SdoPacket(node, 0x22, object, static_cast<std::uint32_t>(value));
    r.logLine = SdoLogHead(object);
    r.logLine += ",";
    AppendDecimal(r.logLine, value);
    r.logLine += ")";
    return r;
}

Request SdoWriteUnitAddressRequest(unsigned node, std::uint32_t object, std::int32_t unitAddress)
{
    Request r = SdoWriteRequest(node, object, unitAddress);
    AppendHexDump(r.secondLine, r.packet);
    return r;
}

Request SdoReadRequest(unsigned node, std::uint32_t object)
{
    Request r;
    r.packet = SdoPacket(node, 0x40, object, 0);
    r.logLine = SdoLogHead(object) + ")";
    return r;
}

Request RawFrameRequest(ByteView text, std::uint8_t unitAddress)
{
    Request r;
    // The text's bytes 1 and 2 are the identifier as the packet carries it.
    const std::uint8_t idBytes[] = {0x7E, 0x00, text.size() > 1 ? text[1] : std::uint8_t(0),
                                    text.size() > 2 ? text[2] : std::uint8_t(0)};
    BusFrame frame;
    frame.id = PacketIdentifier(idBytes);
    // The unit address is the first data byte whether or not the text had one.
    frame.data[0] = unitAddress;
    frame.length = 1;
    for (std::size_t i = 4; i < text.size() && frame.length < 8; ++i)
        frame.data[frame.length++] = text[i];
    r.packet = EncodePacket(frame);
    // The packet's own length, identifier and data bytes: the text's length
    // byte and data are only a template of what goes out.
    r.logLine = "Tx:(";
    AppendHexDump(r.logLine, ByteView(r.packet).subspan(1));
    r.logLine += " )";
    return r;
}

std::string SentFrameLine(const BusFrame& frame)
{
    std::string line = "Tx: ";
    std::array<std::uint8_t, kMaxPacketSize> packet{};
    const std::size_t n = EncodePacket(frame, packet.data());
    AppendLogLine(line, ByteView(packet.data(), n), ClassifyMessage(ByteView(packet.data(), n)));
    return line;
}

FramePacket GuardFrameText(unsigned node)
{
    const auto id = CobIdBytes(kPrefixNodeGuard, node);
    return {0x08, id[0], id[1]};
}

std::uint32_t ReadAllObject(int page, std::uint8_t unitAddress, std::uint32_t sub)
{
    const std::uint8_t high = kPageIndexHigh[static_cast<std::size_t>(std::clamp(page, 0, 3))];
    return (std::uint32_t(high) << 24) | (std::uint32_t(unitAddress) << 16) | (sub & 0xFF);
}

int PageOfIndexHigh(std::uint8_t indexHigh)
{
    const auto it = std::find(kPageIndexHigh.begin(), kPageIndexHigh.end(), indexHigh);
    return it == kPageIndexHigh.end() ? -1 : static_cast<int>(it - kPageIndexHigh.begin());
}

} // namespace tervix
