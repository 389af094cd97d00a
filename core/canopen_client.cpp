#include "canopen_client.h"

namespace tervix {

CanopenClient::CanopenClient(Sender send, SdoClientOptions options) : send_(std::move(send)), options_(options) {}

SdoClient& CanopenClient::Node(unsigned node)
{
    auto& client = nodes_.at(node & 0x7F);
    if (!client)
        client = std::make_unique<SdoClient>(
            node & 0x7F,
            [this, node](const BusFrame& frame, const SdoOutgoing& about) { return send_(node & 0x7F, frame, about); },
            options_);
    return *client;
}

SdoTransferId CanopenClient::Queue(unsigned node, SdoTransfer transfer, TimePoint now)
{
    return Node(node).Queue(std::move(transfer), now);
}

bool CanopenClient::Receive(const BusFrame& frame, TimePoint now)
{
    // Only a server's answer identifier (0x580 + node) can move a transfer on.
    if (frame.extended || frame.id < 0x580 || frame.id > 0x5FF)
        return false;
    auto& client = nodes_[frame.id - 0x580];
    return client && client->Receive(frame, now);
}

void CanopenClient::Process(TimePoint now)
{
    for (auto& client : nodes_)
        if (client && client->State() == SdoClientState::Waiting)
            client->Process(now);
}

bool CanopenClient::Forget(unsigned node, SdoTransferId id, TimePoint now)
{
    auto& client = nodes_[node & 0x7F];
    return client && client->Forget(id, now);
}

bool CanopenClient::Busy(unsigned node) const
{
    const auto& client = nodes_[node & 0x7F];
    return client && (client->State() == SdoClientState::Waiting || client->Queued() != 0);
}

void CanopenClient::SetTimeout(std::chrono::milliseconds timeout)
{
    options_.timeout = timeout;
    for (auto& client : nodes_)
        if (client)
            client->SetOptions(options_);
}

void CanopenClient::SetAbortOrder(AbortOrder order)
{
    options_.abortOrder = order;
    for (auto& client : nodes_)
        if (client)
            client->SetOptions(options_);
}

} // namespace tervix
