#include "bus_commands.h"
#include "bus_internal.h"

#include "bit_rates.h"
#include "can_backends.h"
#include "candump_writer.h"
#include "canopen_client.h"
#include "eds_reader.h"
#include "json_text.h"
#include "sdo_texts.h"
#include "frame_naming.h"
#include "unit_boxes.h"
#include "weight_stats.h"
#include "receive_ring.h"
#include "serial_link.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <bit>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tervix::cli {

const std::string_view kBusHelp =
    "  nmt       start, stop or reset a node (or all)\n"
    "  sdo       read or write an object of a node by SDO, of any length\n"
    "  scan      which nodes answer, with device type, name and identity\n"
    "  info      a node's device type, name, versions, identity and heartbeat time\n"
    "  monitor   the frames on the bus, named, one line each (and a candump recording)\n"
    "  units     each weighing unit's value and status word, and their statistics\n"
    "  nodes     the nodes heard on the bus: NMT state, heartbeat, silence, emergencies\n"
    "  backup    a node's settings into a device configuration file (DCF)\n"
    "  restore   a device configuration file's settings written back to a node\n"
    "  diff      (with NODE) a node's settings compared with a device configuration file\n";

namespace {

using namespace std::chrono_literals;

} // namespace

const std::string_view kAdapterHelp =
    "Adapter options (before or after the command):\n"
    "  --can BACKEND[:INTERFACE]  sim[:OPTIONS], a Qt SerialBus plugin such as socketcan:can0\n"
    "                             or virtualcan:can0, pcan-light[:LIBRARY]\n"
    "  --serial PATH              a serial CAN adapter at PATH (e.g. /dev/ttyUSB0)\n"
    "  --rate KBIT                bus bit rate: 1000, 500 (default), 250, 125, 100, 50, 20, 10, 5\n"
    "  --sdo-timeout MS           how long each SDO answer is waited for (default 1000)\n"
    "  --sdo-abort-order ORDER    unit (data byte 4 most significant, as the weighing\n"
    "                             units send abort codes; default) or standard (CiA 301)\n"
    "  --json                     machine-readable output\n";

const std::string_view kExitHelp =
    "Exit status: 0 done, 1 usage error or a value that does not fit, 4 the adapter\n"
    "cannot be opened or a frame did not go out, 5 the node aborted the transfer,\n"
    "6 no answer in time, 128+N ended by signal N.\n";

// --- Numbers as a technician writes them ----------------------------------------

std::optional<long long> ParseInteger(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    unsigned long long v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() ||
        v > static_cast<unsigned long long>(std::numeric_limits<long long>::max()))
        return std::nullopt;
    return negative ? -static_cast<long long>(v) : static_cast<long long>(v);
}

namespace {

// The value types of `sdo`: width in bytes (0: any) and whether signed.
struct ValueType {
    std::string_view name;
    std::size_t width;
    bool isSigned;
};
constexpr std::array kTypes = {
    ValueType{"u8", 1, false},     ValueType{"u16", 2, false}, ValueType{"u32", 4, false},
    ValueType{"i8", 1, true},      ValueType{"i16", 2, true},  ValueType{"i32", 4, true},
    ValueType{"real32", 4, false}, ValueType{"string", 0, false}, ValueType{"hex", 0, false},
};

const ValueType* FindType(std::string_view name)
{
    for (const ValueType& t : kTypes)
        if (t.name == name)
            return &t;
    return nullptr;
}

// The bytes a write sends for `text` read as `type`; an error text when the
// value does not read or does not fit.
std::optional<std::vector<std::uint8_t>> ValueBytes(std::string_view text, const ValueType& type,
                                                    std::string* error)
{
    std::vector<std::uint8_t> bytes;
    if (type.name == "string")
        return std::vector<std::uint8_t>(text.begin(), text.end());
    if (type.name == "hex") {
        std::string digits;
        for (char c : text)
            if (c != ' ' && c != ':')
                digits.push_back(c);
        if (digits.empty() || digits.size() % 2 != 0) {
            *error = "'" + std::string(text) + "' is no even count of hexadecimal digits";
            return std::nullopt;
        }
        for (std::size_t i = 0; i < digits.size(); i += 2) {
            unsigned b = 0;
            const auto r = std::from_chars(digits.data() + i, digits.data() + i + 2, b, 16);
            if (r.ec != std::errc() || r.ptr != digits.data() + i + 2) {
                *error = "'" + std::string(text) + "' is no hexadecimal byte string";
                return std::nullopt;
            }
            bytes.push_back(static_cast<std::uint8_t>(b));
        }
        return bytes;
    }
    std::uint32_t raw = 0;
    if (type.name == "real32") {
        float f = 0;
        const auto r = std::from_chars(text.data(), text.data() + text.size(), f);
        if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(f)) {
            *error = "'" + std::string(text) + "' is no finite number for real32";
            return std::nullopt;
        }
        raw = std::bit_cast<std::uint32_t>(f);
    } else {
        const std::optional<long long> v = ParseInteger(text);
        const int bits = static_cast<int>(type.width * 8);
        const long long low = type.isSigned ? -(1LL << (bits - 1)) : 0;
        const long long high = type.isSigned ? (1LL << (bits - 1)) - 1 : (1LL << bits) - 1;
        if (!v || *v < low || *v > high) {
            *error = "'" + std::string(text) + "' is no " + std::string(type.name) + " (" + std::to_string(low) +
                     " to " + std::to_string(high) + ", decimal or 0x hex)";
            return std::nullopt;
        }
        raw = static_cast<std::uint32_t>(*v);
    }
    for (std::size_t i = 0; i < type.width; ++i)
        bytes.push_back(static_cast<std::uint8_t>(raw >> (8 * i)));
    return bytes;
}

// "4B 52 56": the log's hex dump without its leading blank.
std::string HexBytes(ByteView bytes)
{
    std::string s;
    AppendHexDump(s, bytes);
    return s.empty() ? s : s.substr(1);
}

// A read's bytes as `type` gives them; a number takes its width's bytes
// (fewer read as zero).
std::string ValueText(ByteView bytes, const ValueType& type)
{
    if (type.name == "hex")
        return HexBytes(bytes);
    if (type.name == "string") {
        std::size_t n = bytes.size();
        while (n > 0 && bytes[n - 1] == 0)
            --n;
        return std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    }
    std::uint32_t raw = 0;
    for (std::size_t i = 0; i < type.width && i < bytes.size(); ++i)
        raw |= std::uint32_t(bytes[i]) << (8 * i);
    if (type.name == "real32") {
        char buffer[32];
        const auto r = std::to_chars(buffer, buffer + sizeof buffer, std::bit_cast<float>(raw));
        return std::string(buffer, r.ptr);
    }
    if (!type.isSigned)
        return std::to_string(raw);
    const int shift = 32 - static_cast<int>(type.width * 8);
    return std::to_string(static_cast<std::int32_t>(raw << shift) >> shift);
}

std::string JsonString(std::string_view s)
{
    std::string out;
    AppendJsonString(out, s);
    return out;
}

} // namespace

// The bus, or nothing after saying on standard error why not.
std::unique_ptr<Bus> OpenBus(const BusOptions& options, std::string_view command, const CliStreams& io)
{
    std::string error;
    auto bus = Bus::Open(options, &error);
    if (!bus)
        io.err << kProgramName << ' ' << command << ": " << error << '\n';
    return bus;
}

// Polls the bus and moves the client on until `done`, a stop signal, or the
// limit; false unless done.
bool RunUntil(Bus& bus, CanopenClient* client, const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const TimePoint end = DefaultClock().Now() + limit;
    for (;;) {
        bus.Poll([client](const BusFrame& f, TimePoint at) {
            if (client)
                client->Receive(f, at);
        });
        const TimePoint now = DefaultClock().Now();
        if (client)
            client->Process(now);
        if (done())
            return true;
        if (StopSignal() != 0 || now >= end)
            return false;
        std::this_thread::sleep_for(200us);
    }
}

// --- Commands ----------------------------------------------------------------------------

// Splits the words into adapter options (into `options`), the command's own
// options and its positional words; a usage error's text in *error.
std::optional<Words> SplitWords(CommandArgs args, BusOptions& options, std::string* error)
{
    Words w;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        auto value = [&]() -> std::optional<std::string_view> {
            if (i + 1 >= args.size()) {
                *error = "option '" + std::string(a) + "' needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        if (a == "--help" || a == "-h") {
            w.help = true;
        } else if (a == "--json") {
            options.json = true;
        } else if (a == "--listen") {
            w.listen = true;
        } else if (a == "--sdo-abort-order") {
            const auto v = value();
            if (!v)
                return std::nullopt;
            if (*v != "unit" && *v != "standard") {
                *error = "'" + std::string(*v) + "' is no value for --sdo-abort-order (unit or standard)";
                return std::nullopt;
            }
            options.abortOrder = *v == "standard" ? AbortOrder::Standard : AbortOrder::Unit;
        } else if (a == "--eds") {
            const auto v = value();
            if (!v)
                return std::nullopt;
            w.eds = *v;
        } else if (a == "--can" || a == "--serial" || a == "--rate" || a == "--sdo-timeout" || a == "--type" ||
                   a == "--unit") {
            const auto v = value();
            if (!v)
                return std::nullopt;
            if (a == "--can") {
                options.can = std::string(*v);
                options.serial.clear();
            } else if (a == "--serial") {
                options.serial = std::string(*v);
            } else if (a == "--type") {
                if (!FindType(*v)) {
                    *error = "unknown type '" + std::string(*v) +
                             "' (u8, u16, u32, i8, i16, i32, real32, string, hex)";
                    return std::nullopt;
                }
                w.type = *v;
            } else {
                const std::optional<long long> n = ParseInteger(*v);
                const bool rate = a == "--rate";
                bool ok = n.has_value();
                if (ok && rate) {
                    ok = false;
                    for (const BitRateEntry& e : kBitRates)
                        ok = ok || e.bitsPerSecond == static_cast<unsigned long long>(*n) * 1000;
                }
                if (ok && a == "--sdo-timeout")
                    ok = *n >= 1 && *n <= 600000;
                if (ok && a == "--unit")
                    ok = *n >= 0 && *n <= 255;
                if (!ok) {
                    *error = "'" + std::string(*v) + "' is no value for " + std::string(a);
                    return std::nullopt;
                }
                if (rate)
                    options.kbit = static_cast<unsigned>(*n);
                else if (a == "--sdo-timeout")
                    options.timeout = std::chrono::milliseconds(*n);
                else
                    w.unit = *n;
            }
        } else if (a.size() > 1 && a.front() == '-' && !std::isdigit(static_cast<unsigned char>(a[1])) &&
                   a[1] != '.') {
            *error = "unknown option '" + std::string(a) + "'";
            return std::nullopt;
        } else {
            w.positional.push_back(a);
        }
    }
    return w;
}

std::optional<unsigned> NodeNumber(std::string_view text, bool allowAll)
{
    if (allowAll && text == "all")
        return 0u;
    const std::optional<long long> n = ParseInteger(text);
    if (!n || *n < 1 || *n > 127)
        return std::nullopt;
    return static_cast<unsigned>(*n);
}

namespace {

constexpr std::string_view kNmtHelp = "Usage: tervix-cli [ADAPTER] nmt start|stop|preop|reset|reset-comm NODE|all\n\n"
                                      "Sends one NMT command to node NODE (1..127), or to all nodes.\n\n";

int RunNmt(const Words& w, const BusOptions& options, const CliStreams& io)
{
    static constexpr std::array<std::pair<std::string_view, std::uint8_t>, 5> kCommands = {
        {{"start", 0x01}, {"stop", 0x02}, {"preop", 0x80}, {"reset", 0x81}, {"reset-comm", 0x82}}};
    if (w.help)
        return WriteHelp(io, "nmt", std::string(kNmtHelp) + std::string(kAdapterHelp) + "\n" + std::string(kExitHelp));
    if (w.positional.size() != 2)
        return UsageError(io, "nmt", "needs a command and a node");
    std::optional<std::uint8_t> command;
    for (const auto& [name, code] : kCommands)
        if (name == w.positional[0])
            command = code;
    if (!command)
        return UsageError(io, "nmt", "unknown NMT command '" + std::string(w.positional[0]) + "'");
    const std::optional<unsigned> node = NodeNumber(w.positional[1], true);
    if (!node)
        return UsageError(io, "nmt", "'" + std::string(w.positional[1]) + "' is no node (1..127 or all)");
    auto bus = OpenBus(options, "nmt", io);
    if (!bus)
        return kExitAdapter;
    const std::uint8_t data[] = {*command, static_cast<std::uint8_t>(*node)};
    const Status sent = bus->Send(MakeFrame(0x000, data));
    if (!sent) {
        io.err << kProgramName << " nmt: " << sent.error() << '\n';
        return kExitAdapter;
    }
    // A plugin writes from its event loop: give it the time to.
    RunUntil(*bus, nullptr, [] { return false; }, 50ms);
    if (options.json)
        io.out << "{\"nmt\":" << JsonString(w.positional[0]) << ",\"node\":" << *node << "}\n";
    return kExitOk;
}

constexpr std::string_view kSdoHelp =
    "Usage: tervix-cli [ADAPTER] sdo read NODE INDEX SUB [--type TYPE] [--unit U]\n"
    "       tervix-cli [ADAPTER] sdo write NODE INDEX SUB VALUE [--type TYPE] [--unit U]\n\n"
    "Reads or writes object INDEX sub-index SUB of node NODE (1..127) by SDO,\n"
    "expedited or segmented as the size needs. Numbers are decimal or 0x hex.\n"
    "TYPE: u8 u16 u32 i8 i16 i32 real32 (a number with a dot) string hex (bytes as\n"
    "hex digits). Without --type the object's DataType in the EDS file given with\n"
    "--eds FILE decides; without either a read prints four bytes or fewer as u32 and\n"
    "longer values as hex, and a write takes u32. --unit U puts the weighing unit's\n"
    "address into the index's low byte.\n\n";

// The type an EDS file gives an object; nothing when it does not list it.
std::optional<std::string_view> EdsType(const std::filesystem::path& path, std::uint16_t index, std::uint8_t sub,
                                        std::string* error)
{
    std::error_code ec;
    const std::optional<EdsTree> tree = ReadEdsFile(path, ec);
    if (!tree) {
        *error = "cannot read " + path.string() + ": " + ec.message();
        return std::nullopt;
    }
    const std::uint32_t key = (std::uint32_t(index) << 16) | sub;
    for (const EDSNode& node : tree->Nodes()) {
        if (node.IndexSub != key)
            continue;
        switch (ShowNodeView(node, 0).DataType) {
        case 0x02: return "i8";
        case 0x03: return "i16";
        case 0x04: return "i32";
        case 0x05: return "u8";
        case 0x06: return "u16";
        case 0x07: return "u32";
        case 0x08: return "real32";
        case 0x09: return "string";
        default: return "hex";
        }
    }
    return std::nullopt;
}

int RunSdo(const Words& w, const BusOptions& options, const CliStreams& io)
{
    if (w.help)
        return WriteHelp(io, "sdo", std::string(kSdoHelp) + std::string(kAdapterHelp) + "\n" + std::string(kExitHelp));
    const bool read = !w.positional.empty() && w.positional[0] == "read";
    const bool write = !w.positional.empty() && w.positional[0] == "write";
    if (!read && !write)
        return UsageError(io, "sdo", "needs read or write");
    if (w.positional.size() != (read ? 4u : 5u))
        return UsageError(io, "sdo", read ? "read needs NODE INDEX SUB" : "write needs NODE INDEX SUB VALUE");
    const std::optional<unsigned> node = NodeNumber(w.positional[1], false);
    if (!node)
        return UsageError(io, "sdo", "'" + std::string(w.positional[1]) + "' is no node (1..127)");
    const std::optional<long long> index = ParseInteger(w.positional[2]);
    const std::optional<long long> sub = ParseInteger(w.positional[3]);
    if (!index || *index < 0 || *index > 0xFFFF)
        return UsageError(io, "sdo", "'" + std::string(w.positional[2]) + "' is no index (0 to 0xFFFF)");
    if (!sub || *sub < 0 || *sub > 0xFF)
        return UsageError(io, "sdo", "'" + std::string(w.positional[3]) + "' is no sub-index (0 to 0xFF)");
    auto objectIndex = static_cast<std::uint16_t>(*index);
    if (w.unit)
        objectIndex = static_cast<std::uint16_t>((objectIndex & 0xFF00) | *w.unit);
    const auto subIndex = static_cast<std::uint8_t>(*sub);
    std::optional<std::string_view> type = w.type;
    if (!type && w.eds) {
        std::string error;
        type = EdsType(std::filesystem::path(std::string(*w.eds)), static_cast<std::uint16_t>(*index), subIndex, &error);
        if (!error.empty()) {
            io.err << kProgramName << " sdo: " << error << '\n';
            return kExitCannotOpen;
        }
    }

    SdoTransfer transfer = SdoUpload(objectIndex, subIndex);
    if (write) {
        std::string error;
        const auto bytes = ValueBytes(w.positional[4], *FindType(type.value_or("u32")), &error);
        if (!bytes)
            return UsageError(io, "sdo", error); // nothing goes on the bus
        transfer = SdoDownload(objectIndex, subIndex, *bytes);
    }
    auto bus = OpenBus(options, "sdo", io);
    if (!bus)
        return kExitAdapter;
    std::optional<SdoResult> result;
    transfer.done = [&](const SdoResult& r) { result = r; };
    CanopenClient client([&](unsigned, const BusFrame& f, const SdoOutgoing&) { return bus->Send(f); },
                         options.Client());
    client.Queue(*node, std::move(transfer), DefaultClock().Now());
    // The client ends every transfer by itself; the limit only guards a node
    // that keeps answering segments without end.
    RunUntil(*bus, &client, [&] { return result.has_value(); }, 600s);
    if (!result) {
        io.err << kProgramName << " sdo: stopped\n";
        return 128 + StopSignal();
    }
    char object[24];
    std::snprintf(object, sizeof object, "0x%04X sub %u", objectIndex, unsigned(subIndex));
    switch (result->outcome) {
    case SdoOutcome::Done: break;
    case SdoOutcome::SendFailed:
        io.err << kProgramName << " sdo: " << result->sendError << '\n';
        return kExitAdapter;
    case SdoOutcome::TimedOut:
        io.err << kProgramName << " sdo: no answer from node " << *node << " for " << object << " within "
               << options.timeout.count() << " ms" << (result->abort ? " (transfer aborted, 05040000)" : "") << '\n';
        return kExitTimeout;
    case SdoOutcome::Aborted: {
        char code[12];
        std::snprintf(code, sizeof code, "%08X", result->abort->code);
        io.err << kProgramName << " sdo: " << (result->abort->byClient ? "aborted here, " : "node ")
               << (result->abort->byClient ? "" : std::to_string(*node) + " aborted, ") << object << ": " << code;
        if (!result->abort->text.empty())
            io.err << ' ' << result->abort->text;
        io.err << '\n';
        if (options.json)
            io.out << "{\"node\":" << *node << ",\"index\":" << objectIndex << ",\"sub\":" << unsigned(subIndex)
                   << ",\"abort\":\"" << code << "\",\"text\":" << JsonString(result->abort->text) << "}\n";
        return kExitAbort;
    }
    }
    if (write) {
        if (options.json)
            io.out << "{\"node\":" << *node << ",\"index\":" << objectIndex << ",\"sub\":" << unsigned(subIndex)
                   << ",\"written\":true}\n";
        return kExitOk;
    }
    const ValueType& shown = *FindType(type.value_or(result->data.size() <= 4 ? "u32" : "hex"));
    const std::string value = ValueText(result->data, shown);
    if (options.json)
        io.out << "{\"node\":" << *node << ",\"index\":" << objectIndex << ",\"sub\":" << unsigned(subIndex)
               << ",\"type\":\"" << shown.name << "\",\"value\":" << JsonString(value) << ",\"bytes\":\""
               << HexBytes(result->data) << "\"}\n";
    else
        io.out << value << '\n';
    io.out.flush();
    return io.out ? kExitOk : kExitIoError;
}

// --- Reading several objects ------------------------------------------------------------

// What a node gave for the objects asked of it; nothing where it aborted or
// stayed silent.
struct NodeReport {
    unsigned node = 0;
    std::optional<std::vector<std::uint8_t>> deviceType, name, hardware, software, heartbeat;
    std::array<std::optional<std::vector<std::uint8_t>>, 4> identity; // vendor, product, revision, serial
};

std::uint32_t U32(const std::optional<std::vector<std::uint8_t>>& bytes)
{
    std::uint32_t v = 0;
    for (std::size_t i = 0; bytes && i < 4 && i < bytes->size(); ++i)
        v |= std::uint32_t((*bytes)[i]) << (8 * i);
    return v;
}

std::string Text(const std::optional<std::vector<std::uint8_t>>& bytes)
{
    static const ValueType kString{"string", 0, false};
    return bytes ? ValueText(*bytes, kString) : std::string();
}

std::string Hex32(std::uint32_t v)
{
    char buffer[12];
    std::snprintf(buffer, sizeof buffer, "0x%08X", v);
    return buffer;
}

// Queues a read of each object for `report.node`; `finished` runs once when
// the last has ended. A node that does not answer the device type is asked
// nothing more.
void QueueReads(CanopenClient& client, NodeReport& report, bool full, std::function<void()> finished)
{
    struct Ask {
        std::uint16_t index;
        std::uint8_t sub;
        std::optional<std::vector<std::uint8_t>>* into;
    };
    auto rest = std::make_shared<std::vector<Ask>>();
    rest->push_back({0x1008, 0, &report.name});
    if (full) {
        rest->push_back({0x1009, 0, &report.hardware});
        rest->push_back({0x100A, 0, &report.software});
    }
    for (std::uint8_t sub = 1; sub <= 4; ++sub)
        rest->push_back({0x1018, sub, &report.identity[sub - 1u]});
    if (full)
        rest->push_back({0x1017, 0, &report.heartbeat});
    auto left = std::make_shared<std::size_t>(rest->size());
    auto done = std::make_shared<std::function<void()>>(std::move(finished));
    SdoTransfer first = SdoUpload(0x1000, 0);
    first.done = [&client, &report, rest, left, done](const SdoResult& r) {
        if (r.outcome != SdoOutcome::Done)
            return (*done)();
        report.deviceType = r.data;
        for (const Ask& a : *rest) {
            SdoTransfer t = SdoUpload(a.index, a.sub);
            t.done = [into = a.into, left, done](const SdoResult& r2) {
                if (r2.outcome == SdoOutcome::Done)
                    *into = r2.data;
                if (--*left == 0)
                    (*done)();
            };
            client.Queue(report.node, std::move(t), r.at);
        }
    };
    client.Queue(report.node, std::move(first), DefaultClock().Now());
}

void PrintReport(const NodeReport& r, bool full, bool json, std::ostream& out)
{
    if (json) {
        out << "{\"node\":" << r.node << ",\"deviceType\":\"" << Hex32(U32(r.deviceType)) << "\"";
        if (r.name)
            out << ",\"name\":" << JsonString(Text(r.name));
        if (full && r.hardware)
            out << ",\"hardware\":" << JsonString(Text(r.hardware));
        if (full && r.software)
            out << ",\"software\":" << JsonString(Text(r.software));
        static constexpr const char* kIdentity[] = {"vendor", "product", "revision", "serial"};
        for (std::size_t i = 0; i < 4; ++i)
            if (r.identity[i])
                out << ",\"" << kIdentity[i] << "\":\"" << Hex32(U32(r.identity[i])) << "\"";
        if (full && r.heartbeat)
            out << ",\"heartbeatMs\":" << U32(r.heartbeat);
        out << "}\n";
        return;
    }
    if (!full) {
        out << "node " << r.node << "  device type " << Hex32(U32(r.deviceType));
        if (r.name)
            out << "  \"" << Text(r.name) << '"';
        if (r.identity[0])
            out << "  vendor " << Hex32(U32(r.identity[0]));
        if (r.identity[1])
            out << "  product " << Hex32(U32(r.identity[1]));
        if (r.identity[2])
            out << "  revision " << Hex32(U32(r.identity[2]));
        if (r.identity[3])
            out << "  serial " << Hex32(U32(r.identity[3]));
        out << '\n';
        return;
    }
    auto line = [&out](std::string_view what, const std::string& value) {
        out << what << std::string(what.size() < 18 ? 18 - what.size() : 1, ' ') << value << '\n';
    };
    const std::string none = "(no answer)";
    line("node", std::to_string(r.node));
    line("device type", Hex32(U32(r.deviceType)));
    line("device name", r.name ? Text(r.name) : none);
    line("hardware version", r.hardware ? Text(r.hardware) : none);
    line("software version", r.software ? Text(r.software) : none);
    static constexpr std::string_view kIdentity[] = {"vendor", "product code", "revision", "serial number"};
    for (std::size_t i = 0; i < 4; ++i)
        line(kIdentity[i], r.identity[i] ? Hex32(U32(r.identity[i])) : none);
    line("heartbeat time", r.heartbeat ? std::to_string(U32(r.heartbeat)) + " ms" : none);
}

// How many nodes a scan asks at once: enough that 127 nodes with a 100 ms
// time-out take four rounds (under half a second), few enough that a
// serial adapter's or a driver's send queue never fills.
constexpr std::size_t kScanInFlight = 32;

constexpr std::string_view kScanHelp =
    "Usage: tervix-cli [ADAPTER] scan [--nodes FIRST-LAST] [--timeout MS]\n\n"
    "Asks every node in the range (default 1-127) for its device type (0x1000) and\n"
    "lists those that answer, with device name (0x1008) and identity (0x1018) where\n"
    "they give them. 32 nodes are asked at a time; --timeout (default 100 ms) is how\n"
    "long each answer is waited for.\n\n";

constexpr std::string_view kInfoHelp =
    "Usage: tervix-cli [ADAPTER] info NODE\n\n"
    "A node's device type, name, hardware and software version, identity (vendor,\n"
    "product, revision, serial number) and heartbeat time.\n\n";

int RunScanOrInfo(bool scan, const Words& w, BusOptions options, std::optional<std::string_view> nodes,
                  std::optional<std::string_view> timeout, const CliStreams& io)
{
    const char* name = scan ? "scan" : "info";
    if (w.help)
        return WriteHelp(io, name,
                         std::string(scan ? kScanHelp : kInfoHelp) + std::string(kAdapterHelp) + "\n" +
                             std::string(kExitHelp));
    unsigned first = 1, last = 127;
    if (scan) {
        if (!w.positional.empty())
            return UsageError(io, name, "takes no NODE: use --nodes");
        options.timeout = 100ms;
        if (timeout) {
            const std::optional<long long> ms = ParseInteger(*timeout);
            if (!ms || *ms < 1 || *ms > 600000)
                return UsageError(io, name, "'" + std::string(*timeout) + "' is no value for --timeout");
            options.timeout = std::chrono::milliseconds(*ms);
        }
        if (nodes) {
            const std::size_t dash = nodes->find('-');
            const auto a = NodeNumber(nodes->substr(0, dash), false);
            const auto b = dash == std::string_view::npos ? a : NodeNumber(nodes->substr(dash + 1), false);
            if (!a || !b || *a > *b)
                return UsageError(io, name, "'" + std::string(*nodes) + "' is no node range (e.g. 1-127)");
            first = *a;
            last = *b;
        }
    } else {
        if (w.positional.size() != 1)
            return UsageError(io, name, "needs a NODE");
        const auto node = NodeNumber(w.positional[0], false);
        if (!node)
            return UsageError(io, name, "'" + std::string(w.positional[0]) + "' is no node (1..127)");
        first = last = *node;
    }
    auto bus = OpenBus(options, name, io);
    if (!bus)
        return kExitAdapter;
    std::string sendError;
    CanopenClient client(
        [&](unsigned, const BusFrame& f, const SdoOutgoing&) {
            Status sent = bus->Send(f);
            if (!sent && sendError.empty())
                sendError = sent.error();
            return sent;
        },
        options.Client());
    std::vector<NodeReport> reports(last - first + 1);
    std::size_t next = 0, running = 0, finished = 0;
    std::function<void()> startMore = [&] {
        while (running < kScanInFlight && next < reports.size()) {
            NodeReport& r = reports[next];
            r.node = first + static_cast<unsigned>(next++);
            ++running;
            QueueReads(client, r, !scan, [&] {
                --running;
                ++finished;
                startMore();
            });
        }
    };
    startMore();
    RunUntil(*bus, &client, [&] { return finished == reports.size(); }, 600s);
    if (!sendError.empty()) {
        io.err << kProgramName << ' ' << name << ": " << sendError << '\n';
        return kExitAdapter;
    }
    std::size_t answered = 0;
    for (const NodeReport& r : reports)
        if (r.deviceType) {
            ++answered;
            PrintReport(r, !scan, options.json, io.out);
        }
    if (finished != reports.size())
        return 128 + StopSignal();
    if (scan && !options.json)
        io.out << answered << (answered == 1 ? " node" : " nodes") << " answered of " << reports.size() << " asked\n";
    io.out.flush();
    if (!scan && answered == 0) {
        io.err << kProgramName << " info: no answer from node " << first << " within " << options.timeout.count()
               << " ms\n";
        return kExitTimeout;
    }
    return io.out ? kExitOk : kExitIoError;
}

// --- Watching the bus ----------------------------------------------------------------------

struct WatchOptions {
    std::optional<std::chrono::milliseconds> duration; // --seconds; none: until a stop signal
    std::string record;                                // --record FILE
    std::optional<unsigned> node;                      // --node N
    bool stats = false;                                // --stats
};

std::string Seconds(std::chrono::nanoseconds since)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", std::chrono::duration<double>(since).count());
    return buffer;
}

// The node a frame belongs to: the one an NMT command addresses, else the
// identifier's low seven bits.
unsigned FrameNode(const BusFrame& f)
{
    if (!f.extended && f.id == 0 && f.length > 1)
        return f.data[1] & 0x7F;
    return f.id & 0x7F;
}

constexpr std::string_view kMonitorHelp =
    "Usage: tervix-cli [ADAPTER] monitor [--seconds N] [--record FILE] [--node N]\n\n"
    "One line per frame received: seconds since the start, its direction and the\n"
    "frame as the log names it. Runs N seconds, or until Ctrl+C. --record writes\n"
    "every frame to FILE as a candump log; --node shows (and records) only the\n"
    "frames of node N (an NMT command: the node it addresses). --can replay:FILE\n"
    "plays a recording.\n\n";

int RunMonitor(const Words& w, const BusOptions& options, const WatchOptions& watch, const CliStreams& io)
{
    if (w.help)
        return WriteHelp(io, "monitor",
                         std::string(kMonitorHelp) + std::string(kAdapterHelp) + "\n" + std::string(kExitHelp));
    if (!w.positional.empty())
        return UsageError(io, "monitor", "takes no arguments but options");
    std::ofstream record;
    if (!watch.record.empty()) {
        record.open(watch.record, std::ios::binary | std::ios::trunc);
        if (!record) {
            io.err << kProgramName << " monitor: cannot record to " << watch.record << ": " << std::strerror(errno)
                   << '\n';
            return kExitCannotOpen;
        }
    }
    auto bus = OpenBus(options, "monitor", io);
    if (!bus)
        return kExitAdapter;
    const TimePoint start = DefaultClock().Now();
    // Recorded times: the program's clock put on the wall clock, taken once.
    const auto wallOffset = std::chrono::system_clock::now().time_since_epoch() - start.time_since_epoch();
    std::string line, recorded;
    std::array<std::uint8_t, kMaxPacketSize> packet{};
    bool writeFailed = false;
    const auto show = [&](const BusFrame& f, TimePoint at) {
        if (writeFailed || (watch.node && FrameNode(f) != *watch.node))
            return;
        const std::size_t n = EncodePacket(f, packet.data());
        const ByteView bytes(packet.data(), n);
        line.clear();
        AppendLogLine(line, bytes, ClassifyMessage(bytes));
        if (options.json) {
            char id[12];
            std::snprintf(id, sizeof id, f.extended ? "%08X" : "%03X", unsigned(f.id));
            io.out << "{\"t\":" << Seconds(at - start) << ",\"dir\":\"rx\",\"id\":\"" << id
                   << "\",\"extended\":" << (f.extended ? "true" : "false") << ",\"remote\":"
                   << (f.remote ? "true" : "false") << ",\"data\":\"" << HexBytes(f.bytes())
                   << "\",\"name\":" << JsonString(line) << "}\n";
        } else {
            io.out << Seconds(at - start) << " Rx " << line << '\n';
        }
        // Line by line, so a pipe's reader sees each frame as it comes.
        io.out.flush();
        writeFailed = !io.out;
        if (record.is_open()) {
            recorded.clear();
            AppendCandumpLine(
                recorded,
                std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch() + wallOffset).count(), "rx",
                f);
            record << recorded;
        }
    };
    const TimePoint end = watch.duration ? start + *watch.duration : TimePoint::max();
    while (StopSignal() == 0 && !writeFailed && DefaultClock().Now() < end) {
        bus->Poll(show);
        if (record.is_open())
            record.flush();
        std::this_thread::sleep_for(1ms);
    }
    if (writeFailed) {
        io.err << kProgramName << " monitor: cannot write: " << WriteErrorReason() << '\n';
        return kExitIoError;
    }
    if (record.is_open() && !record) {
        io.err << kProgramName << " monitor: cannot write " << watch.record << '\n';
        return kExitIoError;
    }
    return StopSignal() != 0 ? 128 + StopSignal() : kExitOk;
}

constexpr std::string_view kUnitsHelp =
    "Usage: tervix-cli [ADAPTER] units NODE [--seconds N] [--stats] [--listen]\n\n"
    "Starts node NODE (NMT start; not with --listen, which sends nothing), then prints each weighing unit's TPDO1 as the\n"
    "value boxes show it: seconds since the start, the unit address, the value and\n"
    "the status word. Runs N seconds, or until Ctrl+C. --stats adds, per unit: the\n"
    "frames, mean, sample standard deviation, minimum, maximum and peak-to-peak.\n\n";

int RunUnits(const Words& w, const BusOptions& options, const WatchOptions& watch, const CliStreams& io)
{
    if (w.help)
        return WriteHelp(io, "units", std::string(kUnitsHelp) + std::string(kAdapterHelp) + "\n" + std::string(kExitHelp));
    if (w.positional.size() != 1)
        return UsageError(io, "units", "needs a NODE");
    const std::optional<unsigned> node = NodeNumber(w.positional[0], false);
    if (!node)
        return UsageError(io, "units", "'" + std::string(w.positional[0]) + "' is no node (1..127)");
    auto bus = OpenBus(options, "units", io);
    if (!bus)
        return kExitAdapter;
    const std::uint8_t start[] = {0x01, static_cast<std::uint8_t>(*node)};
    if (const Status sent = w.listen ? Status() : bus->Send(MakeFrame(0x000, start)); !sent) {
        io.err << kProgramName << " units: " << sent.error() << '\n';
        return kExitAdapter;
    }
    const TimePoint begin = DefaultClock().Now();
    std::map<unsigned, WeightStats> stats;
    std::string value, status;
    std::array<std::uint8_t, kMaxPacketSize> packet{};
    bool writeFailed = false;
    const auto show = [&](const BusFrame& f, TimePoint at) {
        if (writeFailed || f.extended || f.remote || f.id != 0x180 + *node)
            return;
        const std::size_t n = EncodePacket(f, packet.data());
        const ByteView bytes(packet.data(), n);
        AssignBoxValueText(value, bytes, '.');
        AssignBoxStatusText(status, bytes);
        const unsigned unit = DataByte(bytes, 6);
        const float v = DataFloat(bytes, 0);
        if (std::isfinite(v))
            stats[unit].Add(v);
        if (options.json)
            io.out << "{\"t\":" << Seconds(at - begin) << ",\"unit\":" << unit << ",\"value\":"
                   << JsonString(value) << ",\"status\":" << JsonString(status) << "}\n";
        else
            io.out << Seconds(at - begin) << " unit " << unit << ' ' << value << ' ' << status << '\n';
        io.out.flush();
        writeFailed = !io.out;
    };
    const TimePoint end = watch.duration ? begin + *watch.duration : TimePoint::max();
    while (StopSignal() == 0 && !writeFailed && DefaultClock().Now() < end) {
        bus->Poll(show);
        std::this_thread::sleep_for(1ms);
    }
    if (writeFailed) {
        io.err << kProgramName << " units: cannot write: " << WriteErrorReason() << '\n';
        return kExitIoError;
    }
    if (watch.stats) {
        char row[160];
        if (!options.json)
            io.out << "unit    frames          mean        stddev           min           max   peak-peak\n";
        for (const auto& [unit, s] : stats) {
            if (options.json)
                std::snprintf(row, sizeof row,
                              "{\"unit\":%u,\"frames\":%llu,\"mean\":%.6f,\"stddev\":%.6f,\"min\":%.6f,"
                              "\"max\":%.6f,\"peakToPeak\":%.6f}\n",
                              unit, static_cast<unsigned long long>(s.Count()), s.Mean(), s.StandardDeviation(),
                              s.Minimum(), s.Maximum(), s.PeakToPeak());
            else
                std::snprintf(row, sizeof row, "%4u %9llu %13.6f %13.6f %13.6f %13.6f %11.6f\n", unit,
                              static_cast<unsigned long long>(s.Count()), s.Mean(), s.StandardDeviation(),
                              s.Minimum(), s.Maximum(), s.PeakToPeak());
            io.out << row;
        }
        io.out.flush();
    }
    if (StopSignal() != 0)
        return 128 + StopSignal();
    return io.out ? kExitOk : kExitIoError;
}

} // namespace

int RunBus(CommandArgs args, const CliStreams& io)
{
    BusOptions options;
    options.can = DefaultCanOption().toStdString();
    std::string error;
    // The command is the first word that is no option or an option's value.
    std::optional<std::string_view> command;
    std::vector<std::string_view> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        const bool takesValue =
            a == "--can" || a == "--serial" || a == "--rate" || a == "--sdo-timeout" || a == "--sdo-abort-order";
        if (!command && !a.starts_with('-')) {
            command = a;
            continue;
        }
        rest.push_back(a);
        if (takesValue && i + 1 < args.size())
            rest.push_back(args[++i]);
    }
    static constexpr std::array<std::string_view, 10> kKnown = {"nmt",   "sdo",    "scan",    "info", "monitor",
                                                                "units", "backup", "restore", "diff", "nodes"};
    if (!command || std::find(kKnown.begin(), kKnown.end(), *command) == kKnown.end())
        return kNotABusCommand;
    // The commands' own options: scan's --nodes and --timeout; monitor's and
    // units' --seconds, --record, --node and --stats.
    // backup's and restore's --units, -o, --conf, --all, --force, --dry-run.
    std::optional<std::string_view> nodes, timeout, seconds, record, node;
    bool stats = false;
    UnitOptions unit;
    for (auto it = rest.begin(); it != rest.end();) {
        std::optional<std::string_view>* into = *it == "--nodes"                      ? &nodes
                                                : *it == "--timeout"                  ? &timeout
                                                : *it == "--seconds"                  ? &seconds
                                                : *it == "--record"                   ? &record
                                                : *it == "--node"                     ? &node
                                                : *it == "--units"                    ? &unit.units
                                                : *it == "-o" || *it == "--output"    ? &unit.output
                                                : *it == "--conf"                     ? &unit.conf
                                                                                      : nullptr;
        bool* flag = *it == "--all" ? &unit.all : *it == "--force" ? &unit.force : *it == "--dry-run" ? &unit.dryRun : nullptr;
        if (into && it + 1 != rest.end()) {
            *into = *(it + 1);
            it = rest.erase(it, it + 2);
        } else if (flag) {
            *flag = true;
            it = rest.erase(it);
        } else if (*it == "--stats") {
            stats = true;
            it = rest.erase(it);
        } else {
            ++it;
        }
    }
    const bool watching = *command == "monitor" || *command == "units" || *command == "nodes";
    if ((nodes || timeout) && *command != "scan")
        return UsageError(io, *command, "--nodes and --timeout belong to scan");
    if (((seconds || stats) && !watching) || ((record || node) && *command != "monitor") ||
        (stats && *command != "units"))
        return UsageError(io, *command, "--seconds belongs to monitor, units and nodes, --record and --node to "
                                        "monitor, --stats to units");
    WatchOptions watch;
    watch.stats = stats;
    watch.record = record ? std::string(*record) : std::string();
    if (seconds) {
        char* endPtr = nullptr;
        const std::string text(*seconds);
        const double s = std::strtod(text.c_str(), &endPtr);
        if (text.empty() || *endPtr != '\0' || !(s > 0) || s > 1e6)
            return UsageError(io, *command, "'" + text + "' is no number of seconds");
        watch.duration = std::chrono::milliseconds(static_cast<long long>(s * 1000));
    }
    if (node) {
        watch.node = NodeNumber(*node, false);
        if (!watch.node)
            return UsageError(io, *command, "'" + std::string(*node) + "' is no node (1..127)");
    }
    const bool unitCommand = *command == "backup" || *command == "restore" || *command == "diff";
    if ((unit.units || unit.output || unit.conf) && *command != "backup")
        return UsageError(io, *command, "--units, -o and --conf belong to backup");
    if ((unit.all || unit.force || unit.dryRun) && *command != "restore")
        return UsageError(io, *command, "--all, --force and --dry-run belong to restore");
    const std::optional<Words> words = SplitWords(rest, options, &error);
    if (*command == "diff" && (!words || (!words->help && !IsUnitCommand(*command, words->positional))))
        return kNotABusCommand; // two files: the file command
    if (!words)
        return UsageError(io, *command, error);
    // Qt SerialBus and SerialPort need an application object; one made by a
    // caller (a test) is used as it is.
    std::unique_ptr<QCoreApplication> app;
    static int argc = 1;
    static char name[] = "tervix-cli";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        app = std::make_unique<QCoreApplication>(argc, argv);
    if (unitCommand)
        return RunUnitCommand(*command, *words, options, unit, io);
    if (*command == "scan" || *command == "info")
        return RunScanOrInfo(*command == "scan", *words, options, nodes, timeout, io);
    if (*command == "monitor")
        return RunMonitor(*words, options, watch, io);
    if (*command == "units")
        return RunUnits(*words, options, watch, io);
    if (*command == "nodes")
        return RunNodes(*words, options, watch.duration, io);
    return *command == "nmt" ? RunNmt(*words, options, io) : RunSdo(*words, options, io);
}

} // namespace tervix::cli
