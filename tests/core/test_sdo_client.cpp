// The SDO client held to CiA 301's frame layouts, written out here byte by
// byte, with the server's side played by the test.
#include "sdo_client.h"
#include "sdo_frames.h"

#include <gtest/gtest.h>

using namespace tervix;
using namespace std::chrono_literals;

namespace {

struct Rig {
    explicit Rig(SdoClientOptions options = {}, int failFrom = -1)
        : failFrom(failFrom),
          client(
              1, [this](const BusFrame& f, const SdoOutgoing& o) { return Sent(f, o); }, options)
    {
    }
    Status Sent(const BusFrame& f, const SdoOutgoing& o)
    {
        if (failFrom >= 0 && attempts++ >= failFrom)
            return Status::Failed("ie_NOpen - device not open");
        EXPECT_EQ(f.id, 0x601u);
        sent.emplace_back(f.bytes().begin(), f.bytes().end());
        about.push_back(o);
        return {};
    }
    // The frame sent since the last call; empty when none.
    SdoBytes Take()
    {
        EXPECT_LE(sent.size(), 1u);
        SdoBytes b = sent.empty() ? SdoBytes{} : sent.front();
        sent.clear();
        return b;
    }

    int failFrom;
    int attempts = 0;
    std::vector<SdoBytes> sent;
    std::vector<SdoOutgoing> about;
    TimePoint now{};
    SdoClient client;
};

// The server's answer (none when empty), then time passes, then the frame the
// client sent meanwhile (none when empty).
struct Exchange {
    SdoBytes answer{};
    SdoBytes sent{};
    std::chrono::milliseconds wait{0};
    std::uint32_t answerId = 0x581;
    bool used = true; // whether the client takes the answer as its own
};

struct ClientCase {
    const char* name;
    SdoTransfer transfer;
    std::vector<Exchange> script; // the first one's frame is the request queued
    SdoOutcome outcome = SdoOutcome::Done;
    SdoBytes data{};
    std::optional<SdoAbort> abort{};
    SdoClientOptions options{};
    int failFrom = -1; // sends fail from this frame on
};

void PrintTo(const ClientCase& c, std::ostream* os)
{
    *os << c.name;
}

// The transfer ends with the last exchange, once, and sends nothing after.
void RunScript(const ClientCase& c)
{
    Rig rig(c.options, c.failFrom);
    std::vector<SdoResult> results;
    SdoTransfer t = c.transfer;
    t.done = [&](const SdoResult& r) { results.push_back(r); };
    const SdoTransferId id = rig.client.Queue(std::move(t), rig.now);
    for (std::size_t i = 0; i < c.script.size(); ++i) {
        EXPECT_TRUE(results.empty()) << "ended before exchange " << i;
        const Exchange& e = c.script[i];
        if (!e.answer.empty()) {
            EXPECT_EQ(rig.client.Receive(MakeFrame(e.answerId, e.answer), rig.now), e.used) << i;
        }
        rig.now += e.wait;
        rig.client.Process(rig.now);
        EXPECT_EQ(rig.Take(), e.sent) << "exchange " << i;
    }
    rig.now += 10s;
    EXPECT_EQ(rig.client.Process(rig.now), SdoClientState::Idle);
    EXPECT_TRUE(rig.sent.empty());
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].id, id);
    EXPECT_EQ(results[0].outcome, c.outcome);
    EXPECT_EQ(results[0].data, c.data);
    EXPECT_EQ(results[0].abort, c.abort);
    // A frame that did not go out says why, as the adapter said it.
    EXPECT_EQ(results[0].sendError, c.outcome == SdoOutcome::SendFailed ? "ie_NOpen - device not open" : "");
}

std::string Name(const ::testing::TestParamInfo<ClientCase>& info)
{
    return info.param.name;
}

SdoTransfer Unsized(SdoTransfer t)
{
    t.indicateSize = false;
    return t;
}

// --- Frames of successful transfers -----------------------------------------------

class ClientFrames : public ::testing::TestWithParam<ClientCase> {};

TEST_P(ClientFrames, AsCanopenLaysThemOut)
{
    RunScript(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Transfers, ClientFrames,
    ::testing::Values(ClientCase{"ExpeditedUploadSized",
                                 SdoUpload(0x1017, 0),
                                 {{{}, Hex("40 17 10 00")}, {Hex("4B 17 10 00 E8 03")}},
                                 SdoOutcome::Done,
                                 {0xE8, 0x03}},
                      ClientCase{"ExpeditedUploadUnsized",
                                 SdoUpload(0x1018, 1),
                                 {{{}, Hex("40 18 10 01")}, {Hex("42 18 10 01 A7 03")}},
                                 SdoOutcome::Done,
                                 {0xA7, 0x03, 0x00, 0x00}},
                      ClientCase{"ExpeditedDownloadSized",
                                 SdoDownload(0x2000, 0, {0x11, 0x22, 0x33}),
                                 {{{}, Hex("27 00 20 00 11 22 33")}, {Hex("60 00 20 00")}}},
                      ClientCase{"ExpeditedDownloadUnsized",
                                 Unsized(SdoDownload(0x1017, 0, {0xE8, 0x03})),
                                 {{{}, Hex("22 17 10 00 E8 03")}, {Hex("60 17 10 00")}}},
                      ClientCase{"SegmentedUploadOf30Bytes",
                                 SdoUpload(0x2000, 0),
                                 {{{}, Hex("40 00 20 00")},
                                  {Hex("41 00 20 00 1E"), Hex("60")},
                                  {Seg(0x00, "Filling"), Hex("70")},
                                  {Seg(0x10, " line 3"), Hex("60")},
                                  {Seg(0x00, ", scale"), Hex("70")},
                                  {Seg(0x10, " B (eas"), Hex("60")},
                                  {Seg(0x0B, "t)")}}, // toggle 0, 5 bytes unused, last
                                 SdoOutcome::Done,
                                 TextBytes("Filling line 3, scale B (east)")},
                      ClientCase{"SegmentedDownloadOf20Bytes",
                                 SdoDownload(0x2000, 0, TextBytes("Scale B, bay 12 east")),
                                 {{{}, Hex("21 00 20 00 14")},
                                  {Hex("60 00 20 00"), Seg(0x00, "Scale B")},
                                  {Hex("20"), Seg(0x10, ", bay 1")},
                                  {Hex("30"), Seg(0x03, "2 east")}, // toggle 0, 1 byte unused, last
                                  {Hex("20")}}}),
    Name);

// --- Failures -----------------------------------------------------------------------

const SdoClientOptions kStandard{.abortOrder = AbortOrder::Standard};

const Exchange kRequest{{}, Hex("40 00 20 00")};
const Exchange kSegmented20{Hex("41 00 20 00 14"), Hex("60")};
const SdoAbort kMismatch{0x06070010, true,
                         "Data type does not match, length of service parameter does not match"};
const SdoAbort kNoObject{0x06020000, false, "Object does not exist in the object dictionary"};

class ClientFailures : public ::testing::TestWithParam<ClientCase> {};

TEST_P(ClientFailures, EndTheTransferOnceWithTheRightFrame)
{
    RunScript(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ClientFailures,
    ::testing::Values(
        ClientCase{"ToggleNotAlternatedInStandardOrder",
                   SdoUpload(0x2000, 0),
                   {kRequest, kSegmented20, {Seg(0x10, "1234567"), Hex("80 00 20 00 00 00 03 05")}},
                   SdoOutcome::Aborted,
                   {},
                   SdoAbort{0x05030000, true, "Toggle bit not alternated"},
                   kStandard},
        ClientCase{"DownloadToggleNotAlternated",
                   SdoDownload(0x2000, 0, TextBytes("ABCDEFGH")),
                   {{{}, Hex("21 00 20 00 08")},
                    {Hex("60 00 20 00"), Seg(0x00, "ABCDEFG")},
                    {Hex("30"), Hex("80 00 20 00 05 03 00 00")}},
                   SdoOutcome::Aborted,
                   {},
                   SdoAbort{0x05030000, true, "Toggle bit not alternated"}},
        ClientCase{"FewerBytesThanIndicated",
                   SdoUpload(0x2000, 0),
                   {kRequest,
                    {Hex("41 00 20 00 0A"), Hex("60")},
                    {Seg(0x00, "1234567"), Hex("70")},
                    {Seg(0x1B, "89"), Hex("80 00 20 00 06 07 00 10")}},
                   SdoOutcome::Aborted,
                   {},
                   kMismatch},
        ClientCase{"MoreBytesThanIndicated",
                   SdoUpload(0x2000, 0),
                   {kRequest,
                    {Hex("41 00 20 00 05"), Hex("60")},
                    {Seg(0x00, "1234567"), Hex("80 00 20 00 06 07 00 10")}},
                   SdoOutcome::Aborted,
                   {},
                   kMismatch},
        ClientCase{"IndicatedBeyondTheLimit",
                   SdoUpload(0x2000, 0),
                   {kRequest, {Hex("41 00 20 00 11"), Hex("80 00 20 00 05 04 00 05")}},
                   SdoOutcome::Aborted,
                   {},
                   SdoAbort{0x05040005, true, "Out of memory"},
                   SdoClientOptions{.maxUpload = 16}},
        ClientCase{"UnknownSpecifier",
                   SdoUpload(0x2000, 0),
                   {kRequest, {Hex("60 00 20 00"), Hex("80 00 20 00 05 04 00 01")}},
                   SdoOutcome::Aborted,
                   {},
                   SdoAbort{0x05040001, true, "Client/server command specifier not valid or unknown"}},
        ClientCase{"ServerAbortInUnitOrder",
                   SdoUpload(0x2000, 0),
                   {kRequest, {Hex("80 00 20 00 06 02 00 00")}},
                   SdoOutcome::Aborted,
                   {},
                   kNoObject},
        ClientCase{"ServerAbortInStandardOrder",
                   SdoUpload(0x2000, 0),
                   {kRequest, {Hex("80 00 20 00 00 00 02 06")}},
                   SdoOutcome::Aborted,
                   {},
                   kNoObject,
                   kStandard},
        ClientCase{"AnswersOfOthersIgnored",
                   SdoUpload(0x2000, 0),
                   {kRequest,
                    {Hex("4F 01 20 00 07"), {}, 0ms, 0x581, false},
                    {Hex("80 00 20 01 06 02 00 00"), {}, 0ms, 0x581, false},
                    {Hex("4F 00 20 00 07"), {}, 0ms, 0x582, false},
                    {Hex("4F 00 20 00 09")}},
                   SdoOutcome::Done,
                   {0x09}},
        ClientCase{"ExpeditedTimeOutSendsNothing",
                   SdoUpload(0x2000, 0),
                   {{{}, Hex("40 00 20 00"), 999ms}, {{}, {}, 1ms}},
                   SdoOutcome::TimedOut},
        ClientCase{"TimeOutMidSegmentAbortsOnce",
                   SdoUpload(0x2000, 0),
                   {{{}, Hex("40 00 20 00"), 600ms},
                    {Hex("41 00 20 00 14"), Hex("60"), 999ms}, // each request waits its own second
                    {{}, Hex("80 00 20 00 05 04 00 00"), 1ms}},
                   SdoOutcome::TimedOut,
                   {},
                   SdoAbort{0x05040000, true, "SDO protocol timed out"}},
        ClientCase{"InitiateNotSent", SdoUpload(0x2000, 0), {}, SdoOutcome::SendFailed, {}, {}, {}, 0},
        ClientCase{"SegmentRequestNotSent",
                   SdoUpload(0x2000, 0),
                   {kRequest, {Hex("41 00 20 00 14")}},
                   SdoOutcome::SendFailed,
                   {},
                   {},
                   {},
                   1}),
    Name);

TEST(AbortTexts, TheStandardsTableFromEndToEnd)
{
    EXPECT_EQ(CanopenAbortText(0x05030000), "Toggle bit not alternated");
    EXPECT_EQ(CanopenAbortText(0x06070012), "Data type does not match, length of service parameter too high");
    EXPECT_EQ(CanopenAbortText(0x08000024), "No data available");
    for (std::uint32_t unknown : {0x00000000u, 0x05030001u, 0x06070011u, 0x08000025u, 0xFFFFFFFFu})
        EXPECT_EQ(CanopenAbortText(unknown), std::nullopt) << std::hex << unknown;
}

// --- The queue -----------------------------------------------------------------------

TEST(SdoQueue, OneTransferAtATimeInTheOrderQueued)
{
    Rig rig;
    std::vector<SdoTransferId> ended;
    SdoTransferId late = 0;
    const auto noted = [&](SdoTransfer t) {
        t.done = [&](const SdoResult& r) { ended.push_back(r.id); };
        return t;
    };
    SdoTransfer first = SdoUpload(0x1017, 0);
    first.done = [&](const SdoResult& r) {
        ended.push_back(r.id);
        // Queued from a completion: behind those already waiting.
        late = rig.client.Queue(noted(SdoUpload(0x1000, 0)), rig.now);
    };
    SdoTransfer unlogged = noted(SdoDownload(0x1017, 0, {0xE8, 0x03}));
    unlogged.log = false;
    const SdoTransferId a = rig.client.Queue(std::move(first), rig.now);
    const SdoTransferId b = rig.client.Queue(std::move(unlogged), rig.now);
    const SdoTransferId c = rig.client.Queue(noted(SdoUpload(0x1018, 1)), rig.now);
    EXPECT_EQ(rig.Take(), Hex("40 17 10 00"));
    EXPECT_EQ(rig.client.Queued(), 2u);

    rig.client.Receive(MakeFrame(0x581, Hex("4B 17 10 00 E8 03")), rig.now);
    EXPECT_EQ(rig.Take(), Hex("2B 17 10 00 E8 03"));
    rig.now += 1s; // b times out: c goes out
    EXPECT_EQ(rig.client.Process(rig.now), SdoClientState::Waiting);
    EXPECT_EQ(rig.Take(), Hex("40 18 10 01"));
    rig.client.Receive(MakeFrame(0x581, Hex("43 18 10 01 01")), rig.now);
    EXPECT_EQ(rig.Take(), Hex("40 00 10 00"));
    rig.client.Receive(MakeFrame(0x581, Hex("43 00 10 00 00 00 04")), rig.now);

    EXPECT_EQ(rig.client.State(), SdoClientState::Idle);
    EXPECT_EQ(ended, (std::vector<SdoTransferId>{a, b, c, late}));
    std::vector<std::pair<SdoTransferId, bool>> frames;
    for (const SdoOutgoing& o : rig.about)
        frames.emplace_back(o.transfer, o.log);
    EXPECT_EQ(frames,
              (std::vector<std::pair<SdoTransferId, bool>>{{a, true}, {b, false}, {c, true}, {late, true}}));
}

} // namespace
