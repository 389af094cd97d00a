// tervix-cli nodes: listens on the bus for a while, sending nothing, and
// lists each node heard: NMT state, heartbeat period, when last seen, the
// silent mark and its emergencies, through the window's NodeMonitor.
#include "bus_internal.h"

#include "bus_commands.h"
#include "hex_text.h"
#include "json_text.h"
#include "node_monitor.h"

#include <cstdio>
#include <ostream>
#include <thread>

namespace tervix::cli {

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kDefaultListen{3000};

constexpr std::string_view kNodesHelp =
    "Usage: tervix-cli [ADAPTER] nodes [--seconds N] [--json]\n\n"
    "Listens on the bus for N seconds (default 3), sending nothing, then prints\n"
    "one row per node heard (boot-up, heartbeat, guard reply, emergency, process\n"
    "data or SDO answer): its NMT state (from boot-up, heartbeat, guard replies\n"
    "and the NMT commands seen), the heartbeat period measured, how long ago it\n"
    "was last heard, \"silent\" when its heartbeat stopped for 1.5 periods, and\n"
    "each emergency it sent with its CiA 301 text, error register bits and\n"
    "manufacturer bytes. --json prints one object per node.\n\n";

std::string SecondsText(Duration d)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", std::chrono::duration<double>(d).count());
    return buffer;
}

long long Milliseconds(Duration d)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

void PrintJson(const NodeRecord& r, TimePoint start, TimePoint end, std::ostream& out)
{
    std::string line = "{\"node\":" + std::to_string(r.node) + ",\"state\":";
    AppendJsonString(line, NmtStateText(r.state));
    line += ",\"heartbeatMs\":";
    line += r.heartbeatPeriod ? std::to_string(Milliseconds(*r.heartbeatPeriod)) : "null";
    line += ",\"lastSeenMs\":" + std::to_string(Milliseconds(r.SinceSeen(end)));
    line += ",\"silent\":";
    line += r.silent ? "true" : "false";
    line += ",\"frames\":" + std::to_string(r.frames);
    line += ",\"emergencyCount\":" + std::to_string(r.emergencyCount);
    line += ",\"emergencies\":[";
    bool first = true;
    for (const Emergency& e : r.emergencies) {
        line += first ? "{" : ",{";
        first = false;
        line += "\"t\":" + SecondsText(e.at - start) + ",\"code\":\"";
        AppendHex4(line, e.code);
        line += "\",\"text\":";
        AppendJsonString(line, EmergencyCodeText(e.code).value_or(""));
        line += ",\"register\":\"";
        AppendHex2(line, e.errorRegister);
        line += "\",\"registerBits\":";
        AppendJsonString(line, e.errorRegister ? ErrorRegisterText(e.errorRegister) : "");
        line += ",\"manufacturer\":\"" + ManufacturerBytesText(e) + "\"}";
    }
    line += "]}\n";
    out << line;
}

void PrintRow(const NodeRecord& r, TimePoint start, TimePoint end, std::ostream& out)
{
    char row[128];
    std::snprintf(row, sizeof row, "%4d  %-16s %9s %9s  %-6s %7llu\n", r.node,
                  std::string(NmtStateText(r.state)).c_str(), DurationText(r.heartbeatPeriod).c_str(),
                  DurationText(r.SinceSeen(end)).c_str(), r.silent ? "silent" : "-",
                  static_cast<unsigned long long>(r.frames));
    out << row;
    if (r.emergencyCount > r.emergencies.size())
        out << "      " << r.emergencyCount - r.emergencies.size() << " older emergencies not kept\n";
    for (const Emergency& e : r.emergencies)
        out << "      " << SecondsText(e.at - start) << " s  emergency " << EmergencyText(e) << '\n';
}

} // namespace

int RunNodes(const Words& w, const BusOptions& options, std::optional<std::chrono::milliseconds> duration,
             const CliStreams& io)
{
    if (w.help)
        return WriteHelp(io, "nodes",
                         std::string(kNodesHelp) + std::string(kAdapterHelp) + "\n" + std::string(kExitHelp));
    if (!w.positional.empty())
        return UsageError(io, "nodes", "takes no arguments but options");
    auto bus = OpenBus(options, "nodes", io);
    if (!bus)
        return kExitAdapter;
    NodeMonitor monitor;
    const TimePoint start = DefaultClock().Now();
    const TimePoint end = start + duration.value_or(kDefaultListen);
    TimePoint now = start;
    while (StopSignal() == 0 && now < end) {
        bus->Poll([&monitor](const BusFrame& f, TimePoint at) { monitor.Receive(f, at); });
        now = DefaultClock().Now();
        monitor.Tick(now);
        std::this_thread::sleep_for(1ms);
    }
    if (!options.json) {
        char header[128];
        std::snprintf(header, sizeof header, "%4s  %-16s %9s %9s  %-6s %7s\n", "node", "state", "heartbeat",
                      "last seen", "silent", "frames");
        io.out << header;
    }
    for (const NodeRecord& r : monitor.Nodes()) {
        if (options.json)
            PrintJson(r, start, now, io.out);
        else
            PrintRow(r, start, now, io.out);
    }
    if (!options.json)
        io.out << monitor.Nodes().size() << (monitor.Nodes().size() == 1 ? " node" : " nodes") << " heard in "
               << SecondsText(now - start) << " s\n";
    io.out.flush();
    if (StopSignal() != 0)
        return 128 + StopSignal();
    return io.out ? kExitOk : kExitIoError;
}

} // namespace tervix::cli
