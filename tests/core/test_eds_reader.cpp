#include "eds_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>

using namespace tervix;

namespace {

// One line per node: two blanks for a node under an object, its text, its
// IndexSub, then "|" and each key line.
std::string Render(const EdsTree& tree)
{
    std::string s;
    std::size_t lastObject = kEdsRoot;
    for (std::size_t i = 0; i < tree.Nodes().size(); ++i) {
        const EDSNode& n = tree.Nodes()[i];
        if (n.parent == kEdsRoot)
            lastObject = i;
        else
            s += n.parent == lastObject ? "  " : "  (wrong parent) ";
        char hex[16];
        std::snprintf(hex, sizeof hex, " %08X", static_cast<unsigned>(n.IndexSub));
        s += n.Text() + hex;
        for (std::string_view line : n.Lines)
            s += "|" + std::string(line);
        s += '\n';
    }
    return s;
}

struct TreeCase {
    const char* name;
    std::string text;
    std::string tree;
};

void PrintTo(const TreeCase& c, std::ostream* os)
{
    *os << c.name;
}

class EdsTreeShape : public ::testing::TestWithParam<TreeCase> {};

TEST_P(EdsTreeShape, NodesTextsAddressesAndLines)
{
    EXPECT_EQ(Render(EdsTree::Parse(GetParam().text)), GetParam().tree);
}

const std::string kA255(255, 'A');
const std::string kSubBeyondCut = "1000" + std::string(251, 'x');
std::string Degrees(std::size_t n)
{
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += "\xC2\xB0";
    return s;
}
const std::string kDegrees300 = Degrees(300);

INSTANTIATE_TEST_SUITE_P(
    Cases, EdsTreeShape,
    ::testing::Values(
        TreeCase{"SectionsUnderRootAndObject", "[FileInfo]\n[1000]\n[1018]\n[1018sub0]\n[1018sub1]\n",
                 "[FileInfo] 000F0000\n[1000] 10000000\n[1018] 10180000\n  [1018sub0] 10180000\n"
                 "  [1018sub1] 10180001\n"},
        TreeCase{"TextAfterBracketIgnored", "[1A00]\n[1A00sub2] ; mapping\n",
                 "[1A00] 1A000000\n  [1A00sub2] 1A000002\n"},
        TreeCase{"SubInAnyCaseHexSubIndex", "[2000]\n[2000SUBa]\n[2000Sub1F]\n",
                 "[2000] 20000000\n  [2000SUBa] 2000000A\n  [2000Sub1F] 2000001F\n"},
        TreeCase{"IndexKeepsLow16Bits", "[12345]\n", "[12345] 23450000\n"},
        TreeCase{"LargeSubIndexSpillsIntoIndex", "[1000]\n[1000sub12345]\n",
                 "[1000] 10000000\n  [1000sub12345] 10012345\n"},
        TreeCase{"HeaderWithoutBracketKeepsBlanks", "[1018]\n[1018sub1  \nA=1\n",
                 "[1018] 10180000\n  [1018sub1  ] 10180001|A=1\n"},
        TreeCase{"EmptyNameAndBareSub", "[]\n[SUB]\n", "[] 00000000\n  [SUB] 00000000\n"},
        TreeCase{"CommentsDroppedIndentedKept", "[1000]\n;c\n\n  ;indented\nKey = V\t\n\t;tab\n",
                 "[1000] 10000000|  ;indented|Key = V\t|\t;tab\n"},
        TreeCase{"EveryLineEnding", "[1000]\r\nA=1\r\n[2000]\rB=2\rC=3\n[3000]\n\r\n\r\rD=4",
                 "[1000] 10000000|A=1\n[2000] 20000000|B=2|C=3\n[3000] 30000000|D=4\n"},
        TreeCase{"SubUnderMostRecentObject", "[1018]\nA=1\n[1400sub1]\nB=2\n",
                 "[1018] 10180000|A=1\n  [1400sub1] 14000001|B=2\n"},
        TreeCase{"KeyBeforeSectionsDroppedSubBeforeObjectsUnderRoot",
                 "A=1\n[1000sub1]\nB=2\n[1000]\n[1000sub2]\n",
                 "[1000sub1] 10000001|B=2\n[1000] 10000000\n  [1000sub2] 10000002\n"},
        TreeCase{"NameCutAt255", "[" + kA255 + "BCD]\n", "[" + kA255 + "] AAAA0000\n"},
        TreeCase{"NameCutAt255CharactersNotBytes", "[" + kDegrees300 + "]\n",
                 "[" + kDegrees300.substr(0, 510) + "] 00000000\n"},
        TreeCase{"SubBeyondTheCutMakesAnObject", "[1000]\n[" + kSubBeyondCut + "sub5]\n",
                 "[1000] 10000000\n[" + kSubBeyondCut + "] 10000000\n"},
        TreeCase{"EmptyText", "", ""}, TreeCase{"OnlyLineEnds", "\r\n\n\r", ""}));

TEST(EdsReader, HexValueReadsLeadingDigitsOnly)
{
    const std::pair<const char*, std::uint32_t> cases[] = {{"", 0},
                                                           {"1018", 0x1018},
                                                           {"abcDEF", 0xABCDEF},
                                                           {"0x1018", 0},
                                                           {"12G4", 0x12},
                                                           {" 12", 0},
                                                           {"-1", 0},
                                                           {"FileInfo", 0xF},
                                                           {"DeviceInfo", 0xDE},
                                                           {"MandatoryObjects", 0},
                                                           {"FFFFFFFF", 0xFFFFFFFF},
                                                           {"123456789", 0x23456789}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(HexValue(text), value) << text;
}

TEST(EdsReader, WarningsAreCountedWithTheirFirstLine)
{
    const EdsTree tree =
        EdsTree::Parse("; head\nA=1\n[sub1]\nB=2\n[" + kA255 + "B]\n[" + kA255 + "C]\n[1000]\n[1000sub1]\n");
    std::string seen;
    for (const EdsWarning& w : tree.Warnings())
        seen += std::string(EdsWarningText(w.kind)) + " @" + std::to_string(w.firstLine) + " x" +
                std::to_string(w.count) + "\n";
    EXPECT_EQ(seen, "key line before any section, dropped @2 x1\n"
                    "sub-object section before any object section, placed under the root @3 x1\n"
                    "section name longer than 255 characters, cut @5 x2\n");
    EXPECT_EQ(tree.LineCount(), 8u);
    EXPECT_TRUE(EdsTree::Parse("[1000]\nA=1\n[1000sub0]\n").Warnings().empty());
}

TEST(EdsReader, ParameterNameIsTheKeysValueInAnyCase)
{
    const std::pair<const char*, const char*> cases[] = {
        {"[1000]\nParameterName=Device type\n", "Device type"},
        {"[1000]\nDataType=7\nparametername = Device type \t\nParameterName=Second\n", "Device type"},
        {"[1000]\n\tPARAMETERNAME\t=x\n", "x"},
        {"[1000]\nParameterName=\n", ""},
        {"[1000]\nParameterNames=x\nDescription=ParameterName=x\nParameterName\n", ""},
        {"[1000]\n", ""}};
    for (const auto& [text, name] : cases)
        EXPECT_EQ(ParameterName(EdsTree::Parse(text).Nodes().at(0)), name) << text;
}

TEST(EdsReader, ViewsSurviveMovingTheTree)
{
    // Short enough to live inside a string object: the tree must keep it elsewhere.
    EdsTree first = EdsTree::Parse("[1]\nA=1");
    std::vector<EdsTree> trees;
    trees.push_back(std::move(first));
    trees.push_back(EdsTree::Parse("[2]"));
    EXPECT_EQ(Render(trees[0]), "[1] 00010000|A=1\n");
}

TEST(EdsReader, MemoLinesOfThePage)
{
    const EdsTree tree = EdsTree::Parse("[1018]\n[1018sub1]\nParameterName=Vendor\n DataType=7\n");
    const EDSNode& sub = tree.Nodes()[1];
    EXPECT_EQ(SectionMemoLines(&sub),
              (std::vector<std::string>{" ", " ParameterName=Vendor", "  DataType=7"}));
    EXPECT_EQ(SectionMemoLines(&tree.Nodes()[0]), std::vector<std::string>{" "});
    EXPECT_EQ(SectionMemoLines(nullptr), std::vector<std::string>{" "});
    EXPECT_EQ(AddressMemoLine(&sub), " 10180001");
    EXPECT_EQ(AddressMemoLine(nullptr), "no node");
}

TEST(EdsReader, VendorShapedFileWithCrLf)
{
    std::error_code error;
    const auto tree = ReadEdsFile(TERVIX_TEST_DATA_DIR "/load_cell_module.eds", error);
    ASSERT_TRUE(tree.has_value()) << error.message();
    EXPECT_EQ(tree->LineCount(), 70u);
    EXPECT_TRUE(tree->Warnings().empty());
    EXPECT_EQ(Render(*tree),
              "[FileInfo] 000F0000|FileName=load_cell_module.eds|FileVersion=3|EDSVersion=4.0"
              "|Description=Load cell module LC-1\n"
              "[DeviceInfo] 00DE0000|VendorName=Example Scales|VendorNumber=0x00000123|ProductName=LC-1"
              "|BaudRate_250=1|NrOfRXPDO=1|NrOfTXPDO=1\n"
              "[Comments] 000C0000|Lines=1|Line1=Temperature in \xC2\xB0"
              "C\n"
              "[MandatoryObjects] 00000000|SupportedObjects=2|1=0x1000|2=0x1018\n"
              "[1000] 10000000|ParameterName=Device type|ObjectType=0x7|DataType=0x0007|AccessType=ro"
              "|DefaultValue=0x00000000\n"
              "[1018] 10180000|ParameterName=Identity Object|ObjectType=0x9|SubNumber=2\n"
              "  [1018sub0] 10180000|ParameterName=Number of entries|ObjectType=0x7|DataType=0x0005"
              "|AccessType=ro|DefaultValue=1\n"
              "  [1018sub1] 10180001|ParameterName=Vendor Id|ObjectType=0x7|DataType=0x0007|AccessType=ro"
              "|DefaultValue=0x00000123\n"
              "[1A00] 1A000000|ParameterName=TPDO1 mapping|ObjectType=0x9|SubNumber=2\n"
              "  [1A00sub0] 1A000000|DataType=0x0005|  ; kept: not a comment, it does not start with ';'\n"
              "  [1A00sub1] 1A000001|ParameterName=Gross value|DataType=0x0007|DefaultValue=0x60000120\n"
              "[6000] 60000000|ParameterName=Gross value|ObjectType=0x7|DataType=0x0004|AccessType=ro"
              "|PDOMapping=1\n");
}

TEST(EdsReader, UnreadableFilesGiveTheSystemsReason)
{
    std::error_code error;
    EXPECT_FALSE(ReadEdsFile(TERVIX_TEST_DATA_DIR "/no_such_file.eds", error).has_value());
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
    EXPECT_FALSE(ReadEdsFile(TERVIX_TEST_DATA_DIR, error).has_value());
    EXPECT_EQ(error, std::errc::is_a_directory);
}

} // namespace
