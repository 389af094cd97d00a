#include "config_file.h"
#include "hex_text.h"

#ifdef _WIN32
#include <cstdio>
#include <filesystem>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

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

// Positions below are byte offsets moved by whole characters. A definition
// line's last character is never taken by the text and kind-word loops, as
// the format has always had it; the marks are ASCII, so a byte-wise search
// for them stops between characters.
class DefinitionCursor {
public:
    explicit DefinitionCursor(std::string_view line) : line_(line), last_(LastCharStart(line)) {}

    // Advances to the next `mark` (never looking at the last character) and
    // steps past it.
    void SkipPast(char mark)
    {
        TakeUntil(mark);
        Step(1);
    }

    // The characters up to the next `mark`, stopping before the last character.
    std::string_view TakeUntil(char mark)
    {
        const std::size_t start = pos_;
        while (pos_ < last_ && line_[pos_] != mark)
            ++pos_;
        return start < pos_ ? line_.substr(start, pos_ - start) : std::string_view();
    }

    void Step(std::size_t characters) { pos_ = AdvanceChars(line_, pos_, characters); }
    std::size_t& Pos() { return pos_; }

private:
    std::string_view line_;
    std::size_t last_;
    std::size_t pos_ = 0;
};

// Appends what fits in kMaxButtonText; true when some of the text did not.
bool AppendCapped(std::string& to, std::string_view text)
{
    const std::size_t room = to.size() < kMaxButtonText ? kMaxButtonText - to.size() : 0;
    const std::string_view fits = CutAtCharBoundary(text, room);
    to += fits;
    return fits.size() < text.size();
}

constexpr std::string_view kDefinitionStart = "fbutton";

bool IsDefinitionLine(std::string_view line)
{
    return line.starts_with(kDefinitionStart);
}

// Its first character that is not a space is ';'. Tabs are not blanks here.
bool IsCommentLine(std::string_view line)
{
    const std::size_t first = line.find_first_not_of(' ');
    return first != std::string_view::npos && line[first] == ';';
}

bool IsSkippedLine(std::string_view line)
{
    return line.empty() || IsCommentLine(line);
}

// Where another section begins: lines after the end of a list up to here
// would have belonged to it.
bool IsHeaderLine(std::string_view line)
{
    constexpr std::string_view kSheet = "sheet ";
    return line.starts_with('[') ||
           (line.size() >= kSheet.size() && EqualIgnoringCase(line.substr(0, kSheet.size()), kSheet));
}

std::string ByteCount(std::uint64_t n)
{
    return std::to_string(n) + (n == 1 ? " byte" : " bytes");
}

struct RawRead {
    std::string bytes;
    bool ended = true; // false: the wait for more ran out
    int error = 0;
};

#ifdef _WIN32
// Windows has no endless devices behind a file name (named pipes live apart,
// under \\.\pipe\): the size cap suffices, no wait to cut. It refuses to
// open a folder (EACCES), which is named as elsewhere.
RawRead ReadRaw(const std::string& name)
{
    RawRead r;
    errno = 0;
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) {
        std::error_code ec;
        r.error = std::filesystem::is_directory(name, ec) ? EISDIR : errno != 0 ? errno : ENOENT;
        return r;
    }
    r.bytes.resize(kMaxConfigBytes + 1);
    const std::size_t got = std::fread(r.bytes.data(), 1, r.bytes.size(), file);
    if (std::ferror(file) != 0)
        r.error = errno != 0 ? errno : EIO;
    r.bytes.resize(got);
    std::fclose(file);
    return r;
}
#else
// At most kMaxConfigBytes + 1 bytes (the one more tells a longer file),
// stopping after a block that holds a NUL. Opened without blocking, so a pipe
// without a writer or a device without data cannot hold the start-up.
RawRead ReadRaw(const std::string& name)
{
    RawRead r;
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        r.error = errno;
        return r;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        r.error = EISDIR;
        return r;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kConfigReadWaitMs);
    constexpr std::size_t kBlock = std::size_t{1} << 16;
    while (r.bytes.size() <= kMaxConfigBytes) {
        const std::size_t have = r.bytes.size();
        const std::size_t want = std::min(kBlock, kMaxConfigBytes + 1 - have);
        r.bytes.resize(have + want);
        const ssize_t n = ::read(fd, r.bytes.data() + have, want);
        const int readErrno = errno;
        r.bytes.resize(have + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        if (n > 0) {
            if (std::memchr(r.bytes.data() + have, '\0', static_cast<std::size_t>(n)) != nullptr)
                break;
            continue;
        }
        if (n == 0)
            break;
        if (readErrno == EINTR)
            continue;
        if (readErrno != EAGAIN && readErrno != EWOULDBLOCK) {
            r.error = readErrno;
            break;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            r.ended = false;
            break;
        }
        pollfd wait{fd, POLLIN, 0};
        ::poll(&wait, 1, static_cast<int>(left));
    }
    ::close(fd);
    return r;
}
#endif

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

ConfigLines::ConfigLines(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines) {
        lines_.push_back({static_cast<std::uint32_t>(text_.size()), static_cast<std::uint32_t>(line.size())});
        text_ += line;
    }
}

ConfigLines ConfigLines::FromText(std::string_view bytes, bool ended)
{
    ConfigLines lines;
    if (const std::size_t nul = bytes.find('\0'); nul != std::string_view::npos) {
        bytes = bytes.substr(0, nul);
        lines.cut_ = TextCut{TextCutKind::NulByte, nul};
    } else if (bytes.size() > kMaxConfigBytes) {
        bytes = bytes.substr(0, kMaxConfigBytes);
        lines.cut_ = TextCut{TextCutKind::TooLong, kMaxConfigBytes};
    } else if (!ended) {
        lines.cut_ = TextCut{TextCutKind::NoEnd, bytes.size()};
    }
    // A NUL is the text's own end; the other cuts may split a character.
    const bool cutAnywhere = lines.cut_ && lines.cut_->kind != TextCutKind::NulByte;
    DecodedText decoded = DecodeText(std::string(bytes), cutAnywhere);
    lines.text_ = std::move(decoded.utf8);
    lines.encoding_ = decoded.encoding;
    lines.Split();
    return lines;
}

void ConfigLines::Split()
{
    const std::string_view text(text_);
    std::size_t start = 0;
    while (start < text.size()) {
        // A plain loop: find_first_of calls memchr once per character.
        std::size_t end = start;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        lines_.push_back({static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(end - start)});
        start = end + 1;
        if (end < text.size() && text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
}

std::optional<std::size_t> ConfigLines::Find(std::string_view text) const
{
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (EqualIgnoringCase(Line(i), text))
            return i;
    return std::nullopt;
}

ConfigFileLoad LoadConfigFile(const std::string& name)
{
    ConfigFileLoad load;
    const RawRead raw = ReadRaw(name);
    if (raw.error != 0) {
        load.error = "Cannot open file " + name;
        load.systemError = std::strerror(raw.error);
        return load;
    }
    load.lines = ConfigLines::FromText(raw.bytes, raw.ended);
    load.ok = true;
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
    const std::size_t first = AdvanceChars(itemLine, 0, kLabelFirstChar - 1);
    if (first >= itemLine.size())
        return {};
    const std::size_t end = AdvanceChars(itemLine, first, kLabelLastChar - kLabelFirstChar + 1);
    const std::string_view text = itemLine.substr(first, end - first);
    return text.substr(0, text.find('\''));
}

std::optional<std::string_view> ApplyButtonDefinition(std::string_view line, ButtonSet& buttons,
                                                      std::size_t lineNumber)
{
    // "fbutton" and one separator of any kind, then the decimal button number.
    std::size_t pos = NextChar(line, kDefinitionStart.size());
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
    at.Pos() = pos;
    at.SkipPast('\'');
    // Later definitions of a button add to its caption, up to the cap.
    bool cut = AppendCapped(b.caption, at.TakeUntil('\''));
    at.Step(1);

    at.SkipPast('\'');
    b.description = b.caption;
    cut |= AppendCapped(b.description, " - ");
    b.hint.clear();
    const std::string_view second = at.TakeUntil('\'');
    cut |= AppendCapped(b.description, second);
    cut |= AppendCapped(b.hint, second);
    at.Step(1);

    at.SkipPast('\'');
    cut |= AppendCapped(b.hint, " - ");
    std::string third(at.TakeUntil('\''));
    std::replace(third.begin(), third.end(), '\\', '\r');
    cut |= AppendCapped(b.hint, third);
    if (cut && !b.textCutLine)
        b.textCutLine = lineNumber;
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
    std::size_t n = *header + 1;
    for (; n < lines.Count(); ++n) {
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
    // Item lines parted from the list (by a blank line, say) are never rows.
    for (; n < lines.Count() && !IsHeaderLine(lines.Line(n)); ++n) {
        const std::string_view line = lines.Line(n);
        if (line.find("item") != std::string_view::npos && !IsCommentLine(line))
            ignored.push_back({n, "item line after the page's list has ended"});
    }
    return section;
}

ButtonSet ReadFunctionButtons(const ConfigLines& lines, std::vector<IgnoredLine>& ignored)
{
    ButtonSet buttons;
    for (std::size_t n = 0; n < kButtonCount; ++n)
        buttons[n].number = static_cast<std::uint8_t>(n);

    if (const auto header = lines.Find(kFunctionButtonsHeader)) {
        std::size_t n = *header + 1;
        for (; n < lines.Count(); ++n) {
            const std::string_view line = lines.Line(n);
            if (IsDefinitionLine(line)) {
                if (const auto reason = ApplyButtonDefinition(line, buttons, n))
                    ignored.push_back({n, *reason});
            } else if (!IsSkippedLine(line)) {
                break;
            }
        }
        // A line of spaces ends the section: definitions after it are never read.
        for (; n < lines.Count() && !IsHeaderLine(lines.Line(n)); ++n)
            if (IsDefinitionLine(lines.Line(n)))
                ignored.push_back({n, "button definition after the section has ended"});
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

std::vector<std::string> CutReports(const ConfigLines& lines, const ButtonSet& buttons)
{
    std::vector<std::string> reports;
    if (const std::optional<TextCut>& cut = lines.Cut()) {
        switch (cut->kind) {
        case TextCutKind::NulByte:
            reports.push_back("a NUL byte at byte " + std::to_string(cut->at + 1) +
                              " ends the text; the rest of the file is not read");
            break;
        case TextCutKind::TooLong:
            reports.push_back("the file is longer than " + ByteCount(cut->at) + "; the rest is not read");
            break;
        case TextCutKind::NoEnd:
            reports.push_back("the file did not end within " + std::to_string(kConfigReadWaitMs) +
                              " ms; reading stopped after " + ByteCount(cut->at));
            break;
        }
    }
    for (const ButtonDefinition& b : buttons)
        if (b.textCutLine)
            reports.push_back("line " + std::to_string(*b.textCutLine + 1) + ": the texts of button " +
                              std::to_string(b.number) + " reach " + ByteCount(kMaxButtonText) +
                              " and are cut there");
    return reports;
}

std::size_t ObjectTreePage(const Configuration& config)
{
    for (std::size_t page = 0; page < kPageCount; ++page)
        if (!config.pages[page].headerLine)
            return page;
    return kDataObjectsPage;
}

} // namespace tervix
