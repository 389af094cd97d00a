// Records every frame the program receives and sends, each with its receive
// or send time, as a candump log (received frames under the interface "rx",
// sent ones under "tx"), a PEAK TRC 1.1 or 2.1 file or a Vector ASC file
// (Rx and Tx); a trace file's start time is its first frame's. The format is
// chosen by the file's extension or given (trace_formats). The GUI thread
// only formats lines into a buffer;
// a writer thread does the file I/O, so a slow disk never stalls the poll and
// no frame is dropped.
#pragma once

#include "clock.h"
#include "frame_packet.h"
#include "trace_formats.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class Recorder : public QObject {
    Q_OBJECT
public:
    // The writer writes and flushes at least this often, and on Stop.
    static constexpr std::chrono::milliseconds kFlushInterval{1000};

    // `clock`: the program's, on which the frames' times are given.
    explicit Recorder(QObject* parent = nullptr, std::chrono::milliseconds flushInterval = kFlushInterval,
                      tervix::Clock& clock = tervix::DefaultClock());
    ~Recorder() override;

    // Opens (truncates) `path` and starts the writer; false with *error when
    // the file cannot be opened. A recording under way is stopped first.
    // Without `format`, the extension chooses: .trc TRC 2.1, .asc ASC,
    // anything else a candump log.
    bool Start(const QString& path, QString* error = nullptr,
               std::optional<tervix::TraceFormat> format = std::nullopt);
    // Writes what is buffered and closes the file. A write error found now is
    // reported through failed() like one found while recording.
    void Stop();

    bool IsRecording() const { return recording_; }
    QString Path() const { return path_; }
    tervix::TraceFormat Format() const { return trace_.Format(); }
    std::uint64_t Frames() const { return frames_; }

    // `at` on the program's clock; the line gets the wall-clock time it
    // stands for, by the two clocks' offset at the call.
    void Received(const tervix::BusFrame& frame, tervix::TimePoint at)
    {
        Append(tervix::TraceDirection::Received, frame, at);
    }
    void Sent(const tervix::BusFrame& frame, tervix::TimePoint at)
    {
        Append(tervix::TraceDirection::Transmitted, frame, at);
    }

signals:
    // The recording stopped by itself (full disk, write error); said once.
    void failed(const QString& message);

private:
    void Append(tervix::TraceDirection direction, const tervix::BusFrame& frame, tervix::TimePoint at);
    // The wall-clock time that `at` on the program's clock stands for, in
    // microseconds since 1970.
    std::int64_t UnixMicros(tervix::TimePoint at);
    void WriterLoop();
    // On the GUI thread, after the writer has given up.
    void OnWriteError();

    std::chrono::milliseconds flushInterval_;
    tervix::Clock& clock_;
    std::optional<tervix::TimePoint> offsetTakenAt_;
    std::chrono::microseconds wallOffset_{0};
    QString path_;
    bool recording_ = false;
    std::uint64_t frames_ = 0;

    std::FILE* file_ = nullptr;
    std::thread writer_;
    std::mutex mutex_;
    std::condition_variable wake_;
    tervix::TraceWriter trace_{tervix::TraceFormat::Candump}; // GUI thread only
    std::string pending_;    // guarded by mutex_
    bool stopping_ = false;  // guarded by mutex_
    std::string writeError_; // guarded by mutex_; set once by the writer
    std::atomic<bool> writeFailed_{false};
};
