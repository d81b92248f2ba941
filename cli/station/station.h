#pragma once
// A station: one child process per board, all at once, each running one transfer and
// telling the station what it does as JSON lines (the --events stream) on its standard
// output. The station survives a child that dies, writes garbage or hangs, and with --loop
// flashes the next board whenever a port goes away and comes back.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/report/json_report.h"

namespace tarnlink {

struct StationBoard {
    std::string port;        ///< as the user named it: the prefix of its lines, "port" in JSON
    std::string devicePath;  ///< where the device appears when a board is plugged in
};

struct StationSettings {
    TransferKind kind = TransferKind::LOAD;
    std::vector<StationBoard> boards;
    bool loop = false;  ///< after each result, wait for the port to go and come back
    /// Without `loop`: seconds to wait for each port to exist before its board counts as
    /// failed; negative: start every board at once, present or not.
    double waitSeconds = -1;
    /// The command line of the child that runs transfer `number` (from 1) on `board`.
    std::function<std::vector<std::string>(size_t board, unsigned number)> childCommand;
    /// What is known of transfer `number` on `board` before it starts: the report given when
    /// its child ends without one (port, file, digest, USB serial).
    std::function<TransferReport(size_t board, unsigned number)> reportBase;
    /// A child not heard from for this long is asked to cancel.
    std::chrono::milliseconds silenceLimit{30000};
    /// A child that has been asked to cancel, or has given its result, and still runs after
    /// this long is killed.
    std::chrono::milliseconds endGrace{10000};
    /// How often a port that is awaited is looked at: on this schedule only, however much
    /// the children print meanwhile (looking costs milliseconds on Windows).
    std::chrono::milliseconds portPoll{100};
    /// What a port's presence is (portPresence); a test may count the looks.
    std::function<std::string(const std::string& devicePath)> presence;
    /// How often tick() is called; 0: never (no live view to redraw).
    std::chrono::milliseconds tick{0};
};

/// Passes and failures of one port so far.
struct PortTally {
    unsigned passed = 0;
    unsigned failed = 0;
};

/// What a station tells its console, always on the thread that runs it.
class StationListener {
  public:
    virtual ~StationListener() = default;
    /// Board `board` waits: for its port (`nextBoard` false) or, with --loop, for the next
    /// board on it.
    virtual void boardWaiting(size_t board, bool nextBoard) = 0;
    /// Transfer `number` (from 1) on `board` has started.
    virtual void boardStarted(size_t board, unsigned number) = 0;
    /// A status or progress event of the child (a JSON object with "event").
    virtual void boardEvent(size_t board, const nlohmann::ordered_json& event) = 0;
    /// A line the child wrote to its standard error, or a word of the station about it.
    virtual void boardNote(size_t board, const std::string& text) = 0;
    /// The board's report (transferReportJson), and the port's tally with it counted.
    virtual void boardResult(size_t board, const nlohmann::ordered_json& report,
                             const PortTally& tally) = 0;
    /// A word of the station about all boards ("Canceling...").
    virtual void stationNote(const std::string& text) = 0;
    /// Called every `tick` while the station runs.
    virtual void tick() {}
};

class Station {
  public:
    Station(StationSettings settings, StationListener& listener);
    ~Station();  ///< kills and reaps any child still running
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    /// Runs until every board has its result, or, after requestStop(), until every
    /// running board has ended. Returns the exit status: 0 when every board succeeded,
    /// otherwise the result's exit status of the first failing board in the order of
    /// `boards` (with --loop: that port's first failure). One thread.
    int run();

    /// Cancels every running board and starts no new one; run() returns once the running
    /// boards have given their results. Any thread; never waits.
    void requestStop();

    /// Kills every child at once, without waiting for anything. Any thread.
    void killAll();

    struct Impl;

  private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace tarnlink
