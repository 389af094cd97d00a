// The USB channel over the simulated node inside the program, as the window
// tests and end-to-end tests start it: options as `--can sim:OPTIONS`.
#pragma once

#include "sim_driver.h"
#include "usb2can.h"

#include <memory>
#include <string>

struct SimChannel {
    tervix::sim::SimulatedUnit* node = nullptr;  // owned by the channel's driver
    std::unique_ptr<TUSB2CAN> usb;               // null when the options do not parse
};

inline SimChannel MakeSimChannel(const std::string& options, tervix::Clock& clock)
{
    SimChannel c;
    const auto parsed = tervix::sim::ParseSimOptions(options);
    if (!parsed)
        return c;
    auto driver = std::make_unique<SimDriver>(*parsed, clock);
    c.node = &driver->Unit();
    c.usb = std::make_unique<TUSB2CAN>(std::move(driver), clock);
    return c;
}
