#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "cli/ports/port_name.h"
#include "cli/ports/port_order.h"
#include "cli/ports/serial_ports.h"

namespace tarnlink {
namespace {

struct KeyCase {
    const char* typed;
    const char* key;
};

class PortDeviceKeyTest : public ::testing::TestWithParam<KeyCase> {};

// Two --port arguments name the same port however each is written.
TEST_P(PortDeviceKeyTest, OneKeyForEveryNameOfAPort) {
    EXPECT_EQ(portDeviceKey(GetParam().typed), GetParam().key);
    const std::string path = portPathFromArgument(GetParam().typed);
    if (!path.empty()) {
        EXPECT_EQ(portDeviceKey(path), GetParam().key) << path;
    }
}

INSTANTIATE_TEST_SUITE_P(Names, PortDeviceKeyTest,
                         ::testing::Values(KeyCase{"COM3", "COM3"}, KeyCase{"com3", "COM3"},
                                           KeyCase{"3", "COM3"}, KeyCase{"\\\\.\\COM3", "COM3"},
                                           KeyCase{"\\\\.\\com003", "COM3"},
                                           KeyCase{"COM12", "COM12"}, KeyCase{"COM0", "COM0"},
                                           KeyCase{"C:\\port.bin", "C:\\port.bin"}));

TEST(PortPathWin32Test, ComNamesNameTheDevice) {
    EXPECT_EQ(portPathFromArgument("COM3"), "\\\\.\\COM3");
    EXPECT_EQ(portPathFromArgument("com12"), "\\\\.\\COM12");
    EXPECT_EQ(portPathFromArgument("7"), "\\\\.\\COM7");
    EXPECT_EQ(portPathFromArgument("\\\\.\\COM7"), "\\\\.\\COM7");
    EXPECT_EQ(portPathFromArgument("NUL"), "");
    EXPECT_EQ(portPathFromArgument("COM3x"), "");
}

std::string mappedPort() {
    const char* port = std::getenv("TARNLINK_TEST_COM_PORT");
    return port != nullptr ? port : "";
}

// What the registry's list of serial ports names, read here on its own.
std::vector<std::string> serialCommPorts() {
    std::vector<std::string> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return ports;
    }
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameSize = sizeof name;
        char data[256] = {};
        DWORD dataSize = sizeof data - 1;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                          &dataSize) != ERROR_SUCCESS) {
            break;
        }
        ports.emplace_back(data);
    }
    RegCloseKey(key);
    return ports;
}

bool listed(const std::vector<SerialPortInfo>& ports, const std::string& name) {
    return std::any_of(ports.begin(), ports.end(),
                       [&](const SerialPortInfo& p) { return p.name == name; });
}

// The list: every port the registry names, each once, in natural order, named COMn.
TEST(SerialPortsWin32Test, ListsComPortsOnceInNaturalOrder) {
    const std::vector<SerialPortInfo> ports = availableSerialPorts();
    for (size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(ports[i].name.rfind("COM", 0), 0u) << ports[i].name;
        EXPECT_EQ(ports[i].devicePath, ports[i].name);
        EXPECT_EQ(ports[i].latencyTimerMs, -1);
        if (i > 0) {
            EXPECT_TRUE(naturalPortLess(ports[i - 1].name, ports[i].name))
                << ports[i - 1].name << " before " << ports[i].name;
        }
    }
    const std::vector<std::string> registered = serialCommPorts();
    for (const std::string& name : registered) {
        EXPECT_TRUE(listed(ports, name)) << name << " is in SERIALCOMM but not listed";
    }
    EXPECT_GE(ports.size(), registered.size());
}

TEST(SerialPortsWin32Test, ListedPortsArePresentUnderEveryNameAndOthersNot) {
    for (const SerialPortInfo& port : availableSerialPorts()) {
        const std::string presence = portPresence(port.devicePath);
        EXPECT_FALSE(presence.empty()) << port.name;
        EXPECT_EQ(portPresence("\\\\.\\" + port.name), presence);
        EXPECT_EQ(portPresence(port.name), presence);  // the same while nothing changes
        const std::optional<SerialPortInfo> found = findSerialPort("\\\\.\\" + port.name);
        ASSERT_TRUE(found) << port.name;
        EXPECT_EQ(found->name, port.name);
    }
    EXPECT_EQ(portPresence("COM250"), "");
    EXPECT_EQ(portPresence("\\\\.\\COM250"), "");
    EXPECT_FALSE(findSerialPort("COM250"));
    EXPECT_EQ(portPresence("C:\\no-port"), "");
}

// The port of the com peer, mapped in through the prefix's dosdevices.
TEST(SerialPortsWin32Test, MappedPortIsListedAndPresent) {
    const std::string mapped = mappedPort();
    if (mapped.empty()) {
        GTEST_SKIP() << "TARNLINK_TEST_COM_PORT is not set (run it through tarnlink_com_peer)";
    }
    const std::vector<SerialPortInfo> ports = availableSerialPorts();
    if (!listed(ports, mapped)) {
        GTEST_SKIP() << mapped << " is a link in the Wine prefix's dosdevices, made after "
                     << "Wine started: neither SetupAPI nor SERIALCOMM nor QueryDosDevice "
                     << "knows it (Wine registers only the ports it finds at its start)";
    }
    EXPECT_FALSE(portPresence(mapped).empty());
}

}  // namespace
}  // namespace tarnlink
