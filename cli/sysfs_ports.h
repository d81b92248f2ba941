#pragma once
// The serial ports of this machine, read from sysfs: /sys/class/tty/*/device gives the
// driver, and for a USB adapter its vendor:product, serial number, product name and the
// adapter's latency timer.

#include <string>
#include <vector>

namespace tarnlink {

struct SerialPortInfo {
    std::string name;          ///< "ttyUSB0"
    std::string devicePath;    ///< "/dev/ttyUSB0"
    std::string driver;        ///< "ftdi_sio", "cdc_acm", "serial", ...
    std::string vendorId;      ///< USB only: "0403"
    std::string productId;     ///< USB only: "6001"
    std::string serialNumber;  ///< USB only, where the device has one
    std::string product;       ///< USB only: the product string
    std::string manufacturer;  ///< USB only
    int latencyTimerMs = -1;   ///< USB serial adapters that have one; -1 otherwise
};

/// Every tty under `sysfsRoot`/class/tty that has a device behind it, in natural order
/// (ttyS2 before ttyS10). Legacy ttyS entries with no UART behind them are left out:
/// their `type` reads 0 (unknown port), or, without a `type` file, their device is a
/// serial8250 placeholder. Any thread.
std::vector<SerialPortInfo> listSerialPorts(const std::string& sysfsRoot = "/sys");

/// "/dev/ttyUSB0 ftdi_sio 0403:6001 serial=A1B2 product="FT232R USB UART" latency_timer=16ms":
/// the device path, then whatever is known.
std::string formatSerialPort(const SerialPortInfo& port);

}  // namespace tarnlink
