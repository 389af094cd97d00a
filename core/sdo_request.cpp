#include "sdo_request.h"

#include "frame_naming.h"
#include "hex_text.h"
#include "sdo_texts.h"

namespace tervix {

namespace {

constexpr std::uint8_t kUploadRequest = 0x40;
constexpr std::uint8_t kExpeditedDownload = 0x22;

} // namespace

std::string SdoReportText(std::string_view caption, std::uint16_t index, std::uint16_t subIndex,
                          std::uint8_t objectType, std::uint8_t dataType)
{
    std::string s(caption);
    s += ' ';
    AppendHex4(s, index);
    s += "sub";
    AppendHex2(s, static_cast<std::uint8_t>(subIndex));
    s += "\rObject= ";
    s += ObjectTypeName(objectType);
    s += "\rType=   ";
    s += DataTypeName(dataType);
    return s;
}

std::optional<std::uint32_t> ParseSdoValue(std::string_view text)
{
    // The box's text behind a "$" must read as one hexadecimal number; the
    // key reader's "$" rule is exactly that.
    std::string prefixed = "$";
    prefixed += text;
    return ParseKeyInteger(prefixed);
}

std::optional<Request> SdoDialogRequest(int tag, std::array<std::uint8_t, 2> cobId, std::uint16_t index,
                                        std::uint16_t subIndex, std::uint32_t value)
{
    if (tag != kSdoTagStructure && tag != kSdoTagRead && tag != kSdoTagWrite)
        return std::nullopt;
    const auto mux = Multiplexer(index, subIndex);
    Request r;
    r.packet = {kPacketMarker, 0x08, cobId[0], cobId[1], kUploadRequest, mux[0], mux[1], mux[2], 0, 0, 0, 0};
    if (tag == kSdoTagStructure) {
        r.packet[7] = kSdoStructureSubIndex;
    } else if (tag == kSdoTagWrite) {
        r.packet[4] = kExpeditedDownload;
        for (std::size_t i = 0; i < 4; ++i)
            r.packet[8 + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    r.logLine = "Tx: SDO(";
    AppendHexDump(r.logLine, ByteView(r.packet).subspan(kPacketHeaderSize));
    r.logLine += " )";
    return r;
}

} // namespace tervix
