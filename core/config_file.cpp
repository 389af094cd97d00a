#include "config_file.h"
#include "hex_text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tervix {

namespace {

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

enum class HexRead { NoDigit, TooLarge, Ok };

// Hexadecimal digits from pos to the first other character or the line's
// end; leading zeros do not count towards the eight digits that fit.
HexRead ReadHex(std::string_view line, std::size_t& pos, std::uint32_t& value)
{
    std::uint64_t v = 0;
    bool any = false;
    bool tooLarge = false;
    for (; pos < line.size(); ++pos) {
        const int d = HexDigitValue(line[pos]);
        if (d < 0)
            break;
        any = true;
        v = (v << 4) | static_cast<unsigned>(d);
        if (v > 0xFFFFFFFFu) {
            tooLarge = true;
            v = 0;
        }
    }
    if (!any)
        return HexRead::NoDigit;
    if (tooLarge)
        return HexRead::TooLarge;
    value = static_cast<std::uint32_t>(v);
    return HexRead::Ok;
}

constexpr std::array<std::string_view, 10> kKindWords = {
    "", "DIRECT", "DINDEX", "DIALOG_1", "DIALOG_2", "DIALOG_3", "RPDO1", "RPDO2", "RPDO3", "RPDO4",
};

struct FixedButton {
    std::uint8_t number;
    std::string_view caption;
    std::string_view hint;
    std::uint32_t indexSub; // the command byte for RPDO1 in bits 16..23
};

// The value selectors are always there, whatever the file says.
constexpr std::array<FixedButton, 3> kFixedButtons = {{
    {82, "S-Net", "Select Net Value", 0x800000},
    {83, "S-Gross", "Select Gross Value", 0x400000},
    {84, "S-Flow", "Select Flow Value", 0x200000},
}};

// Positions below are 0-based; a definition line's last character is index
// size - 1, which the text and kind-word loops never take, as the format has
// always had it.
class DefinitionCursor {
public:
    explicit DefinitionCursor(std::string_view line) : line_(line) {}

    // Advances to the next `mark` (never looking at the last character) and
    // steps one past it.
    void SkipPast(char mark)
    {
        while (pos_ + 1 < line_.size() && line_[pos_] != mark)
            ++pos_;
        ++pos_;
    }

    // The characters up to the next `mark`, stopping before the last character.
    std::string_view TakeUntil(char mark)
    {
        const std::size_t start = pos_;
        while (pos_ + 1 < line_.size() && line_[pos_] != mark)
            ++pos_;
        return start < pos_ ? line_.substr(start, pos_ - start) : std::string_view();
    }

    void Step(std::size_t n) { pos_ += n; }
    std::size_t& Pos() { return pos_; }

private:
    std::string_view line_;
    std::size_t pos_ = 0;
};

constexpr std::string_view kDefinitionStart = "fbutton";

bool IsDefinitionLine(std::string_view line)
{
    return line.starts_with(kDefinitionStart);
}

// Empty, or its first character that is not a space is ';'. Tabs are not blanks here.
bool IsSkippedLine(std::string_view line)
{
    const std::size_t first = line.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return line.empty();
    return line[first] == ';';
}

std::string RowLabel(std::size_t row, std::string_view itemLine)
{
    std::string label;
    label.push_back(static_cast<char>('0' + row / 10 % 10));
    label.push_back(static_cast<char>('0' + row % 10));
    label += "  ";
    label += ItemLabelText(itemLine);
    return label;
}

} // namespace

ConfigLines ConfigLines::FromText(std::string_view text)
{
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos)
        text = text.substr(0, nul);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return ConfigLines(std::move(lines));
}

std::optional<std::size_t> ConfigLines::Find(std::string_view text) const
{
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (EqualIgnoringCase(lines_[i], text))
            return i;
    return std::nullopt;
}

ConfigFileLoad LoadConfigFile(const std::string& name)
{
    ConfigFileLoad load;
    load.error = "Cannot open file " + name;
    std::error_code ec;
    if (std::filesystem::is_directory(name, ec)) {
        load.systemError = std::strerror(EISDIR);
        return load;
    }
    errno = 0;
    std::ifstream file(name, std::ios::binary);
    if (!file) {
        if (errno != 0)
            load.systemError = std::strerror(errno);
        return load;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        load.systemError = "read error";
        return load;
    }
    load.lines = ConfigLines::FromText(text.view());
    load.ok = true;
    load.error.clear();
    return load;
}

std::string_view KindWord(ButtonKind kind)
{
    const auto k = static_cast<std::size_t>(kind);
    return k < kKindWords.size() ? kKindWords[k] : std::string_view();
}

std::optional<ButtonKind> KindFromWord(std::string_view word)
{
    for (std::size_t k = 1; k < kKindWords.size(); ++k)
        if (kKindWords[k] == word)
            return static_cast<ButtonKind>(k);
    return std::nullopt;
}

std::string_view ItemLabelText(std::string_view itemLine)
{
    constexpr std::size_t first = kLabelFirstChar - 1;
    if (itemLine.size() <= first)
        return {};
    std::string_view text = itemLine.substr(first, kLabelLastChar - first);
    return text.substr(0, text.find('\''));
}

std::optional<std::string_view> ApplyButtonDefinition(std::string_view line, ButtonSet& buttons)
{
    // "fbutton" and one separator of any kind, then the decimal button number.
    std::size_t pos = kDefinitionStart.size() + 1;
    std::size_t number = 0;
    bool anyDigit = false;
    for (; pos < line.size() && line[pos] >= '0' && line[pos] <= '9'; ++pos) {
        anyDigit = true;
        number = std::min<std::size_t>(number * 10 + static_cast<std::size_t>(line[pos] - '0'), kButtonCount);
    }
    if (!anyDigit)
        return "no button number";
    if (number >= kButtonCount)
        return "button number above 109";
    ButtonDefinition& b = buttons[number];

    DefinitionCursor at(line);
    at.Step(pos);
    at.SkipPast('\'');
    b.caption += at.TakeUntil('\''); // later definitions of a button add to its caption
    at.Step(1);

    at.SkipPast('\'');
    b.description = b.caption + " - ";
    b.hint.clear();
    const std::string_view second = at.TakeUntil('\'');
    b.description += second;
    b.hint += second;
    at.Step(1);

    at.SkipPast('\'');
    b.hint += " - ";
    std::string third(at.TakeUntil('\''));
    std::replace(third.begin(), third.end(), '\\', '\r');
    b.hint += third;
    // The closing apostrophe and the separator before the index.
    at.Step(2);

    std::uint32_t index = 0;
    switch (ReadHex(line, at.Pos(), index)) {
    case HexRead::NoDigit: return "no hexadecimal digits for the index";
    case HexRead::TooLarge: return "index above FFFFFFFF";
    case HexRead::Ok: break;
    }
    b.indexSub = index << 16;

    // Wherever "sub" first appears, even inside a text, it marks the sub-index.
    std::size_t marker = line.find("sub");
    std::string_view noDigits = "no hexadecimal digits after 'sub'";
    std::string_view tooLarge = "sub-index after 'sub' above FFFFFFFF";
    if (marker == std::string_view::npos) {
        marker = line.find("SUB");
        noDigits = "no hexadecimal digits after 'SUB'";
        tooLarge = "sub-index after 'SUB' above FFFFFFFF";
    }
    if (marker != std::string_view::npos) {
        at.Pos() = marker + 3;
        std::uint32_t sub = 0;
        switch (ReadHex(line, at.Pos(), sub)) {
        case HexRead::NoDigit: return noDigits;
        case HexRead::TooLarge: return tooLarge;
        case HexRead::Ok: break;
        }
        b.indexSub += sub;
    }

    at.SkipPast(',');
    if (const auto kind = KindFromWord(at.TakeUntil(',')))
        b.kind = *kind;
    b.configured = true;
    return std::nullopt;
}

PageSection ReadPageSection(const ConfigLines& lines, std::size_t page, std::vector<IgnoredLine>& ignored)
{
    PageSection section;
    if (page >= kPageCount)
        return section;
    const PageInfo& info = kPages[page];
    section.caption = info.caption;
    const auto header = lines.Find(std::string("sheet ") + std::string(info.caption));
    // A header on line 0 has never counted.
    if (!header || *header == 0)
        return section;
    section.headerLine = header;
    for (std::size_t n = *header + 1; n < lines.Count(); ++n) {
        const std::string_view line = lines.Line(n);
        if (line.find("item") == std::string_view::npos)
            break;
        const std::size_t k = n - *header;
        if (k > kMaxPageRows) {
            ignored.push_back({n, "item line after the page's 32nd"});
            continue;
        }
        section.rows.push_back(
            {static_cast<std::uint8_t>(k), n, RowLabel(k, line),
             static_cast<std::uint32_t>(info.baseIndex) * 0x10000u + static_cast<std::uint32_t>(k)});
    }
    return section;
}

ButtonSet ReadFunctionButtons(const ConfigLines& lines, std::vector<IgnoredLine>& ignored)
{
    ButtonSet buttons;
    for (std::size_t n = 0; n < kButtonCount; ++n)
        buttons[n].number = static_cast<std::uint8_t>(n);

    if (const auto header = lines.Find(kFunctionButtonsHeader)) {
        for (std::size_t n = *header + 1; n < lines.Count(); ++n) {
            const std::string_view line = lines.Line(n);
            if (IsDefinitionLine(line)) {
                if (const auto reason = ApplyButtonDefinition(line, buttons))
                    ignored.push_back({n, *reason});
            } else if (!IsSkippedLine(line)) {
                break;
            }
        }
    }

    for (const FixedButton& f : kFixedButtons) {
        ButtonDefinition& b = buttons[f.number];
        b.caption = f.caption;
        b.hint = f.hint;
        b.kind = ButtonKind::Rpdo1;
        b.indexSub = f.indexSub;
        b.configured = true;
    }
    for (ButtonDefinition& b : buttons)
        b.enabled = b.configured && !b.caption.empty();
    return buttons;
}

Configuration ReadConfiguration(const ConfigLines& lines)
{
    Configuration config;
    for (std::size_t page = 0; page < kPageCount; ++page)
        config.pages[page] = ReadPageSection(lines, page, config.ignored);
    config.buttons = ReadFunctionButtons(lines, config.ignored);
    std::stable_sort(config.ignored.begin(), config.ignored.end(),
                     [](const IgnoredLine& a, const IgnoredLine& b) { return a.line < b.line; });
    return config;
}

std::size_t ObjectTreePage(const Configuration& config)
{
    for (std::size_t page = 0; page < kPageCount; ++page)
        if (!config.pages[page].headerLine)
            return page;
    return kDataObjectsPage;
}

} // namespace tervix
