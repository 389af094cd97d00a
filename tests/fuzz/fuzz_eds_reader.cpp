// Arbitrary bytes as an EDS file: the tree must keep its shape rules, must
// not depend on which line endings the file uses, and the SDO dialog's texts
// must be sound for every node. The same bytes also go through the dialog's
// integer reading (checked against std::from_chars) and its answer texts.
#include "eds_reader.h"
#include "fuzz_check.h"
#include "sdo_texts.h"
#include "text_encoding.h"

#include <charconv>
#include <memory>
#include <string>
#include <string_view>

using namespace tervix;

namespace {

std::string WithLfOnly(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out.push_back('\n');
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

void CheckTree(const EdsTree& tree)
{
    const auto& nodes = tree.Nodes();
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const EDSNode& n = nodes[i];
        fuzz::Check(CharCount(n.name) <= kEdsMaxSectionName);
        // Names and lines are UTF-8 whatever the file's bytes; a leading "x"
        // keeps a byte-order mark in them from being skipped.
        fuzz::Check(DecodeText("x" + std::string(n.name)).encoding == TextEncoding::Utf8);
        (void)ParameterName(n);
        fuzz::Check(n.name.find_first_of("\r\n") == std::string_view::npos);
        // Sub-objects hang under an earlier object node; objects under the root.
        if (n.parent != kEdsRoot) {
            fuzz::Check(n.parent < i && nodes[n.parent].parent == kEdsRoot);
            for (std::size_t k = n.parent + 1; k < i; ++k)
                fuzz::Check(nodes[k].parent == n.parent);
        }
        for (std::string_view line : n.Lines) {
            fuzz::Check(!line.empty() && line.front() != ';' && line.front() != '[');
            fuzz::Check(line.find_first_of("\r\n") == std::string_view::npos);
        }
        const SdoNodeView v = ShowNodeView(n, 0);
        fuzz::Check(v.caption == "Service Data Object - [" + std::string(n.name) + "]");
        fuzz::Check(v.memoLines.size() == n.Lines.size());
        fuzz::Check(v.readWriteEnabled == (v.Index >= 0x1000));
        fuzz::Check((std::uint32_t(v.Index) << 16 | v.SubIndex) == n.IndexSub);
    }
}

bool SameTree(const EdsTree& a, const EdsTree& b)
{
    if (a.Nodes().size() != b.Nodes().size() || a.LineCount() != b.LineCount())
        return false;
    for (std::size_t i = 0; i < a.Nodes().size(); ++i) {
        const EDSNode& x = a.Nodes()[i];
        const EDSNode& y = b.Nodes()[i];
        if (x.name != y.name || x.IndexSub != y.IndexSub || x.parent != y.parent ||
            x.Lines.size() != y.Lines.size())
            return false;
        for (std::size_t k = 0; k < x.Lines.size(); ++k)
            if (x.Lines[k] != y.Lines[k])
                return false;
    }
    return true;
}

// The dialog's integer rules, read a second way.
std::optional<std::uint32_t> ReferenceInteger(std::string_view t)
{
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t'))
        t.remove_prefix(1);
    int base = 10;
    for (std::string_view prefix : {"0x", "0X", "$", "x", "X"})
        if (t.starts_with(prefix)) {
            t.remove_prefix(prefix.size());
            base = 16;
            break;
        }
    if (t.empty() || (base == 16 && (t.front() == '+' || t.front() == '-')))
        return std::nullopt;
    if (base == 10 && t.front() == '+') {
        t.remove_prefix(1);
        if (t.empty() || t.front() == '-')
            return std::nullopt;
    }
    if (base == 16) {
        // Leading zeros do not count against the 32 bits.
        while (t.size() > 1 && t.front() == '0')
            t.remove_prefix(1);
        std::uint64_t v = 0;
        const auto r = std::from_chars(t.data(), t.data() + t.size(), v, 16);
        if (r.ec != std::errc() || r.ptr != t.data() + t.size() || v > 0xFFFFFFFFu)
            return std::nullopt;
        return static_cast<std::uint32_t>(v);
    }
    std::int32_t v = 0;
    const auto r = std::from_chars(t.data(), t.data() + t.size(), v, 10);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size())
        return std::nullopt;
    return static_cast<std::uint32_t>(v);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const EdsTree tree = EdsTree::Parse(std::string(text));
    CheckTree(tree);
    const EdsTree lfOnly = EdsTree::Parse(WithLfOnly(text));
    fuzz::Check(SameTree(tree, lfOnly));

    if (size <= 64)
        fuzz::Check(ParseKeyInteger(text) == ReferenceInteger(text));

    // The bytes as a received packet, from a heap copy of exactly their size.
    const auto copy = std::make_unique<std::uint8_t[]>(size);
    std::copy(data, data + size, copy.get());
    const SdoAnswerView answer = ShowAnswerView(ByteView(copy.get(), size));
    if (answer.structure) {
        fuzz::Check(size >= 8 && data[7] == 0xFF);
        fuzz::Check(answer.memoLines[0].starts_with("OBJECT(") && answer.value.empty());
    } else {
        fuzz::Check(answer.value.size() == (size > 0 ? 3 * (size - 1) : 0));
    }
    return 0;
}
