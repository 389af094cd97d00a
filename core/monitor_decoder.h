// The monitor's state and decisions, without a window: names, counts and
// routes every received message, keeps the value boxes and the selected
// unit's data page as plain texts, builds the requests of the buttons and
// timers, runs the read-all sequence, the watchdog and node guarding.
//
// Time comes in as an argument; nothing here reads a clock, shows a box or
// touches a widget. What to send, log and say goes out through `Outputs`;
// what to show is read back (`Text`, `Boxes`) by the window at display rate.
#pragma once

#include "canopen_client.h"
#include "clock.h"
#include "frame_naming.h"
#include "frame_packet.h"
#include "parameter_rows.h"
#include "requests.h"
#include "shown_text.h"
#include "unit_boxes.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tervix {

class ParameterPages;

// Where a log line came from; the log shows it beside the line and filters by it.
enum class LogDirection : std::uint8_t {
    Rx,    // a received frame
    Tx,    // a frame the tool sent
    Text,  // a line of adapter text
    Event, // the program's own note (connection, recording)
};

// A log line with what the log filters by. Node is -1 where no node applies;
// the function code is meaningful for Rx and Tx only.
struct LogEntry {
    LogEntry(std::string_view line = {}, LogDirection direction = LogDirection::Event, int functionCode = 0,
             int node = -1, std::optional<TimePoint> at = std::nullopt)
        : line(line), direction(direction), functionCode(functionCode), node(node), at(at)
    {
    }

    std::string_view line;
    LogDirection direction;
    int functionCode;
    int node;
    // A received frame's or line's receive time; none: the time it is logged.
    std::optional<TimePoint> at;
};

// The texts of the data page, in the order of its rows.
enum class DataField : int {
    Tpdo1Line, Tpdo2Line, Tpdo3Line, Tpdo4Line,
    Tpdo1Count, Tpdo2Count, Tpdo3Count, Tpdo4Count,
    Gross1, Gross2, Value3, Vref, Vtemp,
    GrossMax, GrossMin, Busy,
    Count
};
constexpr int kDataFieldCount = static_cast<int>(DataField::Count);

class MonitorDecoder {
public:
    struct Outputs {
        // Puts a frame on the bus, or says why not (the request is then not
        // logged, and the step that sent it ends).
        std::function<Status(const BusFrame&)> send;
        // A request did not go out: why, as the adapter said it.
        std::function<void(std::string_view why)> sendFailed;
        std::function<void(std::string_view line)> log;
        // Takes every log line with its direction, function and node; when
        // set, `log` is not called.
        std::function<void(const LogEntry&)> logEntry;
        // A message for the user; shown after the current step has ended.
        std::function<void(std::string_view caption, std::string_view text)> message;
        // The unit-address box held no number and now shows "0".
        std::function<void()> unitAddressReset;
    };
    // Handed every SDO frame, or every TPDO3 frame, after the decoder's own steps.
    using AnswerHandler = std::function<void(ByteView message)>;

    MonitorDecoder(Outputs outputs, TimePoint now, char decimalSeparator = '.');

    // --- What the window's boxes say -----------------------------------------
    void SetNode(std::optional<long long> node) { node_ = node; }              // "CAN Addr"
    void SetUnitAddress(std::optional<long long> unit) { unitAddress_ = unit; } // "KRV unit Addr"
    void SetIntegerValues(bool on) { integer_ = on; }                          // "TPDO Integer"
    void SetParameterPages(ParameterPages* pages) { pages_ = pages; }
    // Where SDO requests go (none: they are refused as not sent).
    void SetClient(CanopenClient* client) { client_ = client; }
    // While a backup, compare or restore runs, its refusals and device-status
    // reads are its own report's business: no "SDO Error" message and no
    // device-status read of the decoder's.
    void QuietSdoMessages(bool quiet) { sdoQuiet_ = quiet; }
    unsigned NodeNumber() const { return Node(); }
    int SubscribeSdoAnswers(AnswerHandler handler);
    int SubscribeTpdo3Answers(AnswerHandler handler);
    void Unsubscribe(int id);

    // --- Received messages ----------------------------------------------------
    // A packet or a line of adapter text.
    void FrameReceived(ByteView message, TimePoint now);
    // A frame a replayed recording marks as sent by the tool that recorded
    // it: logged as a Tx line at `at`; nothing else is done with it.
    void RecordedSentFrame(ByteView message, TimePoint at);

    // --- Listen-only ------------------------------------------------------------
    // On: nothing of the decoder's own goes out: the watchdog and guarding
    // stop (and stay stopped while on). Off: the watchdog runs again, as
    // at start. The window refuses every request while on.
    void SetListenOnly(bool on);
    bool ListenOnly() const { return listenOnly_; }

    // --- Requests (each sends one frame and logs it, SDO requests through the
    // client, one after another per node; false when nothing went out, which
    // has then been said or handed to Outputs::sendFailed) ----------------------
    // A request that carries the unit address (in the object's index, an
    // RPDO or the guard frame) is refused when the box holds a number outside
    // 0..255: "Illegal data" is said, nothing is sent and the request gives
    // false. A one-byte field must never go out as another unit's address.
    int UnitAddress();
    // The unit address as it goes on the bus; says "Illegal data" when out of range.
    std::optional<std::uint8_t> RequestUnit();
    // Whether an SDO request for `object` may go out: false, said, when its
    // index would carry a unit address out of range.
    bool CanAddress(std::uint32_t object);
    bool NmtStart();
    bool NmtStop();
    bool SendRpdo(int n, std::uint32_t value);
    bool SdoWrite(std::uint32_t object, std::int32_t value, TimePoint now);
    bool SdoWriteUnitAddress(std::uint32_t object, TimePoint now);
    bool SdoRead(std::uint32_t object, TimePoint now);
    // A parameter row's "Set": the row's object for the selected unit. The
    // row shows the written value when the unit confirms it.
    bool ParamWrite(int page, int subIndex, std::int32_t value, TimePoint now);
    // A page's "Read": its sequence starts at sub-index 1, even while another
    // runs; each row is asked for when the one before was answered, refused
    // or timed out (the client's time-out, --sdo-timeout).
    bool StartReadAll(int page, TimePoint now);
    // Logs a frame the client sent (its transfer's lines, or the frame's
    // name) as a Tx line of the node; nothing for a transfer sent silently.
    void LogSdoFrame(const BusFrame& frame, const SdoOutgoing& about);
    void SetRequestTime(TimePoint now) { requestTime_ = now; }
    static constexpr std::chrono::milliseconds kDefaultSdoTimeout{1000};

    // --- Data page, watchdog, guarding -----------------------------------------
    void ShowResponseTime(TimePoint now);
    void ClearRow(int row);  // 0..3: TPDO1..TPDO4
    void ClearMaxMin();
    bool WatchdogTick();
    void SetGuarding(bool on);  // "Run Nodeguard" ticked or not
    // False when the guard frame was due but refused (see RequestUnit).
    bool GuardTick();

    bool Guarding() const { return guarding_; }
    bool GuardTimerRunning() const { return guardRunning_; }
    bool WatchdogRunning() const { return watchdogRunning_; }

    // --- State ----------------------------------------------------------------
    std::uint32_t Count(int functionCode) const { return counters_[static_cast<std::size_t>(functionCode) & 15]; }
    const UnitBoxBank& Boxes() const { return boxes_; }
    UnitBoxBank& Boxes() { return boxes_; }
    ShownText& Text(DataField f) { return texts_[static_cast<std::size_t>(f)]; }
    const ShownText& Text(DataField f) const { return texts_[static_cast<std::size_t>(f)]; }
    double GrossMax() const { return grossMax_; }
    double GrossMin() const { return grossMin_; }
    bool MaxSet() const { return maxSet_; }
    bool MinSet() const { return minSet_; }
    std::uint32_t ReadAllCount() const { return readAllCount_; }
    int ReadAllSheet() const { return readAllSheet_; }
    std::uint32_t WatchdogSnapshot() const { return watchdogSnapshot_; }

private:
    void Decode(ByteView message, TimePoint now);
    void Tpdo1Steps(ByteView message);
    void Tpdo1Row(ByteView message);
    void Tpdo2Row(ByteView message);
    void Tpdo3Steps(ByteView message, TimePoint now);
    void Tpdo3Response(ByteView message, TimePoint now);
    void Tpdo4Row(ByteView message);
    void SdoSteps(ByteView message, TimePoint now);
    void SdoAbort(ByteView message, TimePoint now);
    bool ReadAllStep(TimePoint now);
    // A read-all row's transfer ended: the next row, or the end of the page.
    void ReadAllRowDone(std::uint64_t run, const SdoResult& result, TimePoint now);
    // Only the answer to the row asked for moves a read-all on: a late answer
    // (after a time-out, or from the page read before) must not skip a row.
    bool IsReadAllRow(int page, int subIndex, std::uint8_t unit) const;
    // Queues an SDO request for the selected node with the request's own log lines.
    bool Transfer(SdoTransfer transfer, const Request& request, TimePoint now);
    void SendFailed(const Status& status);
    // Stores into a row of the unit the page shows; a stored row is live again.
    bool StoreCell(int page, int subIndex, std::uint8_t unit, std::int32_t value);
    // What an SDO frame does to the parameter rows and the read-all.
    void SdoRowAnswer(ByteView message, TimePoint now);
    std::optional<std::uint8_t> UnitByte(bool say);
    void CountText(DataField field, int functionCode);
    // The guard timer's frame: no message when refused, the caller counts it.
    bool SendRawFrame(ByteView text);
    void Message(std::string_view caption, std::string_view text);
    void Log(const LogEntry& entry);
    bool SendAndLog(const Request& request);
    unsigned Node() const { return static_cast<unsigned>(node_.value_or(0)); }
    void Dispatch(const std::vector<std::pair<int, AnswerHandler>>& handlers, ByteView message);

    Outputs out_;
    char decimalSeparator_;
    std::optional<long long> node_;
    std::optional<long long> unitAddress_ = 0;
    bool integer_ = false;
    ParameterPages* pages_ = nullptr;
    CanopenClient* client_ = nullptr;

    std::array<std::uint32_t, kFunctionCodeCount> counters_{};
    UnitBoxBank boxes_;
    std::array<ShownText, kDataFieldCount> texts_{};
    double grossMax_ = 0.0;
    double grossMin_ = 0.0;
    bool maxSet_ = false;
    bool minSet_ = false;
    TimePoint requestTime_;

    std::uint32_t readAllCount_ = 0;
    int readAllSheet_ = 0;
    std::uint8_t readAllUnit_ = 0;
    bool sdoQuiet_ = false;
    std::uint64_t readAllRun_ = 0;          // which page read a row's answer belongs to
    SdoTransferId readAllTransfer_ = 0;     // the row asked for
    SdoTransferId lastTransfer_ = 0;        // the one Transfer queued last
    ParameterRows rows_;
    std::uint32_t watchdogSnapshot_ = 0;
    bool watchdogRunning_ = true;  // from start until "NMT Stop"
    bool guarding_ = false;
    bool guardRunning_ = false;
    bool listenOnly_ = false;

    std::vector<std::pair<int, AnswerHandler>> sdoHandlers_;
    std::vector<std::pair<int, AnswerHandler>> tpdo3Handlers_;
    int nextHandlerId_ = 1;

    std::optional<TimePoint> receivedAt_; // of the message being handled
    std::string logLine_;  // reused for every message
    std::string scratch_;
};

} // namespace tervix
