// Settings that stay from one window to the next, in a settings file in a
// temporary folder (QSettings::setPath), and none without settings.
#include "app_settings.h"
#include "data_page.h"
#include "log_toolbar.h"
#include "log_view.h"
#include "monitor.h"
#include "recording_message_sink.h"
#include "trend_window.h"

#include "MyComm.h"
#include "fakes.h"
#include "no_serial_ports.h"
#include "pty_pair.h"
#include "usb2can.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>

namespace {

// One run of the program as main makes it: the settings (none: a window
// that is never handed any), then the window on a scripted USB driver.
struct Session {
    Session(std::optional<AppSettings::Store> store, ComPortMap ports, QString files)
        : settings(store.value_or(AppSettings::Store::None)), files(std::move(files))
    {
        usb = std::make_unique<TUSB2CAN>(std::make_unique<FakeDriver>(log), clock);
        form = std::make_unique<TForm1>(sink, clock, TForm1::Adapters{usb.get(), std::move(ports)});
        form->Comm()->Timer().stop();
        if (store)
            form->UseSettings(&settings);
        form->show();
    }
    QComboBox* Box(const char* name) const { return form->findChild<QComboBox*>(QString::fromLatin1(name)); }
    void Pick(const char* box, const QString& text) const // as the user does
    {
        Box(box)->setCurrentIndex(Box(box)->findText(text));
        emit Box(box)->activated(Box(box)->currentIndex());
    }
    TTrendWindow* Trend() const
    {
        form->OpenTrend();
        return form->TrendWindow();
    }

    AppSettings settings;
    QString files; // where the rows write their files
    CallLog log;
    tervix::ManualClock clock;
    RecordingMessageSink sink;
    std::unique_ptr<TUSB2CAN> usb;
    std::unique_ptr<TForm1> form;
};

struct Row {
    const char* name;
    std::function<void(Session&)> change;
    std::function<QString(Session&)> read;
    QString kept;          // what the second window reads
    bool portGone = false; // the second session has no COM5
    QString line = {};     // a line of the second window's log; %1: COM5's device
};

QString Join(std::initializer_list<QVariant> values)
{
    QStringList texts;
    for (const QVariant& v : values)
        texts << v.toString();
    return texts.join(u' ');
}

// The folder the trend window's export offers, and the file it is answered.
QString ExportFolder(Session& s, const QString& answer)
{
    QString offered;
    s.Trend()->SetFileAsker([&](const QString&, const QString& suggested, const QString&) {
        offered = suggested;
        return answer;
    });
    s.Trend()->findChild<QPushButton*>(QStringLiteral("TrendExport"))->click();
    return QFileInfo(offered).dir().dirName();
}

QString Port(Session& s)
{
    return Join({s.Box("cbxAdaptorPort")->currentText(), s.form->Comm()->ComNumber()});
}

const Row kRows[] = {
    {"Port", [](Session& s) { s.Pick("cbxAdaptorPort", "COM5"); }, Port, "COM5 5", false, "COM5 (%1) opened"},
    {"PortThatIsGone", [](Session& s) { s.Pick("cbxAdaptorPort", "COM5"); }, Port, "USB 0", true,
     "Port COM5 of the last session is not there; using USB"},
    // 0x011C: BTR0/BTR1 of 250 kbit/s on the adapter's 16 MHz clock.
    {"Speed", [](Session& s) { s.Pick("cbxCANspeed", "250Kbit"); },
     [](Session& s) {
         return Join({s.Box("cbxCANspeed")->currentText(), QString::number(s.usb->BitrateCode(), 16)});
     },
     "250Kbit 11c", false, "USB bit rate set to 250 kbit/s"},
    {"NodeAndUnit",
     [](Session& s) {
         s.Box("cbxCANaddr")->setCurrentIndex(5);
         s.form->DataPage()->UnitAddressBox()->setEditText("40");
     },
     [](Session& s) {
         return Join({s.form->Decoder().NodeNumber(), s.form->Decoder().UnitAddress()});
     },
     "5 40"},
    // Function codes 11 and 12 (SDO answers and requests) left out.
    {"LogTimeColumnAndFilter",
     [](Session& s) {
         auto* bar = s.form->findChild<LogToolBar*>();
         bar->ClockTimeBox()->setChecked(true);
         bar->NodeBox()->setValue(3);
         bar->GroupAction(3)->setChecked(false);
     },
     [](Session& s) {
         const LogView::Filter& f = s.form->Log()->CurrentFilter();
         return Join({s.form->Log()->ClockTime(), f.node, QString::number(f.kinds, 16)});
     },
     "true 3 3e7ff"},
    {"WindowGeometryAndPage",
     [](Session& s) {
         s.form->setGeometry(30, 40, 950, 640);
         s.form->findChild<QTabWidget*>("PageControl2")->setCurrentIndex(0);
     },
     [](Session& s) {
         auto* pages = s.form->findChild<QTabWidget*>("PageControl2");
         const QRect g = s.form->geometry();
         return Join({g.x(), g.y(), g.width(), g.height(), pages->tabText(pages->currentIndex())});
     },
     "30 40 950 640 Communication"},
    {"TrendChoicesAndExportFolder",
     [](Session& s) {
         s.Trend()->ChooseUnits("2-4");
         s.Trend()->findChild<QComboBox*>("TrendSpan")->setCurrentIndex(1);
         s.Trend()->findChild<QDoubleSpinBox*>("StabilityLimit")->setValue(2.5);
         s.Trend()->SetDivision(3, 0.5);
         QDir(s.files).mkpath("exports");
         ExportFolder(s, s.files + "/exports/t.csv");
     },
     [](Session& s) {
         return Join({s.Trend()->findChild<QLineEdit*>("TrendUnits")->text(),
                      s.Trend()->findChild<QComboBox*>("TrendSpan")->currentText(),
                      s.Trend()->Settings(3).stableLimit, s.Trend()->Settings(3).division,
                      ExportFolder(s, {})});
     },
     "2-4 1 min 2.5 0.5 exports"},
};

class SettingsRestart : public ::testing::TestWithParam<std::tuple<Row, bool>> {
protected:
    SettingsRestart() { QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path()); }
    void SetUp() override { ASSERT_FALSE(pty.path.isEmpty()) << "openpty failed"; }

    Session& Start(std::optional<AppSettings::Store> store, bool withCom5 = true)
    {
        ComPortMap ports = NoSerialPorts();
        if (withCom5)
            ports.addMapping(QStringLiteral("5=") + pty.path);
        session.reset(); // the previous run ends first, as a program does
        session = std::make_unique<Session>(store, std::move(ports), files.path());
        return *session;
    }

    QTemporaryDir home;
    QTemporaryDir files;
    PtyPair pty;
    std::unique_ptr<Session> session;
};

// Kept, a second window reads what the first was changed to, or says what it
// left out. Without settings (--no-settings) it reads as a window that never
// had any, and nothing is written. A first start reads so either way.
TEST_P(SettingsRestart, ComeBackInTheNextSessionOnlyWhenKept)
{
    const auto& [row, kept] = GetParam();
    const AppSettings::Store store = kept ? AppSettings::Store::Platform : AppSettings::Store::None;
    const QString today = row.read(Start(std::nullopt));
    Session& first = Start(store);
    EXPECT_EQ(row.read(first), today) << "the first start differs";
    row.change(first);
    first.form->close();
    Session& second = Start(store, !row.portGone);
    EXPECT_EQ(row.read(second), kept ? row.kept : today);
    if (!row.line.isEmpty()) {
        EXPECT_EQ(second.form->Log()->Text().contains(row.line.arg(pty.path)), kept);
    }
    second.form->close();
    EXPECT_EQ(QDirIterator(home.path(), QDir::Files, QDirIterator::Subdirectories).hasNext(), kept);
}

INSTANTIATE_TEST_SUITE_P(Rows, SettingsRestart,
                         ::testing::Combine(::testing::ValuesIn(kRows), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "" : "WithoutSettings");
                         });

} // namespace
