// The configuration file "Tervix.conf": which rows the four parameter pages
// show and what each function button sends. It is not an INI file: sections
// are found by a whole-line search and definition lines are cut by position,
// apostrophes and commas, so any other text in the file is passed over.
//
// The file is read as UTF-8 when it is well-formed UTF-8 and as Windows-1252
// otherwise, and kept as UTF-8; positions in a line count characters, so a
// single-byte file reads as it always has. Nothing here shows UI or throws on
// bad input: what could not be used is returned as ignored lines with a
// reason, and where the text was cut short is returned too.
#pragma once

#include "text_encoding.h"

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

// A real file is a few kilobytes; reading stops after this many bytes, so an
// endless file (a device, a pipe) cannot take all memory.
constexpr std::size_t kMaxConfigBytes = std::size_t{4} << 20;
// A file that has not ended after this long (a pipe or a device) is read no
// further.
constexpr int kConfigReadWaitMs = 1000;

// Why the text ends before the file does.
enum class TextCutKind : std::uint8_t {
    NulByte, // a NUL byte ends the text
    TooLong, // kMaxConfigBytes were read
    NoEnd,   // the file did not end within kConfigReadWaitMs
};

struct TextCut {
    TextCutKind kind;
    std::uint64_t at; // bytes of the file that make the text
};

// The file's lines, numbered from 0, without their line ends.
class ConfigLines {
public:
    ConfigLines() = default;
    // Lines that are UTF-8 already.
    explicit ConfigLines(const std::vector<std::string>& lines);

    // The file's bytes. A NUL byte ends the text, and so does kMaxConfigBytes;
    // then the encoding is decided for the whole text. CR, LF and CR LF end a
    // line; a line end at the very end of the text does not start another,
    // empty line. `ended`: false when the reader gave up waiting for the end.
    static ConfigLines FromText(std::string_view bytes, bool ended = true);

    std::size_t Count() const { return lines_.size(); }
    // Empty past the last line.
    std::string_view Line(std::size_t number) const
    {
        if (number >= lines_.size())
            return {};
        return std::string_view(text_).substr(lines_[number].start, lines_[number].size);
    }
    // The first line equal to text, ASCII letter case ignored.
    std::optional<std::size_t> Find(std::string_view text) const;

    TextEncoding Encoding() const { return encoding_; }
    const std::optional<TextCut>& Cut() const { return cut_; }

private:
    // Offsets into one text: a file of empty lines costs 8 bytes a line.
    struct Span {
        std::uint32_t start;
        std::uint32_t size;
    };
    void Split();

    std::string text_;
    std::vector<Span> lines_;
    TextEncoding encoding_ = TextEncoding::Utf8;
    std::optional<TextCut> cut_;
};

// Reading the file itself; on failure `error` is "Cannot open file " + name.
// It never waits for a pipe or a device longer than kConfigReadWaitMs.
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
// A button's caption, description and hint each keep at most this many bytes
// (cut between characters): repeated definitions add to the caption.
constexpr std::size_t kMaxButtonText = 1024;

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
    // The first definition line that had a text cut at kMaxButtonText.
    std::optional<std::size_t> textCutLine;
};

using ButtonSet = std::array<ButtonDefinition, kButtonCount>;

struct IgnoredLine {
    std::size_t line = 0;
    std::string_view reason; // static text
};

// Applies one definition line (it begins with "fbutton") to the buttons, on
// top of what earlier lines left. Returns the reason when the line was
// ignored, in whole or part-way; what it stored before stopping stays.
// `lineNumber` is what textCutLine records.
std::optional<std::string_view> ApplyButtonDefinition(std::string_view line, ButtonSet& buttons,
                                                      std::size_t lineNumber = 0);

// ---- The whole file ---------------------------------------------------------

struct Configuration {
    std::array<PageSection, kPageCount> pages;
    ButtonSet buttons;
    std::vector<IgnoredLine> ignored; // by line number
};

// The text shown after the row number: from the 7th character to the first
// apostrophe, at most to the 63rd.
std::string_view ItemLabelText(std::string_view itemLine);

// The page section for one caption. Ignored: item lines beyond the 32nd, and
// item lines other than comments after the list has ended, up to the next
// header line (one that begins with "[" or "sheet ", letter case ignored).
PageSection ReadPageSection(const ConfigLines& lines, std::size_t page, std::vector<IgnoredLine>& ignored);

// The "[FunctionButtons]" section, then the fixed buttons 82..84, then
// enabling. Ignored: definitions that stop part-way, and definition lines
// after the section has ended, up to the next header line.
ButtonSet ReadFunctionButtons(const ConfigLines& lines, std::vector<IgnoredLine>& ignored);

// The four pages, then the buttons, as the window reads them at start-up.
Configuration ReadConfiguration(const ConfigLines& lines);

// One sentence per cut, for the window's message and tervix-cli: where the
// text ends before the file, then each button whose texts were cut.
std::vector<std::string> CutReports(const ConfigLines& lines, const ButtonSet& buttons);

// The tab page that shows the object tree: the first of the four without a
// section, else kDataObjectsPage. A section with no item lines is still a
// section, so that page stays empty.
std::size_t ObjectTreePage(const Configuration& config);

} // namespace tervix
