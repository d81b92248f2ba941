// What each board of a station does: it waits for its port, runs a child, and with --loop
// waits for the port to go and come back (the next board); its results are counted here.
#include "cli/station/station_impl.h"

#include <cstdio>

#include "cli/ports/serial_ports.h"
#include "cli/report/transfer_events.h"
#include "transfer/transfer_context.h"

namespace tarnlink {

nlohmann::ordered_json Station::Impl::syntheticReport(size_t board, unsigned number, uint8_t result,
                                                      double elapsed, const std::string& detail) {
    TransferReport report;
    if (settings.reportBase) {
        report = settings.reportBase(board, number);
    }
    report.kind = settings.kind;
    report.port = settings.boards[board].port;
    report.result = result;
    report.seconds = elapsed;
    report.detail = detail;
    report.time = isoTimeNow();
    return transferReportJson(report);
}

void Station::Impl::record(size_t board, const nlohmann::ordered_json& report) {
    BoardSlot& slot = boards[board];
    const uint8_t result = jsonResult(report).value_or(GENERAL_FAILURE);
    if (exitStatusFor(settings.kind, result) == 0) {
        ++slot.tally.passed;
    } else {
        ++slot.tally.failed;
        if (!slot.firstFailure) {
            slot.firstFailure = result;
        }
    }
    listener.boardResult(board, report, slot.tally);
}

void Station::Impl::waitFor(size_t board, bool nextBoard, StationClock::time_point now) {
    BoardSlot& slot = boards[board];
    slot.phase = BoardPhase::WAIT_PORT;
    slot.deadline.reset();
    if (!settings.loop && settings.waitSeconds >= 0) {
        slot.deadline = now + std::chrono::duration_cast<StationClock::duration>(
                                  std::chrono::duration<double>(settings.waitSeconds));
    }
    listener.boardWaiting(board, nextBoard);
}

void Station::Impl::start(size_t board, StationClock::time_point now) {
    BoardSlot& slot = boards[board];
    const unsigned number = ++slot.number;
    auto run = std::make_unique<ChildRun>();
    run->id = nextRunId++;
    run->board = board;
    run->number = number;
    run->started = run->lastHeard = now;
    std::string error;
    run->process = ChildProcess::start(settings.childCommand(board, number), &error);
    if (!run->process) {
        record(board, syntheticReport(board, number, GENERAL_FAILURE, 0,
                                      "cannot start tarnlink-cli for this board: " + error));
        afterEnd(board);
        return;
    }
    run->startReaders(mailbox);
    {
        std::lock_guard lock(runsMutex);
        slot.run = std::move(run);
    }
    slot.phase = BoardPhase::RUNNING;
    listener.boardStarted(board, number);
}

// A board's transfer is over and its process gone: wait for the next board, or stop.
void Station::Impl::afterEnd(size_t board) {
    BoardSlot& slot = boards[board];
    if (settings.loop && !stopping) {
        slot.phase = BoardPhase::WAIT_GONE;
        listener.boardWaiting(board, true);
    } else {
        slot.phase = BoardPhase::DONE;
    }
}

std::string Station::Impl::presenceOf(size_t board) const {
    const std::string& devicePath = settings.boards[board].devicePath;
    return settings.presence ? settings.presence(devicePath) : portPresence(devicePath);
}

void Station::Impl::watchPorts(StationClock::time_point now) {
    if (stopping || now < nextPortPoll) {
        return;
    }
    nextPortPoll = now + settings.portPoll;
    for (size_t b = 0; b < boards.size(); ++b) {
        BoardSlot& slot = boards[b];
        if (slot.phase == BoardPhase::WAIT_GONE) {
            const std::string presence = presenceOf(b);
            if (presence == slot.presenceAtStart) {
                continue;
            }
            slot.phase = BoardPhase::WAIT_PORT;  // gone, or already another board
            slot.deadline.reset();
        }
        if (slot.phase != BoardPhase::WAIT_PORT) {
            continue;
        }
        const std::string presence = presenceOf(b);
        if (!presence.empty()) {
            slot.presenceAtStart = presence;
            start(b, now);
        } else if (slot.deadline && now >= *slot.deadline) {
            char waited[32];
            std::snprintf(waited, sizeof waited, "%g", settings.waitSeconds);
            record(b, syntheticReport(b, slot.number + 1, SERIALPORT_ERROR, settings.waitSeconds,
                                      settings.boards[b].devicePath + ": did not appear within " +
                                          waited + " s"));
            slot.phase = BoardPhase::DONE;
        }
    }
}

bool Station::Impl::finished() const {
    for (const BoardSlot& slot : boards) {
        if (slot.phase == BoardPhase::RUNNING || (!stopping && slot.phase != BoardPhase::DONE)) {
            return false;
        }
    }
    return true;
}

int Station::Impl::exitStatus() const {
    for (const BoardSlot& slot : boards) {
        if (slot.firstFailure) {
            return exitStatusFor(settings.kind, *slot.firstFailure);
        }
    }
    return 0;
}

}  // namespace tarnlink
