#include "replay_driver.h"

#include "candump_reader.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>

namespace {

enum class Direction : std::uint8_t { Rx, Tx, Other };

struct Line {
    std::int64_t micros = -1; // -1: no time stamp
    Direction direction = Direction::Other;
};

// The time stamp and interface in front of the frame; the frame itself is
// left to the candump reader.
Line LineHeader(std::string_view text)
{
    Line line;
    auto token = [&text] {
        const std::size_t begin = text.find_first_not_of(" \t\r\v\f");
        if (begin == std::string_view::npos) {
            text = {};
            return std::string_view();
        }
        text.remove_prefix(begin);
        const std::size_t end = std::min(text.find_first_of(" \t\r\v\f"), text.size());
        const std::string_view t = text.substr(0, end);
        text.remove_prefix(end);
        return t;
    };
    std::string_view t = token();
    if (t.size() > 2 && t.front() == '(' && t.back() == ')') {
        const std::string_view stamp = t.substr(1, t.size() - 2);
        std::int64_t seconds = 0;
        std::int64_t fraction = 0;
        int fractionDigits = 0;
        bool inFraction = false;
        for (char c : stamp) {
            if (c == '.' && !inFraction) {
                inFraction = true;
            } else if (c >= '0' && c <= '9') {
                if (!inFraction)
                    seconds = seconds * 10 + (c - '0');
                else if (fractionDigits < 6) {
                    fraction = fraction * 10 + (c - '0');
                    ++fractionDigits;
                }
            } else {
                seconds = -1;
                break;
            }
        }
        for (; fractionDigits < 6; ++fractionDigits)
            fraction *= 10;
        if (seconds >= 0)
            line.micros = seconds * 1000000 + fraction;
        t = token();
    }
    if (t == "rx")
        line.direction = Direction::Rx;
    else if (t == "tx")
        line.direction = Direction::Tx;
    return line;
}

} // namespace

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
    std::vector<Direction> directions;
    std::int64_t lastMicros = 0;
    tervix::CandumpPacket packet;
    std::string text;
    // Line by line: the candump reader takes the frame, the header before it
    // gives the time and direction.
    while (std::getline(in, text)) {
        if (text.size() > tervix::CandumpReader::kMaxLine) {
            ++skipped_;
            continue;
        }
        const tervix::CandumpLineResult r = tervix::ParseCandumpLine(text, packet);
        if (r.kind == tervix::CandumpLineKind::Skipped)
            ++skipped_;
        if (r.kind != tervix::CandumpLineKind::Frame)
            continue;
        const Line header = LineHeader(text);
        // A line without a time stamp plays with the one before it.
        if (header.micros >= 0)
            lastMicros = header.micros;
        frames_.push_back({packet.frame, lastMicros});
        directions.push_back(header.direction);
    }
    if (in.bad())
        loadError_ = QString::fromLocal8Bit(std::strerror(errno));

    // Our own recordings hold both directions; only what came from the bus plays.
    const bool recorded =
        std::any_of(directions.begin(), directions.end(), [](Direction d) { return d != Direction::Other; });
    if (recorded) {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < frames_.size(); ++i)
            if (directions[i] == Direction::Rx)
                frames_[kept++] = frames_[i];
        frames_.resize(kept);
    }
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
    setStatus(name, text + QStringLiteral(", sends go nowhere"));
}

DriverResult ReplayDriver::init(std::uint16_t)
{
    if (!loadError_.isEmpty())
        return DriverResult::Missing;
    open_ = true;
    start_ = clock_.Now();
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

DriverResult ReplayDriver::read(ReceivedFrame& received)
{
    if (!open_)
        return DriverResult::NotOpen;
    if (next_ < frames_.size()) {
        const Entry& e = frames_[next_];
        if (speed_ <= 0) {
            received.frame = e.frame;
            received.at.reset();
            ++next_;
            return DriverResult::Ok;
        }
        const std::chrono::duration<double, std::micro> after(static_cast<double>(e.micros) / speed_);
        const tervix::TimePoint due = start_ + std::chrono::duration_cast<tervix::TimePoint::duration>(after);
        if (due <= clock_.Now()) {
            received.frame = e.frame;
            received.at = due;
            ++next_;
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
