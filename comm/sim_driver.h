// The simulated weighing node behind the driver interface: `--can sim`
// gives a bus with a unit on it, no hardware needed. Frames pass only when
// the channel runs at the node's bit rate; at any other rate a read fails as
// the vendor library's does, so the device search finds the node. A frame's
// receive time is the node's clock at the step that sent it.
#pragma once

#include "can_driver.h"
#include "clock.h"
#include "simulated_unit.h"

#include <deque>
#include <memory>

class SimDriver final : public CanDriver {
    Q_OBJECT
public:
    SimDriver(const tervix::sim::SimOptions& options, tervix::Clock& clock, QObject* parent = nullptr);
    ~SimDriver() override;

    DriverResult init(std::uint16_t btr0btr1) override;
    DriverResult close() override;
    DriverResult read(ReceivedFrame& received) override;
    DriverResult write(const tervix::BusFrame& frame) override;
    QString listenOnlyNote() const override { return QStringLiteral("the simulated unit is inside the program"); }

    tervix::sim::SimulatedUnit& Unit() { return *unit_; }

private:
    void Report(const QString& state);
    void Step();

    std::unique_ptr<tervix::sim::SimulatedUnit> unit_;
    tervix::Clock& clock_;
    std::uint32_t bitsPerSecond_ = 0;  // 0: not initialised
    std::deque<ReceivedFrame> received_;
};
