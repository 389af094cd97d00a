#include "monitor_decoder.h"

#include "number_text.h"
#include "parameter_pages.h"
#include "status_texts.h"

#include <algorithm>
#include <cmath>

namespace tervix {

namespace {

constexpr std::string_view kNoAdapter = "No CAN adapter is connected";

// A four-byte write as the unit's requests have it: expedited, no size given.
SdoTransfer ExpeditedWrite(std::uint32_t object, std::uint32_t value)
{
    SdoTransfer t = SdoDownload(ObjectIndex(object), ObjectSubIndex(object),
                                {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
    t.indicateSize = false;
    return t;
}

constexpr DataField kLineOfRow[] = {DataField::Tpdo1Line, DataField::Tpdo2Line, DataField::Tpdo3Line,
                                    DataField::Tpdo4Line};
constexpr DataField kCountOfRow[] = {DataField::Tpdo1Count, DataField::Tpdo2Count, DataField::Tpdo3Count,
                                     DataField::Tpdo4Count};
constexpr int kCodeOfRow[] = {kTpdo1, kTpdo2, kTpdo3, kTpdo4};
// A row's line box shows its own name when it has nothing to show.
constexpr std::string_view kEmptyLine[] = {"edbxTPDO1", "edbxTPDO2", "edbxTPDO3", "edbxTPDO4"};

// A frame's line goes with the frame's direction, function code and node;
// an NMT command belongs to the node it addresses (data byte 1), not to
// identifier 0, so filtering by a node keeps its start and stop.
LogEntry EntryOf(std::string_view line, ByteView message, const MessageInfo& info,
                 LogDirection frameDirection)
{
    if (!info.isFrame)
        return {line, LogDirection::Text, 0, -1};
    int node = info.node;
    if (info.functionCode == kNmt && !info.remote && (message.size() > 1 ? message[1] & 0x0F : 0) >= 2)
        node = DataByte(message, 1) & 0x7F;
    return {line, frameDirection, info.functionCode, node};
}

} // namespace

MonitorDecoder::MonitorDecoder(Outputs outputs, TimePoint now, char decimalSeparator)
    : out_(std::move(outputs)), decimalSeparator_(decimalSeparator), requestTime_(now)
{
    for (int row = 0; row < 4; ++row) {
        Text(kLineOfRow[row]).Set(kEmptyLine[row]);
        Text(kCountOfRow[row]).Set("0");
    }
    Text(DataField::GrossMax).Set("0");
    Text(DataField::GrossMin).Set("0");
    ShowResponseTime(now);
}

int MonitorDecoder::SubscribeSdoAnswers(AnswerHandler handler)
{
    sdoHandlers_.emplace_back(nextHandlerId_, std::move(handler));
    return nextHandlerId_++;
}

int MonitorDecoder::SubscribeTpdo3Answers(AnswerHandler handler)
{
    tpdo3Handlers_.emplace_back(nextHandlerId_, std::move(handler));
    return nextHandlerId_++;
}

void MonitorDecoder::Unsubscribe(int id)
{
    for (auto* list : {&sdoHandlers_, &tpdo3Handlers_})
        std::erase_if(*list, [id](const auto& h) { return h.first == id; });
}

void MonitorDecoder::Dispatch(const std::vector<std::pair<int, AnswerHandler>>& handlers, ByteView message)
{
    // A copy: a handler may unsubscribe itself.
    const auto snapshot = handlers;
    for (const auto& h : snapshot)
        h.second(message);
}

void MonitorDecoder::Log(const LogEntry& entry)
{
    if (out_.logEntry) {
        // What was received is logged at the time it was received.
        if (receivedAt_ && !entry.at && (entry.direction == LogDirection::Rx || entry.direction == LogDirection::Text)) {
            LogEntry timed = entry;
            timed.at = receivedAt_;
            out_.logEntry(timed);
            return;
        }
        out_.logEntry(entry);
    } else if (out_.log)
        out_.log(entry.line);
}

void MonitorDecoder::Message(std::string_view caption, std::string_view text)
{
    if (out_.message)
        out_.message(caption, text);
}

// --- Received messages -----------------------------------------------------------

void MonitorDecoder::FrameReceived(ByteView message, TimePoint now)
{
    if (message.size() < kMinMessageSize)
        return;
    receivedAt_ = now;
    Decode(message, now);
    receivedAt_.reset();
}

void MonitorDecoder::RecordedSentFrame(ByteView message, TimePoint at)
{
    if (message.size() < kMinMessageSize)
        return;
    const MessageInfo info = ClassifyMessage(message);
    logLine_.assign("Tx: ");
    AppendLogLine(logLine_, message, info);
    LogEntry entry = EntryOf(logLine_, message, info, LogDirection::Tx);
    entry.at = at;
    Log(entry);
}

void MonitorDecoder::SetListenOnly(bool on)
{
    listenOnly_ = on;
    guarding_ = false;
    guardRunning_ = false;
    watchdogRunning_ = !on;
    watchdogSnapshot_ = Count(kTpdo1);
}

void MonitorDecoder::Decode(ByteView message, TimePoint now)
{
    const MessageInfo info = ClassifyMessage(message);
    if (info.isFrame)
        ++counters_[static_cast<std::size_t>(info.functionCode)];
    logLine_.clear();
    AppendLogLine(logLine_, message, info);

    // When each unit was last heard, for the stale marking of its box.
    if (info.kind == kTpdo1)
        boxes_.HeardTpdo1(DataByte(message, 6), now);
    else if (info.kind == kTpdo2)
        boxes_.HeardTpdo2(DataByte(message, 6), now);

    try {
        switch (info.kind) {
        case kTpdo1: Tpdo1Steps(message); break;
        case kTpdo2:
            ShowResponseTime(now);
            Tpdo2Row(message);
            break;
        case kTpdo3: Tpdo3Steps(message, now); break;
        case kTpdo4: Tpdo4Row(message); break;
        case kTsdo:
        case kRsdo: SdoSteps(message, now); break;
        default:
            if (!logLine_.empty())
                Log(EntryOf(logLine_, message, info, LogDirection::Rx));
        }
    } catch (...) {
        // A failure ends this message's handling; the next one is handled normally.
    }
}

void MonitorDecoder::Tpdo1Steps(ByteView message)
{
    // Data bytes past the received length read as 0 (DataByte does so).
    const int box = DataByte(message, 6);
    if (box >= kUnitBoxCount) {
        scratch_.assign("TPD01(");
        AppendDecimal(scratch_, box);
        scratch_.push_back(')');
        Log(EntryOf(scratch_, message, ClassifyMessage(message), LogDirection::Rx));
    } else {
        boxes_.Update(box, message, decimalSeparator_);
    }
    boxes_.Age();
    if (box == (UnitAddress() & 0xFF))
        Tpdo1Row(message);
}

void MonitorDecoder::Tpdo1Row(ByteView message)
{
    Text(DataField::Tpdo1Line).Set(logLine_);
    const double v = integer_ ? double(DataI32(message, 0)) : double(DataFloat(message, 0));
    const int decimals = integer_ ? 0 : 3;
    // Convert before touching the running extremes: a value with no text
    // (NaN, infinity) ends the row and must not poison the maximum or minimum.
    if (!FixedText(v, 6, decimals, decimalSeparator_))
        return;
    if (v > grossMax_ || !maxSet_) {
        grossMax_ = v;
        maxSet_ = true;
        AppendFixedText(Text(DataField::GrossMax).Build(), v, 6, decimals, decimalSeparator_);
    }
    if (v < grossMin_ || !minSet_) {
        grossMin_ = v;
        minSet_ = true;
        AppendFixedText(Text(DataField::GrossMin).Build(), v, 6, decimals, decimalSeparator_);
    }
    if (integer_)
        AppendDecimal(Text(DataField::Gross1).Build(), DataI32(message, 0));
    else
        AppendFixedText(Text(DataField::Gross1).Build(), v, 6, 3, decimalSeparator_);
    CountText(DataField::Tpdo1Count, kTpdo1);
}

void MonitorDecoder::Tpdo2Row(ByteView message)
{
    Text(DataField::Tpdo2Line).Set(logLine_);
    if (integer_) {
        AppendDecimal(Text(DataField::Gross2).Build(), DataI32(message, 0));
    } else {
        scratch_.clear();
        if (!AppendFixedText(scratch_, DataFloat(message, 0), 6, 3, decimalSeparator_))
            return;
        Text(DataField::Gross2).Set(scratch_);
    }
    CountText(DataField::Tpdo2Count, kTpdo2);
}

void MonitorDecoder::Tpdo4Row(ByteView message)
{
    Text(DataField::Tpdo4Line).Set(logLine_);
    scratch_.clear();
    if (!AppendFixedText(scratch_, DataFloat(message, 0), 8, 2, decimalSeparator_))
        return;
    Text(DataField::Vref).Set(scratch_);
    scratch_.clear();
    AppendFixedText(scratch_, DataI32(message, 4), 8, 0, decimalSeparator_);
    Text(DataField::Vtemp).Set(scratch_);
    CountText(DataField::Tpdo4Count, kTpdo4);
}

void MonitorDecoder::Tpdo3Steps(ByteView message, TimePoint now)
{
    ShowResponseTime(now);
    AppendFixedText(Text(DataField::Value3).Build(), DataFloat(message, 0), 6, 3, decimalSeparator_);

    Tpdo3Response(message, now);

    Text(DataField::Tpdo3Line).Set(logLine_);
    CountText(DataField::Tpdo3Count, kTpdo3);
    Dispatch(tpdo3Handlers_, message);
}

void MonitorDecoder::Tpdo3Response(ByteView message, TimePoint now)
{
    auto floatOrError = [&](std::size_t first) {
        std::string& value = Text(DataField::Value3).Build();
        if (!AppendFixedText(value, DataFloat(message, first), 6, 3, decimalSeparator_))
            value = "(format error)";
    };
    const std::uint8_t code = DataByte(message, 1);
    // Parameter answers: page, sub-index and where the value sits.
    struct ParameterAnswer {
        std::uint8_t code;
        int page;
        std::size_t subAt;
        std::size_t valueAt;
    };
    static constexpr ParameterAnswer answers[] = {{6, 2, 3, 4}, {18, 0, 2, 3}, {38, 1, 3, 4}, {42, 3, 3, 4}};
    for (const ParameterAnswer& a : answers) {
        if (code != a.code)
            continue;
        // A sub-index with no cell ends this answer; the read-all waits.
        // Byte 0 names the unit that answered.
        const int sub = DataByte(message, a.subAt);
        const std::uint8_t unit = DataByte(message, 0);
        const bool asked = IsReadAllRow(a.page, sub, unit);
        if (StoreCell(a.page, sub, unit, DataI32(message, a.valueAt)) && asked) {
            // The row came by process data: its SDO request waits no longer.
            if (client_)
                client_->Forget(Node(), readAllTransfer_, now);
            ReadAllStep(now);
        }
        return;
    }
    if (code >= 10 && code <= 15) {
        floatOrError(4);
    } else if (code == 17) {
        floatOrError(2);
    } else if (code == 0xE5) {
        Text(DataField::Value3).Set("** OK **");
    } else if (code == 0xFF) {
        if (readAllCount_ != 0) {
            if (pages_)
                pages_->MarkFailed(readAllSheet_, static_cast<int>(readAllCount_));
            if (client_)
                client_->Forget(Node(), readAllTransfer_, now);
            ReadAllStep(now);
        } else
            Text(DataField::Value3).Set(PdoStatusText(DataByte(message, 3)));
    }
}

void MonitorDecoder::SdoSteps(ByteView message, TimePoint now)
{
    ShowResponseTime(now);
    Dispatch(sdoHandlers_, message);
    const std::uint32_t key = ObjectKey(message);
    if (DataByte(message, 0) == 0x80)
        SdoAbort(message, now);
    else if (ClassifyMessage(message).kind == kTsdo)
        SdoRowAnswer(message, now);
    if (key == kDeviceStatusKey && !sdoQuiet_)
        Message("SDO Error", SdoStatusText(DataByte(message, 4)));
}

void MonitorDecoder::SdoRowAnswer(ByteView message, TimePoint)
{
    // Only the server's answers reach the rows: a request seen on the bus
    // (another master's read) carries no value of the unit's.
    const int page = PageOfIndexHigh(DataByte(message, 2));
    if (page < 0)
        return;
    const int sub = DataByte(message, 3);
    const std::uint8_t unit = DataByte(message, 1);
    const std::uint8_t command = DataByte(message, 0);
    if ((command & 0xE2) == 0x42) {
        // An expedited upload answer: the value the unit holds. The read-all
        // moves on when the client hands back the transfer it ended.
        StoreCell(page, sub, unit, DataI32(message, 4));
    } else if (command == 0x60) {
        // A download confirmation has no value: the row shows what its own
        // "Set" wrote; a write the row did not make leaves it as it is.
        if (const auto written = rows_.TakeWrite(page, sub, unit))
            StoreCell(page, sub, unit, *written);
    }
}

void MonitorDecoder::SdoAbort(ByteView message, TimePoint now)
{
    // No message while a page is read; the row asked for fails when the
    // client hands its transfer back.
    if (readAllCount_ != 0 || sdoQuiet_)
        return;
    if (ObjectKey(message) == kDeviceStatusKey) {
        Message("SDO Error", "SDO was rejected");
        return;
    }
    if (DataByte(message, 4) == 0x08) {
        // The device status answer brings the message.
        SdoRead(kDeviceStatusKey, now);
        return;
    }
    Message("SDO Error", AbortMessageText(SdoAbortMessage(message)));
}

// --- Data page --------------------------------------------------------------------

void MonitorDecoder::CountText(DataField field, int functionCode)
{
    AppendDecimal(Text(field).Build(), Count(functionCode));
}

void MonitorDecoder::ShowResponseTime(TimePoint now)
{
    const auto elapsed = std::chrono::duration<double, std::milli>(now - requestTime_).count();
    AppendDecimal(Text(DataField::Busy).Build(), std::llround(elapsed));
}

void MonitorDecoder::ClearRow(int row)
{
    row = std::clamp(row, 0, 3);
    Text(kLineOfRow[row]).Set(kEmptyLine[row]);
    static constexpr DataField values[4][2] = {{DataField::Gross1, DataField::Gross1},
                                               {DataField::Gross2, DataField::Gross2},
                                               {DataField::Value3, DataField::Value3},
                                               {DataField::Vref, DataField::Vtemp}};
    for (DataField f : values[row])
        Text(f).Set("");
    Text(kCountOfRow[row]).Set("0");
    counters_[static_cast<std::size_t>(kCodeOfRow[row])] = 0;
}

void MonitorDecoder::ClearMaxMin()
{
    grossMax_ = grossMin_ = 0.0;
    Text(DataField::GrossMax).Set("0");
    Text(DataField::GrossMin).Set("0");
    maxSet_ = minSet_ = false;
}

bool MonitorDecoder::WatchdogTick()
{
    if (!watchdogRunning_)
        return true;
    // A unit whose process data stopped is started again. The snapshot is
    // taken even when that send fails, so a lost adapter is not retried
    // before the next tick anyway.
    const std::uint32_t count = Count(kTpdo1);
    const bool silent = count == watchdogSnapshot_;
    watchdogSnapshot_ = count;
    return !silent || NmtStart();
}

void MonitorDecoder::SetGuarding(bool on)
{
    guarding_ = on && !listenOnly_;
    guardRunning_ = guarding_;
}

bool MonitorDecoder::GuardTick()
{
    if (!guardRunning_)
        return true;
    if (!guarding_)
        guardRunning_ = false;  // this tick still sends
    const FramePacket text = GuardFrameText(Node());
    return SendRawFrame(text);
}

// --- Requests -----------------------------------------------------------------------

int MonitorDecoder::UnitAddress()
{
    if (!unitAddress_) {
        unitAddress_ = 0;
        if (out_.unitAddressReset)
            out_.unitAddressReset();
    }
    return static_cast<int>(*unitAddress_);
}

std::optional<std::uint8_t> MonitorDecoder::UnitByte(bool say)
{
    UnitAddress(); // a box that holds no number becomes 0
    // Judged on the whole number: 2^32 + 5 is not unit 5.
    if (*unitAddress_ >= 0 && *unitAddress_ <= 255)
        return static_cast<std::uint8_t>(*unitAddress_);
    if (say)
        Message("SendCommand", "Illegal data");
    return std::nullopt;
}

std::optional<std::uint8_t> MonitorDecoder::RequestUnit()
{
    return UnitByte(true);
}

bool MonitorDecoder::CanAddress(std::uint32_t object)
{
    // The index carries the unit only where it is substituted.
    return !CarriesUnit(object) || !unitAddress_ || RequestUnit();
}

void MonitorDecoder::SendFailed(const Status& status)
{
    if (out_.sendFailed)
        out_.sendFailed(status.error());
}

bool MonitorDecoder::SendAndLog(const Request& request)
{
    const std::optional<BusFrame> frame = DecodePacket(request.packet);
    Status sent = !out_.send ? Status::Failed(std::string(kNoAdapter)) : frame ? out_.send(*frame) : Status();
    if (!sent) {
        SendFailed(sent);
        return false;
    }
    const MessageInfo info = ClassifyMessage(request.packet);
    Log(EntryOf(request.logLine, request.packet, info, LogDirection::Tx));
    if (!request.secondLine.empty())
        Log(EntryOf(request.secondLine, request.packet, info, LogDirection::Tx));
    return true;
}

bool MonitorDecoder::Transfer(SdoTransfer transfer, const Request& request, TimePoint now)
{
    if (!client_) {
        SendFailed(Status::Failed(std::string(kNoAdapter)));
        return false;
    }
    transfer.logLines.push_back(request.logLine);
    if (!request.secondLine.empty())
        transfer.logLines.push_back(request.secondLine);
    // A send that fails at once ends the transfer inside Queue; one that
    // waited behind another transfer fails where it would have gone out.
    struct Start {
        bool queuing = true;
        bool failed = false;
    };
    auto start = std::make_shared<Start>();
    transfer.done = [this, start, then = std::move(transfer.done)](const SdoResult& r) {
        if (r.outcome == SdoOutcome::SendFailed) {
            start->failed = start->queuing;
            SendFailed(Status::Failed(r.sendError));
        }
        if (then)
            then(r);
    };
    lastTransfer_ = client_->Queue(Node(), std::move(transfer), now);
    start->queuing = false;
    return !start->failed;
}

void MonitorDecoder::LogSdoFrame(const BusFrame& frame, const SdoOutgoing& about)
{
    if (!about.log)
        return;
    const LogEntry entry{{}, LogDirection::Tx, static_cast<int>(frame.id >> 7) & 0x0F,
                         static_cast<int>(frame.id & 0x7F)};
    if (about.logLines) {
        for (const std::string& line : *about.logLines) {
            LogEntry e = entry;
            e.line = line;
            Log(e);
        }
        return;
    }
    scratch_ = SentFrameLine(frame);
    LogEntry e = entry;
    e.line = scratch_;
    Log(e);
}

bool MonitorDecoder::NmtStart()
{
    if (!SendAndLog(NmtRequest(kNmtStart, node_)))
        return false;
    guarding_ = true;
    guardRunning_ = true;
    watchdogRunning_ = true;
    return true;
}

bool MonitorDecoder::NmtStop()
{
    // Stopped before sending: a send that fails (no adapter) must not leave
    // the watchdog starting the unit again every two seconds.
    watchdogRunning_ = false;
    return SendAndLog(NmtRequest(kNmtStop, node_));
}

bool MonitorDecoder::SendRpdo(int n, std::uint32_t value)
{
    // RPDO4 carries a fixed pattern, no unit address: its box is not read.
    std::uint8_t unit = 0;
    if (n != 4) {
        const auto checked = RequestUnit();
        if (!checked)
            return false;
        unit = *checked;
    }
    return SendAndLog(RpdoRequest(n, Node(), unit, value));
}

bool MonitorDecoder::SdoWrite(std::uint32_t object, std::int32_t value, TimePoint now)
{
    if (!CanAddress(object))
        return false;
    Text(DataField::Busy).Set("Busy");
    requestTime_ = now;
    const std::uint32_t sent = SubstituteUnit(object, unitAddress_);
    return Transfer(ExpeditedWrite(sent, static_cast<std::uint32_t>(value)),
                    SdoWriteRequest(Node(), sent, value), now);
}

bool MonitorDecoder::SdoWriteUnitAddress(std::uint32_t object, TimePoint now)
{
    // The unit takes one byte; a larger or negative number would go out as
    // four bytes the unit reads as a different address.
    const auto unit = RequestUnit();
    if (!unit)
        return false;
    return Transfer(ExpeditedWrite(object, *unit), SdoWriteUnitAddressRequest(Node(), object, *unit), now);
}

bool MonitorDecoder::SdoRead(std::uint32_t object, TimePoint now)
{
    if (!CanAddress(object))
        return false;
    const std::uint32_t sent = SubstituteUnit(object, unitAddress_);
    return Transfer(SdoUpload(ObjectIndex(sent), ObjectSubIndex(sent)), SdoReadRequest(Node(), sent), now);
}

bool MonitorDecoder::ParamWrite(int page, int subIndex, std::int32_t value, TimePoint now)
{
    const auto unit = RequestUnit();
    if (!unit)
        return false;
    const std::uint32_t object = ReadAllObject(page, *unit, static_cast<std::uint32_t>(subIndex));
    if (!SdoWrite(object, value, now))
        return false;
    rows_.WroteFor(page, subIndex, *unit, value);
    return true;
}

bool MonitorDecoder::ReadAllStep(TimePoint now)
{
    ++readAllCount_;
    requestTime_ = now;
    const int page = readAllSheet_;
    const int cells = pages_ ? pages_->CellCount(page) : 0;
    if (static_cast<long long>(cells) < static_cast<long long>(readAllCount_)) {
        readAllCount_ = 0;  // the page's last cell has been read
        return true;
    }
    const auto unit = RequestUnit();
    if (!unit) {
        readAllCount_ = 0;
        return false;
    }
    readAllUnit_ = *unit;
    rows_.ReadFor(page, *unit);
    const std::uint32_t object = ReadAllObject(page, *unit, readAllCount_);
    SdoTransfer row = SdoUpload(ObjectIndex(object), ObjectSubIndex(object));
    row.done = [this, run = readAllRun_](const SdoResult& r) { ReadAllRowDone(run, r, r.at); };
    // Nothing that did not go out will be answered: the sequence ends
    // instead of timing out row after row against a lost adapter.
    const std::uint64_t run = readAllRun_;
    const bool sent = Transfer(std::move(row), SdoReadRequest(Node(), object), now);
    if (run != readAllRun_)
        return sent; // a new page read began meanwhile
    if (sent)
        readAllTransfer_ = lastTransfer_;
    else
        readAllCount_ = 0;
    return sent;
}

void MonitorDecoder::ReadAllRowDone(std::uint64_t run, const SdoResult& result, TimePoint now)
{
    if (run != readAllRun_ || readAllCount_ == 0)
        return;
    switch (result.outcome) {
    case SdoOutcome::Done: break; // stored when the answer was decoded
    case SdoOutcome::Aborted:
    case SdoOutcome::TimedOut:
        if (pages_)
            pages_->MarkFailed(readAllSheet_, static_cast<int>(readAllCount_));
        break;
    case SdoOutcome::SendFailed: readAllCount_ = 0; return;
    }
    ReadAllStep(now);
}

bool MonitorDecoder::StartReadAll(int page, TimePoint now)
{
    ++readAllRun_;
    readAllCount_ = 0;
    readAllSheet_ = page;
    return ReadAllStep(now);
}

bool MonitorDecoder::SendRawFrame(ByteView text)
{
    const auto unit = UnitByte(false);
    if (!unit)
        return false;
    return SendAndLog(RawFrameRequest(text, *unit));
}

bool MonitorDecoder::StoreCell(int page, int subIndex, std::uint8_t unit, std::int32_t value)
{
    if (!pages_ || !rows_.Takes(page, unit, unitAddress_) || !pages_->StoreValue(page, subIndex, value))
        return false;
    // A row failed by a time-out comes back when its answer arrives late.
    pages_->EnableEdit(page, subIndex);
    return true;
}

bool MonitorDecoder::IsReadAllRow(int page, int subIndex, std::uint8_t unit) const
{
    return readAllCount_ != 0 && page == readAllSheet_ && subIndex == static_cast<int>(readAllCount_) &&
           unit == readAllUnit_;
}

} // namespace tervix
