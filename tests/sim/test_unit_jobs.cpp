// Backup, compare and restore of the simulated node through the tool's SDO
// client, with the example EDS and configuration: what is read, what is
// written on the wire (CiA 301's download layout), and what is refused.
#include "canopen_client.h"
#include "simulated_unit.h"
#include "unit_job.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace tervix;
using namespace tervix::sim;
using namespace std::chrono_literals;

namespace {

struct Examples {
    Examples()
    {
        std::error_code ec;
        auto tree = ReadEdsFile(std::string(TERVIX_EXAMPLES_DIR) + "/Quorbit.eds", ec);
        EXPECT_TRUE(tree.has_value());
        eds.emplace(*tree);
        const ConfigFileLoad load = LoadConfigFile(std::string(TERVIX_EXAMPLES_DIR) + "/Tervix.conf");
        EXPECT_TRUE(load.ok);
        pages = ReadConfiguration(load.lines).pages;
    }
    std::optional<EdsObjects> eds;
    std::array<PageSection, kPageCount> pages;
};

// The node and the client on one wire; every frame the client sends is kept.
struct Wire {
    explicit Wire(SimOptions options = {}) : sim(options) {}

    SimulatedUnit sim;
    TimePoint now{};
    std::vector<BusFrame> sent;
    CanopenClient client{[this](unsigned, const BusFrame& f, const SdoOutgoing&) {
        sent.push_back(f);
        sim.Receive(f, now);
        return Status();
    }};

    void Run(UnitJob& job)
    {
        job.Start(now);
        for (int i = 0; i < 100000 && job.Running(); ++i)
            Step();
        EXPECT_FALSE(job.Running());
    }
    void Step()
    {
        now += 1ms;
        sim.Step(now);
        for (const BusFrame& f : sim.TakeFrames())
            client.Receive(f, now);
        client.Process(now);
    }
    void Write(std::uint16_t index, std::uint8_t sub, std::vector<std::uint8_t> bytes)
    {
        bool done = false;
        SdoTransfer t = SdoDownload(index, sub, std::move(bytes));
        t.done = [&](const SdoResult& r) {
            EXPECT_EQ(r.outcome, SdoOutcome::Done);
            done = true;
        };
        client.Queue(1, std::move(t), now);
        while (!done)
            Step();
    }
    // The initiate-download requests sent from frame `from` on, as bytes.
    std::vector<std::vector<std::uint8_t>> Downloads(std::size_t from = 0) const
    {
        std::vector<std::vector<std::uint8_t>> out;
        for (std::size_t i = from; i < sent.size(); ++i)
            if ((sent[i].data[0] & 0xE0) == 0x20)
                out.emplace_back(sent[i].data.begin(), sent[i].data.begin() + sent[i].length);
        return out;
    }
};

DcfDocument Backup(Wire& w, const Examples& ex, std::vector<std::uint8_t> units = {0, 1, 2, 3})
{
    auto job = UnitJob::Backup(w.client, 1, BackupPlan(ex.pages, units, &*ex.eds), {1, 500, {}, {}}, nullptr);
    w.Run(*job);
    EXPECT_EQ(job->Failures(), 0u);
    return job->Result();
}

std::vector<CompareRow> Differences(Wire& w, const Examples& ex, const DcfDocument& file)
{
    auto job = UnitJob::Compare(w.client, 1, file, &*ex.eds, nullptr);
    w.Run(*job);
    std::vector<CompareRow> rows;
    for (const CompareRow& r : job->Comparison())
        if (r.differs)
            rows.push_back(r);
    return rows;
}

TEST(UnitJobs, BackupSetCompareRestoreCompare)
{
    const Examples ex;
    Wire w;
    const DcfDocument backup = Backup(w, ex);
    // As CiA 301 and the node have them: device type with 4 units in bits
    // 16..23, vendor 0x3A7, serial number = node; motion band 100 by default.
    EXPECT_EQ(backup.Find(0x1000, 0)->value, "0x00040000");
    EXPECT_EQ(backup.Find(0x1008, 0)->value, "KRV weighing unit");
    EXPECT_EQ(backup.Find(0x1018, 1)->value, "0x000003A7");
    EXPECT_EQ(backup.commissioning.serialNumber, 1u);
    EXPECT_EQ(backup.Find(0x2101, 5)->value, "100");
    EXPECT_EQ(backup.Find(0x2101, 15)->failure, "write-only"); // the command row is never read

    w.Write(0x2101, 5, {7, 0, 0, 0});
    const auto before = Differences(w, ex, backup);
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0].index, 0x2101);
    EXPECT_EQ(before[0].subIndex, 5);
    EXPECT_EQ(before[0].a, "100");
    EXPECT_EQ(before[0].b, "7");

    const std::size_t mark = w.sent.size();
    auto restore = UnitJob::Restore(w.client, 1, backup, &*ex.eds, {}, nullptr);
    w.Run(*restore);
    EXPECT_EQ(restore->Refusal(), "");
    // One write: 23 = initiate, expedited, 4 bytes indicated; index LSB first; 100.
    EXPECT_EQ(w.Downloads(mark), (std::vector<std::vector<std::uint8_t>>{{0x23, 0x01, 0x21, 0x05, 0x64, 0, 0, 0}}));
    std::size_t verified = 0;
    for (const RestoreRow& r : restore->Report()) {
        if (r.index == 0x2101 && r.subIndex == 5) {
            EXPECT_EQ(r.outcome, RestoreOutcome::Verified);
            ++verified;
        } else {
            EXPECT_EQ(r.outcome, RestoreOutcome::Unchanged) << SectionName(r.index, r.subIndex, true);
        }
    }
    EXPECT_EQ(verified, 1u);
    EXPECT_TRUE(Differences(w, ex, backup).empty());
}

struct RestoreCase {
    const char* name;
    unsigned nodeUnits;                          // units of the node restored to
    RestoreOptions options;
    std::vector<std::pair<std::uint32_t, const char*>> edits; // file values changed before the restore
    bool refused;
    std::size_t writes;
    std::vector<std::pair<std::uint32_t, RestoreOutcome>> outcomes;
};

void PrintTo(const RestoreCase& c, std::ostream* os)
{
    *os << c.name;
}

class Restores : public ::testing::TestWithParam<RestoreCase> {};

TEST_P(Restores, WriteWhatTheyShould)
{
    const RestoreCase& c = GetParam();
    const Examples ex;
    Wire source;
    DcfDocument file = Backup(source, ex, {0, 1});
    for (const auto& [address, value] : c.edits)
        for (DcfEntry& e : file.entries)
            if (e.Address() == address)
                e.value = value;

    SimOptions target;
    target.units = c.nodeUnits;
    Wire w(target);
    auto job = UnitJob::Restore(w.client, 1, file, &*ex.eds, c.options, nullptr);
    w.Run(*job);
    EXPECT_EQ(!job->Refusal().empty(), c.refused) << job->Refusal();
    EXPECT_EQ(w.Downloads().size(), c.writes);
    for (const auto& [address, outcome] : c.outcomes) {
        const auto& report = job->Report();
        const auto row = std::find_if(report.begin(), report.end(), [&](const RestoreRow& r) {
            return (std::uint32_t{r.index} << 16 | r.subIndex) == address;
        });
        ASSERT_NE(row, report.end()) << std::hex << address;
        EXPECT_EQ(row->outcome, outcome) << std::hex << address << ' ' << row->detail;
        if (outcome == RestoreOutcome::Refused) {
            EXPECT_NE(row->detail.find("abort 08000022"), std::string::npos) << row->detail;
        }
    }
}

constexpr std::uint32_t kFilter0 = 0x21000008;
constexpr std::uint32_t kMotion1 = 0x21010005;

INSTANTIATE_TEST_SUITE_P(
    Cases, Restores,
    ::testing::Values(
        // Two units' device type is 0x00020000, the file's 0x00040000.
        RestoreCase{"OtherDeviceTypeRefusedBeforeWriting", 2, {}, {{kMotion1, "7"}}, true, 0, {}},
        RestoreCase{"OtherDeviceTypeForced", 2, {false, true, false}, {{kMotion1, "7"}}, false, 1,
                    {{kMotion1, RestoreOutcome::Verified}}},
        // Filter takes 0..9: the node refuses 12 (08000022, value not in range).
        RestoreCase{"RefusedWriteReported", 4, {}, {{kFilter0, "12"}, {kMotion1, "0x7"}}, false, 2,
                    {{kFilter0, RestoreOutcome::Refused}, {kMotion1, RestoreOutcome::Verified}}},
        RestoreCase{"DryRunWritesNothing", 4, {false, false, true}, {{kMotion1, "7"}}, false, 0,
                    {{kMotion1, RestoreOutcome::WouldWrite}, {kFilter0, RestoreOutcome::Unchanged}}},
        // The EDS's rw objects for units 0 and 1: 28 page rows each, heartbeat
        // time, text, and calibration 2600 sub 1..4 and 2A00 sub 1 of unit 0.
        RestoreCase{"AllWritesEveryWritable", 4, {true, false, false}, {}, false, 2 * 28 + 7,
                    {{kFilter0, RestoreOutcome::Verified},
                     {0x10170000, RestoreOutcome::Verified},
                     {0x20000000, RestoreOutcome::Verified}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Without an EDS every page row is read: the node refuses the write-only
// command rows and has no unit 3 behind 2103; each failure keeps its abort.
TEST(UnitJobs, RowsThatFailKeepTheirAbort)
{
    const Examples ex;
    SimOptions three;
    three.units = 3;
    Wire w(three);
    auto job = UnitJob::Backup(w.client, 1, BackupPlan(ex.pages, {0, 3}, nullptr), {}, nullptr);
    w.Run(*job);
    const DcfDocument& doc = job->Result();
    EXPECT_EQ(doc.Find(0x2100, 15)->failure.substr(0, 14), "abort 06010001");
    EXPECT_EQ(doc.Find(0x2103, 1)->failure.substr(0, 6), "abort ");
    EXPECT_TRUE(doc.Find(0x2100, 1)->value);
    std::size_t failed = 0;
    for (const DcfEntry& e : doc.entries)
        failed += e.value ? 0 : 1;
    EXPECT_EQ(job->Failures(), failed);
    EXPECT_EQ(failed, 1 + 42u); // unit 0's command row, all of unit 3's rows
}

// Node 1 is asked, the node is 5: the first time-out ends the job.
TEST(UnitJobs, ANodeThatAnswersNothingEndsTheJobAtOnce)
{
    const Examples ex;
    SimOptions five;
    five.node = 5;
    Wire w(five);
    auto job = UnitJob::Backup(w.client, 1, BackupPlan(ex.pages, {0}, &*ex.eds), {}, nullptr);
    w.Run(*job);
    EXPECT_TRUE(job->NoAnswer());
    EXPECT_EQ(w.sent.size(), 1u);
}

TEST(UnitJobs, CancelStopsAtTheStepUnderWay)
{
    const Examples ex;
    Wire w;
    int finished = 0;
    auto job = UnitJob::Backup(w.client, 1, BackupPlan(ex.pages, {0, 1, 2, 3}, &*ex.eds), {}, [&] { ++finished; });
    job->Start(w.now);
    for (int i = 0; i < 10; ++i)
        w.Step();
    job->Cancel(w.now);
    const std::size_t sent = w.sent.size();
    for (int i = 0; i < 100; ++i)
        w.Step();
    EXPECT_EQ(finished, 1);
    EXPECT_TRUE(job->Cancelled());
    EXPECT_LT(job->Step(), job->Steps());
    // A segmented read under way may finish (60/70: segment requests); no
    // transfer starts after the cancel.
    for (std::size_t i = sent; i < w.sent.size(); ++i)
        EXPECT_TRUE(w.sent[i].data[0] == 0x60 || w.sent[i].data[0] == 0x70) << i;
}

} // namespace
