#pragma once
// A notification target that records every status text, progress value and result, with
// the time it came, and lets a test wait for the end of a transfer.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "transfer/notifications.h"

namespace tarnlink::test {

class NotificationRecorder : public NotificationTarget {
  public:
    using Clock = std::chrono::steady_clock;

    void showStatus(const char* text) override;
    void setProgress(uint8_t position) override;
    void postTransferDone(uint8_t result) override;

    std::vector<std::string> statuses() const;
    std::vector<int> progress() const;
    std::vector<uint8_t> results() const;
    /// When each result came, in the order of results().
    std::vector<Clock::time_point> resultTimes() const;

    /// Waits up to `timeoutMs` until `count` results have come; the `count`-th, or none.
    std::optional<uint8_t> waitForResult(int timeoutMs, size_t count = 1) const;
    /// Waits up to `timeoutMs` until a status text equal to `text` has come.
    bool waitForStatus(const std::string& text, int timeoutMs) const;

  private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_statuses;
    std::vector<int> m_progress;
    std::vector<uint8_t> m_results;
    std::vector<Clock::time_point> m_resultTimes;
};

}  // namespace tarnlink::test
