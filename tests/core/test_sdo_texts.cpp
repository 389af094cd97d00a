#include "sdo_texts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

using namespace tervix;

namespace {

// "code=NAME ..." pairs, codes in hex.
std::map<int, std::string> Table(const char* text)
{
    std::map<int, std::string> table;
    std::istringstream words(text);
    std::string word;
    while (words >> word)
        table[std::stoi(word.substr(0, word.find('=')), nullptr, 16)] = word.substr(word.find('=') + 1);
    return table;
}

TEST(SdoNames, EveryObjectAndDataTypeCode)
{
    const auto objects = Table("0=NULL 2=DOMAIN 5=DEFTYPE 6=DEFSTRUCT 7=VAR 8=ARRAY 9=RECORD");
    const auto types =
        Table("1=BOOLEAN 2=INTEGER8 3=INTEGER16 4=INTEGER32 5=UNSIGNED8 6=UNSIGNED16 7=UNSIGNED32 8=REAL32 "
              "9=VISIBLE_STRING A=OCTET_STRING B=UNICODE_STRING C=TIME_OF_DAY D=TIME_DIFFERENCE F=DOMAIN "
              "10=INTEGER24 11=REAL64 12=INTEGER40 13=INTEGER48 14=INTEGER56 15=INTEGER64 16=UNSIGNED24 "
              "18=UNSIGNED40 19=UNSIGNED48 1A=UNSIGNED56 1B=UNSIGNED64 20=PDO_COMMUNICATION_PARAMETER "
              "21=PDO_MAPPING 22=SDO_PARAMETER 23=IDENTITY");
    for (int code = 0; code < 256; ++code) {
        const auto byte = static_cast<std::uint8_t>(code);
        EXPECT_EQ(ObjectTypeName(byte), objects.contains(code) ? objects.at(code) : "reserved") << code;
        EXPECT_EQ(DataTypeName(byte), types.contains(code) ? types.at(code) : "reserved") << code;
    }
    EXPECT_EQ(Multiplexer(0x1018, 0x0001), (std::array<std::uint8_t, 3>{0x18, 0x10, 0x01}));
    EXPECT_EQ(Multiplexer(0x2B07, 0x01FF), (std::array<std::uint8_t, 3>{0x07, 0x2B, 0xFF}));
}

TEST(SdoKeys, DecimalOrPrefixedHexAndNothingAfter)
{
    const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {{"7", 7},
                                                                          {"  7", 7},
                                                                          {"\t7", 7},
                                                                          {"+7", 7},
                                                                          {"-1", 0xFFFFFFFF},
                                                                          {"0x0007", 7},
                                                                          {"0X1f", 0x1F},
                                                                          {"$FF", 0xFF},
                                                                          {"x10", 0x10},
                                                                          {"X10", 0x10},
                                                                          {"0x0000000000000001", 1},
                                                                          {"0xFFFFFFFF", 0xFFFFFFFF},
                                                                          {"2147483647", 0x7FFFFFFF},
                                                                          {"-2147483648", 0x80000000},
                                                                          {"007", 7},
                                                                          // Not numbers.
                                                                          {"", {}},
                                                                          {"  ", {}},
                                                                          {"-", {}},
                                                                          {"0x", {}},
                                                                          {"$", {}},
                                                                          {"7 ", {}},
                                                                          {"7;", {}},
                                                                          {"0x1G", {}},
                                                                          {"-0x5", {}},
                                                                          {"+$5", {}},
                                                                          {"+-5", {}},
                                                                          {"0x100000000", {}},
                                                                          {"2147483648", {}},
                                                                          {"-2147483649", {}},
                                                                          {"1e3", {}},
                                                                          {"00x1", {}}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(ParseKeyInteger(text), value) << '"' << text << '"';
}

// Caption|index sub access DataType ObjectType|memo lines...
std::string Render(const SdoNodeView& v)
{
    char fields[64];
    std::snprintf(fields, sizeof fields, "|%04X %04X %s %u %u", v.Index, v.SubIndex,
                  v.readWriteEnabled ? "rw" : "structure", v.DataType, v.ObjectType);
    std::string s = v.caption + fields;
    for (const std::string& line : v.memoLines)
        s += "|" + line;
    return s;
}

struct NodeCase {
    const char* name;
    std::string eds; // the node shown is the file's last section
    std::uint8_t previousObjectType;
    std::string view;
};

void PrintTo(const NodeCase& c, std::ostream* os)
{
    *os << c.name;
}

class ShowNodes : public ::testing::TestWithParam<NodeCase> {};

TEST_P(ShowNodes, CaptionEnablingKeysAndMemo)
{
    const EdsTree tree = EdsTree::Parse(GetParam().eds);
    ASSERT_FALSE(tree.Nodes().empty());
    EXPECT_EQ(Render(ShowNodeView(tree.Nodes().back(), GetParam().previousObjectType)), GetParam().view);
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, ShowNodes,
    ::testing::Values(
        NodeCase{"SubObjectWithBothKeys",
                 "[1018]\n[1018sub1]\nParameterName=Vendor-ID\nDataType=0x0007\nObjectType=0x7", 0,
                 "Service Data Object - [1018sub1]|1018 0001 rw 7 7| ParameterName=Vendor-ID| DataType=0x0007"
                 "| ObjectType=0x7"},
        NodeCase{"FileInfoIsStructureOnly", "[FileInfo]\nFileVersion=1", 0,
                 "Service Data Object - [FileInfo]|000F 0000 structure 0 0| FileVersion=1"},
        NodeCase{"BelowFirstObject", "[0FFF]", 0, "Service Data Object - [0FFF]|0FFF 0000 structure 0 0"},
        NodeCase{"FirstObject", "[1000]", 0, "Service Data Object - [1000]|1000 0000 rw 0 0"},
        NodeCase{"IndexFromLow16Bits", "[12345]", 0, "Service Data Object - [12345]|2345 0000 rw 0 0"},
        NodeCase{"DataTypeLow8Bits", "[2000]\nDataType=0x0107", 0,
                 "Service Data Object - [2000]|2000 0000 rw 7 0| DataType=0x0107"},
        NodeCase{"OtherLetterCaseNoKey", "[2000]\ndatatype=7\nobjecttype=9", 3,
                 "Service Data Object - [2000]|2000 0000 rw 0 3| datatype=7| objecttype=9"},
        NodeCase{"ObjectTypeFromEarlierNode", "[2000sub1]\nDataType=5", 9,
                 "Service Data Object - [2000sub1]|2000 0001 rw 5 9| DataType=5"},
        NodeCase{"BadValueKeepsEarlierLine", "[2000]\nDataType=6\nDataType=zz\nObjectType=", 8,
                 "Service Data Object - [2000]|2000 0000 rw 6 8| DataType=6| DataType=zz| ObjectType="},
        // The object type is looked for after the data type's value, which
        // then has text after it and so does not count.
        NodeCase{"BothKeysOnOneLine", "[2000]\nDataType=7 ObjectType=9", 0,
                 "Service Data Object - [2000]|2000 0000 rw 0 9| DataType=7 ObjectType=9"},
        // Only what follows "DataType=" is searched: the first "ObjectType=" does not count.
        NodeCase{"ObjectTypeAfterDataTypeOnly", "[2000]\nObjectType=1 DataType=ObjectType=5", 2,
                 "Service Data Object - [2000]|2000 0000 rw 0 5| ObjectType=1 DataType=ObjectType=5"},
        NodeCase{"KeyAnywhereInTheLine", "[2000]\nDefaultDataType= 0x11\nSubObjectType=$9", 0,
                 "Service Data Object - [2000]|2000 0000 rw 17 9| DefaultDataType= 0x11| SubObjectType=$9"}));

std::vector<std::uint8_t> Hex(const char* text)
{
    std::vector<std::uint8_t> bytes;
    std::istringstream words(text);
    std::string word;
    while (words >> word)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(word, nullptr, 16)));
    return bytes;
}

TEST(SdoAnswers, StructureLinesOrValueText)
{
    // Packet as received, marker first -> S(tructure)|line|line|value or V(alue).
    const std::pair<const char*, const char*> cases[] = {
        {"7E 08 B0 20 43 18 10 FF 00 00 07 07", "S|OBJECT(1018)=      VAR|DATATYPE(1018)= UNSIGNED32|"},
        {"7E 08 B0 20 43 AB 2B FF 00 00 23 09", "S|OBJECT(2BAB)=      RECORD|DATATYPE(2BAB)= IDENTITY|"},
        // An abort of the structure request: the code's upper bytes give the names.
        {"7E 08 B0 20 80 00 30 FF 00 00 02 06", "S|OBJECT(3000)=      DEFSTRUCT|DATATYPE(3000)= INTEGER8|"},
        {"7E 07 B0 20 43 18 10 FF 00 00 07", "S|OBJECT(1018)=      NULL|DATATYPE(1018)= UNSIGNED32|"},
        {"7E 04 B0 20 43 18 10 FF", "S|OBJECT(1018)=      NULL|DATATYPE(1018)= reserved|"},
        {"7E 08 B0 20 43 18 10 01 78 56 34 12", "V||| 08 B0 20 43 18 10 01 78 56 34 12"},
        {"7E 03 C0 20 40 18 10", "V||| 03 C0 20 40 18 10"},
        {"7E", "V|||"}};
    for (const auto& [packet, expected] : cases) {
        const SdoAnswerView v = ShowAnswerView(Hex(packet));
        EXPECT_EQ((v.structure ? "S|" : "V|") + v.memoLines[0] + "|" + v.memoLines[1] + "|" + v.value,
                  expected)
            << packet;
    }
}

} // namespace
