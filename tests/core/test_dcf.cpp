// Device configuration files: numbers as EDS and DCF files write them,
// values by CiA 301 data type (least significant byte first), a file as
// another tool writes it, and comparisons.
#include "dcf.h"

#include <gtest/gtest.h>

using namespace tervix;

namespace {

struct IntegerCase {
    const char* text;
    std::optional<unsigned> node;
    std::optional<EdsNumber> expected;
};

class EdsIntegers : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(EdsIntegers, ReadAsFilesWriteThem)
{
    EXPECT_EQ(EdsInteger(GetParam().text, GetParam().node), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, EdsIntegers,
    ::testing::Values(IntegerCase{"1000", {}, EdsNumber{false, 1000}}, IntegerCase{" 0x3A7 ", {}, EdsNumber{false, 0x3A7}},
                      IntegerCase{"0X3a7", {}, EdsNumber{false, 0x3A7}}, IntegerCase{"010", {}, EdsNumber{false, 8}},
                      IntegerCase{"0", {}, EdsNumber{false, 0}}, IntegerCase{"-0", {}, EdsNumber{false, 0}},
                      IntegerCase{"-200000", {}, EdsNumber{true, 200000}},
                      IntegerCase{"$NODEID+0x180", 5, EdsNumber{false, 0x185}},
                      IntegerCase{"0x580 + $nodeid", 127, EdsNumber{false, 0x5FF}},
                      IntegerCase{"$NodeId", 3, EdsNumber{false, 3}},
                      IntegerCase{"0xFFFFFFFFFFFFFFFF", {}, EdsNumber{false, UINT64_MAX}},
                      IntegerCase{"$NODEID+0x180", {}, std::nullopt}, // no node to add
                      IntegerCase{"08", {}, std::nullopt}, IntegerCase{"0x", {}, std::nullopt},
                      IntegerCase{"12a", {}, std::nullopt}, IntegerCase{"", {}, std::nullopt},
                      IntegerCase{"0x10000000000000000", {}, std::nullopt},
                      IntegerCase{"$NODEID-1", 3, std::nullopt}));

struct ValueCase {
    std::uint16_t type;
    std::vector<std::uint8_t> bytes; // on the wire
    const char* text;                // in the file
    std::vector<const char*> alsoRead = {};
};

class DcfValues : public ::testing::TestWithParam<ValueCase> {};

TEST_P(DcfValues, BytesAndTextBothWays)
{
    const ValueCase& c = GetParam();
    EXPECT_EQ(DcfValueText(c.bytes, c.type, nullptr), c.text);
    EXPECT_EQ(DcfValueBytes(c.text, c.type), c.bytes);
    for (const char* other : c.alsoRead)
        EXPECT_EQ(DcfValueBytes(other, c.type), c.bytes) << other;
}

INSTANTIATE_TEST_SUITE_P(
    Types, DcfValues,
    ::testing::Values(ValueCase{0x0004, {0xFE, 0xFF, 0xFF, 0xFF}, "-2", {"0xFFFFFFFE", "-0x2"}},
                      ValueCase{0x0004, {0x00, 0x00, 0x00, 0x80}, "-2147483648"},
                      ValueCase{0x0003, {0x39, 0x30}, "12345", {"0x3039", "030071"}},
                      ValueCase{0x0007, {0x00, 0x00, 0x04, 0x00}, "0x00040000", {"262144"}},
                      ValueCase{0x0005, {0x7F}, "0x7F", {"127", "0177"}},
                      ValueCase{0x0001, {0x01}, "0x01", {"1"}},
                      ValueCase{0x001B, {1, 2, 3, 4, 5, 6, 7, 0x88}, "0x8807060504030201"},
                      ValueCase{0x0008, {0x00, 0x00, 0xC0, 0x3F}, "1.5", {"1.50"}},
                      ValueCase{0x0009, {'K', 'R', 'V', ' ', '1'}, "KRV 1"},
                      ValueCase{0x000A, {0x01, 0xAB}, "01AB", {"01ab"}}),
    [](const auto& info) { return "Type" + std::to_string(info.param.type) + "_" + std::to_string(info.index); });

TEST(DcfValues, WhatDoesNotFitIsRefused)
{
    std::string why;
    EXPECT_FALSE(DcfValueText(std::vector<std::uint8_t>{1, 2}, 0x0004, &why));
    EXPECT_EQ(why, "answer of 2 bytes for a 4-byte type");
    EXPECT_FALSE(DcfValueText(std::vector<std::uint8_t>{'a', '\n', 'b'}, 0x0009, &why));
    EXPECT_FALSE(DcfValueBytes("0x100", 0x0005));      // beyond UNSIGNED8
    EXPECT_FALSE(DcfValueBytes("-1", 0x0007));         // negative UNSIGNED32
    EXPECT_FALSE(DcfValueBytes("2147483648", 0x0004)); // beyond INTEGER32 in decimal
    EXPECT_FALSE(DcfValueBytes("-0x100000000", 0x0004));
    EXPECT_FALSE(DcfValueBytes("ABC", 0x000A)); // odd hex digits
}

// As another tool might write one: the other spelling of the commissioning
// section, keys in other letter cases, $NODEID, octal, a record.
constexpr std::string_view kForeignDcf = "[FileInfo]\n"
                                         "CreatedBy=Another tool\n"
                                         "[DeviceCommissioning]\n"
                                         "nodeid=0x05\n"
                                         "BAUDRATE=250\n"
                                         "NodeName=Scale 5\n"
                                         "LSS_SerialNumber=0x1234\n"
                                         "[1017]\n"
                                         "ParameterName=Producer heartbeat time\n"
                                         "ObjectType=0x7\n"
                                         "DataType=0x0006\n"
                                         "AccessType=RW\n"
                                         "DefaultValue=0\n"
                                         "parametervalue = 01750\n"
                                         "[1800]\n"
                                         "ParameterName=TPDO1 communication\n"
                                         "ObjectType=0x9\n"
                                         "[1800SUB1]\n"
                                         "ParameterName=COB-ID\n"
                                         "DataType=0x0007\n"
                                         "AccessType=rw\n"
                                         "ParameterValue=$NODEID+0x180\n"
                                         "[1800sub2]\n"
                                         "ParameterName=Transmission type\n"
                                         "DataType=0x0005\n"
                                         "AccessType=rw\n"
                                         "DefaultValue=255\n";

TEST(DcfFiles, AnotherToolsFileReads)
{
    const DcfDocument doc = ReadDcf(EdsTree::Parse(std::string(kForeignDcf)));
    EXPECT_EQ(doc.createdBy, "Another tool");
    EXPECT_EQ(doc.commissioning.nodeId, 5u);
    EXPECT_EQ(doc.commissioning.baudrate, 250u);
    EXPECT_EQ(doc.commissioning.nodeName, "Scale 5");
    EXPECT_EQ(doc.commissioning.serialNumber, 0x1234u);
    ASSERT_EQ(doc.entries.size(), 3u); // the record itself holds no value
    const DcfEntry* heartbeat = doc.Find(0x1017, 0);
    ASSERT_TRUE(heartbeat);
    EXPECT_EQ(heartbeat->access, DcfAccess::ReadWrite);
    EXPECT_EQ(CanonicalValue(*heartbeat, 5), "0x03E8"); // octal 1750 = 1000
    const DcfEntry* cobId = doc.Find(0x1800, 1);
    ASSERT_TRUE(cobId);
    EXPECT_EQ(cobId->objectName, "TPDO1 communication");
    EXPECT_EQ(CanonicalValue(*cobId, 5), "0x00000185");
    // A default is no value the device holds.
    EXPECT_FALSE(doc.Find(0x1800, 2)->value);
}

TEST(DcfFiles, WrittenFileReadsBack)
{
    DcfDocument doc;
    doc.commissioning = {7, 125, "Line 2 scale", 0xABCDu};
    doc.createdBy = "Tervix 9.9";
    DcfEntry e = DescribeObject(0x2102, 5, nullptr);
    e.name = "Motion band";
    e.value = "-3";
    doc.entries.push_back(e);
    DcfEntry failed = DescribeObject(0x2102, 6, nullptr);
    failed.failure = "no answer";
    doc.entries.push_back(failed);
    DcfEntry name = DescribeObject(0x1008, 0, nullptr);
    name.value = "KRV; weighing = unit";
    doc.entries.push_back(name);

    const std::string text = DcfText(doc, "line2.dcf");
    EXPECT_NE(text.find("; [2102sub6] : not read, no answer\r\n"), std::string::npos);
    const DcfDocument back = ReadDcf(EdsTree::Parse(text));
    EXPECT_EQ(back.commissioning.nodeId, 7u);
    EXPECT_EQ(back.commissioning.baudrate, 125u);
    EXPECT_EQ(back.commissioning.nodeName, "Line 2 scale");
    EXPECT_EQ(back.commissioning.serialNumber, 0xABCDu);
    ASSERT_EQ(back.entries.size(), 2u);
    EXPECT_EQ(back.entries[0].value, "-3");
    EXPECT_EQ(back.entries[0].dataType, dcf_type::kInteger32);
    EXPECT_EQ(back.entries[0].access, DcfAccess::ReadWrite);
    EXPECT_EQ(back.entries[0].objectName, "Standard parameters");
    EXPECT_EQ(back.entries[1].value, "KRV; weighing = unit");
    EXPECT_EQ(back.entries[1].access, DcfAccess::Const);
}

struct CompareCase {
    const char* name;
    std::vector<DcfEntry> a, b;
    bool withEds;
    std::vector<std::pair<bool, bool>> rows; // readOnly, differs
};

DcfEntry Entry(std::uint16_t index, std::uint8_t sub, std::optional<std::string> value, DcfAccess access,
               std::uint16_t type = dcf_type::kInteger32)
{
    DcfEntry e;
    e.index = index;
    e.subIndex = sub;
    e.isSub = sub != 0;
    e.value = std::move(value);
    e.access = access;
    e.dataType = type;
    return e;
}

void PrintTo(const CompareCase& c, std::ostream* os)
{
    *os << c.name;
}

class Comparisons : public ::testing::TestWithParam<CompareCase> {};

TEST_P(Comparisons, CountOnlyWritableDifferences)
{
    const CompareCase& c = GetParam();
    // The EDS says 2100 sub 5 is read-only.
    const EdsTree tree = EdsTree::Parse("[2100sub5]\nParameterName=Motion band\nDataType=0x0004\nAccessType=ro\n");
    const EdsObjects eds(tree);
    DcfDocument a, b;
    a.entries = c.a;
    b.entries = c.b;
    const auto rows = CompareDcf(a, b, c.withEds ? &eds : nullptr);
    ASSERT_EQ(rows.size(), c.rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].readOnly, c.rows[i].first) << i;
        EXPECT_EQ(rows[i].differs, c.rows[i].second) << i;
    }
}

constexpr auto RW = DcfAccess::ReadWrite;
constexpr auto RO = DcfAccess::ReadOnly;
constexpr auto UNKNOWN = DcfAccess::Unknown;

INSTANTIATE_TEST_SUITE_P(
    Cases, Comparisons,
    ::testing::Values(
        CompareCase{"SameValueWrittenTwoWays", {Entry(0x2101, 5, "10", RW)}, {Entry(0x2101, 5, "0x0A", RW)}, false,
                    {{false, false}}},
        CompareCase{"WritableDiffers", {Entry(0x2101, 5, "10", RW)}, {Entry(0x2101, 5, "11", RW)}, false,
                    {{false, true}}},
        CompareCase{"LiveValueListedApart", {Entry(0x2101, 11, "5", RO)}, {Entry(0x2101, 11, "6", RO)}, false,
                    {{true, false}}},
        CompareCase{"OnlyOneSideHasIt", {Entry(0x2101, 5, "10", RW)}, {Entry(0x2102, 5, "10", RW)}, false,
                    {{false, true}, {false, true}}},
        CompareCase{"NoValueOnEitherSide", {Entry(0x2101, 5, std::nullopt, RW)}, {}, false, {}},
        // The EDS (unit 0's object, for unit 1) outweighs the files' rw.
        CompareCase{"EdsSaysReadOnly", {Entry(0x2101, 5, "10", RW)}, {Entry(0x2101, 5, "11", RW)}, true,
                    {{true, false}}},
        // No access anywhere: device type is CiA 301's ro, a page row is rw.
        CompareCase{"AccessFromCanopen",
                    {Entry(0x1000, 0, "0x00040000", UNKNOWN, dcf_type::kUnsigned32), Entry(0x2500, 1, "1", UNKNOWN)},
                    {Entry(0x1000, 0, "0x00020000", UNKNOWN, dcf_type::kUnsigned32), Entry(0x2500, 1, "2", UNKNOWN)},
                    false, {{true, false}, {false, true}}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
