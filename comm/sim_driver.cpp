#include "sim_driver.h"

#include "bit_rates.h"

SimDriver::SimDriver(const tervix::sim::SimOptions& options, tervix::Clock& clock, QObject* parent)
    : CanDriver(parent), unit_(std::make_unique<tervix::sim::SimulatedUnit>(options)), clock_(clock)
{
    Report(QStringLiteral("not opened yet"));
}

SimDriver::~SimDriver() = default;

void SimDriver::Report(const QString& state)
{
    setStatus(QStringLiteral("simulated unit (node %1)").arg(unit_->Node()), state);
}

DriverResult SimDriver::init(std::uint16_t btr0btr1)
{
    const std::uint32_t rate = tervix::BitsPerSecondOfCode(btr0btr1);
    if (rate == 0) {
        Report(QStringLiteral("unknown bit-rate code 0x%1").arg(btr0btr1, 4, 16, QLatin1Char('0')));
        return DriverResult::BadBitRate;
    }
    bitsPerSecond_ = rate;
    received_.clear();
    Report(QStringLiteral("connected at %1 kbit/s").arg(rate / 1000));
    return DriverResult::Ok;
}

DriverResult SimDriver::close()
{
    const bool wasOpen = bitsPerSecond_ != 0;
    bitsPerSecond_ = 0;
    received_.clear();
    Report(QStringLiteral("closed"));
    return wasOpen ? DriverResult::Ok : DriverResult::NotOpen;
}

void SimDriver::Step()
{
    // The node lives on while the channel is closed: its clock is the program's.
    const tervix::TimePoint now = clock_.Now();
    unit_->Step(now);
    for (const tervix::BusFrame& f : unit_->TakeFrames())
        if (bitsPerSecond_ == unit_->BitrateKbit() * 1000u)
            received_.push_back({f, now});
}

DriverResult SimDriver::read(ReceivedFrame& received)
{
    if (bitsPerSecond_ == 0)
        return DriverResult::NotOpen;
    Step();
    // At a rate the node does not run at, nothing is understood on the bus.
    if (bitsPerSecond_ != unit_->BitrateKbit() * 1000u)
        return DriverResult::WrongBitRate;
    if (received_.empty())
        return DriverResult::Empty;
    received = received_.front();
    received_.pop_front();
    return DriverResult::Ok;
}

DriverResult SimDriver::write(const tervix::BusFrame& frame)
{
    if (bitsPerSecond_ == 0)
        return DriverResult::NotOpen;
    if (bitsPerSecond_ == unit_->BitrateKbit() * 1000u)
        unit_->Receive(frame, clock_.Now());
    return DriverResult::Ok;
}
