// What the transport needs of a CAN adapter: the USB channel and the serial
// link both are one. The transport picks one by the port box and talks to it
// only through this.
#pragma once

#include "frame_packet.h"
#include "receive_ring.h"
#include "status.h"

#include <QString>

#include <cstdint>
#include <functional>

class Adapter {
public:
    virtual ~Adapter() = default;

    // Fails with the text for the user when the adapter cannot be used.
    virtual tervix::Status Open() = 0;
    virtual void Close() = 0;
    // One frame; fails when it cannot go out (the serial link's port is not
    // open, the driver refuses it).
    virtual tervix::Status Send(const tervix::BusFrame& frame) = 0;
    // One poll tick: everything the adapter has buffered goes into the ring.
    virtual void PollInto(tervix::ReceiveRing& ring) = 0;
    // For the "Comm Info" label.
    virtual QString StateText() const = 0;

    // Whether the speed box chooses this adapter's bus rate.
    virtual bool ChoosesBitRate() const { return false; }
    virtual void SetBitRateCode(std::uint32_t) {}

    // Called whenever StateText() may have changed.
    void SetOnStateChanged(std::function<void()> handler) { onStateChanged_ = std::move(handler); }
    // Called once when an open adapter goes away by itself (unplugged, the
    // peer of a pseudo-terminal ended), with the system's reason.
    void SetOnLost(std::function<void(const QString& why)> handler) { onLost_ = std::move(handler); }

    // A lost adapter tries to come back at the same device; true when it did.
    virtual bool TryReopen() { return false; }
    bool IsLost() const { return lost_; }

protected:
    void StateChanged() const
    {
        if (onStateChanged_)
            onStateChanged_();
    }
    void Lost(const QString& why)
    {
        lost_ = true;
        if (onLost_)
            onLost_(why);
    }
    void Back() { lost_ = false; }

private:
    std::function<void()> onStateChanged_;
    std::function<void(const QString&)> onLost_;
    bool lost_ = false;
};
