// The SDO dialog's requests as the main window queues them: the transfer, its
// log line and the text of the write request's error message. The dialog
// names a request by the tag of the button that asks for it.
#pragma once

#include "sdo_client.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// The transfer behind a button of the dialog, its completion left to the
// caller; nothing for tags that send nothing. The structure request asks for
// sub-index 0xFF and goes out silently. Reads and writes are logged, their
// initiate as "Tx: SDO( .. )" where its layout is fixed: an upload as
// 40 <index> <sub> 00 00 00 00, a number's write (`value` as SdoWriteBytes
// gives it) as 22 <index> <sub> and its four bytes. A VISIBLE_STRING's write
// says its size, expedited up to four bytes and in segments beyond, and its
// initiate is logged as the sender names it.
std::optional<SdoTransfer> SdoDialogTransfer(int tag, std::uint16_t index, std::uint16_t subIndex,
                                             std::uint8_t dataType, std::vector<std::uint8_t> value = {});

} // namespace tervix
