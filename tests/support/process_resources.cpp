#include "tests/support/process_resources.h"

#include <chrono>
#include <filesystem>
#include <thread>

namespace tarnlink::test {

std::vector<std::string> openFileDescriptors() {
    std::vector<std::string> targets;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        std::error_code linkError;
        const auto target = std::filesystem::read_symlink(entry.path(), linkError);
        // The directory iterator's own descriptor is gone by the time we read its link.
        if (!linkError) {
            targets.push_back(entry.path().filename().string() + " -> " + target.string());
        }
    }
    return targets;
}

int threadCount() {
    int count = 0;
    std::error_code error;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task", error)) {
        ++count;
    }
    return count;
}

int baselineThreadCount() {
    std::thread([] {}).join();
    // The joined thread leaves /proc/self/task a moment after join returns; counted, it
    // would make the baseline one too high. Take the count once it has held still.
    int count = threadCount();
    for (int still = 0, looks = 0; still < 3 && looks < 100; ++looks) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const int now = threadCount();
        still = now == count ? still + 1 : 0;
        count = now;
    }
    return count;
}

int waitForThreadCount(int expected, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int count = threadCount();
    while (count > expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        count = threadCount();
    }
    return count;
}

}  // namespace tarnlink::test
