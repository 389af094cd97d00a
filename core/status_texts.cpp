#include "status_texts.h"

#include "frame_naming.h"
#include "hex_text.h"

#include <array>

namespace tervix {

namespace {

constexpr std::string_view kUnknownStatus = "** ?ERROR? **";

constexpr std::array<std::string_view, 22> kSdoStatus = {
    kUnknownStatus,
    "NOT IMPLEMENTED",
    "NOT READY",
    "BAD COMM PARAMETER",
    "CAL NOT OPEN",
    "BAD CAL ID",
    "BAD CAL VALUE",
    "TIMEOUT",
    "NOT STABLE",
    "BAD FILL PARAM ID",
    "BAD FILL PARAM VALUE",
    "BAD GEN VALUE ID",
    "BAD GEN PARAM VALUE",
    "BAD Trig Param ID",
    "BAD Trig Param Value",
    "BAD Tare Range",
    "BAD Fill Slope",
    "BAD Mass Param ID",
    "BAD Mass Param Value",
    "Bad Value",
    "Bad Index",
    "Value Not In Range",
};

constexpr std::array<std::string_view, 13> kPdoStatus = {
    kUnknownStatus,
    "** NOT_IMPLEMENTED **",
    "** NOT_READY **",
    "** ERR_BAUD **",
    "** CAL_NOT_OPEN **",
    "** BAD_CAL_ID **",
    "** BAD_CAL_VALUE **",
    "** TIMEOUT **",
    "** NOT_STABLE **",
    "** BAD_FILL_PARAM_ID **",
    "** BAD_FILL_PARAM_VALUE **",
    "** BAD_GEN_VALUE_ID **",
    "** BAD_GEN_PARAM_VALUE **",
};

} // namespace

std::string_view SdoStatusText(std::uint8_t code)
{
    switch (code) {
    case 0xE0: return "Duplicate";
    case 0xE1: return "Wait";
    case 0xE2: return "System Error";
    default: return code < kSdoStatus.size() ? kSdoStatus[code] : kUnknownStatus;
    }
}

std::string_view PdoStatusText(std::uint8_t code)
{
    return code < kPdoStatus.size() ? kPdoStatus[code] : kUnknownStatus;
}

std::optional<std::string_view> AbortText(std::uint32_t abortCode)
{
    switch (abortCode) {
    case kAbortWriteOnly: return "Attempt to read a write only object";
    case kAbortReadOnly: return "Attempt to write a read only object";
    case kAbortNoObject: return "Object does not exist in the object dictionary";
    case kAbortNoSubIndex: return "Sub-index does not exist";
    default: return std::nullopt;
    }
}

AbortMessage SdoAbortMessage(ByteView message)
{
    const std::uint32_t standardOrder = DataU32(message, 4);
    const std::uint32_t unitOrder = (standardOrder >> 24) | ((standardOrder >> 8) & 0xFF00) |
                                    ((standardOrder << 8) & 0xFF0000) | (standardOrder << 24);
    if (auto text = AbortText(unitOrder))
        return {std::string(*text), unitOrder};
    if (auto text = AbortText(standardOrder))
        return {std::string(*text), standardOrder};
    AbortMessage m{{}, unitOrder};
    if (message.size() > 1)
        AppendHexDump(m.text, message.subspan(1));
    return m;
}

std::string AbortMessageText(const AbortMessage& m)
{
    std::string s = m.text;
    s.push_back('\r');
    AppendHex8(s, m.code);
    return s;
}

} // namespace tervix
