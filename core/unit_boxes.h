// Plain state of the 64 value boxes: what each shows and how long it holds.
#pragma once

#include "frame_packet.h"

#include <array>
#include <cstdint>
#include <string>

namespace tervix {

constexpr int kUnitBoxCount = 64;
constexpr int kAgedBoxCount = 32;       // boxes 32..63 keep their last value
constexpr std::uint32_t kHoldFrames = 25;

struct UnitBoxValue {
    std::string value;
    std::string status;
    std::uint32_t holdCount = 0;
    bool dirty = false;  // changed since the widgets last showed it
};

// The value text of a TPDO1: data bytes 0..3 as a float (fixed, 6 digits,
// 3 decimals), or as 8 hex digits when the float has no text.
void AssignBoxValueText(std::string& out, ByteView message, char decimalSeparator);
// Data bytes 5 and 4, a blank, data byte 7, each as two hex digits.
void AssignBoxStatusText(std::string& out, ByteView message);

class UnitBoxBank {
public:
    // Box update from a TPDO1 whose data byte 6 is box (< 64).
    void Update(int box, ByteView message, char decimalSeparator);
    // Box aging after every TPDO1: boxes 0..31 count down and clear at 0.
    void Age();

    const UnitBoxValue& Box(int n) const { return boxes_[static_cast<std::size_t>(n)]; }
    void ClearDirty(int n) { boxes_[static_cast<std::size_t>(n)].dirty = false; }

private:
    std::array<UnitBoxValue, kUnitBoxCount> boxes_{};
};

} // namespace tervix
