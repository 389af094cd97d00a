#include "sdo_request.h"

#include "frame_naming.h"
#include "hex_text.h"
#include "sdo_texts.h"
#include "sdo_values.h"

#include <algorithm>

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

std::optional<SdoTransfer> SdoDialogTransfer(int tag, std::uint16_t index, std::uint16_t subIndex,
                                             std::uint8_t dataType, std::vector<std::uint8_t> value)
{
    const auto sub = static_cast<std::uint8_t>(subIndex);
    SdoTransfer t;
    switch (tag) {
    case kSdoTagStructure:
        t = SdoUpload(index, kSdoStructureSubIndex);
        t.log = false;
        return t;
    case kSdoTagRead: t = SdoUpload(index, sub); break;
    case kSdoTagWrite:
        t = SdoDownload(index, sub, std::move(value));
        // A number goes out as four bytes without a size, as the unit has
        // always taken it; text says how long it is.
        t.indicateSize = SdoTypedAsText(dataType);
        if (t.indicateSize)
            return t;
        break;
    default: return std::nullopt;
    }
    const auto mux = Multiplexer(index, subIndex);
    std::array<std::uint8_t, 8> initiate{t.upload ? kUploadRequest : kExpeditedDownload, mux[0], mux[1],
                                         mux[2]};
    std::copy_n(t.data.begin(), std::min<std::size_t>(t.data.size(), 4), initiate.begin() + 4);
    std::string& line = t.logLines.emplace_back("Tx: SDO(");
    AppendHexDump(line, initiate);
    line += " )";
    return t;
}

} // namespace tervix
