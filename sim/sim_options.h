// How a simulated weighing node is set up: its bus identity, the units it
// hosts, and the faults it shows on request (for training and tests).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tervix::sim {

// One object answered with a fixed abort code, whatever is asked of it.
struct ForcedAbort {
    std::uint16_t index = 0;
    std::uint8_t subIndex = 0;
    std::uint32_t code = 0;
    friend bool operator==(const ForcedAbort&, const ForcedAbort&) = default;
};

struct SimOptions {
    unsigned node = 1;                        // 1..127
    unsigned bitrateKbit = 500;               // one of the tool's bit rates
    unsigned units = 4;                       // weighing units hosted by the node
    unsigned firstUnit = 0;                   // address of the first unit
    std::uint64_t seed = 1;                   // drives the noise and the dropped frames
    bool abortOrderStandard = false;          // abort code least significant byte first
    double dropShare = 0.0;                   // 0..1 of the frames sent, lost on the way out
    std::chrono::milliseconds answerDelay{0}; // held back before an answer leaves
    std::optional<unsigned> silentUnit;       // this unit's TPDO1 never leaves
    std::optional<ForcedAbort> abortObject;

    friend bool operator==(const SimOptions&, const SimOptions&) = default;
};

// Reads "key=value" pairs separated by commas, for instance
// "node=3,rate=125,units=2". Keys: node, rate, units, first, seed, order
// (unit|standard), drop (share 0..1), delay (ms), silent (unit address),
// abort (IIII.SS or IIII.SS:CCCCCCCC, hex). Unknown keys and values out of
// range are errors; the text tells which.
std::optional<SimOptions> ParseSimOptions(std::string_view text, std::string* error = nullptr);

// The options as ParseSimOptions reads them back.
std::string FormatSimOptions(const SimOptions& options);

} // namespace tervix::sim
