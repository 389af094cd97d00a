#include "status_texts.h"

#include "frame_naming.h"
#include "hex_text.h"

#include <algorithm>
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

struct AbortEntry {
    std::uint32_t code;
    std::string_view text;
};

// CiA 301's table, ordered by code.
constexpr std::array<AbortEntry, 31> kCanopenAborts = {{
    {0x05030000, "Toggle bit not alternated"},
    {0x05040000, "SDO protocol timed out"},
    {0x05040001, "Client/server command specifier not valid or unknown"},
    {0x05040002, "Invalid block size"},
    {0x05040003, "Invalid sequence number"},
    {0x05040004, "CRC error"},
    {0x05040005, "Out of memory"},
    {0x06010000, "Unsupported access to an object"},
    {0x06010001, "Attempt to read a write only object"},
    {0x06010002, "Attempt to write a read only object"},
    {0x06020000, "Object does not exist in the object dictionary"},
    {0x06040041, "Object cannot be mapped to the PDO"},
    {0x06040042, "The number and length of the objects to be mapped would exceed PDO length"},
    {0x06040043, "General parameter incompatibility reason"},
    {0x06040047, "General internal incompatibility in the device"},
    {0x06060000, "Access failed due to a hardware error"},
    {0x06070010, "Data type does not match, length of service parameter does not match"},
    {0x06070012, "Data type does not match, length of service parameter too high"},
    {0x06070013, "Data type does not match, length of service parameter too low"},
    {0x06090011, "Sub-index does not exist"},
    {0x06090030, "Invalid value for parameter"},
    {0x06090031, "Value of parameter written too high"},
    {0x06090032, "Value of parameter written too low"},
    {0x06090036, "Maximum value is less than minimum value"},
    {0x060A0023, "Resource not available: SDO connection"},
    {0x08000000, "General error"},
    {0x08000020, "Data cannot be transferred or stored to the application"},
    {0x08000021, "Data cannot be transferred or stored to the application because of local control"},
    {0x08000022,
     "Data cannot be transferred or stored to the application because of the present device state"},
    {0x08000023, "Object dictionary dynamic generation fails or no object dictionary is present"},
    {0x08000024, "No data available"},
}};

// Where the code's bits of data byte 4 + i lie.
unsigned AbortShift(std::size_t i, AbortOrder order)
{
    return static_cast<unsigned>(order == AbortOrder::Unit ? 24 - 8 * i : 8 * i);
}

} // namespace

std::uint32_t ReadAbortCode(std::span<const std::uint8_t, 4> bytes, AbortOrder order)
{
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < 4; ++i)
        code |= std::uint32_t(bytes[i]) << AbortShift(i, order);
    return code;
}

std::array<std::uint8_t, 4> AbortCodeBytes(std::uint32_t code, AbortOrder order)
{
    std::array<std::uint8_t, 4> bytes{};
    for (std::size_t i = 0; i < 4; ++i)
        bytes[i] = static_cast<std::uint8_t>(code >> AbortShift(i, order));
    return bytes;
}

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

std::optional<std::string_view> CanopenAbortText(std::uint32_t abortCode)
{
    if (auto own = AbortText(abortCode))
        return own;
    const auto* it = std::lower_bound(kCanopenAborts.begin(), kCanopenAborts.end(), abortCode,
                                      [](const AbortEntry& e, std::uint32_t code) { return e.code < code; });
    if (it == kCanopenAborts.end() || it->code != abortCode)
        return std::nullopt;
    return it->text;
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
