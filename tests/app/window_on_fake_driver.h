// The main window on a real transport and USB channel over a scripted
// driver, with its timers stopped: tests drive the poll ticks by hand.
#pragma once

#include "fakes.h"
#include "monitor.h"
#include "recording_message_sink.h"

#include "MyComm.h"
#include "usb2can.h"

#include <gtest/gtest.h>

#include <memory>

class WindowOnFakeDriver : public ::testing::Test {
protected:
    WindowOnFakeDriver()
    {
        auto fake = std::make_unique<FakeDriver>(log);
        driver = fake.get();
        usb = std::make_unique<TUSB2CAN>(std::move(fake), clock);
        form = std::make_unique<TForm1>(sink, clock, TForm1::Adapters{usb.get(), NoSerialPorts()});
        form->Comm()->Timer().stop();
    }
    void Tick() { form->Comm()->Timer().tick(); }
    template <typename W>
    W* Find(const char* name) const
    {
        return form->findChild<W*>(QString::fromLatin1(name));
    }
    // Moves the clock on (the USB channel's settle waits), then one tick.
    void Elapse(std::chrono::milliseconds d)
    {
        clock.Advance(d);
        Tick();
    }

    CallLog log;
    tervix::ManualClock clock;
    FakeDriver* driver = nullptr;
    std::unique_ptr<TUSB2CAN> usb;
    RecordingMessageSink sink;
    std::unique_ptr<TForm1> form;
};
