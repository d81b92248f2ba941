// The station's orchestration against stand-in children (small shell scripts): a child that
// writes garbage, dies, hangs, answers a cancel; --wait and --loop on files that stand in
// for ports. The real tarnlink-cli as the child: station_process_test.cpp.
#include "cli/station/station.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "tests/support/temp_dir.h"
#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

using namespace std::chrono_literals;

void touch(const std::string& path) {
    std::ofstream(path).put('x');
}

std::string resultLine(int result) {
    return "echo '{\"event\":\"result\",\"port\":\"whatever\",\"result\":" +
           std::to_string(result) + ",\"name\":\"x\"}'";
}

constexpr const char* STATUS_LINE =
    "echo '{\"event\":\"status\",\"text\":\"Sending Data Packet 0\",\"phase\":\"write\"}'";

// Everything the station told its console, in order.
class RecordingListener : public StationListener {
  public:
    struct Result {
        size_t board;
        nlohmann::ordered_json report;
        PortTally tally;
    };

    void boardWaiting(size_t board, bool nextBoard) override {
        log("waiting " + std::to_string(board) + (nextBoard ? " next" : " port"));
    }
    void boardStarted(size_t board, unsigned number) override {
        log("started " + std::to_string(board) + " #" + std::to_string(number));
        ++started;
    }
    void boardEvent(size_t board, const nlohmann::ordered_json& event) override {
        log("event " + std::to_string(board) + " " + event.value("event", "") + " " +
            event.value("port", ""));
    }
    void boardNote(size_t board, const std::string& text) override {
        log("note " + std::to_string(board) + " " + text);
    }
    void boardResult(size_t board, const nlohmann::ordered_json& report,
                     const PortTally& tally) override {
        log("result " + std::to_string(board) + " " + std::to_string(report.value("result", -1)));
        std::lock_guard lock(mutex);
        results.push_back({board, report, tally});
        resultCount.store(results.size());
    }
    void stationNote(const std::string& text) override { log("station " + text); }

    std::vector<std::string> linesStartingWith(const std::string& prefix) {
        std::lock_guard lock(mutex);
        std::vector<std::string> out;
        for (const std::string& line : lines) {
            if (line.rfind(prefix, 0) == 0) {
                out.push_back(line);
            }
        }
        return out;
    }
    Result resultOf(size_t board) {
        std::lock_guard lock(mutex);
        for (const Result& r : results) {
            if (r.board == board) {
                return r;
            }
        }
        ADD_FAILURE() << "no result for board " << board;
        return {};
    }

    std::mutex mutex;
    std::vector<std::string> lines;
    std::vector<Result> results;
    std::atomic<size_t> resultCount{0};
    std::atomic<int> started{0};

  private:
    void log(const std::string& line) {
        std::lock_guard lock(mutex);
        lines.push_back(line);
    }
};

StationSettings settingsFor(const std::vector<std::string>& scripts) {
    StationSettings settings;
    for (size_t b = 0; b < scripts.size(); ++b) {
        settings.boards.push_back(
            {"port" + std::to_string(b), "/nonexistent/port" + std::to_string(b)});
    }
    settings.childCommand = [scripts](size_t board, unsigned) {
        return std::vector<std::string>{"/bin/sh", "-c", scripts[board]};
    };
    settings.reportBase = [](size_t board, unsigned) {
        TransferReport report;
        report.file = "image-" + std::to_string(board) + ".bin";
        return report;
    };
    return settings;
}

TEST(StationTest, GarbageADeathAndSilenceEachEndInAReport) {
    RecordingListener listener;
    Station station(settingsFor({
                        // garbage, a status, then a good result
                        "echo hello; echo '{not json'; echo '[1,2]'; " + std::string(STATUS_LINE) +
                            "; " + resultLine(0),
                        // a status, then killed without a result
                        std::string(STATUS_LINE) + "; kill -9 $$",
                        // a complaint on stderr and an exit without a result
                        "echo trouble >&2; exit 3",
                    }),
                    listener);
    EXPECT_EQ(station.run(), GENERAL_FAILURE);  // board 1 is the first that failed

    const auto good = listener.resultOf(0);
    EXPECT_EQ(good.report["result"], 0);
    EXPECT_EQ(good.report["port"], "port0");  // the station's name wins over the child's
    EXPECT_EQ(listener.linesStartingWith("note 0"),
              (std::vector<std::string>{"note 0 ignored output that is not an event: hello"}));
    EXPECT_EQ(listener.linesStartingWith("event 0"),
              (std::vector<std::string>{"event 0 status port0"}));

    const auto died = listener.resultOf(1);
    EXPECT_EQ(died.report["result"], GENERAL_FAILURE);
    EXPECT_EQ(died.report["name"], "GENERAL_FAILURE");
    EXPECT_EQ(died.report["image"], "image-1.bin");
    EXPECT_EQ(died.report["detail"],
              "tarnlink-cli for this board ended without a result (killed by signal 9 (Killed))");

    const auto exited = listener.resultOf(2);
    EXPECT_EQ(exited.report["detail"],
              "tarnlink-cli for this board ended without a result (exit status 3)");
    // What it said on stderr comes before the word about its end.
    const std::vector<std::string> notes = listener.linesStartingWith("note 2");
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0], "note 2 trouble");
}

TEST(StationTest, ExitStatusIsThatOfTheFirstFailingBoardInPortOrder) {
    RecordingListener listener;
    Station station(settingsFor({resultLine(0), "sleep 0.3; " + resultLine(7), resultLine(6),
                                 "echo '{\"event\":\"result\",\"result\":\"six\"}'"}),
                    listener);
    // Board 2's TARGET_TIMEOUT comes first in time, board 1's VERIFY_FAILED first in order.
    EXPECT_EQ(station.run(), VERIFY_FAILED);
    EXPECT_EQ(listener.resultOf(2).report["result"], TARGET_TIMEOUT);
    // A result without a valid number is garbage: the child ended without a result.
    EXPECT_EQ(listener.resultOf(3).report["result"], GENERAL_FAILURE);
    EXPECT_EQ(listener.resultCount.load(), 4u);
}

TEST(StationTest, AHungChildIsAskedToCancelAndKilledWhenItDoesNotEnd) {
    RecordingListener listener;
    StationSettings settings = settingsFor({
        "exec sleep 30",                                          // ignores everything
        "read line; [ \"$line\" = cancel ] && " + resultLine(8),  // answers the cancel
    });
    settings.silenceLimit = 200ms;
    settings.endGrace = 300ms;
    Station station(std::move(settings), listener);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(station.run(), GENERAL_FAILURE);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(listener.resultOf(0).report["detail"],
              "tarnlink-cli for this board stopped responding and was killed");
    EXPECT_EQ(listener.resultOf(1).report["result"], DOWNLOAD_CANCELED);
    EXPECT_EQ(listener.linesStartingWith("note 0 no word").size(), 1u);
}

TEST(StationTest, StopCancelsRunningBoardsAndWaitsForTheirResults) {
    test::TempDir dir;
    const std::string answerCancel = "read line; [ \"$line\" = cancel ] && " + resultLine(8);
    StationSettings settings = settingsFor({answerCancel, answerCancel, answerCancel});
    settings.boards[0].devicePath = dir.write("port0", {});
    settings.boards[1].devicePath = dir.write("port1", {});
    settings.boards[2].devicePath = dir.file("never");  // waits for its port
    settings.waitSeconds = 30;
    RecordingListener listener;
    Station station(std::move(settings), listener);
    std::thread stopper([&] {
        while (listener.started.load() < 2) {
            std::this_thread::sleep_for(10ms);
        }
        station.requestStop();
    });
    EXPECT_EQ(station.run(), DOWNLOAD_CANCELED);
    stopper.join();
    EXPECT_EQ(listener.resultOf(0).report["result"], DOWNLOAD_CANCELED);
    EXPECT_EQ(listener.resultOf(1).report["result"], DOWNLOAD_CANCELED);
    EXPECT_EQ(listener.resultOf(2).report["detail"], "canceled while waiting for the port");
    EXPECT_EQ(listener.linesStartingWith("started 2").size(), 0u);
}

TEST(StationTest, WaitStartsABoardWhenItsPortAppearsAndGivesUpOnOneThatNeverDoes) {
    test::TempDir dir;
    StationSettings settings = settingsFor({resultLine(0), resultLine(0)});
    settings.boards[0].devicePath = dir.file("late");
    settings.boards[1].devicePath = dir.file("never");
    settings.waitSeconds = 1.5;
    settings.portPoll = 20ms;
    RecordingListener listener;
    Station station(std::move(settings), listener);
    std::thread plug([&] {
        std::this_thread::sleep_for(300ms);
        touch(dir.file("late"));
    });
    EXPECT_EQ(station.run(), SERIALPORT_ERROR);
    plug.join();
    EXPECT_EQ(listener.resultOf(0).report["result"], SUCCESS);
    EXPECT_EQ(listener.resultOf(1).report["detail"],
              dir.file("never") + ": did not appear within 1.5 s");
    EXPECT_EQ(listener.linesStartingWith("waiting").size(), 2u);
}

TEST(StationTest, LoopFlashesEveryNewBoardOnItsPort) {
    test::TempDir dir;
    const std::string port = dir.write("port", {});
    StationSettings settings = settingsFor({""});
    settings.boards[0].devicePath = port;
    settings.loop = true;
    settings.portPoll = 20ms;
    std::vector<unsigned> numbers;
    settings.childCommand = [&](size_t, unsigned number) {
        numbers.push_back(number);
        return std::vector<std::string>{"/bin/sh", "-c", resultLine(number == 2 ? 7 : 0)};
    };
    RecordingListener listener;
    Station station(std::move(settings), listener);
    std::thread swapBoards([&] {
        // Bounded, so a station that misses a board fails the test instead of hanging it.
        auto waitFor = [&](size_t results) {
            for (int i = 0; i < 1000 && listener.resultCount.load() < results; ++i) {
                std::this_thread::sleep_for(10ms);
            }
            // Let the station see the board still there; it must not flash it again.
            std::this_thread::sleep_for(200ms);
        };
        waitFor(1);
        std::filesystem::remove(port);  // unplugged ...
        std::this_thread::sleep_for(100ms);
        touch(port);  // ... and the next board plugged in
        waitFor(2);
        // Swapped faster than the station looks: a new device in the same place.
        touch(port + ".new");
        std::filesystem::rename(port + ".new", port);
        waitFor(3);
        station.requestStop();
    });
    EXPECT_EQ(station.run(), VERIFY_FAILED);  // the port's first failure
    swapBoards.join();
    EXPECT_EQ(numbers, (std::vector<unsigned>{1, 2, 3}));
    const auto last = listener.results.back();
    EXPECT_EQ(last.tally.passed, 2u);
    EXPECT_EQ(last.tally.failed, 1u);
    EXPECT_EQ(listener.linesStartingWith("waiting 0 next").size(), 3u);
}

// Looking at a port costs milliseconds on Windows: a board that waits for its port is looked
// at every portPoll, not each time another board's child prints a line.
TEST(StationTest, AnAwaitedPortIsLookedAtOnThePollScheduleOnly) {
    constexpr int LINES = 150;
    StationSettings settings = settingsFor(
        {resultLine(0), "i=0; while [ $i -lt " + std::to_string(LINES) + " ]; do " + STATUS_LINE +
                            "; sleep 0.01; i=$((i + 1)); done; " + resultLine(0)});
    settings.waitSeconds = 60;
    settings.portPoll = 200ms;
    RecordingListener listener;
    std::atomic<int> looks{0};
    std::atomic<bool> printing{true};
    // Board 1's port is there; board 0's comes once board 1 has its result.
    settings.presence = [&](const std::string& devicePath) -> std::string {
        if (devicePath == "/nonexistent/port1") {
            return "there";
        }
        if (printing.load()) {
            ++looks;
        }
        return listener.resultCount.load() > 0 ? "there" : "";
    };
    Station station(std::move(settings), listener);
    const auto start = std::chrono::steady_clock::now();
    std::thread stopCounting([&] {
        for (int i = 0; i < 3000 && listener.resultCount.load() == 0; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        printing.store(false);
    });
    EXPECT_EQ(station.run(), 0);
    stopCounting.join();
    const auto printed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(listener.linesStartingWith("event 1 status").size(), static_cast<size_t>(LINES));
    // One look at the start, then one per poll interval (and a spare for the edges).
    EXPECT_LE(looks.load(), 3 + printed / 200ms) << "in " << (printed / 1ms) << " ms";
    EXPECT_EQ(listener.resultOf(0).report["result"], SUCCESS);
}

}  // namespace
}  // namespace tarnlink
