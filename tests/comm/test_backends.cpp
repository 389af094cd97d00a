// Choosing a driver from `--can`, and the vendor library loaded at run time.
#include "can_backends.h"
#include "fakes.h"
#include "serialbus_driver.h"
#include "usb2can.h"

#include "pcan_usb.h"

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
    EXPECT_EQ(driver.init(0x001C), DriverResult::Missing);
    EXPECT_EQ(driver.write(tervix::BusFrame{}), DriverResult::Missing);
    EXPECT_EQ(driver.close(), DriverResult::Missing);
    ReceivedFrame f;
    EXPECT_EQ(driver.read(f), DriverResult::Missing);

    // Through the channel: a send says that the library is missing, and
    // nothing is received.
    tervix::ManualClock clock;
    TUSB2CAN channel(std::make_unique<PcanLightDriver>(QStringLiteral("/nonexistent/libpcan.so")), clock);
    int received = 0;
    channel.SetOnReceive([&](TUSB2CAN*, const tervix::BusFrame&) { ++received; });
    EXPECT_THAT(channel.WriteFrame(Frame(0x001, {})).error(),
                ::testing::HasSubstr("driver library not found"));
    clock.Advance(TUSB2CAN::kSettleWait);
    channel.Poll();
    EXPECT_EQ(received, 0);
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_THAT(channel.StatusText().toStdString(), ::testing::HasSubstr("not found"));
}

class PcanLightLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lib.load()) << lib.errorString().toStdString();
        log = reinterpret_cast<const char* (*)()>(lib.resolve("FakePcan_Log"));
        queue = reinterpret_cast<void (*)(uint32_t, uint32_t, uint8_t, uint8_t, const uint8_t*)>(
            lib.resolve("FakePcan_Queue"));
        ASSERT_TRUE(log && queue);
    }

    const QString path = QStringLiteral(TERVIX_FAKE_PCAN);
    QLibrary lib{path};
    const char* (*log)() = nullptr;
    void (*queue)(uint32_t result, uint32_t id, uint8_t msgType, uint8_t len, const uint8_t* data) = nullptr;
};

TEST_F(PcanLightLibrary, BindsTheFourFunctionsAndTranslatesRecords)
{
    tervix::ManualClock clock;
    std::unique_ptr<CanDriver> driver = MakeCanDriver(QStringLiteral("pcan-light:") + path);
    ASSERT_NE(driver, nullptr);
    TUSB2CAN channel(std::move(driver), clock);
    QSignalSpy status(&channel, &TUSB2CAN::statusChanged);
    EXPECT_THAT(channel.StatusText().toStdString(), ::testing::HasSubstr("driver loaded"));

    EXPECT_TRUE(channel.WriteFrame(Frame(0x605, {0x01, 0x02})).ok());
    EXPECT_STREQ(log(), "init 28 0;"); // the frame waits for the driver to settle
    clock.Advance(TUSB2CAN::kSettleWait);
    channel.Poll();
    EXPECT_STREQ(log(), "init 28 0;write 1541 t0 2;");
    EXPECT_THAT(channel.StatusText().toStdString(), ::testing::HasSubstr("open at 500Kbit"));
    EXPECT_GE(status.count(), 1);

    const uint8_t data[8] = {9, 8, 7, 6, 5, 4, 3, 2};
    queue(0, 0x185, 0x00, 4, data);
    queue(0, 0x80, 0x80, 4, data);     // a status record: an error frame
    queue(0, 0x1ABCDE, 0x02, 2, data); // extended
    queue(0, 0x123, 0x01, 0, data);    // remote
    queue(0x20, 0, 0, 0, data);        // empty queue
    queue(0, 0x186, 0x00, 1, data);
    std::vector<std::string> got;
    channel.SetOnReceive([&](TUSB2CAN*, const tervix::BusFrame& f) { got.push_back(FrameText(f)); });
    channel.Poll();
    EXPECT_THAT(got, ::testing::ElementsAre("185 l4 09 08 07 06", "1ABCDE ext l2 09 08", "123 rtr l0"));
    EXPECT_EQ(channel.ErrorFrames(), 1u);
    channel.Poll();
    EXPECT_EQ(got.back(), "186 l1 09");

    // A failed read with a length above 8: the library cannot receive at
    // this rate, and the channel closes.
    queue(0x40, 0, 0, 0xFF, data);
    channel.Poll();
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_THAT(std::string(log()), ::testing::EndsWith("close;"));
}

} // namespace
