// Arbitrary bytes as a configuration file. Every line is also handed to the
// definition parser from a heap copy of exactly its size, so that ASan sees
// any read past a line's end, and the results are held to what the format
// promises whatever the input.
#include "config_file.h"
#include "fuzz_check.h"
#include "text_encoding.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

using namespace tervix;

namespace {

bool IsUtf8(std::string_view text)
{
    // A leading "x" keeps a byte-order mark in the text from being skipped.
    return DecodeText("x" + std::string(text)).encoding == TextEncoding::Utf8;
}

void CheckLines(std::string_view text, const ConfigLines& lines)
{
    // Joined again with LF, the lines give the text before any NUL as UTF-8,
    // with its line ends made LF and one final line end dropped.
    std::string expected;
    const std::string utf8 = DecodeText(std::string(text.substr(0, text.find('\0')))).utf8;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\r') {
            expected.push_back('\n');
            if (i + 1 < utf8.size() && utf8[i + 1] == '\n')
                ++i;
        } else {
            expected.push_back(utf8[i]);
        }
    }
    if (!expected.empty() && expected.back() == '\n')
        expected.pop_back();
    std::string joined;
    for (std::size_t n = 0; n < lines.Count(); ++n) {
        if (n > 0)
            joined.push_back('\n');
        joined += lines.Line(n);
    }
    fuzz::Check(joined == expected && IsUtf8(joined));
    fuzz::Check(lines.Cut().has_value() == (text.find('\0') != std::string_view::npos));
}

void CheckPages(const Configuration& config, const ConfigLines& lines)
{
    for (std::size_t p = 0; p < kPageCount; ++p) {
        const PageSection& page = config.pages[p];
        fuzz::Check(page.caption == kPages[p].caption);
        fuzz::Check(page.rows.size() <= kMaxPageRows);
        fuzz::Check(page.rows.empty() || (page.headerLine && *page.headerLine > 0));
        for (std::size_t i = 0; i < page.rows.size(); ++i) {
            const ParamRow& row = page.rows[i];
            fuzz::Check(row.sub == i + 1 && row.line == *page.headerLine + i + 1);
            fuzz::Check(row.indexSub == kPages[p].baseIndex * 0x10000u + row.sub);
            fuzz::Check(lines.Line(row.line).find("item") != std::string_view::npos);
            // Characters, not bytes: the label is whole characters 7..63 at most.
            const std::string_view label = row.label;
            fuzz::Check(label.size() >= 4 && CharCount(label) <= 4 + 57);
            const std::string_view text = label.substr(4);
            fuzz::Check(text.find('\'') == std::string_view::npos);
            const std::string_view item = lines.Line(row.line);
            const std::size_t keyEnd = AdvanceChars(item, 0, 6);
            const std::string_view tail = keyEnd < item.size() ? item.substr(keyEnd) : std::string_view();
            fuzz::Check(text == tail.substr(0, text.size()));
            fuzz::Check(CharCount(text) == std::min<std::size_t>(CharCount(tail), 57) ||
                        tail[text.size()] == '\'');
        }
    }
}

void CheckButtons(const Configuration& config)
{
    for (std::size_t n = 0; n < kButtonCount; ++n) {
        const ButtonDefinition& b = config.buttons[n];
        fuzz::Check(b.number == n);
        fuzz::Check(static_cast<unsigned>(b.kind) <= 9);
        fuzz::Check(b.enabled == (b.configured && !b.caption.empty()));
        const bool fixed = n >= 82 && n <= 84;
        if (b.configured && !fixed)
            fuzz::Check(b.description.starts_with(CutAtCharBoundary(b.caption + " - ", kMaxButtonText)));
        for (const std::string* t : {&b.caption, &b.description, &b.hint})
            fuzz::Check(t->size() <= kMaxButtonText && IsUtf8(*t));
    }
    fuzz::Check(config.buttons[83].caption == "S-Gross" && config.buttons[83].indexSub == 0x400000 &&
                config.buttons[83].kind == ButtonKind::Rpdo1 && config.buttons[83].enabled);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ConfigLines lines = ConfigLines::FromText(text);
    CheckLines(text, lines);

    const Configuration config = ReadConfiguration(lines);
    CheckPages(config, lines);
    CheckButtons(config);
    for (const std::string& cut : CutReports(lines, config.buttons))
        fuzz::Check(!cut.empty());
    for (std::size_t i = 0; i < config.ignored.size(); ++i) {
        fuzz::Check(config.ignored[i].line < lines.Count() && !config.ignored[i].reason.empty());
        fuzz::Check(i == 0 || config.ignored[i - 1].line < config.ignored[i].line);
    }

    ButtonSet buttons{};
    for (std::size_t n = 0; n < lines.Count(); ++n) {
        const std::string_view line = lines.Line(n);
        const auto copy = std::make_unique<char[]>(line.size());
        std::memcpy(copy.get(), line.data(), line.size());
        (void)ApplyButtonDefinition(std::string_view(copy.get(), line.size()), buttons);
        (void)ItemLabelText(std::string_view(copy.get(), line.size()));
    }
    return 0;
}
