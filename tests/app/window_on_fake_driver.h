// The main window on a real transport and USB channel over a scripted
// driver, with its timers stopped: tests drive the poll ticks by hand.
#pragma once

#include "../comm/fakes.h"
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
        form->WatchdogTimer->stop();
        form->Comm()->Timer().stop();
    }
    void Tick() { form->Comm()->Timer().tick(); }

    CallLog log;
    FakeClock clock{log};
    FakeDriver* driver = nullptr;
    std::unique_ptr<TUSB2CAN> usb;
    RecordingMessageSink sink;
    std::unique_ptr<TForm1> form;
};
