// Listening only, the window puts nothing on the bus whatever is asked of
// it, and says so once; asking a node that never answers is said in "Comm
// Info", the status bar and one log line until the node is heard.
#include "data_page.h"
#include "log_view.h"
#include "no_serial_ports.h"
#include "replay_driver.h"
#include "status_bar.h"
#include "window_on_fake_driver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using tervix::BusFrame;
using tervix::MakeFrame;

namespace {

struct WindowAction {
    const char* name;
    std::function<void(TForm1&)> act;
};

// Everything in the window that would put a frame on the bus.
const WindowAction kSendingActions[] = {
    {"NMT Start", [](TForm1& f) { f.btNMT_StartClick(); }},
    {"NMT Stop", [](TForm1& f) { f.btNMT_StopClick(); }},
    {"Run Nodeguard", [](TForm1& f) { f.DataPage()->GuardBox()->setChecked(true); }},
    {"SDO read", [](TForm1& f) { f.SdoRead(0x10180100); }},
    {"SDO write", [](TForm1& f) { f.SdoWrite(0x21000100, 5); }},
    {"page Read", [](TForm1& f) { f.StartReadAll(0); }},
    {"device search", [](TForm1& f) { f.btFindClick(); }},
    {"watchdog tick", [](TForm1& f) { f.WatchdogTimerTick(); }},
    {"guard tick", [](TForm1& f) { f.GuardTimerTick(); }},
};

class ListenOnly : public WindowOnFakeDriver {
protected:
    std::size_t Writes() const
    {
        return std::size_t(std::count_if(log.begin(), log.end(),
                                          [](const std::string& call) { return call.rfind("write", 0) == 0; }));
    }
    std::size_t LogLinesWith(const QString& text) const
    {
        return std::size_t(form->Log()->Text().count(text));
    }
};

TEST_F(ListenOnly, NothingGoesOutAndTheFirstRefusalSaysWhyInABoxTheRestInTheLog)
{
    QCheckBox* box = Find<QCheckBox>("cbListenOnly");
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(box, Qt::LeftButton);
    ASSERT_TRUE(form->ListenOnly());
    EXPECT_FALSE(form->WatchdogTimerActive());
    EXPECT_FALSE(form->GuardTimerActive());

    for (const WindowAction& action : kSendingActions) {
        action.act(*form);
        for (int i = 0; i < 5; ++i)
            Elapse(300ms);
        form->RefreshNow();
        form->ShowPendingMessages();
        EXPECT_EQ(Writes(), 0u) << action.name;
        EXPECT_FALSE(form->GuardTimerActive()) << action.name;
        EXPECT_FALSE(form->DataPage()->GuardBox()->isChecked()) << action.name;
    }
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, QString::fromLatin1(TForm1::kListenOnlyText));
    // Each later action that would have sent says it once more in the log.
    EXPECT_GE(LogLinesWith(QString::fromLatin1(TForm1::kListenOnlyText)), std::size(kSendingActions) - 3);
    EXPECT_TRUE(form->StatusBar()->ListenOnlyLabel()->isVisibleTo(form->StatusBar()));
    EXPECT_TRUE(form->CommInfoLabel()->text().contains(QStringLiteral("listen only")));

    // Unticked, the same window sends again: the watchdog runs as at start.
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_TRUE(form->WatchdogTimerActive());
    form->btNMT_StartClick();
    Elapse(TUSB2CAN::kSettleWait); // the first frame opens the channel
    EXPECT_EQ(Writes(), 1u);
    EXPECT_EQ(log.back(), "write 000 l2 01 01");
}

// The node in "CAN Addr" (1) is asked by guarding; what the bus brings
// decides whether "no answer" is said.
struct AnswerCase {
    const char* name;
    bool guarding;                    // asked every 300 ms, first at 300 ms
    std::optional<unsigned> beating;  // this node's heartbeat every 500 ms from 1.5 s
    bool noAnswer;                    // said 2 s after the first request
};

class NoAnswer : public ListenOnly, public ::testing::WithParamInterface<AnswerCase> {
protected:
    tervix::TimePoint start_{};
};

TEST_P(NoAnswer, IsSaidTwoSecondsAfterAnUnansweredRequestOnceAndClearedByTheNode)
{
    const AnswerCase& c = GetParam();
    const QString text = QStringLiteral("no answer from node 1 at 500 kbit/s");
    // Another master stops the node: the watchdog's NMT Start would ask it too.
    form->btNMT_StopClick();
    if (c.guarding)
        form->DataPage()->GuardBox()->setChecked(true);
    const auto run = [&](std::chrono::milliseconds d) {
        for (auto t = 0ms; t < d; t += 100ms) {
            clock.Advance(100ms);
            const auto since = clock.Now() - start_;
            if (c.beating && since >= 1500ms && since % 500ms == 0ms)
                driver->QueueFrame(MakeFrame(0x700 + *c.beating, std::array<std::uint8_t, 1>{0x05}));
            Tick();
            if (since % 300ms == 0ms && form->GuardTimerActive())
                form->GuardTimerTick();
            form->RefreshNow();
        }
    };
    start_ = clock.Now();
    run(2200ms);
    EXPECT_FALSE(form->NoAnswer());
    run(200ms);
    EXPECT_EQ(form->NoAnswer(), c.noAnswer);
    EXPECT_EQ(form->CommInfoLabel()->text().contains(text), c.noAnswer);
    EXPECT_EQ(form->StatusBar()->NoticeLabel()->text() == text, c.noAnswer);
    run(3000ms);
    EXPECT_EQ(LogLinesWith(text), c.noAnswer ? 1u : 0u);
    if (!c.noAnswer)
        return;
    // The node's next frame clears it at once.
    driver->QueueFrame(MakeFrame(0x181, std::array<std::uint8_t, 8>{}));
    Tick();
    EXPECT_FALSE(form->NoAnswer());
    EXPECT_FALSE(form->CommInfoLabel()->text().contains(text));
    form->RefreshNow();
    EXPECT_TRUE(form->StatusBar()->NoticeLabel()->text().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Window, NoAnswer,
    ::testing::Values(AnswerCase{"GuardedNodeSilent", true, std::nullopt, true},
                      AnswerCase{"GuardedNodeHeardWithinTwoSeconds", true, 1u, false},
                      AnswerCase{"OnlyAnotherNodeHeard", true, 2u, true},
                      AnswerCase{"NotAskedIdleBusIsNoFault", false, std::nullopt, false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

namespace {

// A replay listens only, shows the frames the recording sent as Tx lines
// and says in the caption and status bar what it plays and how far it is.
class ReplayWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = QDir(dir_.path()).filePath(QStringLiteral("bench.log"));
        QFile file(path_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("(1700000000.000000) rx 701#00\n"             // boot-up
                   "(1700000000.100000) tx 000#0101\n"           // NMT Start, sent by the recording tool
                   "(1700000000.200000) rx 701#05\n"             // heartbeat: operational
                   "(1700000000.300000) rx 081#1081110102030405\n" // EMCY 8110
                   "(1700000002.000000) rx 701#05\n");
        file.close();
        auto driver = std::make_unique<ReplayDriver>(path_, 1.0, clock);
        replay = driver.get();
        usb = std::make_unique<TUSB2CAN>(std::move(driver), clock);
        TForm1::Adapters adapters{usb.get(), NoSerialPorts()};
        adapters.replay = replay;
        form = std::make_unique<TForm1>(sink, clock, std::move(adapters));
        form->Comm()->Timer().stop();
    }
    void Run(std::chrono::milliseconds d)
    {
        for (auto t = 0ms; t < d; t += 10ms) {
            clock.Advance(10ms);
            form->Comm()->Timer().tick();
        }
        form->RefreshNow();
    }
    std::vector<QString> Directions() const
    {
        std::vector<QString> rows;
        for (std::size_t row = 0; row < form->Log()->LineCount(); ++row)
            if (form->Log()->RowText(row).contains(QStringLiteral("addr=")))
                rows.push_back(form->Log()->DirectionText(row));
        return rows;
    }

    QTemporaryDir dir_;
    QString path_;
    tervix::ManualClock clock;
    RecordingMessageSink sink;
    ReplayDriver* replay = nullptr;
    std::unique_ptr<TUSB2CAN> usb;
    std::unique_ptr<TForm1> form;
};

TEST_F(ReplayWindow, ListensOnlyShowsSentFramesAsTxAndCanPauseAndRestart)
{
    EXPECT_TRUE(form->ListenOnly());
    EXPECT_FALSE(form->ListenOnlyBox()->isEnabled());
    EXPECT_FALSE(form->WatchdogTimerActive());
    Run(1200ms);
    EXPECT_EQ(replay->FramesPlayed(), 4u);
    EXPECT_EQ(Directions(), (std::vector<QString>{"Rx", "Tx", "Rx", "Rx"}));
    const tervix::NodeRecord* node = form->Nodes().Find(1);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->state, tervix::NmtState::Operational);
    ASSERT_NE(node->LastEmergency(), nullptr);
    EXPECT_EQ(node->LastEmergency()->code, 0x8110);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Tervix - V2.3 - replay of bench.log (15 %)"));
    EXPECT_EQ(form->StatusBar()->AdapterLabel()->text(),
              QStringLiteral("Replay of bench.log: 0.3 of 2.0 s, frame 4 of 5"));

    // Paused, nothing more plays however long it waits; resumed, the rest
    // follows at the recorded pace; restarted, it plays from the first frame.
    QTest::mouseClick(form->ReplayPauseButton(), Qt::LeftButton);
    Run(5000ms);
    EXPECT_EQ(replay->FramesPlayed(), 4u);
    EXPECT_TRUE(form->windowTitle().endsWith(QStringLiteral(", paused")));
    QTest::mouseClick(form->ReplayPauseButton(), Qt::LeftButton);
    Run(1500ms);
    EXPECT_EQ(replay->FramesPlayed(), 5u);
    EXPECT_TRUE(form->StatusBar()->AdapterLabel()->text().endsWith(QStringLiteral("(ended)")));
    QTest::mouseClick(form->ReplayRestartButton(), Qt::LeftButton);
    Run(150ms);
    EXPECT_EQ(replay->FramesPlayed(), 2u);
    EXPECT_TRUE(sink.messages.empty());
}

} // namespace
