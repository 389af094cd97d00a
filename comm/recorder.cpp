#include "recorder.h"


#include <QFile>

#include <cerrno>
#include <cstring>

namespace {

// Enough lines that the writer wakes early under a flood instead of letting
// the buffer grow for a whole second.
constexpr std::size_t kWakeBytes = 256 * 1024;

// How long the offset between the program's clock and the wall clock is
// used before it is taken anew (the wall clock may be set meanwhile).
constexpr std::chrono::seconds kOffsetAge{1};

} // namespace

std::int64_t Recorder::UnixMicros(tervix::TimePoint at)
{
    using namespace std::chrono;
    // Two clock reads a frame cost more than writing its line on some
    // machines: the offset is taken once a second.
    if (!offsetTakenAt_ || at < *offsetTakenAt_ || at - *offsetTakenAt_ > kOffsetAge) {
        const tervix::TimePoint now = clock_.Now();
        wallOffset_ = duration_cast<microseconds>(system_clock::now().time_since_epoch()) -
                      duration_cast<microseconds>(now.time_since_epoch());
        offsetTakenAt_ = now;
    }
    return (duration_cast<microseconds>(at.time_since_epoch()) + wallOffset_).count();
}

Recorder::Recorder(QObject* parent, std::chrono::milliseconds flushInterval, tervix::Clock& clock)
    : QObject(parent), flushInterval_(flushInterval), clock_(clock)
{
}

Recorder::~Recorder()
{
    // No one is left to tell about a last write error.
    blockSignals(true);
    Stop();
}

bool Recorder::Start(const QString& path, QString* error, std::optional<tervix::TraceFormat> format)
{
    Stop();
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file) {
        if (error)
            *error = QStringLiteral("Cannot record to %1: %2")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    file_ = file;
    path_ = path;
    frames_ = 0;
    trace_ = tervix::TraceWriter(
        format.value_or(tervix::TraceFormatForPath(path.toStdString()).value_or(tervix::TraceFormat::Candump)));
    pending_.clear();
    stopping_ = false;
    writeError_.clear();
    writeFailed_ = false;
    offsetTakenAt_.reset();
    recording_ = true;
    writer_ = std::thread([this] { WriterLoop(); });
    return true;
}

void Recorder::Append(tervix::TraceDirection direction, const tervix::BusFrame& frame, tervix::TimePoint at)
{
    if (!recording_ || writeFailed_.load(std::memory_order_relaxed))
        return;
    const std::int64_t micros = UnixMicros(at);
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        tervix::TraceRecord record;
        record.frame = frame;
        record.micros = micros;
        record.direction = direction;
        trace_.Append(pending_, record);
        wake = pending_.size() >= kWakeBytes;
    }
    ++frames_;
    if (wake)
        wake_.notify_one();
}

void Recorder::WriterLoop()
{
    std::string batch;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, flushInterval_, [this] { return stopping_ || pending_.size() >= kWakeBytes; });
        // The spare buffer keeps its capacity, so appending rarely allocates.
        batch.clear();
        batch.swap(pending_);
        const bool last = stopping_;
        lock.unlock();
        if (!batch.empty() && !writeFailed_) {
            const bool ok =
                std::fwrite(batch.data(), 1, batch.size(), file_) == batch.size() && std::fflush(file_) == 0;
            if (!ok) {
                const int code = errno;
                {
                    std::lock_guard guard(mutex_);
                    writeError_ = std::strerror(code);
                }
                writeFailed_ = true;
                if (!last)
                    QMetaObject::invokeMethod(this, &Recorder::OnWriteError, Qt::QueuedConnection);
            }
        }
        lock.lock();
        if (last)
            return;
    }
}

void Recorder::Stop()
{
    if (!recording_)
        return;
    {
        std::lock_guard lock(mutex_);
        // A file without frames still gets its header, dated now.
        if (!trace_.Begun() && trace_.Format() != tervix::TraceFormat::Candump)
            trace_.Begin(pending_, UnixMicros(clock_.Now()));
        trace_.End(pending_);
        stopping_ = true;
    }
    wake_.notify_one();
    writer_.join();
    recording_ = false;
    // fclose flushes nothing new (the writer flushed), but reports a late failure.
    const bool closeFailed = std::fclose(file_) != 0 && !writeFailed_;
    const int closeErrno = errno;
    file_ = nullptr;
    if (closeFailed) {
        writeError_ = std::strerror(closeErrno);
        writeFailed_ = true;
    }
    if (writeFailed_)
        emit failed(QStringLiteral("Recording to %1 stopped: %2")
                        .arg(path_, QString::fromLocal8Bit(writeError_.c_str())));
}

void Recorder::OnWriteError()
{
    // Stop says it, once. A recording stopped meanwhile has said it already,
    // and one started since has not failed.
    if (writeFailed_)
        Stop();
}
