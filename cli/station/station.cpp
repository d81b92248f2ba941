#include "cli/station/station.h"

#include "cli/station/station_impl.h"

namespace tarnlink {

Station::Impl::Impl(StationSettings s, StationListener& l) : settings(std::move(s)), listener(l) {
    boards.resize(settings.boards.size());
}

Station::Impl::~Impl() {
    killAll();
    for (BoardSlot& slot : boards) {
        if (slot.run) {
            slot.run->joinReaders();
        }
    }
}

void Station::Impl::killAll() {
    std::lock_guard lock(runsMutex);
    for (BoardSlot& slot : boards) {
        if (slot.run && slot.run->process) {
            slot.run->process->kill();
        }
    }
}

Station::Station(StationSettings settings, StationListener& listener)
    : m_impl(std::make_unique<Impl>(std::move(settings), listener)) {}

Station::~Station() = default;

int Station::run() {
    return m_impl->run();
}

void Station::requestStop() {
    m_impl->stopRequested.store(true);
    m_impl->mailbox.post({StationMessage::STOP, 0, 0, {}, {}});
}

void Station::killAll() {
    m_impl->killAll();
}

}  // namespace tarnlink
