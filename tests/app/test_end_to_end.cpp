// The whole program against the simulated weighing node: the real window,
// transport and USB channel over the in-program node, its clock stepped by
// hand. The node is the reference: what the window shows is held to what the
// node holds.
#include "data_page.h"
#include "sim_channel.h"
#include "log_view.h"
#include "monitor.h"
#include "parameter_pages.h"
#include "recording_message_sink.h"
#include "unit_box.h"

#include "MyComm.h"
#include "number_text.h"
#include "no_serial_ports.h"
#include "sim_driver.h"
#include "status_texts.h"
#include "usb2can.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <map>
#include <set>

using namespace std::chrono_literals;
using tervix::sim::Group;

namespace {

// Parameter pages as plain cells: what the read-all stores and marks.
class CellPages final : public tervix::ParameterPages {
public:
    std::array<int, 4> cells{16, 8, 12, 6};
    std::map<std::pair<int, int>, std::int32_t> values;
    std::vector<std::pair<int, int>> failed;

    int CellCount(int page) const override { return cells[static_cast<std::size_t>(page) & 3]; }
    bool StoreValue(int page, int sub, std::int32_t v) override
    {
        if (sub < 1 || sub > CellCount(page))
            return false;
        values[{page, sub}] = v;
        return true;
    }
    bool MarkFailed(int page, int sub) override
    {
        if (sub < 1 || sub > CellCount(page))
            return false;
        failed.emplace_back(page, sub);
        return true;
    }
    bool EnableEdit(int, int) override { return true; }
};

class WindowOnSimulatedNode : public ::testing::Test {
protected:
    void Start(const std::string& options = {})
    {
        SimChannel channel = MakeSimChannel(options, clock);
        ASSERT_TRUE(channel.usb);
        node = channel.node;
        usb = std::move(channel.usb);
        form = std::make_unique<TForm1>(sink, clock, TForm1::Adapters{usb.get(), NoSerialPorts()});
        form->Comm()->Timer().stop();
        form->SetParameterPages(&pages);
    }

    // Lets `d` pass as the event loop would: poll ticks every 3 ms, the
    // window's guard and watchdog timers when they run.
    void Run(std::chrono::milliseconds d)
    {
        for (auto t = 0ms; t < d; t += 3ms) {
            clock.Advance(3ms);
            elapsed_ += 3ms;
            form->Comm()->Timer().tick();
            if (elapsed_ % 300ms < 3ms && form->GuardTimerActive())
                form->GuardTimerTick();
            if (elapsed_ % 2000ms < 3ms && form->WatchdogTimerActive())
                form->WatchdogTimerTick();
        }
        form->RefreshNow();
    }
    QString Shown(const char* name) const { return form->findChild<QLineEdit*>(name)->text(); }
    std::uint32_t Tpdo1Count() const { return form->Decoder().Count(tervix::kTpdo1); }

    tervix::ManualClock clock;
    RecordingMessageSink sink;
    CellPages pages;
    tervix::sim::SimulatedUnit* node = nullptr;
    std::unique_ptr<TUSB2CAN> usb;
    std::unique_ptr<TForm1> form;

private:
    std::chrono::milliseconds elapsed_{0};
};

TEST_F(WindowOnSimulatedNode, WatchdogWakesTheNodeAndEveryUnitShowsItsWeight)
{
    Start();
    Run(2500ms);  // the watchdog's first tick finds no process data and starts the node
    ASSERT_EQ(node->State(), tervix::sim::NmtState::Operational);
    Run(1000ms);
    for (unsigned unit = 0; unit < 4; ++unit) {
        const double gross = node->Unit(unit)->Gross();
        const double shown = form->UnitBox(static_cast<int>(unit))->ValueEdit()->text().toDouble();
        EXPECT_NEAR(shown, gross, 1.0) << "unit " << unit;
    }
    EXPECT_TRUE(form->UnitBox(4)->ValueEdit()->text().isEmpty());
    EXPECT_NEAR(Shown("edbxGross1").toDouble(), node->Unit(0)->Gross(), 1.0);
    // The count shows as of the selected unit's last frame: the others of
    // that cycle may have come after it.
    EXPECT_GE(Shown("edbxTPDO1count").toUInt() + 3, Tpdo1Count());
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(WindowOnSimulatedNode, StoppedByAnotherMasterTheWatchdogStartsItAgainButNotAfterNmtStop)
{
    Start();
    form->btNMT_StartClick();
    Run(500ms);
    node->Receive(tervix::MakeFrame(0x000, std::array<std::uint8_t, 2>{0x02, 0x01}), clock.Now());
    Run(4500ms);
    EXPECT_EQ(node->State(), tervix::sim::NmtState::Operational);

    form->btNMT_StopClick();
    Run(100ms);
    const std::uint32_t counted = Tpdo1Count();
    Run(6000ms);
    EXPECT_EQ(node->State(), tervix::sim::NmtState::Stopped);
    EXPECT_EQ(Tpdo1Count(), counted);
}

TEST_F(WindowOnSimulatedNode, SilentUnitLosesItsValueWhileTheOthersGoOn)
{
    Start("silent=2");
    form->btNMT_StartClick();
    Run(2000ms);
    EXPECT_TRUE(form->UnitBox(2)->ValueEdit()->text().isEmpty());
    for (int unit : {0, 1, 3})
        EXPECT_FALSE(form->UnitBox(unit)->ValueEdit()->text().isEmpty()) << unit;
}

TEST_F(WindowOnSimulatedNode, ReadAllFillsEveryPageFromTheNodeAndFailsARowItLacks)
{
    Start();
    pages.cells[0] = 17;  // the Standard group has 16 sub-indices
    for (int page = 0; page < 4; ++page) {
        form->StartReadAll(page);
        Run(200ms);
        EXPECT_EQ(form->Decoder().ReadAllCount(), 0u) << "page " << page << " still reading";
    }
    const Group groups[] = {Group::Standard, Group::Trigger, Group::Filling, Group::MassFlow};
    const int rows[] = {16, 8, 12, 6};
    // Gross, net, status and flow move while the page is read.
    const std::set<std::pair<int, int>> live = {{0, 11}, {0, 12}, {0, 16}, {3, 5}, {3, 6}};
    for (int page = 0; page < 4; ++page) {
        for (int sub = 1; sub <= rows[page]; ++sub) {
            if (live.contains({page, sub}) || (page == 0 && sub == 15))
                continue;
            EXPECT_EQ(pages.values[std::pair(page, sub)],
                      node->Unit(0)->Read(groups[page], static_cast<std::uint8_t>(sub)))
                << "page " << page << " sub " << sub;
        }
    }
    // Sub 15 of the Standard group is write-only; sub 17 does not exist.
    EXPECT_EQ(pages.failed, (std::vector<std::pair<int, int>>{{0, 15}, {0, 17}}));
    EXPECT_TRUE(sink.messages.empty());
}

// What a command's answer shows in "value": a fixed text, a status text, or
// the float at a data byte of the answer (read back from the frame's own log
// line, a second reading of the same bytes).
struct CommandCase {
    const char* name;
    std::uint8_t command;  // RPDO2
    const char* text;      // exact text, or null
    int floatAt;           // data byte of the float, when text is null
};

class Tpdo3Answers : public WindowOnSimulatedNode, public ::testing::WithParamInterface<CommandCase> {};

float FloatInLogLine(const QString& line, int firstDataByte)
{
    const QStringList bytes = line.section(QStringLiteral("Data= "), 1).split(u' ', Qt::SkipEmptyParts);
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
        u |= std::uint32_t(bytes.value(firstDataByte + i).toUInt(nullptr, 16)) << (8 * i);
    return std::bit_cast<float>(u);
}

TEST_P(Tpdo3Answers, ReachTheDataPage)
{
    const CommandCase& c = GetParam();
    Start();
    form->btNMT_StartClick();
    Run(300ms);
    form->Decoder().SendRpdo(2, std::uint32_t(c.command) << 16);
    Run(30ms);
    ASSERT_EQ(Shown("edbxTPDO3count"), "1");
    const std::string expected =
        c.text ? c.text : tervix::FixedText(FloatInLogLine(Shown("edbxTPDO3"), c.floatAt), 6, 3).value_or("?");
    EXPECT_EQ(Shown("edbxValue3").toStdString(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, Tpdo3Answers,
    ::testing::Values(CommandCase{"Done", 0x01, "** OK **", 0},
                      CommandCase{"UnknownCommand", 0x77, "** NOT_IMPLEMENTED **", 0},
                      CommandCase{"PointWithoutCalibration", 0x21, "** CAL_NOT_OPEN **", 0},
                      CommandCase{"Gross", 0x0A, nullptr, 4}, CommandCase{"Net", 0x0B, nullptr, 4},
                      CommandCase{"Tare", 0x0C, nullptr, 4}, CommandCase{"Flow", 0x0D, nullptr, 4},
                      CommandCase{"Maximum", 0x0E, nullptr, 4}, CommandCase{"Minimum", 0x0F, nullptr, 4},
                      CommandCase{"CalibrationGain", 0x11, nullptr, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// Parameter answers by process data go to the page the code names.
TEST_F(WindowOnSimulatedNode, ParameterAnswersByProcessDataFillTheirPages)
{
    Start();
    form->btNMT_StartClick();
    Run(300ms);
    const struct {
        std::uint8_t command;
        int page;
        Group group;
        std::uint8_t sub;
    } reads[] = {{0x10, 0, Group::Standard, 1}, {0x1F, 0, Group::Standard, 16}, {0x21, 1, Group::Trigger, 2},
                 {0x3B, 2, Group::Filling, 12}, {0x45, 3, Group::MassFlow, 6}};
    for (const auto& r : reads) {
        form->Decoder().SendRpdo(3, std::uint32_t(r.command) << 16);
        Run(30ms);
        EXPECT_EQ(pages.values[std::pair(r.page, int(r.sub))], node->Unit(0)->Read(r.group, r.sub))
            << int(r.command);
    }
}

TEST_F(WindowOnSimulatedNode, SearchFindsTheNodeAtItsRate)
{
    Start("node=1,rate=125");
    form->btFindClick();
    Run(6000ms);
    EXPECT_EQ(form->findChild<QComboBox*>("cbxCANaddr")->currentText(), "1");
    EXPECT_EQ(form->findChild<QComboBox*>("cbxCANspeed")->currentText(), "125Kbit");
}

// The window on a serial CAN adapter: tervix-sim on a pseudo-terminal,
// reached through a link that stays at one path, mapped to COM5.
class SerialLinkToSimulatedNode : public ::testing::Test {
protected:
    SerialLinkToSimulatedNode()
    {
        link = dir.filePath(QStringLiteral("sim-pty"));
        ComPortMap ports = NoSerialPorts();
        ports.addMapping(QStringLiteral("5=") + link);
        usb = std::make_unique<TUSB2CAN>(std::make_unique<SimDriver>(tervix::sim::SimOptions{}, clock), clock);
        StartSim();
        form = std::make_unique<TForm1>(sink, clock, TForm1::Adapters{usb.get(), ports});
        form->Comm()->Timer().stop();
        form->SetParameterPages(&pages);
        auto* portBox = form->findChild<QComboBox*>(QStringLiteral("cbxAdaptorPort"));
        portBox->setCurrentIndex(portBox->findText(QStringLiteral("COM5")));
        EXPECT_TRUE(form->Comm()->PortChange().ok());
        form->Comm()->Timer().stop();
    }
    ~SerialLinkToSimulatedNode() override { StopSim(); }

    void StartSim()
    {
        sim = std::make_unique<QProcess>();
        sim->start(QStringLiteral(TERVIX_SIM_PATH), {QStringLiteral("--pty"), QStringLiteral("--link"), link});
        ASSERT_TRUE(sim->waitForStarted(5000));
        ASSERT_TRUE(sim->waitForReadyRead(5000)) << sim->readAllStandardError().toStdString();
        ASSERT_TRUE(sim->readLine().startsWith("/dev/pts/"));
    }
    void StopSim()
    {
        if (!sim)
            return;
        sim->terminate();
        sim->waitForFinished(5000);
        sim.reset();
    }
    // Polls (real time: the peer is another process) until `done` or 10 s.
    bool PollUntil(const std::function<bool()>& done)
    {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < 10000) {
            form->Comm()->Serial().port().waitForReadyRead(20);
            clock.Advance(20ms);
            QCoreApplication::processEvents();
            form->Comm()->Timer().tick();
        }
        return done();
    }
    bool Logged(const char* words) const
    {
        for (std::size_t i = 0; i < form->Log()->LineCount(); ++i)
            if (form->Log()->Line(i).find(words) != std::string::npos)
                return true;
        return false;
    }

    QTemporaryDir dir;
    QString link;
    std::unique_ptr<QProcess> sim;
    tervix::ManualClock clock;
    RecordingMessageSink sink;
    CellPages pages;
    std::unique_ptr<TUSB2CAN> usb;
    std::unique_ptr<TForm1> form;
};

TEST_F(SerialLinkToSimulatedNode, ReadAllFillsThePage)
{
    ASSERT_EQ(form->Comm()->ComNumber(), 5);
    form->StartReadAll(1);  // Trigger: 8 rows
    EXPECT_TRUE(PollUntil([&] { return form->Decoder().ReadAllCount() == 0; }));
    EXPECT_EQ(pages.values.size(), 8u);
    EXPECT_TRUE(pages.failed.empty());
    EXPECT_EQ(form->Decoder().Count(tervix::kTsdo), 8u);
}

// The peer goes away: one message and a log line; the window stays usable,
// a user's send says what is wrong, the timers' sends are only counted; the
// peer comes back at the same path and the port reopens by itself.
TEST_F(SerialLinkToSimulatedNode, LostPeerIsReportedOnceAndReopensWhenBack)
{
    ASSERT_TRUE(Logged("COM5"));  // opened
    StopSim();
    EXPECT_TRUE(PollUntil([&] { return Logged("lost"); }));
    auto aboutTheLoss = [&] {
        form->ShowPendingMessages();
        return std::count_if(sink.messages.begin(), sink.messages.end(), [](const RecordedMessage& m) {
            return m.text.contains(QStringLiteral("COM5")) && m.text.contains(QStringLiteral("lost"));
        });
    };
    EXPECT_EQ(aboutTheLoss(), 1);

    form->btNMT_StartClick(); // the user's click says why it failed; the timer's do not
    for (int i = 0; i < 5; ++i)
        form->WatchdogTimerTick();
    EXPECT_EQ(form->Comm()->TimerSendFailures(), 5);
    EXPECT_EQ(aboutTheLoss(), 1);
    EXPECT_EQ(std::count_if(sink.messages.begin(), sink.messages.end(),
                            [](const RecordedMessage& m) { return m.text.contains(QStringLiteral("not open")); }),
              1);

    StartSim();
    EXPECT_TRUE(PollUntil([&] { return Logged("back, reopened"); }));
    EXPECT_EQ(form->Comm()->TimerSendFailures(), 0);
    form->StartReadAll(3);  // Mass Flow: 6 rows
    EXPECT_TRUE(PollUntil([&] { return form->Decoder().ReadAllCount() == 0; }));
    EXPECT_EQ(pages.values.size(), 6u);
}

} // namespace
