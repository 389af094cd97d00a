// SDO transfers with one server node: expedited and segmented upload and
// download, one after another, each with its own time-out. Frames in, frames
// out through one sender, time passed in; nothing inside reads a clock or
// throws on what the bus brings.
#pragma once

#include "clock.h"
#include "frame_packet.h"
#include "status.h"
#include "status_texts.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tervix {

using SdoTransferId = std::uint64_t;

enum class SdoOutcome : std::uint8_t {
    Done,       // an upload's bytes are in data; a download was taken
    Aborted,    // by the server or by the client: see abort
    TimedOut,   // no answer in time
    SendFailed, // a frame of the transfer could not go out
};

struct SdoAbort {
    std::uint32_t code = 0;
    bool byClient = false;
    std::string_view text; // CanopenAbortText; empty for a code without one

    friend bool operator==(const SdoAbort&, const SdoAbort&) = default;
};

struct SdoResult {
    SdoTransferId id = 0;
    SdoOutcome outcome = SdoOutcome::Done;
    std::vector<std::uint8_t> data;
    // Aborted: who and why. TimedOut: the client's 05040000 when it ended a
    // segmented transfer on the bus, nothing when it only stopped waiting.
    std::optional<SdoAbort> abort;
    // SendFailed: why the frame did not go out, as the sender said.
    std::string sendError;
    TimePoint at{}; // the time of the call that ended it
};

enum class SdoFrameKind : std::uint8_t { Initiate, Segment, Abort };

// What the sender is told about each frame, so that a window can log the
// requests it asked for.
struct SdoOutgoing {
    SdoTransferId transfer = 0;
    SdoFrameKind kind = SdoFrameKind::Initiate;
    bool log = true;
    // The initiate's own log lines (the transfer's logLines); none for the
    // other frames, and where the transfer gave none.
    const std::vector<std::string>* logLines = nullptr;
};

struct SdoTransfer {
    bool upload = true;
    std::uint16_t index = 0;
    std::uint8_t subIndex = 0;
    std::vector<std::uint8_t> data; // what a download writes
    // A download's initiate says how many bytes follow. Without it one to
    // four bytes go out expedited as four (zero-padded).
    bool indicateSize = true;
    std::optional<std::chrono::milliseconds> timeout; // the client's when none
    bool log = true;                                  // passed on with every frame
    std::vector<std::string> logLines;                // how the initiate is logged; empty: as sent
    // Called once when the transfer ends, from the call that ended it: Queue
    // (a send that failed), Receive or Process. It may queue further transfers.
    std::function<void(const SdoResult&)> done;
};

SdoTransfer SdoUpload(std::uint16_t index, std::uint8_t subIndex);
SdoTransfer SdoDownload(std::uint16_t index, std::uint8_t subIndex, std::vector<std::uint8_t> data);

struct SdoClientOptions {
    std::chrono::milliseconds timeout{1000};  // per answer awaited
    AbortOrder abortOrder = AbortOrder::Unit; // read and written alike
    std::size_t maxUpload = 1u << 20;         // more is aborted with 05040005
};

enum class SdoClientState : std::uint8_t {
    Idle,    // nothing running, nothing queued
    Waiting, // a transfer awaits its next answer
};

class SdoClient {
public:
    // Puts one frame on the bus, or says why it did not go out.
    using Sender = std::function<Status(const BusFrame&, const SdoOutgoing&)>;

    // node: 0..127 (requests on 0x600 + node, answers on 0x580 + node);
    // another throws std::invalid_argument. Node 0 is no server CANopen
    // knows, but the node box offers it and its requests go out as asked.
    SdoClient(unsigned node, Sender send, SdoClientOptions options = {});

    // Starts the transfer now when the node is free, else after those queued.
    SdoTransferId Queue(SdoTransfer transfer, TimePoint now);
    // A frame from the bus; true when it was an answer of the running transfer.
    bool Receive(const BusFrame& frame, TimePoint now);
    // Drops a queued transfer, or the running one while it waits for its
    // initiate answer (the server holds nothing to end), without calling its
    // `done`: its answer came by another way. False when it was neither.
    bool Forget(SdoTransferId id, TimePoint now);
    // Ends a transfer whose answer is overdue and starts the next.
    SdoClientState Process(TimePoint now);

    SdoClientState State() const { return running_ ? SdoClientState::Waiting : SdoClientState::Idle; }
    std::size_t Queued() const { return queue_.size(); }
    unsigned Node() const { return node_; }
    // For the transfers that start from now on.
    void SetOptions(const SdoClientOptions& options) { options_ = options; }

private:
    struct Running {
        SdoTransferId id = 0;
        SdoTransfer transfer;
        bool segments = false;             // past the initiate answer
        bool toggle = false;               // of the segment last asked for
        std::size_t offset = 0;            // download: bytes sent so far
        std::optional<std::uint32_t> size; // upload: as the server indicated
        std::vector<std::uint8_t> received;
        TimePoint deadline;
    };
    using Data = std::array<std::uint8_t, 8>;

    void StartNext(TimePoint now);
    bool Send(const Data& data, SdoFrameKind kind, TimePoint now);
    bool SendInitiate(TimePoint now);
    void SendSegmentRequest(TimePoint now);
    void SendDownloadSegment(TimePoint now);
    bool SameObject(const Data& d) const;
    void InitiateAnswer(const Data& d, TimePoint now);
    void UploadSegment(const Data& d, TimePoint now);
    void DownloadSegmentAnswer(const Data& d, TimePoint now);
    void AbortByClient(std::uint32_t code, SdoOutcome outcome, TimePoint now);
    void Finish(SdoOutcome outcome, std::optional<SdoAbort> abort = std::nullopt);

    unsigned node_;
    Sender send_;
    SdoClientOptions options_;
    std::optional<Running> running_;
    std::string sendError_; // of the last send that failed
    TimePoint now_{};       // of the call under way
    std::deque<std::pair<SdoTransferId, SdoTransfer>> queue_;
    SdoTransferId nextId_ = 1;
    bool starting_ = false;
};

} // namespace tervix
