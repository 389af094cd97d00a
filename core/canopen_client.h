// The program's CANopen client: one SDO client per server node, made when
// first asked for, fed every frame the bus brings and moved on by the time
// passed in. Whatever sends an SDO request or waits for its answer (the
// parameter pages, the buttons and value dialogs, the SDO dialog, the
// command line) queues it here, so a node serves one transfer at a time and
// transfers to different nodes run side by side.
#pragma once

#include "sdo_client.h"

#include <array>
#include <memory>

namespace tervix {

class CanopenClient {
public:
    // Puts a frame of `node`'s transfer on the bus, or says why not.
    using Sender = std::function<Status(unsigned node, const BusFrame&, const SdoOutgoing&)>;

    explicit CanopenClient(Sender send, SdoClientOptions options = {});

    // node 0..127; the transfer's `done` is called once, perhaps from within
    // this call (a send that failed).
    SdoTransferId Queue(unsigned node, SdoTransfer transfer, TimePoint now);
    // Any frame from the bus; true when it moved a transfer on.
    bool Receive(const BusFrame& frame, TimePoint now);
    // Ends transfers whose answers are overdue; starts what waits behind them.
    void Process(TimePoint now);
    // SdoClient::Forget on `node`'s client.
    bool Forget(unsigned node, SdoTransferId id, TimePoint now);
    // Whether `node` runs a transfer or has one queued.
    bool Busy(unsigned node) const;

    // For transfers queued from now on (and the nodes' clients already made).
    void SetTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds Timeout() const { return options_.timeout; }
    void SetAbortOrder(AbortOrder order);

private:
    SdoClient& Node(unsigned node);

    Sender send_;
    SdoClientOptions options_;
    std::array<std::unique_ptr<SdoClient>, 128> nodes_;
};

} // namespace tervix
