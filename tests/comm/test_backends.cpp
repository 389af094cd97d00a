// Choosing a driver from `--can`, and the vendor library loaded at run time.
#include "can_backends.h"
#include "fakes.h"
#include "serialbus_driver.h"
#include "usb2can.h"

#include <QLibrary>
#include <QSignalSpy>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

struct OptionCase {
    const char* option;
    const char* kind; // "pcan", "serialbus" or "" for refused
    const char* errorPart;
};

class CanOption : public ::testing::TestWithParam<OptionCase> {};

TEST_P(CanOption, PicksBackEndOrSaysWhyNot)
{
    QString error;
    std::unique_ptr<CanDriver> driver = MakeCanDriver(QString::fromUtf8(GetParam().option), &error);
    const std::string kind = GetParam().kind;
    if (kind.empty()) {
        EXPECT_EQ(driver, nullptr);
        EXPECT_THAT(error.toStdString(), ::testing::HasSubstr(GetParam().errorPart));
        return;
    }
    ASSERT_NE(driver, nullptr) << error.toStdString();
    if (kind == "pcan")
        EXPECT_NE(dynamic_cast<PcanLightDriver*>(driver.get()), nullptr);
    else
        EXPECT_NE(dynamic_cast<SerialBusDriver*>(driver.get()), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Options, CanOption,
                         ::testing::Values(OptionCase{"pcan-light", "pcan", ""},
                                           OptionCase{"pcan-light:/nonexistent/libpcan.so", "pcan", ""},
                                           OptionCase{"virtualcan:can0", "serialbus", ""},
                                           OptionCase{"socketcan:can0", "serialbus", ""},
                                           OptionCase{"nosuchbus:can0", "", "unknown back-end 'nosuchbus'"},
                                           OptionCase{"virtualcan", "", "virtualcan:INTERFACE"},
                                           OptionCase{"virtualcan:", "", "virtualcan:INTERFACE"},
                                           OptionCase{"", "", "no back-end"}));

TEST(PcanLight, MissingLibraryFailsEveryCallAndSaysSo)
{
    PcanLightDriver driver(QStringLiteral("/nonexistent/libpcan.so"));
    EXPECT_FALSE(driver.loaded());
    EXPECT_THAT(driver.statusText().toStdString(), ::testing::HasSubstr("driver library not found"));
    EXPECT_NE(driver.init(0x001C, 0), 0u);
    EXPECT_NE(driver.write(CanFrame{}), 0u);
    EXPECT_NE(driver.close(), 0u);
    CanFrame f;
    EXPECT_NE(driver.read(f), 0u);
    EXPECT_LE(f.len, 8); // a missing adapter is not a bus error: polling just finds nothing

    // Through the channel: nothing is received and nothing is closed by Poll.
    CallLog log;
    FakeClock clock(log);
    TUSB2CAN channel(std::make_unique<PcanLightDriver>(QStringLiteral("/nonexistent/libpcan.so")), clock);
    int received = 0;
    channel.SetOnReceive([&](TUSB2CAN*, CanFrame&) { ++received; });
    channel.WriteFrame(std::vector<uint8_t>{0x7E, 0x00, 0x00, 0x20});
    channel.Poll();
    EXPECT_EQ(received, 0);
    EXPECT_TRUE(channel.IsOpen());
    EXPECT_THAT(channel.DriverStatus().toStdString(), ::testing::HasSubstr("not found"));
}

TEST(PcanLight, BindsTheFourFunctionsOfALoadedLibrary)
{
    const QString path = QStringLiteral(TERVIX_FAKE_PCAN);
    CallLog sleeps;
    FakeClock clock(sleeps);
    std::unique_ptr<CanDriver> driver = MakeCanDriver(QStringLiteral("pcan-light:") + path);
    ASSERT_NE(driver, nullptr);
    auto* backend = dynamic_cast<CanBackend*>(driver.get());
    ASSERT_NE(backend, nullptr);
    TUSB2CAN channel(std::move(driver), clock);
    QSignalSpy status(&channel, &TUSB2CAN::driverStatusChanged);
    EXPECT_THAT(channel.DriverStatus().toStdString(), ::testing::HasSubstr("driver loaded"));

    QLibrary lib(path);
    ASSERT_TRUE(lib.load());
    auto log = reinterpret_cast<const char* (*)()>(lib.resolve("FakePcan_Log"));
    auto queue = reinterpret_cast<void (*)(uint32_t, uint8_t, const uint8_t*)>(lib.resolve("FakePcan_Queue"));
    ASSERT_TRUE(log && queue);

    channel.WriteFrame(std::vector<uint8_t>{0x7E, 0x02, 0xC0, 0xA0, 0x01, 0x02});
    EXPECT_STREQ(log(), "init 28 0;write 1541 2;");
    EXPECT_THAT(channel.DriverStatus().toStdString(), ::testing::HasSubstr("open at 500Kbit"));
    EXPECT_GE(status.count(), 1);

    const uint8_t data[8] = {9, 8, 7, 6, 5, 4, 3, 2};
    queue(0x185, 4, data);
    std::vector<std::string> got;
    channel.SetOnReceive([&](TUSB2CAN*, CanFrame& f) { got.push_back(FrameText(f)); });
    channel.Poll();
    EXPECT_THAT(got, ::testing::ElementsAre("185 t0 l4 09 08 07 06"));
}

} // namespace
