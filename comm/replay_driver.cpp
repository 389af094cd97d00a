#include "replay_driver.h"

#include "trace_formats.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <numeric>
#include <optional>
#include <utility>

ReplayDriver::ReplayDriver(const QString& path, double speed, tervix::Clock& clock, QObject* parent)
    : CanDriver(parent), path_(path), speed_(speed), clock_(clock)
{
    Load();
    Report();
}

void ReplayDriver::Load()
{
    std::ifstream in(QFile::encodeName(path_).toStdString(), std::ios::binary);
    if (!in) {
        loadError_ = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    struct Collect final : tervix::TraceSink {
        explicit Collect(std::vector<Entry>& into) : entries(into) {}
        void Record(std::uint64_t, const tervix::TraceRecord& r) override
        {
            entries.push_back({r.frame, r.micros, r.kind == tervix::TraceRecord::Kind::ErrorFrame,
                               r.direction == tervix::TraceDirection::Transmitted});
        }
        void Skipped(std::uint64_t, tervix::TraceSkip, std::string_view) override {}
        std::vector<Entry>& entries;
    } sink(frames_);
    tervix::TraceReader reader;
    constexpr std::size_t kChunk = std::size_t{1} << 16;
    const auto chunk = std::make_unique<char[]>(kChunk);
    for (;;) {
        in.read(chunk.get(), static_cast<std::streamsize>(kChunk));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0)
            break;
        reader.Feed(std::string_view(chunk.get(), got), sink);
    }
    if (in.bad())
        loadError_ = QString::fromLocal8Bit(std::strerror(errno));
    reader.Finish(sink);
    skipped_ = std::accumulate(reader.Skips().begin(), reader.Skips().end(), std::uint64_t{0});
    frames_.shrink_to_fit();
    if (!frames_.empty()) {
        const std::int64_t first = frames_.front().micros;
        // Time stamps that run backwards play at once rather than stall.
        std::int64_t previous = 0;
        for (Entry& e : frames_) {
            e.micros = std::max(e.micros - first, previous);
            previous = e.micros;
        }
    }
}

void ReplayDriver::Report()
{
    reported_ = next_;
    const QString name = QStringLiteral("replay of %1").arg(path_);
    if (!loadError_.isEmpty()) {
        setStatus(name, QStringLiteral("cannot read (%1)").arg(loadError_));
        return;
    }
    QString text = QStringLiteral("%1 of %2 frames").arg(next_).arg(frames_.size());
    if (skipped_ != 0)
        text += QStringLiteral(", %1 lines skipped").arg(skipped_);
    if (!open_)
        text += QStringLiteral(", not started");
    else if (Paused())
        text += QStringLiteral(", paused");
    setStatus(name, text + QStringLiteral(", sends go nowhere"));
}

DriverResult ReplayDriver::init(std::uint16_t)
{
    if (!loadError_.isEmpty())
        return DriverResult::Missing;
    open_ = true;
    start_ = clock_.Now();
    if (pausedAt_)
        pausedAt_ = start_;
    next_ = 0;
    Report();
    return DriverResult::Ok;
}

DriverResult ReplayDriver::close()
{
    const bool wasOpen = open_;
    open_ = false;
    Report();
    return wasOpen ? DriverResult::Ok : DriverResult::NotOpen;
}

void ReplayDriver::SetPaused(bool paused)
{
    if (paused == Paused())
        return;
    const tervix::TimePoint now = clock_.Now();
    if (paused)
        pausedAt_ = now;
    else
        start_ += now - *std::exchange(pausedAt_, std::nullopt);
    Report();
}

void ReplayDriver::Restart()
{
    next_ = 0;
    start_ = clock_.Now();
    if (pausedAt_)
        pausedAt_ = start_;
    Report();
}

DriverResult ReplayDriver::read(ReceivedFrame& received)
{
    if (!open_)
        return DriverResult::NotOpen;
    if (next_ < frames_.size() && !Paused()) {
        const Entry& e = frames_[next_];
        std::optional<tervix::TimePoint> due;
        if (speed_ > 0) {
            const std::chrono::duration<double, std::micro> after(static_cast<double>(e.micros) / speed_);
            due = start_ + std::chrono::duration_cast<tervix::TimePoint::duration>(after);
        }
        if (!due || *due <= clock_.Now()) {
            ++next_;
            if (e.error)
                return DriverResult::ErrorFrame;
            received.frame = e.frame;
            received.at = due;
            received.transmitted = e.transmitted;
            return DriverResult::Ok;
        }
    }
    // Once per poll, not once per frame: the label need not follow a flood.
    if (reported_ != next_)
        Report();
    return DriverResult::Empty;
}

DriverResult ReplayDriver::write(const tervix::BusFrame&)
{
    return open_ ? DriverResult::Ok : DriverResult::NotOpen;
}
