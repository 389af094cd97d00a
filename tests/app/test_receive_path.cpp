// A long mixed burst through the whole receive path: USB channel, transport,
// frame handler, decoder state, widgets. Every frame counted once, the log
// holding exactly the logged frames' lines, every box showing what it was
// last sent.
#include "log_view.h"
#include "monitor.h"
#include "unit_box.h"
#include "window_on_fake_driver.h"

#include "MyComm.h"
#include "bit_rates.h"
#include "frame_naming.h"
#include "unit_boxes.h"
#include "usb2can.h"

#include <QLineEdit>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>

using namespace tervix;

namespace {

BusFrame WeightFrame(int unit, std::uint32_t valueBits, std::uint8_t s4 = 0, std::uint8_t s5 = 0,
                     std::uint8_t s7 = 0)
{
    const auto u = static_cast<std::uint8_t>(unit);
    return Frame(0x181 + (u & 0x3F),
                 {std::uint8_t(valueBits), std::uint8_t(valueBits >> 8), std::uint8_t(valueBits >> 16),
                  std::uint8_t(valueBits >> 24), s4, s5, u, s7});
}

BusFrame WeightFrame(int unit, float value, std::uint8_t s4 = 0, std::uint8_t s5 = 0, std::uint8_t s7 = 0)
{
    return WeightFrame(unit, std::bit_cast<std::uint32_t>(value), s4, s5, s7);
}

// The frames of a burst and what the window must show after it.
class Burst {
public:
    void Add(const BusFrame& f)
    {
        frames.push_back(f);
        const std::uint32_t code = f.id >> 7;
        ++counts[code];
        const FramePacket packet = MakePacket(f.id, std::span(f.data.data(), f.length));
        if (code == kTpdo1) {
            const int unit = f.data[6];
            if (unit < kUnitBoxCount) {
                AssignBoxValueText(values[std::size_t(unit)], packet, '.');
                AssignBoxStatusText(status[std::size_t(unit)], packet);
                lastWeight[std::size_t(unit)] = weightFrames;
            } else {
                logLines.push_back("TPD01(" + std::to_string(unit) + ")");
            }
            ++weightFrames;
        } else if (code != kTsdo) {
            logLines.push_back(LogLine(packet));
        }
    }

    // Boxes 0..31 clear once 24 further weight frames arrived after their own.
    std::string ShownValue(int unit) const
    {
        const auto u = std::size_t(unit);
        if (unit < kAgedBoxCount && lastWeight[u] >= 0 && weightFrames - 1 - lastWeight[u] >= 24)
            return {};
        return values[u];
    }

    std::vector<BusFrame> frames;
    std::array<std::uint32_t, kFunctionCodeCount> counts{};
    std::vector<std::string> logLines;
    std::array<std::string, kUnitBoxCount> values{};
    std::array<std::string, kUnitBoxCount> status{};
    std::array<long, kUnitBoxCount> lastWeight = MinusOnes();
    long weightFrames = 0;

private:
    static std::array<long, kUnitBoxCount> MinusOnes()
    {
        std::array<long, kUnitBoxCount> a{};
        a.fill(-1);
        return a;
    }
};

// Weight frames for 64 boxes and for unit numbers that have no box,
// heartbeats and emergencies for the log, upload answers that store nothing.
Burst RandomBurst(std::size_t count)
{
    std::mt19937 rng(20240611);
    Burst burst;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned pick = rng() % 100;
        const auto byte = [&] { return static_cast<std::uint8_t>(rng()); };
        if (pick < 43) {
            const int unit = pick < 35 ? int(rng() % 32) : 32 + int(rng() % 32);
            const float value = static_cast<float>(int(rng() % 2000001) - 1000000) / 64.0f;
            burst.Add(WeightFrame(unit, value, byte(), byte(), byte()));
        } else if (pick < 44) {
            burst.Add(WeightFrame(64 + int(rng() % 192), float(i)));
        } else if (pick < 48) {
            burst.Add(Frame(
                0x581, {0x43, 0x05, 0x21, std::uint8_t(1 + rng() % 12), byte(), byte(), byte(), byte()}));
        } else if (pick < 74) {
            burst.Add(Frame(0x701 + rng() % 127, {std::uint8_t(rng() % 2 ? 0x05 : 0x7F)}));
        } else {
            burst.Add(
                Frame(0x081 + rng() % 127, {byte(), byte(), byte(), byte(), byte(), byte(), byte(), byte()}));
        }
    }
    return burst;
}

class ReceivePathTest : public WindowOnFakeDriver {
protected:
    ReceivePathTest()
    {
        usb->SetBitrate(kSearchFirstBitRateCode); // opens the channel
        clock.Advance(TUSB2CAN::kSettleWait);     // once the driver has settled
    }

    // Feeds the frames in batches of uneven size, one poll tick each.
    void Feed(const std::vector<BusFrame>& frames)
    {
        std::mt19937 rng(5);
        std::size_t fed = 0;
        const std::uint64_t countedBefore = Counted();
        while (fed < frames.size()) {
            const std::size_t n = std::min<std::size_t>(500 + rng() % 4500, frames.size() - fed);
            for (std::size_t k = 0; k < n; ++k)
                driver->QueueFrame(frames[fed + k]);
            fed += n;
            form->Comm()->Timer().tick();
            ASSERT_TRUE(driver->reads.empty()) << "a tick left frames in the driver";
            ASSERT_EQ(Counted() - countedBefore, fed) << "after a batch ending at frame " << fed;
        }
    }

    std::uint64_t Counted() const
    {
        std::uint64_t n = 0;
        for (int code = 0; code < kFunctionCodeCount; ++code)
            n += form->Decoder().Count(code);
        return n;
    }

    // Every box against the burst; how many of boxes 0..31 show a value and
    // how many aged out.
    std::pair<int, int> ExpectBoxes(const Burst& burst)
    {
        form->RefreshNow();
        int shown = 0, cleared = 0;
        for (int n = 0; n < kUnitBoxCount; ++n) {
            const TUnitBox& box = *form->UnitBox(n);
            const std::string value = burst.ShownValue(n);
            EXPECT_EQ(box.ValueEdit()->text().toStdString(), value) << "box " << n;
            EXPECT_EQ(box.StatusEdit()->text().toStdString(), burst.status[std::size_t(n)]) << "box " << n;
            if (n < kAgedBoxCount)
                (value.empty() ? cleared : shown) += 1;
        }
        return {shown, cleared};
    }
};

TEST_F(ReceivePathTest, LongMixedBurstIsCountedLoggedAndShownExactly)
{
    Burst burst = RandomBurst(210000);
    ASSERT_GT(burst.logLines.size(), LogView::kDefaultCapacity) << "the burst should wrap the log";
    Feed(burst.frames);
    const auto [shown, cleared] = ExpectBoxes(burst);
    EXPECT_GT(shown, 2) << "the burst should leave some aged boxes showing";
    EXPECT_GT(cleared, 2) << "and have others cleared";

    // A hand-written tail: box 9 sees 24 further weight frames and clears,
    // box 10 sees 23 and keeps its value.
    const std::size_t tailStart = burst.frames.size();
    burst.Add(WeightFrame(9, 3.5f));
    burst.Add(WeightFrame(10, 2.25f));
    for (int i = 0; i < 20; ++i)
        burst.Add(WeightFrame(40, float(i)));
    burst.Add(WeightFrame(70, 1.0f));
    burst.Add(WeightFrame(5, 0x7FC00000u)); // NaN: shown as its bits
    burst.Add(Frame(0x083, {0x10, 0x81, 0x11, 0, 0, 0, 0, 0}));
    burst.Add(Frame(0x581, {0x43, 0x05, 0x21, 0x03, 1, 2, 3, 4}));
    burst.Add(WeightFrame(40, 1234.5678f, 0x34, 0x12, 0x56));
    Feed(std::vector<BusFrame>(burst.frames.begin() + long(tailStart), burst.frames.end()));

    for (int code = 0; code < kFunctionCodeCount; ++code)
        EXPECT_EQ(form->Decoder().Count(code), burst.counts[std::size_t(code)]) << "function code " << code;
    EXPECT_TRUE(sink.messages.empty());

    // The newest lines, in order.
    const LogView& memo = *form->Log();
    ASSERT_EQ(memo.LineCount(), LogView::kDefaultCapacity);
    const std::size_t skipped = burst.logLines.size() - memo.LineCount();
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < memo.LineCount(); ++i)
        if (memo.Line(i) != burst.logLines[skipped + i] && ++wrong <= 3)
            ADD_FAILURE() << "log line " << i << ": " << memo.Line(i)
                          << " != " << burst.logLines[skipped + i];
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(memo.Line(memo.LineCount() - 2), "TPD01(70)");
    EXPECT_EQ(memo.Line(memo.LineCount() - 1), "SFF: EMERGENCY addr=03 Data= 10 81 11 00 00 00 00 00 ");

    ExpectBoxes(burst);
    EXPECT_EQ(form->UnitBox(9)->ValueEdit()->text(), "");
    EXPECT_EQ(form->UnitBox(10)->ValueEdit()->text(), "2.250");
    EXPECT_EQ(form->UnitBox(5)->ValueEdit()->text(), "7FC00000");
    EXPECT_EQ(form->UnitBox(40)->ValueEdit()->text(), "1234.570");
    EXPECT_EQ(form->UnitBox(40)->StatusEdit()->text(), "1234 56");
}

} // namespace
