#pragma once
// The serial ports of this machine as `tarnlink-cli ports` lists them, and what a station
// needs to know of a port: which adapter it is and whether a board is plugged in there.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace tarnlink {

struct SerialPortInfo {
    std::string name;          ///< "ttyUSB0", "COM3"
    std::string devicePath;    ///< "/dev/ttyUSB0", "COM3"
    std::string driver;        ///< "ftdi_sio", "cdc_acm", "serial", ...
    std::string vendorId;      ///< USB only: "0403"
    std::string productId;     ///< USB only: "6001"
    std::string serialNumber;  ///< USB only, where the device has one
    std::string product;       ///< USB only: the product string (Windows: the port's
                               ///< friendly name, for every port)
    std::string manufacturer;  ///< USB only
    int latencyTimerMs = -1;   ///< USB serial adapters that have one; -1 otherwise
};

/// True for a port on a USB adapter (a vendor id is known).
bool isUsbSerialPort(const SerialPortInfo& port);

/// "/dev/ttyUSB0 ftdi_sio 0403:6001 serial="A1B2" product="FT232R USB UART" latency_timer=16ms":
/// the device path, then whatever is known.
std::string formatSerialPort(const SerialPortInfo& port);

/// The port as a JSON object (`ports --json`); unknown fields are null.
nlohmann::ordered_json serialPortJson(const SerialPortInfo& port);

// --- per platform -------------------------------------------------------------------------

/// How ports are named here, for the help text: two ports as a user would give them
/// ("/dev/ttyUSB0", "/dev/ttyUSB1"; "COM3", "COM4"), the first one's device name as it goes
/// into a station's file names ("ttyUSB0", "COM3"), and the forms --port takes, in a
/// sentence and as a short list.
struct PortNameExamples {
    const char* first;
    const char* second;
    const char* deviceName;
    const char* forms;
    const char* shortForms;
};
const PortNameExamples& portNameExamples();

/// Every serial port of this machine, in natural order. On Linux read from sysfs
/// ($TARNLINK_SYSFS_ROOT, for tests, or /sys); on Windows from SetupAPI and the registry's
/// list of serial ports. Any thread.
std::vector<SerialPortInfo> availableSerialPorts();

/// The port at `devicePath`, also when the path is another name of it (a symlink such as
/// /dev/serial/by-id/...); empty when it is none of availableSerialPorts(). Looks at that
/// one port only. Any thread.
std::optional<SerialPortInfo> findSerialPort(const std::string& devicePath);

/// One text for one device however it is named, to tell two --port arguments that name the
/// same device. The path itself when it names nothing (yet).
std::string portDeviceKey(const std::string& devicePath);

/// A text that names the device present at `devicePath` right now, and that changes when
/// the device goes and another comes in its place (a board on a USB adapter plugged in
/// again); empty while nothing is there. Any thread; cheap enough to ask ten times a second.
std::string portPresence(const std::string& devicePath);

}  // namespace tarnlink
