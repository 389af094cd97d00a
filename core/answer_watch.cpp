#include "answer_watch.h"

#include "frame_naming.h"

namespace tervix {

namespace {

constexpr std::uint32_t kNmtStartCommand = 0x01;

int FunctionOf(const BusFrame& frame)
{
    return static_cast<int>(frame.id >> 7) & 0x0F;
}

unsigned NodeOf(const BusFrame& frame)
{
    return frame.id & 0x7F;
}

} // namespace

void AnswerWatch::SetNode(unsigned node)
{
    if (node == node_)
        return;
    node_ = node;
    Reset();
}

void AnswerWatch::Reset()
{
    askedSince_.reset();
    noAnswer_ = false;
}

void AnswerWatch::Sent(const BusFrame& frame, TimePoint at)
{
    if (node_ == 0 || frame.extended || askedSince_)
        return;
    const int function = FunctionOf(frame);
    bool asks = false;
    if (frame.id == 0)
        asks = !frame.remote && frame.length >= 2 && frame.data[0] == kNmtStartCommand &&
               (frame.data[1] == node_ || frame.data[1] == 0);
    else if (NodeOf(frame) == node_)
        // The unit's guard frame carries the unit address as data; a remote
        // frame is CiA 301's guard request.
        asks = function == kNmtHandling || (function == kRsdo && !frame.remote);
    if (asks)
        askedSince_ = at;
}

bool AnswerWatch::Received(const BusFrame& frame, TimePoint)
{
    if (node_ == 0 || frame.extended || NodeOf(frame) != node_)
        return false;
    // What the node itself sends: emergencies, TPDOs, SDO answers, boot-up,
    // heartbeat and guard replies (requests to it are remote or other codes).
    const int function = FunctionOf(frame);
    const bool fromNode = !frame.remote && (function == kSyncEmergency || function == kTpdo1 ||
                                            function == kTpdo2 || function == kTpdo3 || function == kTpdo4 ||
                                            function == kTsdo || function == kNmtHandling);
    if (!fromNode)
        return false;
    askedSince_.reset();
    const bool ended = noAnswer_;
    noAnswer_ = false;
    return ended;
}

bool AnswerWatch::Check(TimePoint now)
{
    if (noAnswer_ || !askedSince_ || now - *askedSince_ < kSilence)
        return false;
    noAnswer_ = true;
    return true;
}

} // namespace tervix
