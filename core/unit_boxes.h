// Plain state of the 64 value boxes: what each shows and how long it holds.
#pragma once

#include "clock.h"
#include "frame_packet.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tervix {

constexpr int kUnitBoxCount = 64;
constexpr int kAgedBoxCount = 32;       // boxes 32..63 keep their last value
constexpr std::uint32_t kHoldFrames = 25;
// A unit silent in TPDO1 for longer than this is shown stale.
constexpr std::chrono::milliseconds kStaleAfter{1000};

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

    // When units were last heard. A unit heard in TPDO2 but never in TPDO1
    // counts from its first TPDO2: it is there, and its process data is not.
    void HeardTpdo1(int box, TimePoint now);
    void HeardTpdo2(int box, TimePoint now);
    // Time since the unit's last TPDO1 (or first TPDO2); none: never heard.
    std::optional<std::chrono::steady_clock::duration> SinceTpdo1(int box, TimePoint now) const;
    bool HadTpdo1(int box) const
    {
        return box >= 0 && box < kUnitBoxCount && hadTpdo1_[static_cast<std::size_t>(box)];
    }
    bool Stale(int box, TimePoint now) const;

private:
    std::array<UnitBoxValue, kUnitBoxCount> boxes_{};
    std::array<std::optional<TimePoint>, kUnitBoxCount> lastTpdo1_{};
    std::array<bool, kUnitBoxCount> hadTpdo1_{};
};

} // namespace tervix
