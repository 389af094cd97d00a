#include "sdo_client.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace tervix {

namespace {

constexpr std::uint32_t kRequestBase = 0x600, kAnswerBase = 0x580;

// Command specifiers in bits 7..5 of data byte 0.
constexpr unsigned kScsUploadSegment = 0, kScsDownloadSegment = 1, kScsUploadInitiate = 2,
                   kScsDownloadInitiate = 3, kAbort = 4;
constexpr std::uint8_t kToggleBit = 0x10, kExpeditedBit = 0x02, kSizeBit = 0x01, kLastBit = 0x01;
constexpr std::size_t kSegmentBytes = 7;

unsigned Specifier(std::uint8_t command)
{
    return command >> 5;
}

void PutU32(std::array<std::uint8_t, 8>& d, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i)
        d[4 + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t U32(const std::array<std::uint8_t, 8>& d)
{
    return std::uint32_t(d[4]) | std::uint32_t(d[5]) << 8 | std::uint32_t(d[6]) << 16 |
           std::uint32_t(d[7]) << 24;
}

bool Expedited(const SdoTransfer& t)
{
    return !t.data.empty() && t.data.size() <= 4;
}

// Keeps a failed send inside a completion handler from starting transfers
// twice, and lets the handler's own exception pass without wedging the queue.
class Flag {
public:
    explicit Flag(bool& f) : f_(f) { f_ = true; }
    ~Flag() { f_ = false; }
    Flag(const Flag&) = delete;
    Flag& operator=(const Flag&) = delete;

private:
    bool& f_;
};

} // namespace

SdoTransfer SdoUpload(std::uint16_t index, std::uint8_t subIndex)
{
    SdoTransfer t;
    t.index = index;
    t.subIndex = subIndex;
    return t;
}

SdoTransfer SdoDownload(std::uint16_t index, std::uint8_t subIndex, std::vector<std::uint8_t> data)
{
    SdoTransfer t = SdoUpload(index, subIndex);
    t.upload = false;
    t.data = std::move(data);
    return t;
}

SdoClient::SdoClient(unsigned node, Sender send, SdoClientOptions options)
    : node_(node), send_(std::move(send)), options_(options)
{
    if (node > 127)
        throw std::invalid_argument("SDO server node outside 0..127");
}

SdoTransferId SdoClient::Queue(SdoTransfer transfer, TimePoint now)
{
    now_ = now;
    const SdoTransferId id = nextId_++;
    queue_.emplace_back(id, std::move(transfer));
    StartNext(now);
    return id;
}

void SdoClient::StartNext(TimePoint now)
{
    if (starting_)
        return;
    Flag starting(starting_);
    while (!running_ && !queue_.empty()) {
        auto [id, transfer] = std::move(queue_.front());
        queue_.pop_front();
        Running next;
        next.id = id;
        next.transfer = std::move(transfer);
        running_ = std::move(next);
        if (!SendInitiate(now))
            Finish(SdoOutcome::SendFailed);
    }
}

bool SdoClient::Send(const Data& data, SdoFrameKind kind, TimePoint now)
{
    running_->deadline = now + running_->transfer.timeout.value_or(options_.timeout);
    BusFrame frame;
    frame.id = kRequestBase + node_;
    frame.length = 8;
    frame.data = data;
    const auto& lines = running_->transfer.logLines;
    const bool own = kind == SdoFrameKind::Initiate && !lines.empty();
    Status sent = send_(frame, {running_->id, kind, running_->transfer.log, own ? &lines : nullptr});
    if (!sent)
        sendError_ = sent.error();
    return sent.ok();
}

bool SdoClient::SendInitiate(TimePoint now)
{
    const SdoTransfer& t = running_->transfer;
    Data d{0x40, static_cast<std::uint8_t>(t.index), static_cast<std::uint8_t>(t.index >> 8), t.subIndex};
    if (!t.upload) {
        if (Expedited(t)) {
            d[0] = t.indicateSize ? static_cast<std::uint8_t>(0x23 | (4 - t.data.size()) << 2) : 0x22;
            std::copy(t.data.begin(), t.data.end(), d.begin() + 4);
        } else {
            d[0] = t.indicateSize ? 0x21 : 0x20;
            if (t.indicateSize)
                PutU32(d, static_cast<std::uint32_t>(t.data.size()));
        }
    }
    return Send(d, SdoFrameKind::Initiate, now);
}

void SdoClient::SendSegmentRequest(TimePoint now)
{
    const Data d{static_cast<std::uint8_t>(0x60 | (running_->toggle ? kToggleBit : 0))};
    if (!Send(d, SdoFrameKind::Segment, now))
        Finish(SdoOutcome::SendFailed);
}

void SdoClient::SendDownloadSegment(TimePoint now)
{
    Running& r = *running_;
    const std::vector<std::uint8_t>& data = r.transfer.data;
    const std::size_t count = std::min(kSegmentBytes, data.size() - r.offset);
    const bool last = r.offset + count == data.size();
    Data d{static_cast<std::uint8_t>((r.toggle ? kToggleBit : 0) | (kSegmentBytes - count) << 1 |
                                     (last ? kLastBit : 0))};
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(r.offset), count, d.begin() + 1);
    r.offset += count;
    if (!Send(d, SdoFrameKind::Segment, now))
        Finish(SdoOutcome::SendFailed);
}

bool SdoClient::SameObject(const Data& d) const
{
    const SdoTransfer& t = running_->transfer;
    return d[1] == static_cast<std::uint8_t>(t.index) && d[2] == static_cast<std::uint8_t>(t.index >> 8) &&
           d[3] == t.subIndex;
}

bool SdoClient::Receive(const BusFrame& frame, TimePoint now)
{
    now_ = now;
    if (!running_ || frame.extended || frame.remote || frame.length == 0 || frame.id != kAnswerBase + node_)
        return false;
    // Bytes a short frame lacks read as 0.
    Data d{};
    std::copy_n(frame.data.begin(), std::min<std::size_t>(frame.length, d.size()), d.begin());
    // Answers for another object belong to someone else's request.
    if ((Specifier(d[0]) == kAbort || !running_->segments) && !SameObject(d))
        return false;

    if (Specifier(d[0]) == kAbort) {
        const std::uint32_t code = ReadAbortCode(std::span(d).subspan<4, 4>(), options_.abortOrder);
        Finish(SdoOutcome::Aborted, SdoAbort{code, false, CanopenAbortText(code).value_or("")});
    } else if (!running_->segments) {
        InitiateAnswer(d, now);
    } else if (running_->transfer.upload) {
        UploadSegment(d, now);
    } else {
        DownloadSegmentAnswer(d, now);
    }
    StartNext(now);
    return true;
}

void SdoClient::InitiateAnswer(const Data& d, TimePoint now)
{
    Running& r = *running_;
    const std::uint8_t c = d[0];
    if (!r.transfer.upload) {
        if (Specifier(c) != kScsDownloadInitiate)
            return AbortByClient(kAbortUnknownCommand, SdoOutcome::Aborted, now);
        if (Expedited(r.transfer))
            return Finish(SdoOutcome::Done);
        r.segments = true;
        return SendDownloadSegment(now);
    }
    if (Specifier(c) != kScsUploadInitiate)
        return AbortByClient(kAbortUnknownCommand, SdoOutcome::Aborted, now);
    if (c & kExpeditedBit) {
        // Without the size the server gives no count: all four bytes are data.
        const std::size_t count = (c & kSizeBit) ? 4 - ((c >> 2) & 3u) : 4;
        r.received.assign(d.begin() + 4, d.begin() + 4 + static_cast<std::ptrdiff_t>(count));
        return Finish(SdoOutcome::Done);
    }
    if (c & kSizeBit) {
        if (U32(d) > options_.maxUpload)
            return AbortByClient(kAbortOutOfMemory, SdoOutcome::Aborted, now);
        r.size = U32(d);
    }
    r.segments = true;
    SendSegmentRequest(now);
}

void SdoClient::UploadSegment(const Data& d, TimePoint now)
{
    Running& r = *running_;
    const std::uint8_t c = d[0];
    if (Specifier(c) != kScsUploadSegment)
        return AbortByClient(kAbortUnknownCommand, SdoOutcome::Aborted, now);
    if (bool(c & kToggleBit) != r.toggle)
        return AbortByClient(kAbortToggle, SdoOutcome::Aborted, now);
    // Unused bytes are counted in the last segment only.
    const bool last = c & kLastBit;
    const std::size_t count = last ? kSegmentBytes - ((c >> 1) & 7u) : kSegmentBytes;
    if (r.received.size() + count > options_.maxUpload)
        return AbortByClient(kAbortOutOfMemory, SdoOutcome::Aborted, now);
    r.received.insert(r.received.end(), d.begin() + 1, d.begin() + 1 + static_cast<std::ptrdiff_t>(count));
    if (r.size && (r.received.size() > *r.size || (last && r.received.size() != *r.size)))
        return AbortByClient(kAbortLengthMismatch, SdoOutcome::Aborted, now);
    if (last)
        return Finish(SdoOutcome::Done);
    r.toggle = !r.toggle;
    SendSegmentRequest(now);
}

void SdoClient::DownloadSegmentAnswer(const Data& d, TimePoint now)
{
    Running& r = *running_;
    if (Specifier(d[0]) != kScsDownloadSegment)
        return AbortByClient(kAbortUnknownCommand, SdoOutcome::Aborted, now);
    if (bool(d[0] & kToggleBit) != r.toggle)
        return AbortByClient(kAbortToggle, SdoOutcome::Aborted, now);
    if (r.offset == r.transfer.data.size())
        return Finish(SdoOutcome::Done);
    r.toggle = !r.toggle;
    SendDownloadSegment(now);
}

void SdoClient::AbortByClient(std::uint32_t code, SdoOutcome outcome, TimePoint now)
{
    const SdoTransfer& t = running_->transfer;
    Data d{0x80, static_cast<std::uint8_t>(t.index), static_cast<std::uint8_t>(t.index >> 8), t.subIndex};
    const auto bytes = AbortCodeBytes(code, options_.abortOrder);
    std::copy(bytes.begin(), bytes.end(), d.begin() + 4);
    // The transfer ends whether or not the abort got out.
    Send(d, SdoFrameKind::Abort, now);
    Finish(outcome, SdoAbort{code, true, CanopenAbortText(code).value_or("")});
}

void SdoClient::Finish(SdoOutcome outcome, std::optional<SdoAbort> abort)
{
    SdoResult result{running_->id, outcome, {}, std::move(abort), {}, now_};
    if (outcome == SdoOutcome::Done)
        result.data = std::move(running_->received);
    if (outcome == SdoOutcome::SendFailed)
        result.sendError = std::move(sendError_);
    auto done = std::move(running_->transfer.done);
    running_.reset();
    if (done)
        done(result);
}

bool SdoClient::Forget(SdoTransferId id, TimePoint now)
{
    now_ = now;
    if (running_ && running_->id == id && !running_->segments) {
        running_.reset();
        StartNext(now);
        return true;
    }
    return std::erase_if(queue_, [id](const auto& queued) { return queued.first == id; }) != 0;
}

SdoClientState SdoClient::Process(TimePoint now)
{
    now_ = now;
    if (running_ && now >= running_->deadline) {
        // Before the initiate answer the server holds no transfer to end.
        if (running_->segments)
            AbortByClient(kAbortTimedOut, SdoOutcome::TimedOut, now);
        else
            Finish(SdoOutcome::TimedOut);
    }
    StartNext(now);
    return State();
}

} // namespace tervix
