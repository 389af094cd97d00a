// The main window wired to a fast fake CAN driver, for the receive-path
// benchmarks: frames go through the real transport, frame handler, decoder
// state and widget refresh.
#pragma once

#include "MyComm.h"
#include "bit_rates.h"
#include "clock.h"
#include "frame_naming.h"
#include "log_view.h"
#include "message_sink.h"
#include "monitor.h"
#include "usb2can.h"

#include "no_serial_ports.h"

#include <QApplication>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <numeric>
#include <vector>

#include <unistd.h>

namespace bench {

// Real time stamps, but the channel's settle waits cost nothing.
class NoWaitClock final : public tervix::Clock {
public:
    std::chrono::system_clock::time_point Now() const override { return std::chrono::system_clock::now(); }
    void Sleep(std::chrono::milliseconds) override {}
};

// Counts what would have been shown; the mixes raise no message box, so a
// count above zero means the decoder took a path the benchmark did not mean.
class CountingSink final : public MessageSink {
public:
    void ShowMessage(const QString&, const QString&, QMessageBox::Icon, QWidget*) override { ++shown; }
    int shown = 0;
};

// Hands out frames from a pre-built array, cycling through it: no allocation
// per frame. `Queue` makes frames available at once; `StartPaced` releases
// them as wall time passes, at a fixed rate.
class ArrayDriver final : public CanDriver {
public:
    explicit ArrayDriver(const std::vector<CanFrame>& frames) : frames_(&frames) {}

    void UseFrames(const std::vector<CanFrame>& frames)
    {
        frames_ = &frames;
        next_ = 0;
    }
    void Queue(std::uint64_t n) { pending_ += n; }
    void StartPaced(double framesPerSecond)
    {
        rate_ = framesPerSecond;
        pacedStart_ = std::chrono::steady_clock::now();
        pacedReleased_ = 0;
    }
    void StopPaced() { rate_ = 0.0; }

    std::uint64_t Delivered() const { return delivered_; }
    std::uint64_t Written() const { return written_; }

    uint32_t init(uint16_t, int) override { return 0; }
    uint32_t close() override { return 0; }
    uint32_t read(CanFrame& frame) override
    {
        if (pending_ == 0 && rate_ > 0.0)
            Release();
        if (pending_ == 0)
            return kDriverQueueEmpty; // record untouched: its length stays <= 8
        --pending_;
        ++delivered_;
        frame = (*frames_)[next_];
        if (++next_ == frames_->size())
            next_ = 0;
        return 0;
    }
    uint32_t write(const CanFrame&) override
    {
        ++written_;
        return 0;
    }

private:
    void Release()
    {
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - pacedStart_;
        const auto due = static_cast<std::uint64_t>(elapsed.count() * rate_);
        if (due > pacedReleased_) {
            pending_ += due - pacedReleased_;
            pacedReleased_ = due;
        }
    }

    const std::vector<CanFrame>* frames_;
    std::size_t next_ = 0;
    std::uint64_t pending_ = 0;
    std::uint64_t delivered_ = 0;
    std::uint64_t written_ = 0;
    double rate_ = 0.0;
    std::chrono::steady_clock::time_point pacedStart_{};
    std::uint64_t pacedReleased_ = 0;
};

inline CanFrame MakeFrame(std::uint32_t id, std::initializer_list<std::uint8_t> data)
{
    CanFrame f;
    f.id = id;
    f.len = static_cast<std::uint8_t>(data.size());
    std::copy(data.begin(), data.end(), f.data.begin());
    return f;
}

inline void PutFloat(CanFrame& f, float v)
{
    const auto u = std::bit_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        f.data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(u >> (8 * i));
}

// Weight frames of 32 units (nodes 1..32, unit number in data byte 6), each
// with its own drifting value.
inline std::vector<CanFrame> Tpdo1Frames(std::size_t count)
{
    std::vector<CanFrame> frames;
    frames.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto unit = static_cast<std::uint8_t>(i % 32);
        CanFrame f = MakeFrame(0x181 + unit, {0, 0, 0, 0, 0x10, 0x00, unit, 0x01});
        PutFloat(f, 1000.0f + static_cast<float>(unit) * 37.5f + static_cast<float>(i / 32) * 0.125f);
        frames.push_back(f);
    }
    return frames;
}

// Traffic that only goes to the log: heartbeats / boot-ups and emergencies.
inline std::vector<CanFrame> LoggedFrames(std::size_t count)
{
    std::vector<CanFrame> frames;
    frames.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto node = static_cast<std::uint8_t>(1 + i % 32);
        if (i % 2 == 0)
            frames.push_back(MakeFrame(0x700 + node, {static_cast<std::uint8_t>(i % 3 == 0 ? 0x00 : 0x05)}));
        else
            frames.push_back(MakeFrame(0x080 + node, {0x10, 0x81, 0x11, static_cast<std::uint8_t>(i), 0, 0, 0,
                                                      static_cast<std::uint8_t>(i >> 8)}));
    }
    return frames;
}

// Upload answers for objects with no parameter page to store into.
inline std::vector<CanFrame> SdoFrames(std::size_t count)
{
    std::vector<CanFrame> frames;
    frames.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto sub = static_cast<std::uint8_t>(1 + i % 12);
        frames.push_back(MakeFrame(0x581, {0x43, 0x05, 0x21, sub, static_cast<std::uint8_t>(i),
                                           static_cast<std::uint8_t>(i >> 8), 0, 0}));
    }
    return frames;
}

// The three kinds interleaved, as on a busy bus: two weight frames, then one
// logged frame, then one answer.
inline std::vector<CanFrame> MixedFrames(std::size_t count)
{
    const auto tpdo = Tpdo1Frames(count / 2 + 1);
    const auto logged = LoggedFrames(count / 4 + 1);
    const auto sdo = SdoFrames(count / 4 + 1);
    std::vector<CanFrame> frames;
    frames.reserve(count);
    std::size_t t = 0, l = 0, s = 0;
    for (std::size_t i = 0; i < count; ++i) {
        switch (i % 4) {
        case 0:
        case 1: frames.push_back(tpdo[t++]); break;
        case 2: frames.push_back(logged[l++]); break;
        default: frames.push_back(sdo[s++]); break;
        }
    }
    return frames;
}

// The window over the fake driver, its channel open. Polling is left to the
// caller: ticks by hand, or the real timer.
struct Rig {
    explicit Rig(const std::vector<CanFrame>& frames, ComPortMap ports = NoSerialPorts())
    {
        auto owned = std::make_unique<ArrayDriver>(frames);
        driver = owned.get();
        usb = std::make_unique<TUSB2CAN>(std::move(owned), clock);
        form = std::make_unique<TForm1>(sink, clock, TForm1::Adapters{usb.get(), std::move(ports)});
        form->Comm()->Timer().stop();
        // Opens the channel (any rate other than the current one).
        usb->SetBitrate(tervix::kSearchFirstBitRateCode);
    }
    ~Rig()
    {
        form.reset(); // the transport goes before the channel it listens to
        usb.reset();
    }

    // Shows the window on the page that displays what the mix changes.
    void Show(QWidget* page)
    {
        form->PageControl2->setCurrentWidget(page);
        form->show();
        QApplication::processEvents();
    }

    // One poll tick, then what the event loop does before the next one: the
    // queued refresh, the log's catch-up and the repaint.
    void Tick()
    {
        form->Comm()->Timer().tick();
        QApplication::processEvents();
    }

    std::uint64_t FramesCounted() const
    {
        return std::accumulate(form->FrameCounters.begin(), form->FrameCounters.end(), std::uint64_t{0});
    }

    NoWaitClock clock;
    CountingSink sink;
    ArrayDriver* driver = nullptr;
    std::unique_ptr<TUSB2CAN> usb;
    std::unique_ptr<TForm1> form;
};

// Resident set size from /proc/self/statm.
inline std::uint64_t ResidentBytes()
{
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return 0;
    unsigned long size = 0, resident = 0;
    const int n = std::fscanf(f, "%lu %lu", &size, &resident);
    std::fclose(f);
    return n == 2 ? std::uint64_t(resident) * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
}

} // namespace bench
