#include "link/port_name.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "link/serial_link.h"

namespace tarnlink {
namespace {

struct NameCase {
    const char* name;
    const char* posix;    ///< device on Linux, "" for no port
    const char* windows;  ///< device on Windows, "" for no port
};

class PortNameRule : public testing::TestWithParam<NameCase> {};

// Both platforms' rules hold on every platform, so each table row is checked everywhere.
TEST_P(PortNameRule, NamesTheSamePortOnBothPlatforms) {
    const NameCase& c = GetParam();
    EXPECT_EQ(portDevicePathFor(PortNaming::POSIX, c.name), c.posix);
    EXPECT_EQ(portDevicePathFor(PortNaming::WINDOWS, c.name), c.windows);
    // A device path that the rule gave names that same device again.
    for (PortNaming naming : {PortNaming::POSIX, PortNaming::WINDOWS}) {
        const std::string device = portDevicePathFor(naming, c.name);
        if (!device.empty()) {
            EXPECT_EQ(portDevicePathFor(naming, device), device);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, PortNameRule,
    testing::Values(
        NameCase{"COM3", "/dev/ttyS2", "\\\\.\\COM3"},
        NameCase{"com3", "/dev/ttyS2", "\\\\.\\COM3"},
        NameCase{"cOm3", "/dev/ttyS2", "\\\\.\\COM3"}, NameCase{"3", "/dev/ttyS2", "\\\\.\\COM3"},
        NameCase{"\\\\.\\COM12", "/dev/ttyS11", "\\\\.\\COM12"},
        NameCase{"\\\\.\\com12", "/dev/ttyS11", "\\\\.\\COM12"},
        NameCase{"COM1", "/dev/ttyS0", "\\\\.\\COM1"}, NameCase{"007", "/dev/ttyS6", "\\\\.\\COM7"},
        NameCase{"COM256", "/dev/ttyS255", "\\\\.\\COM256"},
        NameCase{"2147483647", "/dev/ttyS2147483646", "\\\\.\\COM2147483647"},
        // COM names that name no port, rather than a file of that name
        NameCase{"0", "", ""}, NameCase{"COM0", "", ""}, NameCase{"\\\\.\\COM0", "", ""},
        NameCase{"-3", "", ""}, NameCase{"COM-3", "", ""}, NameCase{"\\\\.\\COM-3", "", ""},
        NameCase{"+3", "", ""}, NameCase{" 3", "", ""}, NameCase{"3 ", "", ""},
        NameCase{"COM", "", ""}, NameCase{"COM3x", "", ""}, NameCase{"COM 3", "", ""},
        NameCase{"2147483648", "", ""}, NameCase{"\\\\.\\COM99999999999", "", ""},
        NameCase{"", "", ""},
        // device paths: absolute ones pass as they are, on their own platform
        NameCase{"/dev/ttyUSB0", "/dev/ttyUSB0", ""}, NameCase{"/dev/pts/5", "/dev/pts/5", ""},
        NameCase{"\\\\.\\CNCA0", "", "\\\\.\\CNCA0"}, NameCase{"\\\\.\\NUL", "", "\\\\.\\NUL"},
        NameCase{"C:\\image.bin", "", "C:\\image.bin"}, NameCase{"z:/tmp/port", "", "z:/tmp/port"},
        // relative names name nothing
        NameCase{"ttyUSB0", "", ""}, NameCase{"dev/ttyS0", "", ""}, NameCase{"NUL", "", ""},
        NameCase{"C:port", "", ""}),
    [](const testing::TestParamInfo<NameCase>& info) {
        std::string name = "Row" + std::to_string(info.index) + "_";
        for (const char* p = info.param.name; *p != '\0'; ++p) {
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        }
        return name;
    });

TEST(PortNameRule, ComPortNumberReadsEveryFormAndNothingElse) {
    EXPECT_EQ(comPortNumber("COM3"), 3);
    EXPECT_EQ(comPortNumber("\\\\.\\Com12"), 12);
    EXPECT_EQ(comPortNumber("0012"), 12);
    EXPECT_EQ(comPortNumber("\\\\.\\3"), std::nullopt);  // the device prefix wants "COM"
    EXPECT_EQ(comPortNumber("COM0"), std::nullopt);
    EXPECT_EQ(comPortNumber("COM-1"), std::nullopt);
    EXPECT_EQ(comPortNumber("/dev/ttyS0"), std::nullopt);
}

#if defined(_WIN32)
constexpr PortNaming HOST_NAMING = PortNaming::WINDOWS;
#else
constexpr PortNaming HOST_NAMING = PortNaming::POSIX;
#endif

// The link opens by the same rule that the command lines use.
TEST(PortNameRule, TheLinkUsesThisPlatformsRule) {
    for (const char* name : {"COM3", "3", "\\\\.\\COM12", "-3", "/dev/ttyUSB0", "\\\\.\\CNCA0"}) {
        EXPECT_EQ(serialPortDevicePath(name), portDevicePathFor(HOST_NAMING, name)) << name;
    }
}

}  // namespace
}  // namespace tarnlink
