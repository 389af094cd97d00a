#include "config_file.h"
#include "hex_text.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

using namespace tervix;

namespace {

using Lines = std::vector<std::string>;

std::vector<std::string> AllLines(const ConfigLines& lines)
{
    std::vector<std::string> all;
    for (std::size_t n = 0; n < lines.Count(); ++n)
        all.emplace_back(lines.Line(n));
    return all;
}

// ---- Cutting the text into lines --------------------------------------------

struct SplitCase {
    const char* name;
    std::string text;
    Lines lines;
};

class ConfigLinesSplitTest : public testing::TestWithParam<SplitCase> {};

TEST_P(ConfigLinesSplitTest, CutsAtEveryLineEnd)
{
    EXPECT_EQ(AllLines(ConfigLines::FromText(GetParam().text)), GetParam().lines);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Texts, ConfigLinesSplitTest,
    testing::Values(SplitCase{"Empty", "", {}}, SplitCase{"LfOnly", "a\nb", {"a", "b"}},
                    SplitCase{"CrLfWithFinalEnd", "a\r\nb\r\n", {"a", "b"}},
                    SplitCase{"CrOnlyFile", "sheet Standard\ritem1=A'\r", {"sheet Standard", "item1=A'"}},
                    SplitCase{"LfCrIsTwoEnds", "a\n\rb", {"a", "", "b"}},
                    SplitCase{"EmptyLinesKept", "\n\na\r\r", {"", "", "a", ""}},
                    SplitCase{"NulEndsTheText", "a\nb\0c\nd"s, {"a", "b"}},
                    SplitCase{"NulFirst", "\0a\n"s, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The text's encoding -----------------------------------------------------

struct EncodingCase {
    const char* name;
    std::string bytes;
    Lines lines; // UTF-8
    TextEncoding encoding;
};

class ConfigEncodingTest : public testing::TestWithParam<EncodingCase> {};

TEST_P(ConfigEncodingTest, DecidedOnceForTheWholeText)
{
    const ConfigLines lines = ConfigLines::FromText(GetParam().bytes);
    EXPECT_EQ(AllLines(lines), GetParam().lines);
    EXPECT_EQ(lines.Encoding(), GetParam().encoding);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ConfigEncodingTest,
    testing::Values(
        EncodingCase{"Utf8Degree",
                     "Temp \xC2\xB0"
                     "C",
                     {"Temp \xC2\xB0"
                      "C"},
                     TextEncoding::Utf8},
        // One byte that is no UTF-8 decides for every line, the valid ones too.
        EncodingCase{"OneBadByteDecidesAll",
                     "\xC2\xB0\n\xB0",
                     {"\xC3\x82\xC2\xB0", "\xC2\xB0"},
                     TextEncoding::Windows1252},
        EncodingCase{"BomSkipped",
                     "\xEF\xBB\xBF[FunctionButtons]\r\nfbutton",
                     {"[FunctionButtons]", "fbutton"},
                     TextEncoding::Utf8},
        EncodingCase{"BomThenWindows1252",
                     "\xEF\xBB\xBF"
                     "a\xB0",
                     {"a\xC2\xB0"},
                     TextEncoding::Windows1252},
        EncodingCase{"OverlongSlashIsNoUtf8", "\xC0\xAF", {"\xC3\x80\xC2\xAF"}, TextEncoding::Windows1252},
        EncodingCase{
            "SurrogateIsNoUtf8", "\xED\xA0\x80", {"\xC3\xAD\xC2\xA0\xE2\x82\xAC"}, TextEncoding::Windows1252},
        EncodingCase{"FourByteUtf8", "\xF0\x9F\x98\x80", {"\xF0\x9F\x98\x80"}, TextEncoding::Utf8},
        EncodingCase{"AboveU10FFFFIsNoUtf8",
                     "\xF4\x90\x80\x80",
                     {"\xC3\xB4\xC2\x90\xE2\x82\xAC\xE2\x82\xAC"},
                     TextEncoding::Windows1252}),
    [](const auto& info) { return std::string(info.param.name); });

// One Windows-1252 byte as the system converts it to UTF-8; nothing for a
// byte the code page leaves unassigned. Windows's own table gives those the
// C1 control of their value, which counts as unassigned here.
std::optional<std::string> SystemWindows1252(int byte)
{
    char in[1] = {static_cast<char>(byte)};
#ifdef _WIN32
    wchar_t wide[2] = {};
    char out[8] = {};
    if (MultiByteToWideChar(1252, MB_ERR_INVALID_CHARS, in, 1, wide, 2) != 1 ||
        (wide[0] >= 0x80 && wide[0] <= 0x9F))
        return std::nullopt;
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, 1, out, sizeof out, nullptr, nullptr);
    return std::string(out, static_cast<std::size_t>(n));
#else
    const iconv_t cd = iconv_open("UTF-8", "CP1252");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    char out[8] = {};
    char* inPtr = in;
    char* outPtr = out;
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof out;
    const bool converted = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    return converted ? std::optional<std::string>(std::string(out, outPtr)) : std::nullopt;
#endif
}

// Each upper byte alone (never UTF-8) against the system's converter (iconv,
// or Windows's code page); the five bytes Windows-1252 leaves unassigned
// become the C1 controls of their value.
TEST(ConfigEncodingTest, EveryUpperByteAsTheSystemReadsWindows1252)
{
    int unassigned = 0;
    for (int b = 0x80; b <= 0xFF; ++b) {
        std::optional<std::string> expected = SystemWindows1252(b);
        if (!expected) {
            ++unassigned;
            expected = std::string{'\xC2', static_cast<char>(b)};
        }
        EXPECT_EQ(AllLines(ConfigLines::FromText(std::string(1, static_cast<char>(b)))), Lines{*expected})
            << std::hex << b;
    }
    EXPECT_EQ(unassigned, 5);
}

// ---- The whole-line search --------------------------------------------------

struct FindCase {
    const char* name;
    Lines lines;
    const char* text;
    std::optional<std::size_t> found;
};

class ConfigLinesFindTest : public testing::TestWithParam<FindCase> {};

TEST_P(ConfigLinesFindTest, MatchesWholeLinesIgnoringCase)
{
    EXPECT_EQ(ConfigLines(GetParam().lines).Find(GetParam().text), GetParam().found);
}

INSTANTIATE_TEST_SUITE_P(
    Searches, ConfigLinesFindTest,
    testing::Values(FindCase{"OnLineZero", {"[functionbuttons]", "x"}, "[FunctionButtons]", 0},
                    FindCase{"FirstOfSeveral", {"x", "SHEET TRIGGER", "sheet Trigger"}, "sheet Trigger", 1},
                    FindCase{"LeadingSpace", {" sheet Trigger"}, "sheet Trigger", std::nullopt},
                    FindCase{"TrailingSpace", {"sheet Trigger "}, "sheet Trigger", std::nullopt},
                    FindCase{"Prefix", {"sheet Trigger2"}, "sheet Trigger", std::nullopt},
                    FindCase{"OnlyAsciiLettersFold", {"\xC9", "\xE9"}, "\xE9", 1}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Page sections ----------------------------------------------------------

struct PageCase {
    const char* name;
    std::string text;
    std::size_t page;
    std::optional<std::size_t> header;
    Lines labels;
};

class PageSectionTest : public testing::TestWithParam<PageCase> {};

TEST_P(PageSectionTest, FindsHeaderAndRows)
{
    const PageCase& c = GetParam();
    std::vector<IgnoredLine> ignored;
    const PageSection section = ReadPageSection(ConfigLines::FromText(c.text), c.page, ignored);
    EXPECT_EQ(section.headerLine, c.header);
    Lines labels;
    for (const ParamRow& row : section.rows)
        labels.push_back(row.label);
    EXPECT_EQ(labels, c.labels);
    EXPECT_TRUE(ignored.empty());
}

const std::string k70 = "item1=" + std::string(57, 'x') + "ABCDEFG"; // 6 + 57 + 7 characters

INSTANTIATE_TEST_SUITE_P(
    Files, PageSectionTest,
    testing::Values(
        PageCase{
            "Sample",
            "; rows\nsheet Standard\nitem1=First parameter'\nitem2=Second parameter'\n[FunctionButtons]\n",
            0,
            1,
            {"01  First parameter", "02  Second parameter"}},
        PageCase{"HeaderOnLineZero", "sheet Standard\nitem1=A'\n", 0, std::nullopt, {}},
        // The first match counts, even when it is the unusable line 0.
        PageCase{"FirstMatchOnLineZero", "sheet Trigger\nx\nsheet Trigger\nitem1=A'\n", 1, std::nullopt, {}},
        PageCase{"LowerCaseHeader", "x\nsheet standard\nitem1=A'", 0, 1, {"01  A"}},
        PageCase{"CaptionWithSpace", "x\r\nSheet MASS FLOW\r\nitem1=Flow'\r\n", 3, 1, {"01  Flow"}},
        PageCase{"HeaderWithTrailingSpace", "x\nsheet Filling \nitem1=A'\n", 2, std::nullopt, {}},
        PageCase{"UpperCaseItemEnds", "x\nsheet Filling\nitem1=A'\nITEM2=B'\n", 2, 1, {"01  A"}},
        PageCase{
            "ItemAnywhereInLine", "x\nsheet Filling\n  a item'\nxxxxxxitem'\n", 2, 1, {"01  em", "02  item"}},
        PageCase{"NoItemLines", "x\nsheet Filling\n[FunctionButtons]\n", 2, 1, {}},
        PageCase{"KeyIsAlwaysSixCharacters",
                 "x\nsheet Trigger\nitem10=Filter'\nitem\n",
                 1,
                 1,
                 {"01  =Filter", "02  "}},
        PageCase{"NoApostropheRunsToEnd", "x\nsheet Trigger\nitem1=Gain sub 2\n", 1, 1, {"01  Gain sub 2"}},
        PageCase{"CutAfterThe63rdCharacter",
                 "x\nsheet Trigger\n" + k70 + "\n",
                 1,
                 1,
                 {"01  " + std::string(57, 'x')}},
        PageCase{"ApostropheAtThe63rd",
                 "x\nsheet Trigger\n" + std::string(k70).replace(62, 1, "'") + "\n",
                 1,
                 1,
                 {"01  " + std::string(56, 'x')}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PageSectionTest, RowsStandForSubIndicesOfThePageObject)
{
    std::vector<IgnoredLine> ignored;
    const PageSection s =
        ReadPageSection(ConfigLines::FromText("x\ny\nsheet Mass Flow\nitem1=A'\nitem2=B'\n"), 3, ignored);
    ASSERT_EQ(s.rows.size(), 2u);
    EXPECT_TRUE(s.rows[0].sub == 1 && s.rows[0].line == 3 && s.rows[0].indexSub == 0x2B000001u);
    EXPECT_TRUE(s.rows[1].sub == 2 && s.rows[1].line == 4 && s.rows[1].indexSub == 0x2B000002u);
}

TEST(PageSectionTest, ItemLinesAfterThe32ndAreIgnored)
{
    std::string text = "x\nsheet Trigger\n";
    for (int k = 1; k <= 34; ++k)
        text += "item" + std::to_string(k) + (k < 10 ? "=" : "") + "P" + std::to_string(k) + "'\n";
    text += "item after an end\n";
    std::vector<IgnoredLine> ignored;
    const PageSection s = ReadPageSection(ConfigLines::FromText(text), 1, ignored);
    ASSERT_EQ(s.rows.size(), 32u);
    EXPECT_EQ(s.rows[8].label, "09  P9");
    EXPECT_EQ(s.rows[9].label, "10  P10"); // "item10" fills the six key characters
    EXPECT_EQ(s.rows[31].label, "32  P32");
    EXPECT_EQ(s.rows[31].indexSub, 0x25000020u);
    ASSERT_EQ(ignored.size(), 3u); // lines of item 33, 34 and the one after them
    EXPECT_EQ(ignored[0].line, 34u);
    EXPECT_EQ(ignored[2].line, 36u);
    EXPECT_EQ(ignored[0].reason, "item line after the page's 32nd");
}

// Item lines parted from their page's list are never rows; comments that
// mention items, and the lines of other sections, are no such lines.
struct DroppedItemCase {
    const char* name;
    std::string text;
    std::vector<std::size_t> ignored; // "item line after the page's list has ended"
};

class DroppedItemLineTest : public testing::TestWithParam<DroppedItemCase> {};

TEST_P(DroppedItemLineTest, ListedUpToTheNextHeader)
{
    const Configuration config = ReadConfiguration(ConfigLines::FromText(GetParam().text));
    std::vector<std::size_t> lines;
    for (const IgnoredLine& i : config.ignored) {
        EXPECT_EQ(i.reason, "item line after the page's list has ended") << i.line;
        lines.push_back(i.line);
    }
    EXPECT_EQ(lines, GetParam().ignored);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DroppedItemLineTest,
    testing::Values(
        DroppedItemCase{"AfterABlankLine", "x\nsheet Trigger\nitem1=A'\n\nitem2=B'\nitem3=C'\n", {4, 5}},
        DroppedItemCase{"AfterALineWithoutItem", "x\nsheet Trigger\nitem1=A'\nITEM2=B'\nitem3=C'\n", {4}},
        DroppedItemCase{"PageWithoutRows", "x\nsheet Trigger\n\nitem1=A'\n", {3}},
        DroppedItemCase{
            "CommentsAreNot", "x\nsheet Trigger\nitem1=A'\n\n; the item lines\n   ;item\n\t; item\n", {6}},
        DroppedItemCase{
            "NextPageHeaderEndsIt", "x\nsheet Trigger\nitem1=A'\n\nSHEET FILLING\nitem1=B'\n", {}},
        DroppedItemCase{
            "AnyBracketLineEndsIt",
            "x\nsheet Trigger\nitem1=A'\n\n[FunctionButtons]\nfbutton 1='item' 'B' 'C' 2000,DIRECT,\n",
            {}},
        DroppedItemCase{"OtherSheetHeaderEndsIt", "x\nsheet Trigger\n\nsheet Extra\nitem1=A'\n", {}},
        DroppedItemCase{"NoSectionNoReport", "sheet Trigger\n\nitem1=A'\n", {}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- One definition line ----------------------------------------------------

struct DefinitionCase {
    const char* name;
    std::string line;
    std::size_t number; // the button that the line works on
    const char* caption;
    const char* description;
    const char* hint;
    std::uint32_t indexSub;
    ButtonKind kind;
    bool configured;
    const char* reason; // "" when the line was read to its end
};

class ButtonDefinitionTest : public testing::TestWithParam<DefinitionCase> {};

TEST_P(ButtonDefinitionTest, FillsTheFieldsOfItsButton)
{
    const DefinitionCase& c = GetParam();
    ButtonSet buttons{};
    const auto reason = ApplyButtonDefinition(c.line, buttons);
    EXPECT_EQ(reason.value_or(""), c.reason);
    for (std::size_t n = 0; n < kButtonCount; ++n) {
        const ButtonDefinition& b = buttons[n];
        if (n != c.number) {
            EXPECT_TRUE(b.caption.empty() && b.description.empty() && b.hint.empty() && !b.configured &&
                        b.indexSub == 0 && b.kind == ButtonKind::None)
                << "button " << n << " changed";
            continue;
        }
        EXPECT_EQ(b.caption, c.caption);
        EXPECT_EQ(b.description, c.description);
        EXPECT_EQ(b.hint, c.hint);
        EXPECT_EQ(b.indexSub, c.indexSub) << std::hex << b.indexSub;
        EXPECT_EQ(b.kind, c.kind);
        EXPECT_EQ(b.configured, c.configured);
    }
}

constexpr std::size_t kNone = kButtonCount; // no button touched

INSTANTIATE_TEST_SUITE_P(
    Lines, ButtonDefinitionTest,
    testing::Values(
        DefinitionCase{"Sample",
                       R"(fbutton 3='Btn 3' 'Second text' 'Third text\next line' 2000sub01,DIRECT,)", 3,
                       "Btn 3", "Btn 3 - Second text", "Second text - Third text\rnext line", 0x20000001,
                       ButtonKind::Direct, true, ""},
        DefinitionCase{"EighthCharacterSkipped", "fbutton12='A' 'B' 'C' 2000,DINDEX,", 2, "A", "A - B",
                       "B - C", 0x20000000, ButtonKind::DIndex, true, ""},
        DefinitionCase{"TwoDigitNumber", "fbutton 12='A' 'B' 'C' 2000,DIALOG_3,", 12, "A", "A - B", "B - C",
                       0x20000000, ButtonKind::Dialog3, true, ""},
        DefinitionCase{"LeadingZerosAndLastButton", "fbutton_00109='A' 'B' 'C' 21FF,RPDO4,", 109, "A",
                       "A - B", "B - C", 0x21FF0000, ButtonKind::Rpdo4, true, ""},
        DefinitionCase{"NumberAbove109", "fbutton 110='A' 'B' 'C' 2000,DIRECT,", kNone, "", "", "", 0,
                       ButtonKind::None, false, "button number above 109"},
        DefinitionCase{"NoNumber", "fbutton ='A' 'B' 'C' 2000,DIRECT,", kNone, "", "", "", 0,
                       ButtonKind::None, false, "no button number"},
        // Backslashes become line breaks in the third text only.
        DefinitionCase{"Backslashes", R"(fbutton 1='a\b' 'c\d' 'e\f\' 2600,DIALOG_2,)", 1, "a\\b",
                       "a\\b - c\\d", "c\\d - e\rf\r", 0x26000000, ButtonKind::Dialog2, true, ""},
        DefinitionCase{"UpperCaseSub", "fbutton 1='A' 'B' 'C' 2b0aSUB0f,DIALOG_1,", 1, "A", "A - B", "B - C",
                       0x2B0A000F, ButtonKind::Dialog1, true, ""},
        DefinitionCase{"MixedCaseSubIsNoMarker", "fbutton 1='A' 'B' 'C' 2000Sub0A,RPDO1,", 1, "A", "A - B",
                       "B - C", 0x20000000, ButtonKind::Rpdo1, true, ""},
        // "sub" in a text is the marker; the kind word is then looked for from there.
        DefinitionCase{"SubInFirstText", "fbutton 1='subA' 'B' 'C' 2000,DIRECT,", 1, "subA", "subA - B",
                       "B - C", 0x2000000A, ButtonKind::Direct, true, ""},
        DefinitionCase{"SubstanceInSecondText", "fbutton 4='Fill' 'substance' 'C' 2200sub01,DIRECT,", 4,
                       "Fill", "Fill - substance", "substance - C", 0x22000000, ButtonKind::None, false,
                       "no hexadecimal digits after 'sub'"},
        DefinitionCase{"KindWordWithoutClosingComma", "fbutton 5='A' 'B' 'C' 2000sub01,DIRECT", 5, "A",
                       "A - B", "B - C", 0x20000001, ButtonKind::None, true, ""},
        DefinitionCase{"KindWordWithSpace", "fbutton 5='A' 'B' 'C' 2000, DIRECT,", 5, "A", "A - B", "B - C",
                       0x20000000, ButtonKind::None, true, ""},
        DefinitionCase{"NoIndexDigits", "fbutton 5='A' 'B' 'C' ,DIRECT,", 5, "A", "A - B", "B - C", 0,
                       ButtonKind::None, false, "no hexadecimal digits for the index"},
        // The last character of a line never belongs to a text.
        DefinitionCase{"UnclosedText", "fbutton 5='AB", 5, "A", "A - ", " - ", 0, ButtonKind::None, false,
                       "no hexadecimal digits for the index"},
        DefinitionCase{"IndexKeepsLow16Bits", "fbutton 6='A' 'B' 'C' 000012345678sub1,DIRECT,", 6, "A",
                       "A - B", "B - C", 0x56780001, ButtonKind::Direct, true, ""},
        DefinitionCase{"IndexAboveFFFFFFFF", "fbutton 6='A' 'B' 'C' 123456789,DIRECT,", 6, "A", "A - B",
                       "B - C", 0, ButtonKind::None, false, "index above FFFFFFFF"},
        DefinitionCase{"SubIndexAddedUnmasked", "fbutton 7='A' 'B' 'C' 2000sub10001,DIRECT,", 7, "A", "A - B",
                       "B - C", 0x20010001, ButtonKind::Direct, true, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The section, repeated definitions, fixed buttons, enabling ------------

struct ExpectedButton {
    std::size_t number;
    const char* caption;
    const char* description;
    const char* hint;
    std::uint32_t indexSub;
    ButtonKind kind;
    bool configured;
    bool enabled;
};

struct SectionCase {
    const char* name;
    std::string text;
    std::vector<ExpectedButton> buttons; // every other button stays blank
    std::vector<std::pair<std::size_t, const char*>> ignored;
};

class FunctionButtonSectionTest : public testing::TestWithParam<SectionCase> {};

TEST_P(FunctionButtonSectionTest, ConfiguresTheButtons)
{
    const SectionCase& c = GetParam();
    std::vector<IgnoredLine> ignored;
    const ButtonSet buttons = ReadFunctionButtons(ConfigLines::FromText(c.text), ignored);
    for (std::size_t n = 0; n < kButtonCount; ++n) {
        const ButtonDefinition& b = buttons[n];
        EXPECT_EQ(b.number, n);
        const auto e = std::find_if(c.buttons.begin(), c.buttons.end(),
                                    [n](const ExpectedButton& x) { return x.number == n; });
        if (e == c.buttons.end()) {
            EXPECT_TRUE(b.caption.empty() && b.description.empty() && !b.configured && !b.enabled)
                << "button " << n;
            continue;
        }
        EXPECT_EQ(b.caption, e->caption) << n;
        EXPECT_EQ(b.description, e->description) << n;
        EXPECT_EQ(b.hint, e->hint) << n;
        EXPECT_EQ(b.indexSub, e->indexSub) << n;
        EXPECT_EQ(b.kind, e->kind) << n;
        EXPECT_EQ(b.configured, e->configured) << n;
        EXPECT_EQ(b.enabled, e->enabled) << n;
    }
    std::vector<std::pair<std::size_t, std::string>> got;
    for (const IgnoredLine& i : ignored)
        got.emplace_back(i.line, i.reason);
    std::vector<std::pair<std::size_t, std::string>> expected(c.ignored.begin(), c.ignored.end());
    EXPECT_EQ(got, expected);
}

const ExpectedButton kSNet{82, "S-Net", "", "Select Net Value", 0x800000, ButtonKind::Rpdo1, true, true};
const ExpectedButton kSGross{83,       "S-Gross",         "",   "Select Gross Value",
                             0x400000, ButtonKind::Rpdo1, true, true};
const ExpectedButton kSFlow{84, "S-Flow", "", "Select Flow Value", 0x200000, ButtonKind::Rpdo1, true, true};

INSTANTIATE_TEST_SUITE_P(
    Files, FunctionButtonSectionTest,
    testing::Values(
        SectionCase{"NoSection", "fbutton 1='A' 'B' 'C' 2000,DIRECT,\n", {kSNet, kSGross, kSFlow}, {}},
        SectionCase{
            "HeaderOnLineZeroAnyCase",
            "[FUNCTIONBUTTONS]\nfbutton 1='A' 'B' 'C' 2000,DIRECT,\n",
            {{1, "A", "A - B", "B - C", 0x20000000, ButtonKind::Direct, true, true}, kSNet, kSGross, kSFlow},
            {}},
        SectionCase{
            "SkippedLines",
            "[FunctionButtons]\n\n   ; note\n;x\nfbutton 1='A' 'B' 'C' 2000,DIRECT,\r\n",
            {{1, "A", "A - B", "B - C", 0x20000000, ButtonKind::Direct, true, true}, kSNet, kSGross, kSFlow},
            {}},
        SectionCase{"SpacesOnlyEnd",
                    "[FunctionButtons]\n   \nfbutton 1='A' 'B' 'C' 2000,DIRECT,\n",
                    {kSNet, kSGross, kSFlow},
                    {{2, "button definition after the section has ended"}}},
        SectionCase{
            "UpperCaseKeywordEnds",
            "[FunctionButtons]\nFbutton 1='A' 'B' 'C' 2000,DIRECT,\nfbutton 2='A' 'B' 'C' 2000,DIRECT,\n",
            {kSNet, kSGross, kSFlow},
            {{2, "button definition after the section has ended"}}},
        // What follows the next header belongs to another section.
        SectionCase{
            "OnlyUpToTheNextHeader",
            "[FunctionButtons]\n"
            "fbutton 1='A' 'B' 'C' 2000,DIRECT,\n"
            "note\n"
            "\n"
            "; fbutton 9 is spare\n"
            "fbutton 2='A' 'B' 'C' 2000,DIRECT,\n"
            "[Other tool]\n"
            "fbutton 3='A' 'B' 'C' 2000,DIRECT,\n"
            "Sheet Standard\n"
            "fbutton 4='A' 'B' 'C' 2000,DIRECT,\n",
            {{1, "A", "A - B", "B - C", 0x20000000, ButtonKind::Direct, true, true}, kSNet, kSGross, kSFlow},
            {{5, "button definition after the section has ended"}}},
        // Captions add up; an unknown kind word leaves the kind an earlier line gave.
        SectionCase{"RepeatedDefinition",
                    "[FunctionButtons]\n"
                    "fbutton 5='A' 'one' 'x' 2000sub01,DIRECT,\n"
                    "fbutton 5='B' 'two' 'y' 2100sub02,DIALOG_1,\n"
                    "fbutton 5='C' 'three' 'z' 2200sub03,NONE,\n",
                    {{5, "ABC", "ABC - three", "three - z", 0x22000003, ButtonKind::Dialog1, true, true},
                     kSNet,
                     kSGross,
                     kSFlow},
                    {}},
        // A later line that stops part-way keeps what it stored, and the
        // earlier line's reading to the end still counts.
        SectionCase{"RepeatedThenBroken",
                    "[FunctionButtons]\n"
                    "fbutton 5='A' 'one' 'x' 2000sub01,DIRECT,\n"
                    "fbutton 5='B' 'substance' 'y' 2100sub02,DIALOG_1,\n",
                    {{5, "AB", "AB - substance", "substance - y", 0x21000000, ButtonKind::Direct, true, true},
                     kSNet,
                     kSGross,
                     kSFlow},
                    {{2, "no hexadecimal digits after 'sub'"}}},
        SectionCase{
            "BrokenThenRepaired",
            "[FunctionButtons]\n"
            "fbutton 6='A' 'B' 'C' ,DIRECT,\n"
            "fbutton 6='' 'B' 'C' 2000,RPDO2,\n",
            {{6, "A", "A - B", "B - C", 0x20000000, ButtonKind::Rpdo2, true, true}, kSNet, kSGross, kSFlow},
            {{1, "no hexadecimal digits for the index"}}},
        SectionCase{
            "EmptyCaptionStaysDisabled",
            "[FunctionButtons]\nfbutton 7='' 'B' 'C' 2000,DIRECT,\n",
            {{7, "", " - B", "B - C", 0x20000000, ButtonKind::Direct, true, false}, kSNet, kSGross, kSFlow},
            {}},
        // The file's text stays in the description only.
        SectionCase{
            "FixedButtonsOverride",
            "[FunctionButtons]\nfbutton 83='Mine' 'Own' 'C' 2000sub5,DIALOG_1,\n",
            {kSNet,
             {83, "S-Gross", "Mine - Own", "Select Gross Value", 0x400000, ButtonKind::Rpdo1, true, true},
             kSFlow},
            {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConfigurationTest, ObjectTreeGoesToTheFirstPageWithoutSection)
{
    EXPECT_EQ(ObjectTreePage(ReadConfiguration(ConfigLines::FromText(""))), 0u);
    // A header on line 0 is no section; a header without rows still is one.
    EXPECT_EQ(ObjectTreePage(ReadConfiguration(ConfigLines::FromText("sheet Standard\nsheet Trigger\n"))),
              0u);
    EXPECT_EQ(ObjectTreePage(ReadConfiguration(ConfigLines::FromText("x\nsheet Standard\nsheet Filling\n"))),
              1u);
    EXPECT_EQ(ObjectTreePage(ReadConfiguration(ConfigLines::FromText(
                  "x\nsheet Standard\nsheet Trigger\nsheet Filling\nsheet Mass Flow\n"))),
              kDataObjectsPage);
}

TEST(ConfigurationTest, IgnoredLinesOfPagesAndButtonsComeInLineOrder)
{
    std::string text = "[FunctionButtons]\nfbutton 200='A'\n;\nx\nsheet Filling\n";
    for (int k = 1; k <= 33; ++k)
        text += "item" + std::to_string(k) + "=P'\n";
    text += "[functionbuttons]\nfbutton 1='A'\n";
    const Configuration config = ReadConfiguration(ConfigLines::FromText(text));
    ASSERT_EQ(config.ignored.size(), 2u);
    EXPECT_EQ(config.ignored[0].line, 1u);
    EXPECT_EQ(config.ignored[0].reason, "button number above 109");
    EXPECT_EQ(config.ignored[1].line, 37u);
    EXPECT_EQ(config.ignored[1].reason, "item line after the page's 32nd");
    EXPECT_EQ(config.pages[2].rows.size(), 32u);
    EXPECT_FALSE(config.buttons[1].configured); // the second header is never read
}

// ---- Positions count characters, whatever the encoding ----------------------

// The rows of every page, and each button the file gave a caption or an
// address: caption, IndexSub, configured or not.
std::string Render(const Configuration& config)
{
    std::string out;
    for (const PageSection& page : config.pages)
        for (const ParamRow& row : page.rows)
            out += "[" + row.label + "]\n";
    for (std::size_t n = 0; n < 82; ++n) {
        const ButtonDefinition& b = config.buttons[n];
        if (!b.caption.empty() || b.configured)
            out += std::to_string(n) + " [" + b.caption + "] " + Hex8(b.indexSub) +
                   (b.configured ? "\n" : " -\n");
    }
    return out;
}

// `text` with each '~' standing for a degree sign, one byte in Windows-1252
// and two in UTF-8; `expected` holds it in UTF-8.
struct PositionCase {
    const char* name;
    std::string text;
    std::string expected;
};

std::string WithDegree(const std::string& text, std::string_view degree)
{
    std::string out;
    for (const char c : text)
        out += c == '~' ? std::string(degree) : std::string(1, c);
    return out;
}

class SameInBothEncodingsTest : public testing::TestWithParam<PositionCase> {};

TEST_P(SameInBothEncodingsTest, LabelsAndButtonFields)
{
    const PositionCase& c = GetParam();
    const std::string expected = WithDegree(c.expected, "\xC2\xB0");
    const ConfigLines windows1252 = ConfigLines::FromText(WithDegree(c.text, "\xB0"));
    const ConfigLines utf8 = ConfigLines::FromText(WithDegree(c.text, "\xC2\xB0"));
    ASSERT_EQ(windows1252.Encoding(), TextEncoding::Windows1252);
    ASSERT_EQ(utf8.Encoding(), TextEncoding::Utf8);
    EXPECT_EQ(Render(ReadConfiguration(windows1252)), expected) << "Windows-1252";
    EXPECT_EQ(Render(ReadConfiguration(utf8)), expected) << "UTF-8";
}

INSTANTIATE_TEST_SUITE_P(
    Files, SameInBothEncodingsTest,
    testing::Values(
        PositionCase{"KeyOfSixCharacters", "x\nsheet Standard\nitem~=Temp ~C'\n", "[01  Temp ~C]\n"},
        PositionCase{"LabelOf57Characters", "x\nsheet Standard\nitem1=" + std::string(60, '~') + "\n",
                     "[01  " + std::string(57, '~') + "]\n"},
        PositionCase{"EighthCharacterSkipped", "[FunctionButtons]\nfbutton~12='A~' 'B' 'C' 2000,DIRECT,\n",
                     "12 [A~] 20000000\n"},
        // The last character never belongs to a text, and is never cut in two.
        PositionCase{"LastCharacterOutsideTheText", "[FunctionButtons]\nfbutton 5='A~", "5 [A] 00000000 -\n"},
        PositionCase{"SeparatorBeforeTheIndex", "[FunctionButtons]\nfbutton 5='A' 'B' 'C'~2000sub1,DIRECT,\n",
                     "5 [A] 20000001\n"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
