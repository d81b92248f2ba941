// The station end to end: tarnlink-cli with several ports, its children the real
// tarnlink-cli, each board a simulated target of its own.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "sim/sim_target.h"
#include "tests/cli/cli_process.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_dir.h"

namespace tarnlink {
namespace {

using test::CliProcess;
using test::CliResult;
using test::lines;
using test::padded;
using test::runCli;
using test::sampleImage;
using test::TempDir;

// SHA-256 of sampleImage(1000), taken once with another tool.
constexpr const char* IMAGE_1000_SHA256 =
    "86feb6339f5ec6939cc9e488bad525b04f8f5d09ad32db431327077432051a09";

// The --json lines by port; every line must be one whole JSON object.
std::map<std::string, nlohmann::json> reportsByPort(const std::string& out) {
    std::map<std::string, nlohmann::json> reports;
    for (const std::string& line : lines(out)) {
        const nlohmann::json j = nlohmann::json::parse(line);
        reports[j.at("port").get<std::string>()] = j;
    }
    return reports;
}

std::vector<std::string> csvFields(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            field += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    fields.push_back(field);
    return fields;
}

class StationProcessTest : public ::testing::Test {
  protected:
    std::unique_ptr<sim::SimTarget> startSim(sim::SimOptions options = {}) {
        auto target = std::make_unique<sim::SimTarget>(std::move(options));
        EXPECT_TRUE(target->start());
        return target;
    }
    std::unique_ptr<sim::SimTarget> startLinkedSim(const std::string& name,
                                                   sim::SimOptions options = {}) {
        options.linkPath = m_dir.file(name);
        return startSim(std::move(options));
    }
    // `count` simulators that answer slowly, each added to `args` as a --port.
    std::vector<std::unique_ptr<sim::SimTarget>> startSlowSims(int count,
                                                               std::vector<std::string>& args) {
        sim::SimOptions slow;
        slow.delayMs = 20;
        std::vector<std::unique_ptr<sim::SimTarget>> sims;
        for (int i = 0; i < count; ++i) {
            sims.push_back(startSim(slow));
            args.insert(args.end(), {"--port", sims.back()->portPath()});
        }
        return sims;
    }
    // Waits until every board of `station` has begun to write.
    static ::testing::AssertionResult allWriting(
        CliProcess& station, const std::vector<std::unique_ptr<sim::SimTarget>>& sims) {
        for (const auto& s : sims) {
            if (!station.waitForStderr(s->portPath() + ": Sending Data Packet 0", 20000)) {
                return ::testing::AssertionFailure() << station.currentStderr();
            }
        }
        return ::testing::AssertionSuccess();
    }

    TempDir m_dir;
};

TEST_F(StationProcessTest, FourBoardsOneSilentThreeFlashedAndRecorded) {
    sim::SimOptions silent;
    silent.silent = true;
    std::vector<std::unique_ptr<sim::SimTarget>> sims;
    sims.push_back(startSim());
    sims.push_back(startSim());
    sims.push_back(startSim(silent));
    sims.push_back(startSim());
    const std::vector<uint8_t> bytes = sampleImage(1000);
    const std::string imagePath = m_dir.write("image.bin", bytes);
    const std::string record = m_dir.file("line.csv");
    std::vector<std::string> args{"load", imagePath, "--json", "--record", record};
    for (const auto& s : sims) {
        args.insert(args.end(), {"--port", s->portPath()});
    }
    const CliResult r = runCli(args, 120000);
    EXPECT_EQ(r.exitCode, 6) << r.err;  // TARGET_TIMEOUT of the silent board

    const std::map<std::string, nlohmann::json> reports = reportsByPort(r.out);
    ASSERT_EQ(reports.size(), 4u) << r.out;
    for (size_t i = 0; i < sims.size(); ++i) {
        const nlohmann::json& j = reports.at(sims[i]->portPath());
        EXPECT_EQ(j["name"], i == 2 ? "TARGET_TIMEOUT" : "SUCCESS") << j;
        EXPECT_EQ(j["image"], imagePath);
        EXPECT_EQ(j["bytes"], 1000);
        EXPECT_EQ(j["sha256"], IMAGE_1000_SHA256);
        for (const char* key : {"message", "blocks", "seconds", "usb_serial", "retries", "time"}) {
            EXPECT_TRUE(j.contains(key)) << key;
        }
        if (i != 2) {
            EXPECT_EQ(sims[i]->flash(), padded(bytes));
        }
    }

    const std::vector<uint8_t> raw = test::readFile(record);
    const std::vector<std::string> rows = lines(std::string(raw.begin(), raw.end()));
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0],
              "time,port,usb_serial,command,file,sha256,result,seconds,retries,format,image_sha256,"
              "base,serial");
    std::set<std::string> recordedPorts;
    for (size_t i = 1; i < rows.size(); ++i) {
        const std::vector<std::string> f = csvFields(rows[i]);
        ASSERT_EQ(f.size(), 13u) << rows[i];
        recordedPorts.insert(f[1]);
        EXPECT_EQ(f[3], "load");
        EXPECT_EQ(f[4], imagePath);
        EXPECT_EQ(f[5], IMAGE_1000_SHA256);
        EXPECT_EQ(f[6], f[1] == sims[2]->portPath() ? "TARGET_TIMEOUT" : "SUCCESS");
    }
    EXPECT_EQ(recordedPorts.size(), 4u);

    // Piped: every line carries its port, and the last one sums up.
    const std::vector<std::string> err = lines(r.err);
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.back(), "3 of 4 boards succeeded");
    for (size_t i = 0; i + 1 < err.size(); ++i) {
        EXPECT_EQ(err[i].rfind("/dev/pts/", 0), 0u) << err[i];
    }
    EXPECT_NE(r.err.find(sims[2]->portPath() + ": Timeout waiting for response from target"),
              std::string::npos);
}

TEST_F(StationProcessTest, WaitStartsABoardWhoseSimulatorComesLate) {
    auto early = startLinkedSim("early");
    const std::string late = m_dir.file("late");
    const std::vector<uint8_t> bytes = sampleImage(300);
    CliProcess station({"load", m_dir.write("image.bin", bytes), "--port", m_dir.file("early"),
                        "--port", late, "--wait", "30", "--json"});
    ASSERT_TRUE(station.waitForStderr(late + ": waiting for the port", 20000))
        << station.currentStderr();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto lateSim = startLinkedSim("late");
    const CliResult r = station.wait(60000);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(reportsByPort(r.out).size(), 2u);
    EXPECT_EQ(early->flash(), padded(bytes));
    EXPECT_EQ(lateSim->flash(), padded(bytes));

    // A port that never comes is a board that failed, with the reason.
    const CliResult never = runCli({"load", m_dir.file("image.bin"), "--port", m_dir.file("early"),
                                    "--port", m_dir.file("never"), "--wait", "0.5", "--json"});
    EXPECT_EQ(never.exitCode, 10) << never.err;
    EXPECT_EQ(reportsByPort(never.out).at(m_dir.file("never"))["detail"],
              m_dir.file("never") + ": did not appear within 0.5 s");
}

TEST_F(StationProcessTest, LoopFlashesTwoBoardsInARowOnOnePort) {
    const std::string port = m_dir.file("bed");
    const std::vector<uint8_t> bytes = sampleImage(500);
    auto first = startLinkedSim("bed");
    CliProcess station(
        {"load", m_dir.write("image.bin", bytes), "--port", port, "--loop", "--json"});
    ASSERT_TRUE(station.waitForStderr(port + ": passed 1, failed 0", 30000))
        << station.currentStderr();
    EXPECT_EQ(first->flash(), padded(bytes));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(first->transfersEnded(), 1u);  // the same board is not flashed twice
    first->stop();                           // its port goes away ...
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto second = startLinkedSim("bed");  // ... and the next board comes
    ASSERT_TRUE(station.waitForStderr(port + ": passed 2, failed 0", 30000))
        << station.currentStderr();
    station.sendSignal(SIGINT);
    const CliResult r = station.wait(20000);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(second->flash(), padded(bytes));
    EXPECT_EQ(lines(r.out).size(), 2u);
    EXPECT_EQ(lines(r.err).back(), "2 boards passed, 0 failed");
}

TEST_F(StationProcessTest, InterruptCancelsEveryBoardAndWaitsForTheirResults) {
    std::vector<std::string> args{"load", m_dir.write("image.bin", sampleImage(256 * 64)),
                                  "--json"};
    const auto sims = startSlowSims(3, args);
    CliProcess station(args);
    ASSERT_TRUE(allWriting(station, sims));
    station.sendSignal(SIGINT);
    const CliResult r = station.wait(20000);
    EXPECT_EQ(r.exitCode, 8) << r.err;
    EXPECT_LT(r.seconds, 15.0);
    const auto reports = reportsByPort(r.out);
    ASSERT_EQ(reports.size(), 3u) << r.out;
    for (const auto& [port, j] : reports) {
        EXPECT_EQ(j["name"], "DOWNLOAD_CANCELED") << port;
    }
    EXPECT_NE(r.err.find("Canceling every board"), std::string::npos) << r.err;
    // Every child has let go of its port.
    const CliResult again =
        runCli({"load", m_dir.write("small.bin", sampleImage(64)), "--port", sims[1]->portPath()});
    EXPECT_EQ(again.exitCode, 0) << again.err;
}

// Once the boards run, the station goes away: by a second Ctrl-C (it kills them) or killed
// itself (they see the end of their input and cancel). Either way every port is free again.
struct AbruptEnd {
    const char* name;
    std::vector<int> signals;
    int diedOf;
};

class StationAbruptEndTest : public StationProcessTest,
                             public ::testing::WithParamInterface<AbruptEnd> {};

TEST_P(StationAbruptEndTest, NoBoardKeepsItsPort) {
    std::vector<std::string> args{"load", m_dir.write("image.bin", sampleImage(256 * 64))};
    const auto sims = startSlowSims(2, args);
    CliProcess station(args);
    ASSERT_TRUE(allWriting(station, sims));
    for (int signal : GetParam().signals) {
        station.sendSignal(signal);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const CliResult r = station.wait(10000);
    EXPECT_EQ(r.signal, GetParam().diedOf) << r.err;
    const std::string small = m_dir.write("small.bin", sampleImage(64));
    for (const auto& s : sims) {
        // The port opens once the board's process has let go of it.
        CliResult again;
        for (int attempt = 0; attempt < 50; ++attempt) {
            again = runCli({"load", small, "--port", s->portPath(), "--quiet"});
            if (again.exitCode != 10) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_EQ(again.exitCode, 0) << again.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ends, StationAbruptEndTest,
    ::testing::Values(AbruptEnd{"SecondInterrupt", {SIGINT, SIGINT}, SIGINT},
                      AbruptEnd{"SecondTerminate", {SIGTERM, SIGTERM}, SIGTERM},
                      AbruptEnd{"Killed", {SIGKILL}, SIGKILL}),
    [](const ::testing::TestParamInfo<AbruptEnd>& info) { return info.param.name; });

TEST_F(StationProcessTest, TwoStationsAppendingToOneRecordNeverMixTheirLines) {
    std::vector<std::unique_ptr<sim::SimTarget>> sims;
    for (int i = 0; i < 6; ++i) {
        sims.push_back(startSim());
    }
    const std::string imagePath = m_dir.write("image.bin", sampleImage(1000));
    const std::string record = m_dir.file("shared.csv");
    auto station = [&](size_t first) {
        std::vector<std::string> args{"load", imagePath, "--record", record, "--quiet"};
        for (size_t i = first; i < first + 3; ++i) {
            args.insert(args.end(), {"--port", sims[i]->portPath()});
        }
        return std::make_unique<CliProcess>(args);
    };
    auto a = station(0);
    auto b = station(3);
    EXPECT_EQ(a->wait(60000).exitCode, 0);
    EXPECT_EQ(b->wait(60000).exitCode, 0);
    const std::vector<uint8_t> raw = test::readFile(record);
    const std::vector<std::string> rows = lines(std::string(raw.begin(), raw.end()));
    ASSERT_EQ(rows.size(), 7u) << std::string(raw.begin(), raw.end());
    EXPECT_EQ(rows[0].rfind("time,", 0), 0u);
    std::set<std::string> ports;
    for (size_t i = 1; i < rows.size(); ++i) {
        const std::vector<std::string> f = csvFields(rows[i]);
        ASSERT_EQ(f.size(), 13u) << rows[i];
        EXPECT_TRUE(std::regex_match(f[0], std::regex(R"(\d{4}-\d\d-\d\dT[0-9:.]+Z)"))) << f[0];
        EXPECT_EQ(f[5], IMAGE_1000_SHA256);
        EXPECT_EQ(f[6], "SUCCESS");
        ports.insert(f[1]);
    }
    EXPECT_EQ(ports.size(), 6u);
}

TEST_F(StationProcessTest, EventsAreJsonLinesAReaderCanFollow) {
    auto a = startSim();
    auto b = startSim();
    const CliResult r = runCli({"load", m_dir.write("image.bin", sampleImage(5 * 64)), "--port",
                                a->portPath(), "--port", b->portPath(), "--events"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::map<std::string, std::vector<nlohmann::json>> byPort;
    for (const std::string& line : lines(r.out)) {
        const nlohmann::json event = nlohmann::json::parse(line);  // throws on a bad line
        ASSERT_TRUE(event.contains("time")) << line;
        byPort[event.at("port").get<std::string>()].push_back(event);
    }
    ASSERT_EQ(byPort.size(), 2u);
    for (const auto& [port, events] : byPort) {
        ASSERT_GE(events.size(), 3u);
        EXPECT_EQ(events.front()["event"], "start") << port;
        EXPECT_EQ(events.back()["event"], "result") << port;
        EXPECT_EQ(events.back()["name"], "SUCCESS");
        int statuses = 0;
        int progress = 0;
        std::string lastTime;
        for (const nlohmann::json& e : events) {
            statuses += e["event"] == "status" ? 1 : 0;
            progress += e["event"] == "progress" ? 1 : 0;
            EXPECT_GE(e["time"].get<std::string>(), lastTime);  // ISO times sort as text
            lastTime = e["time"];
        }
        // Every status text: connect twice, 5 writes, 5 verifies; every progress value.
        EXPECT_EQ(statuses, 12) << port;
        EXPECT_EQ(progress, 10) << port;
    }
}

TEST_F(StationProcessTest, CryptWritesOneFilePerBoardNamedAfterItsPort) {
    const std::string flash = m_dir.write("flash.bin", sampleImage(700));
    sim::SimOptions loaded;
    loaded.flashIn = flash;
    auto a = startLinkedSim("boardA", loaded);
    auto b = startLinkedSim("boardB", loaded);
    const std::string output = m_dir.file("crypt.bin");
    const CliResult r = runCli({"crypt", output, "--port", m_dir.file("boardA"), "--port",
                                m_dir.file("boardB"), "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(std::filesystem::exists(output));
    const auto reports = reportsByPort(r.out);
    for (const char* name : {"boardA", "boardB"}) {
        const std::string file = m_dir.file(std::string("crypt-") + name + ".bin");
        EXPECT_EQ(test::readFile(file), sim::SimTarget::encrypt(padded(sampleImage(700)))) << file;
        EXPECT_EQ(reports.at(m_dir.file(name))["output"], file);
    }
}

TEST_F(StationProcessTest, PortAllTakesEveryUsbSerialPort) {
    const CliResult r =
        runCli({"load", m_dir.write("image.bin", sampleImage(64)), "--port", "all", "--json"},
               60000, {std::string("TARNLINK_SYSFS_ROOT=") + TARNLINK_CLI_TEST_DATA + "/sysfs"});
    // The fake tree's adapters are not on this machine: every board fails to open its port.
    EXPECT_EQ(r.exitCode, 10) << r.err;
    std::vector<std::string> ports;
    for (const std::string& line : lines(r.out)) {
        const nlohmann::json j = nlohmann::json::parse(line);
        ports.push_back(j["port"]);
        if (j["port"] == "/dev/ttyUSB0") {
            EXPECT_EQ(j["usb_serial"], "A10K3BQZ");  // the adapter's serial, from sysfs
        }
    }
    std::sort(ports.begin(), ports.end());
    EXPECT_EQ(ports, (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyUSB1"}));
}

}  // namespace
}  // namespace tarnlink
