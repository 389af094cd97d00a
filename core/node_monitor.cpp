#include "node_monitor.h"

#include "hex_text.h"

#include <algorithm>
#include <utility>

namespace tervix {

namespace {

constexpr std::uint32_t kEmergencyBase = 0x080;
constexpr std::uint32_t kErrorControlBase = 0x700;
constexpr std::uint32_t kNmtId = 0x000;

// Function codes (identifier bits 10..7) of what a node itself sends: EMCY,
// TPDO1..4, SDO answers, NMT error control.
constexpr unsigned kNodeSends =
    1u << 0x1 | 1u << 0x3 | 1u << 0x5 | 1u << 0x7 | 1u << 0x9 | 1u << 0xB | 1u << 0xE;

bool NodeSends(std::uint32_t functionCode)
{
    return functionCode < 16 && ((kNodeSends >> functionCode) & 1u) != 0;
}

struct CodeText {
    std::uint16_t code;
    std::string_view text;
};

// CiA 301's emergency error codes, sorted by code.
constexpr CodeText kEmergencyCodes[] = {
    {0x0000, "Error reset or no error"},
    {0x1000, "Generic error"},
    {0x2000, "Current - generic error"},
    {0x2100, "Current, CANopen device input side - generic"},
    {0x2200, "Current inside the CANopen device - generic"},
    {0x2300, "Current, CANopen device output side - generic"},
    {0x3000, "Voltage - generic error"},
    {0x3100, "Mains voltage - generic"},
    {0x3200, "Voltage inside the CANopen device - generic"},
    {0x3300, "Output voltage - generic"},
    {0x4000, "Temperature - generic error"},
    {0x4100, "Ambient temperature - generic"},
    {0x4200, "Device temperature - generic"},
    {0x5000, "CANopen device hardware - generic error"},
    {0x6000, "CANopen device software - generic error"},
    {0x6100, "Internal software - generic"},
    {0x6200, "User software - generic"},
    {0x6300, "Data set - generic"},
    {0x7000, "Additional modules - generic error"},
    {0x8000, "Monitoring - generic error"},
    {0x8100, "Communication - generic"},
    {0x8110, "CAN overrun (objects lost)"},
    {0x8120, "CAN in error passive mode"},
    {0x8130, "Life guard error or heartbeat error"},
    {0x8140, "Recovered from bus off"},
    {0x8150, "CAN-ID collision"},
    {0x8200, "Protocol error - generic"},
    {0x8210, "PDO not processed due to length error"},
    {0x8220, "PDO length exceeded"},
    {0x8230, "DAM MPDO not processed, destination object not available"},
    {0x8240, "Unexpected SYNC data length"},
    {0x8250, "RPDO timeout"},
    {0x9000, "External error - generic error"},
    {0xF000, "Additional functions - generic error"},
    {0xFF00, "Device specific - generic error"},
};

std::optional<std::string_view> ExactCodeText(std::uint16_t code)
{
    const auto* end = std::end(kEmergencyCodes);
    const auto* it = std::lower_bound(std::begin(kEmergencyCodes), end, code,
                                      [](const CodeText& e, std::uint16_t c) { return e.code < c; });
    if (it != end && it->code == code)
        return it->text;
    return std::nullopt;
}

// Error register (object 0x1001) bits 0..7.
constexpr std::string_view kRegisterBits[8] = {
    "generic",       "current",
    "voltage",       "temperature",
    "communication", "device profile specific",
    "reserved",      "manufacturer specific",
};

} // namespace

std::string_view NmtStateText(NmtState state)
{
    switch (state) {
    case NmtState::PreOperational: return "pre-operational";
    case NmtState::Operational: return "operational";
    case NmtState::Stopped: return "stopped";
    case NmtState::Resetting: return "resetting";
    case NmtState::Unknown: break;
    }
    return "unknown";
}

NmtState HeartbeatState(std::uint8_t stateByte)
{
    switch (stateByte & 0x7F) {
    case 0x00: // boot-up: the node enters pre-operational by itself
    case 0x7F: return NmtState::PreOperational;
    case 0x04: return NmtState::Stopped;
    case 0x05: return NmtState::Operational;
    default: return NmtState::Unknown;
    }
}

int SendingNode(const BusFrame& frame)
{
    if (frame.extended || frame.remote || frame.id > 0x7FF)
        return 0;
    const int node = static_cast<int>(frame.id & 0x7F);
    if (node == 0 || !NodeSends(frame.id >> 7))
        return 0;
    // Error control is one byte; longer frames on 0x7E4/0x7E5 are layer setting services.
    if ((frame.id & 0x780) == kErrorControlBase && frame.length != 1)
        return 0;
    return node;
}

std::optional<Emergency> DecodeEmergency(const BusFrame& frame, TimePoint at)
{
    if (frame.extended || frame.remote || frame.length == 0 || (frame.id & 0x780) != kEmergencyBase ||
        (frame.id & 0x7F) == 0)
        return std::nullopt;
    // Bytes beyond the frame's length are not the node's.
    const auto byte = [&](std::size_t i) -> std::uint8_t { return i < frame.length ? frame.data[i] : 0; };
    Emergency e;
    e.at = at;
    e.code = static_cast<std::uint16_t>(byte(0) | (byte(1) << 8));
    e.errorRegister = byte(2);
    for (std::size_t i = 0; i < e.manufacturer.size(); ++i)
        e.manufacturer[i] = byte(3 + i);
    return e;
}

std::optional<std::string_view> EmergencyCodeText(std::uint16_t code)
{
    if (auto t = ExactCodeText(code))
        return t;
    if (auto t = ExactCodeText(static_cast<std::uint16_t>(code & 0xFF00)))
        return t;
    return ExactCodeText(static_cast<std::uint16_t>(code & 0xF000));
}

std::string ErrorRegisterText(std::uint8_t errorRegister)
{
    std::string out;
    for (unsigned bit = 0; bit < 8; ++bit) {
        if ((errorRegister & (1u << bit)) == 0)
            continue;
        if (!out.empty())
            out += ", ";
        out += kRegisterBits[bit];
    }
    return out.empty() ? "none" : out;
}

std::string ManufacturerBytesText(const Emergency& e)
{
    std::string out;
    for (std::uint8_t b : e.manufacturer) {
        if (!out.empty())
            out.push_back(' ');
        AppendHex2(out, b);
    }
    return out;
}

std::string EmergencyText(const Emergency& e)
{
    std::string out;
    AppendHex4(out, e.code);
    out.push_back(' ');
    out += EmergencyCodeText(e.code).value_or("(no standard text)");
    out += "; register ";
    AppendHex2(out, e.errorRegister);
    out += " (";
    out += ErrorRegisterText(e.errorRegister);
    out += "); manufacturer ";
    out += ManufacturerBytesText(e);
    return out;
}

std::string DurationText(std::optional<Duration> d)
{
    if (!d)
        return "-";
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(*d).count();
    if (ms < 10'000)
        return std::to_string(ms) + " ms";
    // Longer ages in seconds, one decimal.
    return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100) + " s";
}

std::string NodeEventText(const NodeEvent& event)
{
    std::string out = "node " + std::to_string(event.node) + ": ";
    switch (event.kind) {
    case NodeEventKind::BootUp: out += "boot-up"; break;
    case NodeEventKind::StateChanged:
        out += NmtStateText(event.from);
        out += " -> ";
        out += NmtStateText(event.to);
        break;
    case NodeEventKind::Emergency:
        out += "emergency ";
        out += EmergencyText(event.emergency);
        break;
    case NodeEventKind::Silent:
        out += "went silent (heartbeat " + DurationText(event.period) + ")";
        break;
    case NodeEventKind::Back: out += "back"; break;
    }
    return out;
}

const NodeRecord* NodeMonitor::Find(int node) const
{
    if (node < 1 || node > 127 || index_[static_cast<std::size_t>(node)] == 0)
        return nullptr;
    return &nodes_[static_cast<std::size_t>(index_[static_cast<std::size_t>(node)] - 1)];
}

void NodeMonitor::Clear()
{
    nodes_.clear();
    index_.fill(0);
    timing_.fill(Timing{});
    ++changes_;
}

NodeRecord& NodeMonitor::Record(int node, TimePoint at)
{
    const auto n = static_cast<std::size_t>(node);
    if (index_[n] == 0) {
        NodeRecord r;
        r.node = node;
        r.firstSeen = at;
        r.lastSeen = at;
        const auto pos = std::lower_bound(nodes_.begin(), nodes_.end(), node,
                                          [](const NodeRecord& x, int v) { return x.node < v; });
        nodes_.insert(pos, std::move(r));
        for (std::size_t i = 0; i < nodes_.size(); ++i)
            index_[static_cast<std::size_t>(nodes_[i].node)] = static_cast<int>(i + 1);
    }
    return nodes_[static_cast<std::size_t>(index_[n] - 1)];
}

void NodeMonitor::Emit(const NodeEvent& e)
{
    if (handler_)
        handler_(e);
}

void NodeMonitor::SetState(NodeRecord& r, NmtState to, TimePoint at)
{
    if (r.state == to)
        return;
    NodeEvent e;
    e.kind = NodeEventKind::StateChanged;
    e.node = r.node;
    e.at = at;
    e.from = r.state;
    e.to = to;
    r.state = to;
    Emit(e);
}

void NodeMonitor::Receive(const BusFrame& frame, TimePoint at)
{
    if (!frame.extended && !frame.remote && frame.id == kNmtId) {
        NmtCommand(frame, at);
        return;
    }
    const int node = SendingNode(frame);
    if (node == 0)
        return;
    NodeRecord& r = Record(node, at);
    r.lastSeen = at;
    ++r.frames;
    ++changes_;
    if ((frame.id & 0x780) == kErrorControlBase) {
        ErrorControl(r, frame.data[0], at);
    } else if (auto emcy = DecodeEmergency(frame, at)) {
        r.emergencies.push_back(*emcy);
        if (r.emergencies.size() > kEmergencyHistory)
            r.emergencies.pop_front();
        ++r.emergencyCount;
        NodeEvent e;
        e.kind = NodeEventKind::Emergency;
        e.node = node;
        e.at = at;
        e.emergency = *emcy;
        Emit(e);
    }
}

void NodeMonitor::ErrorControl(NodeRecord& r, std::uint8_t stateByte, TimePoint at)
{
    Timing& t = timing_[static_cast<std::size_t>(r.node)];
    if (r.silent) {
        r.silent = false;
        NodeEvent e;
        e.kind = NodeEventKind::Back;
        e.node = r.node;
        e.at = at;
        Emit(e);
    }
    if ((stateByte & 0x7F) == 0) {
        // A boot-up: the node starts afresh, its heartbeat time perhaps with it,
        // so monitoring waits for its first heartbeat again.
        t = Timing{};
        r.lastHeartbeat.reset();
        r.heartbeatPeriod.reset();
        NodeEvent e;
        e.kind = NodeEventKind::BootUp;
        e.node = r.node;
        e.at = at;
        e.from = r.state;
        e.to = NmtState::PreOperational;
        r.state = NmtState::PreOperational;
        Emit(e);
        return;
    }
    // Intervals of 0 are frames the adapter delivered in one read: no period.
    if (t.watching && r.lastHeartbeat && at > *r.lastHeartbeat) {
        t.intervals[t.next] = at - *r.lastHeartbeat;
        t.next = (t.next + 1) % kPeriodSamples;
        t.count = std::min(t.count + 1, kPeriodSamples);
        std::array<Duration, kPeriodSamples> sorted = t.intervals;
        const auto first = sorted.begin();
        std::sort(first, first + static_cast<std::ptrdiff_t>(t.count));
        r.heartbeatPeriod = sorted[t.count / 2];
    }
    t.watching = true;
    r.lastHeartbeat = at;
    SetState(r, HeartbeatState(stateByte), at);
}

void NodeMonitor::NmtCommand(const BusFrame& frame, TimePoint at)
{
    if (frame.length < 2)
        return;
    NmtState to;
    bool reset = false;
    switch (frame.data[0]) {
    case 0x01: to = NmtState::Operational; break;
    case 0x02: to = NmtState::Stopped; break;
    case 0x80: to = NmtState::PreOperational; break;
    case 0x81:
    case 0x82:
        to = NmtState::Resetting;
        reset = true;
        break;
    default: return;
    }
    const int target = frame.data[1];
    bool changed = false;
    for (NodeRecord& r : nodes_) {
        if (target != 0 && r.node != target)
            continue;
        if (reset) {
            // A node booting sends no heartbeat: not silent, watched again from its boot-up.
            timing_[static_cast<std::size_t>(r.node)] = Timing{};
            r.lastHeartbeat.reset();
        }
        changed = changed || r.state != to || reset;
        SetState(r, to, at);
    }
    if (changed)
        ++changes_;
}

void NodeMonitor::Tick(TimePoint now)
{
    for (NodeRecord& r : nodes_) {
        if (r.silent || !r.lastHeartbeat || !r.heartbeatPeriod)
            continue;
        if (now - *r.lastHeartbeat <= *r.heartbeatPeriod * 3 / 2)
            continue;
        r.silent = true;
        // The gap must not count as an interval once it is back.
        timing_[static_cast<std::size_t>(r.node)].watching = false;
        ++changes_;
        NodeEvent e;
        e.kind = NodeEventKind::Silent;
        e.node = r.node;
        e.at = now;
        e.period = r.heartbeatPeriod;
        Emit(e);
    }
}

} // namespace tervix
