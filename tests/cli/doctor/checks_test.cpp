// Each check on facts made by hand: what it finds, how it rates it, and the exact fix.

#include "cli/doctor/checks.h"

#include <gtest/gtest.h>

#include "tests/cli/fake_system.h"

namespace tarnlink::doctor {
namespace {

using test::FakeSystem;

constexpr uint32_t ALICE = 4242;
constexpr uint32_t DIALOUT = 20;

// An FTDI adapter at /dev/ttyUSB0, crw-rw---- root:dialout.
PortFacts ftdiPort() {
    PortFacts port;
    port.devicePath = "/dev/ttyUSB0";
    port.exists = true;
    port.isCharDevice = true;
    port.major = 188;
    port.minor = 0;
    port.ownership = {0660, 0, DIALOUT, {}};
    port.ttyDriver = TtyDriver{"usbserial", "serial"};
    SerialPortInfo info;
    info.name = "ttyUSB0";
    info.devicePath = "/dev/ttyUSB0";
    info.driver = "ftdi_sio";
    info.vendorId = "0403";
    info.productId = "6001";
    info.latencyTimerMs = 1;
    port.sysfs = info;
    return port;
}

PortFacts ch340Port() {
    PortFacts port = ftdiPort();
    port.devicePath = "/dev/ttyUSB1";
    port.minor = 1;
    port.sysfs->name = "ttyUSB1";
    port.sysfs->driver = "ch341";
    port.sysfs->vendorId = "1a86";
    port.sysfs->productId = "7523";
    port.sysfs->latencyTimerMs = -1;
    return port;
}

ProcessInfo process(int pid, const std::string& name, uint32_t uid, bool filesVisible,
                    std::vector<DeviceNumber> devices = {}, std::vector<uint32_t> ptyMasters = {}) {
    return ProcessInfo{pid, name, uid, filesVisible, std::move(devices), std::move(ptyMasters)};
}

class ChecksTest : public ::testing::Test {
  protected:
    // alice (4242), in no group but her own; bob (1001) is listed in dialout.
    SystemFacts system(std::vector<uint32_t> groups = {}) const {
        SystemRoot root(m_fake.root());
        AccountDatabase accounts(root);
        return SystemFacts{root, accounts, UserIdentity{ALICE, ALICE, std::move(groups), "alice"},
                           m_processes, findUdevRule(root)};
    }

    FakeSystem m_fake;
    std::vector<ProcessInfo> m_processes;
};

TEST_F(ChecksTest, UserNotInTheOwningGroupIsToldTheUsermodLine) {
    const Finding finding = checkAccess(ftdiPort(), system());
    EXPECT_EQ(finding.check, "access");
    EXPECT_EQ(finding.status, Status::FAIL);
    EXPECT_EQ(finding.fix, "sudo usermod -aG dialout alice");
    EXPECT_NE(finding.found.find("alice is not in group dialout"), std::string::npos)
        << finding.found;
    EXPECT_NE(finding.found.find("crw-rw---- root:dialout"), std::string::npos) << finding.found;
    EXPECT_NE(finding.found.find("log out and in again"), std::string::npos) << finding.found;
}

TEST_F(ChecksTest, UserAddedToTheGroupButNotLoggedInAgain) {
    m_fake.write("/etc/group", "root:x:0:\ndialout:x:20:bob,alice\n");
    const Finding finding = checkAccess(ftdiPort(), system());
    EXPECT_EQ(finding.status, Status::FAIL);
    EXPECT_EQ(finding.fix, "newgrp dialout");
    EXPECT_NE(finding.found.find("after this session began"), std::string::npos) << finding.found;
}

TEST_F(ChecksTest, GroupMemberRootAndSeatAccessMayOpen) {
    EXPECT_EQ(checkAccess(ftdiPort(), system({DIALOUT})).found,
              "you can open it: you are in group dialout");
    SystemFacts root = system();
    root.user = UserIdentity{0, 0, {}, "root"};
    EXPECT_EQ(checkAccess(ftdiPort(), root).status, Status::OK);

    PortFacts seat = ftdiPort();
    seat.ownership.acl = {{ACL_TAG_USER_OBJ, 6, 0},
                          {ACL_TAG_USER, 6, ALICE},
                          {ACL_TAG_GROUP_OBJ, 6, 0},
                          {ACL_TAG_MASK, 6, 0},
                          {ACL_TAG_OTHER, 0, 0}};
    const Finding finding = checkAccess(seat, system());
    EXPECT_EQ(finding.status, Status::OK);
    EXPECT_NE(finding.found.find("seat access"), std::string::npos);
}

TEST_F(ChecksTest, PortOnlyRootMayOpenPointsAtTheUdevRule) {
    PortFacts port = ftdiPort();
    port.ownership = {0600, 0, 0, {}};
    const Finding finding = checkAccess(port, system());
    EXPECT_EQ(finding.status, Status::FAIL);
    EXPECT_EQ(finding.fix, udevRuleInstallCommand());
}

TEST_F(ChecksTest, PortHeldByMinicomNamesItsPidAndHowToEndIt) {
    m_processes = {process(100, "bash", ALICE, true, {{136, 2}}),
                   process(4321, "minicom", ALICE, true, {{5, 0}, {188, 0}}),
                   process(4400, "screen", 0, true, {{188, 0}}), process(1, "systemd", 0, false)};
    const Finding finding = checkHolders(ftdiPort(), system());
    EXPECT_EQ(finding.status, Status::FAIL);
    EXPECT_EQ(finding.found,
              "held open by minicom (pid 4321), screen (pid 4400): a transfer needs the port to "
              "itself");
    // Another user's process needs root to be ended.
    EXPECT_EQ(finding.fix, "kill 4321; sudo kill 4400");

    m_processes = {process(4321, "minicom", ALICE, true, {{188, 1}}),
                   process(1, "systemd", 0, false)};
    const Finding free = checkHolders(ftdiPort(), system());
    EXPECT_EQ(free.status, Status::OK);
    EXPECT_NE(free.found.find("of 1 processes of other users are hidden"), std::string::npos)
        << free.found;
}

TEST_F(ChecksTest, ThePseudoTerminalsOwnFarEndIsNoRival) {
    PortFacts pty = ftdiPort();
    pty.devicePath = "/dev/pts/7";
    pty.major = 136;
    pty.minor = 7;
    // The simulator holds the master of pts/7 and, to keep it from hanging up, its slave.
    m_processes = {process(900, "tarnlink-sim", ALICE, true, {{136, 7}}, {7}),
                   process(901, "other-sim", ALICE, true, {{136, 8}}, {8})};
    Finding finding = checkHolders(pty, system());
    EXPECT_EQ(finding.status, Status::OK);
    EXPECT_EQ(finding.found, "no process has it open; its other end is tarnlink-sim (pid 900)");

    m_processes.push_back(process(902, "cat", ALICE, true, {{136, 7}}));
    finding = checkHolders(pty, system());
    EXPECT_EQ(finding.status, Status::FAIL);
    EXPECT_EQ(finding.fix, "kill 902");
}

TEST_F(ChecksTest, ModemManagerWithoutTheIgnorePropertyIsAWarning) {
    const PortFacts port = ftdiPort();
    EXPECT_EQ(checkModemManager(&port, system()).found, "ModemManager is not running");

    m_processes = {process(612, "ModemManager", 0, false)};
    m_fake.setUdevRecord("c188:0", {"E:ID_VENDOR_ID=0403", "G:systemd"});
    Finding finding = checkModemManager(&port, system());
    EXPECT_EQ(finding.status, Status::WARN);
    EXPECT_NE(finding.found.find("ModemManager is running (pid 612)"), std::string::npos);
    EXPECT_NE(finding.found.find("no ID_MM_DEVICE_IGNORE=1"), std::string::npos);
    EXPECT_EQ(finding.fix, udevRuleInstallCommand()) << "the rule is not installed";

    m_fake.setUdevRecord("c188:0", {"E:ID_MM_DEVICE_IGNORE=0"});
    EXPECT_EQ(checkModemManager(&port, system()).status, Status::WARN) << "0 does not ignore";

    m_fake.installUdevRule();
    EXPECT_EQ(checkModemManager(&port, system()).fix, udevRuleApplyCommand());

    const PortFacts pico = [&] {
        PortFacts p = ftdiPort();
        p.sysfs->vendorId = "2e8a";
        p.sysfs->productId = "000a";
        return p;
    }();
    EXPECT_EQ(checkModemManager(&pico, system()).fix, "sudo systemctl stop ModemManager")
        << "the rule does not cover this adapter";

    m_fake.setUdevRecord("c188:0", {"E:ID_MM_DEVICE_IGNORE=1"});
    finding = checkModemManager(&port, system());
    EXPECT_EQ(finding.status, Status::OK);
    EXPECT_NE(finding.found.find("leaves this port alone"), std::string::npos);
}

TEST_F(ChecksTest, LatencyTimerOf16MsGivesTheSysfsCommand) {
    PortFacts port = ftdiPort();
    port.sysfs->latencyTimerMs = 16;
    Finding finding = checkLatency(port);
    EXPECT_EQ(finding.status, Status::WARN);
    EXPECT_EQ(finding.fix, "echo 1 | sudo tee /sys/bus/usb-serial/devices/ttyUSB0/latency_timer");
    EXPECT_EQ(
        finding.found.rfind("latency timer 16 ms: the adapter holds every answer up to 16 ms", 0),
        0u)
        << finding.found;

    port.sysfs->latencyTimerMs = 1;
    EXPECT_EQ(checkLatency(port).status, Status::OK);
    EXPECT_EQ(checkLatency(ch340Port()).found,
              "no latency timer; low latency: the driver does not report it (tarnlink asks for "
              "it on open)");

    PortFacts uart = ch340Port();
    uart.uartFlagsKnown = true;
    uart.lowLatency = true;
    EXPECT_EQ(checkLatency(uart).found, "no latency timer; low latency: set");
}

TEST_F(ChecksTest, BrlttyRulesThatClaimTheAdapterAreAWarning) {
    const PortFacts ftdi = ftdiPort();
    const PortFacts ch340 = ch340Port();
    EXPECT_EQ(checkBrltty(&ch340, system()).found, "brltty is not installed");

    m_fake.write("/usr/lib/udev/rules.d/85-brltty.rules",
                 "# Baum [NLS eReader Zoomax (20 cells)]\n"
                 "ENV{PRODUCT}==\"1a86/7523/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"bm\", "
                 "GOTO=\"brltty_usb_run\"\n"
                 "#ENV{PRODUCT}==\"403/6001/*\", GOTO=\"brltty_usb_run\"\n");
    Finding finding = checkBrltty(&ch340, system());
    EXPECT_EQ(finding.status, Status::WARN);
    EXPECT_NE(finding.found.find("brltty is installed and its udev rules claim 1a86:7523"),
              std::string::npos)
        << finding.found;
    EXPECT_EQ(finding.fix, "sudo apt remove brltty");
    EXPECT_EQ(checkBrltty(&ftdi, system()).status, Status::OK) << "a commented-out rule";

    m_processes = {process(777, "brltty", 0, false)};
    m_fake.write("/etc/udev/rules.d/90-brltty-local.rules",
                 "SUBSYSTEM==\"usb\", ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001|6010\", "
                 "TAG+=\"brltty\"\n");
    finding = checkBrltty(&ftdi, system());
    EXPECT_EQ(finding.status, Status::WARN);
    EXPECT_EQ(finding.found.rfind("brltty is running and its udev rules claim 0403:6001", 0), 0u)
        << finding.found;

    // Without a port: every bridge the rule knows that brltty claims.
    finding = checkBrltty(nullptr, system());
    EXPECT_NE(finding.found.find("claim 0403:6001 0403:6010 1a86:7523:"), std::string::npos)
        << finding.found;
}

TEST_F(ChecksTest, UdevRuleMissingMaskedInstalledAndApplied) {
    const PortFacts port = ftdiPort();
    Finding finding = checkUdevRule(&port, system());
    EXPECT_EQ(finding.status, Status::WARN);
    EXPECT_EQ(finding.fix, udevRuleInstallCommand());

    m_fake.installUdevRule();
    finding = checkUdevRule(&port, system());
    EXPECT_EQ(finding.status, Status::WARN) << "installed, but the port has none of its marks";
    EXPECT_EQ(finding.fix, udevRuleApplyCommand());

    m_fake.setUdevRecord("c188:0", {"E:ID_MM_DEVICE_IGNORE=1", "G:uaccess", "Q:uaccess"});
    finding = checkUdevRule(&port, system());
    EXPECT_EQ(finding.status, Status::OK);
    EXPECT_EQ(finding.found,
              "installed as /usr/lib/udev/rules.d/60-tarnlink.rules and applied "
              "to this adapter");

    m_fake.link("/etc/udev/rules.d/60-tarnlink.rules", "/dev/null");
    finding = checkUdevRule(&port, system());
    EXPECT_EQ(finding.status, Status::WARN);
    EXPECT_EQ(finding.fix,
              "sudo rm /etc/udev/rules.d/60-tarnlink.rules && " + udevRuleApplyCommand());

    PortFacts pico = ftdiPort();
    pico.sysfs->vendorId = "2e8a";
    pico.sysfs->productId = "000a";
    EXPECT_EQ(checkUdevRule(&pico, system()).status, Status::OK) << "not a bridge it covers";
}

TEST_F(ChecksTest, PortNodeThatIsNoTerminalOrMissingFails) {
    PortFacts missing;
    missing.devicePath = "/dev/ttyUSB7";
    missing.statError = ENOENT;
    Finding finding = checkPortNode(missing);
    EXPECT_EQ(finding.status, Status::FAIL);
    EXPECT_NE(finding.found.find("does not exist"), std::string::npos);

    PortFacts null = ftdiPort();
    null.major = 1;
    null.minor = 3;
    null.ttyDriver.reset();
    null.sysfs.reset();
    EXPECT_EQ(checkPortNode(null).found, "is a character device (1:3) but no terminal");

    PortFacts placeholder = ftdiPort();
    placeholder.ttyDriver = TtyDriver{"serial", "serial"};
    placeholder.sysfs.reset();
    EXPECT_EQ(checkPortNode(placeholder).status, Status::WARN);

    finding = checkPortNode(ftdiPort());
    EXPECT_EQ(finding.status, Status::OK);
    EXPECT_EQ(finding.found,
              "a terminal device (188:0, usbserial): ftdi_sio 0403:6001 "
              "latency_timer=1ms");
}

}  // namespace
}  // namespace tarnlink::doctor
