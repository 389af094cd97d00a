// Segmented transfers with the simulated node: its frames held to CiA 301's
// layouts written out here, then the tool's SDO client against it.
#include "sdo_client.h"
#include "sdo_frames.h"
#include "sim_bench.h"

#include <gtest/gtest.h>

using namespace tervix;
using namespace tervix::sim;
using namespace std::chrono_literals;

namespace {

// --- The node's frames ----------------------------------------------------------------

struct NodeCase {
    const char* name;
    std::vector<std::pair<SdoBytes, SdoBytes>> script; // request on 0x601, answer on 0x581 (none: empty)
};

void PrintTo(const NodeCase& c, std::ostream* os)
{
    *os << c.name;
}

class NodeSegments : public ::testing::TestWithParam<NodeCase> {};

TEST_P(NodeSegments, AnswerAsCanopenSays)
{
    SimBench b;
    for (const auto& [request, answer] : GetParam().script) {
        std::vector<SdoBytes> answers;
        for (const FramePacket& p : b.Send(MakeFrame(0x601, request))) {
            EXPECT_EQ(PacketIdentifier(p), 0x581u);
            answers.emplace_back(p.begin() + kPacketHeaderSize, p.end());
        }
        EXPECT_EQ(answers, answer.empty() ? std::vector<SdoBytes>{} : std::vector<SdoBytes>{answer});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Transfers, NodeSegments,
    ::testing::Values(NodeCase{"DeviceName",
                               {{Hex("40 08 10 00"), Hex("41 08 10 00 11")},
                                {Hex("60"), Seg(0x00, "KRV wei")},
                                {Hex("70"), Seg(0x10, "ghing u")},
                                {Hex("60"), Seg(0x09, "nit")}}}, // toggle 0, 4 bytes unused, last
                      NodeCase{"Download",
                               {{Hex("21 00 20 00 08"), Hex("60 00 20 00")},
                                {Seg(0x00, "Bay 12 "), Hex("20")},
                                {Seg(0x1D, "B"), Hex("30")}}}, // toggle 1, 6 bytes unused, last
                      NodeCase{"ToggleRepeated",
                               {{Hex("40 09 10 00"), Hex("41 09 10 00 10")},
                                {Hex("60"), Seg(0x00, "KRV boa")},
                                {Hex("60"), Hex("80 09 10 00 05 03 00 00")},
                                {Hex("70"), Hex("80 09 10 00 05 04 00 01")}}}, // the transfer is over
                      NodeCase{"DownloadShortOfItsSize",
                               {{Hex("21 00 20 00 09"), Hex("60 00 20 00")},
                                {Seg(0x00, "1234567"), Hex("20")},
                                {Seg(0x1D, "8"), Hex("80 00 20 00 06 07 00 10")},
                                {Hex("40 00 20 00"), Hex("41 00 20 00")}}}, // still empty
                      NodeCase{"ClientAbortEndsTheTransfer",
                               {{Hex("40 08 10 00"), Hex("41 08 10 00 11")},
                                {Hex("80 08 10 00 00 00 04 05"), {}},
                                {Hex("60"), Hex("80 08 10 00 05 04 00 01")}}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- The client against the node -----------------------------------------------------

struct Expected {
    SdoTransfer transfer;
    SdoOutcome outcome = SdoOutcome::Done;
    SdoBytes data{};
    std::uint32_t serverAbort = 0;
};

struct EndToEndCase {
    const char* name;
    std::vector<Expected> transfers; // queued at once
    int steps;                       // until the last answer: one per frame the node sends
    bool standardOrder = false;
};

void PrintTo(const EndToEndCase& c, std::ostream* os)
{
    *os << c.name;
}

SdoBytes Pattern(std::size_t n)
{
    SdoBytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>('!' + i % 90);
    return b;
}

class ClientWithNode : public ::testing::TestWithParam<EndToEndCase> {};

// Each step lets 1 ms pass and hands the client what the node sent meanwhile;
// the client's frames reach the node as they are sent. Nothing calls Process:
// answers alone must move the transfers on.
TEST_P(ClientWithNode, TransfersCompleteWithoutIdleSteps)
{
    const EndToEndCase& c = GetParam();
    SimOptions node;
    node.abortOrderStandard = c.standardOrder;
    SimulatedUnit sim(node);
    SimulatedUnit::Time now{};
    SdoClientOptions options;
    options.abortOrder = c.standardOrder ? AbortOrder::Standard : AbortOrder::Unit;
    SdoClient client(
        1,
        [&](const BusFrame& f, const SdoOutgoing&) {
            sim.Receive(f, now);
            return Status();
        },
        options);
    std::vector<SdoResult> results;
    for (const Expected& e : c.transfers) {
        SdoTransfer t = e.transfer;
        t.done = [&](const SdoResult& r) { results.push_back(r); };
        client.Queue(std::move(t), now);
    }
    int steps = 0;
    for (; steps < 2000 && client.State() != SdoClientState::Idle; ++steps) {
        now += 1ms;
        sim.Step(now);
        for (const BusFrame& f : sim.TakeFrames())
            client.Receive(f, now);
    }
    EXPECT_EQ(steps, c.steps);

    ASSERT_EQ(results.size(), c.transfers.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
        const Expected& e = c.transfers[i];
        EXPECT_EQ(results[i].outcome, e.outcome) << i;
        EXPECT_EQ(results[i].data, e.data) << i;
        if (e.serverAbort) {
            ASSERT_TRUE(results[i].abort) << i;
            EXPECT_EQ(results[i].abort->code, e.serverAbort) << i;
            EXPECT_FALSE(results[i].abort->byClient) << i;
        }
    }
}

SdoTransfer Unsized(SdoTransfer t)
{
    t.indicateSize = false;
    return t;
}

constexpr std::uint32_t kTooHigh = 0x06070012;

INSTANTIATE_TEST_SUITE_P(
    Transfers, ClientWithNode,
    ::testing::Values(
        EndToEndCase{
            "DeviceName", {{SdoUpload(0x1008, 0), SdoOutcome::Done, TextBytes("KRV weighing unit")}}, 4},
        EndToEndCase{"TwentyCharactersWrittenAndRead",
                     {{SdoDownload(0x2000, 0, TextBytes("Scale B, bay 12 east"))},
                      {SdoUpload(0x2000, 0), SdoOutcome::Done, TextBytes("Scale B, bay 12 east")}},
                     8},
        EndToEndCase{"ShortTextExpedited",
                     {{SdoDownload(0x2000, 0, TextBytes("AB"))},
                      {SdoUpload(0x2000, 0), SdoOutcome::Done, TextBytes("AB")}},
                     2},
        // Segments of 7, 7 and 1: the last segment holds one byte.
        EndToEndCase{"OneByteInTheLastSegment",
                     {{SdoDownload(0x2000, 0, Pattern(15))}, {SdoUpload(0x2000, 0), SdoOutcome::Done, Pattern(15)}},
                     8},
        // 147 segments each way, each answered in the step after it was asked for.
        EndToEndCase{"OneKibibyteEachWay",
                     {{SdoDownload(0x2000, 0, Pattern(1024))},
                      {SdoUpload(0x2000, 0), SdoOutcome::Done, Pattern(1024)}},
                     296},
        EndToEndCase{"BeyondTheMaximum",
                     {{SdoDownload(0x2000, 0, Pattern(1025)), SdoOutcome::Aborted, {}, kTooHigh},
                      {Unsized(SdoDownload(0x2000, 0, Pattern(1025))), SdoOutcome::Aborted, {}, kTooHigh},
                      {SdoUpload(0x2000, 0), SdoOutcome::Done, {}}},
                     1 + 148 + 2},
        EndToEndCase{"AbortReadInStandardOrder",
                     {{SdoDownload(0x1008, 0, TextBytes("x")), SdoOutcome::Aborted, {}, 0x06010002}},
                     1,
                     true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
