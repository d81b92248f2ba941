#include "tests/support/notification_recorder.h"

#include <algorithm>

namespace tarnlink::test {

void NotificationRecorder::showStatus(const char* text) {
    {
        std::lock_guard lock(m_mutex);
        m_statuses.emplace_back(text);
    }
    m_changed.notify_all();
}

void NotificationRecorder::setProgress(uint8_t position) {
    {
        std::lock_guard lock(m_mutex);
        m_progress.push_back(position);
    }
    m_changed.notify_all();
}

void NotificationRecorder::postTransferDone(uint8_t result) {
    {
        std::lock_guard lock(m_mutex);
        m_results.push_back(result);
        m_resultTimes.push_back(Clock::now());
    }
    m_changed.notify_all();
}

std::vector<std::string> NotificationRecorder::statuses() const {
    std::lock_guard lock(m_mutex);
    return m_statuses;
}

std::vector<int> NotificationRecorder::progress() const {
    std::lock_guard lock(m_mutex);
    return m_progress;
}

std::vector<uint8_t> NotificationRecorder::results() const {
    std::lock_guard lock(m_mutex);
    return m_results;
}

std::vector<NotificationRecorder::Clock::time_point> NotificationRecorder::resultTimes() const {
    std::lock_guard lock(m_mutex);
    return m_resultTimes;
}

std::optional<uint8_t> NotificationRecorder::waitForResult(int timeoutMs, size_t count) const {
    std::unique_lock lock(m_mutex);
    if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return m_results.size() >= count; })) {
        return std::nullopt;
    }
    return m_results[count - 1];
}

bool NotificationRecorder::waitForStatus(const std::string& text, int timeoutMs) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return std::find(m_statuses.begin(), m_statuses.end(), text) != m_statuses.end();
    });
}

}  // namespace tarnlink::test
