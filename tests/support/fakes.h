// Fakes at the edges of the comm layer: a scripted CAN driver and a plain
// choice box. Time comes from tervix::ManualClock; the channel's waits show as
// driver calls that happen only once the clock has moved far enough.
#pragma once

#include "can_driver.h"
#include "choice_box.h"
#include "clock.h"
#include "no_serial_ports.h"

#include <QCoreApplication>
#include <QList>
#include <QStringList>

#include <cstdio>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Driver calls, in the order they happened.
using CallLog = std::vector<std::string>;

// "605 l3 11 22 33"; extended and remote frames say so before the length.
inline std::string FrameText(const tervix::BusFrame& f)
{
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, "%03X%s%s l%u", unsigned(f.id), f.extended ? " ext" : "",
                          f.remote ? " rtr" : "", unsigned(f.length));
    std::string s(buf, static_cast<std::size_t>(n));
    for (unsigned i = 0; i < f.length && i < 8; ++i) {
        std::snprintf(buf, sizeof buf, " %02X", unsigned(f.data[i]));
        s += buf;
    }
    return s;
}

inline tervix::BusFrame Frame(std::uint32_t id, std::vector<std::uint8_t> data)
{
    return tervix::MakeFrame(id, data);
}

class FakeDriver : public CanDriver {
public:
    struct Read {
        DriverResult result;
        tervix::BusFrame frame; // written into the caller's frame when result is Ok
        std::optional<tervix::TimePoint> at = std::nullopt; // its receive time, if the driver has one
    };

    explicit FakeDriver(CallLog& log) : log_(log) {}

    DriverResult init(std::uint16_t code) override
    {
        char buf[32];
        std::snprintf(buf, sizeof buf, "init %04X", unsigned(code));
        log_.push_back(buf);
        return initResult;
    }
    DriverResult close() override
    {
        log_.push_back("close");
        return closeResult;
    }
    DriverResult read(ReceivedFrame& received) override
    {
        ++readCalls;
        if (onRead)
            return onRead(received.frame);
        if (reads.empty())
            return DriverResult::Empty;
        const Read r = reads.front();
        reads.pop_front();
        if (r.result == DriverResult::Ok) {
            received.frame = r.frame;
            received.at = r.at;
        }
        return r.result;
    }
    DriverResult write(const tervix::BusFrame& frame) override
    {
        log_.push_back("write " + FrameText(frame));
        return writeResult;
    }
    bool systemSetsBitRate() const override { return systemRate; }
    std::uint32_t interfaceBitRate() const override { return interfaceRate; }

    void QueueFrame(const tervix::BusFrame& f, std::optional<tervix::TimePoint> at = std::nullopt)
    {
        reads.push_back({DriverResult::Ok, f, at});
    }
    void QueueWrongRate() { reads.push_back({DriverResult::WrongBitRate, {}}); }
    void QueueErrorFrame() { reads.push_back({DriverResult::ErrorFrame, {}}); }
    void SetStatus(const QString& text) { setStatusText(text); }

    DriverResult initResult = DriverResult::Ok;
    DriverResult closeResult = DriverResult::Ok;
    DriverResult writeResult = DriverResult::Ok;
    bool systemRate = false;
    std::uint32_t interfaceRate = 0;
    int readCalls = 0;
    std::deque<Read> reads;
    std::function<DriverResult(tervix::BusFrame&)> onRead;

private:
    CallLog& log_;
};

class FakeChoiceBox final : public ChoiceBox {
public:
    void clear() override
    {
        items.clear();
        data.clear();
        tips.clear();
        index = -1;
        text.clear();
    }
    void addItem(const QString& t, int d = 0) override
    {
        items << t;
        data << d;
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
    int currentData() const override { return index >= 0 ? data[index] : 0; }
    void setCurrentText(const QString& t) override
    {
        // As a combo box: an entry with that text is selected, else the text shows alone.
        index = int(items.indexOf(t));
        text = t;
    }
    void setEnabled(bool e) override { enabled = e; }
    void setOnUserChange(ChangeHandler h) override { onUserChange = std::move(h); }

    // What the user does, and what the change handler made of it.
    tervix::Status UserSelects(const QString& t)
    {
        setCurrentIndex(int(items.indexOf(t)));
        return onUserChange ? onUserChange() : tervix::Status();
    }
    tervix::Status UserTypes(const QString& t)
    {
        index = -1;
        text = t;
        return onUserChange ? onUserChange() : tervix::Status();
    }

    QStringList items;
    QList<int> data;
    QStringList tips;
    int index = -1;
    QString text;
    bool enabled = true;
    ChangeHandler onUserChange;
};
