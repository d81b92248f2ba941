// tarnlink-cli doctor as a child process on fake machines: its lines, its JSON (read by a
// real parser), its exit status, and the udev rule it prints.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <sstream>

#include "tests/cli/cli_process.h"
#include "tests/cli/fake_system.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_dir.h"

namespace tarnlink {
namespace {

using test::CliResult;
using test::FakeSystem;
using test::lines;
using test::PtyPair;

CliResult doctor(const FakeSystem& fake, std::vector<std::string> args) {
    args.insert(args.begin(), "doctor");
    return test::runCli(args, 60000, {"TARNLINK_SYSTEM_ROOT=" + fake.root()});
}

// The finding of `check`, from the parsed report.
nlohmann::json findingOf(const nlohmann::json& report, const std::string& check) {
    for (const nlohmann::json& finding : report.at("checks")) {
        if (finding.at("check") == check) {
            return finding;
        }
    }
    ADD_FAILURE() << "no finding of " << check;
    return {};
}

class DoctorProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_udevId = m_fake.attach("ttyUSB0", m_pty.slavePath());
        m_fake.setFtdiLatencyTimer(1);
        m_fake.installUdevRule();
        m_fake.setUdevRecord(m_udevId, {"E:ID_MM_DEVICE_IGNORE=1", "G:uaccess"});
    }

    FakeSystem m_fake;
    PtyPair m_pty;
    std::string m_udevId;
};

TEST_F(DoctorProgramTest, HealthyAdapterExitsZeroWithOneOkLinePerCheck) {
    const CliResult result = doctor(m_fake, {"--port", "/dev/ttyUSB0"});
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    const std::vector<std::string> got = lines(result.out);
    ASSERT_EQ(got.size(), 8u) << result.out;
    const char* checks[] = {"port",   "access",  "holder",   "modem-manager",
                            "brltty", "latency", "udev-rule"};
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(got[i].rfind(std::string("ok    /dev/ttyUSB0  ") + checks[i] + ": ", 0), 0u)
            << got[i];
    }
    EXPECT_EQ(got[7], "No problems found.");

    const CliResult json = doctor(m_fake, {"--port", "/dev/ttyUSB0", "--json"});
    EXPECT_EQ(json.exitCode, 0);
    const nlohmann::json report = nlohmann::json::parse(json.out);
    EXPECT_EQ(report.at("ok"), 7);
    EXPECT_EQ(report.at("warn"), 0);
    EXPECT_EQ(report.at("fail"), 0);
    EXPECT_EQ(report.at("checks").size(), 7u);
    EXPECT_TRUE(findingOf(report, "latency").at("fix").is_null());
}

TEST_F(DoctorProgramTest, PortHeldByMinicomFails) {
    m_fake.addProcess(4321, "minicom", {m_pty.slavePath()});
    const CliResult result = doctor(m_fake, {"--port", "/dev/ttyUSB0", "--json"});
    EXPECT_EQ(result.exitCode, 1) << result.out;
    const nlohmann::json report = nlohmann::json::parse(result.out);
    EXPECT_EQ(report.at("fail"), 1);
    const nlohmann::json holder = findingOf(report, "holder");
    EXPECT_EQ(holder.at("status"), "fail");
    EXPECT_EQ(holder.at("port"), "/dev/ttyUSB0");
    EXPECT_NE(holder.at("found").get<std::string>().find("minicom (pid 4321)"), std::string::npos);
    EXPECT_EQ(holder.at("fix"), "kill 4321");

    const CliResult text = doctor(m_fake, {"--port", "/dev/ttyUSB0"});
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_NE(text.out.find("fail  /dev/ttyUSB0  holder: held open by minicom (pid 4321)"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("; fix: kill 4321\n"), std::string::npos);
    EXPECT_NE(text.out.find("\n1 failed, 0 to look at.\n"), std::string::npos);
}

TEST_F(DoctorProgramTest, ModemManagerWithoutTheIgnorePropertyWarnsButDoesNotFail) {
    m_fake.addProcess(612, "ModemManager");
    m_fake.setUdevRecord(m_udevId, {"E:ID_VENDOR_ID=0403", "G:uaccess"});
    const CliResult result = doctor(m_fake, {"--port", "/dev/ttyUSB0", "--json"});
    EXPECT_EQ(result.exitCode, 0) << "a warning is no failure";
    const nlohmann::json report = nlohmann::json::parse(result.out);
    const nlohmann::json manager = findingOf(report, "modem-manager");
    EXPECT_EQ(manager.at("status"), "warn");
    EXPECT_NE(manager.at("found").get<std::string>().find("pid 612"), std::string::npos);
    EXPECT_EQ(manager.at("fix"),
              "sudo udevadm control --reload-rules && sudo udevadm trigger --action=add "
              "--subsystem-match=tty");
    EXPECT_EQ(findingOf(report, "udev-rule").at("status"), "warn") << "rule not applied";
}

TEST_F(DoctorProgramTest, LatencyTimerOf16MsWarnsWithTheCommandForThatPort) {
    m_fake.setFtdiLatencyTimer(16);
    const CliResult result = doctor(m_fake, {"-p", "/dev/ttyUSB0", "--json"});
    EXPECT_EQ(result.exitCode, 0);
    const nlohmann::json latency = findingOf(nlohmann::json::parse(result.out), "latency");
    EXPECT_EQ(latency.at("status"), "warn");
    EXPECT_EQ(latency.at("fix"),
              "echo 1 | sudo tee /sys/bus/usb-serial/devices/ttyUSB0/latency_timer");
}

TEST_F(DoctorProgramTest, WithoutAPortEveryListedPortIsChecked) {
    const CliResult result = doctor(m_fake, {"--json"});
    const nlohmann::json report = nlohmann::json::parse(result.out);
    std::vector<std::string> ports;
    for (const nlohmann::json& finding : report.at("checks")) {
        if (finding.at("check") == "port") {
            ports.push_back(finding.at("port"));
        }
    }
    // Those of the fake tree; only ttyUSB0 has a node, the others fail as missing.
    EXPECT_EQ(ports, (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS10",
                                               "/dev/ttyUSB0", "/dev/ttyUSB1"}));
    EXPECT_EQ(report.at("fail"), 4);
    EXPECT_EQ(result.exitCode, 1);

    FakeSystem empty;
    std::filesystem::remove_all(empty.at("/sys/class"));
    const CliResult none = doctor(empty, {});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(lines(none.out).at(0),
              "warn  system  ports: no serial ports found: is the adapter plugged in?");
}

TEST_F(DoctorProgramTest, UsageErrorsAndTheUdevRule) {
    const CliResult bad = doctor(m_fake, {"--port", "COM0"});
    EXPECT_EQ(bad.exitCode, 64);
    EXPECT_NE(bad.err.find("names no port"), std::string::npos);

    const CliResult rule = doctor(m_fake, {"--udev-rule"});
    EXPECT_EQ(rule.exitCode, 0);
    const std::vector<uint8_t> file = test::readFile(TARNLINK_UDEV_RULE_FILE);
    EXPECT_EQ(rule.out, std::string(file.begin(), file.end()));
}

}  // namespace
}  // namespace tarnlink
