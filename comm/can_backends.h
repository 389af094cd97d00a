// Choosing the USB channel's driver from `--can BACKEND[:INTERFACE]`:
//   pcan-light[:LIBRARY]   the PCAN-USB vendor library, loaded at run time
//                          (pcan_usb.dll on Windows; on Linux give its path)
//   PLUGIN:INTERFACE       any Qt SerialBus plugin, e.g. peakcan:usb0,
//                          socketcan:can0, virtualcan:can0
//   sim[:OPTIONS]          the simulated weighing node inside the program,
//                          e.g. sim:node=3,rate=125,units=2
//   replay:FILE[,speed=N]  a recorded trace (candump, PEAK TRC, Vector ASC)
//                          played as if from the bus, N times faster than
//                          recorded (0: all at once)
#pragma once

#include "can_driver.h"
#include "clock.h"

#include <QString>

#include <memory>

// pcan-light on Windows, socketcan:can0 elsewhere.
QString DefaultCanOption();

// The driver for `option`, or null with *error saying why (unknown back-end,
// missing interface). A driver whose library or device turns out to be
// missing is still returned: its calls fail and its status says so.
std::unique_ptr<CanDriver> MakeCanDriver(const QString& option, QString* error = nullptr,
                                         tervix::Clock& clock = tervix::DefaultClock());

// Whether `option` names the simulated node.
bool IsSimulatedOption(const QString& option);
