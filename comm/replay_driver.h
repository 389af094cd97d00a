// A recorded trace played back as if it came from the bus: `--can
// replay:FILE[,speed=N]`. The file is a candump log, a PEAK TRC or a Vector
// ASC file, told by its content (trace_formats). Every frame is played, at
// the pace it was recorded, N times faster, or all at once with speed 0;
// frames the recording marks as sent (candump interface "tx" or the "T" mark,
// TRC and ASC "Tx") come as `transmitted`. A recorded error frame is read as
// DriverResult::ErrorFrame, as the Qt SerialBus back-end reports one. Sends
// go nowhere; any bit rate is accepted. A frame's receive time is the time it
// was due on the clock (the time of the read at speed 0), and its identifier
// keeps all 29 bits. The playback can be paused and started again.
#pragma once

#include "can_driver.h"
#include "clock.h"

#include <cstdint>
#include <optional>
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

    QString listenOnlyNote() const override { return QStringLiteral("a replay reaches no bus"); }

    QString Path() const { return path_; }
    // Frames in the file, error frames included.
    std::size_t FrameCount() const { return frames_.size(); }
    // Lines left out: unreadable, or holding what is no classic frame.
    std::uint64_t SkippedLines() const { return skipped_; }
    // Paused, no frame falls due; the time paused is not played.
    void SetPaused(bool paused);
    bool Paused() const { return pausedAt_.has_value(); }
    // Plays again from the first frame, at once.
    void Restart();
    std::size_t FramesPlayed() const { return next_; }
    // How far the replay is in the recording's time, and the whole of it:
    // microseconds since the first frame.
    std::int64_t PlayedMicros() const { return next_ == 0 ? 0 : frames_[next_ - 1].micros; }
    std::int64_t TotalMicros() const { return frames_.empty() ? 0 : frames_.back().micros; }

private:
    struct Entry {
        tervix::BusFrame frame;
        std::int64_t micros; // since the first frame
        bool error;
        bool transmitted;
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
    std::optional<tervix::TimePoint> pausedAt_;
    std::size_t next_ = 0;
    std::size_t reported_ = 0;
};
