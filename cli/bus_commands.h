// The commands of tervix-cli that talk to a bus: QtCore and Qt SerialBus /
// SerialPort through the adapters' drivers, no display. They live apart from
// the file commands (decode, conf, eds), which build without any Qt.
#pragma once

#include "commands.h"

namespace tervix::cli {

// Exit statuses of the bus commands, beside those of cli.h.
enum BusExitStatus : int {
    kExitAdapter = 4, // the adapter cannot be opened, or a frame did not go out
    kExitAbort = 5,   // the node aborted the SDO transfer
    kExitTimeout = 6, // no answer in time
};

// Adapter options (--can, --serial, --rate, --sdo-timeout) and a bus
// command after them; kNotABusCommand when the words name none.
constexpr int kNotABusCommand = -1;
int RunBus(CommandArgs args, const CliStreams& io);

// The bus commands' lines for the main help.
extern const std::string_view kBusHelp;

} // namespace tervix::cli
