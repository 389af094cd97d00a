// The status bar's figures, stale units, the device search as the user
// follows it, and the program's --help and --version without a display.
#include "data_page.h"
#include "sim_channel.h"
#include "monitor.h"
#include "recording_message_sink.h"
#include "status_bar.h"
#include "unit_box.h"
#include "window_on_fake_driver.h"

#include "MyComm.h"
#include "no_serial_ports.h"
#include "sim_driver.h"
#include "usb2can.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using ::testing::ElementsAre;

namespace {

// --- Live statistics over a scripted driver ---------------------------------

class StatusBarTest : public WindowOnFakeDriver {
protected:
    QString Text(QLabel* label) const { return label->text(); }
    TStatusBar& Bar() const { return *form->StatusBar(); }
};

TEST_F(StatusBarTest, FramesPerSecondLoadAndErrorFramesOverTheLastSecond)
{
    EXPECT_EQ(Text(Bar().RatesLabel()), "Rx 0/s  Tx 0/s");
    EXPECT_EQ(Text(Bar().RecordingLabel()), "Not recording");
    form->btNMT_StartClick(); // opens the channel: out of the window by the end
    Elapse(200ms);
    for (int step = 0; step < 10; ++step) {
        for (int i = 0; i < 20; ++i)
            driver->QueueFrame(Frame(0x181, {1, 2, 3, 4, 5, 6, 7, 8}));
        driver->QueueErrorFrame();
        Elapse(100ms);
    }
    form->btNMT_StopClick();
    form->btNMT_StartClick();
    form->RefreshNow();
    EXPECT_EQ(Text(Bar().AdapterLabel()), "USB at 500 kbit/s");
    EXPECT_EQ(Text(Bar().RatesLabel()), "Rx 200/s  Tx 2/s");
    // 200 standard 8-byte frames of 135 bits, 2 NMT frames of 47 + 16 + 12:
    // 27150 bits of 500000.
    EXPECT_EQ(Text(Bar().LoadLabel()), "Load 5.4 %");
    EXPECT_FALSE(Bar().LoadLabel()->isHidden());
    EXPECT_EQ(Text(Bar().ErrorsLabel()), "Error frames 10");

    // Shown once a second, not at display rate.
    clock.Advance(500ms);
    form->RefreshNow();
    EXPECT_EQ(Text(Bar().RatesLabel()), "Rx 200/s  Tx 2/s");
    clock.Advance(500ms);
    form->RefreshNow();
    EXPECT_EQ(Text(Bar().RatesLabel()), "Rx 0/s  Tx 0/s");
    EXPECT_EQ(Text(Bar().LoadLabel()), "Load 0.0 %");
}

TEST_F(StatusBarTest, RecordingStateAndFrameCount)
{
    QTemporaryDir dir;
    ASSERT_TRUE(form->StartRecording(dir.filePath(QStringLiteral("r.log"))));
    form->btNMT_StartClick();
    Elapse(200ms);
    driver->QueueFrame(Frame(0x181, {1}));
    driver->QueueFrame(Frame(0x281, {2}));
    Elapse(3ms);
    clock.Advance(1s);
    form->RefreshNow();
    EXPECT_EQ(Text(Bar().RecordingLabel()), "Recording, 3 frames");
}

// --- Against the simulated node ---------------------------------------------

class StatusOnSimulatedNode : public ::testing::Test {
protected:
    void Start(const std::string& options)
    {
        SimChannel channel = MakeSimChannel(options, clock);
        ASSERT_TRUE(channel.usb);
        node = channel.node;
        usb = std::move(channel.usb);
        form = std::make_unique<TForm1>(sink, clock, TForm1::Adapters{usb.get(), NoSerialPorts()});
        form->Comm()->Timer().stop();
        QObject::connect(form->Comm(), &TComm::connectionEvent,
                         [this](const QString& line) { events.push_back(line.toStdString()); });
        info = form->findChild<QLabel*>(QStringLiteral("lbInfo"));
    }
    // One poll tick every 3 ms, the display after each; `each` after every tick.
    template <typename Each> void Run(std::chrono::milliseconds d, Each each)
    {
        for (auto t = 0ms; t < d; t += 3ms) {
            clock.Advance(3ms);
            form->Comm()->Timer().tick();
            form->RefreshNow();
            each();
        }
    }
    void Run(std::chrono::milliseconds d)
    {
        Run(d, [] {});
    }

    tervix::ManualClock clock;
    RecordingMessageSink sink;
    tervix::sim::SimulatedUnit* node = nullptr;
    std::unique_ptr<TUSB2CAN> usb;
    std::unique_ptr<TForm1> form;
    std::vector<std::string> events;
    QLabel* info = nullptr;
};

TEST_F(StatusOnSimulatedNode, UnitWithoutTpdo1IsGreyedAndEveryUnitAfterNmtStopUntilTheNextTpdo1)
{
    Start("silent=2");
    form->btNMT_StartClick();
    Run(2500ms);
    // Unit 2 sends TPDO2 but never TPDO1.
    TUnitBox* silent = form->UnitBox(2);
    EXPECT_TRUE(silent->Stale());
    EXPECT_TRUE(silent->toolTip().startsWith("No TPDO1 since the unit was first heard"))
        << silent->toolTip().toStdString();
    for (int unit : {0, 1, 3}) {
        EXPECT_FALSE(form->UnitBox(unit)->Stale()) << unit;
        EXPECT_TRUE(form->UnitBox(unit)->toolTip().isEmpty()) << unit;
    }
    EXPECT_FALSE(form->UnitBox(4)->Stale()); // never heard at all
    EXPECT_FALSE(form->DataPage()->Tpdo1Stale());

    // The node stops sending; when its last TPDO1 arrived is read off the
    // frame counter.
    form->btNMT_StopClick();
    tervix::TimePoint lastTpdo1 = clock.Now();
    std::uint32_t count = form->Decoder().Count(tervix::kTpdo1);
    bool staleBefore1s = false;
    Run(1500ms, [&] {
        if (form->Decoder().Count(tervix::kTpdo1) != count) {
            count = form->Decoder().Count(tervix::kTpdo1);
            lastTpdo1 = clock.Now();
        }
        staleBefore1s |= form->UnitBox(0)->Stale() && clock.Now() - lastTpdo1 <= 1s;
    });
    EXPECT_FALSE(staleBefore1s);
    const double since = std::chrono::duration<double>(clock.Now() - lastTpdo1).count();
    ASSERT_GT(since, 1.0);
    const QString tip = QStringLiteral("No TPDO1 for %1 s").arg(since, 0, 'f', 1);
    for (int unit : {0, 1, 3}) {
        EXPECT_TRUE(form->UnitBox(unit)->Stale()) << unit;
        EXPECT_EQ(form->UnitBox(unit)->toolTip(), tip) << unit;
    }
    EXPECT_TRUE(form->DataPage()->Tpdo1Stale());
    EXPECT_EQ(form->DataPage()->findChild<QLineEdit*>(QStringLiteral("edbxTPDO1"))->toolTip(), tip);

    form->btNMT_StartClick();
    Run(300ms);
    for (int unit : {0, 1, 3}) {
        EXPECT_FALSE(form->UnitBox(unit)->Stale()) << unit;
        EXPECT_TRUE(form->UnitBox(unit)->toolTip().isEmpty()) << unit;
    }
    EXPECT_TRUE(silent->Stale());
    EXPECT_FALSE(form->DataPage()->Tpdo1Stale());
}

TEST_F(StatusOnSimulatedNode, SearchShowsEachRateTriedAndLogsItsSteps)
{
    Start("node=5,rate=125");
    std::vector<QString> shown; // "Comm Info" while the search runs, each text once
    form->btFindClick();
    EXPECT_EQ(form->FindButton()->text(), "Cancel search");
    // Started by another master: it sends process data at its own rate.
    node->Receive(tervix::MakeFrame(0x000, std::array<std::uint8_t, 2>{0x01, 0x00}), clock.Now());
    Run(3000ms, [&] {
        if (usb->Searching() && (shown.empty() || shown.back() != info->text()))
            shown.push_back(info->text());
    });
    // Not the driver's opening and closing at each rate: the rate tried.
    const auto trying = [](const char* rate) {
        return QStringLiteral("simulated unit (node 5): searching for the node, trying %1")
            .arg(QLatin1String(rate));
    };
    EXPECT_THAT(shown, ElementsAre(trying("1000 kbit/s"), trying("500 kbit/s"), trying("250 kbit/s"),
                                   trying("125 kbit/s")));
    EXPECT_FALSE(info->text().contains(QStringLiteral("searching"))) << info->text().toStdString();
    EXPECT_THAT(events,
                ElementsAre("Device search started", "Device search: trying 1000 kbit/s",
                            "Device search: trying 500 kbit/s", "Device search: trying 250 kbit/s",
                            "Device search: trying 125 kbit/s", "Device search: node 5 found at 125 kbit/s"));
    EXPECT_EQ(form->FindButton()->text(), "Find ZT9K");
}

TEST_F(StatusOnSimulatedNode, PressedAgainTheSearchStopsAndTheChannelPollsAtItsRateBefore)
{
    Start("rate=250");
    auto* speed = form->findChild<QComboBox*>(QStringLiteral("cbxCANspeed"));
    speed->setCurrentIndex(speed->findText(QStringLiteral("250Kbit")));
    emit speed->activated(speed->currentIndex()); // as the user picks it
    Run(500ms);
    form->btFindClick();
    Run(TForm1::kFindButtonSettle); // a click before would be taken for a late one
    form->btFindClick();
    EXPECT_FALSE(usb->Searching());
    EXPECT_EQ(form->FindButton()->text(), "Find ZT9K");
    EXPECT_THAT(events, ElementsAre("USB bit rate set to 250 kbit/s", "Device search started",
                                    "Device search: trying 1000 kbit/s", "Device search: trying 500 kbit/s",
                                    "Device search cancelled; back to 250 kbit/s"));
    // Polling again at 250 kbit/s: the started node's process data arrives.
    form->btNMT_StartClick();
    Run(1000ms);
    EXPECT_EQ(usb->BitrateCode(), 0x011Cu);
    EXPECT_GT(form->Decoder().Count(tervix::kTpdo1), 0u);
    EXPECT_FALSE(info->text().contains(QStringLiteral("searching")));
    EXPECT_EQ(events.size(), 5u); // no rate tried after the cancel
}

// A click that comes just after the button changed its text was meant for
// the old text: after the search ended on its own, a late "Cancel search"
// must not start a new one; right after "Find ZT9K", a double click must not
// cancel.
struct LateClickCase {
    bool afterFound;                 // else right after the search started
    std::chrono::milliseconds delay; // from the change of text to the click
    bool searching;                  // after the click
};

class LateFindClick : public StatusOnSimulatedNode, public ::testing::WithParamInterface<LateClickCase> {};

TEST_P(LateFindClick, WithinHalfASecondOfTheChangeIsIgnored)
{
    Start("node=5,rate=1000");
    form->show();
    QTest::mouseClick(form->FindButton(), Qt::LeftButton);
    ASSERT_TRUE(usb->Searching());
    if (GetParam().afterFound) {
        for (int i = 0; i < 1000 && usb->Searching(); ++i)
            Run(3ms);
        ASSERT_FALSE(usb->Searching());
        ASSERT_EQ(form->FindButton()->text(), "Find ZT9K");
    }
    clock.Advance(GetParam().delay);
    QTest::mouseClick(form->FindButton(), Qt::LeftButton);
    EXPECT_EQ(usb->Searching(), GetParam().searching);
    EXPECT_EQ(form->FindButton()->text(), GetParam().searching ? "Cancel search" : "Find ZT9K");
}

INSTANTIATE_TEST_SUITE_P(Clicks, LateFindClick,
                         ::testing::Values(LateClickCase{true, 0ms, false}, LateClickCase{true, 499ms, false},
                                           LateClickCase{true, 500ms, true},
                                           LateClickCase{false, 499ms, true},
                                           LateClickCase{false, 500ms, false}));

// --- The program itself, without a display ----------------------------------

struct OptionCase {
    const char* option;
    const char* expected; // in stdout
};

class WithoutDisplay : public ::testing::TestWithParam<OptionCase> {};

TEST_P(WithoutDisplay, AnswersAndExitsZero)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TERVIX_APP_PATH), {QString::fromLatin1(GetParam().option)});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_THAT(p.readAllStandardOutput().toStdString(), ::testing::HasSubstr(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Options, WithoutDisplay,
                         ::testing::Values(OptionCase{"--help", "--can <BACKEND[:INTERFACE]>"},
                                           OptionCase{"-h", "--record <FILE>"},
                                           OptionCase{"--version", "Tervix 2.3\n"}));

} // namespace
