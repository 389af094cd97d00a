#include "cli.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using namespace tervix::cli;

namespace {

TEST(CliEds, TextShowsTheTreeWithAddressesLineCountsAndAccess)
{
    const Result r =
        RunTool({"eds", "-"}, "; x\r\n[1000]\r\nA=1\r\n[1000sub1]\r\nB=2\r\nC=3\r\n[FileInfo]\r\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Electronic data sheet\n"
                     "  [1000] 10000000 1 read/write\n"
                     "    [1000sub1] 10000001 2 read/write\n"
                     "  [FileInfo] 000F0000 0 structure only\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(RunTool({"eds", "-"}).out, "Electronic data sheet\n");
}

TEST(CliEds, JsonNestsSubObjectsAndEscapes)
{
    // Windows-1252 bytes (B5, E9, 9D unassigned), a control byte, quote,
    // backslash and tab.
    const Result r =
        RunTool({"eds", "--json", "-"},
                "[1018]\nParameterName=Identity \x9D\n[1018sub2]\nName=\xB5\x01\"\\\t\n[caf\xE9]\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "{\"root\": {\"text\": \"Electronic data sheet\", \"children\": ["
              "{\"text\": \"[1018]\", \"indexsub\": 270008320, \"index\": 4120, \"subindex\": 0, "
              "\"parameter_name\": \"Identity \\u009d\", "
              "\"lines\": [\"ParameterName=Identity \\u009d\"], \"children\": ["
              "{\"text\": \"[1018sub2]\", \"indexsub\": 270008322, \"index\": 4120, \"subindex\": 2, "
              "\"parameter_name\": \"\", "
              "\"lines\": [\"Name=\xC2\xB5\\u0001\\\"\\\\\\t\"], \"children\": []}]}, "
              "{\"text\": \"[caf\xC3\xA9]\", \"indexsub\": 212795392, \"index\": 3247, \"subindex\": 0, "
              "\"parameter_name\": \"\", \"lines\": [], \"children\": []}]}}\n");
    EXPECT_EQ(RunTool({"eds", "--json", "-"}).out,
              "{\"root\": {\"text\": \"Electronic data sheet\", \"children\": []}}\n");
}

// The same text in either encoding prints the same; a byte-order mark does
// not hide the first section.
struct EncodingCase {
    const char* name;
    std::string bytes;
    const char* out;
};

void PrintTo(const EncodingCase& c, std::ostream* os)
{
    *os << c.name;
}

class CliEdsEncoding : public testing::TestWithParam<EncodingCase> {};

TEST_P(CliEdsEncoding, PrintsUtf8)
{
    const Result r = RunTool({"eds", "-"}, GetParam().bytes);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, GetParam().out);
    EXPECT_EQ(r.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Files, CliEdsEncoding,
    testing::Values(EncodingCase{"Windows1252",
                                 "[6000]\r\nParameterName=Temp \xB0"
                                 "C\r\n",
                                 "Electronic data sheet\n  [6000] 60000000 1 read/write \"Temp \xC2\xB0"
                                 "C\"\n"},
                    EncodingCase{
                        "Utf8BomKeepsFileInfo",
                        "\xEF\xBB\xBF[FileInfo]\nFileName=x.eds\n[6000]\r\nParameterName=Temp \xC2\xB0"
                        "C\r\n",
                        "Electronic data sheet\n  [FileInfo] 000F0000 1 structure only\n"
                        "  [6000] 60000000 1 read/write \"Temp \xC2\xB0"
                        "C\"\n"}),
    [](const testing::TestParamInfo<EncodingCase>& info) { return std::string(info.param.name); });

TEST(CliEds, WarningsGoToStandardError)
{
    const Result r = RunTool({"eds", "-"}, "A=1\nB=2\n[sub1]\n[1000]\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Electronic data sheet\n"
                     "  [sub1] 00000001 0 structure only\n"
                     "  [1000] 10000000 0 read/write\n");
    EXPECT_EQ(r.err, "tervix-cli eds: line 1: key line before any section, dropped (and 1 more)\n"
                     "tervix-cli eds: line 3: sub-object section before any object section, placed under "
                     "the root\n");
}

TEST(CliEds, ExitStatusAndMessage)
{
    struct Case {
        std::vector<std::string_view> args;
        int status;
        const char* outStart;
        const char* errStart;
    };
    const Case cases[] = {
        {{"eds", "--help"}, 0, "Usage: tervix-cli eds [--json] FILE|-\n", ""},
        {{"--help"}, 0, "Usage: tervix-cli COMMAND", ""},
        {{"eds"}, 1, "", "tervix-cli eds: missing FILE\nTry 'tervix-cli eds --help'."},
        {{"eds", "--tree", "x.eds"}, 1, "", "tervix-cli eds: unknown option '--tree'"},
        {{"eds", "a.eds", "b.eds"}, 1, "", "tervix-cli eds: more than one input file"},
        {{"eds", "/nonexistent/x.eds"},
         2,
         "",
         "tervix-cli eds: cannot open '/nonexistent/x.eds': No such file or directory\n"},
        {{"eds", "--json", "/"}, 2, "", "tervix-cli eds: cannot open '/': Is a directory\n"}};
    for (const Case& c : cases) {
        const Result r = RunTool(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back();
        EXPECT_TRUE(r.out.starts_with(c.outStart) && (c.status == 0 || r.out.empty())) << r.out;
        EXPECT_TRUE(r.err.starts_with(c.errStart)) << r.err;
    }
    EXPECT_NE(RunTool({"--help"}).out.find("\n  eds "), std::string::npos);
}

// The example unit's file: the objects the simulated unit answers for, each
// followed by one "+" per sub-object (their names apart).
TEST(CliEds, QuorbitHasTheUnitsObjects)
{
    const Result r = RunTool({"eds", TERVIX_EXAMPLES_DIR "/Quorbit.eds"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("\n  [1018] 10180000 3 read/write \"Identity object\"\n"), std::string::npos);
    std::string objects;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        objects += !line.starts_with("    ") ? "\n" + line.substr(0, line.find(" \""))
                   : objects.ends_with("+")  ? "+"
                                             : " +";
    EXPECT_EQ(objects,
              "\nElectronic data sheet\n  [FileInfo] 000F0000 11 structure only"
              "\n  [DeviceInfo] 00DE0000 22 structure only\n  [DummyUsage] 000D0000 7 structure only"
              "\n  [Comments] 000C0000 3 structure only\n  [MandatoryObjects] 00000000 4 structure only"
              "\n  [OptionalObjects] 00000000 6 structure only"
              "\n  [ManufacturerObjects] 00000000 11 structure only"
              "\n  [1000] 10000000 6 read/write\n  [1001] 10010000 6 read/write"
              "\n  [1002] 10020000 6 read/write\n  [1008] 10080000 6 read/write"
              "\n  [1009] 10090000 6 read/write\n  [100A] 100A0000 6 read/write"
              "\n  [1017] 10170000 6 read/write\n  [1018] 10180000 3 read/write +++++"
              "\n  [2000] 20000000 6 read/write"
              "\n  [2100] 21000000 3 read/write +++++++++++++++++"
              "\n  [2200] 22000000 3 read/write +++++++++++++"
              "\n  [2500] 25000000 3 read/write +++++++++\n  [2600] 26000000 3 read/write +++++"
              "\n  [2700] 27000000 3 read/write +++++\n  [2800] 28000000 3 read/write +++++"
              "\n  [2900] 29000000 3 read/write +++\n  [2A00] 2A000000 3 read/write ++"
              "\n  [2B00] 2B000000 3 read/write +++++++");
    for (const char* sub :
         {"\n    [2900sub8] 29000008 6 read/write \"", "\n    [2900sub9] 29000009 6 read/write \""})
        EXPECT_NE(r.out.find(sub), std::string::npos) << sub;
    EXPECT_NE(r.out.find("\n    [2100sub10] 21000010 "), std::string::npos);
}

} // namespace
