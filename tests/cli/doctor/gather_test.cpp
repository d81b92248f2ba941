// What the doctor reads from a fake machine whose port is a real pseudo-terminal.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/doctor/doctor.h"
#include "tests/cli/fake_system.h"
#include "tests/support/pty_pair.h"

namespace tarnlink::doctor {
namespace {

using test::FakeSystem;
using test::PtyPair;

TEST(DoctorGatherTest, PortFactsComeFromTheNodeTheTtyDriversAndSysfs) {
    FakeSystem fake;
    PtyPair pty;
    fake.attach("ttyUSB0", pty.slavePath());
    const PortFacts port = gatherPortFacts(SystemRoot(fake.root()), "/dev/ttyUSB0");
    struct stat info {};
    ASSERT_EQ(::stat(pty.slavePath().c_str(), &info), 0);
    EXPECT_TRUE(port.exists);
    EXPECT_TRUE(port.isCharDevice);
    EXPECT_EQ(port.major, 136u);
    EXPECT_EQ(port.ownership.uid, info.st_uid);
    EXPECT_EQ(port.ownership.gid, info.st_gid);
    EXPECT_EQ(port.ownership.mode, info.st_mode & 07777);
    ASSERT_TRUE(port.ttyDriver);
    EXPECT_EQ(port.ttyDriver->name, "pty_slave");
    ASSERT_TRUE(port.sysfs) << "matched by its numbers";
    EXPECT_EQ(port.sysfs->name, "ttyUSB0");
    EXPECT_EQ(port.usbId(), "0403:6001");
    EXPECT_EQ(port.sysfs->latencyTimerMs, 16);
    EXPECT_EQ(port.udevId(), "c136:" + std::to_string(port.minor));

    const PortFacts missing = gatherPortFacts(SystemRoot(fake.root()), "/dev/ttyUSB1");
    EXPECT_FALSE(missing.exists);
    EXPECT_EQ(missing.statError, ENOENT);
}

TEST(DoctorGatherTest, TtyDriversCoverRangesAndSingleMinors) {
    FakeSystem fake;
    const SystemRoot root(fake.root());
    EXPECT_EQ(ttyDriverFor(root, 188, 511)->name, "usbserial");
    EXPECT_FALSE(ttyDriverFor(root, 188, 512));
    EXPECT_EQ(ttyDriverFor(root, 4, 64)->name, "serial");
    EXPECT_EQ(ttyDriverFor(root, 5, 0)->type, "system:/dev/tty");
    EXPECT_FALSE(ttyDriverFor(root, 1, 3)) << "/dev/null";
}

TEST(DoctorGatherTest, ProcessesShowTheDevicesTheyHoldOpen) {
    FakeSystem fake;
    PtyPair pty;
    fake.attach("ttyUSB0", pty.slavePath());
    fake.addProcess(4321, "minicom", {"/dev/null", pty.slavePath()});
    fake.addProcess(77, "sshd", {"/etc/passwd"});
    fake.write("/proc/self/comm", "not a pid\n");
    const std::vector<ProcessInfo> processes = listProcesses(SystemRoot(fake.root()));
    ASSERT_EQ(processes.size(), 2u);
    EXPECT_EQ(processes[0].pid, 77);
    EXPECT_TRUE(processes[0].devices.empty()) << "a plain file is no device";
    EXPECT_EQ(processes[1].name, "minicom");
    EXPECT_EQ(processes[1].uid, ::getuid());
    EXPECT_TRUE(processes[1].filesVisible);
    const PortFacts port = gatherPortFacts(SystemRoot(fake.root()), "/dev/ttyUSB0");
    EXPECT_EQ(processes[1].devices, (std::vector<DeviceNumber>{{1, 3}, {port.major, port.minor}}));
}

TEST(DoctorGatherTest, APseudoTerminalMasterIsKnownByItsIndex) {
    FakeSystem fake;
    fake.addProcess(900, "tarnlink-sim", {"/dev/ptmx", "/dev/null"});
    fake.write("/proc/900/fdinfo/3", "pos:\t0\nflags:\t02100002\ntty-index:\t5\n");
    const std::vector<ProcessInfo> processes = listProcesses(SystemRoot(fake.root()));
    ASSERT_EQ(processes.size(), 1u);
    EXPECT_EQ(processes[0].ptyMasters, (std::vector<uint32_t>{5}));
    EXPECT_EQ(processes[0].devices, (std::vector<DeviceNumber>{{1, 3}})) << "ptmx is no port";
}

TEST(DoctorGatherTest, UdevRecordsGiveTheirPropertiesAndTags) {
    FakeSystem fake;
    fake.setUdevRecord("c188:0", {"I:1234", "E:ID_MM_DEVICE_IGNORE=1", "E:ID_MODEL=FT232R_USB_UART",
                                  "E:EMPTY=", "G:uaccess", "Q:seat", "broken"});
    const auto record = readUdevRecord(SystemRoot(fake.root()), "c188:0");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->properties.at("ID_MM_DEVICE_IGNORE"), "1");
    EXPECT_EQ(record->properties.at("ID_MODEL"), "FT232R_USB_UART");
    EXPECT_EQ(record->properties.at("EMPTY"), "");
    EXPECT_EQ(record->tags, (std::set<std::string>{"uaccess", "seat"}));
    EXPECT_FALSE(readUdevRecord(SystemRoot(fake.root()), "c188:1"));
}

TEST(DoctorGatherTest, AccountsGiveNamesMembersAndUnknownIdsAsNumbers) {
    FakeSystem fake;
    const AccountDatabase accounts(SystemRoot(fake.root()));
    EXPECT_EQ(accounts.userName(1000), "alice");
    EXPECT_FALSE(accounts.userName(4242));
    EXPECT_EQ(accounts.groupName(20), "dialout");
    EXPECT_EQ(accounts.groupName(999), "999");
    EXPECT_TRUE(accounts.isMember("bob", 20));
    EXPECT_TRUE(accounts.isMember("alice", 1000)) << "her primary group";
    EXPECT_FALSE(accounts.isMember("alice", 20));
}

TEST(DoctorGatherTest, AHealthyAdapterPassesEveryCheckInOrder) {
    FakeSystem fake;
    PtyPair pty;
    const std::string udevId = fake.attach("ttyUSB0", pty.slavePath());
    fake.setFtdiLatencyTimer(1);
    fake.installUdevRule();
    fake.setUdevRecord(udevId, {"E:ID_MM_DEVICE_IGNORE=1", "G:uaccess"});
    fake.addProcess(612, "ModemManager");
    // The pseudo-terminal is this test's own: as its owner (or as root) it may be opened.
    const SystemFacts system = gatherSystemFacts(SystemRoot(fake.root()));
    const std::vector<Finding> findings = examine({"/dev/ttyUSB0"}, system);
    std::vector<std::string> checks;
    for (const Finding& finding : findings) {
        checks.push_back(finding.check);
        EXPECT_EQ(finding.status, Status::OK) << finding.check << ": " << finding.found;
        EXPECT_EQ(finding.subject, "/dev/ttyUSB0");
    }
    EXPECT_EQ(checks, (std::vector<std::string>{"port", "access", "holder", "modem-manager",
                                                "brltty", "latency", "udev-rule"}));
    EXPECT_EQ(exitStatus(findings), 0);
    const std::string text = reportText(findings);
    EXPECT_EQ(text.substr(text.size() - 19), "No problems found.\n") << text;
}

}  // namespace
}  // namespace tarnlink::doctor
