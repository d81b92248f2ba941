#include "cli/station/station_console.h"

#include <algorithm>

#include "cli/report/json_report.h"
#include "cli/report/record_file.h"
#include "cli/report/transfer_events.h"
#include "cli/system/terminal.h"
#include "transfer/transfer_context.h"

namespace tarnlink {

namespace {

std::string tallyText(const PortTally& tally) {
    return "passed " + std::to_string(tally.passed) + ", failed " + std::to_string(tally.failed);
}

std::string resultText(const nlohmann::ordered_json& report) {
    std::string text = jsonText(report, "message");
    if (text.empty()) {
        const std::optional<uint8_t> result = jsonResult(report);
        text = "Result " + (result ? std::to_string(*result) : std::string("unknown"));
    }
    return text;
}

}  // namespace

StationConsole::StationConsole(StationConsoleSettings settings)
    : m_settings(std::move(settings)), m_boards(m_settings.ports.size()) {
    for (const std::string& port : m_settings.ports) {
        m_portWidth = std::max(m_portWidth, port.size());
    }
    m_portWidth = std::min<size_t>(m_portWidth, 28);
}

bool StationConsole::showsText() const {
    return !m_settings.quietJson;
}

void StationConsole::writeOut(const nlohmann::ordered_json& object) {
    writeText(m_settings.out, eventLine(object));
    std::fflush(m_settings.out);
}

void StationConsole::printLines(const std::vector<std::string>& lines) {
    if (lines.empty() || !showsText()) {
        return;
    }
    if (m_settings.mode == OutputMode::LIVE && m_drawnLines > 0) {
        // Up to the top of the picture, wipe it, print above it, draw it again below.
        std::fprintf(m_settings.text, "\x1b[%zuA\r\x1b[J", m_drawnLines);
        m_drawnLines = 0;
    }
    for (const std::string& line : lines) {
        writeText(m_settings.text, line + "\n");
    }
    if (m_settings.mode == OutputMode::LIVE) {
        redraw();
    }
    std::fflush(m_settings.text);
}

std::string StationConsole::liveLine(size_t b, unsigned width) const {
    const Board& board = m_boards[b];
    std::string port = m_settings.ports[b].substr(0, m_portWidth);
    port.resize(m_portWidth, ' ');
    const std::string suffix = m_settings.loop ? "  [" + tallyText(board.tally) + "]" : "";
    const size_t used = port.size() + 2 + suffix.size();
    const unsigned room = width > used + 10 ? static_cast<unsigned>(width - used) : 10;
    std::string body = board.serial.empty() || board.state == State::WAITING
                           ? std::string()
                           : "[" + board.serial + "] ";
    switch (board.state) {
        case State::NONE:
            break;
        case State::WAITING:
            body += board.waitingForNext ? "waiting for the next board" : "waiting for the port";
            break;
        case State::RUNNING:
            body += formatBoardProgress(board.snapshot,
                                        room > body.size() + 10 ? room - unsigned(body.size()) : 10);
            break;
        case State::DONE:
            body += board.result;
            break;
    }
    return (port + "  " + body.substr(0, room) + suffix).substr(0, width);
}

void StationConsole::redraw() {
    if (m_settings.mode != OutputMode::LIVE || !showsText()) {
        return;
    }
    const unsigned width = terminalColumns(m_settings.text) - 1;
    std::string picture;
    for (size_t b = 0; b < m_boards.size(); ++b) {
        picture += "\r" + liveLine(b, width) + "\x1b[K\n";
    }
    if (m_drawnLines > 0) {
        if (picture == m_lastPicture) {
            return;  // a tick with nothing new: the terminal is left alone
        }
        std::fprintf(m_settings.text, "\x1b[%zuA", m_drawnLines);
    }
    m_lastPicture = picture;
    writeText(m_settings.text, picture);
    std::fflush(m_settings.text);
    m_drawnLines = m_boards.size();
}

void StationConsole::boardWaiting(size_t b, bool nextBoard) {
    Board& board = m_boards[b];
    board.state = State::WAITING;
    board.waitingForNext = nextBoard;
    if (m_settings.events) {
        nlohmann::ordered_json event = newEvent("waiting", m_settings.ports[b]);
        event["for"] = nextBoard ? "next_board" : "port";
        writeOut(event);
    }
    if (m_settings.mode == OutputMode::PLAIN) {
        printLines({m_settings.ports[b] + ": " +
                    (nextBoard ? "waiting for the next board" : "waiting for the port")});
    }
    redraw();
}

void StationConsole::boardStarted(size_t b, unsigned number) {
    Board& board = m_boards[b];
    board.state = State::RUNNING;
    board.serial.clear();
    board.snapshot = ProgressSnapshot{};
    board.plainLines = PlainProgressLines{};
    if (m_settings.events) {
        nlohmann::ordered_json event = newEvent("start", m_settings.ports[b]);
        event["board"] = number;
        writeOut(event);
    }
    if (m_settings.mode == OutputMode::PLAIN && m_settings.loop) {
        printLines({m_settings.ports[b] + ": board " + std::to_string(number)});
    }
    redraw();
}

void StationConsole::boardEvent(size_t b, const nlohmann::ordered_json& event) {
    if (m_settings.events) {
        writeOut(event);
    }
    Board& board = m_boards[b];
    if (jsonText(event, "event") == "serial") {
        board.serial = jsonText(event, "serial");
        if (m_settings.mode == OutputMode::PLAIN) {
            printLines({m_settings.ports[b] + ": serial " + board.serial});
        }
        return;
    }
    if (jsonText(event, "event") != "status") {
        return;
    }
    board.snapshot = snapshotFromEvent(event);
    if (m_settings.mode == OutputMode::PLAIN) {
        const std::string step = board.plainLines.lineFor(board.snapshot);
        if (m_settings.verbose) {
            printLines({m_settings.ports[b] + ": " + board.snapshot.status});
        } else if (!step.empty()) {
            printLines({m_settings.ports[b] + ": " + step});
        }
    } else if (m_settings.mode == OutputMode::LIVE && m_settings.verbose) {
        printLines({m_settings.ports[b] + ": " + board.snapshot.status});
    }
    // A live picture is redrawn by tick(), a few times a second, not once per event.
}

void StationConsole::boardNote(size_t b, const std::string& text) {
    if (m_settings.mode != OutputMode::QUIET) {
        printLines({m_settings.ports[b] + ": " + text});
    }
}

void StationConsole::boardResult(size_t b, const nlohmann::ordered_json& report,
                                 const PortTally& tally) {
    Board& board = m_boards[b];
    board.state = State::DONE;
    board.tally = tally;
    const std::optional<uint8_t> result = jsonResult(report);
    const bool passed = result && exitStatusFor(m_settings.kind, *result) == 0;
    ++(passed ? m_succeeded : m_failed);
    board.result = resultText(report);
    if (const auto seconds = report.find("seconds");
        seconds != report.end() && seconds->is_number()) {
        char text[32];
        std::snprintf(text, sizeof text, "  %.1f s", seconds->get<double>());
        board.result += text;
    }

    if (m_settings.events) {
        writeOut(resultEvent(report));
    } else if (m_settings.json) {
        writeOut(report);
    }
    std::string recordError;
    if (!m_settings.recordPath.empty() &&
        !appendRecord(m_settings.recordPath, report, &recordError)) {
        m_recordFailed = true;
        printLines({"cannot append to the record " + m_settings.recordPath + ": " + recordError});
    }

    std::vector<std::string> lines;
    const std::string& port = m_settings.ports[b];
    board.serial = jsonText(report, "serial");
    if (m_settings.mode != OutputMode::LIVE) {
        const std::string serial = board.serial.empty() ? "" : " (serial " + board.serial + ")";
        lines.push_back(port + ": " + resultText(report) + serial);
    }
    if (const std::string detail = jsonText(report, "detail"); !detail.empty()) {
        lines.push_back(port + ": " + detail);
    }
    if (m_settings.loop && m_settings.mode != OutputMode::LIVE) {
        lines.push_back(port + ": " + tallyText(tally));
    }
    printLines(lines);
    redraw();
}

void StationConsole::stationNote(const std::string& text) {
    if (m_settings.mode != OutputMode::QUIET) {
        printLines({text});
    }
}

void StationConsole::tick() {
    redraw();
}

void StationConsole::finish() {
    redraw();
    const unsigned total = m_succeeded + m_failed;
    std::string summary;
    if (m_settings.loop) {
        summary =
            std::to_string(m_succeeded) + " boards passed, " + std::to_string(m_failed) + " failed";
    } else {
        summary = std::to_string(m_succeeded) + " of " + std::to_string(total) +
                  (total == 1 ? " board" : " boards") + " succeeded";
    }
    if (showsText()) {
        writeText(m_settings.text, summary + "\n");
        std::fflush(m_settings.text);
    }
}

}  // namespace tarnlink
