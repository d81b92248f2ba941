#pragma once
// What a station shows and writes: on a terminal one live line per board (port, phase,
// bar, percent, rate, then the result); piped, plain lines each prefixed with the port;
// on stdout the --json reports or the --events stream; and the --record lines.

#include <cstdio>
#include <string>
#include <vector>

#include "cli/report/transfer_progress.h"
#include "cli/station/station.h"

namespace tarnlink {

struct StationConsoleSettings {
    TransferKind kind = TransferKind::LOAD;
    std::vector<std::string> ports;  ///< in --port order
    OutputMode mode = OutputMode::PLAIN;
    bool verbose = false;
    bool json = false;
    bool events = false;
    bool loop = false;
    bool quietJson = false;  ///< --quiet with --json or --events: nothing on stderr at all
    std::string recordPath;
    std::FILE* text = stderr;
    std::FILE* out = stdout;
};

class StationConsole : public StationListener {
  public:
    explicit StationConsole(StationConsoleSettings settings);

    void boardWaiting(size_t board, bool nextBoard) override;
    void boardStarted(size_t board, unsigned number) override;
    void boardEvent(size_t board, const nlohmann::ordered_json& event) override;
    void boardNote(size_t board, const std::string& text) override;
    void boardResult(size_t board, const nlohmann::ordered_json& report,
                     const PortTally& tally) override;
    void stationNote(const std::string& text) override;
    void tick() override;

    /// The station has ended: the last picture and a summary line.
    void finish();
    /// True when a record line could not be written.
    bool recordFailed() const { return m_recordFailed; }

  private:
    enum class State { NONE, WAITING, RUNNING, DONE };
    struct Board {
        State state = State::NONE;
        bool waitingForNext = false;
        ProgressSnapshot snapshot;
        PlainProgressLines plainLines;
        std::string result;
        std::string serial;  ///< the board's own value, once its child has said it
        PortTally tally;
    };

    void printLines(const std::vector<std::string>& lines);
    void redraw();
    std::string liveLine(size_t board, unsigned width) const;
    void writeOut(const nlohmann::ordered_json& object);
    bool showsText() const;

    StationConsoleSettings m_settings;
    std::vector<Board> m_boards;
    size_t m_portWidth = 0;
    size_t m_drawnLines = 0;
    std::string m_lastPicture;  ///< what the live lines show now
    unsigned m_succeeded = 0;
    unsigned m_failed = 0;
    bool m_recordFailed = false;
};

}  // namespace tarnlink
