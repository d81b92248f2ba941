// A station never waits for a child for good: one that says nothing for silenceLimit is
// asked to cancel, and one that has been asked to cancel, or has given its result, and
// still runs after endGrace is killed. nextDeadline tells the loop when to look again.
#include <algorithm>

#include "cli/station/station_impl.h"

namespace tarnlink {

namespace {

std::string seconds(std::chrono::milliseconds ms) {
    const long long whole = ms.count() / 1000;
    return std::to_string(whole) + " s";
}

}  // namespace

void Station::Impl::watchChildren(StationClock::time_point now) {
    for (BoardSlot& slot : boards) {
        ChildRun* run = slot.run.get();
        if (slot.phase != BoardPhase::RUNNING || run == nullptr || run->killed) {
            continue;
        }
        if (!run->reported && !run->cancelAt && now - run->lastHeard >= settings.silenceLimit) {
            listener.boardNote(run->board, "no word from its tarnlink-cli for " +
                                               seconds(settings.silenceLimit) +
                                               "; asking it to cancel");
            run->cancel(now);
        }
        const std::optional<StationClock::time_point> since =
            run->resultAt ? run->resultAt : run->cancelAt;
        if (since && now - *since >= settings.endGrace) {
            run->killed = true;
            run->process->kill();
        }
    }
}

std::optional<StationClock::time_point> Station::Impl::nextDeadline(
    StationClock::time_point now, StationClock::time_point nextTick) const {
    std::optional<StationClock::time_point> next;
    auto consider = [&next](StationClock::time_point t) {
        if (!next || t < *next) {
            next = t;
        }
    };
    if (settings.tick.count() > 0) {
        consider(nextTick);
    }
    for (const BoardSlot& slot : boards) {
        if (!stopping &&
            (slot.phase == BoardPhase::WAIT_PORT || slot.phase == BoardPhase::WAIT_GONE)) {
            consider(std::max(now, nextPortPoll));
        }
        const ChildRun* run = slot.run.get();
        if (run == nullptr || run->killed) {
            continue;
        }
        if (!run->reported && !run->cancelAt) {
            consider(run->lastHeard + settings.silenceLimit);
        }
        if (run->resultAt) {
            consider(*run->resultAt + settings.endGrace);
        } else if (run->cancelAt) {
            consider(*run->cancelAt + settings.endGrace);
        }
    }
    return next;
}

}  // namespace tarnlink
