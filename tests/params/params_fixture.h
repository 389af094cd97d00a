// The window on the simulated node, with the example configuration, its
// clock stepped by hand: what the parameter tests share.
#pragma once

#include "Dialog1.h"
#include "Dialog2.h"
#include "Dialog3.h"
#include "FunctionButton.h"
#include "data_page.h"
#include "monitor.h"
#include "parameter_sheets.h"
#include "recording_message_sink.h"
#include "sim_channel.h"

#include "MyComm.h"
#include "no_serial_ports.h"
#include "usb2can.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using tervix::sim::Group;

inline constexpr Group kGroups[] = {Group::Standard, Group::Trigger, Group::Filling, Group::MassFlow};
inline constexpr int kRows[] = {16, 8, 12, 6};

inline QString ExampleText()
{
    QFile f(QStringLiteral(TERVIX_EXAMPLE_CONF));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return QString::fromLatin1(f.readAll());
}

class Params : public ::testing::Test {
public:
    // The example configuration, with `extra` appended to its button section.
    void Start(const std::string& options = {}, const QString& extra = {},
               const QString& conf = ExampleText())
    {
        ASSERT_TRUE(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("Tervix.conf"));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write((conf + extra).toLatin1());
        f.close();
        SimChannel channel = MakeSimChannel(options, clock);
        ASSERT_TRUE(channel.usb);
        node = channel.node;
        usb = std::move(channel.usb);
        TForm1::Adapters adapters{usb.get(), NoSerialPorts(), path.toStdString()};
        form = std::make_unique<TForm1>(sink, clock, std::move(adapters));
        form->Comm()->Timer().stop();
        form->SetFrameSender([this](const tervix::BusFrame& f) {
            sent.push_back(tervix::EncodePacket(f));
            return form->Comm()->SendFrame(f);
        });
        ASSERT_NE(form->Parameters(), nullptr);
        ASSERT_NE(form->Functions(), nullptr);
        // The first frame opens the channel; the node is then running.
        form->btNMT_StartClick();
        Run(300ms);
        sink.messages.clear();
    }

    // Poll ticks every 3 ms, the display (and its read-all watch) every 16 ms.
    void Run(std::chrono::milliseconds d)
    {
        for (auto t = 0ms; t < d; t += 3ms) {
            clock.Advance(3ms);
            elapsed_ += 3ms;
            form->Comm()->Timer().tick();
            if (elapsed_ % 16ms < 3ms)
                form->RefreshNow();
        }
        form->RefreshNow();
    }
    QString Value3() { return form->findChild<QLineEdit*>("edbxValue3")->text(); }
    void SetUnit(int unit) { form->DataPage()->UnitAddressBox()->setEditText(QString::number(unit)); }
    TFillCell* Cell(int page, int sub) { return form->Parameters()->Sheet(page)->Cell(sub); }
    void Press(int button)
    {
        TFnButton* b = form->Functions()->Button(button);
        ASSERT_TRUE(b->isEnabled()) << button;
        QTest::mouseClick(b, Qt::LeftButton);
    }
    void ReadPage(int page)
    {
        QTest::mouseClick(form->Parameters()->Sheet(page)->ReadButton(), Qt::LeftButton);
        Run(400ms);
    }
    std::int32_t UnitValue(int unit, Group g, int sub)
    {
        return node->Unit(unsigned(unit))->Read(g, std::uint8_t(sub));
    }

    QTemporaryDir dir;
    tervix::ManualClock clock;
    RecordingMessageSink sink;
    tervix::sim::SimulatedUnit* node = nullptr;
    std::unique_ptr<TUSB2CAN> usb;
    std::unique_ptr<TForm1> form;
    std::vector<tervix::FramePacket> sent;

private:
    std::chrono::milliseconds elapsed_{0};
};
