#include "unit_boxes.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>
#include <vector>

using namespace tervix;

namespace {

std::vector<std::uint8_t> Tpdo1(float value, std::uint8_t box, std::uint8_t s4 = 0, std::uint8_t s5 = 0,
                                std::uint8_t s7 = 0)
{
    const auto bits = std::bit_cast<std::uint32_t>(value);
    return {0x7E, 0x08, 0x30, 0x20, std::uint8_t(bits), std::uint8_t(bits >> 8), std::uint8_t(bits >> 16),
            std::uint8_t(bits >> 24), s4, s5, box, s7};
}

TEST(UnitBoxText, FloatValueAndStatusWord)
{
    std::string value, status;
    const auto m = Tpdo1(12.5f, 3, 0x34, 0x12, 0xAB);
    AssignBoxValueText(value, m, '.');
    AssignBoxStatusText(status, m);
    EXPECT_EQ(value, "12.500");
    EXPECT_EQ(status, "1234 AB");
}

TEST(UnitBoxText, NanShowsTheRawWordInHex)
{
    std::string value;
    auto m = Tpdo1(0.0f, 3);
    m[4] = 0x01;
    m[5] = 0x00;
    m[6] = 0xC0;
    m[7] = 0x7F;  // a NaN pattern
    AssignBoxValueText(value, m, '.');
    EXPECT_EQ(value, "7FC00001");
    m[6] = 0x80;  // +infinity
    m[4] = 0x00;
    AssignBoxValueText(value, m, '.');
    EXPECT_EQ(value, "7F800000");
}

TEST(UnitBoxBank, LowBoxClearsAfter24FurtherFrames)
{
    UnitBoxBank bank;
    const auto m = Tpdo1(1.0f, 3);
    bank.Update(3, m, '.');
    bank.Age();  // the frame that set it ages it too
    for (int i = 0; i < 23; ++i) {
        bank.Age();
        ASSERT_EQ(bank.Box(3).value, "1.000") << "after " << i + 1 << " further frames";
    }
    bank.Age();
    EXPECT_EQ(bank.Box(3).value, "");
    EXPECT_EQ(bank.Box(3).holdCount, 0u);
    EXPECT_EQ(bank.Box(3).status, "0000 00");  // the status is never cleared
}

TEST(UnitBoxBank, HighBoxesNeverAge)
{
    UnitBoxBank bank;
    bank.Update(40, Tpdo1(2.0f, 40), '.');
    bank.Update(31, Tpdo1(3.0f, 31), '.');
    for (int i = 0; i < 100; ++i)
        bank.Age();
    EXPECT_EQ(bank.Box(40).value, "2.000");
    EXPECT_EQ(bank.Box(40).holdCount, kHoldFrames);
    EXPECT_EQ(bank.Box(31).value, "");
}

TEST(UnitBoxBank, RefreshRestartsTheHold)
{
    UnitBoxBank bank;
    bank.Update(0, Tpdo1(1.0f, 0), '.');
    for (int i = 0; i < 20; ++i)
        bank.Age();
    bank.Update(0, Tpdo1(5.0f, 0), '.');
    for (int i = 0; i < 24; ++i)
        bank.Age();
    EXPECT_EQ(bank.Box(0).value, "5.000");
    bank.Age();
    EXPECT_EQ(bank.Box(0).value, "");
}

TEST(UnitBoxBank, OutOfRangeBoxIsIgnored)
{
    UnitBoxBank bank;
    bank.Update(64, Tpdo1(1.0f, 64), '.');
    bank.Update(-1, Tpdo1(1.0f, 0), '.');
    for (int n = 0; n < kUnitBoxCount; ++n)
        EXPECT_FALSE(bank.Box(n).dirty);
}

} // namespace
