// Fakes at the edges of the comm layer: a scripted CAN driver, a clock that
// records its waits instead of sleeping, and a plain choice box.
#pragma once

#include "choice_box.h"
#include "clock.h"
#include "no_serial_ports.h"
#include "pcan_usb.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// Driver calls and waits, in the order they happened.
using CallLog = std::vector<std::string>;

inline std::string FrameText(const CanFrame& f)
{
    char buf[64];
    int n =
        std::snprintf(buf, sizeof buf, "%03X t%u l%u", unsigned(f.id), unsigned(f.msgType), unsigned(f.len));
    std::string s(buf, static_cast<std::size_t>(n));
    for (unsigned i = 0; i < f.len && i < 8; ++i) {
        std::snprintf(buf, sizeof buf, " %02X", unsigned(f.data[i]));
        s += buf;
    }
    return s;
}

inline CanFrame Frame(uint32_t id, std::vector<uint8_t> data)
{
    CanFrame f;
    f.id = id;
    f.len = static_cast<uint8_t>(data.size());
    for (std::size_t i = 0; i < data.size() && i < 8; ++i)
        f.data[i] = data[i];
    return f;
}

class FakeClock final : public tervix::Clock {
public:
    explicit FakeClock(CallLog& log) : log_(log) {}
    std::chrono::system_clock::time_point Now() const override { return {}; }
    void Sleep(std::chrono::milliseconds d) override { log_.push_back("sleep " + std::to_string(d.count())); }

private:
    CallLog& log_;
};

class FakeDriver : public CanDriver {
public:
    struct Read {
        uint32_t result;
        CanFrame frame; // written into the record when result is 0, or when len > 8
    };

    explicit FakeDriver(CallLog& log) : log_(log) {}

    uint32_t init(uint16_t code, int msgType) override
    {
        char buf[32];
        std::snprintf(buf, sizeof buf, "init %04X %d", unsigned(code), msgType);
        log_.push_back(buf);
        return initResult;
    }
    uint32_t close() override
    {
        log_.push_back("close");
        return closeResult;
    }
    uint32_t read(CanFrame& frame) override
    {
        ++readCalls;
        if (onRead)
            return onRead(frame);
        if (reads.empty())
            return 1; // queue empty, record untouched
        Read r = reads.front();
        reads.pop_front();
        if (r.result == 0 || r.frame.len > 8)
            frame = r.frame;
        if (logReads)
            log_.push_back(r.result == 0 ? "read " + FrameText(frame) : "read error");
        return r.result;
    }
    uint32_t write(const CanFrame& frame) override
    {
        log_.push_back("write " + FrameText(frame));
        return writeResult;
    }

    void QueueFrame(const CanFrame& f) { reads.push_back({0, f}); }
    void QueueBusError()
    {
        CanFrame f;
        f.len = 0xFF;
        reads.push_back({7, f});
    }

    uint32_t initResult = 0;
    uint32_t closeResult = 0;
    uint32_t writeResult = 0;
    bool logReads = false;
    int readCalls = 0;
    std::deque<Read> reads;
    std::function<uint32_t(CanFrame&)> onRead;

private:
    CallLog& log_;
};

class FakeChoiceBox final : public ChoiceBox {
public:
    void clear() override
    {
        items.clear();
        tips.clear();
        index = -1;
        text.clear();
    }
    void addItem(const QString& t) override
    {
        items << t;
        tips << QString();
    }
    void setItemToolTip(int i, const QString& tip) override { tips[i] = tip; }
    int count() const override { return int(items.size()); }
    void setCurrentIndex(int i) override
    {
        index = (i >= 0 && i < items.size()) ? i : -1;
        text = index >= 0 ? items[index] : QString();
    }
    int currentIndex() const override { return index; }
    QString currentText() const override { return text; }
    void setCurrentText(const QString& t) override
    {
        // As a combo box: an entry with that text is selected, else the text shows alone.
        index = int(items.indexOf(t));
        text = t;
    }
    void setEnabled(bool e) override { enabled = e; }
    void setOnUserChange(std::function<void()> h) override { onUserChange = std::move(h); }

    // What the user does.
    void UserSelects(const QString& t)
    {
        setCurrentIndex(int(items.indexOf(t)));
        if (onUserChange)
            onUserChange();
    }
    void UserTypes(const QString& t)
    {
        index = -1;
        text = t;
        if (onUserChange)
            onUserChange();
    }

    QStringList items;
    QStringList tips;
    int index = -1;
    QString text;
    bool enabled = true;
    std::function<void()> onUserChange;
};
