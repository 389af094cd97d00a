#include "dcf.h"

#include "config_file.h"
#include "hex_text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <set>

namespace tervix {

namespace {

struct IntegerType {
    std::uint16_t code;
    unsigned bytes;
    bool isSigned;
};

// The CiA 301 integer types by data type index.
constexpr IntegerType kIntegerTypes[] = {
    {0x0001, 1, false}, {0x0002, 1, true},  {0x0003, 2, true},  {0x0004, 4, true},  {0x0005, 1, false},
    {0x0006, 2, false}, {0x0007, 4, false}, {0x0010, 3, true},  {0x0012, 5, true},  {0x0013, 6, true},
    {0x0014, 7, true},  {0x0015, 8, true},  {0x0016, 3, false}, {0x0018, 5, false}, {0x0019, 6, false},
    {0x001A, 7, false}, {0x001B, 8, false},
};
constexpr std::uint16_t kReal32 = 0x0008;
constexpr std::uint16_t kReal64 = 0x0011;

const IntegerType* FindInteger(std::optional<std::uint16_t> type)
{
    if (!type)
        return nullptr;
    for (const IntegerType& t : kIntegerTypes)
        if (t.code == *type)
            return &t;
    return nullptr;
}

std::string HexDigitsOf(ByteView bytes)
{
    std::string text;
    for (const std::uint8_t b : bytes)
        AppendHex2(text, b);
    return text;
}

template <typename Float>
std::string ShortestText(Float value)
{
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, r.ptr);
}

} // namespace

DcfAccess AccessFromText(std::string_view text)
{
    if (EdsNamesEqual(text, "ro"))
        return DcfAccess::ReadOnly;
    if (EdsNamesEqual(text, "const"))
        return DcfAccess::Const;
    if (EdsNamesEqual(text, "rw") || EdsNamesEqual(text, "rww") || EdsNamesEqual(text, "rwr"))
        return DcfAccess::ReadWrite;
    if (EdsNamesEqual(text, "wo"))
        return DcfAccess::WriteOnly;
    return DcfAccess::Unknown;
}

std::string_view AccessText(DcfAccess access)
{
    switch (access) {
    case DcfAccess::ReadOnly: return "ro";
    case DcfAccess::Const: return "const";
    case DcfAccess::ReadWrite: return "rw";
    case DcfAccess::WriteOnly: return "wo";
    case DcfAccess::Unknown: break;
    }
    return {};
}

const DcfEntry* DcfDocument::Find(std::uint16_t index, std::uint8_t subIndex) const
{
    for (const DcfEntry& e : entries)
        if (e.index == index && e.subIndex == subIndex)
            return &e;
    return nullptr;
}

std::string SectionName(std::uint16_t index, std::uint8_t subIndex, bool isSub)
{
    std::string name;
    AppendHex4(name, index);
    if (isSub) {
        name += "sub";
        if (subIndex >= 0x10)
            name.push_back(HexDigit(subIndex >> 4u));
        name.push_back(HexDigit(subIndex & 0xFu));
    }
    return name;
}

std::optional<std::size_t> PageOfIndex(std::uint16_t index)
{
    for (std::size_t p = 0; p < kPages.size(); ++p)
        if ((index & 0xFF00u) == kPages[p].baseIndex)
            return p;
    return std::nullopt;
}

// ---- What an EDS knows ------------------------------------------------------

EdsObjects::EdsObjects(const EdsTree& tree)
{
    DcfDocument doc = ReadDcf(tree);
    entries_ = std::move(doc.entries);
    for (std::size_t i = 0; i < entries_.size(); ++i)
        byAddress_.emplace(entries_[i].Address(), i);
}

std::optional<DcfEntry> EdsObjects::Find(std::uint16_t index, std::uint8_t subIndex) const
{
    auto it = byAddress_.find((std::uint32_t{index} << 16) | subIndex);
    if (it == byAddress_.end() && PageOfIndex(index))
        it = byAddress_.find((std::uint32_t{index & 0xFF00u} << 16) | subIndex);
    if (it == byAddress_.end())
        return std::nullopt;
    DcfEntry e = entries_[it->second];
    e.index = index;
    e.subIndex = subIndex;
    e.value.reset();
    return e;
}

std::vector<DcfEntry> EdsObjects::Readable() const
{
    std::vector<DcfEntry> out;
    for (const DcfEntry& e : entries_) {
        if (e.isSub && e.subIndex == 0)
            continue;
        if (e.access == DcfAccess::ReadOnly || e.access == DcfAccess::Const || e.access == DcfAccess::ReadWrite) {
            out.push_back(e);
            out.back().value.reset();
        }
    }
    return out;
}

DcfEntry DescribeObject(std::uint16_t index, std::uint8_t subIndex, const EdsObjects* eds)
{
    if (eds)
        if (auto known = eds->Find(index, subIndex))
            return *known;
    DcfEntry e;
    e.index = index;
    e.subIndex = subIndex;
    e.isSub = subIndex != 0;
    switch (index) {
    case 0x1000:
        e.name = "Device type";
        e.dataType = dcf_type::kUnsigned32;
        e.access = DcfAccess::ReadOnly;
        return e;
    case 0x1008:
    case 0x1009:
    case 0x100A:
        e.name = index == 0x1008   ? "Manufacturer device name"
                 : index == 0x1009 ? "Manufacturer hardware version"
                                   : "Manufacturer software version";
        e.dataType = dcf_type::kVisibleString;
        e.access = DcfAccess::Const;
        return e;
    case 0x1018: {
        static constexpr std::string_view kNames[] = {"Highest sub-index supported", "Vendor-ID", "Product code",
                                                      "Revision number", "Serial number"};
        e.objectName = "Identity object";
        e.isSub = true;
        if (subIndex < std::size(kNames))
            e.name = kNames[subIndex];
        e.dataType = subIndex == 0 ? std::uint16_t{0x0005} : dcf_type::kUnsigned32;
        e.access = subIndex == 0 ? DcfAccess::Const : DcfAccess::ReadOnly;
        return e;
    }
    default: break;
    }
    if (const auto page = PageOfIndex(index)) {
        e.isSub = true;
        e.objectName = std::string(kPages[*page].caption) + " parameters";
        e.dataType = dcf_type::kInteger32;
        e.access = DcfAccess::ReadWrite;
    }
    return e;
}

// ---- Values -----------------------------------------------------------------

std::optional<std::string> DcfValueText(ByteView bytes, std::optional<std::uint16_t> dataType, std::string* why)
{
    auto fail = [&](std::string reason) -> std::optional<std::string> {
        if (why)
            *why = std::move(reason);
        return std::nullopt;
    };
    if (const IntegerType* t = FindInteger(dataType)) {
        if (bytes.size() != t->bytes)
            return fail("answer of " + std::to_string(bytes.size()) + " bytes for a " + std::to_string(t->bytes) +
                        "-byte type");
        std::uint64_t raw = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i)
            raw |= std::uint64_t{bytes[i]} << (8 * i);
        if (t->isSigned) {
            const unsigned bits = 8 * t->bytes;
            std::int64_t value = static_cast<std::int64_t>(raw);
            if (bits < 64 && (raw >> (bits - 1)) & 1u)
                value = static_cast<std::int64_t>(raw | (~std::uint64_t{0} << bits));
            return std::to_string(value);
        }
        std::string text = "0x";
        for (std::size_t i = bytes.size(); i-- > 0;)
            AppendHex2(text, bytes[i]);
        return text;
    }
    if (dataType == kReal32 || dataType == kReal64) {
        const std::size_t size = dataType == kReal32 ? 4 : 8;
        if (bytes.size() != size)
            return fail("answer of " + std::to_string(bytes.size()) + " bytes for a " + std::to_string(size) +
                        "-byte type");
        std::uint64_t raw = 0;
        for (std::size_t i = 0; i < size; ++i)
            raw |= std::uint64_t{bytes[i]} << (8 * i);
        if (size == 4)
            return ShortestText(std::bit_cast<float>(static_cast<std::uint32_t>(raw)));
        return ShortestText(std::bit_cast<double>(raw));
    }
    if (dataType == dcf_type::kVisibleString) {
        std::size_t size = bytes.size();
        while (size > 0 && bytes[size - 1] == 0)
            --size;
        std::string text(reinterpret_cast<const char*>(bytes.data()), size);
        if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
            return fail("text with a line break or NUL, which a file line cannot keep");
        return text;
    }
    return HexDigitsOf(bytes);
}

std::optional<std::vector<std::uint8_t>> DcfValueBytes(std::string_view text, std::optional<std::uint16_t> dataType,
                                                       std::optional<unsigned> nodeId)
{
    if (const IntegerType* t = FindInteger(dataType)) {
        const auto n = EdsInteger(text, nodeId);
        if (!n)
            return std::nullopt;
        const unsigned bits = 8 * t->bytes;
        std::uint64_t raw = n->magnitude;
        if (t->isSigned) {
            const std::uint64_t limit = std::uint64_t{1} << (bits - 1); // |min|
            if (n->negative ? raw > limit : raw >= limit) {
                // A signed type's value may also be written at its width in
                // hex, as its bytes: 0xFFFFFFFF for -1.
                const bool hex = text.find("0x") != std::string_view::npos || text.find("0X") != std::string_view::npos;
                if (!hex || n->negative || (bits < 64 && raw >> bits) != 0)
                    return std::nullopt;
            }
            if (n->negative)
                raw = ~raw + 1;
        } else if (n->negative || (bits < 64 && raw >> bits) != 0) {
            return std::nullopt;
        }
        std::vector<std::uint8_t> bytes(t->bytes);
        for (unsigned i = 0; i < t->bytes; ++i)
            bytes[i] = static_cast<std::uint8_t>(raw >> (8 * i));
        return bytes;
    }
    if (dataType == kReal32 || dataType == kReal64) {
        const std::string s(text);
        char* end = nullptr;
        const double v = std::strtod(s.c_str(), &end);
        if (s.empty() || *end != '\0')
            return std::nullopt;
        std::uint64_t raw = dataType == kReal32 ? std::bit_cast<std::uint32_t>(static_cast<float>(v))
                                                : std::bit_cast<std::uint64_t>(v);
        std::vector<std::uint8_t> bytes(dataType == kReal32 ? 4 : 8);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(raw >> (8 * i));
        return bytes;
    }
    if (dataType == dcf_type::kVisibleString)
        return std::vector<std::uint8_t>(text.begin(), text.end());
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = HexDigitValue(text[i]);
        const int lo = HexDigitValue(text[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return bytes;
}

std::string CanonicalValue(const DcfEntry& entry, std::optional<unsigned> nodeId)
{
    if (!entry.value)
        return {};
    if (const auto bytes = DcfValueBytes(*entry.value, entry.dataType, nodeId))
        if (auto text = DcfValueText(*bytes, entry.dataType, nullptr))
            return *text;
    return *entry.value;
}

// ---- Writing ----------------------------------------------------------------

namespace {

void Line(std::string& out, std::string_view key, std::string_view value)
{
    out.append(key);
    out.push_back('=');
    out.append(value);
    out += "\r\n";
}

std::string Hex16(std::uint16_t v)
{
    std::string s = "0x";
    AppendHex4(s, v);
    return s;
}

std::string Hex32(std::uint32_t v)
{
    return "0x" + Hex8(v);
}

void EntryLines(std::string& out, const DcfEntry& e)
{
    out += '[' + SectionName(e.index, e.subIndex, e.isSub) + "]\r\n";
    Line(out, "ParameterName", e.name);
    Line(out, "ObjectType", "0x7");
    if (e.dataType)
        Line(out, "DataType", Hex16(*e.dataType));
    if (const std::string_view access = AccessText(e.access); !access.empty())
        Line(out, "AccessType", access);
    Line(out, "PDOMapping", "0");
    if (e.value)
        Line(out, "ParameterValue", *e.value);
    out += "\r\n";
}

void ObjectList(std::string& out, std::string_view section, const std::vector<std::uint16_t>& indices)
{
    out += '[';
    out.append(section);
    out += "]\r\n";
    Line(out, "SupportedObjects", std::to_string(indices.size()));
    for (std::size_t i = 0; i < indices.size(); ++i)
        Line(out, std::to_string(i + 1), Hex16(indices[i]));
    out += "\r\n";
}

} // namespace

std::string DcfText(const DcfDocument& document, std::string_view fileName)
{
    // Objects in order of their first entry; an entry that failed is a
    // comment where its section would be.
    std::vector<std::uint16_t> order;
    std::map<std::uint16_t, std::vector<const DcfEntry*>> byIndex;
    for (const DcfEntry& e : document.entries) {
        auto& list = byIndex[e.index];
        if (list.empty())
            order.push_back(e.index);
        list.push_back(&e);
    }
    std::vector<std::uint16_t> mandatory, optional, manufacturer;
    for (const std::uint16_t index : order) {
        const auto& list = byIndex[index];
        const bool any = std::any_of(list.begin(), list.end(), [](const DcfEntry* e) { return e->value.has_value(); });
        if (!any)
            continue;
        if (index == 0x1000 || index == 0x1001 || index == 0x1018)
            mandatory.push_back(index);
        else if (index >= 0x2000 && index < 0x6000)
            manufacturer.push_back(index);
        else
            optional.push_back(index);
    }

    std::string out;
    out += "; Device configuration file: the values read from the device.\r\n\r\n";
    out += "[FileInfo]\r\n";
    Line(out, "FileName", fileName);
    Line(out, "FileVersion", "1");
    Line(out, "FileRevision", "0");
    Line(out, "EDSVersion", "4.0");
    Line(out, "Description", document.description);
    Line(out, "CreationTime", document.creationTime);
    Line(out, "CreationDate", document.creationDate);
    Line(out, "CreatedBy", document.createdBy);
    Line(out, "ModificationTime", document.creationTime);
    Line(out, "ModificationDate", document.creationDate);
    Line(out, "ModifiedBy", document.createdBy);
    out += "\r\n";

    const auto value = [&](std::uint16_t index, std::uint8_t sub) -> const DcfEntry* {
        const DcfEntry* e = document.Find(index, sub);
        return e && e->value ? e : nullptr;
    };
    out += "[DeviceInfo]\r\n";
    if (const DcfEntry* name = value(0x1008, 0))
        Line(out, "ProductName", *name->value);
    if (const DcfEntry* v = value(0x1018, 1))
        Line(out, "VendorNumber", *v->value);
    if (const DcfEntry* v = value(0x1018, 2))
        Line(out, "ProductNumber", *v->value);
    if (const DcfEntry* v = value(0x1018, 3))
        Line(out, "RevisionNumber", *v->value);
    out += "\r\n";

    const DcfCommissioning& c = document.commissioning;
    out += "[DeviceComissioning]\r\n";
    if (c.nodeId)
        Line(out, "NodeID", std::to_string(*c.nodeId));
    Line(out, "NodeName", c.nodeName);
    if (c.baudrate)
        Line(out, "Baudrate", std::to_string(*c.baudrate));
    if (c.serialNumber)
        Line(out, "LSS_SerialNumber", Hex32(*c.serialNumber));
    out += "\r\n";

    ObjectList(out, "MandatoryObjects", mandatory);
    ObjectList(out, "OptionalObjects", optional);
    ObjectList(out, "ManufacturerObjects", manufacturer);

    for (const std::uint16_t index : order) {
        const auto& list = byIndex[index];
        std::size_t kept = 0;
        for (const DcfEntry* e : list)
            kept += e->value ? 1 : 0;
        const bool record = list.front()->isSub;
        if (record && kept > 0) {
            out += '[' + SectionName(index, 0, false) + "]\r\n";
            Line(out, "ParameterName", list.front()->objectName);
            Line(out, "ObjectType", "0x9");
            Line(out, "SubNumber", std::to_string(kept));
            out += "\r\n";
        }
        for (const DcfEntry* e : list) {
            if (e->value) {
                EntryLines(out, *e);
            } else {
                out += "; [" + SectionName(e->index, e->subIndex, e->isSub) + "] " + e->name + ": not read, " +
                       e->failure + "\r\n\r\n";
            }
        }
    }
    return out;
}

// ---- Reading ----------------------------------------------------------------

DcfDocument ReadDcf(const EdsTree& tree)
{
    DcfDocument doc;
    const auto& nodes = tree.Nodes();
    std::map<std::uint16_t, std::string> objectNames;
    for (const EDSNode& node : nodes) {
        if (EdsNamesEqual(node.name, "DeviceComissioning") || EdsNamesEqual(node.name, "DeviceCommissioning")) {
            if (const auto n = EdsInteger(EdsKeyValue(node, "NodeID")); n && !n->negative && n->magnitude < 256)
                doc.commissioning.nodeId = static_cast<unsigned>(n->magnitude);
            if (const auto n = EdsInteger(EdsKeyValue(node, "Baudrate")); n && !n->negative && n->magnitude < 100000)
                doc.commissioning.baudrate = static_cast<unsigned>(n->magnitude);
            doc.commissioning.nodeName = std::string(EdsKeyValue(node, "NodeName"));
            if (const auto n = EdsInteger(EdsKeyValue(node, "LSS_SerialNumber"));
                n && !n->negative && n->magnitude <= UINT32_MAX)
                doc.commissioning.serialNumber = static_cast<std::uint32_t>(n->magnitude);
            continue;
        }
        if (EdsNamesEqual(node.name, "FileInfo")) {
            doc.description = std::string(EdsKeyValue(node, "Description"));
            doc.createdBy = std::string(EdsKeyValue(node, "CreatedBy"));
            doc.creationDate = std::string(EdsKeyValue(node, "CreationDate"));
            doc.creationTime = std::string(EdsKeyValue(node, "CreationTime"));
            continue;
        }
        const auto address = SectionAddress(node.name);
        if (!address)
            continue;
        const std::string_view name = ParameterName(node);
        const auto objectType = EdsInteger(EdsKeyValue(node, "ObjectType"));
        // A record or array holds sub-objects; a variable holds a value.
        if (!address->isSub && objectType && (objectType->magnitude == 8 || objectType->magnitude == 9)) {
            objectNames[address->index] = std::string(name);
            continue;
        }
        DcfEntry e;
        e.index = address->index;
        e.subIndex = address->subIndex;
        e.isSub = address->isSub;
        e.name = std::string(name);
        if (const auto type = EdsInteger(EdsKeyValue(node, "DataType")); type && type->magnitude <= 0xFFFF)
            e.dataType = static_cast<std::uint16_t>(type->magnitude);
        e.access = AccessFromText(EdsKeyValue(node, "AccessType"));
        if (EdsHasKey(node, "ParameterValue"))
            e.value = std::string(EdsKeyValue(node, "ParameterValue"));
        doc.entries.push_back(std::move(e));
    }
    for (DcfEntry& e : doc.entries)
        if (const auto it = objectNames.find(e.index); it != objectNames.end())
            e.objectName = it->second;
    return doc;
}

// ---- Comparing --------------------------------------------------------------

std::vector<CompareRow> CompareDcf(const DcfDocument& a, const DcfDocument& b, const EdsObjects* eds)
{
    std::vector<CompareRow> rows;
    std::set<std::uint32_t> seen;
    auto add = [&](const DcfEntry& first, const DcfEntry* other, bool firstIsA) {
        if (!seen.insert(first.Address()).second)
            return;
        if (!first.value && !(other && other->value))
            return;
        CompareRow r;
        r.index = first.index;
        r.subIndex = first.subIndex;
        r.isSub = first.isSub;
        DcfEntry described = first;
        if (eds)
            if (auto known = eds->Find(first.index, first.subIndex)) {
                described.dataType = known->dataType;
                described.access = known->access;
                described.name = known->name;
            }
        if (described.access == DcfAccess::Unknown && other)
            described.access = other->access;
        if (described.access == DcfAccess::Unknown)
            described.access = DescribeObject(first.index, first.subIndex, nullptr).access;
        if (!described.dataType && other)
            described.dataType = other->dataType;
        r.name = described.name.empty() && other ? other->name : described.name;
        const auto canonical = [&](const DcfEntry* e, std::optional<unsigned> node) -> std::optional<std::string> {
            if (!e || !e->value)
                return std::nullopt;
            DcfEntry typed = *e;
            typed.dataType = described.dataType;
            return CanonicalValue(typed, node);
        };
        const DcfEntry* ea = firstIsA ? &first : other;
        const DcfEntry* eb = firstIsA ? other : &first;
        r.a = canonical(ea, a.commissioning.nodeId);
        r.b = canonical(eb, b.commissioning.nodeId);
        r.readOnly = IsReadOnly(described.access);
        r.differs = !r.readOnly && r.a != r.b;
        rows.push_back(std::move(r));
    };
    for (const DcfEntry& e : a.entries)
        add(e, b.Find(e.index, e.subIndex), true);
    for (const DcfEntry& e : b.entries)
        add(e, a.Find(e.index, e.subIndex), false);
    return rows;
}

std::size_t CountDifferences(const std::vector<CompareRow>& rows)
{
    return static_cast<std::size_t>(std::count_if(rows.begin(), rows.end(), [](const CompareRow& r) { return r.differs; }));
}

} // namespace tervix
