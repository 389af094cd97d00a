// The SDO dialog's requests as the main window sends them: the frame, its log
// line and the text of the write request's error message. The dialog names
// a request by the tag of the button that asks for it.
#pragma once

#include "requests.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tervix {

enum SdoRequestTag : int {
    kSdoTagStructure = 0, // the hidden "Info" button, sent when a node is shown
    kSdoTagRead = 1,
    kSdoTagWrite = 2,
    kSdoTagClose = 3,
};

// caption + " " + index (4 hex) + "sub" + sub-index (2 hex), then CR
// "Object= " + the object code's name, then CR "Type=   " + the data type's.
std::string SdoReportText(std::string_view caption, std::uint16_t index, std::uint16_t subIndex,
                          std::uint8_t objectType, std::uint8_t dataType);

// The value box of a write: hexadecimal digits only (either case; no blank,
// sign or prefix), at most eight of them significant.
std::optional<std::uint32_t> ParseSdoValue(std::string_view text);

// The frame of a request to the node with the identifier bytes `cobId`
// (CobIdBytes with the SDO request prefix) and its log line "Tx: SDO( .. )".
// `value` is sent by the write only. Nothing for tags that send nothing.
std::optional<Request> SdoDialogRequest(int tag, std::array<std::uint8_t, 2> cobId, std::uint16_t index,
                                        std::uint16_t subIndex, std::uint32_t value = 0);

} // namespace tervix
