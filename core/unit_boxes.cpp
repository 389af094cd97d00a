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

} // namespace tervix
