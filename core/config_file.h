// The configuration file "Tervix.conf": which rows the four parameter pages
// show and what each function button sends. It is not an INI file: sections
// are found by a whole-line search and definition lines are cut by position,
// apostrophes and commas, so any other text in the file is passed over.
//
// Characters are single bytes (Latin-1); texts keep them as they are and the
// window converts them when it shows them. Nothing here shows UI or throws on
// bad input: what could not be used is returned as ignored lines with a reason.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tervix {

constexpr std::string_view kConfigFileName = "Tervix.conf";
constexpr std::string_view kFunctionButtonsHeader = "[FunctionButtons]";

// The file's lines, numbered from 0, without their line ends.
class ConfigLines {
public:
    ConfigLines() = default;
    explicit ConfigLines(std::vector<std::string> lines) : lines_(std::move(lines)) {}

    // CR, LF and CR LF end a line; a NUL byte ends the text. A line end at the
    // very end of the text does not start another, empty line.
    static ConfigLines FromText(std::string_view text);

    std::size_t Count() const { return lines_.size(); }
    // Empty past the last line.
    std::string_view Line(std::size_t number) const
    {
        return number < lines_.size() ? std::string_view(lines_[number]) : std::string_view();
    }
    // The first line equal to text, ASCII letter case ignored.
    std::optional<std::size_t> Find(std::string_view text) const;

private:
    std::vector<std::string> lines_;
};

// Reading the file itself; on failure `error` is "Cannot open file " + name.
struct ConfigFileLoad {
    bool ok = false;
    ConfigLines lines;
    std::string error;
    std::string systemError; // the operating system's reason, when it gave one
};
ConfigFileLoad LoadConfigFile(const std::string& name);

// ---- Parameter pages --------------------------------------------------------

constexpr std::size_t kPageCount = 4;
constexpr std::size_t kMaxPageRows = 32;
// The label text never reaches past this character of the item line.
constexpr std::size_t kLabelFirstChar = 7;
constexpr std::size_t kLabelLastChar = 63;

struct PageInfo {
    std::string_view caption;
    std::uint16_t baseIndex; // its low byte is replaced by the unit address when sent
};

// The four pages in tab order; a page's position is its page number.
constexpr std::array<PageInfo, kPageCount> kPages = {{
    {"Standard", 0x2100},
    {"Trigger", 0x2500},
    {"Filling", 0x2200},
    {"Mass Flow", 0x2B00},
}};

// The tab page after the four, which holds the object tree when all four
// have a section.
constexpr std::size_t kDataObjectsPage = kPageCount;

struct ParamRow {
    std::uint8_t sub = 0;       // k: row k stands for sub-index k, 1..32
    std::size_t line = 0;       // the item line in ConfigLines (the Set button's tag)
    std::string label;          // as the page shows it: "03  Zero range"
    std::uint32_t indexSub = 0; // base index × 65536 + k
};

struct PageSection {
    std::string_view caption;
    // The header's line; none when it is missing or on line 0.
    std::optional<std::size_t> headerLine;
    std::vector<ParamRow> rows; // at most kMaxPageRows
};

// ---- Function buttons -------------------------------------------------------

constexpr std::size_t kButtonCount = 110;

enum class ButtonKind : std::uint8_t {
    None = 0, // no kind word matched: pressing it shows "Unassigned Key"
    Direct = 1,
    DIndex = 2,
    Dialog1 = 3,
    Dialog2 = 4,
    Dialog3 = 5,
    Rpdo1 = 6,
    Rpdo2 = 7,
    Rpdo3 = 8,
    Rpdo4 = 9,
};

// "DIRECT" .. "RPDO4"; empty for None.
std::string_view KindWord(ButtonKind kind);
// Exact match, letter case significant.
std::optional<ButtonKind> KindFromWord(std::string_view word);

struct ButtonDefinition {
    std::uint8_t number = 0; // 0..109: row number / 10, column number % 10
    std::string caption;
    std::string description; // caption + " - " + second text: the dialogs' caption
    std::string hint;        // second text + " - " + third text; CR marks a line break
    std::uint32_t indexSub = 0;
    ButtonKind kind = ButtonKind::None;
    bool configured = false; // a definition line for it was read to its end
    bool enabled = false;    // configured and with a caption
};

using ButtonSet = std::array<ButtonDefinition, kButtonCount>;

struct IgnoredLine {
    std::size_t line = 0;
    std::string_view reason; // static text
};

// Applies one definition line (it begins with "fbutton") to the buttons, on
// top of what earlier lines left. Returns the reason when the line was
// ignored, in whole or part-way; what it stored before stopping stays.
std::optional<std::string_view> ApplyButtonDefinition(std::string_view line, ButtonSet& buttons);

// ---- The whole file ---------------------------------------------------------

struct Configuration {
    std::array<PageSection, kPageCount> pages;
    ButtonSet buttons;
    std::vector<IgnoredLine> ignored; // by line number
};

// The text shown after the row number: from the 7th character to the first
// apostrophe, at most to the 63rd.
std::string_view ItemLabelText(std::string_view itemLine);

// The page section for one caption; item lines beyond the 32nd go to ignored.
PageSection ReadPageSection(const ConfigLines& lines, std::size_t page, std::vector<IgnoredLine>& ignored);

// The "[FunctionButtons]" section, then the fixed buttons 82..84, then enabling.
ButtonSet ReadFunctionButtons(const ConfigLines& lines, std::vector<IgnoredLine>& ignored);

// The four pages, then the buttons, as the window reads them at start-up.
Configuration ReadConfiguration(const ConfigLines& lines);

// The tab page that shows the object tree: the first of the four without a
// section, else kDataObjectsPage. A section with no item lines is still a
// section, so that page stays empty.
std::size_t ObjectTreePage(const Configuration& config);

} // namespace tervix
