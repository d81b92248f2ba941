#pragma once
// The inside of a Station, shared by the files it is made of: child_run.cpp (a board's
// child process and its readers), board_slots.cpp (what each board does: waiting for its
// port, running, done, and its tally), event_loop.cpp (the loop that handles what the
// children say, and the stop), timeouts.cpp (a silent child, a child that does not end,
// and when the loop wakes next) and station.cpp (the class around it, and killAll).

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/station/child_run.h"
#include "cli/station/station.h"

namespace tarnlink {

enum class BoardPhase { WAIT_PORT, RUNNING, WAIT_GONE, DONE };

/// One board of the station (one port): what it does now and how its transfers went.
struct BoardSlot {
    BoardPhase phase = BoardPhase::WAIT_PORT;
    unsigned number = 0;  // transfers started on this port
    PortTally tally;
    std::optional<uint8_t> firstFailure;
    std::string presenceAtStart;
    std::optional<StationClock::time_point> deadline;
    std::unique_ptr<ChildRun> run;
};

struct Station::Impl {
    StationSettings settings;
    StationListener& listener;
    StationMailbox mailbox;
    std::deque<StationMessage> batch;  // taken from the mailbox, being handled; loop only
    std::vector<BoardSlot> boards;

    std::mutex runsMutex;  // guards every BoardSlot::run against killAll
    std::atomic<bool> stopRequested{false};
    bool stopping = false;
    uint64_t nextRunId = 1;
    StationClock::time_point nextPortPoll{};  // watchPorts looks no earlier

    Impl(StationSettings s, StationListener& l);
    ~Impl();

    // board_slots.cpp
    nlohmann::ordered_json syntheticReport(size_t board, unsigned number, uint8_t result,
                                           double elapsed, const std::string& detail);
    void record(size_t board, const nlohmann::ordered_json& report);
    void waitFor(size_t board, bool nextBoard, StationClock::time_point now);
    void start(size_t board, StationClock::time_point now);
    void afterEnd(size_t board);
    void watchPorts(StationClock::time_point now);
    std::string presenceOf(size_t board) const;
    bool finished() const;
    int exitStatus() const;

    // event_loop.cpp
    int run();
    void onStop(StationClock::time_point now);
    ChildRun* runById(uint64_t id);
    void noteGarbage(ChildRun& run, const std::string& line);
    void onOutputLine(ChildRun& run, const std::string& line, StationClock::time_point now);
    void onEnded(const StationMessage& ended, StationClock::time_point now);

    // timeouts.cpp
    void watchChildren(StationClock::time_point now);
    std::optional<StationClock::time_point> nextDeadline(StationClock::time_point now,
                                                         StationClock::time_point nextTick) const;

    // station.cpp
    void killAll();
};

}  // namespace tarnlink
