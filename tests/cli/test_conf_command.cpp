#include "cli.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <unistd.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace tervix::cli;

namespace {

Result RunConf(const std::string& text, bool json = false)
{
    return json ? RunTool({"conf", "--json", "-"}, text) : RunTool({"conf", "-"}, text);
}

std::string IgnoredPart(const std::string& out)
{
    const std::size_t at = out.find("Ignored lines:\n");
    return at == std::string::npos ? out : out.substr(at);
}

TEST(CliConfTest, TextShowsRowsButtonsAndIgnoredLines)
{
    const Result r = RunConf("; parameter rows\n"
                             "sheet Standard\n"
                             "item1=First parameter'\n"
                             "item2=Second parameter'\n"
                             "[FunctionButtons]\n"
                             "fbutton 3='Btn 3' 'Second text' 'Third text\\next line' 2000sub01,DIRECT,\n"
                             "fbutton 4='Btn 4' 'Second text' 'Third text' 2000sub02,DIALOG_1,\n"
                             "fbutton 5='' 'x' 'y' 2000,BOGUS,\n"
                             "fbutton 120='Z'\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "Standard: header on line 2, 2 rows\n"
                     "  01  First parameter   21000001\n"
                     "  02  Second parameter  21000002\n"
                     "Trigger: no section\n"
                     "Filling: no section\n"
                     "Mass Flow: no section\n"
                     "Buttons:\n"
                     "  3 \"Btn 3\" DIRECT 20000001 enabled\n"
                     "    description \"Btn 3 - Second text\"\n"
                     "    hint \"Second text - Third text\\nnext line\"\n"
                     "  4 \"Btn 4\" DIALOG_1 20000002 enabled\n"
                     "    description \"Btn 4 - Second text\"\n"
                     "    hint \"Second text - Third text\"\n"
                     "  5 \"\" - 20000000 disabled\n"
                     "    description \" - x\"\n"
                     "    hint \"x - y\"\n"
                     "  82 \"S-Net\" RPDO1 00800000 enabled\n"
                     "    description \"\"\n"
                     "    hint \"Select Net Value\"\n"
                     "  83 \"S-Gross\" RPDO1 00400000 enabled\n"
                     "    description \"\"\n"
                     "    hint \"Select Gross Value\"\n"
                     "  84 \"S-Flow\" RPDO1 00200000 enabled\n"
                     "    description \"\"\n"
                     "    hint \"Select Flow Value\"\n"
                     "Ignored lines:\n"
                     "  line 9 \"fbutton 120='Z'\": button number above 109\n");
}

TEST(CliConfTest, TextShowsCaptionOfAnUnconfiguredButtonAndLatin1AsUtf8)
{
    const Result r = RunConf("x\rsheet Filling\ritem1=Dichte g/cm\xB3'\r[FunctionButtons]\r"
                             "fbutton 7='T\xE4ra' 'B' 'C' ,DIRECT,\r");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Filling: header on line 2, 1 row\n  01  Dichte g/cm\xC2\xB3  22000001\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Buttons:\n  7 \"T\xC3\xA4ra\" - 00000000 disabled, not configured\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(IgnoredPart(r.out), "Ignored lines:\n"
                                  "  line 5 \"fbutton 7='T\xC3\xA4ra' 'B' 'C' ,DIRECT,\": "
                                  "no hexadecimal digits for the index\n");
}

TEST(CliConfTest, JsonHoldsEveryPageAndButton)
{
    const Result r = RunConf("x\n"
                             "sheet Trigger\n"
                             "item1=Gr\xF6\xDF"
                             "e \"A\"'\n"
                             "[FunctionButtons]\n"
                             "fbutton 0='a\\b' 'B' 'l1\\l2' 2500sub01,DIALOG_2,\n"
                             "fbutton 1='x' 'substance' 'z' 2000,DIRECT,\n",
                             true);
    EXPECT_EQ(r.status, 1);
    const std::size_t buttonsAt = r.out.find("  \"buttons\": [\n");
    ASSERT_NE(buttonsAt, std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(0, buttonsAt),
              "{\n"
              "  \"pages\": [\n"
              "    {\"caption\": \"Standard\", \"header_line\": null, \"rows\": []},\n"
              "    {\"caption\": \"Trigger\", \"header_line\": 1, \"rows\": [\n"
              "      {\"sub\": 1, \"label\": \"01  Gr\xC3\xB6\xC3\x9F"
              "e \\\"A\\\"\", \"indexsub\": 620756993}\n"
              "    ]},\n"
              "    {\"caption\": \"Filling\", \"header_line\": null, \"rows\": []},\n"
              "    {\"caption\": \"Mass Flow\", \"header_line\": null, \"rows\": []}\n"
              "  ],\n");
    for (const char* line :
         {"    {\"number\": 0, \"caption\": \"a\\\\b\", \"description\": \"a\\\\b - B\", \"hint\": \"B - "
          "l1\\rl2\", "
          "\"indexsub\": 620756993, \"kind\": 4, \"configured\": true, \"enabled\": true},\n",
          "    {\"number\": 1, \"caption\": \"x\", \"description\": \"x - substance\", \"hint\": \"substance "
          "- z\", "
          "\"indexsub\": 536870912, \"kind\": 0, \"configured\": false, \"enabled\": false},\n",
          "    {\"number\": 2, \"caption\": \"\", \"description\": \"\", \"hint\": \"\", \"indexsub\": 0, "
          "\"kind\": 0, "
          "\"configured\": false, \"enabled\": false},\n",
          "    {\"number\": 83, \"caption\": \"S-Gross\", \"description\": \"\", \"hint\": \"Select Gross "
          "Value\", "
          "\"indexsub\": 4194304, \"kind\": 6, \"configured\": true, \"enabled\": true},\n",
          "    {\"number\": 109, \"caption\": \"\", \"description\": \"\", \"hint\": \"\", \"indexsub\": 0, "
          "\"kind\": 0, "
          "\"configured\": false, \"enabled\": false}\n  ],\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line;
    std::size_t count = 0;
    for (std::size_t at = r.out.find("{\"number\": "); at != std::string::npos;
         at = r.out.find("{\"number\": ", at + 1))
        ++count;
    EXPECT_EQ(count, 110u);
    EXPECT_TRUE(r.out.ends_with("  \"ignored\": [\n"
                                "    {\"line\": 5, \"reason\": \"no hexadecimal digits after 'sub'\"}\n"
                                "  ]\n"
                                "}\n"))
        << r.out;
}

TEST(CliConfTest, JsonOfAnEmptyFileIgnoresNothing)
{
    const Result r = RunConf("", true);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.ends_with("\"enabled\": false}\n  ],\n  \"cuts\": [],\n  \"ignored\": []\n}\n"))
        << r.out;
}

// The columns line up by characters, however many bytes a UTF-8 label takes.
TEST(CliConfTest, ColumnsCountCharacters)
{
    const Result r = RunConf("x\nsheet Standard\nitem1=\xC2\xB0\xC2\xB0\xC2\xB0'\nitem2=abcd'\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.starts_with("Standard: header on line 2, 2 rows\n"
                                  "  01  \xC2\xB0\xC2\xB0\xC2\xB0   21000001\n"
                                  "  02  abcd  21000002\n"))
        << r.out;
}

// ---- Where the text was cut short ---------------------------------------------

struct CutCase {
    const char* name;
    std::string file; // "-": `text` on standard input
    std::string text;
    std::string shown; // a part of the text output, "" for none
    std::string cut;   // the one line under "Cut short:"
};

void PrintTo(const CutCase& c, std::ostream* os)
{
    *os << c.name;
}

class CliConfCutTest : public testing::TestWithParam<CutCase> {};

TEST_P(CliConfCutTest, KeepsWhatFitsSaysWhereAndExitsWithOne)
{
    const CutCase& c = GetParam();
    const Result text = RunTool({"conf", c.file}, c.text);
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.out.find(c.shown), std::string::npos) << text.out.substr(0, 2000);
    EXPECT_TRUE(text.out.ends_with("Ignored lines:\nCut short:\n  " + c.cut + "\n"))
        << text.out.substr(0, 2000);
    const Result json = RunTool({"conf", "--json", c.file}, c.text);
    EXPECT_EQ(json.status, 1);
    EXPECT_TRUE(json.out.ends_with("  \"cuts\": [\n    \"" + c.cut + "\"\n  ],\n  \"ignored\": []\n}\n"));
}

std::string Repeated(std::string_view piece, std::size_t times)
{
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

const std::string kButtons = "[FunctionButtons]\n";

INSTANTIATE_TEST_SUITE_P(
    Cuts, CliConfCutTest,
    testing::Values(
        CutCase{"NulByte", "-", std::string("x\nsheet Standard\nitem1=A'") + '\0' + "item2=B'\n", ", 1 row\n",
                "a NUL byte at byte 26 ends the text; the rest of the file is not read"},
        // The limit falls inside a degree sign: the text stays UTF-8 without it.
        CutCase{"LongerThanTheLimit", "-",
                kButtons + "fbutton 5='\xC2\xB0' 'B' 'C' 2000,DIRECT,\n" + std::string(4194249, 'x') +
                    "\xC2\xB0\xC2\xB0",
                "  5 \"\xC2\xB0\" DIRECT", "the file is longer than 4194304 bytes; the rest is not read"},
        // /dev/zero and 50,000 definitions of one button: the window's own table.
        // 800 bytes, " - ", then of 400 euro signs (3 bytes each) the 73 that fit.
        CutCase{"HintCutBetweenCharacters", "-",
                kButtons + "fbutton 5='X' '" + Repeated("\xC2\xB0", 400) + "' '" +
                    Repeated("\xE2\x82\xAC", 400) + "' 2000,DIRECT,\n",
                "hint \"" + Repeated("\xC2\xB0", 400) + " - " + Repeated("\xE2\x82\xAC", 73) + "\"\n",
                "line 2: the texts of button 5 reach 1024 bytes and are cut there"}),
    [](const testing::TestParamInfo<CutCase>& info) { return std::string(info.param.name); });

// ---- Every reason a line is ignored -----------------------------------------

struct ReasonCase {
    const char* name;
    std::string text;
    std::string ignored; // the "Ignored lines:" part of the output
};

class CliConfReasonTest : public testing::TestWithParam<ReasonCase> {};

TEST_P(CliConfReasonTest, NamesTheLineAndWhy)
{
    const Result r = RunConf(GetParam().text);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(IgnoredPart(r.out), "Ignored lines:\n" + GetParam().ignored);
}

std::string Items(int count)
{
    std::string text;
    for (int k = 1; k <= count; ++k)
        text += "item" + std::to_string(k) + "=P'\n";
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, CliConfReasonTest,
    testing::Values(
        ReasonCase{"NoNumber", "[FunctionButtons]\nfbutton x='A'\n",
                   "  line 2 \"fbutton x='A'\": no button number\n"},
        ReasonCase{"NumberAbove109", "[FunctionButtons]\nfbutton 110='A'\n",
                   "  line 2 \"fbutton 110='A'\": button number above 109\n"},
        ReasonCase{"NoIndex", "[FunctionButtons]\n;\nfbutton 1='A' 'B' 'C'\n",
                   "  line 3 \"fbutton 1='A' 'B' 'C'\": no hexadecimal digits for the index\n"},
        ReasonCase{"IndexTooLarge", "[FunctionButtons]\nfbutton 1='A' 'B' 'C' 100000000,DIRECT,\n",
                   "  line 2 \"fbutton 1='A' 'B' 'C' 100000000,DIRECT,\": index above FFFFFFFF\n"},
        ReasonCase{"NoDigitsAfterSub", "[FunctionButtons]\nfbutton 1='A' 'substance' 'C' 2000sub1,DIRECT,\n",
                   "  line 2 \"fbutton 1='A' 'substance' 'C' 2000sub1,DIRECT,\": no hexadecimal digits after "
                   "'sub'\n"},
        ReasonCase{"NoDigitsAfterUpperSub", "[FunctionButtons]\nfbutton 1='A' 'B' 'C' 2000SUB,DIRECT,\n",
                   "  line 2 \"fbutton 1='A' 'B' 'C' 2000SUB,DIRECT,\": no hexadecimal digits after 'SUB'\n"},
        ReasonCase{"SubIndexTooLarge", "[FunctionButtons]\nfbutton 1='A' 'B' 'C' 2000sub1FFFFFFFF,DIRECT,\n",
                   "  line 2 \"fbutton 1='A' 'B' 'C' 2000sub1FFFFFFFF,DIRECT,\": sub-index after 'sub' above "
                   "FFFFFFFF\n"},
        ReasonCase{"UpperSubIndexTooLarge",
                   "[FunctionButtons]\nfbutton 1='A' 'B' 'C' 2000SUB1FFFFFFFF,DIRECT,\n",
                   "  line 2 \"fbutton 1='A' 'B' 'C' 2000SUB1FFFFFFFF,DIRECT,\": sub-index after 'SUB' above "
                   "FFFFFFFF\n"},
        ReasonCase{"ItemAfterThe32nd", "x\nsheet Standard\n" + Items(33),
                   "  line 35 \"item33=P'\": item line after the page's 32nd\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Options and exit statuses ----------------------------------------------

class CliConfFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() /
               ("tervix-conf-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Path(const char* name) const { return (dir_ / name).string(); }

    std::filesystem::path dir_;
};

TEST_F(CliConfFileTest, ExitStatuses)
{
    std::ofstream(Path("clean.conf")) << "[FunctionButtons]\nfbutton 1='A' 'B' 'C' 2000,DIRECT,\n";
    const std::string clean = Path("clean.conf");
    const std::string missing = Path("missing.conf");
    const std::string dir = dir_.string();

    EXPECT_EQ(RunTool({"conf", clean}).status, 0);
    EXPECT_EQ(RunTool({"conf", "--json", clean}).status, 0);

    const Result gone = RunTool({"conf", missing});
    EXPECT_EQ(gone.status, 2);
    EXPECT_EQ(gone.out, "");
    EXPECT_EQ(gone.err, "tervix-cli conf: Cannot open file " + missing + ": No such file or directory\n");
    EXPECT_EQ(RunTool({"conf", dir}).status, 2);

    const Result badOption = RunTool({"conf", "--xml", clean});
    EXPECT_EQ(badOption.status, 1);
    EXPECT_NE(badOption.err.find("unknown option '--xml'"), std::string::npos) << badOption.err;
    EXPECT_EQ(RunTool({"conf", clean, clean}).status, 1);

    const Result help = RunTool({"conf", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: tervix-cli conf [--json] [FILE|-]\n")) << help.out;
}

// A named pipe and a POSIX shell: not on Windows, where the reader has no wait
// to cut (no endless device has a file name there).
#ifndef _WIN32
// A pipe whose writer stays but sends nothing more is read for a second at most.
TEST_F(CliConfFileTest, PipeThatDoesNotEndIsCut)
{
    const std::string fifo = Path("Tervix.conf");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int held = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK); // a writer that stays
    ASSERT_GE(held, 0);
    const std::string text = "x\nsheet Trigger\nitem1=Level'\n";
    ASSERT_EQ(::write(held, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    const Result r = RunTool({"conf", fifo});
    ::close(held);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Trigger: header on line 2, 1 row\n"), std::string::npos) << r.out;
    EXPECT_TRUE(r.out.ends_with("Cut short:\n  the file did not end within 1000 ms; reading stopped after " +
                                std::to_string(text.size()) + " bytes\n"))
        << r.out;
}

// The window reads "Tervix.conf" from the working directory; so does the command.
TEST_F(CliConfFileTest, ReadsTervixConfInTheWorkingDirectoryByDefault)
{
    std::ofstream(Path("Tervix.conf")) << "x\nsheet Mass Flow\nitem1=Rate'\n";
    const std::string command = "cd '" + dir_.string() + "' && '" + TERVIX_CLI_PATH + "' conf >out";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 0);
    std::ostringstream out;
    out << std::ifstream(Path("out")).rdbuf();
    EXPECT_NE(out.str().find("Mass Flow: header on line 2, 1 row\n  01  Rate  2B000001\n"), std::string::npos)
        << out.str();
}
#endif

// The unit simulator's own file: all four pages and no line the window passes over.
TEST(CliConfExampleTest, ShippedExampleIsClean)
{
    const Result r = RunTool({"conf", TERVIX_EXAMPLES_DIR "/Tervix.conf"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    for (const char* page : {"Standard: header on line", "Trigger: header on line", "Filling: header on line",
                             "Mass Flow: header on line"})
        EXPECT_NE(r.out.find(page), std::string::npos) << page;
    EXPECT_NE(r.out.find(", 16 rows\n"), std::string::npos);
    EXPECT_NE(r.out.find("  16  "), std::string::npos);
    EXPECT_TRUE(r.out.ends_with("Ignored lines:\n")) << r.out;
}

} // namespace
