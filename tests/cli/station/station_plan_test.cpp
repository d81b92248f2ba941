#include "cli/station/station_plan.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace tarnlink {
namespace {

SerialPortInfo usb(const std::string& name) {
    SerialPortInfo port;
    port.name = name;
    port.devicePath = "/dev/" + name;
    port.vendorId = "0403";
    return port;
}

SerialPortInfo uart(const std::string& name) {
    SerialPortInfo port;
    port.name = name;
    port.devicePath = "/dev/" + name;
    return port;
}

using Ports = std::vector<std::string>;

struct ChoiceCase {
    const char* name;
    Ports arguments;
    std::string environment;
    std::vector<SerialPortInfo> available;
    bool loop;
    Ports ports;  ///< expected when there is no error
    bool station;
    const char* error;  ///< a part of the expected error, or null
    bool usageError;
};

class ChoosePortsTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(ChoosePortsTest, PicksThePortsOrSaysWhyNot) {
    const ChoiceCase& c = GetParam();
    const PortChoice choice = choosePorts(c.arguments, c.environment, c.available, c.loop);
    if (c.error == nullptr) {
        EXPECT_EQ(choice.error, "");
        EXPECT_EQ(choice.ports, c.ports);
        EXPECT_EQ(choice.station, c.station);
    } else {
        EXPECT_NE(choice.error.find(c.error), std::string::npos) << choice.error;
        EXPECT_EQ(choice.usageError, c.usageError);
    }
}

const std::vector<SerialPortInfo> kTwoUsbOneUart{uart("ttyS0"), usb("ttyUSB0"), usb("ttyUSB1")};

INSTANTIATE_TEST_SUITE_P(
    Cases, ChoosePortsTest,
    ::testing::Values(
        ChoiceCase{"One", {"/dev/ttyUSB0"}, "", {}, false, {"/dev/ttyUSB0"}, false, nullptr, false},
        ChoiceCase{"OneLooping", {"3"}, "", {}, true, {"3"}, true, nullptr, false},
        ChoiceCase{"Several",
                   {"/dev/a", "COM4"},
                   "/dev/env",
                   {},
                   false,
                   {"/dev/a", "COM4"},
                   true,
                   nullptr,
                   false},
        ChoiceCase{
            "Environment", {}, "/dev/ttyACM0", {}, false, {"/dev/ttyACM0"}, false, nullptr, false},
        ChoiceCase{"EnvironmentAll",
                   {},
                   "all",
                   kTwoUsbOneUart,
                   false,
                   {"/dev/ttyUSB0", "/dev/ttyUSB1"},
                   true,
                   nullptr,
                   false},
        ChoiceCase{"Nothing", {}, "", {}, false, {}, false, "TARNLINK_PORT", true},
        ChoiceCase{"BadEnvironment", {}, "COM0", {}, false, {}, false, "names no port", true},
        ChoiceCase{"AllUsbOnly",
                   {"all"},
                   "",
                   kTwoUsbOneUart,
                   false,
                   {"/dev/ttyUSB0", "/dev/ttyUSB1"},
                   true,
                   nullptr,
                   false},
        ChoiceCase{"AllNone",
                   {"all"},
                   "",
                   {uart("ttyS0")},
                   false,
                   {},
                   false,
                   "no USB serial port found",
                   false},
        ChoiceCase{"AutoOne",
                   {"auto"},
                   "",
                   {uart("ttyS0"), usb("ttyACM0")},
                   false,
                   {"/dev/ttyACM0"},
                   false,
                   nullptr,
                   false},
        ChoiceCase{"AutoLooping",
                   {"auto"},
                   "",
                   {usb("ttyACM0")},
                   true,
                   {"/dev/ttyACM0"},
                   true,
                   nullptr,
                   false},
        ChoiceCase{"AutoTwo",
                   {"auto"},
                   "",
                   kTwoUsbOneUart,
                   false,
                   {},
                   false,
                   "2 USB serial ports (/dev/ttyUSB0, /dev/ttyUSB1); name one with --port",
                   false},
        ChoiceCase{
            "AutoNone", {"auto"}, "", {}, false, {}, false, "no USB serial port found", false},
        ChoiceCase{"AllNotAlone",
                   {"/dev/a", "all"},
                   "",
                   kTwoUsbOneUart,
                   false,
                   {},
                   false,
                   "stands alone",
                   true},
        ChoiceCase{
            "SameTwice", {"3", "COM3"}, "", {}, false, {}, false, "name the same port", true}),
    [](const ::testing::TestParamInfo<ChoiceCase>& info) { return info.param.name; });

TEST(ChoosePortsTest, ASymlinkToAPortIsThatPort) {
    test::TempDir dir;
    const std::string device = dir.write("ttyFake0", {});
    const std::string link = dir.file("by-id-board");
    std::filesystem::create_symlink(device, link);
    const PortChoice choice = choosePorts({device, link}, "", {}, false);
    EXPECT_TRUE(choice.usageError);
    EXPECT_NE(choice.error.find("name the same port"), std::string::npos) << choice.error;
}

TEST(StationFilesTest, EveryBoardGetsItsOwnFile) {
    // A COM number names its device, which on Linux is a ttyS.
    EXPECT_EQ(portFileTags({"/dev/ttyUSB0", "3", "com12", "/tmp/x/sim-1"}),
              (Ports{"ttyUSB0", "ttyS2", "ttyS11", "sim-1"}));
    // Two ports with the same name in different folders: the whole path tells them apart.
    EXPECT_EQ(portFileTags({"/dev/serial/by-path/pci-1/port0", "/dev/serial/by-path/pci-2/port0",
                            "/dev/ttyUSB0"}),
              (Ports{"serial_by-path_pci-1_port0", "serial_by-path_pci-2_port0", "ttyUSB0"}));
    EXPECT_EQ(portFileTags({"/tmp/a b/tty:1"}), (Ports{"tty_1"}));

    EXPECT_EQ(boardFilePath("crypt.bin", "ttyUSB0", 0), "crypt-ttyUSB0.bin");
    EXPECT_EQ(boardFilePath("out/crypt.bin", "COM3", 2), "out/crypt-COM3-2.bin");
    EXPECT_EQ(boardFilePath("/data/crypt", "ttyUSB1", 0), "/data/crypt-ttyUSB1");
    EXPECT_EQ(boardFilePath("a.tar.gz", "ttyACM0", 0), "a.tar-ttyACM0.gz");
    EXPECT_EQ(boardFilePath("dir.v2/crypt", "ttyS0", 0), "dir.v2/crypt-ttyS0");
}

}  // namespace
}  // namespace tarnlink
