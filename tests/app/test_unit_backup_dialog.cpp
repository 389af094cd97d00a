// Backup, compare and restore from the window against the simulated node:
// the window's own files (configuration and EDS) decide what is read, the
// file goes to disk, and the tables show what the node holds.
#include "monitor.h"
#include "parameter_sheets.h"
#include "recording_message_sink.h"
#include "sim_channel.h"
#include "unit_backup_dialog.h"

#include "MyComm.h"
#include "dcf.h"
#include "no_serial_ports.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using tervix::sim::Group;

namespace {

constexpr int kObjectColumn = 0;
constexpr int kDiffersColumn = 4;
constexpr int kResultColumn = 3;

class BackupOnSimulatedNode : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"Tervix.conf", "Quorbit.eds"})
            ASSERT_TRUE(QFile::copy(QStringLiteral(TERVIX_EXAMPLES_DIR "/") + name, dir.filePath(name)));
        SimChannel channel = MakeSimChannel({}, clock);
        node = channel.node;
        usb = std::move(channel.usb);
        const QString saved = QDir::currentPath();
        QDir::setCurrent(dir.path()); // the window reads both from the working directory
        form = std::make_unique<TForm1>(sink, clock, TForm1::Adapters{usb.get(), NoSerialPorts()});
        QDir::setCurrent(saved);
        form->Comm()->Timer().stop();
        backup = form->UnitBackup();
        path = dir.filePath(QStringLiteral("node1.dcf"));
    }

    // Polls and refreshes as the event loop would until the job has ended
    // and said so; false when it is still running after a minute.
    bool RunJob()
    {
        for (int tick = 0; tick < 20000 && backup->Running(); ++tick) {
            clock.Advance(3ms);
            form->Comm()->Timer().tick();
            if (tick % 32 == 0)
                form->RefreshNow();
        }
        QCoreApplication::processEvents();
        return !backup->Running();
    }
    void SetFilter(std::int32_t value)
    {
        TFillCell* cell = form->Parameters()->Sheet(0)->Cell(8);
        cell->ValueEdit->setText(QString::number(value));
        form->ParamSet(*cell);
        for (int i = 0; i < 20; ++i) {
            clock.Advance(3ms);
            form->Comm()->Timer().tick();
        }
        ASSERT_EQ(node->Unit(0)->Read(Group::Standard, 8), value);
    }
    // Rows shown in the results' table, as {object, column text}.
    std::vector<std::pair<QString, QString>> Shown(int column) const
    {
        const QAbstractItemModel* m = backup->Results()->Table()->model();
        std::vector<std::pair<QString, QString>> rows;
        for (int r = 0; r < m->rowCount(); ++r)
            rows.emplace_back(m->index(r, kObjectColumn).data().toString(),
                              m->index(r, column).data().toString());
        return rows;
    }
    bool Bold(int row) const
    {
        return backup->Results()
            ->Table()
            ->model()
            ->index(row, kObjectColumn)
            .data(Qt::FontRole)
            .value<QFont>()
            .bold();
    }

    QTemporaryDir dir;
    tervix::ManualClock clock;
    RecordingMessageSink sink;
    tervix::sim::SimulatedUnit* node = nullptr;
    std::unique_ptr<TUSB2CAN> usb;
    std::unique_ptr<TForm1> form;
    TUnitBackup* backup = nullptr;
    QString path;
};

TEST_F(BackupOnSimulatedNode, BackupFindsAChangedSettingAndRestoreWritesItBack)
{
    const std::int32_t filter = node->Unit(0)->Read(Group::Standard, 8);
    ASSERT_TRUE(backup->StartBackup(path, {0, 1, 2, 3}));
    // One job at a time: the buttons are off and a second start is refused.
    EXPECT_FALSE(backup->RestoreButton()->isEnabled());
    EXPECT_FALSE(backup->StartRestore(path, {}));
    EXPECT_FALSE(backup->StartBackup(dir.filePath(QStringLiteral("other.dcf")), {0}));
    ASSERT_TRUE(RunJob());
    EXPECT_TRUE(backup->RestoreButton()->isEnabled());

    std::error_code error;
    const std::optional<tervix::EdsTree> tree = tervix::ReadEdsFile(path.toStdString(), error);
    ASSERT_TRUE(tree) << error.message();
    const tervix::DcfDocument file = tervix::ReadDcf(*tree);
    for (std::uint16_t unit = 0; unit < 4; ++unit) {
        const tervix::DcfEntry* row = file.Find(static_cast<std::uint16_t>(0x2100 + unit), 8);
        ASSERT_TRUE(row && row->value) << "unit " << unit;
        EXPECT_EQ(*row->value, std::to_string(node->Unit(unit)->Read(Group::Standard, 8)));
    }
    EXPECT_EQ(file.commissioning.nodeId, 1u);

    SetFilter((filter + 1) % 10);
    ASSERT_TRUE(backup->StartCompare(path));
    ASSERT_TRUE(RunJob());
    std::vector<std::pair<QString, QString>> differs;
    for (const auto& row : Shown(kDiffersColumn))
        if (!row.second.isEmpty())
            differs.push_back(row);
    EXPECT_EQ(differs, (std::vector<std::pair<QString, QString>>{{"2100.08", "yes"}}));
    backup->Results()->SetMarkedOnly(true);
    ASSERT_EQ(Shown(kDiffersColumn).size(), 1u);
    EXPECT_TRUE(Bold(0));
    // Gross, net and the like move on their own: listed apart.
    EXPECT_GT(backup->Results()->ReadOnlyTable()->model()->rowCount(), 0);

    ASSERT_TRUE(backup->StartRestore(path, {}));
    ASSERT_TRUE(RunJob());
    backup->Results()->SetMarkedOnly(true);
    const auto verified = std::string(tervix::RestoreOutcomeText(tervix::RestoreOutcome::Verified));
    EXPECT_EQ(Shown(kResultColumn),
              (std::vector<std::pair<QString, QString>>{{"2100.08", QString::fromStdString(verified)}}));
    EXPECT_EQ(node->Unit(0)->Read(Group::Standard, 8), filter);
    form->ShowPendingMessages();
    EXPECT_TRUE(sink.messages.empty());
}

// A file of another product is refused until the user says to go on.
TEST_F(BackupOnSimulatedNode, RestoreOfAnotherProductAsksAndGoesOnWhenTold)
{
    const std::int32_t filter = node->Unit(0)->Read(Group::Standard, 8);
    ASSERT_TRUE(backup->StartBackup(path, {0}));
    ASSERT_TRUE(RunJob());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray text = file.readAll();
    file.close();
    const qsizetype product = text.indexOf("[1018sub2]");
    const qsizetype value = text.indexOf("ParameterValue=", product);
    ASSERT_TRUE(product >= 0 && value > product);
    const qsizetype end = text.indexOf('\r', value);
    text.replace(value, end - value, "ParameterValue=0x00000063");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();

    SetFilter((filter + 1) % 10);
    QStringList asked;
    backup->SetForceAsker([&](const QString& why) {
        asked << why;
        return true;
    });
    ASSERT_TRUE(backup->StartRestore(path, {}));
    RunJob(); // refused, asked, started again with force
    ASSERT_EQ(asked.size(), 1);
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(node->Unit(0)->Read(Group::Standard, 8), filter);
}

} // namespace
