// What the bus commands share: the adapter options, the bus they open and
// the loop that polls it, and how their words are split.
#pragma once

#include "bit_rates.h"
#include "can_backends.h"
#include "can_driver.h"
#include "canopen_client.h"
#include "commands.h"
#include "receive_ring.h"
#include "serial_link.h"

#include <QCoreApplication>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tervix::cli {

struct BusOptions {
    std::string can;    // --can BACKEND[:INTERFACE]; empty: --serial
    std::string serial; // --serial PATH
    unsigned kbit = 500;
    std::chrono::milliseconds timeout{1000};
    AbortOrder abortOrder = AbortOrder::Unit;
    bool json = false;

    SdoClientOptions Client() const { return {timeout, abortOrder}; }
};

extern const std::string_view kAdapterHelp;
extern const std::string_view kExitHelp;

// A decimal or 0x hexadecimal integer with an optional sign.
std::optional<long long> ParseInteger(std::string_view text);

// A CAN driver (--can) or a serial CAN adapter (--serial), read by polling.
// No settle wait after opening: the command sends at once.
class Bus {
public:
    using Handler = std::function<void(const BusFrame&, TimePoint)>;

    static std::unique_ptr<Bus> Open(const BusOptions& options, std::string* error)
    {
        auto bus = std::unique_ptr<Bus>(new Bus);
        if (!options.serial.empty()) {
            bus->serial_ = std::make_unique<SerialLink>();
            const Status opened = bus->serial_->open(QString::fromStdString(options.serial));
            if (!opened) {
                *error = opened.error();
                return nullptr;
            }
            bus->ring_.SetHandler([raw = bus.get()](int slot) {
                const ReceiveSlot& s = raw->ring_.Slot(slot);
                if (s.isFrame && raw->handler_)
                    raw->handler_(s.frame, s.at);
            });
            return bus;
        }
        QString why;
        bus->driver_ = MakeCanDriver(QString::fromStdString(options.can), &why);
        if (!bus->driver_) {
            *error = why.toStdString();
            return nullptr;
        }
        std::uint16_t code = 0;
        for (const BitRateEntry& e : kBitRates)
            if (e.bitsPerSecond == options.kbit * 1000)
                code = e.code;
        const DriverResult r = bus->driver_->init(code);
        if (r != DriverResult::Ok) {
            *error = "cannot open " + options.can + ": " + DriverResultName(r) + " (" +
                     bus->driver_->statusText().toStdString() + ")";
            return nullptr;
        }
        return bus;
    }

    Status Send(const BusFrame& frame)
    {
        if (serial_)
            return serial_->Send(frame);
        const DriverResult r = driver_->write(frame);
        if (r == DriverResult::Ok)
            return {};
        return Status::Failed(std::string("CAN_Write failed (") + DriverResultName(r) + "): " +
                              driver_->statusText().toStdString());
    }

    // Hands every frame that has arrived to `handler`.
    void Poll(const Handler& handler)
    {
        QCoreApplication::processEvents();
        if (serial_) {
            handler_ = handler;
            serial_->PollInto(ring_);
            handler_ = nullptr;
            return;
        }
        ReceivedFrame received;
        for (int n = 0; n < 4096; ++n) {
            received.at.reset();
            const DriverResult r = driver_->read(received);
            if (r == DriverResult::ErrorFrame)
                continue;
            if (r != DriverResult::Ok)
                return;
            handler(received.frame, received.at.value_or(DefaultClock().Now()));
        }
    }

private:
    Bus() = default;
    std::unique_ptr<CanDriver> driver_;
    std::unique_ptr<SerialLink> serial_;
    ReceiveRing ring_;
    Handler handler_;
};

// The bus, or nothing after saying on standard error why not.
std::unique_ptr<Bus> OpenBus(const BusOptions& options, std::string_view command, const CliStreams& io);

// Polls the bus and moves the client on until `done`, a stop signal, or the
// limit; false unless done.
bool RunUntil(Bus& bus, CanopenClient* client, const std::function<bool()>& done, std::chrono::milliseconds limit);

struct Words {
    std::vector<std::string_view> positional;
    std::optional<std::string_view> type;
    std::optional<std::string_view> eds;
    std::optional<long long> unit;
    bool help = false;
    bool listen = false;
};

// Splits the words into adapter options (into `options`), the command's own
// options and its positional words; a usage error's text in *error.
std::optional<Words> SplitWords(CommandArgs args, BusOptions& options, std::string* error);

// backup's and restore's own options.
struct UnitOptions {
    std::optional<std::string_view> units;
    std::optional<std::string_view> output;
    std::optional<std::string_view> conf;
    bool all = false;
    bool force = false;
    bool dryRun = false;
};
// backup, restore, and diff with a node number first.
bool IsUnitCommand(std::string_view command, const std::vector<std::string_view>& positional);
int RunUnitCommand(std::string_view command, const Words& w, const BusOptions& options, const UnitOptions& u,
                   const CliStreams& io);

// nodes: listens for `duration` (default a few seconds) and lists the nodes heard.
int RunNodes(const Words& w, const BusOptions& options, std::optional<std::chrono::milliseconds> duration,
             const CliStreams& io);

// 1..127, or 0 for "all" where allowed.
std::optional<unsigned> NodeNumber(std::string_view text, bool allowAll);

} // namespace tervix::cli
