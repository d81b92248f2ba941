#include "cli/ports/sysfs_ports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "tests/support/temp_dir.h"

namespace tarnlink {
namespace {

const std::string kFakeSysfs = std::string(TARNLINK_CLI_TEST_DATA) + "/sysfs";

const SerialPortInfo* findPort(const std::vector<SerialPortInfo>& ports, const std::string& name) {
    auto it = std::find_if(ports.begin(), ports.end(),
                           [&](const SerialPortInfo& p) { return p.name == name; });
    return it == ports.end() ? nullptr : &*it;
}

TEST(SysfsPortsTest, FakeTreeListsRealPortsInNaturalOrder) {
    const std::vector<SerialPortInfo> ports = listSerialPorts(kFakeSysfs);
    std::vector<std::string> names;
    for (const SerialPortInfo& p : ports) {
        names.push_back(p.name);
    }
    // ttyS1 (type 0) and ttyS2 (serial8250 placeholder) have no UART; tty0 no device.
    EXPECT_EQ(names,
              (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyS10", "ttyUSB0", "ttyUSB1"}));
}

TEST(SysfsPortsTest, UsbAdapterCarriesVendorProductSerialAndLatency) {
    const std::vector<SerialPortInfo> ports = listSerialPorts(kFakeSysfs);
    const SerialPortInfo* ftdi = findPort(ports, "ttyUSB0");
    ASSERT_NE(ftdi, nullptr);
    EXPECT_EQ(ftdi->devicePath, "/dev/ttyUSB0");
    EXPECT_EQ(ftdi->driver, "ftdi_sio");
    EXPECT_EQ(ftdi->vendorId, "0403");
    EXPECT_EQ(ftdi->productId, "6001");
    EXPECT_EQ(ftdi->serialNumber, "A10K3BQZ");
    EXPECT_EQ(ftdi->product, "FT232R USB UART");
    EXPECT_EQ(ftdi->manufacturer, "FTDI");
    EXPECT_EQ(ftdi->latencyTimerMs, 16);
    EXPECT_EQ(formatSerialPort(*ftdi),
              "/dev/ttyUSB0 ftdi_sio 0403:6001 serial=\"A10K3BQZ\" product=\"FT232R USB UART\" "
              "manufacturer=\"FTDI\" latency_timer=16ms");

    const SerialPortInfo* cp210x = findPort(ports, "ttyUSB1");
    ASSERT_NE(cp210x, nullptr);
    EXPECT_EQ(cp210x->driver, "cp210x");
    EXPECT_EQ(cp210x->vendorId, "10c4");  // sysfs case varies; shown in lower case
    EXPECT_EQ(cp210x->productId, "ea60");
    EXPECT_EQ(cp210x->serialNumber, "");
    EXPECT_EQ(cp210x->latencyTimerMs, -1);
    EXPECT_EQ(formatSerialPort(*cp210x),
              "/dev/ttyUSB1 cp210x 10c4:ea60 product=\"CP2102 USB to UART Bridge Controller\"");

    const SerialPortInfo* acm = findPort(ports, "ttyACM0");
    ASSERT_NE(acm, nullptr);
    EXPECT_EQ(acm->driver, "cdc_acm");
    EXPECT_EQ(acm->vendorId + ":" + acm->productId, "2e8a:000a");
    EXPECT_EQ(acm->serialNumber, "E6614C311B7C5A2D");
    EXPECT_EQ(acm->product, "Pico");
}

TEST(SysfsPortsTest, BuiltInUartsNameTheirRealDriverAndNoUsbFields) {
    const std::vector<SerialPortInfo> ports = listSerialPorts(kFakeSysfs);
    // Newer kernels: port and ctrl layers of serial-base sit between tty and driver.
    for (const char* name : {"ttyS0", "ttyS10"}) {
        const SerialPortInfo* uart = findPort(ports, name);
        ASSERT_NE(uart, nullptr) << name;
        EXPECT_EQ(uart->driver, "serial") << name;
        EXPECT_EQ(uart->vendorId, "") << name;
        EXPECT_EQ(uart->latencyTimerMs, -1) << name;
        EXPECT_EQ(formatSerialPort(*uart), "/dev/" + std::string(name) + " serial");
    }
}

// Adapters plugged in and pulled out while the ports are listed, over and over: the
// listing never throws, and the ports that stay are always there, once each.
TEST(SysfsPortsTest, AdaptersThatComeAndGoDuringTheListingAreSkipped) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    const fs::path root = fs::path(dir.path()) / "sysfs";
    fs::copy(kFakeSysfs, root, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    const fs::path usb = root / "devices/pci0000:00/0000:00:14.0/usb1";
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        std::error_code ignored;
        while (!stop.load()) {
            for (int i = 0; i < 8; ++i) {
                const std::string name = "1-3." + std::to_string(i);
                fs::copy(usb / "1-3", usb / name,
                         fs::copy_options::recursive | fs::copy_options::copy_symlinks, ignored);
                fs::create_directory_symlink(
                    "../../devices/pci0000:00/0000:00:14.0/usb1/" + name +
                        "/1-3:1.0/ttyUSB1/tty/ttyUSB1",
                    root / "class/tty" / ("ttyUSB" + std::to_string(20 + i)), ignored);
            }
            for (int i = 0; i < 8; ++i) {
                fs::remove_all(usb / ("1-3." + std::to_string(i)), ignored);
                fs::remove(root / "class/tty" / ("ttyUSB" + std::to_string(20 + i)), ignored);
            }
        }
    });
    for (int round = 0; round < 300; ++round) {
        std::vector<SerialPortInfo> ports;
        ASSERT_NO_THROW(ports = listSerialPorts(root.string())) << "round " << round;
        for (const char* name : {"ttyACM0", "ttyS0", "ttyS10", "ttyUSB0", "ttyUSB1"}) {
            EXPECT_EQ(std::count_if(ports.begin(), ports.end(),
                                    [&](const SerialPortInfo& p) { return p.name == name; }),
                      1)
                << name << " in round " << round;
        }
    }
    stop.store(true);
    churn.join();
}

TEST(SysfsPortsTest, MissingRootGivesNoPorts) {
    EXPECT_TRUE(listSerialPorts(kFakeSysfs + "/no-such-dir").empty());
    EXPECT_TRUE(listSerialPorts(kFakeSysfs + "/devices").empty());  // no class/tty inside
}

}  // namespace
}  // namespace tarnlink

namespace tarnlink {
namespace {

TEST(SysfsPortsTest, OnePortByItsName) {
    const std::string root = std::string(TARNLINK_CLI_TEST_DATA) + "/sysfs";
    const std::vector<SerialPortInfo> one = listSerialPorts(root, "ttyUSB0");
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].serialNumber, "A10K3BQZ");
    EXPECT_TRUE(listSerialPorts(root, "ttyS1").empty());  // no UART behind it
    EXPECT_TRUE(listSerialPorts(root, "ttyUSB9").empty());
}

}  // namespace
}  // namespace tarnlink
