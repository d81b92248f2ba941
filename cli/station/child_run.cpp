#include "cli/station/child_run.h"

namespace tarnlink {

namespace {

// Longer than any event; a longer line is garbage and is cut into pieces of this size.
constexpr size_t MAX_LINE = 64 * 1024;

void readLines(ChildRun* run, bool errors, StationMailbox& mailbox) {
    ChildProcess& process = *run->process;
    const StationMessage::Kind kind =
        errors ? StationMessage::ERROR_LINE : StationMessage::OUTPUT_LINE;
    std::string pending;
    char chunk[4096];
    for (;;) {
        const size_t got = errors ? process.readErrors(chunk, sizeof chunk)
                                  : process.readOutput(chunk, sizeof chunk);
        if (got == 0) {
            break;
        }
        pending.append(chunk, got);
        size_t start = 0;
        for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
            size_t length = end - start;
            if (length > 0 && pending[end - 1] == '\r') {
                --length;
            }
            mailbox.post({kind, run->id, run->board, pending.substr(start, length), {}});
        }
        pending.erase(0, start);
        if (pending.size() > MAX_LINE) {
            mailbox.post({kind, run->id, run->board, pending, {}});
            pending.clear();
        }
    }
    if (!pending.empty()) {
        mailbox.post({kind, run->id, run->board, pending, {}});
    }
    if (!errors) {
        // The output ends when the child does (or closes it); then wait for its end.
        mailbox.post({StationMessage::ENDED, run->id, run->board, {}, process.wait()});
    }
}

}  // namespace

void takeErrorLines(std::deque<StationMessage>& from, uint64_t run,
                    std::deque<StationMessage>& into) {
    for (auto it = from.begin(); it != from.end();) {
        if (it->run == run && it->kind == StationMessage::ERROR_LINE) {
            into.push_back(std::move(*it));
            it = from.erase(it);
        } else {
            ++it;
        }
    }
}

void StationMailbox::post(StationMessage message) {
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(std::move(message));
    }
    m_wake.notify_one();
}

void StationMailbox::takeAll(std::deque<StationMessage>& into,
                             std::optional<StationClock::time_point> deadline) {
    std::unique_lock lock(m_mutex);
    auto ready = [this] { return !m_messages.empty(); };
    if (deadline) {
        m_wake.wait_until(lock, *deadline, ready);
    } else {
        m_wake.wait(lock, ready);
    }
    into.swap(m_messages);
}

void StationMailbox::takeErrorLines(uint64_t run, std::deque<StationMessage>& into) {
    std::lock_guard lock(m_mutex);
    tarnlink::takeErrorLines(m_messages, run, into);
}

void ChildRun::startReaders(StationMailbox& mailbox) {
    outputReader = std::thread([this, &mailbox] { readLines(this, false, mailbox); });
    errorReader = std::thread([this, &mailbox] { readLines(this, true, mailbox); });
}

void ChildRun::joinReaders() {
    if (outputReader.joinable()) {
        outputReader.join();
    }
    if (errorReader.joinable()) {
        errorReader.join();
    }
}

void ChildRun::cancel(StationClock::time_point now) {
    process->writeInput("cancel\n");
    cancelAt = now;
}

}  // namespace tarnlink
