// Device configuration files: an EDS's object sections with the values a
// unit actually holds (`ParameterValue`), its node, bit rate and name
// (`[DeviceComissioning]`) and who wrote the file when (`[FileInfo]`). The
// backup writes them, compare and restore read them; what an object is (its
// name, data type and access) comes from an EDS where one is loaded, else
// from the file itself, else from what CANopen fixes for the standard
// objects and the parameter pages' own rows.
#pragma once

#include "eds_reader.h"
#include "frame_packet.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tervix {

// CiA 301 data types a backup reads and writes by value.
namespace dcf_type {
constexpr std::uint16_t kBoolean = 0x0001;
constexpr std::uint16_t kInteger32 = 0x0004;
constexpr std::uint16_t kUnsigned32 = 0x0007;
constexpr std::uint16_t kVisibleString = 0x0009;
} // namespace dcf_type

enum class DcfAccess : std::uint8_t { Unknown, ReadOnly, Const, ReadWrite, WriteOnly };

// "ro", "const", "rw" (also "rww", "rwr"), "wo", in any letter case.
DcfAccess AccessFromText(std::string_view text);
std::string_view AccessText(DcfAccess access); // empty for Unknown
// A live value or a fixed one: never counted as a difference, never written.
constexpr bool IsReadOnly(DcfAccess a)
{
    return a == DcfAccess::ReadOnly || a == DcfAccess::Const;
}

// One object of a file: a variable ("[1000]") or a sub-object ("[1018sub1]").
struct DcfEntry {
    std::uint16_t index = 0;
    std::uint8_t subIndex = 0;
    bool isSub = false;
    std::string name;
    std::string objectName; // of the record above a sub-object
    std::optional<std::uint16_t> dataType;
    DcfAccess access = DcfAccess::Unknown;
    std::optional<std::string> value; // ParameterValue as the file writes it
    std::string failure;              // why no value was read: kept as a comment

    std::uint32_t Address() const { return (std::uint32_t{index} << 16) | subIndex; }
};

struct DcfCommissioning {
    std::optional<unsigned> nodeId;
    std::optional<unsigned> baudrate; // kbit/s
    std::string nodeName;
    std::optional<std::uint32_t> serialNumber;
};

struct DcfDocument {
    std::vector<DcfEntry> entries; // in file order
    DcfCommissioning commissioning;
    std::string description;
    std::string createdBy;    // program name and version
    std::string creationDate; // mm-dd-yyyy, as CiA 306 writes it
    std::string creationTime; // hh:mm(AM|PM)

    const DcfEntry* Find(std::uint16_t index, std::uint8_t subIndex) const;
};

// What an EDS says of its objects, found by address. The parameter pages'
// objects exist once per unit (the index's low byte); an EDS describing
// one of them describes them all, so a unit's object not in the file is
// looked up at the page's base index.
class EdsObjects {
public:
    explicit EdsObjects(const EdsTree& tree);

    // Name, data type and access; empty when the file does not know it.
    std::optional<DcfEntry> Find(std::uint16_t index, std::uint8_t subIndex) const;
    // Every variable and sub-object the file marks readable (ro, const, rw),
    // sub-index 0 of records left out, in file order.
    std::vector<DcfEntry> Readable() const;

private:
    std::vector<DcfEntry> entries_;
    std::map<std::uint32_t, std::size_t> byAddress_;
};

// Name, data type and access of an object: the EDS's when it knows it,
// else CANopen's for the standard objects a backup reads (1000, 1008, 1009,
// 100A, 1018) and INTEGER32 "rw" for the page rows; else unknown.
DcfEntry DescribeObject(std::uint16_t index, std::uint8_t subIndex, const EdsObjects* eds);

// Whether `index` is one of a parameter page's objects; its page when so.
std::optional<std::size_t> PageOfIndex(std::uint16_t index);

// A value read, as the file keeps it: integers of signed types in decimal,
// of unsigned types and BOOLEAN as 0x hex at the type's width, REAL32 and
// REAL64 as the shortest decimal that reads back the same, a
// VISIBLE_STRING as its text (trailing NULs dropped), anything else as hex
// digits. Nothing, with `why` set, when the bytes do not fit the type or a
// text holds a line break or NUL a file line cannot keep.
std::optional<std::string> DcfValueText(ByteView bytes, std::optional<std::uint16_t> dataType, std::string* why);
// The bytes a file's value stands for (EdsInteger for integers, at the
// type's width and in its range); nothing when it does not read.
std::optional<std::vector<std::uint8_t>> DcfValueBytes(std::string_view text, std::optional<std::uint16_t> dataType,
                                                       std::optional<unsigned> nodeId = std::nullopt);
// A file's value as the backup would write it (0x0A and 10 read alike);
// the text itself when it does not read.
std::string CanonicalValue(const DcfEntry& entry, std::optional<unsigned> nodeId);

// The file's text, CR LF line ends as EDS files have them.
std::string DcfText(const DcfDocument& document, std::string_view fileName);

// Reads a DCF (or an EDS: its entries then hold no values). Keys and
// section names in any letter case, both spellings of the commissioning
// section. Entries are the variables and sub-objects, records' sub-index 0
// included when present.
DcfDocument ReadDcf(const EdsTree& tree);

// One row of a comparison.
struct CompareRow {
    std::uint16_t index = 0;
    std::uint8_t subIndex = 0;
    bool isSub = false;
    std::string name;
    std::optional<std::string> a; // canonical values; none where that side has no value
    std::optional<std::string> b;
    bool readOnly = false; // listed apart, never a difference
    bool differs = false;
};

// Every object with a value on either side, in a's order then b's; access
// from the EDS when given, else from a, else from b.
std::vector<CompareRow> CompareDcf(const DcfDocument& a, const DcfDocument& b, const EdsObjects* eds);
std::size_t CountDifferences(const std::vector<CompareRow>& rows);

// "2100sub5", "1000": the object's section name.
std::string SectionName(std::uint16_t index, std::uint8_t subIndex, bool isSub);

} // namespace tervix
