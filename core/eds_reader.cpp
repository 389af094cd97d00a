#include "eds_reader.h"

#include "hex_text.h"
#include "text_encoding.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tervix {

namespace {

char UpperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Position of the first "SUB" in any letter case, or npos.
std::size_t FindSub(std::string_view name)
{
    for (std::size_t i = 0; i + 3 <= name.size(); ++i)
        if (UpperAscii(name[i]) == 'S' && UpperAscii(name[i + 1]) == 'U' && UpperAscii(name[i + 2]) == 'B')
            return i;
    return std::string_view::npos;
}

std::string_view TrimBlanks(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i]))
            return false;
    return true;
}

} // namespace

std::uint32_t HexValue(std::string_view text)
{
    std::uint32_t value = 0;
    for (char c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0)
            break;
        value = value * 16u + static_cast<std::uint32_t>(digit);
    }
    return value;
}

std::string EDSNode::Text() const
{
    std::string text;
    text.reserve(name.size() + 2);
    text.push_back('[');
    text.append(name);
    text.push_back(']');
    return text;
}

namespace {

const std::string_view* KeyLine(const EDSNode& node, std::string_view key)
{
    for (const std::string_view& line : node.Lines) {
        const std::size_t equals = line.find('=');
        if (equals != std::string_view::npos &&
            EqualsIgnoringAsciiCase(TrimBlanks(line.substr(0, equals)), key))
            return &line;
    }
    return nullptr;
}

} // namespace

std::string_view EdsKeyValue(const EDSNode& node, std::string_view key)
{
    const std::string_view* line = KeyLine(node, key);
    return line ? TrimBlanks(line->substr(line->find('=') + 1)) : std::string_view{};
}

bool EdsHasKey(const EDSNode& node, std::string_view key)
{
    return KeyLine(node, key) != nullptr;
}

std::string_view ParameterName(const EDSNode& node)
{
    return EdsKeyValue(node, "ParameterName");
}

EdsLimits Limits(const EDSNode& node)
{
    return {EdsKeyValue(node, "LowLimit"), EdsKeyValue(node, "HighLimit")};
}

bool EdsNamesEqual(std::string_view a, std::string_view b)
{
    return EqualsIgnoringAsciiCase(a, b);
}

namespace {

// All of `text` as hex digits, 1 to `maxDigits` of them.
std::optional<std::uint32_t> HexDigits(std::string_view text, std::size_t maxDigits)
{
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0)
            return std::nullopt;
        value = value * 16u + static_cast<std::uint32_t>(digit);
    }
    return value;
}

// An unsigned number in decimal, 0x hex or leading-0 octal.
std::optional<std::uint64_t> UnsignedNumber(std::string_view text)
{
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.size() > 1 && text[0] == '0') {
        base = 8;
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0 || static_cast<unsigned>(digit) >= base)
            return std::nullopt;
        if (value > (UINT64_MAX - static_cast<unsigned>(digit)) / base)
            return std::nullopt;
        value = value * base + static_cast<unsigned>(digit);
    }
    return value;
}

constexpr std::string_view kNodeIdWord = "$NODEID";

} // namespace

std::optional<EdsAddress> SectionAddress(std::string_view name)
{
    const std::size_t sub = FindSub(name);
    if (sub == std::string_view::npos) {
        const auto index = name.size() == 4 ? HexDigits(name, 4) : std::nullopt;
        if (!index)
            return std::nullopt;
        return EdsAddress{static_cast<std::uint16_t>(*index), 0, false};
    }
    const auto index = sub == 4 ? HexDigits(name.substr(0, 4), 4) : std::nullopt;
    const auto subIndex = HexDigits(name.substr(sub + 3), 2);
    if (!index || !subIndex)
        return std::nullopt;
    return EdsAddress{static_cast<std::uint16_t>(*index), static_cast<std::uint8_t>(*subIndex), true};
}

std::optional<EdsNumber> EdsInteger(std::string_view text, std::optional<unsigned> nodeId)
{
    text = TrimBlanks(text);
    // "$NODEID" on either side of a '+', or alone.
    bool addNode = false;
    if (text.size() >= kNodeIdWord.size() && EqualsIgnoringAsciiCase(text.substr(0, kNodeIdWord.size()), kNodeIdWord)) {
        addNode = true;
        text = TrimBlanks(text.substr(kNodeIdWord.size()));
        if (text.empty())
            text = "0";
        else if (text.front() == '+')
            text = TrimBlanks(text.substr(1));
        else
            return std::nullopt;
    } else if (const std::size_t plus = text.rfind('+'); plus != std::string_view::npos && plus > 0 &&
                                                       EqualsIgnoringAsciiCase(TrimBlanks(text.substr(plus + 1)), kNodeIdWord)) {
        addNode = true;
        text = TrimBlanks(text.substr(0, plus));
    }
    if (addNode && !nodeId)
        return std::nullopt;
    EdsNumber number;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        number.negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const auto magnitude = UnsignedNumber(text);
    if (!magnitude)
        return std::nullopt;
    number.magnitude = *magnitude;
    if (addNode) {
        if (number.negative) {
            if (number.magnitude > *nodeId) {
                number.magnitude -= *nodeId;
            } else {
                number.magnitude = *nodeId - number.magnitude;
                number.negative = false;
            }
        } else {
            if (number.magnitude > UINT64_MAX - *nodeId)
                return std::nullopt;
            number.magnitude += *nodeId;
        }
    }
    if (number.magnitude == 0)
        number.negative = false;
    return number;
}

std::string_view EdsWarningText(EdsWarningKind kind)
{
    switch (kind) {
    case EdsWarningKind::KeyLineBeforeSections: return "key line before any section, dropped";
    case EdsWarningKind::SubObjectBeforeObjects:
        return "sub-object section before any object section, placed under the root";
    case EdsWarningKind::SectionNameCut: return "section name longer than 255 characters, cut";
    }
    return "unknown warning";
}

void EdsTree::Warn(EdsWarningKind kind)
{
    for (EdsWarning& w : warnings_)
        if (w.kind == kind) {
            ++w.count;
            return;
        }
    warnings_.push_back({kind, lineCount_, 1});
}

void EdsTree::ParseLine(std::string_view line)
{
    if (line.empty() || line.front() == ';')
        return;
    if (line.front() != '[') {
        // The most recent section owns it; before the first one there is none.
        if (nodes_.empty())
            Warn(EdsWarningKind::KeyLineBeforeSections);
        else
            lines_.push_back(line);
        return;
    }

    std::string_view name = line.substr(1);
    if (const std::size_t close = name.find(']'); close != std::string_view::npos)
        name = name.substr(0, close);
    if (const std::size_t cut = AdvanceChars(name, 0, kEdsMaxSectionName); cut < name.size()) {
        name = name.substr(0, cut);
        Warn(EdsWarningKind::SectionNameCut);
    }

    EDSNode node;
    node.name = name;
    // Unsigned arithmetic wraps: only the low 16 bits of the index survive
    // the shift, and a large sub-index spills into the index bits.
    const std::uint32_t index = HexValue(name);
    if (const std::size_t sub = FindSub(name); sub == std::string_view::npos) {
        node.IndexSub = index << 16;
        node.parent = kEdsRoot;
        currentObject_ = nodes_.size();
    } else {
        node.IndexSub = (index << 16) + HexValue(name.substr(sub + 3));
        node.parent = currentObject_;
        if (currentObject_ == kEdsRoot)
            Warn(EdsWarningKind::SubObjectBeforeObjects);
    }
    nodes_.push_back(node);
    firstLine_.push_back(lines_.size());
}

EdsTree EdsTree::Parse(std::string text)
{
    EdsTree tree;
    tree.text_ = std::make_unique<const std::string>(DecodeText(std::move(text)).utf8);
    const std::string_view all(*tree.text_);

    const char* p = all.data();
    const char* const end = p + all.size();
    while (p < end) {
        // Find LF first, then any CR before it: two vectorised scans beat a
        // byte-by-byte loop on large files.
        const auto rest = static_cast<std::size_t>(end - p);
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', rest));
        const char* lineEnd = lf != nullptr ? lf : end;
        const char* cr =
            static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(lineEnd - p)));
        const char* next;
        if (cr != nullptr) {
            lineEnd = cr;
            next = (cr + 1 < end && cr[1] == '\n') ? cr + 2 : cr + 1;
        } else {
            next = lf != nullptr ? lf + 1 : end;
        }
        ++tree.lineCount_;
        tree.ParseLine(std::string_view(p, static_cast<std::size_t>(lineEnd - p)));
        p = next;
    }

    // lines_ no longer grows: the spans can point into it now. A node's lines
    // run up to the next node's first line, since lines always go to the most
    // recent section.
    const std::size_t count = tree.nodes_.size();
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t first = tree.firstLine_[i];
        const std::size_t last = i + 1 < count ? tree.firstLine_[i + 1] : tree.lines_.size();
        tree.nodes_[i].Lines = std::span<const std::string_view>(tree.lines_.data() + first, last - first);
    }
    tree.firstLine_.clear();
    tree.firstLine_.shrink_to_fit();
    return tree;
}

std::optional<EdsTree> ReadEdsFile(const std::filesystem::path& path, std::error_code& error)
{
    error.clear();
    errno = 0;
#ifdef _WIN32
    // Windows paths are UTF-16; the narrow fopen would go through the ANSI code page.
    std::FILE* file = _wfopen(path.c_str(), L"rb");
#else
    std::FILE* file = std::fopen(path.c_str(), "rb");
#endif
    if (file == nullptr) {
        error = std::error_code(errno != 0 ? errno : EIO, std::generic_category());
#ifdef _WIN32
        // Windows refuses to open a folder (EACCES) where POSIX fails the read.
        if (std::error_code folderError; std::filesystem::is_directory(path, folderError))
            error = std::make_error_code(std::errc::is_a_directory);
#endif
        return std::nullopt;
    }

    // One read of the known size; pipes and the like report no size and are
    // read in blocks until their end.
    std::string text;
    std::error_code sizeError;
    const std::uintmax_t size = std::filesystem::file_size(path, sizeError);
    if (!sizeError && size > 0)
        text.reserve(static_cast<std::size_t>(size));
    constexpr std::size_t kBlock = std::size_t{1} << 16;
    std::size_t have = 0;
    for (;;) {
        const std::size_t want = text.capacity() > have + kBlock ? text.capacity() - have : kBlock;
        text.resize(have + want);
        const std::size_t got = std::fread(text.data() + have, 1, want, file);
        have += got;
        if (got < want)
            break;
    }
    text.resize(have);
    const bool failed = std::ferror(file) != 0;
    const int readErrno = errno;
    std::fclose(file);
    if (failed) {
        error = std::error_code(readErrno != 0 ? readErrno : EIO, std::generic_category());
        return std::nullopt;
    }
    return EdsTree::Parse(std::move(text));
}

std::vector<std::string> SectionMemoLines(const EDSNode* node)
{
    std::vector<std::string> memo{" "};
    if (node == nullptr)
        return memo;
    memo.reserve(node->Lines.size() + 1);
    for (std::string_view line : node->Lines) {
        std::string& m = memo.emplace_back(" ");
        m.append(line);
    }
    return memo;
}

std::string AddressMemoLine(const EDSNode* node)
{
    if (node == nullptr)
        return "no node";
    std::string line = " ";
    AppendHex8(line, node->IndexSub);
    return line;
}

} // namespace tervix
