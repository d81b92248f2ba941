#pragma once
// One transfer on one of a station's boards: the child process that runs it, the two
// threads that read the child's output and errors line by line, and what the station has
// seen of it so far. The readers hand every line to the station's mailbox, which the
// station's loop empties on its own thread.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "cli/process/child_process.h"

namespace tarnlink {

using StationClock = std::chrono::steady_clock;

/// What reaches the station's loop: a line of a child's output or errors, a child's end,
/// or a stop request.
struct StationMessage {
    enum Kind { OUTPUT_LINE, ERROR_LINE, ENDED, STOP } kind = STOP;
    uint64_t run = 0;  ///< ChildRun::id; 0 for STOP
    size_t board = 0;
    std::string text;
    ChildExit exit;  ///< ENDED only
};

/// Moves the ERROR_LINE messages of run `run` from `from` to the end of `into`, in order.
void takeErrorLines(std::deque<StationMessage>& from, uint64_t run,
                    std::deque<StationMessage>& into);

/// Where the readers and requestStop leave their messages for the station's loop.
class StationMailbox {
  public:
    /// Any thread; never waits for the loop.
    void post(StationMessage message);
    /// Waits until a message is there or `deadline` has passed (none: for the first
    /// message), then moves every message into `into`, which must be empty. Loop thread.
    void takeAll(std::deque<StationMessage>& into,
                 std::optional<StationClock::time_point> deadline);
    /// takeErrorLines on what is still in the mailbox. Loop thread.
    void takeErrorLines(uint64_t run, std::deque<StationMessage>& into);

  private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<StationMessage> m_messages;  // guarded by m_mutex
};

struct ChildRun {
    uint64_t id = 0;
    size_t board = 0;
    unsigned number = 0;
    std::unique_ptr<ChildProcess> process;
    std::thread outputReader;
    std::thread errorReader;
    StationClock::time_point started;
    StationClock::time_point lastHeard;
    std::optional<StationClock::time_point> cancelAt;
    std::optional<StationClock::time_point> resultAt;
    bool killed = false;
    bool garbageNoted = false;
    bool reported = false;
    /// What the child said its board was given ("serial", "image_sha256" of its "serial"
    /// event): part of the report the station makes when the child ends without one.
    nlohmann::ordered_json given = nlohmann::ordered_json::object();

    /// Starts the two readers: each line the child writes goes to `mailbox`, and when its
    /// output ends, its end (once it has been reaped). `process` must be set.
    void startReaders(StationMailbox& mailbox);
    /// Waits for the readers to end (they end with the child's output and errors).
    void joinReaders();
    /// Asks the child to cancel its transfer: a line "cancel" on its standard input.
    void cancel(StationClock::time_point now);
};

}  // namespace tarnlink
