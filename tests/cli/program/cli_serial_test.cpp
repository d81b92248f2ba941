// tarnlink-cli giving each board its own value, against simulated targets: stations that
// share a counter, a board that fails, a station killed in the middle of a list, a dry run,
// and a verify of a board flashed with its value.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "cli/report/sha256.h"
#include "sim/sim_target.h"
#include "tests/cli/cli_process.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_dir.h"

namespace tarnlink {
namespace {

using Bytes = std::vector<uint8_t>;
using test::CliProcess;
using test::CliResult;
using test::runCli;

constexpr size_t SERIAL_AT = 0x100;  // past the image's end: the image grows with 0xFF

std::vector<std::unique_ptr<sim::SimTarget>> startSims(size_t count, sim::SimOptions options = {}) {
    std::vector<std::unique_ptr<sim::SimTarget>> sims;
    for (size_t i = 0; i < count; ++i) {
        sims.push_back(std::make_unique<sim::SimTarget>(options));
        EXPECT_TRUE(sims.back()->start());
    }
    return sims;
}

std::vector<std::string> portArguments(const std::vector<std::unique_ptr<sim::SimTarget>>& sims) {
    std::vector<std::string> args;
    for (const auto& target : sims) {
        args.insert(args.end(), {"--port", target->portPath()});
    }
    return args;
}

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// The record's rows after its header, each split at its commas (no field here holds one).
std::vector<std::vector<std::string>> recordRows(const std::string& path) {
    const Bytes raw = test::readFile(path);
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : test::lines(std::string(raw.begin(), raw.end()))) {
        std::vector<std::string> fields{""};
        for (const char c : line) {
            if (c == ',') {
                fields.emplace_back();
            } else {
                fields.back().push_back(c);
            }
        }
        rows.push_back(fields);
    }
    EXPECT_FALSE(rows.empty());
    EXPECT_EQ(rows.front().back(), "serial") << "the serial is the last column";
    return {rows.begin() + std::min<size_t>(rows.size(), 1), rows.end()};
}

// The image a board with `value` (u32le) gets, padded to whole blocks as its flash holds it.
Bytes boardImage(Bytes image, uint32_t value) {
    image.resize(SERIAL_AT + 4, 0xFF);
    for (int i = 0; i < 4; ++i) {
        image[SERIAL_AT + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return image;
}

class CliSerialTest : public ::testing::Test {
  protected:
    test::TempDir m_dir;
    Bytes m_image = test::sampleImage(200, 23);
    std::string m_path = m_dir.write("fw.bin", m_image);
    std::string m_counter = m_dir.file("next.txt");
    std::string m_record = m_dir.file("line.csv");

    std::vector<std::string> loadArgs(const std::vector<std::unique_ptr<sim::SimTarget>>& sims) {
        std::vector<std::string> args{"load",          m_path,     "--serial-at",
                                      "0x100",         "--serial-format", "u32le",
                                      "--serial-counter", m_counter, "--record",
                                      m_record,        "--quiet"};
        const std::vector<std::string> ports = portArguments(sims);
        args.insert(args.end(), ports.begin(), ports.end());
        return args;
    }
};

// Two stations of eight boards on one machine share the counter. A dry run first shows what
// the sixteen boards then get, and takes nothing.
TEST_F(CliSerialTest, TwoStationsSharingACounterGiveSixteenDistinctConsecutiveValues) {
    auto first = startSims(8);
    auto second = startSims(8);
    std::vector<std::string> dryRun = loadArgs(first);
    dryRun.insert(dryRun.end(), {"--serial-start", "1000", "--dry-run", "16", "--json"});
    const CliResult plan = runCli(dryRun);
    ASSERT_EQ(plan.exitCode, 0) << plan.err;
    EXPECT_FALSE(std::filesystem::exists(m_counter)) << "a dry run makes no counter";
    const nlohmann::json planned = nlohmann::json::parse(plan.out);
    ASSERT_EQ(planned.size(), 16u);
    std::map<std::string, std::string> plannedImages;  // serial -> image SHA-256
    for (const auto& board : planned) {
        plannedImages[board["serial"]] = board["image_sha256"];
    }

    m_dir.write("next.txt", bytesOf("1000\n"));
    CliProcess a(loadArgs(first));
    CliProcess b(loadArgs(second));
    EXPECT_EQ(a.wait(120000).exitCode, 0) << a.currentStderr();
    EXPECT_EQ(b.wait(120000).exitCode, 0) << b.currentStderr();
    EXPECT_EQ(test::readFile(m_counter), bytesOf("1016\n"));

    std::map<std::string, const sim::SimTarget*> byPort;
    for (const auto* sims : {&first, &second}) {
        for (const auto& target : *sims) {
            byPort[target->portPath()] = target.get();
        }
    }
    std::set<uint32_t> values;
    const auto rows = recordRows(m_record);
    ASSERT_EQ(rows.size(), 16u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 13u);
        EXPECT_EQ(row[6], "SUCCESS");
        const uint32_t value = static_cast<uint32_t>(std::stoul(row[12]));
        values.insert(value);
        // The board's flash holds its own value at the offset and the image elsewhere; the
        // record names that board's image, as the dry run foresaw it.
        const Bytes flash = boardImage(m_image, value);
        ASSERT_TRUE(byPort.count(row[1])) << row[1];
        EXPECT_EQ(byPort[row[1]]->flash(), test::padded(flash)) << row[1];
        EXPECT_EQ(row[10], sha256Of(flash));
        EXPECT_EQ(plannedImages[row[12]], row[10]) << row[12];
    }
    EXPECT_EQ(values.size(), 16u) << "a value was given twice";
    EXPECT_EQ(*values.begin(), 1000u);
    EXPECT_EQ(*values.rbegin(), 1015u);
}

// A board that fails has burned its value: it is recorded with the failure, and the next
// board gets the next one.
TEST_F(CliSerialTest, AFailedBoardsValueIsRecordedAndNeverGivenAgain) {
    m_dir.write("next.txt", bytesOf("7\n"));
    sim::SimOptions refusing;
    refusing.refuseWrite = 2;
    auto bad = startSims(1, refusing);
    auto good = startSims(1);
    std::vector<std::string> args = loadArgs(bad);
    args.insert(args.end(), {"--json"});
    const CliResult failed = runCli(args);
    EXPECT_NE(failed.exitCode, 0);
    const nlohmann::json report = nlohmann::json::parse(failed.out);
    EXPECT_EQ(report["serial"], "7");
    EXPECT_EQ(report["image_sha256"], sha256Of(boardImage(m_image, 7)));
    EXPECT_EQ(runCli(loadArgs(good)).exitCode, 0);
    const auto rows = recordRows(m_record);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][12], "7");
    EXPECT_EQ(rows[0][6], report["name"]);
    EXPECT_EQ(rows[1][12], "8");
    EXPECT_EQ(good[0]->flash(), test::padded(boardImage(m_image, 8)));
}

// The list's used marks are written before a value is handed out: a station killed with
// SIGKILL in the middle of its boards gives none of their values again after a restart.
TEST_F(CliSerialTest, AStationKilledInTheMiddleOfAListGivesNoValueTwice) {
    std::string list;
    for (int i = 0; i < 12; ++i) {
        list += "02:00:00:00:00:" + std::string(i < 10 ? "0" : "1") + std::to_string(i % 10) + "\n";
    }
    const std::string listPath = m_dir.write("macs.txt", bytesOf(list));
    sim::SimOptions slow;
    slow.delayMs = 300;  // boards still busy when the station is killed
    auto killed = startSims(4, slow);
    std::vector<std::string> args{"load", m_path, "--serial-at", "0x100", "--serial-list", listPath,
                                  "--quiet"};
    const std::vector<std::string> ports = portArguments(killed);
    args.insert(args.end(), ports.begin(), ports.end());
    {
        CliProcess station(args);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline &&
               (!std::filesystem::exists(listPath + ".used") ||
                test::readFile(listPath + ".used").size() < 8)) {  // four marks
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        station.sendSignal(SIGKILL);
        station.wait(30000);
    }
    auto restarted = startSims(4);
    args.resize(7);
    const std::vector<std::string> more = portArguments(restarted);
    args.insert(args.end(), more.begin(), more.end());
    const CliResult second = runCli(args);
    EXPECT_EQ(second.exitCode, 0) << second.err;
    const Bytes marks = test::readFile(listPath + ".used");
    const std::vector<std::string> used = test::lines(std::string(marks.begin(), marks.end()));
    EXPECT_EQ(used.size(), 8u);
    EXPECT_EQ(std::set<std::string>(used.begin(), used.end()).size(), used.size());
    std::set<uint8_t> given;  // the last byte of each value the restarted boards hold
    for (const auto& target : restarted) {
        const Bytes flash = target->flash();
        ASSERT_GE(flash.size(), SERIAL_AT + 6);
        given.insert(flash[SERIAL_AT + 5]);
    }
    EXPECT_EQ(given, (std::set<uint8_t>{0x04, 0x05, 0x06, 0x07}));
}

// The pid of the station's child that runs the board on `port`; 0 when there is none.
pid_t stationChildOf(const std::string& port) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const Bytes raw = test::readFile(entry.path().string() + "/cmdline");
        std::string line(raw.begin(), raw.end());
        std::replace(line.begin(), line.end(), '\0', ' ');
        if (line.find("--station-child") != std::string::npos &&
            line.find(" " + port + " ") != std::string::npos) {
            return static_cast<pid_t>(std::stol(name));
        }
    }
    return 0;
}

// A board whose process dies after it has taken its value: the station records the value
// with the failure, from the board's "serial" event.
TEST_F(CliSerialTest, ABoardWhoseProcessDiesIsRecordedWithTheValueItTook) {
    m_dir.write("next.txt", bytesOf("40\n"));
    sim::SimOptions slow;
    slow.delayMs = 400;  // the board to be killed is still busy
    auto sims = startSims(1);
    sims.push_back(std::move(startSims(1, slow).front()));
    CliProcess station(loadArgs(sims));
    pid_t child = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline &&
           (test::readFile(m_counter) != bytesOf("42\n") ||
            (child = stationChildOf(sims[1]->portPath())) == 0)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_NE(child, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // it has said its value
    ::kill(child, SIGKILL);
    EXPECT_NE(station.wait(60000).exitCode, 0);
    std::map<std::string, std::vector<std::string>> byPort;
    for (const auto& row : recordRows(m_record)) {
        byPort[row[1]] = row;
    }
    ASSERT_EQ(byPort.size(), 2u);
    const auto& killed = byPort[sims[1]->portPath()];
    EXPECT_EQ(killed[6], "GENERAL_FAILURE");
    EXPECT_TRUE(killed[12] == "40" || killed[12] == "41") << killed[12];
    EXPECT_EQ(killed[10], sha256Of(boardImage(m_image, std::stoul(killed[12]))));
    EXPECT_NE(killed[12], byPort[sims[0]->portPath()][12]);
}

// A board flashed again or verified later is given its value on the command line.
TEST_F(CliSerialTest, AVerifyComparesTheBoardWithTheValueItWasGiven) {
    auto board = startSims(1);
    const std::vector<std::string> given{"--serial-at", "0x100", "--serial-format", "u32le",
                                         "--port", board[0]->portPath()};
    auto run = [&](const char* command, const char* value) {
        std::vector<std::string> args{command, m_path, "--serial-value", value};
        args.insert(args.end(), given.begin(), given.end());
        return runCli(args).exitCode;
    };
    EXPECT_EQ(run("load", "31337"), 0);
    EXPECT_EQ(board[0]->flash(), test::padded(boardImage(m_image, 31337)));
    EXPECT_EQ(run("verify", "31337"), 0);
    EXPECT_EQ(run("verify", "31338"), 7);
    const CliResult counter =
        runCli({"verify", m_path, "--serial-at", "0x100", "--serial-format", "u32le",
                "--serial-counter", m_counter, "--port", board[0]->portPath()});
    EXPECT_EQ(counter.exitCode, 64);
    EXPECT_NE(counter.err.find("give its value with --serial-value"), std::string::npos)
        << counter.err;
}

}  // namespace
}  // namespace tarnlink
