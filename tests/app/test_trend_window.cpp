// The trend window against the simulated node inside the program: the real
// window, transport and USB channel, the clock stepped by hand. What the
// window judges and exports is held to the frames it received, taken from a
// recording of the same run.
#include "monitor.h"
#include "recording_message_sink.h"
#include "sim_channel.h"
#include "trend_plot.h"
#include "trend_window.h"
#include "unit_list.h"

#include "MyComm.h"
#include "no_serial_ports.h"
#include "recorder.h"

#include <QDoubleSpinBox>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <map>

using namespace std::chrono_literals;

namespace {

class TrendOnSimulatedNode : public ::testing::Test {
protected:
    void SetUp() override
    {
        SimChannel channel = MakeSimChannel({}, clock);
        ASSERT_TRUE(channel.usb);
        node = channel.node;
        usb = std::move(channel.usb);
        form = std::make_unique<TForm1>(sink, clock, TForm1::Adapters{usb.get(), NoSerialPorts()});
        form->Comm()->Timer().stop();
    }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }

    // Lets `d` pass as the event loop would: poll ticks every 3 ms, the
    // watchdog every 2 s (it starts the node), and the trend window's
    // refresh every 100 ms while it is open.
    void Run(std::chrono::milliseconds d)
    {
        for (auto t = 0ms; t < d; t += 3ms) {
            clock.Advance(3ms);
            elapsed_ += 3ms;
            form->Comm()->Timer().tick();
            if (elapsed_ % 2000ms < 3ms && form->WatchdogTimerActive())
                form->WatchdogTimerTick();
            if (elapsed_ % TTrendWindow::kRefreshInterval < 3ms && Trend() && Trend()->isVisible())
                Trend()->Refresh();
        }
    }
    TTrendWindow* Trend() const { return form->TrendWindow(); }
    std::uint32_t Tpdo1Count() const { return form->Decoder().Count(tervix::kTpdo1); }
    QString Cell(QTableWidget* table, int row, int column) const
    {
        const QTableWidgetItem* item = table->item(row, column);
        return item ? item->text() : QStringLiteral("<none>");
    }
    void SetLimit(double divisions)
    {
        Trend()->findChild<QDoubleSpinBox*>("StabilityLimit")->setValue(divisions);
    }
    // Runs until the capture waiting has ended; false after `most`.
    bool RunUntilCaptured(std::chrono::milliseconds most, std::chrono::milliseconds* took = nullptr)
    {
        auto t = 0ms;
        for (; Trend()->CaptureWaiting() && t < most; t += 30ms)
            Run(30ms);
        if (took)
            *took = t;
        return !Trend()->CaptureWaiting();
    }

    tervix::ManualClock clock;
    RecordingMessageSink sink;
    tervix::sim::SimulatedUnit* node = nullptr;
    std::unique_ptr<TUSB2CAN> usb;
    std::unique_ptr<TForm1> form;
    QTemporaryDir dir;

private:
    std::chrono::milliseconds elapsed_{0};
};

// Each unit's TPDO1 values in a candump recording, in the order received.
std::map<unsigned, std::vector<double>> RecordedTpdo1(const QString& path, unsigned node)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    std::map<unsigned, std::vector<double>> values;
    const QString prefix = QStringLiteral("%1#").arg(0x180 + node, 3, 16, QLatin1Char('0')).toUpper();
    while (!file.atEnd()) {
        const QStringList words = QString::fromLatin1(file.readLine()).trimmed().split(u' ');
        if (words.size() != 3 || words[1] != QStringLiteral("rx") || !words[2].startsWith(prefix))
            continue;
        const QByteArray data = QByteArray::fromHex(words[2].mid(prefix.size()).toLatin1());
        if (data.size() < 7)
            continue;
        std::uint32_t raw = 0;
        for (int i = 0; i < 4; ++i)
            raw |= std::uint32_t(std::uint8_t(data[i])) << (8 * i);
        values[std::uint8_t(data[6])].push_back(std::bit_cast<float>(raw));
    }
    return values;
}

TEST_F(TrendOnSimulatedNode, PanelFiguresAreThoseOfTheFramesInTheWindow)
{
    const QString recording = dir.filePath(QStringLiteral("run.log"));
    ASSERT_TRUE(form->StartRecording(recording));
    form->OpenTrend();
    ASSERT_TRUE(Trend()->ChooseUnits(QStringLiteral("0-3")));
    Run(5500ms);
    Trend()->Refresh();
    form->FrameRecorder()->Stop();

    const auto recorded = RecordedTpdo1(recording, form->Decoder().NodeNumber());
    QTableWidget* panel = Trend()->StabilityTable();
    ASSERT_EQ(panel->rowCount(), 4);
    for (int row = 0; row < 4; ++row) {
        const unsigned unit = panel->item(row, TTrendWindow::kUnitColumn)->text().toUInt();
        const auto frames =
            static_cast<std::size_t>(Cell(panel, row, TTrendWindow::kFramesColumn).toULongLong());
        // Two seconds of a unit sending every 100 ms, both ends included.
        EXPECT_GE(frames, 20u) << "unit " << unit;
        EXPECT_LE(frames, 21u) << "unit " << unit;
        const std::vector<double>& all = recorded.at(unit);
        ASSERT_GE(all.size(), frames);
        // Two passes over the newest `frames` values received.
        const std::vector<double> window(all.end() - static_cast<std::ptrdiff_t>(frames), all.end());
        double sum = 0;
        for (double v : window)
            sum += v;
        const double mean = sum / double(window.size());
        double squares = 0;
        for (double v : window)
            squares += (v - mean) * (v - mean);
        const double deviation = std::sqrt(squares / double(window.size() - 1));
        ASSERT_GT(deviation, 0);

        const double shownMean = panel->item(row, TTrendWindow::kMeanColumn)->data(Qt::UserRole).toDouble();
        const double shownDeviation =
            panel->item(row, TTrendWindow::kDeviationColumn)->data(Qt::UserRole).toDouble();
        EXPECT_NEAR(shownMean, mean, 1e-6 * std::abs(mean)) << "unit " << unit;
        EXPECT_NEAR(shownDeviation, deviation, 1e-6 * deviation) << "unit " << unit;
        // The text says the same number.
        EXPECT_NEAR(Cell(panel, row, TTrendWindow::kMeanColumn).toDouble(), mean, 1e-4) << "unit " << unit;
    }
    EXPECT_TRUE(sink.messages.empty());
}

// The simulated units wander by about 3 divisions of 0.001 (standard
// deviation over 2 s: noise behind the filter, and a slow drift), so under
// the default limit of 0.5 division they are never stable; the stable
// captures below run with a limit of 10 divisions.
TEST_F(TrendOnSimulatedNode, CaptureWaitsUntilTheUnitIsStableOrGivesUpAtItsTimeOut)
{
    Run(2500ms); // the watchdog starts the node
    form->OpenTrend(2);
    SetLimit(10);
    Trend()->findChild<QLineEdit*>("CaptureReference")->setText(QStringLiteral("120"));
    Trend()->findChild<QLineEdit*>("CaptureNote")->setText(QStringLiteral("centre"));

    // Nothing kept yet: it waits for a full window of stable frames.
    Trend()->CaptureClick();
    ASSERT_TRUE(Trend()->CaptureWaiting());
    EXPECT_TRUE(Trend()->CaptureButton()->text().startsWith(QStringLiteral("Waiting for unit 2")));
    std::chrono::milliseconds took{};
    ASSERT_TRUE(RunUntilCaptured(5s, &took));
    EXPECT_GE(took, 2000ms);
    EXPECT_EQ(Trend()->CaptureButton()->text(), QStringLiteral("Capture (F9)"));

    // A second loading, stable at once.
    Trend()->CaptureClick();
    EXPECT_FALSE(Trend()->CaptureWaiting());

    // Under the default limit the unit never settles: the capture is taken
    // at the time-out and marked so.
    SetLimit(0.5);
    Trend()->findChild<QLineEdit*>("CaptureReference")->clear();
    Trend()->CaptureClick();
    ASSERT_TRUE(RunUntilCaptured(12s, &took));
    EXPECT_GE(took, 9900ms);

    const std::vector<tervix::CaptureRow>& rows = Trend()->Sheet().Rows();
    ASSERT_EQ(rows.size(), 3u);
    for (const tervix::CaptureRow& row : rows) {
        EXPECT_EQ(row.unit, 2u);
        EXPECT_GE(row.frames, 20u);
        EXPECT_NEAR(row.mean, node->Unit(2)->Gross(), 0.05);
    }
    EXPECT_TRUE(rows[0].stable && rows[1].stable);
    EXPECT_FALSE(rows[2].stable);
    EXPECT_EQ(rows[0].reference, 120.0);
    EXPECT_EQ(rows[0].note, "centre");
    EXPECT_FALSE(rows[2].reference);

    QTableWidget* sheet = Trend()->SheetTable();
    ASSERT_EQ(sheet->rowCount(), 3);
    EXPECT_EQ(Cell(sheet, 0, 6), QStringLiteral("yes"));
    EXPECT_EQ(Cell(sheet, 2, 6), QStringLiteral("no (timed out)"));
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$")).match(Cell(sheet, 0, 0)).hasMatch());
    // One group per reference mass: the two loadings of 120, and the one without.
    QTableWidget* summary = Trend()->SummaryTable();
    ASSERT_EQ(summary->rowCount(), 2);
    EXPECT_EQ(Cell(summary, 0, 2), QStringLiteral("2"));
    EXPECT_NEAR(Cell(summary, 0, 5).toDouble(), (rows[0].mean + rows[1].mean) / 2, 1e-4);
    EXPECT_NEAR(Cell(summary, 0, 6).toDouble(), (rows[0].mean + rows[1].mean) / 2 - 120, 1e-4);
    EXPECT_EQ(Cell(summary, 1, 1), QStringLiteral("none"));
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(TrendOnSimulatedNode, KeepsFramesOnlyWhileOpen)
{
    Run(2500ms);
    auto* button = form->findChild<QPushButton*>("btTrend");
    EXPECT_FALSE(button->isVisibleTo(form.get())); // on the "CAN Data" page only
    form->findChild<QTabWidget*>("PageControl2")->setCurrentWidget(form->findChild<QWidget*>("DataSheet"));
    ASSERT_TRUE(button->isVisibleTo(form.get()));
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(Trend() && Trend()->isVisible());
    EXPECT_EQ(Trend()->Units(), std::vector<unsigned>{0}); // the data page's unit
    Run(1000ms);
    const std::size_t open = Trend()->Store().PointCount();
    EXPECT_GE(open, 9u);
    Trend()->close();
    Run(1000ms);
    EXPECT_EQ(Trend()->Store().PointCount(), open);
    form->OpenTrend(3);
    Run(1000ms);
    EXPECT_EQ(Trend()->Units(), (std::vector<unsigned>{0, 3}));
    EXPECT_GE(Trend()->Store().Series(0).Size(), open + 9);
    EXPECT_GE(Trend()->Store().Series(3).Size(), 9u);
}

QStringList Lines(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.endsWith(QStringLiteral("\r\n")));
    return text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

TEST_F(TrendOnSimulatedNode, ExportsAreCsvWithDotDecimalsAndThePlotAPng)
{
    // Commas on the screen, dots in the files.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Run(2500ms);
    const std::uint32_t before = Tpdo1Count();
    form->OpenTrend(1);
    ASSERT_TRUE(Trend()->ChooseUnits(QStringLiteral("0-3")));
    Run(3000ms);
    SetLimit(10);
    Trend()->findChild<QLineEdit*>("CaptureReference")->setText(QStringLiteral("110,5"));
    Trend()->findChild<QLineEdit*>("CaptureNote")->setText(QStringLiteral("left, then right"));
    Trend()->CaptureClick();
    ASSERT_TRUE(RunUntilCaptured(3s));
    const std::uint32_t received = Tpdo1Count() - before;
    EXPECT_TRUE(Cell(Trend()->StabilityTable(), 1, TTrendWindow::kMeanColumn).contains(u','));

    const QRegularExpression number(QStringLiteral("^-?\\d+(\\.\\d+)?$"));
    const QString trendPath = dir.filePath(QStringLiteral("trend.csv"));
    ASSERT_TRUE(Trend()->ExportTrend(trendPath));
    const QStringList trend = Lines(trendPath);
    ASSERT_FALSE(trend.isEmpty());
    EXPECT_EQ(trend[0], QStringLiteral("time_s,unit,value,status"));
    EXPECT_EQ(static_cast<std::uint32_t>(trend.size() - 1), received); // every TPDO1 since opening
    for (qsizetype i = 1; i < trend.size(); ++i) {
        const QStringList f = trend[i].split(u',');
        ASSERT_EQ(f.size(), 4) << trend[i].toStdString();
        EXPECT_TRUE(number.match(f[0]).hasMatch() && number.match(f[2]).hasMatch()) << trend[i].toStdString();
        const unsigned unit = f[1].toUInt();
        ASSERT_LT(unit, 4u);
        EXPECT_NEAR(f[2].toDouble(), 100.0 + 10.0 * unit, 1.0) << trend[i].toStdString();
    }

    const QString sheetPath = dir.filePath(QStringLiteral("sheet.csv"));
    ASSERT_TRUE(Trend()->ExportSheet(sheetPath));
    const QStringList sheet = Lines(sheetPath);
    ASSERT_EQ(sheet.size(), 2);
    EXPECT_EQ(sheet[0], QStringLiteral("time,unit,frames,mean,standard_deviation,reference,note,stable"));
    const QStringList row = sheet[1].split(u',');
    ASSERT_EQ(row.size(), 9); // the note's comma is inside its quotes
    EXPECT_EQ(row[1], QStringLiteral("1"));
    EXPECT_TRUE(number.match(row[3]).hasMatch() && number.match(row[4]).hasMatch()) << sheet[1].toStdString();
    EXPECT_EQ(row[5], QStringLiteral("110.5"));
    EXPECT_EQ(row[6] + u',' + row[7], QStringLiteral("\"left, then right\""));
    EXPECT_EQ(row[8], QStringLiteral("yes"));

    const QString png = dir.filePath(QStringLiteral("plot.png"));
    ASSERT_TRUE(Trend()->SavePlot(png));
    const QImage image(png);
    EXPECT_EQ(image.size(), Trend()->Plot()->size() * Trend()->Plot()->devicePixelRatio());

    QString error;
    EXPECT_FALSE(Trend()->ExportSheet(dir.filePath(QStringLiteral("missing/sheet.csv")), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("missing/sheet.csv")));
    EXPECT_TRUE(sink.messages.empty());
}

// The plot keeps the columns it reckoned and reckons only what a move of the
// view brings: after each step of a live view, or a scroll back, its image
// must equal that of a plot drawn anew at the same view.
struct PlotMove {
    const char* name;
    std::vector<std::pair<int, int>> steps; // ms of new points, then ms the view end moves (negative: back)
};

void PrintTo(const PlotMove& m, std::ostream* os)
{
    *os << m.name;
}

class PlotColumns : public ::testing::TestWithParam<PlotMove> {};

TEST_P(PlotColumns, KeptColumnsDrawAsColumnsReckonedAnew)
{
    tervix::TrendStore store;
    store.Choose(0, true);
    store.Choose(5, true);
    std::int64_t fed = 0; // ms
    auto feed = [&](int ms) {
        for (const std::int64_t end = fed + ms; fed < end; fed += 7) {
            const float wave = float(std::sin(double(fed) / 300.0));
            store.Add({0, 100.0f + wave, 0}, tervix::TimePoint(std::chrono::milliseconds(fed)));
            store.Add({5, 99.0f - wave * 2, 0}, tervix::TimePoint(std::chrono::milliseconds(fed + 3)));
        }
    };
    const std::vector<TTrendPlot::Curve> curves = {{0, Qt::blue}, {5, Qt::red}};
    const QDateTime wall(QDate(2026, 12, 9), QTime(8, 0));
    TTrendPlot live(store);
    live.SetCurves(curves);
    live.SetWallClock(tervix::TimePoint{}, wall);
    live.resize(400, 200);
    live.show(); // lays the plot area out at its size
    feed(12000);
    std::int64_t end = fed;
    live.Show(tervix::TimePoint(std::chrono::milliseconds(end)), 10s);
    for (const auto& [newPoints, move] : GetParam().steps) {
        feed(newPoints);
        end += move;
        const tervix::TimePoint at{std::chrono::milliseconds(end)};
        live.Show(at, 10s);
        TTrendPlot anew(store);
        anew.SetCurves(curves);
        anew.SetWallClock(tervix::TimePoint{}, wall);
        anew.resize(400, 200);
        anew.show();
        anew.Show(at, 10s);
        ASSERT_EQ(live.ViewTo(), anew.ViewTo());
        const QImage a = live.grab().toImage(), b = anew.grab().toImage();
        QRect differs;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                if (a.pixel(x, y) != b.pixel(x, y))
                    differs |= QRect(x, y, 1, 1);
        EXPECT_TRUE(differs.isNull()) << "view end " << end << " ms: pixels differ in " << differs.x() << ','
                                      << differs.y() << ' ' << differs.width() << 'x' << differs.height();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Moves, PlotColumns,
    ::testing::Values(PlotMove{"WithinTheLastColumn", {{5, 5}, {9, 9}, {1, 1}}},
                      PlotMove{"ByColumnsAsFramesCome", {{100, 100}, {30, 30}, {1000, 1000}}},
                      PlotMove{"PausedAndScrolledBack", {{0, -1500}, {0, -37}, {0, 800}}},
                      PlotMove{"ByMoreThanTheSpan", {{15000, 15000}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct UnitListCase {
    const char* text;
    std::optional<std::vector<unsigned>> units;
    const char* formatted; // how the chooser shows it again
};

class UnitListTest : public ::testing::TestWithParam<UnitListCase> {};

TEST_P(UnitListTest, ReadsAndShowsAgain)
{
    const UnitListCase& c = GetParam();
    const auto units = tervix::ParseUnitList(c.text, tervix::kTrendUnits);
    EXPECT_EQ(units, c.units);
    if (units) {
        EXPECT_EQ(tervix::FormatUnitList(*units), c.formatted);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, UnitListTest,
    ::testing::Values(UnitListCase{"0-3,7", std::vector<unsigned>{0, 1, 2, 3, 7}, "0-3,7"},
                      UnitListCase{" 9 8  8,10 ", std::vector<unsigned>{8, 9, 10}, "8-10"},
                      UnitListCase{"5,6,60-63", std::vector<unsigned>{5, 6, 60, 61, 62, 63}, "5,6,60-63"},
                      UnitListCase{"", std::vector<unsigned>{}, ""}, UnitListCase{"64", std::nullopt, ""},
                      UnitListCase{"3-1", std::nullopt, ""}, UnitListCase{"1-", std::nullopt, ""},
                      UnitListCase{"a", std::nullopt, ""}, UnitListCase{"2--3", std::nullopt, ""}));

} // namespace
