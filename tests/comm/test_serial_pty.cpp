// The serial adapter link against a peer on the master side of a
// pseudo-terminal mapped to a COM number.
#include "MyComm.h"
#include "fakes.h"
#include "pty_pair.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/fsuid.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <memory>

using ::testing::ElementsAre;

namespace {

constexpr int kWaitMs = 20000; // generous: the machine may be busy

using Bytes = std::vector<uint8_t>;

struct Pty : PtyPair {
    void Write(const Bytes& b) const { ASSERT_EQ(::write(master, b.data(), b.size()), ssize_t(b.size())); }
    // Reads what the port under test wrote, waiting (with the event loop
    // running) until `n` bytes came.
    Bytes Read(std::size_t n) const
    {
        Bytes got;
        (void)QTest::qWaitFor(
            [&] {
                uint8_t buf[256];
                const ssize_t r = ::read(master, buf, sizeof buf);
                if (r > 0)
                    got.insert(got.end(), buf, buf + r);
                return got.size() >= n;
            },
            kWaitMs);
        return got;
    }
};

Bytes Text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

class PtyTest : public ::testing::Test {
protected:
    PtyTest()
    {
        ports = NoSerialPorts();
        ports.addMapping(QStringLiteral("5=") + peer.path);
        ports.addMapping(QStringLiteral("7=") + other.path);
        usb = std::make_unique<TUSB2CAN>(std::make_unique<FakeDriver>(log), clock);
        usb->SetBitrate(0x0014); // open, so that a send goes straight to the driver
        clock.Advance(TUSB2CAN::kSettleWait);
        usb->Tick();
        comm = std::make_unique<TComm>(*usb, ports);
        comm->SetOnFrame([this](TComm* sender, int slot) {
            auto v = sender->Slot(slot).View();
            seen.emplace_back(v.begin(), v.end());
        });
    }

    void SetUp() override { ASSERT_FALSE(peer.path.isEmpty() || other.path.isEmpty()) << "openpty failed"; }

    bool WaitForMessages(std::size_t n)
    {
        return QTest::qWaitFor([&] { return seen.size() >= n; }, kWaitMs);
    }

    Pty peer;
    Pty other;
    ComPortMap ports;
    CallLog log;
    tervix::ManualClock clock;
    std::unique_ptr<TUSB2CAN> usb;
    std::unique_ptr<TComm> comm;
    FakeChoiceBox portBox;
    FakeChoiceBox speedBox;
    std::vector<Bytes> seen;
};

TEST_F(PtyTest, ProbingListsFreeAndHeldPortsAndSkipsMissingOnes)
{
    QSerialPort holder; // another program holding COM7
    holder.setPortName(other.path);
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite)) << holder.errorString().toStdString();

    comm->InitLists(portBox, speedBox);
    EXPECT_THAT(portBox.items, ElementsAre("USB", "COM5", "COM7"));
    EXPECT_EQ(portBox.tips[1], peer.path);
    EXPECT_EQ(portBox.currentText(), "USB");
    EXPECT_EQ(comm->ComNumber(), 0);
    EXPECT_FALSE(comm->Serial().isOpen()); // the probe closed COM5 again

    // The held port cannot be picked.
    EXPECT_EQ(portBox.UserSelects("COM7").error(), "ie_Open - device already open\nCOM7 (" +
                                                       other.path.toStdString() +
                                                       "): held by another program");
    EXPECT_FALSE(comm->Timer().isActive());
}

// Before, a port the user may not open was listed as "already open".
TEST_F(PtyTest, PortWithoutPermissionIsListedAndPickingItSaysWhatIsWrong)
{
    ASSERT_EQ(::fchmod(peer.slave, 0600), 0);
    // As an ordinary user: root may open anything. The file-system user id
    // is the one opens are checked against.
    const int was = setfsuid(65534);
    struct Restore {
        int uid;
        ~Restore() { setfsuid(static_cast<uid_t>(uid)); }
    } restore{was};

    comm->InitLists(portBox, speedBox);
    EXPECT_THAT(portBox.items, ElementsAre("USB", "COM5", "COM7"));
    const tervix::Status picked = portBox.UserSelects("COM5");
    EXPECT_EQ(picked.error(),
              (serial_texts::NoPermission(peer.path) + "\nCOM5 (" + peer.path + ")").toStdString());
    EXPECT_THAT(picked.error(), ::testing::HasSubstr("dialout"));
    EXPECT_FALSE(comm->Timer().isActive());
}

TEST_F(PtyTest, PeerFramesAndTextArriveAndSentFramesReachPeer)
{
    comm->InitLists(portBox, speedBox);
    std::vector<std::string> frames; // each slot's frame, or "text"
    comm->SetOnFrame([&](TComm* sender, int slot) {
        const tervix::ReceiveSlot& s = sender->Slot(slot);
        seen.emplace_back(s.View().begin(), s.View().end());
        frames.push_back(s.isFrame ? FrameText(s.frame) : "text");
        EXPECT_EQ(s.at, clock.Now()); // the time of the read
    });
    ASSERT_TRUE(portBox.UserSelects("COM5").ok());
    ASSERT_TRUE(comm->Serial().isOpen());
    EXPECT_EQ(comm->ComNumber(), 5);
    EXPECT_TRUE(comm->Timer().isActive());
    EXPECT_FALSE(speedBox.enabled);
    EXPECT_THAT(comm->InfoText().toStdString(), ::testing::HasSubstr("open"));
    EXPECT_EQ(comm->Serial().port().baudRate(), 57600);

    Bytes stream{0x7E, 0x02, 0xE0, 0x20, 0x05, 0x00};
    for (const Bytes& part :
         {Text("OK\r"), Text(std::string(300, 'x') + "\r"), Text("AB"), Bytes{0x7E, 0x00, 0x00, 0x20}})
        stream.insert(stream.end(), part.begin(), part.end());
    peer.Write(stream);
    ASSERT_TRUE(WaitForMessages(5)) << seen.size();
    EXPECT_THAT(seen, ElementsAre(Bytes{0x7E, 0x02, 0xE0, 0x20, 0x05, 0x00}, Text("OK\r"),
                                  Text(std::string(256, 'x')), Text("AB"), Bytes{0x7E, 0x00, 0x00, 0x20}));
    EXPECT_THAT(frames, ElementsAre("701 l2 05 00", "text", "text", "text", "001 l0"));

    EXPECT_TRUE(comm->SendFrame(Frame(0x605, {0x40, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00})).ok());
    EXPECT_TRUE(comm->SendFrame(Frame(0x000, {})).ok());
    const Bytes expected{0x7E, 0x08, 0xC0, 0xA0, 0x40, 0x00, 0x10, 0x00,
                         0x00, 0x00, 0x00, 0x00, 0x7E, 0x00, 0x00, 0x00};
    EXPECT_EQ(peer.Read(expected.size()), expected);
}

TEST_F(PtyTest, BurstLargerThanInputBufferArrivesWholeAndInOrder)
{
    comm->InitLists(portBox, speedBox);
    ASSERT_TRUE(portBox.UserSelects("COM5").ok());
    constexpr int kFrames = 3000; // 18 kB, several times the input buffer
    Bytes stream;
    for (int n = 0; n < kFrames; ++n)
        stream.insert(stream.end(), {0x7E, 0x02, 0x30, 0x20, uint8_t(n), uint8_t(n >> 8)});
    std::size_t sent = 0;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const ssize_t r = ::write(peer.master, stream.data() + sent, stream.size() - sent);
            if (r > 0)
                sent += std::size_t(r);
            return sent == stream.size();
        },
        kWaitMs));
    ASSERT_TRUE(WaitForMessages(kFrames)) << seen.size();
    int wrong = 0;
    for (int n = 0; n < kFrames; ++n)
        wrong += seen[std::size_t(n)] != Bytes{0x7E, 0x02, 0x30, 0x20, uint8_t(n), uint8_t(n >> 8)};
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(seen.size(), std::size_t(kFrames));
}

TEST_F(PtyTest, FrameSplitAcrossPollsIsDeliveredOnceWhenComplete)
{
    comm->InitLists(portBox, speedBox);
    ASSERT_TRUE(portBox.UserSelects("COM5").ok());
    comm->Timer().stop(); // the test runs the polls
    auto arrive = [&](const Bytes& b) {
        peer.Write(b);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return comm->Serial().port().bytesAvailable() >= qint64(b.size()); }, kWaitMs));
        comm->Timer().tick();
    };
    arrive({0x7E, 0x03});
    arrive({0x00, 0x20, 0x01});
    EXPECT_TRUE(seen.empty());
    arrive({0x02, 0x03, 'O'});
    EXPECT_THAT(seen, ElementsAre(Bytes{0x7E, 0x03, 0x00, 0x20, 0x01, 0x02, 0x03}));
    arrive({'K', 0x0D});
    EXPECT_THAT(seen.back(), ElementsAre('O', 'K', 0x0D));
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(PtyTest, SwitchingToUsbClosesThePortAndSendsGoToTheChannel)
{
    comm->InitLists(portBox, speedBox);
    QSignalSpy events(comm.get(), &TComm::connectionEvent);
    ASSERT_TRUE(portBox.UserSelects("COM5").ok());
    ASSERT_TRUE(portBox.UserSelects("USB").ok());
    EXPECT_FALSE(comm->Serial().isOpen());
    // Both ends of the port's use are in the log.
    ASSERT_EQ(events.count(), 2);
    EXPECT_EQ(events[0].at(0).toString(), QStringLiteral("COM5 (%1) opened").arg(peer.path));
    EXPECT_EQ(events[1].at(0).toString(), QStringLiteral("COM5 (%1) closed").arg(peer.path));
    EXPECT_TRUE(comm->SendFrame(Frame(0x001, {})).ok());
    EXPECT_THAT(log, ::testing::Contains("write 001 l0"));

    // The port is free again for another program.
    QSerialPort other;
    other.setPortName(peer.path);
    EXPECT_TRUE(other.open(QIODevice::ReadWrite));
}

TEST_F(PtyTest, PeerGoneClosesPortSoSendsReportNotOpen)
{
    comm->InitLists(portBox, speedBox);
    ASSERT_TRUE(portBox.UserSelects("COM5").ok());
    QSignalSpy info(comm.get(), &TComm::infoChanged);
    ::close(peer.slave); // as an unplugged converter: the device goes away
    peer.slave = -1;
    ::close(peer.master);
    peer.master = -1;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !comm->Serial().isOpen(); }, kWaitMs));
    EXPECT_GE(info.count(), 1);
    EXPECT_EQ(comm->SendFrame(Frame(0x001, {})).error(), "ie_NOpen - device not open");
}

// Held by another program, then let go: picking the port again opens it.
// Held is the holder's lock file, or the device's exclusive flag, which binds
// an ordinary user only: the test drops root's CAP_SYS_ADMIN meanwhile.
enum class Holder { LockFile, ExclusiveFlag };

struct WithoutAdminCapability {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
    bool ok = syscall(SYS_capget, &header, saved) == 0 && Drop();
    bool Drop()
    {
        __user_cap_data_struct caps[2] = {saved[0], saved[1]};
        caps[CAP_TO_INDEX(CAP_SYS_ADMIN)].effective &= ~CAP_TO_MASK(CAP_SYS_ADMIN);
        return syscall(SYS_capset, &header, caps) == 0;
    }
    ~WithoutAdminCapability()
    {
        if (ok)
            syscall(SYS_capset, &header, saved);
    }
};

class HeldPort : public PtyTest, public ::testing::WithParamInterface<Holder> {};

TEST_P(HeldPort, OpensWhenPickedAgainAfterTheHolderLetGo)
{
    const WithoutAdminCapability user;
    ASSERT_TRUE(user.ok);
    comm->InitLists(portBox, speedBox);
    QSignalSpy events(comm.get(), &TComm::connectionEvent);
    QSerialPort lockHolder(peer.path);
    const int flagHolder = ::open(peer.path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_TRUE(GetParam() == Holder::LockFile ? lockHolder.open(QIODevice::ReadWrite)
                                               : ::ioctl(flagHolder, TIOCEXCL) == 0);
    EXPECT_FALSE(portBox.UserSelects("COM5").ok());
    lockHolder.close();
    ::ioctl(flagHolder, TIOCNXCL);
    ::close(flagHolder);
    EXPECT_TRUE(portBox.UserSelects("COM5").ok());
    EXPECT_TRUE(comm->Serial().isOpen());
    ASSERT_EQ(events.count(), 2);
    EXPECT_THAT(events[0].at(0).toString().toStdString(), ::testing::EndsWith("held by another program"));
    EXPECT_EQ(events[1].at(0).toString(), QStringLiteral("COM5 (%1) opened").arg(peer.path));
}

INSTANTIATE_TEST_SUITE_P(Holders, HeldPort, ::testing::Values(Holder::LockFile, Holder::ExclusiveFlag));

TEST_F(PtyTest, BlockLargerThanOutputBufferIsRefused)
{
    comm->InitLists(portBox, speedBox);
    ASSERT_TRUE(portBox.UserSelects("COM5").ok());
    EXPECT_EQ(comm->Serial().write(Bytes(SerialLink::kBufferSize + 1, 0x55)).error(),
              "Output buffer too small for block");
}

} // namespace
