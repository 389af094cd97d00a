// Reads an EDS file for its section structure: every section header becomes
// a node of the object tree, every other line is kept verbatim as a line of
// its section. Only ParameterName (for the tree's tooltips) and the limits
// (for the SDO dialog's warning) are read here; the SDO dialog looks for the
// other few keys it needs.
//
// The file is read as UTF-8 when it is well-formed UTF-8 and as Windows-1252
// otherwise (a byte-order mark is skipped); names and lines are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace tervix {

constexpr std::string_view kEdsRootText = "Electronic data sheet";
// Longer section names are cut to this many characters (not bytes) before
// anything else is read from them.
constexpr std::size_t kEdsMaxSectionName = 255;
// The parent of a node that hangs directly under the root.
constexpr std::size_t kEdsRoot = static_cast<std::size_t>(-1);

// The value of the text's leading hexadecimal digits (either case), in
// 32-bit arithmetic; 0 when the text does not start with one. No sign,
// prefix or blank is accepted: "0x1018" gives 0.
std::uint32_t HexValue(std::string_view text);

// One section of the file. The views point into the EdsTree that made it
// and stay valid as long as that tree lives (moving the tree keeps them).
struct EDSNode {
    std::string_view name;                   // as spelled in the file, at most 255 characters
    std::uint32_t IndexSub = 0;              // index * 65536 + sub-index, modulo 2^32
    std::span<const std::string_view> Lines; // key lines, verbatim, in file order
    std::size_t parent = kEdsRoot;           // position of the object node above, or kEdsRoot

    // The tree node's text: the name in brackets.
    std::string Text() const;
    std::uint16_t Index() const { return static_cast<std::uint16_t>(IndexSub >> 16); }
    std::uint16_t SubIndex() const { return static_cast<std::uint16_t>(IndexSub); }
};

enum class EdsWarningKind : std::uint8_t {
    KeyLineBeforeSections,  // dropped: no section to hold it
    SubObjectBeforeObjects, // placed under the root: no object section above it
    SectionNameCut,         // name longer than kEdsMaxSectionName
};

// One kind of oddity, counted: the first line (1-based) where it occurred and
// how often. Counting instead of listing keeps memory bounded on any input.
struct EdsWarning {
    EdsWarningKind kind;
    std::uint64_t firstLine;
    std::uint64_t count;
};

// The value of the node's first key line whose key is `key` in any letter
// case, blanks around key and value dropped; empty when there is none.
std::string_view EdsKeyValue(const EDSNode& node, std::string_view key);
// Whether the node has such a key line, its value empty or not.
bool EdsHasKey(const EDSNode& node, std::string_view key);
// EdsKeyValue(node, "ParameterName").
std::string_view ParameterName(const EDSNode& node);

// The object a section's name addresses: "1018" (index, sub-index 0) or
// "1018sub2" (sub-index in hex, "SUB" in any letter case); none for any
// other name ("FileInfo", "1018sub", "10180").
struct EdsAddress {
    std::uint16_t index = 0;
    std::uint8_t subIndex = 0;
    bool isSub = false; // named as a sub-object
};
std::optional<EdsAddress> SectionAddress(std::string_view name);

// An integer as EDS and DCF files write it: decimal, "0x" hex, octal after
// a leading 0, an optional sign, and "$NODEID" (any letter case) added to
// it on either side ("$NODEID+0x180", "0x180+$NODEID", "$NODEID"), blanks
// around the parts allowed. Nothing when it does not read, when it names
// $NODEID and no node is given, or when it leaves 64 bits.
struct EdsNumber {
    bool negative = false;
    std::uint64_t magnitude = 0;
    friend bool operator==(const EdsNumber&, const EdsNumber&) = default;
};
std::optional<EdsNumber> EdsInteger(std::string_view text, std::optional<unsigned> nodeId = std::nullopt);

// Whether two section names or keys are equal, ASCII letter case ignored.
bool EdsNamesEqual(std::string_view a, std::string_view b);

// The values of the node's first "LowLimit" and "HighLimit" lines, read as
// ParameterName is; empty where the node has none.
struct EdsLimits {
    std::string_view low;
    std::string_view high;
};
EdsLimits Limits(const EDSNode& node);

// A fixed text describing the kind, e.g. "key line before any section, dropped".
std::string_view EdsWarningText(EdsWarningKind kind);

// The tree of one EDS file: the root (kEdsRootText, no record) and one node
// per section. Nodes are kept in file order, which is also the tree's
// pre-order: object sections hang under the root, each sub-object section
// (name containing "SUB" in any letter case) under the most recent object
// section before it.
class EdsTree {
public:
    // The text entry point: the file's bytes. Lines end at CR LF, LF or CR.
    static EdsTree Parse(std::string text);

    EdsTree(EdsTree&&) noexcept = default;
    EdsTree& operator=(EdsTree&&) noexcept = default;
    EdsTree(const EdsTree&) = delete;
    EdsTree& operator=(const EdsTree&) = delete;

    const std::vector<EDSNode>& Nodes() const { return nodes_; }
    // Oddities met while reading, at most one entry per kind, in the order
    // they were first met.
    const std::vector<EdsWarning>& Warnings() const { return warnings_; }
    // Number of lines in the file, empty and comment lines included.
    std::uint64_t LineCount() const { return lineCount_; }

private:
    EdsTree() = default;
    void ParseLine(std::string_view line);
    void Warn(EdsWarningKind kind);

    // Owned on the heap so that views into it survive moves of the tree,
    // short texts included.
    std::unique_ptr<const std::string> text_;
    std::vector<EDSNode> nodes_;
    std::vector<std::string_view> lines_;
    std::vector<std::size_t> firstLine_; // per node, into lines_, while reading
    std::vector<EdsWarning> warnings_;
    std::size_t currentObject_ = kEdsRoot;
    std::uint64_t lineCount_ = 0;
};

// The file entry point: reads the whole file in one go, then parses it.
// Nothing, with error set, when the file cannot be opened or read.
std::optional<EdsTree> ReadEdsFile(const std::filesystem::path& path, std::error_code& error);

// What the object page's memo shows for a click on a node: a single blank,
// then each key line after a blank. For the root (nullptr) the blank alone.
std::vector<std::string> SectionMemoLines(const EDSNode* node);
// The memo line a right-button press on a node appends: a blank and the
// IndexSub in 8 hex digits; "no node" for the root (nullptr).
std::string AddressMemoLine(const EDSNode* node);

} // namespace tervix
