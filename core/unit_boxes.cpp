#include "unit_boxes.h"

#include "hex_text.h"
#include "number_text.h"

namespace tervix {

void AssignBoxValueText(std::string& out, ByteView message, char decimalSeparator)
{
    out.clear();
    if (!AppendFixedText(out, DataFloat(message, 0), 6, 3, decimalSeparator))
        AppendHex8(out, DataU32(message, 0));
}

void AssignBoxStatusText(std::string& out, ByteView message)
{
    out.clear();
    AppendHex2(out, DataByte(message, 5));
    AppendHex2(out, DataByte(message, 4));
    out.push_back(' ');
    AppendHex2(out, DataByte(message, 7));
}

void UnitBoxBank::Update(int box, ByteView message, char decimalSeparator)
{
    if (box < 0 || box >= kUnitBoxCount)
        return;
    UnitBoxValue& b = boxes_[static_cast<std::size_t>(box)];
    b.holdCount = kHoldFrames;
    AssignBoxValueText(b.value, message, decimalSeparator);
    AssignBoxStatusText(b.status, message);
    b.dirty = true;
}

void UnitBoxBank::Age()
{
    for (int n = 0; n < kAgedBoxCount; ++n) {
        UnitBoxValue& b = boxes_[static_cast<std::size_t>(n)];
        if (b.holdCount == 0)
            continue;
        if (--b.holdCount == 0) {
            b.value.clear();
            b.dirty = true;
        }
    }
}

void UnitBoxBank::HeardTpdo1(int box, TimePoint now)
{
    if (box < 0 || box >= kUnitBoxCount)
        return;
    lastTpdo1_[static_cast<std::size_t>(box)] = now;
    hadTpdo1_[static_cast<std::size_t>(box)] = true;
}

void UnitBoxBank::HeardTpdo2(int box, TimePoint now)
{
    if (box < 0 || box >= kUnitBoxCount)
        return;
    std::optional<TimePoint>& last = lastTpdo1_[static_cast<std::size_t>(box)];
    if (!last)
        last = now;
}

std::optional<std::chrono::steady_clock::duration> UnitBoxBank::SinceTpdo1(int box, TimePoint now) const
{
    if (box < 0 || box >= kUnitBoxCount || !lastTpdo1_[static_cast<std::size_t>(box)])
        return std::nullopt;
    return now - *lastTpdo1_[static_cast<std::size_t>(box)];
}

bool UnitBoxBank::Stale(int box, TimePoint now) const
{
    const auto since = SinceTpdo1(box, now);
    return since && *since > kStaleAfter;
}

} // namespace tervix
