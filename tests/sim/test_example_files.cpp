// The example files describe the simulated node: every object the EDS lists
// has its object code there, every entry is served with the EDS's access
// type, size and power-on value, and every row of the configuration's pages
// names what the EDS names at that sub-index. Answers are read as CiA 301
// lays them out.
#include "config_file.h"
#include "eds_reader.h"
#include "sim_bench.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

using namespace tervix;
using namespace tervix::sim;

namespace {

constexpr std::uint32_t kWriteOnly = 0x06010001, kReadOnly = 0x06010002, kRefused = 0x08000022;
constexpr unsigned kVar = 7;

// Bytes of an expedited transfer per integer data type of CiA 301.
const std::map<unsigned, unsigned> kTypeSize = {{1, 1}, {2, 1}, {3, 2}, {4, 4}, {5, 1}, {6, 2}, {7, 4}};

EdsTree ExampleEds()
{
    std::error_code error;
    std::optional<EdsTree> tree = ReadEdsFile(TERVIX_EXAMPLES_DIR "/Quorbit.eds", error);
    EXPECT_TRUE(tree) << error.message();
    return tree ? std::move(*tree) : EdsTree::Parse("");
}

// The value of the section's "key=" line; empty when it has none.
std::string Key(const EDSNode& node, std::string_view key)
{
    for (std::string_view line : node.Lines)
        if (line.starts_with(key) && line.size() > key.size() && line[key.size()] == '=')
            return std::string(line.substr(key.size() + 1));
    return {};
}

long Number(const EDSNode& node, std::string_view key)
{
    return std::strtol(Key(node, key).c_str(), nullptr, 0);
}

bool IsEntry(const EDSNode& node)
{
    return node.Index() >= 0x1000 && Number(node, "ObjectType") == kVar;
}

struct Answer {
    std::uint8_t command = 0;
    std::uint32_t data = 0; // data bytes 4..7, least significant first: value or abort code
    bool Abort(std::uint32_t code) const { return command == 0x80 && data == code; }
    // Bytes of an expedited upload with the size indicated; 0 for any other answer.
    unsigned Size() const { return (command & 0xF3) == 0x43 ? 4 - ((command >> 2) & 3u) : 0; }
};

// One SDO request to node 1 and its one answer.
Answer Sdo(SimBench& b, std::uint8_t command, std::uint32_t indexSub, std::uint32_t value = 0)
{
    std::array<std::uint8_t, 8> data{command, std::uint8_t(indexSub >> 16), std::uint8_t(indexSub >> 24),
                                     std::uint8_t(indexSub)};
    for (int i = 0; i < 4; ++i)
        data[4 + i] = std::uint8_t(value >> (8 * i));
    b.sim.Receive(MakeFrame(0x601, data), b.now);
    std::vector<Answer> answers;
    for (const BusFrame& f : b.sim.TakeFrames()) {
        if (f.id != 0x581)
            continue;
        answers.push_back({f.data[0], 0});
        for (int i = 0; i < 4; ++i)
            answers.back().data |= std::uint32_t(f.data[4 + i]) << (8 * i);
    }
    EXPECT_EQ(answers.size(), 1u) << std::hex << indexSub;
    return answers.empty() ? Answer{} : answers.front();
}

TEST(ExampleFiles, TheNodeServesWhatTheEdsLists)
{
    const EdsTree eds = ExampleEds();
    SimOptions options;
    options.abortOrderStandard = true;
    SimBench b(options);
    b.Start();
    // The calibration masses take writes while a calibration is open.
    b.Send(MakeFrame(0x301, std::array<std::uint8_t, 4>{0x00, 0x20, 0x00, 0x00}));

    int entries = 0;
    for (const EDSNode& node : eds.Nodes()) {
        if (node.Index() < 0x1000)
            continue;
        SCOPED_TRACE(node.Text());
        if (node.parent == kEdsRoot) { // sub-index FF: the object code in data byte 7
            EXPECT_EQ(long(Sdo(b, 0x40, node.IndexSub | 0xFF).data >> 24), Number(node, "ObjectType"));
        }
        if (!IsEntry(node))
            continue;
        ++entries;
        const std::string access = Key(node, "AccessType");
        const auto type = static_cast<unsigned>(Number(node, "DataType"));
        const Answer read = Sdo(b, 0x40, node.IndexSub);
        if (access == "wo") {
            EXPECT_TRUE(read.Abort(kWriteOnly)) << std::hex << int(read.command) << " " << read.data;
            const Answer write = Sdo(b, 0x22, node.IndexSub, std::uint32_t(Number(node, "DefaultValue")));
            EXPECT_TRUE(write.command == 0x60 || write.Abort(kRefused)) << std::hex << write.data;
            continue;
        }
        if (read.command == 0x80) {
            ADD_FAILURE() << "read aborted " << std::hex << read.data;
            continue;
        }
        if (kTypeSize.contains(type)) {
            EXPECT_EQ(read.Size(), kTypeSize.at(type));
            // What the unit holds until written; ro values may change by themselves.
            if (access == "rw" || access == "const") {
                EXPECT_EQ(std::int32_t(read.data), Number(node, "DefaultValue"));
            }
        }
        const Answer write = Sdo(b, 0x22, node.IndexSub, read.data);
        if (access == "rw") {
            EXPECT_EQ(write.command, 0x60) << std::hex << write.data;
        } else if (access == "ro" || access == "const") {
            EXPECT_TRUE(write.Abort(kReadOnly)) << std::hex << int(write.command) << " " << write.data;
        } else {
            ADD_FAILURE() << "access type " << access;
        }
    }
    EXPECT_GT(entries, 0);
}

TEST(ExampleFiles, EveryPageRowNamesWhatTheEdsNamesAtItsSubIndex)
{
    const EdsTree eds = ExampleEds();
    std::map<std::uint32_t, const EDSNode*> entries;
    for (const EDSNode& node : eds.Nodes())
        if (IsEntry(node))
            entries[node.IndexSub] = &node;

    const ConfigFileLoad conf = LoadConfigFile(TERVIX_EXAMPLES_DIR "/Tervix.conf");
    ASSERT_TRUE(conf.ok) << conf.error;
    std::vector<IgnoredLine> ignored;
    for (std::size_t page = 0; page < kPageCount; ++page) {
        const PageSection section = ReadPageSection(conf.lines, page, ignored);
        SCOPED_TRACE(std::string(section.caption));
        // The page shows every entry of its object from sub-index 1 on.
        const std::uint32_t base = std::uint32_t(kPages[page].baseIndex) << 16;
        std::set<std::uint32_t> listed;
        for (auto it = entries.upper_bound(base); it != entries.end() && it->first >> 16 == base >> 16; ++it)
            listed.insert(it->first);
        std::set<std::uint32_t> rows;
        for (const ParamRow& row : section.rows) {
            rows.insert(row.indexSub);
            const auto entry = entries.find(row.indexSub);
            ASSERT_NE(entry, entries.end()) << "sub " << int(row.sub);
            EXPECT_EQ(ItemLabelText(conf.lines.Line(row.line)), Key(*entry->second, "ParameterName"));
        }
        EXPECT_EQ(rows, listed);
    }
    EXPECT_TRUE(ignored.empty());
}

} // namespace
