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

// Real time stamps. The channel's settle waits no longer block; they pass
// with the ticks.
class NoWaitClock final : public tervix::Clock {
public:
    tervix::TimePoint Now() const override { return std::chrono::steady_clock::now(); }
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
    explicit ArrayDriver(const std::vector<tervix::BusFrame>& frames) : frames_(&frames) {}

    void UseFrames(const std::vector<tervix::BusFrame>& frames)
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
    std::uint64_t Pending() const { return pending_; }
    std::uint64_t Written() const { return written_; }

    DriverResult init(std::uint16_t) override { return DriverResult::Ok; }
    DriverResult close() override { return DriverResult::Ok; }
    // No receive time of its own, as the vendor library: the channel times
    // each frame by its read.
    DriverResult read(ReceivedFrame& received) override
    {
        if (pending_ == 0 && rate_ > 0.0)
            Release();
        if (pending_ == 0)
            return DriverResult::Empty;
        --pending_;
        ++delivered_;
        received.frame = (*frames_)[next_];
        if (++next_ == frames_->size())
            next_ = 0;
        return DriverResult::Ok;
    }
    DriverResult write(const tervix::BusFrame&) override
    {
        ++written_;
        return DriverResult::Ok;
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

    const std::vector<tervix::BusFrame>* frames_;
    std::size_t next_ = 0;
    std::uint64_t pending_ = 0;
    std::uint64_t delivered_ = 0;
    std::uint64_t written_ = 0;
    double rate_ = 0.0;
    std::chrono::steady_clock::time_point pacedStart_{};
    std::uint64_t pacedReleased_ = 0;
};

inline tervix::BusFrame MakeFrame(std::uint32_t id, std::initializer_list<std::uint8_t> data)
{
    tervix::BusFrame f;
    f.id = id;
    f.length = static_cast<std::uint8_t>(data.size());
    std::copy(data.begin(), data.end(), f.data.begin());
    return f;
}

inline void PutFloat(tervix::BusFrame& f, float v)
{
    const auto u = std::bit_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        f.data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(u >> (8 * i));
}

// Who sends the weight frames: nodes 1..32 with one unit each, or node 1
// (the window's "CAN Addr") hosting all 32 units.
enum class Senders { NodePerUnit, OneNode };

// Weight frames of 32 units (unit number in data byte 6), each with its own
// drifting value.
inline std::vector<tervix::BusFrame> Tpdo1Frames(std::size_t count, Senders senders = Senders::NodePerUnit)
{
    std::vector<tervix::BusFrame> frames;
    frames.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto unit = static_cast<std::uint8_t>(i % 32);
        const std::uint32_t id = senders == Senders::OneNode ? 0x181u : 0x181u + unit;
        tervix::BusFrame f = MakeFrame(id, {0, 0, 0, 0, 0x10, 0x00, unit, 0x01});
        PutFloat(f, 1000.0f + static_cast<float>(unit) * 37.5f + static_cast<float>(i / 32) * 0.125f);
        frames.push_back(f);
    }
    return frames;
}

// Traffic that only goes to the log: heartbeats / boot-ups and emergencies.
inline std::vector<tervix::BusFrame> LoggedFrames(std::size_t count)
{
    std::vector<tervix::BusFrame> frames;
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
inline std::vector<tervix::BusFrame> SdoFrames(std::size_t count)
{
    std::vector<tervix::BusFrame> frames;
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
inline std::vector<tervix::BusFrame> MixedFrames(std::size_t count, Senders senders = Senders::NodePerUnit)
{
    const auto tpdo = Tpdo1Frames(count / 2 + 1, senders);
    const auto logged = LoggedFrames(count / 4 + 1);
    const auto sdo = SdoFrames(count / 4 + 1);
    std::vector<tervix::BusFrame> frames;
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
    // Messages go to `messages` when given, else they are counted in `sink`.
    explicit Rig(const std::vector<tervix::BusFrame>& frames, ComPortMap ports = NoSerialPorts(),
                 MessageSink* messages = nullptr)
    {
        auto owned = std::make_unique<ArrayDriver>(frames);
        driver = owned.get();
        usb = std::make_unique<TUSB2CAN>(std::move(owned), clock);
        // The example configuration: the window as `make run` shows it, its
        // parameter pages taking the answers.
        TForm1::Adapters adapters{usb.get(), std::move(ports)};
        adapters.configFile = TERVIX_EXAMPLE_CONF;
        form = std::make_unique<TForm1>(messages ? *messages : static_cast<MessageSink&>(sink), clock,
                                        std::move(adapters));
        form->Comm()->Timer().stop();
        // Opens the channel (any rate other than the current one) and lets
        // it settle.
        usb->SetBitrate(tervix::kSearchFirstBitRateCode);
        const auto settled = std::chrono::steady_clock::now() + 2 * TUSB2CAN::kSettleWait;
        while (usb->Settling() && std::chrono::steady_clock::now() < settled + std::chrono::seconds(1))
            form->Comm()->Timer().tick();
    }
    ~Rig()
    {
        form.reset(); // the transport goes before the channel it listens to
        usb.reset();
    }

    // Shows the window on the page that displays what the mix changes.
    void Show(const char* pageName)
    {
        auto* tabs = form->findChild<QTabWidget*>(QStringLiteral("PageControl2"));
        tabs->setCurrentWidget(form->findChild<QWidget*>(QString::fromLatin1(pageName)));
        form->show();
        QApplication::processEvents();
    }

    // One poll tick, then what the event loop does before the next one: at
    // display rate, the refresh, the log's catch-up and the repaint.
    void Tick()
    {
        form->Comm()->Timer().tick();
        QApplication::processEvents();
    }

    // Ticks until the driver has handed out everything queued (a tick reads
    // for a bounded time only).
    void Drain()
    {
        while (driver->Pending() != 0)
            Tick();
    }

    std::uint64_t FramesCounted() const
    {
        std::uint64_t sum = 0;
        for (int code = 0; code < tervix::kFunctionCodeCount; ++code)
            sum += form->Decoder().Count(code);
        return sum;
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
