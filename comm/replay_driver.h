// A candump log played back as if it came from the bus: `--can
// replay:FILE[,speed=N]`. Frames recorded under "rx" are played, or every
// frame of a log from another tool (no "rx"/"tx" interfaces), at the pace
// they were recorded, N times faster, or all at once with speed 0. Sends go
// nowhere; any bit rate is accepted. A frame's receive time is the time it
// was due on the clock (the time of the read at speed 0), and its identifier
// keeps all 29 bits.
#pragma once

#include "can_driver.h"
#include "clock.h"

#include <cstdint>
#include <vector>

class ReplayDriver final : public CanDriver {
    Q_OBJECT
public:
    // Reads the whole log now; a file that cannot be read leaves a driver
    // whose init fails and whose status says why.
    ReplayDriver(const QString& path, double speed, tervix::Clock& clock, QObject* parent = nullptr);

    // Starts the playback from the first frame.
    DriverResult init(std::uint16_t btr0btr1) override;
    DriverResult close() override;
    DriverResult read(ReceivedFrame& received) override;
    DriverResult write(const tervix::BusFrame& frame) override;

    std::size_t FrameCount() const { return frames_.size(); }
    std::uint64_t SkippedLines() const { return skipped_; }

private:
    struct Entry {
        tervix::BusFrame frame;
        std::int64_t micros; // since the first frame
    };
    void Load();
    void Report();

    QString path_;
    double speed_;
    tervix::Clock& clock_;
    std::vector<Entry> frames_;
    std::uint64_t skipped_ = 0;
    QString loadError_;
    bool open_ = false;
    tervix::TimePoint start_{};
    std::size_t next_ = 0;
    std::size_t reported_ = 0;
};
