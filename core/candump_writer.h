// Writes frames as candump log lines, "(1436509052.249713) can0 705#05", so
// recordings read back with candump_reader and with the usual CAN tools.
#pragma once

#include "frame_packet.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tervix {

// Appends one line with its newline. `unixMicros` is the wall-clock time in
// microseconds since 1970. Standard identifiers take 3 hex digits, extended
// ones 8; a remote frame is "ID#R", with its length digit when not 0.
void AppendCandumpLine(std::string& out, std::int64_t unixMicros, std::string_view interfaceName,
                       const BusFrame& frame);

} // namespace tervix
