// A configuration file that is cut short still builds the window from what
// was kept, and the window says once where the cut is.
#include "FunctionButton.h"
#include "monitor.h"
#include "parameter_sheets.h"
#include "recording_message_sink.h"
#include "sim_channel.h"

#include "MyComm.h"
#include "no_serial_ports.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct CutCase {
    const char* name;
    QByteArray text; // written to a file; empty: the file is /dev/zero
    QString message; // after the file's name; empty: no message
    QString caption5;
};

void PrintTo(const CutCase& c, std::ostream* os)
{
    *os << c.name;
}

class ConfigCut : public ::testing::TestWithParam<CutCase> {};

TEST_P(ConfigCut, WindowIsBuiltAndSaysWhereOnce)
{
    const CutCase& c = GetParam();
    QTemporaryDir dir;
    QString path = QStringLiteral("/dev/zero");
    if (!c.text.isEmpty()) {
        path = dir.filePath(QStringLiteral("Tervix.conf"));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.text);
    }
    tervix::ManualClock clock;
    RecordingMessageSink sink;
    SimChannel channel = MakeSimChannel({}, clock);
    ASSERT_TRUE(channel.usb);
    TForm1 form(sink, clock, TForm1::Adapters{channel.usb.get(), NoSerialPorts(), path.toStdString()});
    form.Comm()->Timer().stop();
    QCoreApplication::processEvents();
    form.ShowPendingMessages();

    ASSERT_NE(form.Parameters(), nullptr);
    ASSERT_NE(form.Functions(), nullptr);
    EXPECT_EQ(form.Functions()->Button(5)->text(), c.caption5);
    if (c.message.isEmpty()) {
        EXPECT_TRUE(sink.messages.empty());
    } else {
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0].text, path + QStringLiteral(" was read only in part:\n") + c.message);
    }
}

QByteArray Definitions(int count)
{
    QByteArray text = "x\nsheet Standard\nitem1=Capacity'\n[FunctionButtons]\n";
    for (int i = 0; i < count; ++i)
        text += "fbutton 5='Tare' 'Tare the scale' 'RPDO2 command 01' 01,RPDO2,\n";
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Files, ConfigCut,
    ::testing::Values(
        CutCase{"DevZero", {}, "a NUL byte at byte 1 ends the text; the rest of the file is not read", ""},
        // The caption keeps 256 times "Tare"; the description overflows first,
        // with the 252nd definition on line 256.
        CutCase{"FiftyThousandDefinitionsOfOneButton", Definitions(50000),
                "line 256: the texts of button 5 reach 1024 bytes and are cut there",
                QString(QStringLiteral("Tare")).repeated(256)},
        CutCase{"WholeFile", Definitions(1), "", "Tare"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
