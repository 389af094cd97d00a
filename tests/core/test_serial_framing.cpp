// The serial adapter's byte stream cut into packets and text lines, fed one
// byte at a time as the poll does.
#include "receive_ring.h"
#include "serial_framing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace tervix;
using Bytes = std::vector<std::uint8_t>;

Bytes Text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct Framer {
    ReceiveRing ring;
    SerialFraming framing;
    std::vector<Bytes> out;

    Framer()
    {
        ring.SetHandler([this](int slot) {
            auto v = ring.Slot(slot).View();
            out.emplace_back(v.begin(), v.end());
        });
    }
    void Feed(const Bytes& bytes)
    {
        for (std::uint8_t b : bytes)
            framing.Feed(b, ring);
    }
};

struct FramingCase {
    const char* name;
    Bytes input;
    std::vector<Bytes> delivered;
};

// Test names and failure messages show the case name, not its bytes.
void PrintTo(const FramingCase& c, std::ostream* os)
{
    *os << c.name;
}


class Framing : public ::testing::TestWithParam<FramingCase> {};

TEST_P(Framing, ByteByByte)
{
    Framer f;
    f.Feed(GetParam().input);
    EXPECT_EQ(f.out, GetParam().delivered);
}

TEST_P(Framing, SplitAtEveryPoint)
{
    // However the bytes are spread over polls, the result is the same.
    const Bytes& in = GetParam().input;
    for (std::size_t cut = 0; cut <= in.size(); ++cut) {
        Framer f;
        f.framing.Feed(ByteView(in.data(), cut), f.ring);
        f.framing.Feed(ByteView(in.data() + cut, in.size() - cut), f.ring);
        EXPECT_EQ(f.out, GetParam().delivered) << "cut at " << cut;
    }
}

const std::string k300(300, 'x');

INSTANTIATE_TEST_SUITE_P(
    Streams, Framing,
    ::testing::Values(
        FramingCase{"Frame", {0x7E, 0x02, 0xE0, 0x20, 0x05, 0x00}, {{0x7E, 0x02, 0xE0, 0x20, 0x05, 0x00}}},
        FramingCase{"EmptyFrame", {0x7E, 0x00, 0x00, 0x20}, {{0x7E, 0x00, 0x00, 0x20}}},
        FramingCase{"TextLine", Text("OK\r"), {Text("OK\r")}},
        FramingCase{"LongTextKeepsFirst256", Text(k300 + "\r"), {Text(std::string(256, 'x'))}},
        FramingCase{"TextEndedByMarker",
                    Cat({Text("AB"), {0x7E, 0x01, 0x00, 0x20, 0x09}}),
                    {Text("AB"), {0x7E, 0x01, 0x00, 0x20, 0x09}}},
        // A marker or carriage return inside a frame is data.
        FramingCase{"MarkerAndReturnAsData",
                    {0x7E, 0x02, 0x00, 0x20, 0x7E, 0x0D},
                    {{0x7E, 0x02, 0x00, 0x20, 0x7E, 0x0D}}},
        // Flag bits do not count towards the length.
        FramingCase{"FlagBitsIgnored", {0x7E, 0xC1, 0x00, 0x20, 0x42}, {{0x7E, 0xC1, 0x00, 0x20, 0x42}}},
        // Fifteen data bytes still fit the slot.
        FramingCase{"LongestLengthNibble",
                    Cat({{0x7E, 0x0F, 0x00, 0x20}, Bytes(15, 0xAB)}),
                    {Cat({{0x7E, 0x0F, 0x00, 0x20}, Bytes(15, 0xAB)})}},
        FramingCase{"IncompleteFrameWaits", {0x7E, 0x08, 0x00, 0x20, 1, 2, 3}, {}},
        FramingCase{"BackToBack",
                    {0x7E, 0x00, 0x00, 0x20, 0x7E, 0x01, 0x00, 0x40, 0x33, 'H', 'i', 0x0D},
                    {{0x7E, 0x00, 0x00, 0x20}, {0x7E, 0x01, 0x00, 0x40, 0x33}, Text("Hi\r")}},
        FramingCase{"BareReturnIsEmptyLine", {0x0D}, {Text("\r")}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FramingRing, HandlerThatThrowsCostsNoBytesOfWhatFollows)
{
    // The decoder may throw on any message; the stream must stay in step.
    Framer f;
    f.ring.SetHandler([&](int slot) {
        auto v = f.ring.Slot(slot).View();
        f.out.emplace_back(v.begin(), v.end());
        throw std::runtime_error("handler failed");
    });
    const Bytes stream =
        Cat({{0x7E, 0x00, 0x00, 0x20}, Text("AB"), {0x7E, 0x01, 0x00, 0x40, 0x33}, Text("C\r")});
    for (std::uint8_t b : stream) {
        try {
            f.framing.Feed(b, f.ring);
        } catch (const std::runtime_error&) {
        }
    }
    EXPECT_EQ(f.out, (std::vector<Bytes>{
                         {0x7E, 0x00, 0x00, 0x20}, Text("AB"), {0x7E, 0x01, 0x00, 0x40, 0x33}, Text("C\r")}));
    EXPECT_EQ(f.framing.State(), RxState::Idle);
}

} // namespace
